// The entity list and the block definitions of both formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "jw/block_names.h"
#include "jw/model.h"
#include "read_both.h"
#include "support/drawing_writer.h"

namespace tarnwick {
namespace {

using namespace testing;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Attr StyleAttr(uint8_t style, uint16_t color = 1) {
  Attr a;
  a.group = 9;
  a.penStyle = style;
  a.penColor = color;
  a.penWidth = 4;
  a.layer = 3;
  a.glayer = 2;
  a.flags = 0x11;
  return a;
}

// A drawing whose entity under test is followed by a marker line and a
// definition: both are found only when the entity was read to its exact
// length.
Bytes WithMarker(bool jws, int32_t version, Entity e) {
  Drawing d;
  d.jws = jws;
  d.version = version;
  Line marker;
  marker.x1 = 42.5;
  d.entities = {e, marker};
  Definition def;
  def.name = "after";
  def.entities = {e, marker};
  d.definitions = {def};
  return Write(d);
}

struct SizeCase {
  const char* label;
  Entity entity;
};

class EntityLength : public ::testing::TestWithParam<std::tuple<SizeCase, int32_t, bool>> {};

TEST_P(EntityLength, NextEntityAndDefinitionAreFound) {
  const auto& [c, version, jws] = GetParam();
  Bytes b = WithMarker(jws, version, c.entity);
  TJwBody* body;
  TJwwData w;
  TJwsData s;
  bool ok = jws ? ReadJws(b, s) : ReadJww(b, w);
  body = jws ? static_cast<TJwBody*>(&s) : &w;
  ASSERT_TRUE(ok);
  const int32_t lines = c.entity.index() == 0 ? 2 : 1;
  ASSERT_EQ(lines, body->EntLineN);
  EXPECT_EQ(lines, body->EntBlockDef[0].mLineN);
  EXPECT_EQ(42.5, body->EntLine[static_cast<size_t>(body->EntLineN) - 1].start_x);
  ASSERT_EQ(1, body->EntBlockDefN);
  EXPECT_EQ(u"after", body->EntBlockDef[0].strName);
  EXPECT_EQ(2, body->EntBlockDef[0].N);
  EXPECT_EQ(42.5, body->EntBlockDef[0].mLine[static_cast<size_t>(body->EntBlockDef[0].mLineN) - 1].start_x);
}

Dimension SxfDimension() {
  Dimension d;
  d.att = StyleAttr(5);
  d.sxf = 1;
  d.kt1.att.penStyle = 100;  // this one carries its extension
  d.moji.str = "1200";
  return d;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EntityLength,
    ::testing::Combine(::testing::Values(SizeCase{"line", Line{StyleAttr(1)}}, SizeCase{"arc", Arc{StyleAttr(1)}},
                                         SizeCase{"point", Point{StyleAttr(1)}},
                                         SizeCase{"coded_point", Point{StyleAttr(100)}},
                                         SizeCase{"text", Text{StyleAttr(1)}},
                                         SizeCase{"dimension", SxfDimension()},
                                         SizeCase{"solid", Solid{StyleAttr(1)}},
                                         SizeCase{"coloured_solid", Solid{StyleAttr(1, 10)}},
                                         SizeCase{"insert", Insert{StyleAttr(1)}}),
                       ::testing::Values(300, 350, 351, 419, 420, 700), ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).label) + "_v" + std::to_string(std::get<1>(info.param)) +
             (std::get<2>(info.param) ? "_jws" : "_jww");
    });

TEST(Entities, FieldsLandInTheirRecords) {
  Drawing dr;
  dr.version = 600;
  Point coded{StyleAttr(100)};
  coded.x = 1, coded.y = 2, coded.temp = 1, coded.code = 7, coded.rot = 0.5, coded.scale = 2;
  Point plain{StyleAttr(1)};
  Solid solid{StyleAttr(1, 10)};
  solid.color = 0x123456;
  Solid grey{StyleAttr(1, 9)};
  Text text{StyleAttr(1)};
  text.sx = kNaN, text.sy = 4, text.spacing = kInf, text.angle = kNaN;
  text.font = "MS Mincho";
  text.str = Cp932(u"\u58C1\r\n\u539A");
  Insert ins{StyleAttr(1)};
  ins.x = 10, ins.number = 77;
  dr.entities = {coded, plain, solid, grey, text, ins};
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));

  ASSERT_EQ(2, d.EntTenN);
  EXPECT_EQ(7u, d.EntTen[0].nCode);
  EXPECT_EQ(0.5, d.EntTen[0].radKaitenKaku);
  EXPECT_EQ(2.0, d.EntTen[0].dBairitsu);
  EXPECT_EQ(1u, d.EntTen[0].bKariten);
  EXPECT_EQ(0u, d.EntTen[1].nCode);
  EXPECT_EQ(1.0, d.EntTen[1].dBairitsu) << "a plain point of the drawing gets scale 1";

  ASSERT_EQ(2, d.EntSolidN);
  EXPECT_EQ(0x123456u, d.EntSolid[0].Color);
  EXPECT_EQ(0u, d.EntSolid[1].Color);

  ASSERT_EQ(1, d.EntMojiN);
  const TEntJwwMoji& m = d.EntMoji[0];
  EXPECT_EQ(3.0, m.dSizeX);
  EXPECT_EQ(4.0, m.dSizeY);
  EXPECT_EQ(0.0, m.dKankaku);
  EXPECT_TRUE(std::isnan(m.degKakudo)) << "the angle is kept as read";
  EXPECT_EQ(u"MS Mincho", m.strFontName);
  EXPECT_EQ(u"\u58C1\u539A", m.str) << "line breaks of a text are dropped";

  ASSERT_EQ(1, d.EntBlockN);
  EXPECT_EQ(10.0, d.EntBlock[0].DPKijunTen_x);
  EXPECT_EQ(77u, d.EntBlock[0].nNumber);
  EXPECT_EQ(9u, d.EntBlock[0].att.lGroup);
  EXPECT_EQ(4, d.EntBlock[0].att.nPenWidth);
  EXPECT_EQ(3, d.EntBlock[0].att.nLayer);
  EXPECT_EQ(2, d.EntBlock[0].att.nGLayer);
  EXPECT_EQ(0x11, d.EntBlock[0].att.sFlg);

  // The order list names each entity's kind and index in file order.
  ASSERT_EQ(6u, d.EntNo.size());
  const std::pair<int, int> order[] = {{3, 0}, {3, 1}, {6, 0}, {6, 1}, {4, 0}, {7, 0}};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(order[i].first, d.EntNo[i].EntType) << i;
    EXPECT_EQ(order[i].second, d.EntNo[i].EntNo) << i;
  }
}

TEST(Entities, OldLayoutHasNoPenWidth) {
  Drawing dr;
  dr.version = 350;
  Line l{StyleAttr(2)};
  l.x2 = 8;
  dr.entities = {l};
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  ASSERT_EQ(1, d.EntLineN);
  EXPECT_EQ(0, d.EntLine[0].att.nPenWidth);
  EXPECT_EQ(3, d.EntLine[0].att.nLayer);
  EXPECT_EQ(0x11, d.EntLine[0].att.sFlg);
  EXPECT_EQ(8.0, d.EntLine[0].end_x);
}

TEST(Entities, DimensionsBeforeAndFrom420) {
  for (int32_t version : {419, 420}) {
    Drawing dr;
    dr.version = version;
    Dimension dim = SxfDimension();
    dim.ho1.x1 = 5;
    dim.moji.sx = kNaN;
    dr.entities = {dim};
    TJwwData d;
    ASSERT_TRUE(ReadJww(Write(dr), d));
    ASSERT_EQ(1, d.EntSunpoN);
    const TEntJwwSunpo& s = d.EntSunpo[0];
    EXPECT_EQ(u"1200", s.Moji.str);
    EXPECT_EQ(3.0, s.Moji.dSizeX);
    EXPECT_EQ(0.0, s.Te1.dBairitsu) << "points of a dimension default to scale 0";
    if (version == 419) {
      EXPECT_EQ(0, s.bSxfMode);
      EXPECT_EQ(s.att.nPenStyle, s.Ho1.att.nPenStyle);
      EXPECT_EQ(s.att.lGroup, s.Ho2.att.lGroup);
      EXPECT_EQ(0.0, s.Ho1.start_x);
      EXPECT_EQ(0, s.Kt2.att.nPenStyle);
      EXPECT_EQ(s.att.nPenColor, s.Kt2.att.nPenColor);
    } else {
      EXPECT_EQ(1, s.bSxfMode);
      EXPECT_EQ(5.0, s.Ho1.start_x);
      EXPECT_EQ(100, s.Kt1.att.nPenStyle);
      EXPECT_EQ(1.0, s.Kt1.dBairitsu) << "extension read";
    }
  }
}

TEST(EntityList, ArraysGrowInStepsAndAreCutAtTheEnd) {
  Drawing dr;
  dr.version = 700;
  dr.entities.assign(1001, Line{});
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  EXPECT_EQ(1001, d.EntLineN);
  EXPECT_EQ(1001u, d.EntLine.size());
  EXPECT_EQ(1000, d.EntNo[1000].EntNo);

  // Cut inside a list of 1002: the 1002nd line is missing, the read fails
  // and the array keeps its step size.
  dr.entities.assign(1002, Line{});
  Bytes b = Write(dr);
  b.resize(b.size() - 2 - 49);  // the definition count and the last line (tag and body)
  EXPECT_FALSE(ReadJww(b, d));
  EXPECT_EQ(1001, d.EntLineN);
  EXPECT_EQ(2000u, d.EntLine.size());
  EXPECT_EQ(1002u, d.EntNo.size()) << "the order list keeps its stated length";
  EXPECT_EQ(0, d.EntNo[1001].EntType);
}

TEST(EntityList, LongCountForm) {
  BodyWriter w(700);
  w.out().count(3, /*forceLong=*/true);
  for (int i = 0; i < 3; ++i) w.entity(Line{});
  w.out().count(0);
  TJwwData d;
  ASSERT_TRUE(ReadJww(Concat(JwwHeader(700), w.out().data()), d));
  EXPECT_EQ(3, d.Enthd.n1);
  EXPECT_EQ(3, d.EntLineN);
}

TEST(EntityList, EmptyListGoesStraightToTheDefinitions) {
  Drawing dr;
  Definition def;
  def.name = "only";
  dr.definitions = {def};
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  EXPECT_EQ(0, d.Enthd.n1);
  EXPECT_TRUE(d.EntNo.empty());
  EXPECT_EQ(std::vector<std::u16string>{u"only"}, NamesOf(d));
}

TEST(EntityList, ClassTagsInEveryForm) {
  for (TagForm form : {TagForm::kShort, TagForm::kBig, TagForm::kBigHighBit}) {
    Drawing dr;
    dr.tags = form;
    dr.entities = {Line{}, Arc{}, Line{}, Arc{}, Point{}};
    Definition a, b;
    a.name = "A";
    a.entities = {Line{}, Text{}};
    b.name = "B";
    b.entities = {Arc{}, Line{}, Text{}};  // references to classes registered earlier
    dr.definitions = {a, b};
    TJwwData d;
    ASSERT_TRUE(ReadJww(Write(dr), d)) << int(form);
    EXPECT_EQ(2, d.EntLineN);
    EXPECT_EQ(2, d.EntEnkoN);
    EXPECT_EQ(1, d.EntTenN);
    EXPECT_EQ((std::vector<std::u16string>{u"A", u"B"}), NamesOf(d));
    EXPECT_EQ(1, d.EntBlockDef[1].mEnkoN);
    EXPECT_EQ(1, d.EntBlockDef[1].mMojiN);
  }
}

TEST(EntityList, TagsThatNameNoClassAreSkippedWithoutCounting) {
  BodyWriter w(700);
  w.out().count(2);
  w.entity(Line{});            // CDataSen registered under index 1
  w.out().u16(0x8000);         // index 0
  w.out().u16(0x8063);         // never registered
  w.out().u16(0x7FFF).u32(0x80000050);
  w.out().u16(0x8001);         // a line again
  w.entityBody(Line{});
  w.out().count(0);
  TJwwData d;
  ASSERT_TRUE(ReadJww(Concat(JwwHeader(700), w.out().data()), d));
  EXPECT_EQ(2, d.EntLineN);
}

TEST(EntityList, UnknownClassEndsTheReadKeepingWhatCameBefore) {
  BodyWriter w(700);
  w.out().count(3);
  w.entity(Line{});
  w.out().u16(0xFFFF).u16(1).u16(8).bytes("cdatasen");
  w.entityBody(Line{});
  w.entity(Line{});
  w.out().count(1);
  TJwwData d;
  EXPECT_FALSE(ReadJww(Concat(JwwHeader(700), w.out().data()), d));
  EXPECT_EQ(1, d.EntLineN);
  EXPECT_EQ(0, d.EntBlockDefN);
}

TEST(EntityList, OverlongClassNameEndsTheRead) {
  for (size_t len : {2047u, 2048u}) {
    BodyWriter w(700);
    w.out().count(1).u16(0xFFFF).u16(1).u16(static_cast<uint16_t>(len)).bytes(std::string(len, 'Q'));
    w.out().zeros(100);
    TJwwData d;
    EXPECT_FALSE(ReadJww(Concat(JwwHeader(700), w.out().data()), d)) << len;
  }
}

TEST(EntityList, EndOfFileInsideTheListEndsTheRead) {
  Drawing dr;
  dr.entities = {Line{}, Line{}, Text{}};
  Definition def;
  def.name = "never";
  dr.definitions = {def};
  const Bytes full = Write(dr);
  const size_t header = JwwHeader(700).size();
  // Every cut inside the body ends with false; nothing before the cut is lost.
  for (size_t cut = header; cut < full.size(); ++cut) {
    Bytes b(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    TJwwData d;
    EXPECT_FALSE(ReadJww(b, d)) << cut;
  }
}

TEST(EntityList, EntityCutByTheEndOfTheFileIsDropped) {
  BodyWriter w(700);
  w.out().count(2);
  Text t;
  t.str = std::string(100, 'x');
  w.entity(t);
  w.tagFor(Line{});  // the line's tag, then the file ends: its body delivers nothing
  TJwwData d;
  EXPECT_FALSE(ReadJww(Concat(JwwHeader(700), w.out().data()), d));
  EXPECT_EQ(1, d.EntMojiN);
  EXPECT_EQ(0, d.EntLineN);
  EXPECT_EQ(kKindMoji, d.EntNo[0].EntType);
  EXPECT_EQ(0, d.EntNo[1].EntType) << "a dropped entity gets no order entry";
}

TEST(HostileCounts, RefusedBeforeAnythingIsAllocated) {
  struct Case {
    const char* label;
    int64_t entities;
  } cases[] = {{"negative", -1}, {"int_max", 0x7FFFFFFF}, {"more_than_the_file_holds", 1000}};
  for (const Case& c : cases) {
    BodyWriter w(700);
    w.out().count(c.entities, true);
    w.entity(Line{});
    w.out().count(0);
    TJwwData d;
    EXPECT_FALSE(ReadJww(Concat(JwwHeader(700), w.out().data()), d)) << c.label;
    EXPECT_EQ(static_cast<int32_t>(c.entities), d.Enthd.n1) << c.label;
    EXPECT_TRUE(d.EntNo.empty()) << c.label;
    EXPECT_EQ(0, d.EntLineN) << c.label;
  }
}

TEST(HostileCounts, DefinitionCounts) {
  for (int64_t n : {int64_t(-5), int64_t(0x7FFFFFFF), int64_t(40)}) {
    BodyWriter w(700);
    w.out().count(0).count(n, true);
    Definition def;
    def.name = "x";
    w.definition(def, 0);
    TJwwData d;
    EXPECT_FALSE(ReadJww(Concat(JwwHeader(700), w.out().data()), d)) << n;
    EXPECT_EQ(0, d.EntBlockDefN) << n;
    EXPECT_TRUE(d.EntBlockDef.empty()) << n;
  }
}

TEST(HostileCounts, DefinitionEntityCountKeepsTheNamesReadSoFar) {
  Drawing dr;
  Definition a, b;
  a.name = "first";
  b.name = "second";
  dr.definitions = {a, b};
  Bytes bytes = Write(dr);
  // The first definition's entity count is its last two bytes before the
  // second definition's tag; the second's are the last two of the file.
  bytes.resize(bytes.size() - 2);
  BodyWriter w(700);
  w.out().count(0x40000000, true);
  bytes = Concat(bytes, w.out().data());
  TJwwData d;
  EXPECT_FALSE(ReadJww(bytes, d));
  EXPECT_EQ((std::vector<std::u16string>{u"first", u"second"}), NamesOf(d));
}

TEST(Definitions, HeaderFieldsTimesAndNames) {
  Drawing dr;
  dr.version = 600;
  Definition a, b, c;
  a.number = 11;
  a.referenced = 1;
  a.dtime = 0x80000000u;  // a 64-bit time follows
  a.name = Cp932(u"\u6249\tW800");
  b.number = 12;
  b.dtime = 12345;
  b.name = "plain";
  c.number = 13;
  c.dtime = 0xFFFFFFFFu;
  c.name = "";
  dr.definitions = {a, b, c};
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  ASSERT_EQ(3, d.EntBlockDefN);
  EXPECT_EQ(3, d.Enthd.n2);
  EXPECT_EQ(u"\u6249W800", d.EntBlockDef[0].strName);
  EXPECT_EQ(11u, d.EntBlockDef[0].nNumber);
  EXPECT_EQ(1u, d.EntBlockDef[0].bRefferd);
  EXPECT_EQ(1u, d.EntBlockDef[0].dtime) << "replaced by the position";
  EXPECT_EQ(12345u, d.EntBlockDef[1].dtime);
  EXPECT_EQ(3u, d.EntBlockDef[2].dtime);
  EXPECT_EQ(0, d.EntBlockDef[2].N);
  EXPECT_TRUE(d.EntBlockDef[2].mNo.empty());
}

TEST(Definitions, NestedEntitiesAndTheirDefaults) {
  Drawing dr;
  Definition def;
  def.name = "nested";
  def.entities.assign(501, Text{});
  def.entities.push_back(Point{StyleAttr(1)});
  def.entities.push_back(Insert{});
  dr.definitions = {def};
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  const TEntJwwBlockDef& b = d.EntBlockDef[0];
  EXPECT_EQ(503, b.N);
  EXPECT_EQ(501, b.mMojiN);
  EXPECT_EQ(501u, b.mMoji.size());
  ASSERT_EQ(1, b.mTenN);
  EXPECT_EQ(0.0, b.mTen[0].dBairitsu) << "a plain point inside a definition gets scale 0";
  EXPECT_EQ(1, b.mBlockN);
  EXPECT_EQ(kKindBlock, b.mNo[502].EntType);
}

TEST(Definitions, CutAfterTheSecondOfFive) {
  Drawing dr;
  for (const char* n : {"one", "two", "three", "four", "five"}) {
    Definition def;
    def.name = n;
    def.entities = {Line{}};
    dr.definitions.push_back(def);
  }
  Bytes full = Write(dr);
  // Find the end of the second definition by writing two of them.
  Drawing two = dr;
  two.definitions.resize(2);
  Bytes prefix = Write(two);
  size_t cut = prefix.size();
  Bytes b(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  TJwwData d;
  EXPECT_FALSE(ReadJww(b, d));
  EXPECT_EQ((std::vector<std::u16string>{u"one", u"two", u"", u"", u""}), NamesOf(d));
}

TEST(Definitions, SameBodyUnderBothHeaders) {
  Drawing dr;
  dr.version = 420;
  dr.entities = {Line{}, SxfDimension(), Solid{StyleAttr(1, 10)}, Insert{}};
  Definition def;
  def.name = "shared";
  def.entities = {Text{}, Point{StyleAttr(100)}};
  dr.definitions = {def};
  TJwwData w;
  TJwsData s;
  ASSERT_TRUE(ReadJww(Write(dr), w));
  dr.jws = true;
  ASSERT_TRUE(ReadJws(Write(dr), s));
  EXPECT_EQ(w.EntLineN, s.EntLineN);
  EXPECT_EQ(w.EntSunpoN, s.EntSunpoN);
  EXPECT_EQ(w.EntSolid[0].Color, s.EntSolid[0].Color);
  EXPECT_EQ(NamesOf(w), NamesOf(s));
  EXPECT_EQ(w.EntBlockDef[0].mTen[0].dBairitsu, s.EntBlockDef[0].mTen[0].dBairitsu);
}

TEST(Definitions, UnicodeNamesAndFlagsAreKeptAsStored) {
  BodyWriter w(700);
  w.out().count(0).count(2);
  // A UTF-16 name with a line feed in it.
  w.out().u16(0xFFFF).u16(1).u16(9).bytes("CDataList");
  w.attr(Attr{});
  w.out().u32(1).u32(0).u32(0).wstring(u"\u30D6\u30ED\u30C3\u30AF\n@@SfigorgFlag@@4").count(0);
  w.out().u16(0x8001);
  w.attr(Attr{});
  w.out().u32(2).u32(0).u32(0).wstring(u"long", /*escapeLength=*/true).count(0);
  TJwwData d;
  ASSERT_TRUE(ReadJww(Concat(JwwHeader(700), w.out().data()), d));
  EXPECT_EQ((std::vector<std::u16string>{u"\u30D6\u30ED\u30C3\u30AF@@SfigorgFlag@@4", u"long"}), NamesOf(d));
  EXPECT_TRUE(d.MojiEncode);
}

TEST(Images, Version700IgnoresTheImageSectionUnlessAsked) {
  Drawing dr;
  Definition def;
  def.name = "img";
  dr.definitions = {def};
  ByteWriter section;
  section.i32(1).cstring("plan.bmp.gz").i32(4).bytes("\x1f\x8b\x08\x00");
  dr.trailer = section.data();
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  EXPECT_EQ(0, d.BindImageN);

  d.BindImageExr = true;
  ASSERT_TRUE(ReadJww(Write(dr), d));
  ASSERT_EQ(1, d.BindImageN);
  EXPECT_EQ(u"plan.bmp.gz", d.BindImage[0].Fname);
  EXPECT_EQ(4, d.BindImage[0].Fsize);

  dr.version = 699;  // no image section before 700: the bytes are not read
  TJwwData old;
  old.BindImageExr = true;
  ASSERT_TRUE(ReadJww(Write(dr), old));
  EXPECT_EQ(0, old.BindImageN);
}

TEST(Images, JwsHasNoImageSection) {
  Drawing dr;
  dr.jws = true;
  dr.trailer = {1, 2, 3, 4, 5};
  TJwsData d;
  d.BindImageExr = true;
  ASSERT_TRUE(ReadJws(Write(dr), d));
  EXPECT_EQ(0, d.BindImageN);
}

// A drawing with a bit of everything, for the damage sweeps below.
Drawing Rich(bool jws, int32_t version) {
  Drawing dr;
  dr.jws = jws;
  dr.version = version;
  Text t;
  t.str = Cp932(u"\u6587\u5B57");
  dr.entities = {Line{}, Arc{}, Point{StyleAttr(100)}, t, SxfDimension(), Solid{StyleAttr(1, 10)}, Insert{}};
  for (int i = 0; i < 4; ++i) {
    Definition def;
    def.number = static_cast<uint32_t>(i + 1);
    def.dtime = i == 2 ? 0x80000001u : 0;
    def.name = "def" + std::to_string(i) + "@@SfigorgFlag@@4";
    def.entities = {Line{}, t, Insert{{}, 0, 0, 1, 1, 0, static_cast<uint32_t>(i)}, Point{}};
    dr.definitions.push_back(def);
  }
  return dr;
}

class DamageSweep : public ::testing::TestWithParam<std::tuple<bool, int32_t>> {};

TEST_P(DamageSweep, EveryCutAndFlipEndsCleanlyAndBothReadersAgree) {
  const auto [jws, version] = GetParam();
  const Bytes full = Write(Rich(jws, version));
  for (size_t cut = 0; cut <= full.size(); cut += 1) {
    Bytes b(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    TJwwData w;
    TJwsData s;
    bool ok = jws ? ReadJws(b, s) : ReadJww(b, w);
    if (cut == full.size()) {
      EXPECT_TRUE(ok);
    }
  }
  const size_t start = jws ? 452 : JwwHeader(version).size();
  for (size_t at = start; at < full.size(); ++at) {
    for (uint8_t x : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0x01)}) {
      Bytes b = full;
      b[at] ^= x;
      TJwwData w;
      TJwsData s;
      if (jws)
        ReadJws(b, s);
      else
        ReadJww(b, w);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DamageSweep,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(300, 419, 700)));


// The names-only reader says which definition's name the end of the file cut
// short; a name that ends right at the end of the file is whole.
TEST(BlockNames, NameCutByTheEndOfTheFileIsNamed) {
  for (bool jws : {false, true}) {
    Drawing d;
    d.jws = jws;
    Definition first, second;
    first.name = "first";
    second.name = "second-name";
    d.definitions = {first, second};
    const Bytes whole = Write(d);
    const std::string name = second.name;
    const auto at = std::search(whole.begin(), whole.end(), name.begin(), name.end());
    ASSERT_NE(whole.end(), at);
    const size_t start = static_cast<size_t>(at - whole.begin());
    const struct {
      size_t keep;
      int32_t cut;
      const char* listed;
    } cases[] = {{start + 1, 1, "s"}, {start + 6, 1, "second"}, {start + name.size() - 1, 1, "second-nam"},
                 {start + name.size(), -1, "second-name"}, {start, 1, ""}};
    for (const auto& c : cases) {
      Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.keep));
      BlockNameList out;
      ReadBlockNames(cut.data(), cut.size(), jws ? DrawingFormat::kJws : DrawingFormat::kJww, out);
      EXPECT_FALSE(out.ok);
      ASSERT_EQ(2u, out.names.size()) << c.keep;
      EXPECT_EQ(c.cut, out.cutName) << "kept " << c.keep - start << " bytes of the name";
      EXPECT_EQ(std::u16string(c.listed, c.listed + std::strlen(c.listed)), out.names[1]);
    }
    BlockNameList out;
    ReadBlockNames(whole.data(), whole.size(), jws ? DrawingFormat::kJws : DrawingFormat::kJww, out);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(-1, out.cutName);
  }
}

}  // namespace
}  // namespace tarnwick
