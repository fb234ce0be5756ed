#include "app/drawing_cache.h"

#include <QMetaObject>
#include <QPointer>
#include <QRunnable>
#include <algorithm>
#include <stdexcept>

#include "app/qt_text.h"

namespace tarnwick {

namespace {

constexpr int kWorkers = 2;

}  // namespace

DrawingCache::DrawingCache(int keep, QObject* parent) : QObject(parent), keep_(std::max(keep, 1)) {
  pool_.setMaxThreadCount(kWorkers);
}

DrawingCache::~DrawingCache() { pool_.waitForDone(); }

std::shared_ptr<const LoadedDrawing> DrawingCache::find(const std::u16string& path) {
  auto it = std::find_if(kept_.begin(), kept_.end(), [&](const auto& d) { return d->path == path; });
  if (it != kept_.end()) {
    kept_.splice(kept_.begin(), kept_, it);
    return kept_.front();
  }
  if (std::find(running_.begin(), running_.end(), path) != running_.end()) return nullptr;
  if (static_cast<int>(running_.size()) < kWorkers)
    start(path);
  else
    waiting_ = path;  // what was waiting before is no longer wanted
  return nullptr;
}

void DrawingCache::start(const std::u16string& path) {
  ++reads_;
  running_.push_back(path);
  QPointer<DrawingCache> self(this);
  pool_.start([self, path] {
    std::shared_ptr<const LoadedDrawing> drawing;
    try {
      drawing = draw::ReadDrawingFile(path);
    } catch (const std::exception&) {
      // Out of memory on a huge drawing: shown as nothing to show.
      auto empty = std::make_shared<LoadedDrawing>();
      empty->path = path;
      drawing = std::move(empty);
    }
    // Back on the window's thread; the cache waits for its workers when it
    // goes, so `self` is checked only against a late delivery.
    QMetaObject::invokeMethod(
        self.data(), [self, drawing] { if (self) self->finished(drawing); }, Qt::QueuedConnection);
  });
}

void DrawingCache::finished(std::shared_ptr<const LoadedDrawing> drawing) {
  running_.erase(std::remove(running_.begin(), running_.end(), drawing->path), running_.end());
  kept_.push_front(drawing);
  while (static_cast<int>(kept_.size()) > keep_) kept_.pop_back();
  const QString path = ToQ(drawing->path);
  if (!waiting_.empty()) {
    const std::u16string next = std::move(waiting_);
    waiting_.clear();
    find(next);
  }
  emit loaded(path);
}

}  // namespace tarnwick
