#include "index/index_cache.h"

#include <algorithm>

namespace tarnwick {
namespace {

// Reads and listings are handed to the writer in batches of about this
// size: large enough for few transactions, small enough that most of the
// writing is done while the search still runs.
constexpr size_t kBatchBytes = size_t(2) << 20;
// A search that reads faster than the index is written waits at this many
// batches, so memory stays bounded.
constexpr size_t kMaxBatches = 4;

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs &&
         a.ctimeNs == b.ctimeNs;
}

}  // namespace

IndexCache::IndexCache(IndexDb& db) : db_(db), began_(db.now()) { db_.openLookups(); }

IndexCache::~IndexCache() {
  finish();
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

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
  std::unique_lock lock(mu_);
  records_.push_back(std::move(r));
  pendingBytes_ += bytes;
  if (pendingBytes_ >= kBatchBytes) handOver(lock);
}

void IndexCache::folderListed(const std::string& folder, const std::vector<std::string>& drawingNames,
                              const std::vector<std::string>* subfolderNames) {
  if (!db_.usable()) return;
  size_t bytes = folder.size() + 64;
  for (const auto& n : drawingNames) bytes += n.size() + 1;
  if (subfolderNames)
    for (const auto& n : *subfolderNames) bytes += n.size() + 1;
  std::unique_lock lock(mu_);
  listings_.push_back({folder, drawingNames, subfolderNames ? std::optional(*subfolderNames) : std::nullopt});
  pendingBytes_ += bytes;
  if (pendingBytes_ >= kBatchBytes) handOver(lock);
}

void IndexCache::finish() {
  std::unique_lock lock(mu_);
  handOver(lock);
  drained_.wait(lock, [&] { return batches_.empty() && !writing_; });
}

int64_t IndexCache::hits() const {
  std::lock_guard lock(mu_);
  return hits_;
}

void IndexCache::handOver(std::unique_lock<std::mutex>& lock) {
  if (records_.empty() && listings_.empty()) return;
  room_.wait(lock, [&] { return batches_.size() < kMaxBatches; });
  batches_.push_back({std::move(records_), std::move(listings_)});
  records_.clear();
  listings_.clear();
  pendingBytes_ = 0;
  if (!writer_.joinable()) writer_ = std::thread([this] { writeLoop(); });
  wake_.notify_one();
}

void IndexCache::writeLoop() {
  std::unique_lock lock(mu_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || !batches_.empty(); });
    if (batches_.empty()) return;
    Batch batch = std::move(batches_.front());
    batches_.pop_front();
    room_.notify_all();
    writing_ = true;
    lock.unlock();
    // The stored names and their keys are made before the index's lock is
    // taken, so that lookups of the search wait only for the writing.
    for (PendingRecord& r : batch.records) IndexDb::Prepare(r, &keys_);
    db_.write(batch.records, batch.listings);
    batch = Batch();
    lock.lock();
    writing_ = false;
    if (batches_.empty()) drained_.notify_all();
  }
}

}  // namespace tarnwick
