#include "index/index_cache.h"

#include <algorithm>

namespace tarnwick {
namespace {

// Writes wait until this much is pending, so a search writes in a few large
// transactions.
constexpr size_t kFlushBytes = size_t(16) << 20;

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs &&
         a.ctimeNs == b.ctimeNs;
}

}  // namespace

IndexCache::IndexCache(IndexDb& db) : db_(db), began_(db.now()) {}

IndexCache::~IndexCache() { flush(); }

std::optional<DrawingRecord> IndexCache::lookup(const std::string& path, const FileStamp& stamp) {
  std::optional<StoredDrawing> stored = db_.find(path);
  if (!stored || !stored->trusted || !SameStamp(stored->stamp, stamp)) return std::nullopt;
  std::lock_guard lock(mu_);
  ++hits_;
  return std::move(stored->record);
}

void IndexCache::record(const std::string& path, const FileStamp& stamp, const DrawingRecord& record) {
  if (!db_.usable()) return;
  PendingRecord r;
  r.path = path;
  r.stamp = stamp;
  // A file whose times are not safely before the start of this search may
  // change again without changing them: its record is kept, but not trusted.
  const int64_t latest = std::max(stamp.mtimeNs, stamp.ctimeNs);
  r.trusted = latest <= began_ - db_.options().racyWindowNs;
  r.record = record;
  size_t bytes = path.size() + 64;
  for (const auto& n : record.names) bytes += 2 * n.size() + 24;
  {
    std::lock_guard lock(mu_);
    records_.push_back(std::move(r));
    pendingBytes_ += bytes;
  }
  flushIfLarge();
}

void IndexCache::folderListed(const std::string& folder, const std::vector<std::string>& drawingNames,
                              const std::vector<std::string>* subfolderNames) {
  if (!db_.usable()) return;
  size_t bytes = folder.size() + 64;
  for (const auto& n : drawingNames) bytes += n.size() + 1;
  if (subfolderNames)
    for (const auto& n : *subfolderNames) bytes += n.size() + 1;
  {
    std::lock_guard lock(mu_);
    listings_.push_back({folder, drawingNames, subfolderNames ? std::optional(*subfolderNames) : std::nullopt});
    pendingBytes_ += bytes;
  }
  flushIfLarge();
}

void IndexCache::finish() { flush(); }

int64_t IndexCache::hits() const {
  std::lock_guard lock(mu_);
  return hits_;
}

void IndexCache::flushIfLarge() {
  {
    std::lock_guard lock(mu_);
    if (pendingBytes_ < kFlushBytes) return;
  }
  flush();
}

void IndexCache::flush() {
  // One writer at a time, so that listings are written in the order given.
  std::lock_guard write(writeMu_);
  std::vector<PendingRecord> records;
  std::vector<PendingListing> listings;
  {
    std::lock_guard lock(mu_);
    records.swap(records_);
    listings.swap(listings_);
    pendingBytes_ = 0;
  }
  db_.write(records, listings);
}

}  // namespace tarnwick
