// Stored strings, counts, class tags and attribute blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "jw/archive.h"
#include "jw/cursor.h"
#include "support/drawing_writer.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::ByteWriter;

struct StringCase {
  const char* label;
  Bytes stored;
  std::u16string text;
  bool wide;  // sets MojiEncode
  size_t consumed;
};

class StoredString : public ::testing::TestWithParam<StringCase> {};

TEST_P(StoredString, DecodesAndConsumesExactly) {
  const StringCase& c = GetParam();
  ByteCursor cur(c.stored.data(), c.stored.size());
  bool moji = false;
  EXPECT_EQ(c.text, ReadCString(cur, ByteTextDecoder::ForThread(), moji));
  EXPECT_EQ(c.wide, moji);
  EXPECT_EQ(c.consumed, cur.position());

  ByteCursor skip(c.stored.data(), c.stored.size());
  bool moji2 = false;
  SkipCString(skip, moji2);
  EXPECT_EQ(c.consumed, skip.position()) << "skipping must consume what reading consumes";
  EXPECT_EQ(c.wide, moji2);
}

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, StoredString,
    ::testing::Values(
        StringCase{"empty", B({0x00, 0x41}), u"", false, 1},
        StringCase{"short", B({0x03, 'a', 'b', 'c', 'z'}), u"abc", false, 4},
        StringCase{"embedded_zero_ends_text", B({0x03, 'a', 0, 'c'}), u"a", false, 4},
        StringCase{"long_form", B({0xFF, 0x02, 0x00, 'h', 'i'}), u"hi", false, 5},
        StringCase{"wide_empty", B({0xFF, 0xFE, 0xFF, 0x00}), u"", true, 4},
        StringCase{"wide", B({0xFF, 0xFE, 0xFF, 0x02, 0x42, 0x30, 0x44, 0x30}), u"\u3042\u3044", true, 8},
        StringCase{"wide_escaped_length", B({0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x00, 0x41, 0x00}), u"A", true, 8},
        StringCase{"wide_ends_at_u0000", B({0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x00, 0x00}), u"A", true, 8},
        StringCase{"cp932", B({0x04, 0x90, 0x7D, 0x96, 0xCA}), u"\u56F3\u9762", false, 5},
        StringCase{"cut_by_end_of_file", B({0x05, 'a', 'b'}), u"ab", false, 3},
        StringCase{"cut_inside_character", B({0x02, 'a', 0x82}), u"a\u30FB", false, 3},
        StringCase{"nothing_left", B({}), u"", false, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(StoredString, LengthFFFFIsALengthNotAnEscape) {
  ByteWriter w;
  w.u8(0xFF).u16(0xFFFF).bytes(std::string(65535, 'x')).u8('!');
  ByteCursor cur(w.data().data(), w.size());
  bool moji = false;
  std::u16string s = ReadCString(cur, ByteTextDecoder::ForThread(), moji);
  EXPECT_EQ(65535u, s.size());
  EXPECT_EQ(3u + 65535u, cur.position());
}

TEST(StoredString, CleanVariantDropsControlsOnly) {
  Bytes b = B({0x07, 'a', '\r', '\n', ' ', 'b', '\t', 'c'});
  ByteCursor cur(b.data(), b.size());
  bool moji = false;
  EXPECT_EQ(u"a bc", ReadCStringClean(cur, ByteTextDecoder::ForThread(), moji));
}

TEST(ByteTexts, Cp932InMicrosoftsMapping) {
  struct Case {
    Bytes in;
    std::u16string out;
  } cases[] = {
      {B({0x5C, 0x7E}), u"\\~"},             // backslash and tilde, not yen and overline
      {B({0x81, 0x60}), u"\uFF5E"},           // wave dash as full-width tilde
      {B({0x87, 0x40}), u"\u2460"},           // NEC special: circled one
      {B({0xFA, 0x40}), u"\u2170"},           // IBM extension: small roman one
      {B({0xB1}), u"\uFF71"},                 // half-width katakana
      {B({0x80, 0xA0, 0xFD}), u"\u0080\uF8F0\uF8F1"},
      {B({0x85, 0x40}), u"\u30FB"},           // unassigned pair: one replacement
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, AnsiBytesToStr(c.in.data(), c.in.size())) << c.in.size();
}

TEST(ByteTexts, WideBytesToStr) {
  Bytes odd = B({0x41, 0x00, 0x42, 0x00, 0x43});
  EXPECT_EQ(u"AB", WideBytesToStr(odd.data(), odd.size()));
  Bytes nul = B({0x41, 0x00, 0x00, 0x00, 0x42, 0x00});
  EXPECT_EQ(u"A", WideBytesToStr(nul.data(), nul.size()));
  Bytes lone = B({0x00, 0xD8, 0x41, 0x00});
  EXPECT_EQ(std::u16string(u"\xD800" u"A"), WideBytesToStr(lone.data(), lone.size()));
}

TEST(ByteTexts, RemoveControlsAndFiniteTest) {
  EXPECT_EQ(u" b", StrRemoveControls(u" b\t"));
  EXPECT_EQ(u"", StrRemoveControls(u"\x01\x1f"));
  EXPECT_FALSE(IsFiniteDouble(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(IsFiniteDouble(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(IsFiniteDouble(-std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(IsFiniteDouble(0.0));
  EXPECT_TRUE(IsFiniteDouble(std::numeric_limits<double>::max()));
}

TEST(Count, ShortAndLongForms) {
  ByteWriter w;
  w.u16(5).u16(0xFFFF).u32(70000).u16(0xFFFF).u32(0xFFFFFFFF);
  ByteCursor cur(w.data().data(), w.size());
  EXPECT_EQ(5, ReadCount(cur));
  EXPECT_EQ(70000, ReadCount(cur));
  EXPECT_EQ(-1, ReadCount(cur)) << "a 32-bit count is signed";
}

TEST(Count, EndOfFileInsideACountIsAReadError) {
  for (Bytes b : {B({}), B({0x01}), B({0xFF, 0xFF, 0x01, 0x00})}) {
    ByteCursor cur(b.data(), b.size());
    EXPECT_THROW(ReadCount(cur), ReadError) << b.size();
  }
}

Bytes NewClass(const std::string& name) {
  ByteWriter w;
  w.u16(0xFFFF).u16(1).u16(static_cast<uint16_t>(name.size())).bytes(name);
  return w.data();
}

TEST(ClassTag, NewClassRegistersUnderTheCurrentIndexAndReferencesFindIt) {
  ClassTagMap map;
  map.archiveIndex = 2;
  ByteWriter w;
  w.bytes(NewClass("CDataSen")).u16(0x8002).u16(0x7FFF).u32(0x80000002).u16(0x7FFF).u32(2);
  ByteCursor cur(w.data().data(), w.size());
  EXPECT_EQ(kKindLine, ReadEntityTag(cur, map));
  EXPECT_EQ(2, map.kindIndex[kKindLine]);
  EXPECT_EQ(3, map.archiveIndex);
  EXPECT_EQ(kKindLine, ReadEntityTag(cur, map));
  EXPECT_EQ(kKindLine, ReadEntityTag(cur, map));
  EXPECT_EQ(kKindLine, ReadEntityTag(cur, map));
  EXPECT_TRUE(cur.atEnd());
}

TEST(ClassTag, ReferencesToNoKnownClassYieldNone) {
  ClassTagMap map;
  map.kindIndex[kKindEnko] = 1;
  ByteWriter w;
  w.u16(0x8000)          // index 0
      .u16(0x7FFE)       // below 0x8000: negative index
      .u16(0x8005)       // never registered
      .u16(0x7FFF).u32(0x80000009);
  ByteCursor cur(w.data().data(), w.size());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kKindNone, ReadEntityTag(cur, map)) << i;
  EXPECT_TRUE(cur.atEnd());
}

TEST(ClassTag, UnknownOrOverlongClassNamesAreReadErrors) {
  for (const std::string& name : {std::string("CDataLine"), std::string("cdatasen"), std::string(2048, 'C')}) {
    ClassTagMap map;
    Bytes b = NewClass(name);
    ByteCursor cur(b.data(), b.size());
    EXPECT_THROW(ReadEntityTag(cur, map), ReadError) << name.substr(0, 12);
  }
  // 2047 bytes fit; a name that is not a known class is still refused, but
  // only after the whole name was taken.
  ClassTagMap map;
  Bytes b = NewClass(std::string(2047, 'C'));
  ByteCursor cur(b.data(), b.size());
  try {
    ReadEntityTag(cur, map);
    ADD_FAILURE();
  } catch (const ReadError&) {
    EXPECT_EQ(b.size(), cur.position());
  }
}

TEST(ClassTag, DefinitionTagsRegisterWithoutAKind) {
  ClassTagMap map;
  ByteWriter w;
  w.bytes(NewClass("CDataList")).u16(0x8001).u16(0x7FFF).u32(0x12345678);
  ByteCursor cur(w.data().data(), w.size());
  ReadDefinitionTag(cur, map);
  EXPECT_EQ(2, map.archiveIndex);
  EXPECT_EQ(kKindNone, map.kindOf(1));
  ReadDefinitionTag(cur, map);
  ReadDefinitionTag(cur, map);
  EXPECT_TRUE(cur.atEnd());
}

TEST(ClassTag, EndOfFileAtATagIsAReadError) {
  Bytes b = B({0xFF});
  ClassTagMap map;
  ByteCursor cur(b.data(), b.size());
  EXPECT_THROW(ReadEntityTag(cur, map), ReadError);
}

TEST(Attribute, OldFilesStoreNoPenWidth) {
  ByteWriter w;
  w.u32(7).u8(100).u16(10).u16(3).u16(4).u16(5).u16(6);
  for (int version : {350, 351}) {
    ByteCursor cur(w.data().data(), w.size());
    TEntJwwAttr a;
    a.nPenWidth = 99;
    ReadEntAttr(cur, version, a);
    EXPECT_EQ(7u, a.lGroup);
    EXPECT_EQ(100, a.nPenStyle);
    EXPECT_EQ(10, a.nPenColor);
    if (version == 350) {
      EXPECT_EQ(13u, cur.position());
      EXPECT_EQ(0, a.nPenWidth);
      EXPECT_EQ(3, a.nLayer);
      EXPECT_EQ(5, a.sFlg);
    } else {
      EXPECT_EQ(15u, cur.position());
      EXPECT_EQ(3, a.nPenWidth);
      EXPECT_EQ(4, a.nLayer);
    }
  }
}

TEST(Attribute, CopyTakesAllSevenFields) {
  TEntJwwAttr a{1, 2, 3, 4, 5, 6, 7}, b;
  CopyEntAttr(a, b);
  EXPECT_EQ(a.lGroup, b.lGroup);
  EXPECT_EQ(a.nPenStyle, b.nPenStyle);
  EXPECT_EQ(a.nPenColor, b.nPenColor);
  EXPECT_EQ(a.nPenWidth, b.nPenWidth);
  EXPECT_EQ(a.nLayer, b.nLayer);
  EXPECT_EQ(a.nGLayer, b.nGLayer);
  EXPECT_EQ(a.sFlg, b.sFlg);
}

TEST(Cursor, ShortNumberKeepsTheBytesThatDidNotCome) {
  Bytes b = B({0x34, 0x12});
  ByteCursor cur(b.data(), b.size());
  uint32_t x = 0xAABBCCDD;
  EXPECT_EQ(2u, cur.num(x));
  EXPECT_EQ(0xAABB1234u, x);
  EXPECT_EQ(0u, cur.num(x));
}

}  // namespace
}  // namespace tarnwick
