// The display lists of every definition of the real drawings: every
// primitive lies inside the extent, and the extent is no larger than what
// the primitives reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "draw/drawing_file.h"
#include "text/utf.h"

namespace tarnwick::draw {
namespace {

namespace fs = std::filesystem;

void Reach(std::optional<Extent>& e, const Extent& b) {
  if (!e) e = b;
  e->minX = std::min(e->minX, b.minX);
  e->minY = std::min(e->minY, b.minY);
  e->maxX = std::max(e->maxX, b.maxX);
  e->maxY = std::max(e->maxY, b.maxY);
}
Extent At(double x, double y) { return Extent{x, y, x, y}; }

TEST(SampleDrawingsTest, EveryPrimitiveLiesInsideTheExtent) {
  const fs::path samples = fs::path(TARNWICK_SHARED_DIR) / "samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no " << samples;
  size_t definitions = 0, primitives = 0;
  for (const auto& entry : fs::directory_iterator(samples)) {
    const std::unique_ptr<LoadedDrawing> d = ReadDrawingFile(PathText(entry.path().string()));
    if (!d->context) continue;
    for (int32_t i = 0; i < d->context->definitionCount(); ++i) {
      SCOPED_TRACE(entry.path().filename().string() + " definition " + std::to_string(i));
      const DisplayList list = BuildDisplayList(*d->context, i);
      ++definitions;
      primitives += list.size();
      EXPECT_FALSE(list.truncated);
      std::optional<Extent> reach;
      for (const LinePrim& l : list.lines) Reach(reach, At(l.x1, l.y1)), Reach(reach, At(l.x2, l.y2));
      for (const ArcPrim& a : list.arcs) {
        Reach(reach, ArcExtent(a));
        // Points along the arc stay inside its own box.
        const Extent box = ArcExtent(a);
        const double slack = 1e-9 * std::max({1.0, std::fabs(box.maxX), std::fabs(box.maxY)});
        for (int k = 0; k <= 32; ++k) {
          const double t = a.start + a.sweep * k / 32;
          EXPECT_GE(a.pointX(t), box.minX - slack);
          EXPECT_LE(a.pointX(t), box.maxX + slack);
          EXPECT_GE(a.pointY(t), box.minY - slack);
          EXPECT_LE(a.pointY(t), box.maxY + slack);
        }
      }
      for (const PointPrim& p : list.points) Reach(reach, At(p.x, p.y));
      for (const TextPrim& t : list.texts) Reach(reach, TextExtent(t));
      for (const SolidPrim& s : list.solids)
        for (size_t k = 0; k < 8; k += 2) Reach(reach, At(s.xy[k], s.xy[k + 1]));
      ASSERT_EQ(reach.has_value(), list.extent.has_value());
      if (!reach) continue;
      EXPECT_DOUBLE_EQ(reach->minX, list.extent->minX);
      EXPECT_DOUBLE_EQ(reach->minY, list.extent->minY);
      EXPECT_DOUBLE_EQ(reach->maxX, list.extent->maxX);
      EXPECT_DOUBLE_EQ(reach->maxY, list.extent->maxY);
    }
  }
  EXPECT_GT(definitions, 10u);
  EXPECT_GT(primitives, 100u);
}

}  // namespace
}  // namespace tarnwick::draw
