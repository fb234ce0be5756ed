// The preview beside the results grid: the current row's block drawn fitted
// to the pane (the wheel zooms, a drag pans, a double-click fits again), and
// its name, number, entity counts and size below it.
#pragma once

#include <QPoint>
#include <QTransform>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "draw/display_list.h"
#include "search/engine.h"

class QLabel;

namespace tarnwick {

class DrawingCache;
namespace draw {
struct LoadedDrawing;
}

// The drawing area of the pane.
class PreviewCanvas : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewCanvas(QWidget* parent = nullptr);

  // Shows `list`, fitted; an empty list shows `message` instead.
  void showList(std::shared_ptr<const draw::DisplayList> list, const QString& message = QString());
  const draw::DisplayList* list() const { return list_.get(); }
  const QString& message() const { return message_; }
  // Zoom factor over the fitted view (1 when fitted).
  double zoom() const { return zoom_; }
  void fit();

  QSize sizeHint() const override { return QSize(240, 240); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QTransform view() const;

  std::shared_ptr<const draw::DisplayList> list_;
  QString message_;
  double zoom_ = 1;
  QPointF pan_;  // device pixels added after the fit and zoom
  std::optional<QPoint> dragFrom_;
};

class PreviewPane : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;

  // Shows the block of `row`; a row whose drawing is still being read shows
  // that it is loading and follows when the read is done.
  void showRow(const SearchRow& row);

  PreviewCanvas& canvas() { return *canvas_; }
  DrawingCache& cache() { return *cache_; }
  QString infoText() const;

 private:
  void refresh();
  void setInfo(const QString& text);
  void drawingLoaded(const QString& path);

  DrawingCache* cache_;
  PreviewCanvas* canvas_;
  QLabel* info_;
  SearchRow row_;
  // What is shown, so that a row of the same block is not drawn again.
  std::shared_ptr<const draw::LoadedDrawing> shownDrawing_;
  int32_t shownDefinition_ = -1;
};

}  // namespace tarnwick
