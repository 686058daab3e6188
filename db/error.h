// Errors raised by the host database: the database's own message and the statement it refused.
#pragma once

#include <stdexcept>
#include <string>

namespace tallyvet::db {

// Thrown by every failing call on a connection or recordset. what() reads
// "<message>" or "<message> [in: <statement>]", so that a log line alone says what failed and
// where.
class Error : public std::runtime_error {
 public:
  explicit Error(std::string message, std::string statement = {});

  const std::string& message() const { return message_; }
  const std::string& statement() const { return statement_; }

 private:
  std::string message_;
  std::string statement_;
};

}  // namespace tallyvet::db
