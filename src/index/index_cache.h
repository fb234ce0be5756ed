// The index as the engine's cache for one search: lookups answer from the
// database; reads and listings are gathered in memory and handed in large
// batches to a writer thread, which writes each in one transaction while the
// search goes on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
  // Hands over what is left and waits until everything is written.
  void finish() override;

  // Drawings answered from the index so far.
  int64_t hits() const;

 private:
  struct Batch {
    std::vector<PendingRecord> records;
    std::vector<PendingListing> listings;
  };
  // With mu_ held: the gathered reads and listings become a batch of the
  // writer, started when needed (waiting while the writer is far behind).
  void handOver(std::unique_lock<std::mutex>& lock);
  void writeLoop();

  IndexDb& db_;
  const int64_t began_;
  mutable std::mutex mu_;
  std::condition_variable wake_, drained_, room_;
  std::vector<PendingRecord> records_;
  std::vector<PendingListing> listings_;
  size_t pendingBytes_ = 0;
  int64_t hits_ = 0;
  // Batches in the order they were gathered, so listings are written in the
  // order given.
  std::deque<Batch> batches_;
  bool writing_ = false;  // the writer holds a batch
  bool stop_ = false;
  IndexDb::KeyMemo keys_;  // the writer's own
  std::thread writer_;
};

}  // namespace tarnwick
