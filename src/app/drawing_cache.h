// The drawings the preview shows: each read in full on a worker thread the
// first time one of its rows becomes current, and the last few kept, so that
// moving between the rows of one drawing reads nothing again and the window
// never waits on a read.
#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "draw/drawing_file.h"

namespace tarnwick {

using draw::LoadedDrawing;

class DrawingCache : public QObject {
  Q_OBJECT

 public:
  explicit DrawingCache(int keep = 4, QObject* parent = nullptr);
  ~DrawingCache() override;

  // The drawing at `path` once it has been read; until then null, and a read
  // is under way (started now when none was).
  std::shared_ptr<const LoadedDrawing> find(const std::u16string& path);
  // Reads started so far.
  int reads() const { return reads_; }
  // True while any read is under way.
  bool busy() const { return !running_.empty(); }

 signals:
  // The drawing at `path` has been read and find() now gives it.
  void loaded(const QString& path);

 private:
  void start(const std::u16string& path);
  void finished(std::shared_ptr<const LoadedDrawing> drawing);

  int keep_;
  int reads_ = 0;
  std::list<std::shared_ptr<const LoadedDrawing>> kept_;  // most recently used first
  std::vector<std::u16string> running_;
  std::u16string waiting_;  // the latest drawing asked for while both workers were busy
  QThreadPool pool_;
};

}  // namespace tarnwick
