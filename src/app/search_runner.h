// Runs one search of the engine at a time on a worker thread and hands what
// it reports to an observer on the thread of this object (the window's), in
// the order the engine reported it, rows in batches.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "search/engine.h"

namespace tarnwick {

class IndexDb;

class SearchRunner : public QObject {
  Q_OBJECT

 public:
  using Search = std::function<SearchResult(const SearchOptions&, SearchObserver&)>;
  using Done = std::function<void(const SearchResult&)>;

  // target gets every report on this object's thread; its rows() receives
  // the rows of as many files as have arrived since the last call.
  explicit SearchRunner(SearchObserver& target, QObject* parent = nullptr);
  // Stops a running search without the abort notice and waits for it.
  ~SearchRunner() override;

  bool running() const { return running_; }
  // Starts search on the worker thread; done runs here once it has ended
  // and every report has been delivered.  With an index, the search takes
  // unchanged drawings from it and keeps it up to date.
  void start(Search search, Done done, IndexDb* index = nullptr);

  // Escape: the search stops at its next check and reports aborted().  May
  // be called before start(); the flags are cleared when a search ends.
  void cancel();
  // The window closes: the search stops, and its aborted() is not passed on.
  void cancelQuietly();

 private:
  struct Event {
    enum class Kind { kStatus, kClearSelection, kSelect, kRows, kFile, kAborted } kind;
    std::u16string text;  // the path of a status event
    int32_t index = 0;
    bool selected = false;
    std::vector<SearchRow> rows;
    FileReport report;
    StatusKind status = StatusKind::kNone;
  };
  class Bridge;

  void post(Event event);
  // Waits on the worker until the abort notice has been shown (or is not to
  // be shown).
  void waitForAbortNotice();
  void deliver();
  void finished();

  SearchObserver& target_;
  std::atomic<bool> cancel_{false};
  QFutureWatcher<SearchResult> watcher_;
  Done done_;
  bool running_ = false;

  std::mutex mu_;
  std::condition_variable noticeShown_;
  std::deque<Event> events_;
  bool deliveryPosted_ = false;
  bool noticePending_ = false;
  bool quiet_ = false;
};

}  // namespace tarnwick
