#include "shell/host_context.h"

#include <stdexcept>

namespace tallyvet {

std::size_t CheckItemTable::Index(int item) {
  if (item < 1 || item > 6) {
    throw std::out_of_range("check item " + std::to_string(item) + " is not 1 to 6");
  }
  return static_cast<std::size_t>(item - 1);
}

db::Connection& HostContext::conn() const {
  if (!connection) throw std::logic_error("no host connection has been handed over");
  return *connection;
}

HostContext& CurrentHostContext() {
  static HostContext context;
  return context;
}

bool ExecuteSql(HostContext& ctx, const std::string& strSql) {
  try {
    ctx.conn().Execute(strSql);
    return true;
  } catch (const std::exception&) {
    // Deliberately absorbed: the callers mark the row "错误" or list the correction instead.
    return false;
  }
}

}  // namespace tallyvet
