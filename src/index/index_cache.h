// The index as the engine's cache for one search: lookups answer from the
// database, reads and listings are kept in memory and written in large
// transactions.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "index/index_db.h"
#include "search/search_cache.h"

namespace tarnwick {

class IndexCache : public SearchCache {
 public:
  // One per search: the search begins now, which decides which of its
  // reads a later search may trust.
  explicit IndexCache(IndexDb& db);
  ~IndexCache() override;

  std::optional<DrawingRecord> lookup(const std::string& path, const FileStamp& stamp) override;
  void record(const std::string& path, const FileStamp& stamp, const DrawingRecord& record) override;
  void folderListed(const std::string& folder, const std::vector<std::string>& drawingNames,
                    const std::vector<std::string>* subfolderNames) override;
  void finish() override;

  // Drawings answered from the index so far.
  int64_t hits() const;

 private:
  void flushIfLarge();
  void flush();

  IndexDb& db_;
  const int64_t began_;
  mutable std::mutex mu_;
  std::vector<PendingRecord> records_;
  std::vector<PendingListing> listings_;
  size_t pendingBytes_ = 0;
  int64_t hits_ = 0;
  std::mutex writeMu_;
};

}  // namespace tarnwick
