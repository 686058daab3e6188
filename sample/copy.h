// Copying a built account set into another host database: a server that the program reaches
// through its connection. The sample is generated once, into an embedded file, and copied table
// by table, so that a server holds exactly the same account set (same rows, same planted faults,
// same manifest) without a second copy of the generator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "db/odbc_connection.h"
#include "db/statement_trace.h"
#include "db/value.h"

namespace tallyvet::sample {

struct CopyOptions {
  // The schema the tables go into, named after the account-set owner (the host qualifies
  // Business and AccountPeriod with it). Must be a plain identifier.
  std::string schema;
  // Drop an existing schema of that name first; otherwise an existing one is refused.
  bool replace = false;
  // Rows per INSERT statement.
  std::size_t rowsPerStatement = 500;
  // When given, every statement of the copy (and its transaction) gets a line there, on the
  // trace's connection `traceConnection`.
  db::StatementTrace* trace = nullptr;
  int traceConnection = 0;
  // Told each table's name and row count once it is copied.
  std::function<void(const std::string& table, std::int64_t rows)> copied;
};

// The DDL type a server takes for a column of the embedded schema.
//   INTEGER -> BIGINT, REAL -> DOUBLE PRECISION, anything else -> VARCHAR(4000)
std::string ServerColumnType(const std::string& embeddedType);

// One value as a SQL literal: NULL, an integer, a double that reads back to the same bits
// (%.17g), or text in single quotes with quotes doubled.
std::string SqlLiteral(const db::Value& value);

// Runs one statement of the copy on the target, as written (they are the copy's own SQL, not
// the host's: no translation applies).
using ExecuteStatement = std::function<void(const std::string& sql)>;

// Copies every table and index of the account-set file `source` into `options.schema` through
// `execute`: CREATE SCHEMA, CREATE TABLE (columns, NOT NULL, defaults, primary keys), the rows,
// then the indexes. ALL_SOURCE goes into the schema as a table, as the host's dictionary shows
// it to the owner. The caller decides the
// transaction (a copy that fails half-way should be rolled back, not left as an account set).
// Throws db::Error from either database, std::runtime_error for a schema that exists already
// (without `replace`) or a schema name that is not a plain identifier.
void CopyAccountSet(const std::filesystem::path& source, const ExecuteStatement& execute,
                    const CopyOptions& options);

// CopyAccountSet onto a server through its ODBC connection, as one transaction: committed when
// the copy is whole, rolled back when anything fails, so that the server is then as it was (the
// error is thrown on). Leaves the connection's autocommit off.
void CopyAccountSetToServer(const std::filesystem::path& source, db::OdbcConnection& server,
                            const CopyOptions& options);

}  // namespace tallyvet::sample
