#include "app/preview_pane.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "app/drawing_cache.h"
#include "app/preview_painter.h"
#include "app/qt_text.h"

namespace tarnwick {

namespace {

constexpr int kMargin = 8;

QString Number(double v) {
  // Drawing units as the user typed them: no grouping, at most 3 decimals.
  QString s = QString::number(v, 'f', 3);
  if (s.contains(u'.')) {
    while (s.endsWith(u'0')) s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
  }
  return s == QStringLiteral("-0") ? QStringLiteral("0") : s;
}

}  // namespace

PreviewCanvas::PreviewCanvas(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PreviewCanvas"));
  setMinimumSize(80, 80);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  p.setColor(QPalette::WindowText, QColor(90, 90, 90));
  setPalette(p);
  setCursor(Qt::OpenHandCursor);
}

void PreviewCanvas::showList(std::shared_ptr<const draw::DisplayList> list, const QString& message) {
  list_ = std::move(list);
  message_ = message;
  fit();
}

void PreviewCanvas::fit() {
  zoom_ = 1;
  pan_ = QPointF();
  update();
}

QTransform PreviewCanvas::view() const {
  const QRectF target = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  QTransform t = FitTransform(*list_->extent, target);
  // Zoom about the centre of the pane, then pan.
  const QPointF c = target.center();
  QTransform z;
  z.translate(c.x() + pan_.x(), c.y() + pan_.y());
  z.scale(zoom_, zoom_);
  z.translate(-c.x(), -c.y());
  return t * z;
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!list_ || !list_->extent) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(kMargin, kMargin, -kMargin, -kMargin), Qt::AlignCenter | Qt::TextWordWrap,
                     message_);
    return;
  }
  PaintDisplayList(painter, *list_, view());
}

void PreviewCanvas::wheelEvent(QWheelEvent* event) {
  if (!list_ || !list_->extent) return;
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  const double factor = std::pow(1.25, steps);
  const double next = std::clamp(zoom_ * factor, 0.05, 10000.0);
  // Keep the drawing point under the cursor where it is.
  const QRectF target = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  const QPointF c = target.center() + pan_;
  const QPointF at = event->position();
  pan_ += (at - c) * (1 - next / zoom_);
  zoom_ = next;
  update();
  event->accept();
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragFrom_ = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
  }
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (!dragFrom_) return;
  const QPoint now = event->position().toPoint();
  pan_ += QPointF(now - *dragFrom_);
  dragFrom_ = now;
  update();
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent*) {
  dragFrom_.reset();
  setCursor(Qt::OpenHandCursor);
}

void PreviewCanvas::mouseDoubleClickEvent(QMouseEvent*) { fit(); }

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Preview"));
  cache_ = new DrawingCache(4, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  canvas_ = new PreviewCanvas(this);
  layout->addWidget(canvas_, 1);
  info_ = new QLabel(this);
  info_->setObjectName(QStringLiteral("PreviewInfo"));
  // Block names are shown as they are, never as markup.
  info_->setTextFormat(Qt::PlainText);
  info_->setWordWrap(true);
  info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  info_->setContentsMargins(6, 2, 6, 4);
  layout->addWidget(info_);
  info_->hide();
  connect(cache_, &DrawingCache::loaded, this, &PreviewPane::drawingLoaded);
}

PreviewPane::~PreviewPane() = default;

QString PreviewPane::infoText() const { return info_->text(); }

// The line below the drawing takes no room while there is nothing to say.
void PreviewPane::setInfo(const QString& text) {
  info_->setText(text);
  info_->setVisible(!text.isEmpty());
}

void PreviewPane::showRow(const SearchRow& row) {
  row_ = row;
  refresh();
}

void PreviewPane::drawingLoaded(const QString& path) {
  if (FromQ(path) == row_.path) refresh();
}

void PreviewPane::refresh() {
  if (row_.definition < 0 || row_.path.empty()) {
    shownDrawing_.reset();
    canvas_->showList(nullptr);
    setInfo(QString());
    return;
  }
  std::shared_ptr<const LoadedDrawing> drawing = cache_->find(row_.path);
  if (!drawing) {
    shownDrawing_.reset();
    canvas_->showList(nullptr, tr("読み込み中…"));
    setInfo(ToQ(row_.block));
    return;
  }
  if (drawing == shownDrawing_ && row_.definition == shownDefinition_) return;
  shownDrawing_ = drawing;
  shownDefinition_ = row_.definition;

  const TEntJwwBlockDef* def = drawing->definition(row_.definition);
  if (!def) {
    canvas_->showList(nullptr, drawing->context ? tr("このブロックは読み取れませんでした。")
                                                : tr("図面を読み取れませんでした。"));
    setInfo(ToQ(row_.block));
    return;
  }
  auto list = std::make_shared<draw::DisplayList>(draw::BuildDisplayList(*drawing->context, row_.definition));
  const bool nothing = !list->extent;
  const draw::EntityCounts n = draw::CountsOf(*def);
  QStringList lines;
  // One arg() for both, so that a "%1" inside the block name stays as it is.
  lines << tr("%1　（ブロック番号 %2）").arg(ToQ(row_.block), QString::number(def->nNumber));
  lines << tr("線 %1　円・円弧 %2　点 %3　文字 %4　寸法 %5　ソリッド %6　ブロック %7")
               .arg(n.line)
               .arg(n.arc)
               .arg(n.point)
               .arg(n.text)
               .arg(n.dimension)
               .arg(n.solid)
               .arg(n.insert);
  if (!nothing)
    lines << tr("大きさ %1 × %2").arg(Number(list->extent->width()), Number(list->extent->height()));
  if (!drawing->complete) lines << tr("図面は途中までしか読めませんでした。");
  if (list->truncated) lines << tr("図形が多すぎるため一部だけを表示しています。");
  setInfo(lines.join(u'\n'));
  canvas_->showList(nothing ? nullptr : std::move(list), tr("表示できる図形がありません。"));
}

}  // namespace tarnwick
