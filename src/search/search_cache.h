// What the engine asks of a cache of earlier reads (the index), so that a
// drawing that has not changed since it was last read need not be opened.
// The engine works the same without one; a cache that cannot answer says so
// and the drawing is read as usual.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jw/file_image.h"
#include "search/engine.h"

namespace tarnwick {

// The stat data of the file that was read: enough to tell that it has not
// changed since (the loader's own record of it).
using FileStamp = FileStat;

// What a read of one drawing gave, before any row was made of it.
struct DrawingRecord {
  FileOutcome outcome = FileOutcome::kRead;  // kRead, kNotOfFormat or kDamaged
  // The definitions' names in stored order, as the reader gave them (not yet
  // cut at the flag).
  std::vector<std::u16string> names;
  // Index into `names` of a name cut short by the end of a damaged file, or -1.
  int32_t cutName = -1;
};

// Every member may be called from several threads at once.
class SearchCache {
 public:
  virtual ~SearchCache() = default;
  // The record of `path` (its native bytes) when `stamp` matches the one
  // stored with it and the record may be trusted; nothing otherwise.
  virtual std::optional<DrawingRecord> lookup(const std::string& path, const FileStamp& stamp) = 0;
  // Keeps what a read of `path` gave; `stamp` is of the descriptor read.
  virtual void record(const std::string& path, const FileStamp& stamp, const DrawingRecord& record) = 0;
  // `folder` (native bytes, ending with "/") was listed and holds exactly
  // these drawings (file names, in listing order): records of others
  // directly in it are gone.  `subfolderNames`, when the walk went below
  // the folder, are the folders it went into from it, in walk order:
  // records below any other folder in it are gone too.  nullptr when the
  // walk went no deeper.
  virtual void folderListed(const std::string& folder, const std::vector<std::string>& drawingNames,
                            const std::vector<std::string>* subfolderNames) = 0;
  // The search is over (done, capped or aborted): write what is pending.
  virtual void finish() {}
};

}  // namespace tarnwick
