// A query run to its last row on a thread of its own while the thread that started it waits in
// short steps, so that a screen can keep moving: for a statement the database works on for a long
// time before it gives its first row (a comparison done on the server), where a fetch loop has
// nothing to show its progress by.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "db/connection.h"
#include "db/recordset.h"

namespace tallyvet::db {

class QueryThread {
 public:
  // Starts `sql` on `conn` (OpenResultset) and fetches every row of its result on a new thread.
  // Until Take returns or the object is gone, the connection is that thread's: the caller must
  // not use it meanwhile.
  QueryThread(Connection& conn, std::string sql);
  // Waits for the thread (the statement runs to its end; a database has no way to be told to stop
  // here that every driver honours). Never throws.
  ~QueryThread();
  QueryThread(const QueryThread&) = delete;
  QueryThread& operator=(const QueryThread&) = delete;

  // Waits at most `timeout`; true once the query has ended, with its rows or with an error.
  bool WaitFor(std::chrono::milliseconds timeout);
  // Waits for the end; returns the result with every row fetched, on its first row, and the
  // connection is the caller's again. Throws what opening or fetching threw (db::Error). Once only.
  std::unique_ptr<Recordset> Take();

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::unique_ptr<Recordset> result_;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once everything above is in place
};

}  // namespace tallyvet::db
