// The block tree built after every read.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "jw/model.h"
#include "read_both.h"
#include "support/drawing_writer.h"

namespace tarnwick {
namespace {

using namespace testing;

Insert Ins(uint32_t number, double x = 0, double y = 0, double sx = 1, double sy = 1, double rot = 0) {
  Insert i;
  i.number = number;
  i.x = x, i.y = y, i.sx = sx, i.sy = sy, i.rot = rot;
  return i;
}

Definition Def(uint32_t number, const char* name, std::vector<Entity> entities = {}) {
  Definition d;
  d.number = number;
  d.name = name;
  d.entities = std::move(entities);
  return d;
}

TJwwData& Read(const Drawing& dr, TJwwData& d) {
  EXPECT_TRUE(ReadJww(Write(dr), d));
  return d;
}

TEST(BlockTree, NoInsertsOfTheDrawingMeansNoTree) {
  Drawing dr;
  dr.definitions = {Def(1, "A", {Ins(2)}), Def(2, "B")};
  TJwwData d;
  Read(dr, d);
  EXPECT_EQ(0, d.EntBlockTreeN);
  EXPECT_EQ(0, d.EntBlockNum);
  for (const auto& def : d.EntBlockDef) {
    EXPECT_FALSE(def.ref_flag);
    EXPECT_EQ(-1, def.ref_no);
  }
}

TEST(BlockTree, ScaleThenRotate) {
  Drawing dr;
  dr.entities = {Ins(1, 0, 0, 2, 3, std::numbers::pi / 2)};
  dr.definitions = {Def(1, "A")};
  TJwwData d;
  Read(dr, d);
  ASSERT_EQ(1, d.EntBlockTreeN);
  const TEntJwwBlockTree& n = d.EntBlockTree[0];
  EXPECT_NEAR(0.0, n.r1, 1e-12);
  EXPECT_NEAR(-3.0, n.r2, 1e-12);
  EXPECT_NEAR(2.0, n.r3, 1e-12);
  EXPECT_NEAR(0.0, n.r4, 1e-12);
  EXPECT_EQ(0, n.defno);
  EXPECT_EQ(u"A", n.name);
}

TEST(BlockTree, NestedInsertsAreExpandedBreadthFirst) {
  Drawing dr;
  Line mark;
  mark.att.group = 77;
  dr.entities = {Ins(1, 10, 0), Ins(9)};
  Definition a = Def(1, "A", {Ins(2, 1, 1), Ins(3)});
  a.att.group = 5;
  dr.definitions = {a, Def(2, "B", {Ins(3)}), Def(3, "C")};
  TJwwData d;
  Read(dr, d);
  // Depth 0: A, 9 (no definition); then A's children B, C; then B's child C.
  ASSERT_EQ(5, d.EntBlockTreeN);
  const TEntJwwBlockTree* t = d.EntBlockTree.data();
  EXPECT_EQ(u"A", t[0].name);
  EXPECT_EQ(-1, t[1].defno);
  EXPECT_EQ(u"", t[1].name);
  EXPECT_EQ(u"B", t[2].name);
  EXPECT_EQ(1, t[2].level);
  EXPECT_EQ(0, t[2].parent);
  EXPECT_EQ(11.0, t[2].x);
  EXPECT_EQ(1.0, t[2].y);
  EXPECT_EQ(5u, t[2].att.lGroup) << "a nested node carries the attribute of the definition holding it";
  EXPECT_EQ(u"C", t[3].name);
  EXPECT_EQ(u"C", t[4].name);
  EXPECT_EQ(2, t[4].level);
  EXPECT_EQ(2, t[4].parent);
  EXPECT_EQ(3, d.EntBlockNum);
  EXPECT_EQ(0, d.EntBlockDef[0].ref_no);
  EXPECT_EQ(2, d.EntBlockDef[2].ref_no) << "numbered in definition order";
}

TEST(BlockTree, FirstOfTwoDefinitionsWithTheSameNumberWins) {
  Drawing dr;
  dr.entities = {Ins(4), Ins(4)};
  dr.definitions = {Def(3, "other"), Def(4, "first"), Def(4, "second")};
  TJwwData d;
  Read(dr, d);
  ASSERT_EQ(2, d.EntBlockTreeN);
  EXPECT_EQ(1, d.EntBlockTree[0].defno);
  EXPECT_EQ(1, d.EntBlockTree[1].defno);
  EXPECT_FALSE(d.EntBlockDef[2].ref_flag);
  EXPECT_EQ(1, d.EntBlockNum);
  EXPECT_EQ(0, d.EntBlockDef[1].ref_no);
}

TEST(BlockTree, SelfInsertingDefinitionsStopAtTheDepthBound) {
  Drawing dr;
  dr.entities = {Ins(1)};
  dr.definitions = {Def(1, "loop", {Ins(2)}), Def(2, "back", {Ins(1)})};
  TJwwData d;
  Read(dr, d);
  EXPECT_EQ(TJwBody::kMaxTreeLevel + 1, d.EntBlockTreeN);
  EXPECT_EQ(TJwBody::kMaxTreeLevel, d.EntBlockTree.back().level);
  EXPECT_EQ((std::vector<std::u16string>{u"loop", u"back"}), NamesOf(d));
}

TEST(BlockTree, ExponentialTreesStopAtTheNodeBound) {
  // Fifteen definitions each inserting the next one twice: 2^15 leaves.
  Drawing dr;
  dr.entities = {Ins(1)};
  for (uint32_t i = 1; i <= 15; ++i)
    dr.definitions.push_back(Def(i, "d", i < 15 ? std::vector<Entity>{Ins(i + 1), Ins(i + 1)} : std::vector<Entity>{}));
  TJwwData d;
  Read(dr, d);
  EXPECT_EQ((1 << 15) - 1, d.EntBlockTreeN);

  // Thirty levels would make a billion nodes: the tree stops at its bound.
  dr.definitions.clear();
  for (uint32_t i = 1; i <= 30; ++i)
    dr.definitions.push_back(Def(i, "d", {Ins(i + 1), Ins(i + 1), Ins(i + 1)}));
  Read(dr, d);
  EXPECT_EQ(d.TreeNodeLimit, d.EntBlockTreeN);
  EXPECT_LE(d.TreeNodeLimit, TJwBody::kMaxTreeNodes);
  EXPECT_EQ(30, d.EntBlockDefN);
}

}  // namespace
}  // namespace tarnwick
