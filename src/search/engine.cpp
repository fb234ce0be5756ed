#include "search/engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "jw/block_names.h"
#include "jw/file_image.h"
#include "search/folder_tree.h"
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
  }
  return "";
}

std::u16string CutAtFlag(const std::u16string& name, bool inSubfolder) {
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
  std::u16string ext;
  try {
    ext = FileExtLower(path);
  } catch (const std::invalid_argument&) {
    return false;
  }
  if (ext == u".jww") {
    format = DrawingFormat::kJww;
    return true;
  }
  if (ext == u".jws") {
    format = DrawingFormat::kJws;
    return true;
  }
  return false;
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
  LoadStatus load = LoadStatus::kOk;
  BlockNameList names;
  bool done = false;
};

void ReadItem(Item& item, FileImage& image, int codePage) {
  item.load = image.load(NativePath(item.text));
  if (item.load == LoadStatus::kOk) ReadBlockNames(image.data(), image.size(), item.format, item.names, codePage);
  // A buffer grown for an unusually large drawing is not kept.
  image.trim(size_t(64) << 20);
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

  // Set by the producer when it saw the cancel flag itself.
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
    FileReport report{item.text, FileOutcome::kRead, 0};
    switch (item.load) {
      case LoadStatus::kOk: break;
      case LoadStatus::kNotFound: report.outcome = FileOutcome::kMissing; break;
      case LoadStatus::kNotRegular: report.outcome = FileOutcome::kNotRegular; break;
      case LoadStatus::kUnreadable: report.outcome = FileOutcome::kUnreadable; break;
    }
    if (item.load == LoadStatus::kOk) {
      if (!item.names.check)
        report.outcome = FileOutcome::kNotOfFormat;
      else if (!item.names.ok)
        report.outcome = FileOutcome::kDamaged;
    }
    rows_.clear();
    const std::u16string fileName = RowFileName(item.text);
    for (const std::u16string& stored : item.names.names) {
      std::u16string block = CutAtFlag(stored, item.inSubfolder);
      if (options_.keep && !options_.keep(block)) continue;
      if (options_.rowCap > 0 && result_.rowCount >= options_.rowCap) {
        result_.capReached = true;
        stop_ = true;
        break;
      }
      ++result_.rowCount;
      rows_.push_back({fileName, item.text, std::move(block)});
    }
    report.definitions = static_cast<int32_t>(rows_.size());
    if (!rows_.empty()) observer_.rows(rows_);
    observer_.file(report);
    // The entry stays highlighted when the cap ended the search on it.
    if (item.listIndex >= 0 && !result_.capReached) observer_.selectItem(item.listIndex, false);
  }

  const SearchOptions& options_;
  SearchObserver& observer_;
  SearchResult result_;
  std::vector<SearchRow> rows_;
  bool stop_ = false;
};

int JobCount(const SearchOptions& options) {
  if (options.jobs > 0) return options.jobs;
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

// Where the producer puts its items.  With one job everything happens inline
// on the calling thread; with more, the producer (the walk over files and
// folders) runs on a thread of its own, readers on N threads, and the
// calling thread emits the finished items in order.
class Pipeline {
 public:
  Pipeline(const SearchOptions& options, Emitter& emitter) : options_(options), emitter_(emitter) {
    jobs_ = JobCount(options);
    window_ = static_cast<size_t>(jobs_) * 4;
  }

  bool parallel() const { return jobs_ > 1; }

  // Producer side.  False once the search must stop.
  bool push(Item item) {
    if (!parallel()) {
      if (item.kind == Item::Kind::kDrawing) ReadItem(item, image_, options_.codePage);
      return emitter_.emit(item);
    }
    auto shared = std::make_shared<Item>(std::move(item));
    std::unique_lock<std::mutex> lock(mu_);
    spaceFree_.wait(lock, [&] { return stop_ || queue_.size() < window_; });
    if (stop_) return false;
    if (shared->kind == Item::Kind::kDrawing) {
      work_.push_back(shared.get());
      workReady_.notify_one();
    } else {
      shared->done = true;
    }
    queue_.push_back(std::move(shared));
    itemDone_.notify_all();
    return true;
  }

  // True while the producer should go on; it polls this at its own checks.
  bool producing() const {
    if (!parallel()) return !emitter_.stopped();
    std::lock_guard<std::mutex> lock(mu_);
    return !stop_;
  }

  // Runs the producer to its end.
  template <class Produce>
  void run(Produce&& produce) {
    if (!parallel()) {
      produce();
      return;
    }
    std::vector<std::thread> readers;
    for (int i = 0; i < jobs_; ++i) readers.emplace_back([this] { readerLoop(); });
    std::thread producer([&] {
      produce();
      std::lock_guard<std::mutex> lock(mu_);
      producerDone_ = true;
      itemDone_.notify_all();
    });
    consume();
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    spaceFree_.notify_all();
    workReady_.notify_all();
    producer.join();
    for (std::thread& t : readers) t.join();
  }

 private:
  void readerLoop() {
    FileImage image;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      workReady_.wait(lock, [&] { return stop_ || !work_.empty(); });
      if (stop_) return;
      Item* item = work_.front();
      work_.pop_front();
      lock.unlock();
      ReadItem(*item, image, options_.codePage);
      lock.lock();
      item->done = true;
      itemDone_.notify_all();
    }
  }

  void consume() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      itemDone_.wait(lock, [&] { return (!queue_.empty() && queue_.front()->done) || (queue_.empty() && producerDone_); });
      if (queue_.empty()) return;
      std::shared_ptr<Item> item = std::move(queue_.front());
      queue_.pop_front();
      spaceFree_.notify_one();
      lock.unlock();
      bool more = emitter_.emit(*item);
      lock.lock();
      if (!more) return;
    }
  }

  const SearchOptions& options_;
  Emitter& emitter_;
  int jobs_ = 1;
  size_t window_ = 4;
  FileImage image_;  // the inline reader's buffer

  mutable std::mutex mu_;
  std::condition_variable spaceFree_, workReady_, itemDone_;
  std::deque<std::shared_ptr<Item>> queue_;
  std::deque<Item*> work_;
  bool stop_ = false;
  bool producerDone_ = false;
};

// The walk shared by the searches: what a file list entry and a folder slot
// contribute to the ordered stream of items.
class Walk {
 public:
  Walk(const SearchOptions& options, Pipeline& pipeline, Emitter& emitter)
      : options_(options), pipeline_(pipeline), emitter_(emitter) {}

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
    return pipeline_.push(std::move(item));
  }

  bool file(const std::u16string& path, int32_t listIndex, bool showStatus, bool inSubfolder) {
    Item item;
    item.text = path;
    item.listIndex = listIndex;
    item.showFileStatus = showStatus;
    item.inSubfolder = inSubfolder;
    item.kind = IsDrawingExt(path, item.format) ? Item::Kind::kDrawing : Item::Kind::kPassOver;
    return pipeline_.push(std::move(item));
  }

  bool noFolder(const std::u16string& path) {
    Item item;
    item.kind = Item::Kind::kNoFolder;
    item.text = path;
    return pipeline_.push(std::move(item));
  }

  // The drawings directly in dir (which ends with a separator).
  bool folderFiles(const std::u16string& dir, bool inSubfolder) {
    ListFiles(dir, u"*.jw*", listing_);
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
    if (!folderFiles(dir, false)) return false;
    if (!subfolders || !go()) return !aborted_;
    if (GetFolderTree(dir, tree_, options_.cancel) < 0) {
      aborted_ = true;
      return false;
    }
    for (int32_t t = 0; t < tree_.nFTree; ++t) {
      if (!go()) return false;
      if (!folderFiles(tree_.sFTree[static_cast<size_t>(t)].FullName + u"/", true)) return false;
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
  Emitter& emitter_;
  FileListing listing_;
  FolderTree tree_;
  bool aborted_ = false;
};

template <class Produce>
SearchResult RunSearch(const SearchOptions& options, SearchObserver& observer, const std::u16string& finalStatus,
                       Produce&& produce) {
  Emitter emitter(options, observer);
  Pipeline pipeline(options, emitter);
  Walk walk(options, pipeline, emitter);
  pipeline.run([&] {
    produce(walk);
    walk.finish();
  });
  if (walk.aborted()) emitter.markAborted();
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
