// A small filesystem that a test fills, standing in for a full disk: a tmpfs of a few megabytes
// mounted on a new folder of its own under the temporary folder, which other users may reach (the
// PostgreSQL server's user, for a tablespace on it). Mounting needs root; without it the test
// skips, saying why.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tallyvet::testing {

class SmallDisk {
 public:
  // Mounts `megabytes` of tmpfs on a new folder. Mounted() says whether it worked and Why() why
  // not.
  explicit SmallDisk(int megabytes) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tallyvet-disk-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    std::filesystem::permissions(
        folder_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                     std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                     std::filesystem::perms::others_exec);
    const std::string options = "size=" + std::to_string(megabytes) + "m,mode=0777";
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      why_ = "cannot mount a small filesystem for a full disk (" +
             std::string(std::strerror(errno)) + "); the test needs root";
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }
  const std::filesystem::path& path() const { return folder_; }

  // Writes a filler file until the filesystem is full, then gives back `freeBytes` of it, so
  // that the next writes beyond that much fail with "no space left".
  void FillLeaving(std::size_t freeBytes) {
    const std::filesystem::path filler = folder_ / "filler";
    {
      std::ofstream out(filler, std::ios::binary);
      const std::vector<char> block(64 * 1024, 'x');
      while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
      }
    }
    const auto size = std::filesystem::file_size(filler);
    std::filesystem::resize_file(filler, size > freeBytes ? size - freeBytes : 0);
  }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace tallyvet::testing
