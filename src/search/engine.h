// The search engine: files and folders in, result rows out, in a fixed
// order.  The command-line tool and the desktop app are shells over it.
//
// Drawings are read and decoded on several threads, but everything the
// engine reports (rows, status texts, list selection, per-file outcomes)
// reaches the observer on the calling thread in exactly the order of a
// one-file-at-a-time search, and the row cap and the cancel flag act at the
// same places in that order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

inline constexpr int32_t kDefaultRowCap = 32766;
// Drawings being opened and read at once, apart from the decoding threads:
// on a file server every open and read waits a round trip, so the depth, not
// the cores, hides the latency.
inline constexpr int kDefaultIoDepth = 32;
// File bytes read and not yet decoded, at most (a single larger file is
// still read, alone).
inline constexpr size_t kDefaultInFlightBytes = size_t(128) << 20;

// One result row: the file name, the full path as the search built it and
// the defined block name.
struct SearchRow {
  std::u16string fileName;
  std::u16string path;
  std::u16string block;
};

// One folder slot: search this folder, and its subfolders too when asked.
struct FolderSlot {
  bool search = false;
  std::u16string folder;
  bool subfolders = false;
};

// One entry of a mixed search (the command line): a file taken like an entry
// of the file list, or a folder taken like a checked slot.
struct SearchEntry {
  std::u16string path;
  bool folder = false;
  bool subfolders = false;
};

enum class FileOutcome {
  kRead,          // read to its end
  kNotDrawing,    // extension is not .jww or .jws: passed over
  kMissing,       // no such file
  kNotRegular,    // a folder, FIFO, device or socket
  kUnreadable,    // no rights, or a read failed
  kNotOfFormat,   // refused by the file check (magic or version)
  kDamaged,       // read stopped part-way; the definitions found are listed
  kNoFolder,      // a folder entry or slot that names no folder
  kUnlistable,    // a folder that exists but cannot be listed
};

struct FileReport {
  std::u16string path;
  FileOutcome outcome = FileOutcome::kRead;
  int32_t definitions = 0;  // rows the file gave before the cap
  int error = 0;            // the errno behind the outcome, 0 when there is none
  bool fromCache = false;   // the rows came from the cache; the file was not opened
  // The stored position (from 0) of the definition whose name the end of a
  // damaged file cut short, or -1; cutText is that name as its row shows it.
  int32_t cutName = -1;
  std::u16string cutText{};
};

const char* FileOutcomeText(FileOutcome o);

// Receives what a search reports, always on the thread that runs the search.
class SearchObserver {
 public:
  virtual ~SearchObserver() = default;
  // The status text of the window.
  virtual void status(const std::u16string&) {}
  // File-list searches highlight the entry being read.
  virtual void clearSelection() {}
  virtual void selectItem(int32_t /*index*/, bool /*selected*/) {}
  // The rows of one file, in stored order.
  virtual void rows(const std::vector<SearchRow>& /*rows*/) {}
  // Every file the search took or passed over.
  virtual void file(const FileReport&) {}
  // The search stopped because the cancel flag was set; called once, before
  // the final status text.
  virtual void aborted() {}
};

class SearchCache;  // search/search_cache.h

struct SearchOptions {
  int32_t rowCap = kDefaultRowCap;  // 0 or less: no cap
  int jobs = 0;                     // threads decoding drawings; 0: one per hardware thread
  int ioDepth = kDefaultIoDepth;    // drawings opened and read at once; folders listed ahead
  size_t inFlightBytes = kDefaultInFlightBytes;
  int codePage = 932;
  // Rows are kept only when their block name passes (the command line's
  // --match); empty means every row.
  std::function<bool(const std::u16string& block)> keep;
  // Stands for the Escape key: the search stops at its next check once set.
  const std::atomic<bool>* cancel = nullptr;
  // Earlier reads to reuse (the index); none: every drawing is read.
  SearchCache* cache = nullptr;
  // Called on the thread that opens a drawing (folder false) or lists a
  // folder (folder true), just before, with the path's bytes.  For tests: a
  // slow file server, or files that change under the search.
  std::function<void(const std::string& path, bool folder)> beforeIo;
};

struct SearchResult {
  bool started = false;     // false: an empty file list, nothing happened
  bool aborted = false;
  bool capReached = false;  // a row was refused by the cap
  int32_t rowCount = 0;
  int32_t filesRead = 0;    // drawings handed to a reader
};

// The file-list search of the main window's first page.
SearchResult SearchFileList(const std::vector<std::u16string>& items, const SearchOptions& options,
                            SearchObserver& observer);
// The folder search of the second page (twenty slots in the app).
SearchResult SearchFolders(const std::vector<FolderSlot>& slots, const SearchOptions& options,
                           SearchObserver& observer);
// Files and folders in the order given.
SearchResult SearchEntries(const std::vector<SearchEntry>& entries, const SearchOptions& options,
                           SearchObserver& observer);

// The block name a row shows: cut at the first "@@SFIGORGFLAG", letter case
// ignored.  In subfolders of a folder search a name that begins with the
// flag stays whole.
std::u16string CutAtFlag(const std::u16string& name, bool inSubfolder = false);

// The file name part of a path: everything after its last separator.
std::u16string RowFileName(const std::u16string& path);

// Status texts.
extern const std::u16string kStatusFilePage;
extern const std::u16string kStatusFolderPage;
extern const std::u16string kStatusSearching;
extern const std::u16string kAbortMessage;
extern const std::u16string kAbortTitle;
std::u16string FileStatus(const std::u16string& path);
std::u16string FolderStatus(const std::u16string& folder);

}  // namespace tarnwick
