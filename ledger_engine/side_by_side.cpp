#include "ledger_engine/side_by_side.h"

#include <algorithm>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "ledger_engine/comparison.h"
#include "ledger_engine/report_file.h"

namespace tallyvet {

namespace {

// An item's result and, for what CompareLedger is not meant to throw, the exception itself.
struct Outcome {
  ItemResult result;
  std::exception_ptr unexpected;
};

// What the threads and the calling thread share. Guarded by `mutex`, except `percent` and
// `serverSeconds`, which the item's thread writes as it goes and the calling thread only reads.
// The order the threads take the items in: the longest first, so that the last one to finish
// is a short one. Items 1 to 3 recompute from every document line, item 6 from the document lines
// of stock goods against the vouchers, items 4 and 5 from the vouchers and the receivable and
// payable detail, far fewer rows; within a rank, by item number.
std::vector<std::size_t> LongestFirst(const std::vector<int>& items) {
  const auto rank = [](int item) { return item <= 3 ? 0 : item == 6 ? 1 : 2; };
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return rank(items[a]) < rank(items[b]); });
  return order;
}

struct RunState {
  explicit RunState(const std::vector<int>& items)
      : order(LongestFirst(items)),
        outcomes(items.size()),
        running(items.size(), false),
        percent(new std::atomic<double>[items.size()]),
        serverSeconds(new std::atomic<double>[items.size()]) {
    for (std::size_t i = 0; i < items.size(); ++i) percent[i] = 0;
    for (std::size_t i = 0; i < items.size(); ++i) serverSeconds[i] = -1;
  }
  const std::vector<std::size_t> order;  // positions in `items`, in the order they are taken
  std::mutex mutex;
  std::condition_variable done;
  std::vector<std::optional<Outcome>> outcomes;
  std::vector<bool> running;
  std::unique_ptr<std::atomic<double>[]> percent;
  std::unique_ptr<std::atomic<double>[]> serverSeconds;  // as RunningItem has it
  std::size_t next = 0;
  bool stopping = false;
};

// The screen an item's comparison works on in its own thread: its own notes, bar and summary
// list; the bar's value is published for the running-items display.
class ItemScreen final : public ProgressScreen {
 public:
  ItemScreen(const std::array<std::string, 6>& captions, std::atomic<double>& percent,
             std::atomic<double>& serverSeconds)
      : captions_(captions), percent_(percent), serverSeconds_(serverSeconds) {}
  void SetNotes(const std::string& caption) override {
    display_.SetNotes(caption);
    serverSeconds_.store(-1, std::memory_order_relaxed);
  }
  void ShowServerStatement(double seconds) override {
    serverSeconds_.store(seconds, std::memory_order_relaxed);
  }
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override {
    display_.ShowProgress(percent);
    percent_.store(display_.Value(), std::memory_order_relaxed);
  }
  std::string ItemCaption(int index) const override {
    return index >= 0 && index < 6 ? captions_[static_cast<std::size_t>(index)] : std::string();
  }
  std::vector<std::string>* List1() override { return &list_; }
  std::vector<std::string> TakeList() { return std::move(list_); }

 private:
  const std::array<std::string, 6>& captions_;
  std::atomic<double>& percent_;
  std::atomic<double>& serverSeconds_;
  ProgressDisplay display_;
  std::vector<std::string> list_;
};

class RecordingSink final : public DifferenceSink {
 public:
  explicit RecordingSink(ItemResult& result) : result_(result) {}
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override {
    result_.differences.emplace_back(record, firstInRow);
  }
  void Notice(int /*item*/, const std::string& text) override { result_.notices.push_back(text); }
  void ClientMerge(int /*item*/, const std::string& reason) override {
    result_.clientMerge = reason;
  }

 private:
  ItemResult& result_;
};

Outcome RunOneItem(HostContext& ctx, db::Connection* storedSide,
                   const std::array<std::string, 6>& captions, std::atomic<double>& percent,
                   std::atomic<double>& serverSeconds, int item, const std::string& startDate,
                   const std::string& endDate) {
  Outcome outcome;
  ItemResult& r = outcome.result;
  r.item = item;
  try {
    ItemScreen screen(captions, percent, serverSeconds);
    RecordingSink sink(r);
    const ReportFile report = ReportFile::InMemory(r.reportSection);
    r.agreed = CompareLedger(ctx, screen, report, item, startDate, endDate, true, false, {&sink},
                             &r.error, storedSide);
    r.listEntries = screen.TakeList();
    r.insertColumns = ctx.CheckItems.InsertColumns[CheckItemTable::Index(item)];
  } catch (const std::exception& e) {
    // CompareLedger keeps its own failures; what gets here (memory) still ends only this item.
    r.agreed = false;
    r.error = e.what();
  } catch (...) {
    outcome.unexpected = std::current_exception();
  }
  return outcome;
}

// The threads of one run: started with the run, told to stop and joined on every way out of it.
class ItemThreads {
 public:
  ItemThreads() = default;
  ItemThreads(const ItemThreads&) = delete;
  ItemThreads& operator=(const ItemThreads&) = delete;
  ~ItemThreads() {
    if (state_ != nullptr) {
      const std::lock_guard lock(state_->mutex);
      state_->stopping = true;
    }
    for (std::thread& t : threads_) t.join();
  }

  // `work` runs on a new thread; `state` is the run's (set once, before the first Start).
  void Start(RunState& state, std::function<void()> work) {
    state_ = &state;
    threads_.emplace_back(std::move(work));
  }

 private:
  RunState* state_ = nullptr;
  std::vector<std::thread> threads_;
};

}  // namespace

void RunItemsSideBySide(const HostContext& ctx, ProgressScreen& screen,
                        const std::vector<int>& items, const std::string& startDate,
                        const std::string& endDate, const std::vector<ItemConnections>& connections,
                        const std::function<void(ItemResult&)>& deliver) {
  std::array<std::string, 6> captions;
  for (int i = 0; i < 6; ++i) captions[static_cast<std::size_t>(i)] = screen.ItemCaption(i);
  // Each thread's context is copied here, before any thread starts: the dictionary's code cache
  // and the matched insert columns are then the thread's own.
  std::vector<HostContext> contexts(connections.size(), ctx);
  for (std::size_t t = 0; t < connections.size(); ++t) {
    contexts[t].connection = connections[t].recompute;
  }

  RunState state(items);
  {
    ItemThreads threads;
    for (std::size_t t = 0; t < contexts.size(); ++t) {
      HostContext& threadCtx = contexts[t];
      db::Connection* storedSide = connections[t].stored.get();
      threads.Start(
          state, [&state, &threadCtx, storedSide, &captions, &items, &startDate, &endDate] {
            for (;;) {
              std::size_t position;
              {
                const std::lock_guard lock(state.mutex);
                if (state.stopping || state.next == items.size()) return;
                position = state.order[state.next++];
                state.running[position] = true;
              }
              Outcome outcome =
                  RunOneItem(threadCtx, storedSide, captions, state.percent[position],
                             state.serverSeconds[position], items[position], startDate, endDate);
              {
                const std::lock_guard lock(state.mutex);
                state.outcomes[position] = std::move(outcome);
                state.running[position] = false;
              }
              state.done.notify_all();
            }
          });
    }

    for (std::size_t position = 0; position < items.size(); ++position) {
      std::unique_lock lock(state.mutex);
      while (!state.outcomes[position]) {
        if (state.done.wait_for(lock, std::chrono::milliseconds(100)) ==
            std::cv_status::no_timeout) {
          continue;
        }
        std::vector<RunningItem> running;
        for (std::size_t i = 0; i < items.size(); ++i) {
          if (state.running[i]) {
            running.push_back(
                {items[i] - 1, state.percent[i].load(), state.serverSeconds[i].load()});
          }
        }
        lock.unlock();
        screen.ShowRunningItems(running);
        lock.lock();
      }
      Outcome outcome = std::move(*state.outcomes[position]);
      state.outcomes[position].reset();
      lock.unlock();
      if (outcome.unexpected) std::rethrow_exception(outcome.unexpected);
      deliver(outcome.result);
    }
  }
  screen.ShowRunningItems({});
}

}  // namespace tallyvet
