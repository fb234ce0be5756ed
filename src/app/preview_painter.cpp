#include "app/preview_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStaticText>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "app/qt_text.h"

namespace tarnwick {

namespace {

QColor ToColor(draw::Rgb c) { return QColor(c.r, c.g, c.b); }

// One cosmetic pen per colour and dash pattern, made once per paint.
class Pens {
 public:
  explicit Pens(const draw::DisplayList& list) : list_(list) {}

  // The index of the pen of `p` (colour and dash pattern).
  size_t of(const draw::Pen& p) {
    const draw::Rgb c = draw::OnWhite(p.color);
    const uint64_t key = (uint64_t(c.r) << 16 | uint64_t(c.g) << 8 | c.b) << 32 | uint32_t(p.dashes + 1);
    if (key == lastKey_) return last_;
    auto it = std::find(keys_.begin(), keys_.end(), key);
    if (it == keys_.end()) {
      QPen pen(ToColor(c));
      pen.setCosmetic(true);
      pen.setWidthF(1.0);
      if (p.dashes >= 0) {
        QList<qreal> pattern;
        for (uint8_t d : list_.dashes[static_cast<size_t>(p.dashes)]) pattern.append(std::max<qreal>(d, 1) / 2);
        pen.setDashPattern(pattern);
      }
      keys_.push_back(key);
      pens_.push_back(pen);
      it = std::prev(keys_.end());
    }
    lastKey_ = key;
    last_ = static_cast<size_t>(it - keys_.begin());
    return last_;
  }
  const QPen& pen(size_t i) const { return pens_[i]; }
  size_t size() const { return pens_.size(); }

 private:
  const draw::DisplayList& list_;
  std::vector<uint64_t> keys_;
  std::vector<QPen> pens_;
  uint64_t lastKey_ = ~uint64_t{0};
  size_t last_ = 0;
};

}  // namespace

QTransform FitTransform(const draw::Extent& e, const QRectF& target) {
  const double w = std::max(e.width(), 1e-12), h = std::max(e.height(), 1e-12);
  double scale = std::min(target.width() / w, target.height() / h);
  // A single point or a line along one axis: its own size decides.
  if (e.width() <= 0 && e.height() <= 0) scale = 1;
  else if (e.width() <= 0) scale = target.height() / h;
  else if (e.height() <= 0) scale = target.width() / w;
  const double cx = (e.minX + e.maxX) / 2, cy = (e.minY + e.maxY) / 2;
  const QPointF c = target.center();
  return QTransform(scale, 0, 0, -scale, c.x() - scale * cx, c.y() + scale * cy);
}

void PaintDisplayList(QPainter& painter, const draw::DisplayList& list, const QTransform& t) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  // Points are mapped here and drawn in device coordinates, so that pens,
  // point marks and texts keep their size on screen.
  painter.setTransform(QTransform());
  const double scale = std::sqrt(std::fabs(t.determinant()));

  painter.setPen(Qt::NoPen);
  // Solids that meet edge to edge show no seams between them.
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const draw::SolidPrim& s : list.solids) {
    QPolygonF quad;
    for (size_t i = 0; i < 8; i += 2) quad << t.map(QPointF(s.xy[i], s.xy[i + 1]));
    painter.setBrush(ToColor(s.pen.color));
    painter.drawPolygon(quad);
  }
  painter.setBrush(Qt::NoBrush);
  painter.setRenderHint(QPainter::Antialiasing, true);

  Pens pens(list);
  // Lines, and the segments of arcs of solid pens, are gathered by pen and
  // handed to the painter together: one pen change per pen, not per line.
  std::vector<std::vector<QLineF>> byPen;
  auto bucket = [&](size_t pen) -> std::vector<QLineF>& {
    if (pen >= byPen.size()) byPen.resize(pen + 1);
    return byPen[pen];
  };
  for (const draw::LinePrim& l : list.lines)
    bucket(pens.of(l.pen)).emplace_back(t.map(QPointF(l.x1, l.y1)), t.map(QPointF(l.x2, l.y2)));
  // Arcs as polylines with as many segments as their size on screen asks for.
  QPolygonF poly;
  for (const draw::ArcPrim& a : list.arcs) {
    const double r = std::max(std::hypot(a.m[0], a.m[2]), std::hypot(a.m[1], a.m[3])) * scale;
    const int n = std::clamp(static_cast<int>(std::ceil(a.sweep * std::sqrt(std::max(r, 1.0)) * 1.2)), 4, 720);
    poly.resize(n + 1);
    for (int i = 0; i <= n; ++i) {
      const double u = a.start + a.sweep * i / n;
      poly[i] = t.map(QPointF(a.pointX(u), a.pointY(u)));
    }
    const size_t pen = pens.of(a.pen);
    if (a.pen.dashes >= 0) {
      // A dash pattern runs on along the whole arc.
      painter.setPen(pens.pen(pen));
      painter.drawPolyline(poly);
      continue;
    }
    std::vector<QLineF>& segments = bucket(pen);
    for (int i = 0; i < n; ++i) segments.emplace_back(poly[i], poly[i + 1]);
  }
  for (size_t i = 0; i < byPen.size(); ++i) {
    if (byPen[i].empty()) continue;
    painter.setPen(pens.pen(i));
    painter.drawLines(byPen[i].data(), static_cast<int>(byPen[i].size()));
  }
  // Points as round dots three pixels across, those of one colour together.
  std::vector<QPointF> dots;
  QPen dotPen;
  dotPen.setCosmetic(true);
  dotPen.setWidthF(3);
  dotPen.setCapStyle(Qt::RoundCap);
  QColor dotColor;
  auto flushDots = [&] {
    if (dots.empty()) return;
    dotPen.setColor(dotColor);
    painter.setPen(dotPen);
    painter.drawPoints(dots.data(), static_cast<int>(dots.size()));
    dots.clear();
  };
  for (const draw::PointPrim& p : list.points) {
    QColor c = ToColor(draw::OnWhite(p.pen.color));
    if (p.temporary) c.setAlpha(128);
    if (c != dotColor) {
      flushDots();
      dotColor = c;
    }
    dots.push_back(t.map(QPointF(p.x, p.y)));
  }
  flushDots();

  // Texts laid out once per text and size, then placed by transform.
  QFont font = painter.font();
  std::unordered_map<std::u16string, QStaticText> laidOut;
  int laidOutPixels = -1;
  double ascent = 0;
  const QTransform plain;
  QColor textColor;
  for (const draw::TextPrim& x : list.texts) {
    const QPointF start = t.map(QPointF(x.x, x.y));
    const double height = x.height * scale;
    const double length = std::hypot(x.endX - x.x, x.endY - x.y) * scale;
    const QColor color = ToColor(draw::OnWhite(x.pen.color));
    if (color != textColor) {
      painter.setPen(color);
      textColor = color;
    }
    if (height < 4) {
      // Too small to read: a stroke where the text runs.
      painter.setTransform(plain);
      if (length >= 1) painter.drawLine(start, t.map(QPointF(x.endX, x.endY)));
      continue;
    }
    const int pixels = std::max(1, static_cast<int>(std::lround(height)));
    if (pixels != laidOutPixels) {
      font.setPixelSize(pixels);
      painter.setFont(font);
      laidOut.clear();
      laidOutPixels = pixels;
      ascent = QFontMetricsF(font).ascent();
    }
    auto [it, added] = laidOut.try_emplace(x.text);
    if (added) {
      it->second.setText(ToQ(x.text));
      it->second.setTextFormat(Qt::PlainText);
      it->second.setPerformanceHint(QStaticText::AggressiveCaching);
      it->second.prepare(plain, font);
    }
    const QStaticText& text = it->second;
    const double advance = text.size().width();
    QTransform at;
    at.translate(start.x(), start.y());
    // The device's y points down: an anticlockwise angle turns the other way.
    at.rotate(-x.angle);
    if (length > 0 && advance > 0) at.scale(length / advance, 1);
    painter.setTransform(at);
    // A static text hangs from its top left corner; the start is the lower left.
    painter.drawStaticText(QPointF(0, -ascent), text);
  }
  painter.restore();
}

}  // namespace tarnwick
