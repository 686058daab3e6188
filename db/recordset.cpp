#include "db/recordset.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "db/error.h"
#include "db/text.h"

namespace tallyvet::db {

// Storage format of one row: a 4-byte payload length, then per column a tag byte
// (0 null, 1 integer, 2 double, 3 text) followed by 8 bytes, or by a 4-byte length and the text.
namespace {
enum Tag : char { kNull = 0, kInt = 1, kDouble = 2, kText = 3 };

template <class T>
T Get(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

constexpr std::size_t kIoChunk = 1u << 20;
// A memory block takes a new row only with this much room left; a longer row grows the block.
constexpr std::size_t kRowReserve = 4096;

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

struct Recordset::Impl {
  std::unique_ptr<RowSource> source;
  std::vector<ColumnInfo> columns;
  std::size_t threshold;
  std::string statement;
  bool closed = false;

  // Stored rows: [0, mem_rows) in memory blocks, [mem_rows, stored_rows) in the spill file. Each
  // stored row is its 4-byte length followed by its bytes. Blocks keep rows in place as they
  // grow, so a replayed row is read where it lies, without a copy.
  std::vector<std::string> blocks;
  std::size_t mem_bytes = 0;
  std::size_t mem_rows = 0;
  std::size_t stored_rows = 0;
  bool source_done = false;
  std::unique_ptr<std::FILE, FileCloser> file;
  std::uint64_t file_flushed = 0;  // bytes on disk
  std::string pending;             // stored rows not yet on disk

  // Cursor.
  std::size_t pos = 0;
  bool eof = false;
  bool empty = false;
  std::size_t block_read = 0;  // replay position in the memory blocks
  std::size_t block_off = 0;
  std::uint64_t file_read = 0;  // file offset of rbuf's start
  std::string rbuf;             // replay read-ahead
  std::size_t rbuf_pos = 0;
  const char* cur = nullptr;                // the current row's bytes; valid until the next move
  mutable std::vector<std::uint32_t> offs;  // start of each column in `cur`, built on first read
  mutable bool indexed = false;

  [[noreturn]] void Fail(const std::string& what) const { throw Error(what, statement); }

  void CheckOpen() const {
    if (closed) Fail("the recordset is closed");
  }

  const char* ColumnAt(std::size_t i) const {
    if (!indexed) {
      offs.resize(columns.size());
      std::size_t p = 0;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        offs[c] = static_cast<std::uint32_t>(p);
        switch (cur[p]) {
          case kInt:
          case kDouble:
            p += 9;
            break;
          case kText:
            p += 5 + Get<std::uint32_t>(cur + p + 1);
            break;
          default:
            p += 1;
        }
      }
      indexed = true;
    }
    return cur + offs[i];
  }

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
    pending.clear();
  }

  // Fetches the next row from the source straight into storage, behind a 4-byte length; false
  // at the end. Rows go to memory blocks until the threshold, then to the spill file's buffer.
  bool Fetch() {
    std::string* to = &pending;
    if (!file) {
      if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < kRowReserve) {
        blocks.emplace_back();
        blocks.back().reserve(kIoChunk);
      }
      to = &blocks.back();
    } else if (pending.size() >= kIoChunk) {
      Flush();  // the row it holds last is no longer current
    }
    const std::size_t start = to->size();
    to->append(4, '\0');
    RowWriter w(*to);
    bool got = false;
    try {
      got = source->Next(w);
    } catch (...) {
      to->resize(start);
      throw;
    }
    if (!got) {
      to->resize(start);
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
      }
    }
    return true;
  }

  // Makes at least n bytes of the spill file available in rbuf from rbuf_pos.
  void Fill(std::size_t n) {
    if (rbuf.size() - rbuf_pos >= n) return;
    rbuf.erase(0, rbuf_pos);
    file_read += rbuf_pos;
    rbuf_pos = 0;
    const std::size_t want = std::max(n, kIoChunk);
    std::size_t have = rbuf.size();
    rbuf.resize(want);
    while (have < n) {
      const ssize_t r = ::pread(fileno(file.get()), rbuf.data() + have, want - have,
                                static_cast<off_t>(file_read + have));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) Fail("the recordset's temporary file ended early");
      have += static_cast<std::size_t>(r);
    }
    rbuf.resize(have);
  }

  // Loads row `pos`, which is either the next stored row or the next one from the source.
  void Load() {
    indexed = false;
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
  impl_->Load();
  impl_->empty = impl_->eof;
  // A column without a declared type takes its type from the first row's value.
  for (std::size_t i = 0; i < impl_->columns.size(); ++i) {
    auto& c = impl_->columns[i];
    if (c.type != 0) continue;
    c.type = adVarChar;
    if (!impl_->eof) {
      const char tag = *impl_->ColumnAt(i);
      if (tag == kInt) c.type = adInteger;
      if (tag == kDouble) c.type = adDouble;
    }
  }
}

Recordset::~Recordset() = default;

std::unique_ptr<Recordset> Recordset::FromRows(std::vector<ColumnInfo> columns,
                                               std::vector<std::vector<Value>> rows) {
  return std::make_unique<Recordset>(
      std::make_unique<MemoryRows>(std::move(columns), std::move(rows)));
}

bool Recordset::Eof() const {
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
  m.rbuf.clear();
  m.rbuf_pos = 0;
  m.Load();
}

void Recordset::MoveNext() {
  impl_->CheckOpen();
  if (impl_->eof) impl_->Fail("MoveNext past the end of the result (EOF is true)");
  ++impl_->pos;
  impl_->Load();
}

void Recordset::Close() {
  impl_->source.reset();
  impl_->blocks.clear();
  impl_->pending = std::string();
  impl_->rbuf = std::string();
  impl_->file.reset();
  impl_->closed = true;
}

std::size_t Recordset::SpilledRows() const {
  return impl_->stored_rows - impl_->mem_rows;
}

Field FieldList::operator[](std::size_t index) const {
  if (index >= Count()) {
    rs_->impl_->Fail("no field at index " + std::to_string(index) + " (the result has " +
                     std::to_string(Count()) + " fields)");
  }
  return Field(rs_, index);
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

db::Value Field::Value() const {
  const auto& m = *rs_->impl_;
  m.CheckOpen();
  if (m.eof) m.Fail("no current row: the result is at its end (EOF), reading " + Name());
  const char* p = m.ColumnAt(index_);
  switch (*p) {
    case kInt:
      return db::Value(Get<std::int64_t>(p + 1));
    case kDouble:
      return db::Value(Get<double>(p + 1));
    case kText:
      return db::Value(std::string_view(p + 5, Get<std::uint32_t>(p + 1)));
    default:
      return db::Value();
  }
}

}  // namespace tallyvet::db
