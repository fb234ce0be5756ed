#include "app/search_runner.h"

#include <QtConcurrent/QtConcurrentRun>
#include <optional>

#include "index/index_cache.h"

namespace tarnwick {

// The observer on the worker thread: it queues each report for the window's
// thread.
class SearchRunner::Bridge : public SearchObserver {
 public:
  explicit Bridge(SearchRunner& runner) : runner_(runner) {}

  void status(StatusKind kind, const std::u16string& path) override {
    runner_.post({Event::Kind::kStatus, path, 0, false, {}, {}, kind});
  }
  void clearSelection() override { runner_.post({Event::Kind::kClearSelection, {}, 0, false, {}, {}}); }
  void selectItem(int32_t index, bool selected) override {
    runner_.post({Event::Kind::kSelect, {}, index, selected, {}, {}});
  }
  void rows(const std::vector<SearchRow>& rows) override { runner_.post({Event::Kind::kRows, {}, 0, false, rows, {}}); }
  void file(const FileReport& report) override { runner_.post({Event::Kind::kFile, {}, 0, false, {}, report}); }
  // The notice comes before the final status event: the worker waits here
  // until the window has shown it.
  void aborted() override {
    runner_.post({Event::Kind::kAborted, {}, 0, false, {}, {}});
    runner_.waitForAbortNotice();
  }

 private:
  SearchRunner& runner_;
};

SearchRunner::SearchRunner(SearchObserver& target, QObject* parent) : QObject(parent), target_(target) {
  connect(&watcher_, &QFutureWatcher<SearchResult>::finished, this, &SearchRunner::finished);
}

SearchRunner::~SearchRunner() {
  if (running_) {
    cancelQuietly();
    watcher_.waitForFinished();
  }
}

void SearchRunner::start(Search search, Done done, IndexDb* index) {
  running_ = true;
  done_ = std::move(done);
  SearchOptions options;
  options.rowCap = kDefaultRowCap;
  options.jobs = 0;
  options.ioDepth = kDefaultIoDepth;  // files in flight on a file server, whatever the cores
  options.cancel = &cancel_;
  watcher_.setFuture(QtConcurrent::run([this, search = std::move(search), options, index]() mutable {
    Bridge bridge(*this);
    std::optional<IndexCache> cache;
    if (index && index->usable()) {
      cache.emplace(*index);
      options.cache = &*cache;
    }
    return search(options, bridge);
  }));
}

void SearchRunner::cancel() { cancel_.store(true); }

void SearchRunner::cancelQuietly() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quiet_ = true;
  }
  cancel_.store(true);
  noticeShown_.notify_all();
}

void SearchRunner::post(Event event) {
  bool postDelivery = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (event.kind == Event::Kind::kAborted) noticePending_ = true;
    events_.push_back(std::move(event));
    postDelivery = !deliveryPosted_;
    deliveryPosted_ = true;
  }
  if (postDelivery) QMetaObject::invokeMethod(this, &SearchRunner::deliver, Qt::QueuedConnection);
}

void SearchRunner::waitForAbortNotice() {
  std::unique_lock<std::mutex> lock(mu_);
  noticeShown_.wait(lock, [this] { return !noticePending_ || quiet_; });
}

// Hands the reports queued so far to the target, in order, except that the
// rows of all their files go as one batch at the end (the results window is
// not shown while a search runs).  Reports that arrive meanwhile wait for the
// next call, so a fast search never keeps the window from repainting.  The abort notice
// may run a nested event loop; the worker waits for it, so it is always the
// last report of its batch.
void SearchRunner::deliver() {
  std::deque<Event> batch;
  {
    std::lock_guard<std::mutex> lock(mu_);
    deliveryPosted_ = false;
    batch.swap(events_);
  }
  std::vector<SearchRow> rows;
  auto flushRows = [&] {
    if (rows.empty()) return;
    target_.rows(rows);
    rows.clear();
  };
  while (!batch.empty()) {
    Event event = std::move(batch.front());
    batch.pop_front();
    switch (event.kind) {
      case Event::Kind::kStatus:
        target_.status(event.status, event.text);
        break;
      case Event::Kind::kClearSelection:
        target_.clearSelection();
        break;
      case Event::Kind::kSelect:
        target_.selectItem(event.index, event.selected);
        break;
      case Event::Kind::kRows:
        if (rows.empty())
          rows = std::move(event.rows);
        else
          rows.insert(rows.end(), std::make_move_iterator(event.rows.begin()),
                      std::make_move_iterator(event.rows.end()));
        break;
      case Event::Kind::kFile:
        target_.file(event.report);
        break;
      case Event::Kind::kAborted: {
        flushRows();
        bool quiet = false;
        {
          std::lock_guard<std::mutex> lock(mu_);
          quiet = quiet_;
        }
        if (!quiet) target_.aborted();
        {
          std::lock_guard<std::mutex> lock(mu_);
          noticePending_ = false;
        }
        noticeShown_.notify_all();
        break;
      }
    }
  }
  flushRows();
}

void SearchRunner::finished() {
  deliver();
  const SearchResult result = watcher_.result();
  {
    std::lock_guard<std::mutex> lock(mu_);
    quiet_ = false;
    noticePending_ = false;
  }
  cancel_.store(false);
  running_ = false;
  Done done = std::move(done_);
  done_ = nullptr;
  if (done) done(result);
}

}  // namespace tarnwick
