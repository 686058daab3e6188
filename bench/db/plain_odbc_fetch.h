// The bare work a recordset over ODBC rests on: one statement run through the driver manager
// with plain calls, every column bound to a C variable of its type and every row fetched, blocks
// of `block_rows` rows at a time. The yardstick of the ODBC benchmarks.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace tallyvet::bench {

// One connection made with plain calls; throws std::runtime_error.
class PlainOdbc {
 public:
  explicit PlainOdbc(const std::string& connection_string) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string.c_str()));
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, text, SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT))) {
      throw std::runtime_error("cannot connect: " + connection_string);
    }
  }
  ~PlainOdbc() {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  PlainOdbc(const PlainOdbc&) = delete;
  PlainOdbc& operator=(const PlainOdbc&) = delete;

  // Runs `sql` (already in the data source's dialect) and fetches every row; returns the rows.
  std::int64_t FetchAll(const std::string& sql, SQLULEN block_rows = 256) const {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    const std::unique_ptr<void, void (*)(void*)> release(
        stmt, [](void* h) { SQLFreeHandle(SQL_HANDLE_STMT, h); });
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str()));
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, text, SQL_NTS))) {
      throw std::runtime_error("statement failed: " + sql);
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    struct Column {
      SQLSMALLINT c_type;
      SQLLEN width;
      std::vector<char> data;
      std::vector<SQLLEN> length;
    };
    std::vector<Column> bound;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      SQLSMALLINT type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable);
      Column col;
      if (type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_BIGINT) {
        col.c_type = SQL_C_SBIGINT;
        col.width = 8;
      } else if (type == SQL_DOUBLE || type == SQL_FLOAT || type == SQL_REAL ||
                 type == SQL_NUMERIC || type == SQL_DECIMAL) {
        col.c_type = SQL_C_DOUBLE;
        col.width = 8;
      } else {
        col.c_type = SQL_C_CHAR;
        col.width = static_cast<SQLLEN>(std::min<SQLULEN>(size == 0 ? 256 : size, 256)) + 1;
      }
      col.data.resize(static_cast<std::size_t>(col.width) * block_rows);
      col.length.resize(block_rows);
      bound.push_back(std::move(col));
      SQLBindCol(stmt, c, bound.back().c_type, bound.back().data.data(), bound.back().width,
                 bound.back().length.data());
    }
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block_rows), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    std::int64_t rows = 0;
    double sum = 0;
    std::size_t bytes = 0;
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
      for (SQLULEN r = 0; r < fetched; ++r) {
        for (const Column& col : bound) {
          const SQLLEN n = col.length[r];
          if (n == SQL_NULL_DATA) continue;
          const char* p = col.data.data() + static_cast<std::size_t>(col.width) * r;
          if (col.c_type == SQL_C_SBIGINT) {
            sum += static_cast<double>(*reinterpret_cast<const std::int64_t*>(p));
          } else if (col.c_type == SQL_C_DOUBLE) {
            sum += *reinterpret_cast<const double*>(p);
          } else {
            bytes += std::string(p, static_cast<std::size_t>(std::min(n, col.width - 1))).size();
          }
        }
      }
      rows += static_cast<std::int64_t>(fetched);
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(bytes);
    return rows;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

}  // namespace tallyvet::bench
