#include "draw/display_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "draw/draw_fixture.h"

namespace tarnwick::testing {
namespace {

using draw::DisplayList;
using draw::Extent;
using draw::Rgb;

constexpr double kPi = std::numbers::pi;
constexpr double kEps = 1e-9;

void ExpectExtent(const Extent& expected, const Extent& actual) {
  EXPECT_NEAR(expected.minX, actual.minX, kEps);
  EXPECT_NEAR(expected.minY, actual.minY, kEps);
  EXPECT_NEAR(expected.maxX, actual.maxX, kEps);
  EXPECT_NEAR(expected.maxY, actual.maxY, kEps);
}

Line L(double x1, double y1, double x2, double y2) {
  Line l;
  l.x1 = x1, l.y1 = y1, l.x2 = x2, l.y2 = y2;
  return l;
}

Insert Ins(uint32_t number, double x = 0, double y = 0, double sx = 1, double sy = 1, double rot = 0) {
  Insert i;
  i.number = number, i.x = x, i.y = y, i.sx = sx, i.sy = sy, i.rot = rot;
  return i;
}

// ---- arcs: the stored fields, the axis matrix and the exact extent ----

struct ArcCase {
  const char* name;
  Arc arc;
  Extent extent;
};

Arc MakeArc(double cx, double cy, double r, double start, double sweep, double tilt, double flat, uint32_t full) {
  Arc a;
  a.cx = cx, a.cy = cy, a.r = r, a.start = start, a.sweep = sweep, a.tilt = tilt, a.flat = flat, a.full = full;
  return a;
}

class ArcExtentTest : public ::testing::TestWithParam<ArcCase> {};

TEST_P(ArcExtentTest, IsTheTrueBoundingBox) {
  const ArcCase& c = GetParam();
  const DisplayList list = ListOf(WithDefinitions({{c.arc}}));
  ASSERT_EQ(1u, list.arcs.size());
  const draw::ArcPrim& a = list.arcs[0];
  EXPECT_DOUBLE_EQ(c.arc.r, a.radius);
  EXPECT_DOUBLE_EQ(c.arc.tilt, a.tilt);
  EXPECT_DOUBLE_EQ(c.arc.flat, a.flattening);
  // The axis matrix is rotation(tilt) * diag(r, r * flattening).
  EXPECT_NEAR(c.arc.r * std::cos(c.arc.tilt), a.m[0], kEps);
  EXPECT_NEAR(-c.arc.r * c.arc.flat * std::sin(c.arc.tilt), a.m[1], kEps);
  EXPECT_NEAR(c.arc.r * std::sin(c.arc.tilt), a.m[2], kEps);
  EXPECT_NEAR(c.arc.r * c.arc.flat * std::cos(c.arc.tilt), a.m[3], kEps);
  ASSERT_TRUE(list.extent);
  ExpectExtent(c.extent, *list.extent);
  ExpectExtent(c.extent, draw::ArcExtent(a));
  // Sampled points of the arc never leave it.
  for (int i = 0; i <= 64; ++i) {
    const double t = a.start + a.sweep * i / 64;
    EXPECT_GE(a.pointX(t), list.extent->minX - kEps);
    EXPECT_LE(a.pointX(t), list.extent->maxX + kEps);
    EXPECT_GE(a.pointY(t), list.extent->minY - kEps);
    EXPECT_LE(a.pointY(t), list.extent->maxY + kEps);
  }
}

const double kS = std::sqrt(0.5);
const double kTiltedHalf = std::sqrt(4 * 0.5 + 1 * 0.5);  // a = 2, b = 1 at 45 degrees

INSTANTIATE_TEST_SUITE_P(
    Arcs, ArcExtentTest,
    ::testing::Values(ArcCase{"FullCircle", MakeArc(1, 1, 2, 0, 2 * kPi, 0, 1, 1), {-1, -1, 3, 3}},
                      ArcCase{"FullFlagWinsOverSweep", MakeArc(0, 0, 1, 0.3, 0.5, 0, 1, 1), {-1, -1, 1, 1}},
                      ArcCase{"QuarterArc", MakeArc(0, 0, 1, 0, kPi / 2, 0, 1, 0), {0, 0, 1, 1}},
                      ArcCase{"ArcOverTheTop", MakeArc(0, 0, 1, kPi / 4, kPi, 0, 1, 0), {-1, -kS, kS, 1}},
                      ArcCase{"NegativeSweep", MakeArc(0, 0, 1, kPi / 2, -kPi / 2, 0, 1, 0), {0, 0, 1, 1}},
                      ArcCase{"StartPastTwoPi", MakeArc(0, 0, 1, 2 * kPi, kPi / 2, 0, 1, 0), {0, 0, 1, 1}},
                      ArcCase{"TiltedEllipse", MakeArc(0, 0, 2, 0, 2 * kPi, kPi / 4, 0.5, 1),
                              {-kTiltedHalf, -kTiltedHalf, kTiltedHalf, kTiltedHalf}},
                      ArcCase{"UprightHalfEllipse", MakeArc(0, 0, 2, 0, kPi, kPi / 2, 0.5, 0), {-1, -2, 0, 2}},
                      ArcCase{"FlatEllipseArc", MakeArc(5, 0, 4, 0, kPi / 2, 0, 0.25, 0), {5, 0, 9, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- nested inserts: placement matrices ----

struct PlacementCase {
  const char* name;
  Insert insert;
  // Where the inner definition's line (0,0)-(1,0) and point (0,1) land.
  double x1, y1, x2, y2, px, py;
};

class PlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, MapsTheInnerDefinition) {
  const PlacementCase& c = GetParam();
  Point p;
  p.y = 1;
  const DisplayList list = ListOf(WithDefinitions({{c.insert}, {L(0, 0, 1, 0), p}}));
  ASSERT_EQ(1u, list.lines.size());
  ASSERT_EQ(1u, list.points.size());
  EXPECT_NEAR(c.x1, list.lines[0].x1, kEps);
  EXPECT_NEAR(c.y1, list.lines[0].y1, kEps);
  EXPECT_NEAR(c.x2, list.lines[0].x2, kEps);
  EXPECT_NEAR(c.y2, list.lines[0].y2, kEps);
  EXPECT_NEAR(c.px, list.points[0].x, kEps);
  EXPECT_NEAR(c.py, list.points[0].y, kEps);
  EXPECT_EQ(0, list.skippedInserts);
}

INSTANTIATE_TEST_SUITE_P(
    Inserts, PlacementTest,
    ::testing::Values(PlacementCase{"Moved", Ins(2, 10, 5), 10, 5, 11, 5, 10, 6},
                      PlacementCase{"Scaled", Ins(2, 0, 0, 2, 3), 0, 0, 2, 0, 0, 3},
                      PlacementCase{"Rotated", Ins(2, 0, 0, 1, 1, kPi / 2), 0, 0, 0, 1, -1, 0},
                      // Scale first, then rotate, then move.
                      PlacementCase{"ScaledRotatedMoved", Ins(2, 1, 1, 2, 3, kPi / 2), 1, 1, 1, 3, -2, 1},
                      PlacementCase{"Mirrored", Ins(2, 0, 0, -1, 1), 0, 0, -1, 0, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NestedInsertTest, PlacementsComposeLikeTheBlockTree) {
  // 1 inserts 2 at (10, 0) turned a quarter; 2 inserts 3 at (1, 0) twice the size.
  Drawing d = WithDefinitions({{Ins(2, 10, 0, 1, 1, kPi / 2)}, {Ins(3, 1, 0, 2, 2)}, {L(0, 0, 1, 0)}});
  // The same placement at the top level gives the tree's matrices to compare with.
  d.entities.push_back(Ins(1));
  ReadDrawing r = Read(d);
  const DisplayList list = draw::BuildDisplayList(*r.context, 0);
  ASSERT_EQ(1u, list.lines.size());
  EXPECT_NEAR(10, list.lines[0].x1, kEps);
  EXPECT_NEAR(1, list.lines[0].y1, kEps);
  EXPECT_NEAR(10, list.lines[0].x2, kEps);
  EXPECT_NEAR(3, list.lines[0].y2, kEps);
  ASSERT_EQ(3, r.jww->EntBlockTreeN);
  const TEntJwwBlockTree& leaf = r.jww->EntBlockTree[2];
  EXPECT_NEAR(leaf.x, list.lines[0].x1, kEps);
  EXPECT_NEAR(leaf.y, list.lines[0].y1, kEps);
  EXPECT_NEAR(leaf.x + leaf.r1, list.lines[0].x2, kEps);
  EXPECT_NEAR(leaf.y + leaf.r3, list.lines[0].y2, kEps);
}

TEST(NestedInsertTest, ArcsAndTextsFollowThePlacement) {
  Text t;
  t.x1 = 0, t.y1 = 0, t.x2 = 6, t.y2 = 0, t.sx = 3, t.sy = 4, t.spacing = 0, t.angle = 0;
  const DisplayList list =
      ListOf(WithDefinitions({{Ins(2, 0, 0, 2, 2, kPi / 2)}, {MakeArc(1, 0, 1, 0, kPi / 2, 0, 1, 0), t}}));
  ASSERT_EQ(1u, list.arcs.size());
  EXPECT_NEAR(0, list.arcs[0].cx, kEps);
  EXPECT_NEAR(2, list.arcs[0].cy, kEps);
  ExpectExtent({-2, 2, 0, 4}, draw::ArcExtent(list.arcs[0]));
  ASSERT_EQ(1u, list.texts.size());
  EXPECT_NEAR(90, list.texts[0].angle, kEps);
  EXPECT_NEAR(6, list.texts[0].width, kEps);
  EXPECT_NEAR(8, list.texts[0].height, kEps);
  ExpectExtent({-8, 0, 0, 12}, draw::TextExtent(list.texts[0]));
}

// ---- bounds: self inserts, cycles, deep chains, the primitive limit ----

TEST(InsertBoundsTest, ADefinitionThatInsertsItselfIsDrawnOnce) {
  const DisplayList list = ListOf(WithDefinitions({{L(0, 0, 1, 1), Ins(1, 5, 5)}}));
  EXPECT_EQ(1u, list.lines.size());
  EXPECT_EQ(1, list.skippedInserts);
  EXPECT_FALSE(list.truncated);
}

TEST(InsertBoundsTest, ACycleIsCutWhereItComesBack) {
  const DisplayList list = ListOf(WithDefinitions({{L(0, 0, 1, 0), Ins(2, 0, 1)}, {L(0, 0, 2, 0), Ins(1, 0, 1)}}));
  ASSERT_EQ(2u, list.lines.size());
  EXPECT_EQ(1, list.skippedInserts);
  EXPECT_NEAR(2, list.lines[1].x2, kEps);
}

TEST(InsertBoundsTest, ADeepChainStopsAtTheDepthLimit) {
  std::vector<std::vector<Entity>> defs;
  for (uint32_t i = 1; i <= 40; ++i) defs.push_back({L(0, 0, 1, 0), Ins(i + 1, 0, 1)});
  draw::Limits limits;
  limits.maxDepth = 5;
  const DisplayList list = ListOf(WithDefinitions(defs), 0, limits);
  EXPECT_EQ(6u, list.lines.size());  // the definition and five levels below it
  EXPECT_EQ(1, list.skippedInserts);
  EXPECT_NEAR(5, list.extent->maxY, kEps);
}

TEST(InsertBoundsTest, ADoublingChainStopsAtThePrimitiveLimit) {
  // Every level inserts the next twice: 2^30 lines unbounded.
  std::vector<std::vector<Entity>> defs;
  for (uint32_t i = 1; i <= 30; ++i) defs.push_back({L(0, 0, 1, 0), Ins(i + 1), Ins(i + 1, 0, 1)});
  draw::Limits limits;
  limits.maxPrimitives = 1000;
  const DisplayList list = ListOf(WithDefinitions(defs), 0, limits);
  EXPECT_EQ(1000u, list.size());
  EXPECT_TRUE(list.truncated);
}

TEST(InsertBoundsTest, AnInsertOfNoDefinitionIsSkipped) {
  const DisplayList list = ListOf(WithDefinitions({{L(0, 0, 1, 0), Ins(99)}}));
  EXPECT_EQ(1u, list.lines.size());
  EXPECT_EQ(1, list.skippedInserts);
}

// ---- colours and line types ----

struct ColorCase {
  const char* name;
  bool jws;
  uint16_t penColor;
  Rgb expected;
};

class ColorTest : public ::testing::TestWithParam<ColorCase> {};

TEST_P(ColorTest, ComesFromTheTablesOrThePalette) {
  const ColorCase& c = GetParam();
  Line l = L(0, 0, 1, 0);
  l.att.penColor = c.penColor;
  ReadDrawing r = Read(WithDefinitions({{l}}, c.jws));
  if (r.jww) {
    r.jww->EntCol[3].aPenColor = 0x00FF8000;     // blue 255, green 128
    r.jww->EntColS[5].aPenColor = 0x000000C0;    // extended colour 105: red 192
    r.jww->EntCol[4] = TEntJwwColorNo{};         // an entry never written
  }
  const DisplayList list = draw::BuildDisplayList(*r.context, 0);
  ASSERT_EQ(1u, list.lines.size());
  EXPECT_EQ(c.expected, list.lines[0].pen.color);
  EXPECT_EQ(c.penColor, list.lines[0].pen.colorNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Colors, ColorTest,
    ::testing::Values(ColorCase{"JwwPenTable", false, 3, Rgb{0, 128, 255}},
                      ColorCase{"JwwPenTableBlack", false, 2, Rgb{0, 0, 0}},
                      ColorCase{"JwwExtendedTable", false, 105, Rgb{192, 0, 0}},
                      ColorCase{"JwwEmptyEntryFallsBack", false, 4, draw::FallbackColor(4)},
                      ColorCase{"JwsPalette", true, 3, draw::FallbackColor(3)},
                      ColorCase{"JwsPaletteRed", true, 8, Rgb{230, 0, 0}},
                      ColorCase{"JwsExtended", true, 102, Rgb{255, 0, 0}},
                      ColorCase{"UnknownNumber", true, 77, Rgb{80, 80, 80}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SolidColorTest, ColourTenIsTheSolidsOwn) {
  for (bool jws : {false, true}) {
    Solid own, pen;
    own.att.penColor = 10;
    own.color = 0x0000FF;  // red
    pen.att.penColor = 8;
    const DisplayList list = ListOf(WithDefinitions({{own, pen}}, jws));
    ASSERT_EQ(2u, list.solids.size());
    EXPECT_EQ((Rgb{255, 0, 0}), list.solids[0].pen.color);
    EXPECT_EQ((jws ? draw::FallbackColor(8) : Rgb{0, 0, 0}), list.solids[1].pen.color);
    EXPECT_EQ(1, list.solids[0].xy[2]);  // the corners in stored order
    EXPECT_EQ(1, list.solids[0].xy[5]);
  }
}

TEST(LineTypeTest, DashesFromTheTableOrThePalette) {
  Line solid = L(0, 0, 1, 0), dashed = L(0, 1, 1, 1), chain = L(0, 2, 1, 2);
  dashed.att.penStyle = 2;
  chain.att.penStyle = 5;
  ReadDrawing r = Read(WithDefinitions({{solid, dashed, chain}}));
  r.jww->EntLtp1[0].alLType = static_cast<int32_t>(0xFF00FF00u);  // line type 2
  r.jww->EntLtp1[0].anTokushuSenUintDot = 2;
  const DisplayList list = draw::BuildDisplayList(*r.context, 0);
  ASSERT_EQ(3u, list.lines.size());
  EXPECT_EQ(-1, list.lines[0].pen.dashes);
  ASSERT_GE(list.lines[1].pen.dashes, 0);
  EXPECT_EQ((draw::Dashes{16, 16, 16, 16}), list.dashes[static_cast<size_t>(list.lines[1].pen.dashes)]);
  // No pattern in the table for type 5: the usual chain line.
  ASSERT_GE(list.lines[2].pen.dashes, 0);
  EXPECT_EQ(draw::FallbackDashes(5), list.dashes[static_cast<size_t>(list.lines[2].pen.dashes)]);
}

// ---- texts, dimensions, damaged input ----

TEST(TextTest, CarriesItsFieldsAndItsBox) {
  Text t;
  t.x1 = 1, t.y1 = 2, t.x2 = 1, t.y2 = 12, t.sx = 2.5, t.sy = 3, t.spacing = 0.5, t.angle = 90;
  t.font = "MS Mincho";
  t.str = Cp932(u"ドア");
  const DisplayList list = ListOf(WithDefinitions({{t}}));
  ASSERT_EQ(1u, list.texts.size());
  const draw::TextPrim& p = list.texts[0];
  EXPECT_EQ(u"ドア", p.text);
  EXPECT_EQ(u"MS Mincho", p.font);
  EXPECT_DOUBLE_EQ(2.5, p.width);
  EXPECT_DOUBLE_EQ(3, p.height);
  EXPECT_DOUBLE_EQ(0.5, p.spacing);
  EXPECT_NEAR(90, p.angle, kEps);
  ExpectExtent({-2, 2, 1, 12}, *list.extent);
}

TEST(DimensionTest, NewerDrawingsAddTheirFurtherLinesAndPoints) {
  Dimension d;
  d.sen = L(0, 0, 10, 0);
  d.moji.x1 = 4, d.moji.y1 = 0.5, d.moji.x2 = 6, d.moji.y2 = 0.5;
  d.moji.str = "10";
  d.ho1 = L(0, -3, 0, 0);
  d.ho2 = L(10, -3, 10, 0);
  d.te1.x = 0, d.te1.y = -3;
  d.te2.x = 10, d.te2.y = -3;
  d.kt1.x = 0, d.kt1.y = 0;
  d.kt1.att.penStyle = 0;  // never filled in
  d.kt2.att.penStyle = 0;
  for (int32_t version : {351, 420, 700}) {
    SCOPED_TRACE(version);
    const DisplayList list = ListOf(WithDefinitions({{d}}, false, version));
    EXPECT_EQ(1u, list.texts.size());
    if (version < 420) {
      EXPECT_EQ(1u, list.lines.size());
      EXPECT_EQ(0u, list.points.size());
      ExpectExtent({0, 0, 10, 3.5}, *list.extent);
    } else {
      EXPECT_EQ(3u, list.lines.size());
      EXPECT_EQ(2u, list.points.size());
      EXPECT_NEAR(-3, list.extent->minY, kEps);
    }
  }
}

TEST(DamagedInputTest, NonFiniteValuesAndBadCountsDrawNothingWrong) {
  Drawing d = WithDefinitions({{L(0, 0, 1, 1), L(0, 0, 2, 2)}});
  ReadDrawing r = Read(d);
  TEntJwwBlockDef& def = r.jww->EntBlockDef[0];
  def.mLine[1].end_x = std::numeric_limits<double>::infinity();
  def.mLineN = 50;   // more than the array holds
  def.mEnkoN = -3;
  const DisplayList list = draw::BuildDisplayList(*r.context, 0);
  EXPECT_EQ(1u, list.lines.size());
  ExpectExtent({0, 0, 1, 1}, *list.extent);
  EXPECT_EQ(0u, draw::BuildDisplayList(*r.context, 1).size());
  EXPECT_EQ(0u, draw::BuildDisplayList(*r.context, -1).size());
  EXPECT_FALSE(draw::BuildDisplayList(*r.context, 1).extent);
}

TEST(DamagedInputTest, AnEmptyDefinitionHasNoExtent) {
  const DisplayList list = ListOf(WithDefinitions({{}}));
  EXPECT_EQ(0u, list.size());
  EXPECT_FALSE(list.extent);
}

}  // namespace
}  // namespace tarnwick::testing
