// The display list of one block definition: every line, arc, point, text and
// solid it draws, nested inserts expanded, in the definition's own
// coordinates, each with its colour and line type, and the exact extent of
// it all.  Painters (the app's preview, the SVG writer) only walk the lists.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jw/model.h"

namespace tarnwick::draw {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A dash pattern in dots (screen pixels at the usual size): on, off, on,
// off, ...; empty for a solid line.
using Dashes = std::vector<uint8_t>;

struct Pen {
  Rgb color;
  uint16_t colorNumber = 0;  // nPenColor as stored
  uint8_t lineType = 1;      // nPenStyle as stored
  uint16_t width = 0;        // nPenWidth as stored
  int32_t dashes = -1;       // index into DisplayList::dashes, -1: solid
};

// An affine map (x, y) -> (x0 + a*x + b*y, y0 + c*x + d*y).
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, x0 = 0, y0 = 0;

  double mapX(double x, double y) const { return x0 + a * x + b * y; }
  double mapY(double x, double y) const { return y0 + c * x + d * y; }
  // This map applied after `inner`.
  Affine after(const Affine& inner) const;
  double det() const { return a * d - b * c; }
};

// The placement of an insert: scale first, then rotate, then move.
Affine InsertPlacement(double x, double y, double scaleX, double scaleY, double rotation);

struct LinePrim {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  Pen pen;
};

// An arc, circle or ellipse arc.  Its points are
//   (cx, cy) + m * (cos t, sin t)  for t from start to start + sweep,
// where m = rotation(tilt) * diag(radius, radius * flattening) for an arc of
// the definition itself, times the placements of the inserts it came
// through.  radius, tilt and flattening are the stored values.
struct ArcPrim {
  double cx = 0, cy = 0;
  std::array<double, 4> m{};  // a, b, c, d as in Affine
  double start = 0, sweep = 0;  // sweep >= 0, at most 2 pi
  bool full = false;
  double radius = 0, tilt = 0, flattening = 1;
  Pen pen;

  double pointX(double t) const;
  double pointY(double t) const;
};

struct PointPrim {
  double x = 0, y = 0;
  bool temporary = false;  // bKariten
  Pen pen;
};

// A text from its start point (lower left) along `angle` (degrees,
// anticlockwise) to its end point; characters `width` wide and `height`
// high with `spacing` between them.
struct TextPrim {
  double x = 0, y = 0, endX = 0, endY = 0;
  double width = 0, height = 0, spacing = 0, angle = 0;
  std::u16string text;
  std::u16string font;
  Pen pen;
  // The four corners of its box: start, end, end + up, start + up.
  std::array<double, 8> box() const;
};

// A filled quadrilateral through its four points in order.
struct SolidPrim {
  std::array<double, 8> xy{};  // x0, y0, x1, y1, ...
  Pen pen;
};

struct Extent {
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  double width() const { return maxX - minX; }
  double height() const { return maxY - minY; }
};

// Stored counts of one definition, as the reader left them.
struct EntityCounts {
  int32_t line = 0, arc = 0, point = 0, text = 0, dimension = 0, solid = 0, insert = 0;
};
EntityCounts CountsOf(const TEntJwwBlockDef& def);

struct DisplayList {
  std::vector<LinePrim> lines;
  std::vector<ArcPrim> arcs;
  std::vector<PointPrim> points;
  std::vector<TextPrim> texts;
  std::vector<SolidPrim> solids;
  std::vector<Dashes> dashes;
  // Nothing is drawn when this is empty.
  std::optional<Extent> extent;
  // Inserts that were not expanded: they name no definition, a definition
  // on their own chain, or lie deeper than the depth limit.
  int32_t skippedInserts = 0;
  // The primitive limit was reached; what follows it is not drawn.
  bool truncated = false;

  size_t size() const { return lines.size() + arcs.size() + points.size() + texts.size() + solids.size(); }
};

// The exact bounding box of an arc (tilted ellipse arcs included).
Extent ArcExtent(const ArcPrim& arc);
// The bounding box of one text's box.
Extent TextExtent(const TextPrim& text);

// The colour of pen colour number `n` in the fixed palette used where a
// drawing has no table of its own: the usual screen colours on a white
// ground (1 to 9), the standard colours of the extended numbers (from 100),
// and dark grey for anything else.
Rgb FallbackColor(int n);
// The dash pattern of line type n (2 to 9) where the drawing has no table.
Dashes FallbackDashes(int n);
// A colour as a drawing stores it (0x00BBGGRR).
inline Rgb FromColorRef(uint32_t c) {
  return Rgb{static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
             static_cast<uint8_t>((c >> 16) & 0xFF)};
}
// A colour that shows on a white ground: one too light to see is drawn as
// mid grey.
Rgb OnWhite(Rgb c);

struct Limits {
  int32_t maxDepth = TJwBody::kMaxTreeLevel;  // nesting levels of inserts
  size_t maxPrimitives = 500'000;
};

// Everything of one read drawing that drawing its definitions needs: the
// definitions by number and the colour and line type tables.  It refers to
// the drawing, which must outlive it.
class DrawingContext {
 public:
  explicit DrawingContext(const TJwwData& jww);
  explicit DrawingContext(const TJwsData& jws);

  const TJwBody& body() const { return body_; }
  int32_t version() const { return version_; }
  int32_t definitionCount() const;
  // The index of the first definition numbered n, or -1.
  int32_t definitionByNumber(uint32_t n) const;

  Rgb color(uint16_t number, const TEntJwwSolid* solid = nullptr) const;
  // The dash pattern of a line type, empty for solid lines.
  Dashes dashes(uint8_t lineType) const;

 private:
  void indexDefinitions();

  const TJwBody& body_;
  const TJwwData* jww_ = nullptr;
  int32_t version_ = 0;
  std::unordered_map<uint32_t, int32_t> byNumber_;
};

// The display list of definition `index` (into EntBlockDef); an empty list
// when there is no such definition.
DisplayList BuildDisplayList(const DrawingContext& drawing, int32_t index, const Limits& limits = {});

}  // namespace tarnwick::draw
