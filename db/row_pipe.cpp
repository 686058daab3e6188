#include "db/row_pipe.h"

#include <deque>
#include <exception>

namespace tallyvet::db {

namespace {

// Rows as a recordset stores them (row_format): each row's slots, then its texts.
struct Block {
  ByteBuffer bytes;
  std::vector<std::size_t> starts;
};

}  // namespace

std::uint64_t PipeSignal::Events() const {
  const std::lock_guard lock(mutex_);
  return events_;
}

void PipeSignal::Notify() {
  {
    const std::lock_guard lock(mutex_);
    ++events_;
  }
  changed_.notify_all();
}

void PipeSignal::WaitPast(std::uint64_t seen) const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return events_ != seen; });
}

struct RowPipe::State {
  std::unique_ptr<RowSource> source;  // the reading thread's, until it has ended
  std::vector<ColumnInfo> columns;
  std::shared_ptr<PipeSignal> signal;
  std::size_t rowsPerBlock = 0;
  std::size_t maxBlocks = 0;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Block> blocks;    // filled, waiting to be taken
  std::vector<Block> spare;    // taken, handed back to be filled again with their memory
  bool ended = false;          // no more blocks will come
  bool stopping = false;       // the pipe is going: the reader drops what it has
  std::exception_ptr failure;  // where the source failed, after the last block

  // The taker's block, its own: no lock.
  Block current;
  std::size_t next = 0;

  void Publish() {
    changed.notify_all();
    if (signal) signal->Notify();
  }

  void Produce() {
    try {
      const std::size_t columns = this->columns.size();
      for (bool more = true; more;) {
        Block block = SpareBlock();
        while (block.starts.size() < rowsPerBlock) {
          const std::size_t start = block.bytes.size();
          block.bytes.Extend(row_format::kSlot * columns);
          RowWriter row(block.bytes, start, columns);
          if (!source->Next(row)) {
            block.bytes.Truncate(start);
            more = false;
            break;
          }
          row.Finish();
          block.starts.push_back(start);
        }
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping || blocks.size() < maxBlocks; });
        if (stopping) break;
        if (!block.starts.empty()) blocks.push_back(std::move(block));
        lock.unlock();
        Publish();
      }
    } catch (...) {
      const std::lock_guard lock(mutex);
      failure = std::current_exception();
    }
    source.reset();  // releases the statement on the thread that ran it
    {
      const std::lock_guard lock(mutex);
      ended = true;
    }
    Publish();
  }

  Block SpareBlock() {
    const std::lock_guard lock(mutex);
    if (spare.empty()) return {};
    Block block = std::move(spare.back());
    spare.pop_back();
    block.bytes.Truncate(0);
    block.starts.clear();
    return block;
  }

  bool Ready() {
    if (next < current.starts.size()) return true;
    const std::lock_guard lock(mutex);
    return !blocks.empty() || ended;
  }

  // The next row into `out`; false at the end.
  bool Take(RowWriter& out) {
    if (next == current.starts.size()) {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return !blocks.empty() || ended; });
      if (blocks.empty()) {
        if (failure) std::rethrow_exception(failure);
        return false;
      }
      if (!current.starts.empty()) spare.push_back(std::move(current));
      current = std::move(blocks.front());
      blocks.pop_front();
      next = 0;
      lock.unlock();
      changed.notify_all();  // room for the reading thread
    }
    using namespace row_format;
    const char* row = current.bytes.data() + current.starts[next++];
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const char* p = row + kSlot * i;
      switch (*p) {
        case kInt:
          out.Integer(Get<std::int64_t>(p + 1));
          break;
        case kDouble:
          out.Double(Get<double>(p + 1));
          break;
        case kText:
          out.Text(std::string_view(row + Get<std::uint32_t>(p + 5), Get<std::uint32_t>(p + 1)));
          break;
        default:
          out.Null();
      }
    }
    return true;
  }
};

namespace {

class PipeReader final : public RowSource {
 public:
  explicit PipeReader(std::shared_ptr<RowPipe::State> state) : state_(std::move(state)) {}
  const std::vector<ColumnInfo>& Columns() const override { return state_->columns; }
  bool Next(RowWriter& row) override { return state_->Take(row); }

 private:
  std::shared_ptr<RowPipe::State> state_;
};

}  // namespace

RowPipe::RowPipe(std::unique_ptr<RowSource> source, std::shared_ptr<PipeSignal> signal,
                 std::size_t rowsPerBlock, std::size_t maxBlocks)
    : state_(std::make_shared<State>()) {
  state_->columns = source->Columns();
  state_->source = std::move(source);
  state_->signal = std::move(signal);
  state_->rowsPerBlock = rowsPerBlock == 0 ? 1 : rowsPerBlock;
  state_->maxBlocks = maxBlocks == 0 ? 1 : maxBlocks;
  thread_ = std::thread([state = state_] { state->Produce(); });
}

RowPipe::~RowPipe() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  Join();
}

void RowPipe::Join() noexcept {
  if (thread_.joinable()) thread_.join();
}

const std::vector<ColumnInfo>& RowPipe::Columns() const {
  return state_->columns;
}

bool RowPipe::Ready() const {
  return state_->Ready();
}

std::unique_ptr<RowSource> RowPipe::Reader() {
  return std::make_unique<PipeReader>(state_);
}

}  // namespace tallyvet::db
