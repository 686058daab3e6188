#include "db/query_thread.h"

#include <utility>

#include "db/statement_scope.h"

namespace tallyvet::db {

QueryThread::QueryThread(Connection& conn, std::string sql)
    : thread_([this, &conn, sql = std::move(sql), purpose = StatementScope::CurrentPurpose(),
               item = StatementScope::CurrentItem()] {
        // The statement is the starting thread's: a trace names it by that thread's purpose.
        const StatementScope scope(purpose, item);
        std::unique_ptr<Recordset> rs;
        std::exception_ptr failure;
        try {
          rs = conn.OpenResultset(sql, 3, 3);
          while (!rs->Eof()) rs->MoveNext();
          rs->MoveFirst();
        } catch (...) {
          // Handed to the waiting thread, which rethrows it from Take.
          rs.reset();
          failure = std::current_exception();
        }
        {
          const std::lock_guard lock(mutex_);
          result_ = std::move(rs);
          failure_ = failure;
          done_ = true;
        }
        ended_.notify_all();
      }) {}

QueryThread::~QueryThread() {
  if (thread_.joinable()) thread_.join();
}

bool QueryThread::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return ended_.wait_for(lock, timeout, [this] { return done_; });
}

std::unique_ptr<Recordset> QueryThread::Take() {
  if (thread_.joinable()) thread_.join();
  const std::lock_guard lock(mutex_);
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  return std::move(result_);
}

}  // namespace tallyvet::db
