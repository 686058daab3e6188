// A recordset shaped like the host's ADO recordset: a client-side cursor over one result.
//
// Rows are fetched from their source once, in the statement's order. Every fetched row is kept,
// so MoveFirst() replays the result without running the statement again; rows beyond a memory
// threshold are kept in an anonymous temporary file, so memory stays bounded for large results.
//
// Lifetime: a Field, or a reference returned by Fields(), is valid as long as the recordset;
// a Field always reads the row the cursor is on at the time of the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace tallyvet::db {

// ADO type codes reported by Field::Type(). The engine tests for 200 and 129 (character data).
enum AdoType : int {
  adInteger = 3,
  adDouble = 5,
  adNumeric = 131,
  adChar = 129,
  adVarChar = 200,
};

struct ColumnInfo {
  std::string name;  // as the host reports it: unquoted names and expressions upper-cased
  int type = 0;      // AdoType; 0 = take it from the values of the first row (a recordset
                     // without rows leaves it 0)
};

// Growable bytes that, unlike std::string, never initialise or terminate what they hand out:
// rows are written straight into the storage that keeps them.
class ByteBuffer {
 public:
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t room() const { return cap_ - size_; }
  std::size_t capacity() const { return cap_; }
  void reserve(std::size_t n);
  // n more bytes at the end, uninitialised; may move the buffer.
  char* Extend(std::size_t n) {
    if (n > cap_ - size_) reserve(size_ + n);
    char* p = data_.get() + size_;
    size_ += n;
    return p;
  }
  void Truncate(std::size_t n) { size_ = n; }
  // Drops the first n bytes.
  void Consume(std::size_t n);

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

// A stored row: one fixed-size slot per column, then the texts. A slot is a tag byte and 8
// bytes: the integer or double, or for a text its length and its offset from the row's start
// (both 32-bit). Fixed slots let a field be read without walking the columns before it.
namespace row_format {
enum Tag : char { kNull = 0, kInt = 1, kDouble = 2, kText = 3 };
constexpr std::size_t kSlot = 9;
// A value stored at any byte offset.
template <class T>
T Get(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
}  // namespace row_format

// Writes one row, column by column, in a recordset's storage; handed to RowSource::Next.
class RowWriter {
 public:
  // The row's slots are at `row` in `buffer`, already allocated for `columns` columns.
  RowWriter(ByteBuffer& buffer, std::size_t row, std::size_t columns)
      : buf_(buffer), row_(row), columns_(columns) {}
  void Null() { Slot(row_format::kNull); }
  void Integer(std::int64_t v) { std::memcpy(Slot(row_format::kInt), &v, sizeof v); }
  void Double(double v) { std::memcpy(Slot(row_format::kDouble), &v, sizeof v); }
  void Text(std::string_view v) {
    if (v.size() > UINT32_MAX - (buf_.size() - row_)) RowTooLong();
    const auto n = static_cast<std::uint32_t>(v.size());
    const auto at = static_cast<std::uint32_t>(buf_.size() - row_);
    if (n != 0) std::memcpy(buf_.Extend(n), v.data(), n);  // first: it may move the buffer
    char* s = Slot(row_format::kText);
    std::memcpy(s, &n, sizeof n);
    std::memcpy(s + sizeof n, &at, sizeof at);
  }
  void Add(const Value& v);
  // Columns the source left unwritten read as null.
  void Finish() {
    while (column_ < columns_) Null();
  }

 private:
  char* Slot(char tag) {
    if (column_ == columns_) TooManyValues();
    char* s = buf_.data() + row_ + row_format::kSlot * column_++;
    *s = tag;
    return s + 1;
  }
  [[noreturn]] void TooManyValues() const;
  [[noreturn]] void RowTooLong() const;
  ByteBuffer& buf_;
  std::size_t row_;
  std::size_t columns_;
  std::size_t column_ = 0;
};

// Where a recordset's rows come from: a SQLite statement, or rows held in memory.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Writes the next row's values, one per column in order; false at the end.
  // Throws Error when the database fails mid-result.
  virtual bool Next(RowWriter& row) = 0;
};

class Recordset;

class Field {
 public:
  Field(const Recordset* rs, std::size_t index) : rs_(rs), index_(index) {}
  const std::string& Name() const;
  int Type() const;
  // The value in the current row. Throws Error when the cursor is at BOF or EOF.
  db::Value Value() const;

 private:
  [[noreturn]] void NoCurrentRow() const;
  const Recordset* rs_;
  std::size_t index_;
};

class FieldList {
 public:
  explicit FieldList(const Recordset* rs) : rs_(rs) {}
  std::size_t Count() const { return count_; }
  // By zero-based index; throws Error when out of range.
  Field operator[](std::size_t index) const {
    if (index >= count_) OutOfRange(index);
    return Field(rs_, index);
  }
  Field operator[](int index) const { return (*this)[static_cast<std::size_t>(index)]; }
  // By column name, case-insensitively; throws Error naming the column when absent.
  Field operator[](std::string_view name) const;
  Field operator[](const char* name) const { return (*this)[std::string_view(name)]; }
  Field operator[](const std::string& name) const { return (*this)[std::string_view(name)]; }

 private:
  friend class Recordset;
  [[noreturn]] void OutOfRange(std::size_t index) const;
  const Recordset* rs_;
  std::size_t count_ = 0;
};

class Recordset {
 public:
  // Default memory kept before rows go to the temporary file.
  static constexpr std::size_t kDefaultSpillThreshold = 32u << 20;

  // Positions on the first row (fetching it); EOF and BOF are both true for an empty result.
  explicit Recordset(std::unique_ptr<RowSource> source,
                     std::size_t spill_threshold = kDefaultSpillThreshold,
                     std::string statement = {});
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // An in-memory recordset, for tests and for results built by the program itself.
  static std::unique_ptr<Recordset> FromRows(std::vector<ColumnInfo> columns,
                                             std::vector<std::vector<Value>> rows);

  // Named Eof/Bof: EOF is a macro of the C library.
  bool Eof() const { return row_ == nullptr && AtEndOrClosed(); }
  bool Bof() const;
  void MoveFirst();
  // Throws Error at EOF.
  void MoveNext();
  // Releases the source and the stored rows; further moves and reads throw.
  void Close();
  const FieldList& Fields() const { return fields_; }

  // Rows kept in the temporary file so far (0 while everything fits in memory).
  std::size_t SpilledRows() const;

  // Puts wrap(source) in the place of the source the rows still come from, so that a decorator
  // sees every later fetch and the source's end (the statement trace). Returns false, calling
  // nothing, when the source has ended already (every row is fetched) or the recordset is closed.
  using SourceWrapper = std::function<std::unique_ptr<RowSource>(std::unique_ptr<RowSource>)>;
  bool WrapSource(const SourceWrapper& wrap);

 private:
  friend class Field;
  friend class FieldList;
  struct Impl;
  void LoadRow();
  bool AtEndOrClosed() const;
  std::unique_ptr<Impl> impl_;
  FieldList fields_;
  // The current row's stored bytes, kept here so that fields read it inline; null at EOF and
  // once closed.
  const char* row_ = nullptr;
};

// Inline: the engine reads every field of every row through here.
inline db::Value Field::Value() const {
  using namespace row_format;
  const char* row = rs_->row_;
  if (row == nullptr) NoCurrentRow();
  const char* p = row + kSlot * index_;
  switch (*p) {
    case kInt:
      return db::Value(Get<std::int64_t>(p + 1));
    case kDouble:
      return db::Value(Get<double>(p + 1));
    case kText:
      return db::Value(
          std::string_view(row + Get<std::uint32_t>(p + 5), Get<std::uint32_t>(p + 1)));
    default:
      return db::Value();
  }
}

}  // namespace tallyvet::db
