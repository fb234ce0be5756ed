// The index: an SQLite database of earlier reads, kept as a cache.  It holds,
// for every drawing a search read, its stat data, its outcome and its
// definitions' names, and for every folder a search listed, its drawings and
// subfolders in walk order.  A database that cannot be used is reported once
// and then answers nothing and keeps nothing, so a search through it gives
// the rows of a search without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "search/search_cache.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tarnwick {

struct IndexOptions {
  // A record is trusted by a later search only when its file's modification
  // and change times lie at least this far before the search that read it
  // began: a change made within the file system's timestamp granularity of
  // the read would leave the stat data as it was.  Two seconds covers FAT
  // and SMB servers.
  int64_t racyWindowNs = 2'000'000'000;
  // Wall clock, nanoseconds since the epoch; the system clock when empty.
  std::function<int64_t()> clock;
  // How long to wait for another search that is writing the index.
  int busyTimeoutMs = 10000;
  // The file is the program's own cache: a file there that cannot be used is
  // replaced by a new index.  Otherwise such a file is left untouched and
  // the search runs without it.
  bool replaceUnusable = false;
  // Told once, in English, when the index cannot be used.
  std::function<void(const std::string&)> report;
};

// What the index holds of one drawing.
struct StoredDrawing {
  int64_t id = 0;
  FileStamp stamp;
  bool trusted = false;
  DrawingRecord record;
};

// What the index holds of one listed folder.
struct StoredFolder {
  int64_t id = 0;
  std::string path;  // native bytes, ending with "/"
  std::vector<std::string> drawings;
  std::vector<std::string> subfolders;
};

// One read of a search, waiting to be written.
struct PendingRecord {
  std::string path;
  FileStamp stamp;
  bool trusted = false;
  DrawingRecord record;
  // The names as stored and their keys, made by IndexDb::Prepare outside
  // the index's lock (write makes them itself when Prepare was not called).
  bool prepared = false;
  std::string packedNames;
  std::vector<std::string> keys;
};

struct PendingListing {
  std::string folder;
  std::vector<std::string> drawings;
  // Unknown when the search did not go below the folder.
  std::optional<std::vector<std::string>> subfolders;
};

// Every member may be called from several threads at once.
class IndexDb {
 public:
  // Opens the index at path (native bytes), creating it with the user's
  // rights alone (0600) when it does not exist.  Never null: see usable().
  static std::unique_ptr<IndexDb> Open(const std::string& path, IndexOptions options = {});
  ~IndexDb();
  IndexDb(const IndexDb&) = delete;
  IndexDb& operator=(const IndexDb&) = delete;

  // False once the index has failed: it answers nothing and keeps nothing.
  bool usable() const;
  // Why it cannot be used; empty while it can.
  std::string problem() const;
  const IndexOptions& options() const { return options_; }
  int64_t now() const;

  // Gives find() a connection of its own, so that the lookups of a search
  // do not wait while its reads are being written (the write-ahead log lets
  // them read beside the writer).  Without it, find() reads in the
  // transaction of beginRead().
  void openLookups();
  // The record of the drawing at path, trusted or not.
  std::optional<StoredDrawing> find(const std::string& path);
  // Makes what write needs of a record ahead of it, on any thread.  Names
  // repeat across an archive: memo, when given, keeps the keys made so far.
  using KeyMemo = std::unordered_map<std::u16string, std::string>;
  static void Prepare(PendingRecord& record, KeyMemo* memo = nullptr);
  // Writes the reads and listings of a search in one transaction.
  void write(const std::vector<PendingRecord>& records, const std::vector<PendingListing>& listings);

  // For answers from the index alone, between beginRead() and endRead(): one
  // read transaction, so that the answer is of one state of the index.
  void beginRead();
  void endRead();
  std::optional<StoredFolder> folder(const std::string& path);
  // Every listed folder whose path begins with prefix, without its
  // drawings (see folderDrawings).
  std::vector<StoredFolder> foldersBelow(const std::string& prefix);
  // The drawings of a listed folder, in listing order, each followed by a
  // NUL byte.
  std::string folderDrawings(int64_t folderId);
  // The drawings of the given folders (by folder id), without their names
  // when withNames is false.
  struct FolderDrawing {
    int64_t folderId = 0;
    std::string name;
    StoredDrawing drawing;
    // From drawingsMatching: which of the names may hold the key (the
    // others cannot); empty when any may.
    std::vector<bool> mayMatch;
  };
  std::vector<FolderDrawing> drawingsIn(const std::vector<int64_t>& folderIds);
  // The drawings whose definitions' keys may contain key (a superset of the
  // drawings whose key contains it), and those that were not read to their
  // end, so that their reports can be given.
  std::vector<FolderDrawing> drawingsMatching(const std::u16string& key);

  // For tests: "ok" when the database is sound.
  std::string integrityCheck();

  // Drawings with more definitions than this are not kept.
  static constexpr int64_t kMaxNames = int64_t(1) << 20;

 private:
  IndexDb(std::string path, IndexOptions options);
  // What an opened file is good for.
  enum class Fit {
    kOk,       // an index of this version
    kOurs,     // an index of ours that cannot be used as it is: rebuilt
    kForeign,  // not an index of ours: replaced only where the file is ours
    kKeep,     // left alone (a newer version, or it cannot be read now)
  };
  bool openFile();
  Fit setUp();
  bool replace();
  void fail(const std::string& what);
  void failSql(const char* what, int rc, sqlite3* connection = nullptr);
  sqlite3_stmt* prepare(const char* sql);
  bool exec(const char* sql);

  const std::string path_;
  const IndexOptions options_;
  mutable std::mutex mu_;
  sqlite3* db_ = nullptr;
  std::atomic<bool> usable_ = false;
  bool ours_ = false;     // the header says it is one of our indexes
  bool damaged_ = false;  // and reading it met damage
  bool busy_ = false;     // the last failure was a lock another connection held
  bool holdReports_ = false;  // setting up, when a refused lock is tried again
  void closeForRetry();
  std::string problem_;
  std::vector<sqlite3_stmt*> statements_;
  sqlite3_stmt* findDrawing_ = nullptr;
  sqlite3_stmt* folderStatement_ = nullptr;
  sqlite3_stmt* folderDrawingsStatement_ = nullptr;
  sqlite3_stmt* drawingsInStatement_ = nullptr;
  sqlite3_stmt* drawingByIdStatement_ = nullptr;
  std::vector<sqlite3_stmt*> writeStatements_;
  // The connection of find() once openLookups() has made it.
  std::mutex lookupMu_;
  std::atomic<bool> lookupsOpen_ = false;
  sqlite3* lookupDb_ = nullptr;
  sqlite3_stmt* lookupFind_ = nullptr;
};

}  // namespace tarnwick
