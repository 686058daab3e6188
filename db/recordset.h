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
  int type = 0;      // AdoType; 0 = take it from the values of the first row
};

// Writes one row in a recordset's storage format; handed to RowSource::Next.
// Format per column: a tag byte (0 null, 1 integer, 2 double, 3 text), then 8 bytes, or a 4-byte
// length and the text.
class RowWriter {
 public:
  explicit RowWriter(std::string& buffer) : buf_(buffer) {}
  void Null() { buf_.push_back('\0'); }
  void Integer(std::int64_t v) { Put('\1', &v, sizeof v); }
  void Double(double v) { Put('\2', &v, sizeof v); }
  void Text(std::string_view v) {
    const auto n = static_cast<std::uint32_t>(v.size());
    Put('\3', &n, sizeof n);
    buf_.append(v.data(), v.size());
  }
  void Add(const Value& v);

 private:
  void Put(char tag, const void* p, std::size_t n) {
    buf_.push_back(tag);
    buf_.append(static_cast<const char*>(p), n);
  }
  std::string& buf_;
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
  const Recordset* rs_;
  std::size_t index_;
};

class FieldList {
 public:
  explicit FieldList(const Recordset* rs) : rs_(rs) {}
  std::size_t Count() const { return count_; }
  // By zero-based index; throws Error when out of range.
  Field operator[](std::size_t index) const;
  Field operator[](int index) const { return (*this)[static_cast<std::size_t>(index)]; }
  // By column name, case-insensitively; throws Error naming the column when absent.
  Field operator[](std::string_view name) const;
  Field operator[](const char* name) const { return (*this)[std::string_view(name)]; }
  Field operator[](const std::string& name) const { return (*this)[std::string_view(name)]; }

 private:
  friend class Recordset;
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
  bool Eof() const;
  bool Bof() const;
  void MoveFirst();
  // Throws Error at EOF.
  void MoveNext();
  // Releases the source and the stored rows; further moves and reads throw.
  void Close();
  const FieldList& Fields() const { return fields_; }

  // Rows kept in the temporary file so far (0 while everything fits in memory).
  std::size_t SpilledRows() const;

 private:
  friend class Field;
  friend class FieldList;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  FieldList fields_;
};

}  // namespace tallyvet::db
