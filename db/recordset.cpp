#include "db/recordset.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "db/error.h"
#include "db/text.h"

namespace tallyvet::db {

namespace {
using namespace row_format;

constexpr std::size_t kIoChunk = 1u << 20;
// A memory block takes a new row only with this much room left; a longer row grows the block.
constexpr std::size_t kRowReserve = 4096;

// Storage blocks of kIoChunk bytes that recordsets done with them leave for the next ones. A
// block fresh from the system faults in every page on its first rows, which costs about as much as
// writing the rows themselves; one kept here is written straight into pages already mapped. At
// most a spill threshold's worth is kept, so that what stays after the recordsets are gone is no
// more than one of them may hold.
class BlockPool {
 public:
  static BlockPool& Shared() {
    // Never destroyed: a recordset that outlives static destruction still gives its blocks back.
    static BlockPool* const pool = new BlockPool;
    return *pool;
  }

  // An empty buffer with room for kIoChunk bytes.
  ByteBuffer Take() {
    {
      const std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        ByteBuffer block = std::move(free_.back());
        free_.pop_back();
        return block;
      }
    }
    ByteBuffer block;
    block.reserve(kIoChunk);
    return block;
  }

  // Keeps a whole chunk while the pool has room; anything else (a block a long row grew, one
  // beyond the bound) is freed.
  void Give(ByteBuffer block) {
    if (block.capacity() != kIoChunk) return;
    block.Truncate(0);
    const std::lock_guard lock(mutex_);
    if (free_.size() < kMaxBlocks) free_.push_back(std::move(block));
  }

 private:
  static constexpr std::size_t kMaxBlocks = Recordset::kDefaultSpillThreshold / kIoChunk;
  std::mutex mutex_;
  std::vector<ByteBuffer> free_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class MemoryRows final : public RowSource {
 public:
  MemoryRows(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next(RowWriter& row) override {
    if (next_ >= rows_.size()) return false;
    const auto& r = rows_[next_++];
    for (std::size_t i = 0; i < columns_.size(); ++i) row.Add(i < r.size() ? r[i] : Value());
    return true;
  }

 private:
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<Value>> rows_;
  std::size_t next_ = 0;
};

}  // namespace

void ByteBuffer::reserve(std::size_t n) {
  if (n <= cap_) return;
  const std::size_t cap = std::max(n, cap_ + cap_ / 2);
  auto bigger = std::make_unique_for_overwrite<char[]>(cap);
  if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  cap_ = cap;
}

void ByteBuffer::Consume(std::size_t n) {
  if (n < size_) std::memmove(data_.get(), data_.get() + n, size_ - n);
  size_ = n < size_ ? size_ - n : 0;
}

void RowWriter::Add(const Value& v) {
  if (v.IsNull()) {
    Null();
  } else if (v.IsInteger()) {
    Integer(v.AsInteger());
  } else if (v.IsDouble()) {
    Double(v.AsDouble());
  } else {
    Text(v.Text());
  }
}

void RowWriter::RowTooLong() const {
  throw Error("a row of the result holds more than 4 GiB of text");
}

void RowWriter::TooManyValues() const {
  throw Error("a row source gave more values than its " + std::to_string(columns_) + " columns");
}

struct Recordset::Impl {
  std::unique_ptr<RowSource> source;
  std::vector<ColumnInfo> columns;
  std::size_t threshold;
  std::string statement;
  bool closed = false;

  // Stored rows: [0, mem_rows) in memory blocks, [mem_rows, stored_rows) in the spill file. Each
  // stored row is its 4-byte length followed by its bytes. Rows are written where they are kept
  // and replayed where they lie, without a copy.
  std::vector<ByteBuffer> blocks;
  std::size_t mem_bytes = 0;
  std::size_t mem_rows = 0;
  std::size_t stored_rows = 0;
  bool source_done = false;
  std::unique_ptr<std::FILE, FileCloser> file;
  std::uint64_t file_flushed = 0;  // bytes on disk
  ByteBuffer pending;              // stored rows not yet on disk

  // Cursor. `cur` is null at EOF and once closed, so a read checks one pointer.
  std::size_t pos = 0;
  bool eof = false;
  bool empty = false;
  std::size_t block_read = 0;  // replay position in the memory blocks
  std::size_t block_off = 0;
  std::uint64_t file_read = 0;  // file offset of rbuf's start
  ByteBuffer rbuf;              // replay read-ahead
  std::size_t rbuf_pos = 0;
  const char* cur = nullptr;  // the current row's bytes; valid until the next move

  ~Impl() { ReleaseStorage(); }

  // Gives the storage blocks back to the pool.
  void ReleaseStorage() {
    BlockPool& pool = BlockPool::Shared();
    for (ByteBuffer& block : blocks) pool.Give(std::move(block));
    blocks.clear();
    pool.Give(std::move(pending));
    pool.Give(std::move(rbuf));
    pending = ByteBuffer();
    rbuf = ByteBuffer();
  }

  [[noreturn]] void Fail(const std::string& what) const { throw Error(what, statement); }

  void CheckOpen() const {
    if (closed) Fail("the recordset is closed");
  }

  const char* ColumnAt(std::size_t i) const { return cur + kSlot * i; }

  void WriteFile(const char* data, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::pwrite(fileno(file.get()), data, n, static_cast<off_t>(file_flushed));
      if (w < 0) {
        if (errno == EINTR) continue;
        Fail(std::string("cannot write the recordset's temporary file: ") + std::strerror(errno));
      }
      data += w;
      n -= static_cast<std::size_t>(w);
      file_flushed += static_cast<std::uint64_t>(w);
    }
  }

  void Flush() {
    if (pending.empty()) return;
    WriteFile(pending.data(), pending.size());
    pending.Truncate(0);
  }

  // Fetches the next row from the source straight into storage, behind a 4-byte length; false
  // at the end. Rows go to memory blocks until the threshold, then to the spill file's buffer.
  bool Fetch() {
    ByteBuffer* to = &pending;
    if (!file) {
      if (blocks.empty() || blocks.back().room() < kRowReserve) {
        blocks.push_back(BlockPool::Shared().Take());
      }
      to = &blocks.back();
    } else if (pending.size() >= kIoChunk) {
      Flush();  // the row it holds last is no longer current
    }
    const std::size_t start = to->size();
    to->Extend(4 + kSlot * columns.size());
    RowWriter w(*to, start + 4, columns.size());
    bool got = false;
    try {
      got = source->Next(w);
      if (got) w.Finish();
    } catch (...) {
      to->Truncate(start);
      throw;
    }
    if (!got) {
      to->Truncate(start);
      return false;
    }
    const auto len = static_cast<std::uint32_t>(to->size() - start - 4);
    std::memcpy(to->data() + start, &len, sizeof len);
    cur = to->data() + start + 4;
    ++stored_rows;
    if (!file) {
      ++mem_rows;
      mem_bytes += len + 4;
      if (mem_bytes >= threshold) {
        file.reset(std::tmpfile());
        if (!file) Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
        pending = BlockPool::Shared().Take();
      }
    }
    return true;
  }

  // Makes at least n bytes of the spill file available in rbuf from rbuf_pos.
  void Fill(std::size_t n) {
    if (rbuf.size() - rbuf_pos >= n) return;
    if (rbuf.capacity() == 0) rbuf = BlockPool::Shared().Take();
    rbuf.Consume(rbuf_pos);
    file_read += rbuf_pos;
    rbuf_pos = 0;
    const std::size_t want = std::max(n, kIoChunk);
    std::size_t have = rbuf.size();
    rbuf.Extend(want - have);
    while (have < n) {
      const ssize_t r = ::pread(fileno(file.get()), rbuf.data() + have, want - have,
                                static_cast<off_t>(file_read + have));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) Fail("the recordset's temporary file ended early");
      have += static_cast<std::size_t>(r);
    }
    rbuf.Truncate(have);
  }

  // Loads row `pos`, which is either the next stored row or the next one from the source.
  void Load() {
    if (pos < stored_rows) {
      if (pos < mem_rows) {
        if (block_off >= blocks[block_read].size()) {
          ++block_read;
          block_off = 0;
        }
        const char* p = blocks[block_read].data() + block_off;
        cur = p + 4;
        block_off += 4 + Get<std::uint32_t>(p);
      } else {
        Fill(4);
        const auto len = Get<std::uint32_t>(rbuf.data() + rbuf_pos);
        Fill(4 + len);
        cur = rbuf.data() + rbuf_pos + 4;
        rbuf_pos += 4 + len;
      }
      return;
    }
    if (!source_done) {
      if (Fetch()) return;
      source_done = true;
      source.reset();  // finishes the statement: no lock is held past the last row
    }
    cur = nullptr;
    eof = true;
  }
};

Recordset::Recordset(std::unique_ptr<RowSource> source, std::size_t spill_threshold,
                     std::string statement)
    : impl_(std::make_unique<Impl>()), fields_(this) {
  impl_->columns = source->Columns();
  fields_.count_ = impl_->columns.size();
  impl_->source = std::move(source);
  impl_->threshold = spill_threshold;
  impl_->statement = std::move(statement);
  LoadRow();
  impl_->empty = impl_->eof;
  // A column without a declared type takes its type from the first row's value; an empty
  // result has none to give and leaves it undeclared.
  for (std::size_t i = 0; i < impl_->columns.size() && !impl_->eof; ++i) {
    auto& c = impl_->columns[i];
    if (c.type != 0) continue;
    const char tag = *impl_->ColumnAt(i);
    c.type = tag == kInt ? adInteger : tag == kDouble ? adDouble : adVarChar;
  }
}

Recordset::~Recordset() = default;

void Recordset::LoadRow() {
  try {
    impl_->Load();
  } catch (...) {
    // A failed fetch may have moved the storage: no row stays current.
    impl_->cur = nullptr;
    row_ = nullptr;
    throw;
  }
  row_ = impl_->cur;
}

std::unique_ptr<Recordset> Recordset::FromRows(std::vector<ColumnInfo> columns,
                                               std::vector<std::vector<Value>> rows) {
  return std::make_unique<Recordset>(
      std::make_unique<MemoryRows>(std::move(columns), std::move(rows)));
}

bool Recordset::AtEndOrClosed() const {
  impl_->CheckOpen();
  return impl_->eof;
}

bool Recordset::Bof() const {
  impl_->CheckOpen();
  return impl_->empty;
}

void Recordset::MoveFirst() {
  impl_->CheckOpen();
  auto& m = *impl_;
  m.Flush();
  m.pos = 0;
  m.eof = false;
  m.block_read = 0;
  m.block_off = 0;
  m.file_read = 0;
  m.rbuf.Truncate(0);
  m.rbuf_pos = 0;
  LoadRow();
}

void Recordset::MoveNext() {
  impl_->CheckOpen();
  if (impl_->eof) impl_->Fail("MoveNext past the end of the result (EOF is true)");
  ++impl_->pos;
  LoadRow();
}

void Recordset::Close() {
  impl_->source.reset();
  impl_->ReleaseStorage();
  impl_->cur = nullptr;
  impl_->file.reset();
  impl_->closed = true;
  row_ = nullptr;
}

bool Recordset::WrapSource(const SourceWrapper& wrap) {
  if (!impl_->source) return false;
  impl_->source = wrap(std::move(impl_->source));
  return true;
}

std::size_t Recordset::SpilledRows() const {
  return impl_->stored_rows - impl_->mem_rows;
}

void FieldList::OutOfRange(std::size_t index) const {
  rs_->impl_->Fail("no field at index " + std::to_string(index) + " (the result has " +
                   std::to_string(Count()) + " fields)");
}

Field FieldList::operator[](std::string_view name) const {
  const auto& cols = rs_->impl_->columns;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (EqualsIgnoringAsciiCase(cols[i].name, name)) return Field(rs_, i);
  }
  rs_->impl_->Fail("no field named " + std::string(name) + " in the result");
}

const std::string& Field::Name() const {
  return rs_->impl_->columns[index_].name;
}

int Field::Type() const {
  return rs_->impl_->columns[index_].type;
}

void Field::NoCurrentRow() const {
  rs_->impl_->CheckOpen();
  rs_->impl_->Fail("no current row: the result is at its end (EOF), reading " + Name());
}

}  // namespace tallyvet::db
