// A query's rows read on a thread of their own and taken on another, in blocks through a bounded
// queue: the reading thread runs ahead of the taker by at most a few blocks, so memory stays
// bounded however many rows the query gives.
//
// The taking end is a RowSource (Reader) for a Recordset on the consumer's thread. Ready() tells
// the consumer whether the next row can be taken without waiting, so that one thread can take
// the rows of two pipes as they come; a PipeSignal shared by the pipes wakes it when either has
// more.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "db/recordset.h"

namespace tallyvet::db {

// Counts what happened on any of the pipes that share it.
class PipeSignal {
 public:
  std::uint64_t Events() const;
  void Notify();
  // Returns once Events() differs from `seen`.
  void WaitPast(std::uint64_t seen) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t events_ = 0;
};

class RowPipe {
 public:
  // Starts reading `source` on a new thread, `rowsPerBlock` rows a block, at most `maxBlocks`
  // blocks waiting. The source (and the connection it reads) belongs to that thread until the
  // source has ended, failed or the pipe is gone; it is released on that thread.
  explicit RowPipe(std::unique_ptr<RowSource> source, std::shared_ptr<PipeSignal> signal = {},
                   std::size_t rowsPerBlock = 256, std::size_t maxBlocks = 4);
  // Stops the reading thread (it drops the rows not taken) and joins it; waits for a fetch under
  // way to return. Never throws.
  ~RowPipe();
  RowPipe(const RowPipe&) = delete;
  RowPipe& operator=(const RowPipe&) = delete;

  const std::vector<ColumnInfo>& Columns() const;
  // True when the Reader's next Next() returns without waiting: a row is there, or the source
  // has ended or failed. For the consumer's thread.
  bool Ready() const;
  // The taking end: the rows in order, then false; the source's error, rethrown, where it
  // failed. One reader per pipe; it may outlive the pipe (it then ends where the pipe stopped).
  std::unique_ptr<RowSource> Reader();

  // Waits for the reading thread to end (the source ended or failed, or the pipe stopped).
  // After this the source's connection is free again. Never throws.
  void Join() noexcept;

  // What the pipe, its thread and its reader share.
  struct State;

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace tallyvet::db
