#include "db/error.h"

namespace tallyvet::db {

namespace {
std::string Describe(const std::string& message, const std::string& statement) {
  if (statement.empty()) return message;
  return message + " [in: " + statement + "]";
}
}  // namespace

Error::Error(std::string message, std::string statement)
    : std::runtime_error(Describe(message, statement)),
      message_(std::move(message)),
      statement_(std::move(statement)) {}

}  // namespace tallyvet::db
