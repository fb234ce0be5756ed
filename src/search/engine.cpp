#include "search/engine.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "jw/block_names.h"
#include "jw/file_image.h"
#include "search/search_cache.h"
#include "text/file_listing.h"
#include "text/path_utils.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {

const char* FileOutcomeText(FileOutcome o) {
  switch (o) {
    case FileOutcome::kRead: return "read";
    case FileOutcome::kNotDrawing: return "not a .jww or .jws file";
    case FileOutcome::kMissing: return "no such file";
    case FileOutcome::kNotRegular: return "not a regular file";
    case FileOutcome::kUnreadable: return "cannot be read";
    case FileOutcome::kNotOfFormat: return "not a drawing of a supported version";
    case FileOutcome::kDamaged: return "damaged: read stopped part-way";
    case FileOutcome::kNoFolder: return "no such folder";
    case FileOutcome::kUnlistable: return "cannot be listed";
  }
  return "";
}

std::u16string CutAtFlag(const std::u16string& name, bool inSubfolder) {
  // Upper-casing maps every code unit to one code unit, none of them to "@"
  // and "@" to itself, so a name without "@" holds no flag.
  if (name.find(u'@') == std::u16string::npos) return name;
  static const std::u16string kFlag = u"@@SFIGORGFLAG";
  const int32_t p = StrIndexOf(kFlag, StrUpper(name));
  if (p > 0 || (p == 0 && !inSubfolder)) return StrMid(name, 0, p);
  return name;
}

std::u16string RowFileName(const std::u16string& path) {
  const size_t slash = path.rfind(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

namespace {

bool IsDrawingExt(const std::u16string& path, DrawingFormat& format) {
  const DrawingKind kind = DrawingKindOf(path);
  format = kind == DrawingKind::kJws ? DrawingFormat::kJws : DrawingFormat::kJww;
  return kind != DrawingKind::kNone;
}

bool IsDrawingName(const std::u16string& name) {
  DrawingFormat format;
  return IsDrawingExt(name, format);
}

// One step of a search, in search order: a status event, a drawing to read,
// or a report of something passed over.
struct Item {
  enum class Kind { kStatus, kDrawing, kReport } kind = Kind::kStatus;
  std::u16string text;  // the path as shown (of a status event too)
  StatusKind status = StatusKind::kNone;
  std::string native;   // a drawing's path as the system takes it
  int32_t listIndex = -1;
  bool inSubfolder = false;
  bool showFileStatus = false;
  DrawingFormat format = DrawingFormat::kJww;
  // A report's outcome is set by the walk; a drawing's by the fetch and the
  // decoding.
  FileOutcome outcome = FileOutcome::kRead;
  int error = 0;
  bool fromCache = false;
  BlockNameList names;
  // Between the fetch and the decoding: the bytes and the stat data of the
  // descriptor read.
  FileImage* image = nullptr;
  FileStat stat;

  // Takes what the walk asked for from `from`; the result part keeps its
  // memory for the next drawing.
  void take(Item& from) {
    kind = from.kind;
    text.swap(from.text);
    status = from.status;
    native.swap(from.native);
    listIndex = from.listIndex;
    inSubfolder = from.inSubfolder;
    showFileStatus = from.showFileStatus;
    format = from.format;
    outcome = from.outcome;
    error = from.error;
    fromCache = false;
    image = nullptr;
  }
};

// Room for the bytes of the drawings in flight, within a budget.  Buffers
// are kept for the next files, so their pages are paid for once; a file that
// needs more room than is left waits until the decoding gives some back.
// A file larger than the whole budget is still read, when nothing else is in
// flight.
class BufferPool {
 public:
  explicit BufferPool(size_t budget) : budget_(std::max(budget, kMinBuffer)) {}

  // Null once the pool is shut.  `waited` is set when the caller had to
  // wait, for the lock or for room.
  FileImage* acquire(size_t need, bool& waited) {
    std::unique_lock<std::mutex> lock(mu_, std::try_to_lock);
    if (!lock.owns_lock()) {
      waited = true;
      lock.lock();
    }
    for (;;) {
      if (shut_) return nullptr;
      // The buffer this thread gave back last when it is large enough: its
      // lines are likely still in this processor's own cache, where a read
      // into it need not first take them from another's.  Else the smallest
      // that is large enough and, of those, the one given back last.
      FileImage* const own = lastGivenBack();
      auto best = idle_.rend();
      for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if ((*it)->capacity() < need) continue;
        if (it->get() == own) {
          best = it;
          break;
        }
        if (best == idle_.rend() || (*it)->capacity() < (*best)->capacity()) best = it;
      }
      if (best != idle_.rend()) {
        FileImage* image = best->release();
        idle_.erase(std::next(best).base());
        ++inUse_;
        return image;
      }
      if (need > (SIZE_MAX >> 2)) throw std::bad_alloc();
      const size_t want = std::max(kMinBuffer, std::bit_ceil(need));
      // Kept buffers too small for this file make room for it, the longest
      // unused first.
      while (committed_ + want > budget_ && !idle_.empty()) {
        committed_ -= idle_.front()->capacity();
        idle_.erase(idle_.begin());
      }
      if (committed_ + want <= budget_ || inUse_ == 0) {
        committed_ += want;
        ++inUse_;
        lock.unlock();
        auto image = std::make_unique<FileImage>();
        try {
          image->reserve(want);
        } catch (const std::bad_alloc&) {
          lock.lock();
          committed_ -= want;
          --inUse_;
          freed_.notify_all();
          throw;
        }
        lock.lock();
        committed_ = committed_ - want + image->capacity();
        return image.release();
      }
      waited = true;
      freed_.wait(lock);
    }
  }

  // The search is over: nobody waits for room any longer.
  void shut() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      shut_ = true;
    }
    freed_.notify_all();
  }

  void release(FileImage* image) {
    std::unique_ptr<FileImage> owned(image);
    {
      std::lock_guard<std::mutex> lock(mu_);
      --inUse_;
      if (owned->capacity() > kMaxKept || committed_ > budget_) {
        committed_ -= owned->capacity();
      } else {
        lastGivenBack() = image;
        idle_.push_back(std::move(owned));
      }
    }
    freed_.notify_all();
  }

 private:
  // Only compared with the kept buffers, never followed: it may name a
  // buffer long gone, or one of another search.
  static FileImage*& lastGivenBack() {
    thread_local FileImage* image = nullptr;
    return image;
  }

  // One huge page (FileImage asks for those from 2 MiB on): the copy from
  // the page cache and the decoding then miss the address cache far less
  // than in small pages.
  static constexpr size_t kMinBuffer = size_t(2) << 20;
  // A buffer grown for an unusually large drawing is not kept.
  static constexpr size_t kMaxKept = size_t(64) << 20;

  const size_t budget_;
  std::mutex mu_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<FileImage>> idle_;
  size_t committed_ = 0;  // capacity of every buffer, kept or in use
  int inUse_ = 0;
  bool shut_ = false;
};


FileOutcome OutcomeOf(LoadStatus load) {
  switch (load) {
    case LoadStatus::kOk: return FileOutcome::kRead;
    case LoadStatus::kNotFound: return FileOutcome::kMissing;
    case LoadStatus::kNotRegular: return FileOutcome::kNotRegular;
    case LoadStatus::kUnreadable: return FileOutcome::kUnreadable;
  }
  return FileOutcome::kUnreadable;
}

FileOutcome OutcomeOf(const BlockNameList& names) {
  if (!names.check) return FileOutcome::kNotOfFormat;
  if (!names.ok) return FileOutcome::kDamaged;
  return FileOutcome::kRead;
}

bool Recordable(FileOutcome o) {
  return o == FileOutcome::kRead || o == FileOutcome::kNotOfFormat || o == FileOutcome::kDamaged;
}

// Takes the rows of a drawing from the cache when its record still matches
// the file.  A file that cannot be looked at is opened as usual, so that the
// read gives the outcome.
bool FromCache(Item& item, SearchCache& cache) {
  struct stat st {};
  if (::stat(item.native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::optional<DrawingRecord> rec = cache.lookup(item.native, StatOf(st));
  if (!rec || !Recordable(rec->outcome)) return false;
  item.outcome = rec->outcome;
  item.names.check = rec->outcome != FileOutcome::kNotOfFormat;
  item.names.ok = rec->outcome == FileOutcome::kRead;
  item.names.names = std::move(rec->names);
  item.names.cutName = rec->cutName >= 0 && static_cast<size_t>(rec->cutName) < item.names.names.size() ? rec->cutName : -1;
  item.fromCache = true;
  return true;
}

// The times the calling thread has given up its processor to wait (for the
// disk, the file server or a lock) so far.  A read from the page cache never
// waits; a request to a server always does.
long WaitsSoFar() {
  struct rusage u {};
  ::getrusage(RUSAGE_THREAD, &u);
  return u.ru_nvcsw;
}

// The first half of reading a drawing, on the thread that fetches it: the
// checks, the open, the fstat and the read.  True when the bytes wait for
// decoding; false when the item is finished (a cache hit, or a file that
// could not be read).
//
// With `waited`, also tells whether the file made the thread wait: the
// checks and the open are counted, and the read unless it came after a wait
// in the pool (for its lock or for room), which says nothing of the file, or
// filled pages of the buffer never used before (they are made on the way,
// which may wait for memory or for another thread's change to the address
// space).
bool Fetch(Item& item, BufferPool& pool, const SearchOptions& options, bool* waited) {
  const long from = waited ? WaitsSoFar() : 0;
  long opened = from;
  bool readWaited = false;
  auto end = [&](bool decode) {
    if (waited) *waited = opened != from || readWaited;
    return decode;
  };
  item.names.check = item.names.ok = false;
  item.names.names.clear();
  item.names.cutName = -1;
  item.error = 0;
  item.fromCache = false;
  item.image = nullptr;
  if (options.beforeIo) options.beforeIo(item.native, false);
  if (options.cache && FromCache(item, *options.cache)) {
    if (waited) opened = WaitsSoFar();
    return end(false);
  }
  OpenFile file;
  LoadStatus load = file.open(item.native);
  item.stat = file.stat();
  if (waited) opened = WaitsSoFar();
  if (load != LoadStatus::kOk) {
    item.outcome = OutcomeOf(load);
    item.error = file.error();
    return end(false);
  }
  FileImage* image = nullptr;
  bool poolWaited = false;
  const size_t size = static_cast<size_t>(std::max<int64_t>(file.stat().size, 0));
  try {
    image = pool.acquire(size, poolWaited);
    if (!image) throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
    // Out of memory for this drawing alone: it is reported and the search goes on.
    item.outcome = FileOutcome::kUnreadable;
    item.error = ENOMEM;
    return end(false);
  }
  const bool newPages = size > image->filled();
  load = image->read(file);
  if (waited && !newPages && !poolWaited) readWaited = WaitsSoFar() != opened;
  if (load != LoadStatus::kOk) {
    item.outcome = OutcomeOf(load);
    item.error = image->error();
    pool.release(image);
    return end(false);
  }
  item.image = image;
  return end(true);
}

// The second half, on a decoding thread: the names, and the record of the
// read for the cache.  Gives the bytes back.
void Decode(Item& item, BufferPool& pool, const SearchOptions& options) {
  try {
    ReadBlockNames(item.image->data(), item.image->size(), item.format, item.names, options.codePage);
    item.outcome = OutcomeOf(item.names);
  } catch (const std::bad_alloc&) {
    item.outcome = FileOutcome::kUnreadable;
    item.error = ENOMEM;
    item.names.check = item.names.ok = false;
    item.names.names.clear();
    item.names.cutName = -1;
  }
  pool.release(item.image);
  item.image = nullptr;
  if (options.cache && Recordable(item.outcome)) {
    DrawingRecord rec;
    rec.outcome = item.outcome;
    rec.names = item.names.names;
    rec.cutName = item.names.cutName;
    options.cache->record(item.native, item.stat, rec);
  }
}

// Turns items into reports and rows, in order, on the calling thread.
class Emitter {
 public:
  Emitter(const SearchOptions& options, SearchObserver& observer) : options_(options), observer_(observer) {}

  bool cancelled() const { return options_.cancel && options_.cancel->load(std::memory_order_relaxed); }

  // False once the search must stop (cancel or cap).
  bool emit(Item& item) {
    if (stop_) return false;
    if (item.kind != Item::Kind::kStatus && cancelled()) {
      result_.aborted = true;
      stop_ = true;
      return false;
    }
    switch (item.kind) {
      case Item::Kind::kStatus: observer_.status(item.status, item.text); break;
      case Item::Kind::kReport: observer_.file({item.text, item.outcome, 0, item.error, false}); break;
      case Item::Kind::kDrawing: emitDrawing(item); break;
    }
    return !stop_;
  }

  // Set when the walk saw the cancel flag itself.
  void markAborted() {
    result_.aborted = true;
    stop_ = true;
  }
  bool stopped() const { return stop_; }

  SearchResult finish(StatusKind finalStatus) {
    if (result_.aborted) observer_.aborted();
    observer_.status(finalStatus, {});
    return result_;
  }

  SearchResult& result() { return result_; }

 private:
  void emitDrawing(Item& item) {
    if (item.listIndex >= 0) observer_.selectItem(item.listIndex, true);
    if (item.showFileStatus) observer_.status(StatusKind::kFile, item.text);
    ++result_.filesRead;
    FileReport report{item.text, item.outcome, 0, item.error, item.fromCache};
    report.cutName = item.names.cutName;
    if (report.cutName >= 0 && static_cast<size_t>(report.cutName) < item.names.names.size())
      report.cutText = CutAtFlag(item.names.names[static_cast<size_t>(report.cutName)], item.inSubfolder);
    const std::u16string fileName = RowFileName(item.text);
    size_t n = 0;
    int32_t definition = -1;
    for (std::u16string& block : item.names.names) {
      ++definition;
      // The names are the item's own: each is cut in place.
      if (block.find(u'@') != std::u16string::npos) block = CutAtFlag(block, item.inSubfolder);
      if (options_.keep && !options_.keep(block)) continue;
      if (options_.rowCap > 0 && result_.rowCount >= options_.rowCap) {
        result_.capReached = true;
        stop_ = true;
        break;
      }
      ++result_.rowCount;
      SearchRow& row = rowAt(n++);
      row.fileName = fileName;
      row.path = item.text;
      row.block = block;
      row.definition = definition;
    }
    keepRows(n);
    report.definitions = static_cast<int32_t>(n);
    if (n > 0) observer_.rows(rows_);
    observer_.file(report);
    // The entry stays highlighted when the cap ended the search on it.
    if (item.listIndex >= 0 && !result_.capReached) observer_.selectItem(item.listIndex, false);
  }

  // Row i of the file being emitted.  The rows of the last file are reused,
  // and rows no longer needed wait in spare_, so their texts keep their
  // memory from file to file.
  SearchRow& rowAt(size_t i) {
    if (i == rows_.size()) {
      if (spare_.empty()) {
        rows_.emplace_back();
      } else {
        rows_.push_back(std::move(spare_.back()));
        spare_.pop_back();
      }
    }
    return rows_[i];
  }
  void keepRows(size_t n) {
    while (rows_.size() > n) {
      spare_.push_back(std::move(rows_.back()));
      rows_.pop_back();
    }
  }

  const SearchOptions& options_;
  SearchObserver& observer_;
  SearchResult result_;
  std::vector<SearchRow> rows_, spare_;
  bool stop_ = false;
};

int JobCount(const SearchOptions& options) {
  constexpr int kMaxJobs = 256;
  if (options.jobs > 0) return std::min(options.jobs, kMaxJobs);
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

int IoDepth(const SearchOptions& options) {
  constexpr int kMaxDepth = 1024;
  return std::clamp(options.ioDepth, 1, kMaxDepth);
}

// One folder listing asked for ahead of its turn.
struct ListJob {
  std::string folder;
  FolderContents contents;
  bool queued = false;  // given to the I/O threads; else the walk lists it when it takes it
  bool done = false;
};

// Where the walk puts its items, and where it gets its folder listings.
//
// With one job and a depth of one everything happens inline on the calling
// thread.  Otherwise `jobs` threads decode drawings while the calling thread
// walks the files and folders and emits the finished items in order, and the
// drawings are fetched (open, fstat, read) in one of two ways:
//
//  - near: each decoding thread fetches the oldest drawing no one has taken
//    and decodes it at once.  A read from the page cache is work for the
//    processor, not a wait, so threads of its own would only add hand-overs,
//    wake-ups and bytes gone cold in the processor's cache to the same work.
//  - ahead: while fetches wait (for a file server or a disk), `depth` I/O
//    threads fetch drawings and list folders ahead, so that many requests
//    are in flight at once.  A drawing is decoded by the thread that read it
//    while fewer than `jobs` are being decoded; otherwise it waits for a
//    decoding thread.
//
// Every fetch tells whether it waited.  A search begins near, goes ahead at
// the first fetch or listing that waited (the I/O threads are started then)
// and comes back near after kCalm fetches in a row that did not.  With one
// job, near is the calling thread alone, fetching and decoding as it walks,
// until the first wait; from then on the search runs as with more jobs.
//
// At most ring_.size() items are on their way (pushed and not yet emitted):
// the walk waits for the oldest one when the ring is full.  The bytes in
// flight stay within the buffer pool's budget, whatever the depth and the
// number of jobs.
class Pipeline {
 public:
  Pipeline(const SearchOptions& options, Emitter& emitter)
      : options_(options), emitter_(emitter), pool_(options.inFlightBytes) {
    jobs_ = JobCount(options);
    depth_ = IoDepth(options);
    if (parallel()) ring_.resize(std::max<size_t>(64, 4 * static_cast<size_t>(depth_ + jobs_)));
    alone_ = jobs_ == 1;
  }
  ~Pipeline() { stopThreads(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  bool parallel() const { return jobs_ > 1 || depth_ > 1; }
  // Folder listings the walk may ask for ahead of its turn.
  size_t listingsAhead() const { return parallel() ? static_cast<size_t>(std::clamp(depth_, 1, 32)) : 1; }

  // The walk's side, on the calling thread.  False once the search must stop.
  bool push(Item& item) {
    if (alone_) {
      inline_.take(item);
      bool waited = false;
      if (inline_.kind == Item::Kind::kDrawing && Fetch(inline_, pool_, options_, parallel() ? &waited : nullptr))
        Decode(inline_, pool_, options_);
      const bool more = emitter_.emit(inline_);
      if (more && waited) startThreads();
      return more;
    }
    if (!emitFinished(ring_.size() - 1)) return false;
    const bool drawing = item.kind == Item::Kind::kDrawing;
    Slot& slot = at(head_);
    slot.item.take(item);
    bool wakeIo = false, wakeDecoder = false, start = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      slot.state = drawing ? State::kPending : State::kDone;
      ++head_;
      start = ahead_ && !ioStarted_;
      if (drawing && ahead_ && ioStarted_) wakeIo = idleIo_ > 0;
      if (drawing && (!ahead_ || !ioStarted_)) wakeDecoder = idleDecoders_ > 0;
    }
    if (wakeIo) ioReady_.notify_one();
    if (wakeDecoder) decodeReady_.notify_one();
    if (start) startIo();
    return true;
  }

  // Asks for the listing of folder; take() gives it.
  std::shared_ptr<ListJob> list(const std::string& folder) {
    auto job = std::make_shared<ListJob>();
    job->folder = folder;
    if (alone_) return job;
    bool start = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      start = ahead_ && !ioStarted_;
    }
    if (start) startIo();
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!ahead_ || !ioStarted_) return job;
      job->queued = true;
      listQueue_.push_back(job);
    }
    ioReady_.notify_one();
    return job;
  }

  // Waits for the listing asked for.
  FolderContents& take(ListJob& job) {
    if (!parallel()) {
      listNow(job);
      return job.contents;
    }
    if (!job.queued) {
      const long before = WaitsSoFar();
      listNow(job);
      if (WaitsSoFar() != before) {
        if (alone_) {
          startThreads();
        } else {
          std::lock_guard<std::mutex> lock(mu_);
          noted(true);
        }
      }
      return job.contents;
    }
    std::unique_lock<std::mutex> lock(mu_);
    listDone_.wait(lock, [&] { return job.done; });
    return job.contents;
  }

  // True while the walk should go on.
  bool producing() const { return !emitter_.stopped(); }

  // Runs the walk, then emits what is still on its way.
  template <class Produce>
  void run(Produce&& produce) {
    if (!parallel()) {
      produce();
      return;
    }
    if (!alone_)
      for (int i = 0; i < jobs_; ++i) threads_.emplace_back([this] { decodeLoop(); });
    produce();
    emitFinished(0);
    stopThreads();
  }

 private:
  static constexpr uint64_t kNobody = ~uint64_t(0);
  // Fetches in a row that did not wait before the search comes back near.
  static constexpr int kCalm = 32;
  // Items the walk waits to see finished, when the ring is full, before it
  // emits again.
  static constexpr uint64_t kEmitRun = 16;

  enum class State { kFree, kPending, kFetching, kFetched, kDecoding, kDone };
  struct Slot {
    Item item;
    State state = State::kFree;
  };

  Slot& at(uint64_t seq) { return ring_[static_cast<size_t>(seq % ring_.size())]; }

  void listNow(ListJob& job) {
    if (options_.beforeIo) options_.beforeIo(job.folder, true);
    ListFolder(job.folder, job.contents);
  }

  // One decoding thread does all its work on the calling thread while fetches
  // do not wait; at the first that does, it gets a thread of its own and the
  // search goes ahead.  Nothing is in the ring yet.
  void startThreads() {
    try {
      threads_.emplace_back([this] { decodeLoop(); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the search goes on alone
    }
    alone_ = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ahead_ = true;
    }
    startIo();
  }

  // Starts the I/O threads, on the calling thread, the first time the search
  // goes ahead.  When none can be made the decoding threads go on fetching.
  void startIo() {
    int started = 0;
    try {
      for (; started < depth_; ++started) threads_.emplace_back([this] { ioLoop(); });
    } catch (const std::system_error&) {
    }
    std::lock_guard<std::mutex> lock(mu_);
    ioStarted_ = started > 0;
    if (!ioStarted_) ahead_ = false;
  }

  // Takes note of whether a fetch waited; called with the lock held.
  void noted(bool waited) {
    if (waited) {
      calm_ = 0;
      if (!ahead_) {
        ahead_ = true;
        if (ioStarted_) ioReady_.notify_all();
      }
    } else if (ahead_ && ++calm_ >= kCalm) {
      ahead_ = false;
      decodeReady_.notify_all();
    }
  }

  // The oldest drawing no one has taken, or head_.
  uint64_t nextPending() {
    if (nextFetch_ < tail_) nextFetch_ = tail_;
    while (nextFetch_ < head_ && at(nextFetch_).state != State::kPending) ++nextFetch_;
    return nextFetch_;
  }

  // Emits the finished items at the front, in order; while more than `keep`
  // items are on their way, waits for the oldest.  False once the emitter
  // has stopped.
  bool emitFinished(size_t keep) {
    if (emitter_.stopped()) return false;
    std::unique_lock<std::mutex> lock(mu_);
    while (tail_ < head_) {
      Slot& slot = at(tail_);
      if (slot.state != State::kDone) {
        if (head_ - tail_ <= keep) return true;
        // Woken for a run of items, not for each: the items are mostly
        // finished in order, so one wake-up emits many.
        waitingFor_ = std::min(head_ - 1, tail_ + kEmitRun - 1);
        Slot& last = at(waitingFor_);
        itemDone_.wait(lock, [&] { return last.state == State::kDone; });
        waitingFor_ = tail_;
        itemDone_.wait(lock, [&] { return slot.state == State::kDone; });
        waitingFor_ = kNobody;
      }
      // A finished slot is the calling thread's until it is pushed again.
      lock.unlock();
      const bool more = emitter_.emit(slot.item);
      lock.lock();
      slot.state = State::kFree;
      ++tail_;
      if (!more) return false;
    }
    return true;
  }

  void finished(uint64_t seq) {
    if (seq == waitingFor_) itemDone_.notify_one();
  }

  // Listings first (the walk waits on them), then, while the search is
  // ahead, the oldest drawing no one has taken.  No new fetch starts while
  // more than a few fetched drawings wait for a decoding thread: the reads
  // would only run ahead of the decoding.
  void ioLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      if (stop_) return;
      if (!listQueue_.empty()) {
        std::shared_ptr<ListJob> job = std::move(listQueue_.front());
        listQueue_.pop_front();
        lock.unlock();
        listNow(*job);
        lock.lock();
        job->done = true;
        listDone_.notify_all();
        continue;
      }
      // A fetched drawing holds room in the pool that a fetch may be waiting
      // for: it is decoded before anything new is fetched.
      if (fetched_ > 0 && decoding_ < jobs_ && decodeOldestFetched(lock)) continue;
      if (!ahead_ || nextPending() == head_ || fetched_ >= maxFetched()) {
        ++idleIo_;
        ioReady_.wait(lock);
        --idleIo_;
        continue;
      }
      const auto [seq, decode] = fetchNext(lock);
      if (!decode) continue;
      if (decoding_ < jobs_) {
        decodeHere(seq, lock);
      } else {
        at(seq).state = State::kFetched;
        ++fetched_;
        decodeReady_.notify_one();
      }
    }
  }

  size_t maxFetched() const { return 2 * static_cast<size_t>(jobs_); }

  // Fetches the next drawing in search order, the lock let go meanwhile;
  // called and left with the lock held.  Gives its place in the order and
  // whether it is to be decoded (a drawing passed over is done at once).
  std::pair<uint64_t, bool> fetchNext(std::unique_lock<std::mutex>& lock) {
    const uint64_t seq = nextFetch_++;
    Slot& slot = at(seq);
    slot.state = State::kFetching;
    lock.unlock();
    bool waited = false;
    const bool decode = Fetch(slot.item, pool_, options_, &waited);
    lock.lock();
    noted(waited);
    if (!decode) {
      slot.state = State::kDone;
      finished(seq);
    }
    return {seq, decode};
  }

  // Decodes the oldest fetched drawing on this thread; called and left with
  // the lock held.  False when there is none.
  bool decodeOldestFetched(std::unique_lock<std::mutex>& lock) {
    uint64_t seq = tail_;
    while (seq < head_ && at(seq).state != State::kFetched) ++seq;
    if (seq == head_) return false;
    --fetched_;
    if (idleIo_ > 0) ioReady_.notify_one();
    decodeHere(seq, lock);
    return true;
  }

  // Decodes item seq on this thread; called and left with the lock held.
  void decodeHere(uint64_t seq, std::unique_lock<std::mutex>& lock) {
    Slot& slot = at(seq);
    slot.state = State::kDecoding;
    ++decoding_;
    lock.unlock();
    Decode(slot.item, pool_, options_);
    lock.lock();
    --decoding_;
    slot.state = State::kDone;
    finished(seq);
    if (fetched_ > 0 && idleDecoders_ > 0) decodeReady_.notify_one();
  }

  // Decodes the fetched drawings that wait, the oldest first (the emitter
  // waits for the oldest); while the search is near, fetches the oldest
  // drawing no one has taken and decodes it.
  void decodeLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      if (stop_) return;
      if (fetched_ > 0 && decoding_ < jobs_ && decodeOldestFetched(lock)) continue;
      // No fetch while a fetched drawing waits: it holds room in the pool.
      if (fetched_ == 0 && (!ahead_ || !ioStarted_) && nextPending() < head_) {
        const auto [seq, decode] = fetchNext(lock);
        if (decode) decodeHere(seq, lock);
        continue;
      }
      ++idleDecoders_;
      decodeReady_.wait(lock);
      --idleDecoders_;
    }
  }

  void stopThreads() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    ioReady_.notify_all();
    decodeReady_.notify_all();
    pool_.shut();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    // Bytes of drawings fetched for nobody (the search stopped) go back.
    for (Slot& slot : ring_) {
      if (slot.item.image) pool_.release(slot.item.image);
      slot.item.image = nullptr;
    }
  }

  const SearchOptions& options_;
  Emitter& emitter_;
  BufferPool pool_;
  int jobs_ = 1;
  int depth_ = 1;
  // Everything happens on the calling thread: no thread is needed, or no
  // fetch has waited yet with one job.
  bool alone_ = false;
  // The inline item, kept from file to file.
  Item inline_;

  std::vector<Slot> ring_;
  std::deque<std::shared_ptr<ListJob>> listQueue_;
  // The decoding threads, then the I/O threads once started; only the
  // calling thread starts and joins them.
  std::vector<std::thread> threads_;
  std::mutex mu_;
  std::condition_variable ioReady_, decodeReady_, itemDone_, listDone_;
  // Sequence numbers of items: head_ pushed, tail_ emitted, nextFetch_ where
  // the fetching threads look for work; slot seq lives at ring_[seq % size].
  uint64_t head_ = 0, tail_ = 0, nextFetch_ = 0;
  uint64_t waitingFor_ = kNobody;
  bool ahead_ = false;      // fetches wait: the I/O threads fetch
  bool ioStarted_ = false;  // the I/O threads run
  int calm_ = 0;            // fetches in a row that did not wait, while ahead
  int idleIo_ = 0;          // I/O threads waiting for work
  int idleDecoders_ = 0;    // decoding threads waiting for work
  int decoding_ = 0;        // drawings being decoded
  size_t fetched_ = 0;      // drawings fetched and waiting to be decoded
  bool stop_ = false;
};

// The walk shared by the searches: what a file list entry and a folder slot
// contribute to the ordered stream of items.
class Walk {
 public:
  Walk(const SearchOptions& options, Pipeline& pipeline) : options_(options), pipeline_(pipeline) {}

  // True while the walk should go on; sees the cancel flag itself.
  bool go() {
    if (!pipeline_.producing()) return false;
    if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) {
      aborted_ = true;
      return false;
    }
    return true;
  }
  bool aborted() const { return aborted_; }

  bool status(StatusKind kind, const std::u16string& path) {
    Item item;
    item.kind = Item::Kind::kStatus;
    item.status = kind;
    item.text = path;
    return pipeline_.push(item);
  }

  bool file(std::u16string path, std::string native, int32_t listIndex, bool inSubfolder) {
    Item item;
    item.listIndex = listIndex;
    item.showFileStatus = true;
    item.inSubfolder = inSubfolder;
    if (IsDrawingExt(path, item.format)) {
      item.kind = Item::Kind::kDrawing;
    } else {
      item.kind = Item::Kind::kReport;
      item.outcome = FileOutcome::kNotDrawing;
    }
    item.text = std::move(path);
    item.native = std::move(native);
    return pipeline_.push(item);
  }

  bool report(std::u16string path, FileOutcome outcome, int error) {
    Item item;
    item.kind = Item::Kind::kReport;
    item.text = std::move(path);
    item.outcome = outcome;
    item.error = error;
    return pipeline_.push(item);
  }

  // One folder slot: its own drawings, then those of every folder below it,
  // level by level.  The listings of the folders next in line are fetched
  // ahead while the drawings of the earlier ones are read; they are taken in
  // queue order, so the order is that of one listing at a time.
  bool folder(std::u16string dir, bool subfolders) {
    if (dir.empty()) return true;
    std::string native = NativePath(dir);
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) {
      const int e = errno;
      if (e == ENOENT || e == ENOTDIR) return report(std::move(dir), FileOutcome::kNoFolder, e);
      return report(IncludeTrailingDelim(dir), FileOutcome::kUnlistable, e);
    }
    if (!S_ISDIR(st.st_mode)) return report(std::move(dir), FileOutcome::kNoFolder, ENOTDIR);
    dir = IncludeTrailingDelim(dir);
    if (native.empty() || native.back() != '/') native += '/';
    if (!status(StatusKind::kFolder, dir)) return false;

    struct Node {
      std::string native;
      std::u16string text;
      std::shared_ptr<ListJob> job;
    };
    std::vector<Node> queue;
    queue.push_back({std::move(native), std::move(dir), nullptr});
    std::set<std::pair<uint64_t, uint64_t>> entered;
    const size_t ahead = subfolders ? pipeline_.listingsAhead() : 1;
    for (size_t i = 0; i < queue.size(); ++i) {
      if (i > 0 && !go()) return false;
      for (size_t j = i; j < std::min(queue.size(), i + ahead); ++j)
        if (!queue[j].job) queue[j].job = pipeline_.list(queue[j].native);
      std::shared_ptr<ListJob> job = std::move(queue[i].job);
      FolderContents& c = pipeline_.take(*job);
      const Node& node = queue[i];
      const bool inSubfolder = i > 0;
      if (c.error != 0) {
        // The search gets nothing from it: neither may the cache.
        if (options_.cache) {
          const std::vector<std::string> none;
          options_.cache->folderListed(node.native, none, subfolders ? &none : nullptr);
        }
        if (!report(node.text, FileOutcome::kUnlistable, c.error)) return false;
        continue;
      }
      // A folder reached again through a link is not searched again.
      if ((c.device != 0 || c.inode != 0) && !entered.insert({c.device, c.inode}).second) continue;
      if (options_.cache) {
        // Its drawings, and the folders the walk goes into from it.
        std::vector<std::string> drawings, below;
        for (const FolderEntry& e : c.entries) {
          if (e.kind == EntryKind::kFile && IsDrawingName(e.name)) drawings.push_back(e.native);
          if (e.kind == EntryKind::kFolder) below.push_back(e.native);
        }
        options_.cache->folderListed(node.native, drawings, subfolders ? &below : nullptr);
      }
      for (FolderEntry& e : c.entries) {
        if (e.kind == EntryKind::kFolder && subfolders)
          queue.push_back({queue[i].native + e.native + "/", queue[i].text + e.name + u"/", nullptr});
        const Node& here = queue[i];
        switch (e.kind) {
          case EntryKind::kFile:
            if (!WildcardMatch(u"*.jw*", e.name)) break;
            if (!go()) return false;
            if (!file(here.text + e.name, here.native + e.native, -1, inSubfolder)) return false;
            break;
          case EntryKind::kFolder:
          case EntryKind::kOther:
            // Named like a drawing but none: said, not opened.
            if (!IsDrawingName(e.name)) break;
            if (!go()) return false;
            if (!report(here.text + e.name, FileOutcome::kNotRegular, 0)) return false;
            break;
          case EntryKind::kBroken:
            if (!go()) return false;
            if (!report(here.text + e.name, e.error == ENOENT ? FileOutcome::kMissing : FileOutcome::kUnreadable,
                        e.error))
              return false;
            break;
        }
      }
    }
    return true;
  }

 private:
  const SearchOptions& options_;
  Pipeline& pipeline_;
  bool aborted_ = false;
};

template <class Produce>
SearchResult RunSearch(const SearchOptions& options, SearchObserver& observer, StatusKind finalStatus,
                       Produce&& produce) {
  Emitter emitter(options, observer);
  {
    Pipeline pipeline(options, emitter);
    Walk walk(options, pipeline);
    pipeline.run([&] { produce(walk); });
    if (walk.aborted()) emitter.markAborted();
  }
  if (options.cache) options.cache->finish();
  emitter.result().started = true;
  return emitter.finish(finalStatus);
}

}  // namespace

SearchResult SearchFileList(const std::vector<std::u16string>& items, const SearchOptions& options,
                            SearchObserver& observer) {
  if (items.empty()) return SearchResult{};
  observer.clearSelection();
  return RunSearch(options, observer, StatusKind::kFilePage, [&](Walk& walk) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (!walk.go()) return;
      if (!walk.file(items[k], NativePath(items[k]), static_cast<int32_t>(k), false)) return;
    }
  });
}

SearchResult SearchFolders(const std::vector<FolderSlot>& slots, const SearchOptions& options,
                           SearchObserver& observer) {
  observer.status(StatusKind::kSearching, {});
  return RunSearch(options, observer, StatusKind::kFolderPage, [&](Walk& walk) {
    for (const FolderSlot& slot : slots) {
      if (!walk.go()) return;
      if (!slot.search) continue;
      if (!walk.folder(slot.folder, slot.subfolders)) return;
    }
  });
}

SearchResult SearchEntries(const std::vector<SearchEntry>& entries, const SearchOptions& options,
                           SearchObserver& observer) {
  return RunSearch(options, observer, StatusKind::kNone, [&](Walk& walk) {
    for (const SearchEntry& e : entries) {
      if (!walk.go()) return;
      bool more = e.folder ? walk.folder(e.path, e.subfolders) : walk.file(e.path, NativePath(e.path), -1, false);
      if (!more) return;
    }
  });
}

}  // namespace tarnwick
