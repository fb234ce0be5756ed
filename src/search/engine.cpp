#include "search/engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>

#include "jw/block_names.h"
#include "jw/file_image.h"
#include "search/folder_tree.h"
#include "search/search_cache.h"
#include "text/file_listing.h"
#include "text/path_utils.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {

const std::u16string kStatusFilePage =
    u"[追加]又はドラッグ＆ドロップで JWW/JWSファイルを指示し、[検索]をクリックして下さい";
const std::u16string kStatusFolderPage = u"検索するフォルダを指定し、□検索にチェックを入れ、[検索]をクリックして下さい";
const std::u16string kStatusSearching = u"検索中";
const std::u16string kAbortMessage = u"[ESC]キーを押しましたので検索を中断します";
const std::u16string kAbortTitle = u"警告";

std::u16string FileStatus(const std::u16string& path) { return u"ファイル【" + path + u"】検索中"; }
std::u16string FolderStatus(const std::u16string& folder) { return u"フォルダ【" + folder + u"】検索中"; }

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

bool FolderExists(const std::u16string& folder) {
  struct stat st {};
  return stat(NativePath(folder).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One step of a search, in search order: a status text, a drawing to read,
// or a file passed over.
struct Item {
  enum class Kind { kStatus, kDrawing, kPassOver, kNoFolder } kind = Kind::kStatus;
  std::u16string text;  // the status text, or the path
  int32_t listIndex = -1;
  bool inSubfolder = false;
  bool showFileStatus = false;
  DrawingFormat format = DrawingFormat::kJww;
  // Filled by the reader.
  FileOutcome outcome = FileOutcome::kRead;
  int error = 0;
  bool fromCache = false;
  BlockNameList names;

  // Takes what the walk asked for from `from`; the result part keeps its
  // memory for the next drawing.
  void take(Item& from) {
    kind = from.kind;
    text.swap(from.text);
    listIndex = from.listIndex;
    inSubfolder = from.inSubfolder;
    showFileStatus = from.showFileStatus;
    format = from.format;
  }
};

// A reader's buffer: room for every drawing of a usual size, set aside once;
// a buffer grown past kMaxKeptImage for an unusually large drawing is not
// kept.
constexpr size_t kReservedImage = size_t(16) << 20;
constexpr size_t kMaxKeptImage = size_t(64) << 20;

FileStamp StampOf(const FileStat& s) { return {s.device, s.inode, s.size, s.mtimeNs, s.ctimeNs}; }

// The outcome of a drawing, from the load and the names read.
FileOutcome OutcomeOf(LoadStatus load, const BlockNameList& names) {
  switch (load) {
    case LoadStatus::kOk: break;
    case LoadStatus::kNotFound: return FileOutcome::kMissing;
    case LoadStatus::kNotRegular: return FileOutcome::kNotRegular;
    case LoadStatus::kUnreadable: return FileOutcome::kUnreadable;
  }
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
bool FromCache(Item& item, const std::string& native, SearchCache& cache) {
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::optional<DrawingRecord> rec = cache.lookup(native, StampOf(StatOf(st)));
  if (!rec || !Recordable(rec->outcome)) return false;
  item.outcome = rec->outcome;
  item.names.check = rec->outcome != FileOutcome::kNotOfFormat;
  item.names.ok = rec->outcome == FileOutcome::kRead;
  item.names.names = std::move(rec->names);
  item.names.cutName = rec->cutName >= 0 && static_cast<size_t>(rec->cutName) < item.names.names.size() ? rec->cutName : -1;
  item.fromCache = true;
  return true;
}

void ReadItem(Item& item, FileImage& image, int codePage, SearchCache* cache) {
  item.names.check = item.names.ok = false;
  item.names.names.clear();
  item.names.cutName = -1;
  item.error = 0;
  item.fromCache = false;
  const std::string native = NativePath(item.text);
  if (cache && FromCache(item, native, *cache)) return;
  try {
    image.reserve(kReservedImage);
  } catch (const std::bad_alloc&) {
    // load() asks for what the file needs.
  }
  LoadStatus load = LoadStatus::kUnreadable;
  try {
    load = image.load(native);
    item.error = image.error();
    if (load == LoadStatus::kOk) ReadBlockNames(image.data(), image.size(), item.format, item.names, codePage);
  } catch (const std::bad_alloc&) {
    // Out of memory for this drawing alone: it is reported and the search goes on.
    load = LoadStatus::kUnreadable;
    item.error = ENOMEM;
    item.names.check = item.names.ok = false;
    item.names.names.clear();
  }
  item.outcome = OutcomeOf(load, item.names);
  if (cache && Recordable(item.outcome)) {
    DrawingRecord rec;
    rec.outcome = item.outcome;
    rec.names = item.names.names;
    rec.cutName = item.names.cutName;
    cache->record(native, StampOf(image.stat()), rec);
  }
  image.trim(kMaxKeptImage);
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
      case Item::Kind::kStatus: observer_.status(item.text); break;
      case Item::Kind::kPassOver: observer_.file({item.text, FileOutcome::kNotDrawing, 0}); break;
      case Item::Kind::kNoFolder: observer_.file({item.text, FileOutcome::kNoFolder, 0}); break;
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

  SearchResult finish(const std::u16string& finalStatus) {
    if (result_.aborted) observer_.aborted();
    observer_.status(finalStatus);
    return result_;
  }

  SearchResult& result() { return result_; }

 private:
  void emitDrawing(Item& item) {
    if (item.listIndex >= 0) observer_.selectItem(item.listIndex, true);
    if (item.showFileStatus) observer_.status(FileStatus(item.text));
    ++result_.filesRead;
    FileReport report{item.text, item.outcome, 0, item.error, item.fromCache};
    report.cutName = item.names.cutName;
    if (report.cutName >= 0) report.cutText = CutAtFlag(item.names.names[static_cast<size_t>(report.cutName)], item.inSubfolder);
    const std::u16string fileName = RowFileName(item.text);
    size_t n = 0;
    for (std::u16string& block : item.names.names) {
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
  if (options.jobs > 0) return options.jobs;
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

// Where the walk puts its items.  With one job everything happens inline on
// the calling thread.  With more, reader threads read the drawings while the
// calling thread walks the files and folders and emits the finished items in
// order.  At most `window` items are on their way at any time (pushed and not
// yet emitted): the walk waits for the oldest one when the window is full, so
// memory holds one file image per reader and the names of at most `window`
// files.
class Pipeline {
 public:
  Pipeline(const SearchOptions& options, Emitter& emitter) : options_(options), emitter_(emitter) {
    jobs_ = JobCount(options);
    if (parallel()) ring_.resize(static_cast<size_t>(jobs_) * kItemsPerJob);
  }
  ~Pipeline() { stopReaders(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  bool parallel() const { return jobs_ > 1; }

  // The walk's side, on the calling thread.  False once the search must stop.
  bool push(Item& item) {
    if (!parallel()) {
      inline_.take(item);
      if (inline_.kind == Item::Kind::kDrawing) ReadItem(inline_, image_, options_.codePage, options_.cache);
      return emitter_.emit(inline_);
    }
    if (!emitFinished(ring_.size() - 1)) return false;
    const bool drawing = item.kind == Item::Kind::kDrawing;
    Slot& slot = at(head_);
    slot.item.take(item);
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mu_);
      slot.state = drawing ? State::kPending : State::kDone;
      ++head_;
      wake = drawing && idleReaders_ > 0;
    }
    if (wake) workReady_.notify_one();
    return true;
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
    for (int i = 0; i < jobs_; ++i) readers_.emplace_back([this] { readerLoop(); });
    produce();
    emitFinished(0);
    stopReaders();
  }

 private:
  static constexpr size_t kItemsPerJob = 16;
  static constexpr uint64_t kNobody = ~uint64_t(0);

  enum class State { kFree, kPending, kReading, kDone };
  struct Slot {
    Item item;
    State state = State::kFree;
  };

  Slot& at(uint64_t seq) { return ring_[static_cast<size_t>(seq % ring_.size())]; }

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

  void readerLoop() {
    FileImage image;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      if (stop_) return;
      // The oldest item no reader has taken.
      if (next_ < tail_) next_ = tail_;
      while (next_ < head_ && at(next_).state != State::kPending) ++next_;
      if (next_ == head_) {
        ++idleReaders_;
        workReady_.wait(lock);
        --idleReaders_;
        continue;
      }
      const uint64_t seq = next_++;
      Slot& slot = at(seq);
      slot.state = State::kReading;
      lock.unlock();
      ReadItem(slot.item, image, options_.codePage, options_.cache);
      lock.lock();
      slot.state = State::kDone;
      if (seq == waitingFor_) itemDone_.notify_one();
    }
  }

  void stopReaders() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    workReady_.notify_all();
    for (std::thread& t : readers_) t.join();
    readers_.clear();
  }

  const SearchOptions& options_;
  Emitter& emitter_;
  int jobs_ = 1;
  // The inline reader's item and buffer, kept from file to file.
  Item inline_;
  FileImage image_;

  std::vector<Slot> ring_;
  std::vector<std::thread> readers_;
  std::mutex mu_;
  std::condition_variable workReady_, itemDone_;
  // Sequence numbers of items: head_ pushed, tail_ emitted, next_ where the
  // readers look for work; slot seq lives at ring_[seq % size].
  uint64_t head_ = 0, tail_ = 0, next_ = 0;
  uint64_t waitingFor_ = kNobody;
  int idleReaders_ = 0;
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

  bool status(const std::u16string& text) {
    Item item;
    item.kind = Item::Kind::kStatus;
    item.text = text;
    return pipeline_.push(item);
  }

  bool file(const std::u16string& path, int32_t listIndex, bool showStatus, bool inSubfolder) {
    Item item;
    item.text = path;
    item.listIndex = listIndex;
    item.showFileStatus = showStatus;
    item.inSubfolder = inSubfolder;
    item.kind = IsDrawingExt(path, item.format) ? Item::Kind::kDrawing : Item::Kind::kPassOver;
    return pipeline_.push(item);
  }

  bool noFolder(const std::u16string& path) {
    Item item;
    item.kind = Item::Kind::kNoFolder;
    item.text = path;
    return pipeline_.push(item);
  }

  // The drawings directly in dir (which ends with a separator).  The cache
  // hears of the listing with the folders the walk goes into from dir
  // (subfolders), or without them (nullptr) when the walk goes no deeper;
  // tell false keeps the listing in listed_ to be told later.
  bool folderFiles(const std::u16string& dir, bool inSubfolder, const std::vector<std::string>* subfolders,
                   bool tell = true) {
    ListFiles(dir, u"*.jw*", listing_);
    listed_ = false;
    if (options_.cache && listing_.error == 0) {
      listedDrawings_.clear();
      DrawingFormat format;
      for (const TFileField& f : listing_.sFileList)
        if (IsDrawingExt(f.name, format)) listedDrawings_.push_back(NativePath(f.name));
      listed_ = true;
      if (tell) options_.cache->folderListed(NativePath(dir), listedDrawings_, subfolders);
    }
    for (int32_t j = 0; j < listing_.nFileList; ++j) {
      if (!go()) return false;
      if (!file(dir + listing_.sFileList[static_cast<size_t>(j)].name, -1, true, inSubfolder)) return false;
    }
    return true;
  }

  // One folder slot: its own drawings, then those of every folder below it.
  bool folder(std::u16string dir, bool subfolders) {
    if (dir.empty() || !FolderExists(dir)) return dir.empty() || noFolder(dir);
    dir = IncludeTrailingDelim(dir);
    if (!status(FolderStatus(dir))) return false;
    if (!folderFiles(dir, false, nullptr, !subfolders)) return false;
    if (!subfolders || !go()) return !aborted_;
    const bool rootListed = listed_;
    std::vector<std::string> rootDrawings;
    rootDrawings.swap(listedDrawings_);
    if (GetFolderTree(dir, tree_, options_.cancel) < 0) {
      aborted_ = true;
      return false;
    }
    // The folders the walk goes into from each folder, in walk order.
    std::vector<std::vector<std::string>> children;
    std::vector<std::string> rootChildren;
    if (options_.cache) {
      children.resize(tree_.sFTree.size());
      for (const TFolderTreeFormat& e : tree_.sFTree)
        (e.Pidx < 0 ? rootChildren : children[static_cast<size_t>(e.Pidx)]).push_back(NativePath(e.FName));
      if (rootListed) options_.cache->folderListed(NativePath(dir), rootDrawings, &rootChildren);
    }
    for (int32_t t = 0; t < tree_.nFTree; ++t) {
      if (!go()) return false;
      const std::vector<std::string>* below = options_.cache ? &children[static_cast<size_t>(t)] : nullptr;
      if (!folderFiles(tree_.sFTree[static_cast<size_t>(t)].FullName + u"/", true, below)) return false;
    }
    return true;
  }

  void finish() {
    ClearFolderTree(tree_);
    ClearFileList(listing_);
  }

 private:
  const SearchOptions& options_;
  Pipeline& pipeline_;
  FileListing listing_;
  FolderTree tree_;
  std::vector<std::string> listedDrawings_;
  bool listed_ = false;
  bool aborted_ = false;
};

template <class Produce>
SearchResult RunSearch(const SearchOptions& options, SearchObserver& observer, const std::u16string& finalStatus,
                       Produce&& produce) {
  Emitter emitter(options, observer);
  Pipeline pipeline(options, emitter);
  Walk walk(options, pipeline);
  pipeline.run([&] {
    produce(walk);
    walk.finish();
  });
  if (walk.aborted()) emitter.markAborted();
  if (options.cache) options.cache->finish();
  emitter.result().started = true;
  return emitter.finish(finalStatus);
}

}  // namespace

SearchResult SearchFileList(const std::vector<std::u16string>& items, const SearchOptions& options,
                            SearchObserver& observer) {
  if (items.empty()) return SearchResult{};
  observer.clearSelection();
  return RunSearch(options, observer, kStatusFilePage, [&](Walk& walk) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (!walk.go()) return;
      if (!walk.file(items[k], static_cast<int32_t>(k), true, false)) return;
    }
  });
}

SearchResult SearchFolders(const std::vector<FolderSlot>& slots, const SearchOptions& options,
                           SearchObserver& observer) {
  observer.status(kStatusSearching);
  return RunSearch(options, observer, kStatusFolderPage, [&](Walk& walk) {
    for (const FolderSlot& slot : slots) {
      if (!walk.go()) return;
      if (!slot.search) continue;
      if (!walk.folder(slot.folder, slot.subfolders)) return;
    }
  });
}

SearchResult SearchEntries(const std::vector<SearchEntry>& entries, const SearchOptions& options,
                           SearchObserver& observer) {
  return RunSearch(options, observer, u"", [&](Walk& walk) {
    for (const SearchEntry& e : entries) {
      if (!walk.go()) return;
      bool more = e.folder ? walk.folder(e.path, e.subfolders) : walk.file(e.path, -1, true, false);
      if (!more) return;
    }
  });
}

}  // namespace tarnwick
