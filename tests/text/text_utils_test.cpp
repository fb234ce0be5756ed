#include "text/text_utils.h"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <climits>
#include <string>
#include <vector>

#include "text/utf.h"

namespace tarnwick {
namespace {

std::string Show(const std::u16string& s) { return ToUtf8(s); }

// --- Letter case -----------------------------------------------------------

TEST(StrCase, UpperAndLowerKeepTheLengthAndCaseFullWidthLetters) {
  EXPECT_EQ(u"@@SFIGORGFLAG", StrUpperForLocale(u"@@sfigorgFlag", "en_US"));
  EXPECT_EQ(u"ＡＢＣ", StrUpperForLocale(u"ａｂｃ", "en_US"));
  EXPECT_EQ(u"ａｂｃ", StrLowerForLocale(u"ＡＢＣ", "ja_JP"));
  EXPECT_EQ(u"ÉÀ", StrUpperForLocale(u"éà", "fr_FR"));
  EXPECT_EQ(u".jww", StrLowerForLocale(u".JWW", "en_US"));
  EXPECT_EQ(u"", StrUpper(u""));
  // Full case mappings that would change the length are not taken.
  EXPECT_EQ(u"\u00DF", StrUpperForLocale(u"\u00DF", "de_DE"));
  EXPECT_EQ(u"i\u00ec", StrLowerForLocale(u"I\u00cc", "lt_LT"));
}

TEST(StrCase, SurrogatePairsAreCasedAndLoneSurrogatesKept) {
  // DESERET SMALL LETTER LONG I and its capital.
  EXPECT_EQ(u"A\U00010400B", StrUpperForLocale(u"a\U00010428b", "en_US"));
  EXPECT_EQ(u"a\U00010428b", StrLowerForLocale(u"A\U00010400B", "en_US"));
  const std::u16string lone{u'a', char16_t(0xD801), u'b', char16_t(0xDC28)};
  const std::u16string loneUpper{u'A', char16_t(0xD801), u'B', char16_t(0xDC28)};
  EXPECT_EQ(loneUpper, StrUpperForLocale(lone, "en_US"));
}

TEST(StrCase, TurkishDotlessAndDottedI) {
  EXPECT_EQ(u"\u0130I", StrUpperForLocale(u"i\u0131", "tr_TR"));
  EXPECT_EQ(u"\u0131i", StrLowerForLocale(u"I\u0130", "tr"));
  EXPECT_EQ(u"\u0130", StrUpperForLocale(u"i", "az_AZ"));
  EXPECT_EQ(u"II", StrUpperForLocale(u"i\u0131", "en_US"));
  EXPECT_EQ(u"i", StrLowerForLocale(u"I", "en_US"));
}

TEST(StrCase, LengthIsKeptForEveryBmpCodeUnit) {
  std::u16string all;
  for (char32_t c = 1; c <= 0xFFFF; ++c) all.push_back(static_cast<char16_t>(c));
  for (const char* locale : {"en_US", "tr_TR", "lt_LT", "el_GR", "nl_NL"}) {
    EXPECT_EQ(all.size(), StrUpperForLocale(all, locale).size()) << locale;
    EXPECT_EQ(all.size(), StrLowerForLocale(all, locale).size()) << locale;
  }
}

// --- Searching and slicing -------------------------------------------------

TEST(StrIndexOf, FindsTheFirstOccurrenceAndNeverTheEmptyText) {
  EXPECT_EQ(2, StrIndexOf(u"c", u"abc"));
  EXPECT_EQ(0, StrIndexOf(u"ab", u"abab"));
  EXPECT_EQ(3, StrIndexOf(u"@@SFIGORGFLAG", u"BLK@@SFIGORGFLAG@@SFIGORGFLAG"));
  EXPECT_EQ(-1, StrIndexOf(u"C", u"abc"));
  EXPECT_EQ(-1, StrIndexOf(u"", u"abc"));
  EXPECT_EQ(-1, StrIndexOf(u"abc", u""));
  EXPECT_EQ(-1, StrIndexOf(u"", u""));
  EXPECT_EQ(-1, StrIndexOf(u"abcd", u"abc"));
}

struct MidCase {
  std::u16string s;
  int32_t index;
  int32_t count;
  std::u16string expected;
};

class StrMidTable : public testing::TestWithParam<MidCase> {};

TEST_P(StrMidTable, CutsAtBothEnds) {
  const MidCase& c = GetParam();
  EXPECT_EQ(c.expected, StrMid(c.s, c.index, c.count)) << c.index << "," << c.count;
}

INSTANTIATE_TEST_SUITE_P(Cases, StrMidTable,
                         testing::Values(MidCase{u"abc", -1, 1, u"a"}, MidCase{u"abc", 3, 1, u""},
                                         MidCase{u"abc", 1, 5, u"bc"}, MidCase{u"abc", 0, 0, u""},
                                         MidCase{u"abc", 1, -3, u""}, MidCase{u"abc", 0, 3, u"abc"},
                                         MidCase{u"abc", INT32_MIN, INT32_MAX, u"abc"},
                                         MidCase{u"abc", INT32_MAX, INT32_MAX, u""}, MidCase{u"", 0, 1, u""}));

TEST(StrCopyFrom, StartsAtTheIndexWithinTheText) {
  EXPECT_EQ(u"bc", StrCopyFrom(u"abc", 1));
  EXPECT_EQ(u"abc", StrCopyFrom(u"abc", -5));
  EXPECT_EQ(u"", StrCopyFrom(u"abc", 3));
  EXPECT_EQ(u"", StrCopyFrom(u"abc", INT32_MAX));
}

TEST(SurrogateKind, PairsAreFormedFromTheStart) {
  const std::u16string pair = u"a\U0001F600b";  // a, lead, trail, b
  EXPECT_EQ(0, SurrogateKind(pair, 0));
  EXPECT_EQ(1, SurrogateKind(pair, 1));
  EXPECT_EQ(2, SurrogateKind(pair, 2));
  EXPECT_EQ(0, SurrogateKind(pair, 3));
  EXPECT_EQ(-1, SurrogateKind(pair, -1));
  EXPECT_EQ(-1, SurrogateKind(pair, 4));
  const std::u16string loneLeadAtEnd{u'a', char16_t(0xD83D)};
  EXPECT_EQ(0, SurrogateKind(loneLeadAtEnd, 1));
  // lead lead trail: the first lead stands alone, the second pairs.
  const std::u16string leads{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)};
  EXPECT_EQ(0, SurrogateKind(leads, 0));
  EXPECT_EQ(1, SurrogateKind(leads, 1));
  EXPECT_EQ(2, SurrogateKind(leads, 2));
  // lead trail trail: the last trail stands alone.
  const std::u16string trails{char16_t(0xD83D), char16_t(0xDE00), char16_t(0xDE00)};
  EXPECT_EQ(2, SurrogateKind(trails, 1));
  EXPECT_EQ(0, SurrogateKind(trails, 2));
}

TEST(StrRemoveSpaces, DropsSpacesIdeographicSpacesAndControls) {
  EXPECT_EQ(u"ａb", StrRemoveSpaces(u" ａ\u3000b\t"));
  EXPECT_EQ(u"a\u00A0b", StrRemoveSpaces(std::u16string(u"\r\na\u00A0b\x1F") + char16_t(0)));
  EXPECT_EQ(u"", StrRemoveSpaces(u" \u3000 "));
}

// --- Numbers and flags -----------------------------------------------------

struct IntCase {
  std::u16string s;
  int32_t expected;
};

class StrToIntDef0Table : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntDef0Table, ParsesOrGivesZero) {
  EXPECT_EQ(GetParam().expected, StrToIntDef0(GetParam().s)) << Show(GetParam().s);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToIntDef0Table,
    testing::Values(IntCase{u"12", 12}, IntCase{u"  -7", -7}, IntCase{u"+5", 5}, IntCase{u"$1F", 31},
                    IntCase{u"0x1f", 31}, IntCase{u"0X1F", 31}, IntCase{u"x1f", 31}, IntCase{u"X10", 16},
                    IntCase{u"-$10", -16}, IntCase{u"$FFFFFFFF", -1}, IntCase{u"$80000000", INT32_MIN},
                    IntCase{u"$000000001", 1}, IntCase{u"$100000000", 0}, IntCase{u"2147483647", INT32_MAX},
                    IntCase{u"-2147483648", INT32_MIN}, IntCase{u"2147483648", 0}, IntCase{u"-2147483649", 0},
                    IntCase{u"99999999999999999999", 0}, IntCase{u"007", 7}, IntCase{u"12 ", 0}, IntCase{u"", 0},
                    IntCase{u"   ", 0}, IntCase{u"-", 0}, IntCase{u"$", 0}, IntCase{u"0x", 0}, IntCase{u"1.5", 0},
                    IntCase{u"\t1", 0}, IntCase{u"１２", 0}, IntCase{u"$G1", 0}, IntCase{u"- 1", 0}));

TEST(IntToText, WritesDecimalDigitsWithSign) {
  EXPECT_EQ(u"0", IntToText(0));
  EXPECT_EQ(u"-7", IntToText(-7));
  EXPECT_EQ(u"-2147483648", IntToText(INT32_MIN));
  EXPECT_EQ(u"2147483647", IntToText(INT32_MAX));
  EXPECT_EQ(u"1", BoolToStr01(true));
  EXPECT_EQ(u"0", BoolToStr01(false));
}

struct BoolCase {
  std::u16string s;
  bool expected;
};

class StrToBoolJpTable : public testing::TestWithParam<BoolCase> {};

TEST_P(StrToBoolJpTable, KnowsTheTenTrueWords) { EXPECT_EQ(GetParam().expected, StrToBoolJp(GetParam().s)) << Show(GetParam().s); }

INSTANTIATE_TEST_SUITE_P(Cases, StrToBoolJpTable,
                         testing::Values(BoolCase{u"true", true}, BoolCase{u"On", true}, BoolCase{u"t", true},
                                         BoolCase{u"tru", true}, BoolCase{u"TR", true}, BoolCase{u"1", true},
                                         BoolCase{u"１", true}, BoolCase{u"○", true}, BoolCase{u"真", true},
                                         BoolCase{u"正", true}, BoolCase{u"0", false}, BoolCase{u" 1", false},
                                         BoolCase{u"YES", false}, BoolCase{u"", false}, BoolCase{u"truee", false},
                                         BoolCase{u"ｔ", false}, BoolCase{u"false", false}));

// --- UTF-8 and hex ---------------------------------------------------------

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(Utf8BytesToStr, DecodesStrictlyAndCutsAtTheFirstZero) {
  EXPECT_EQ(u"", Utf8BytesToStr({}));
  EXPECT_EQ(u"abc", Utf8BytesToStr(Bytes({'a', 'b', 'c'})));
  EXPECT_EQ(u"a\u00e9\U0001F600", Utf8BytesToStr(Bytes({'a', 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80})));
  EXPECT_EQ(u"a", Utf8BytesToStr(Bytes({'a', 0, 'b', 0})));
  EXPECT_EQ(u"", Utf8BytesToStr(Bytes({0, 'b'})));
}

TEST(Utf8BytesToStr, AnyIllFormedSequenceGivesTheEmptyText) {
  const std::vector<std::vector<uint8_t>> bad = {
      Bytes({'a', 0xFF, 'b'}),              // byte never used in UTF-8
      Bytes({'a', 0xC0, 0x80}),             // overlong zero
      Bytes({0xE0, 0x80, 0xAF}),            // overlong slash
      Bytes({0xED, 0xA0, 0x80}),            // encoded surrogate
      Bytes({0xF4, 0x90, 0x80, 0x80}),      // above U+10FFFF
      Bytes({'a', 0xE3, 0x81}),             // cut short at the end
      Bytes({'a', 0x80}),                   // stray continuation byte
      Bytes({'a', 0, 0xFF}),                // bad byte after the terminating zero
  };
  for (const auto& b : bad) EXPECT_EQ(u"", Utf8BytesToStr(b)) << testing::PrintToString(b);
}

TEST(BytesToHex, WritesUpperCasePairsUpToTheFirstZero) {
  EXPECT_EQ(u"41", BytesToHex(Bytes({0x41, 0x00, 0x42})));
  EXPECT_EQ(u"", BytesToHex({}));
  EXPECT_EQ(u"0A7FFF", BytesToHex(Bytes({0x0A, 0x7F, 0xFF})));
  EXPECT_EQ(u"616263", StrToHexUtf8(u"abc"));
  EXPECT_EQ(u"", StrToHexUtf8(u""));
}

TEST(HexToBytes, OneBytePerPairAndAClosingZero) {
  EXPECT_EQ(Bytes({0x61, 0x62, 0x63, 0}), HexToBytes(u"616263"));
  EXPECT_EQ(Bytes({0}), HexToBytes(u""));
  EXPECT_EQ(Bytes({0xAB, 0}), HexToBytes(u"ab"));
  EXPECT_EQ(Bytes({0x41, 0}), HexToBytes(u"41F"));  // a lone last digit is dropped
  EXPECT_EQ(Bytes({0}), HexToBytes(u"4"));
  EXPECT_EQ(Bytes({0x41, 0, 0x42, 0}), HexToBytes(u"41ZZ42"));
  EXPECT_EQ(Bytes({0, 0, 0}), HexToBytes(u"-1+1"));  // signs are not digits here
}

TEST(HexUtf8ToStr, RoundTripsTextsAndStopsAtBadPairs) {
  for (const std::u16string& s : {std::u16string(u"abc"), std::u16string(u"C:\\図面\\ブロック.jww"),
                                  std::u16string(u"/home/u/x y/\U0001F600.jws"), std::u16string(u"")}) {
    EXPECT_EQ(s, HexUtf8ToStr(StrToHexUtf8(s))) << Show(s);
  }
  EXPECT_EQ(u"abc", HexUtf8ToStr(u"616263"));
  EXPECT_EQ(u"A", HexUtf8ToStr(u"41ZZ42"));
  EXPECT_EQ(u"", HexUtf8ToStr(u"41FF42"));
  EXPECT_EQ(u"", HexUtf8ToStr(u""));
  EXPECT_EQ(u"ab", HexUtf8ToStr(u"61626"));
}

// --- Width folding and the comparison key ----------------------------------

struct MapCase {
  std::u16string in;
  std::u16string expected;
};

class StrToZenkakuTable : public testing::TestWithParam<MapCase> {};

TEST_P(StrToZenkakuTable, Widens) { EXPECT_EQ(GetParam().expected, StrToZenkaku(GetParam().in)) << Show(GetParam().in); }

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToZenkakuTable,
    testing::Values(MapCase{u"ｶﾞｷﾞｸ", u"ガギク"}, MapCase{u"ﾊﾟ", u"パ"}, MapCase{u"ｱﾞｶ", u"ア゛カ"}, MapCase{u"ﾟ", u"°"},
                    MapCase{u"ﾞ", u"゛"}, MapCase{u"A-1\\", u"Ａ－１￥"}, MapCase{u"\"'` ~", u"”’｀　～"},
                    MapCase{u"ｳﾞﾎﾟﾎﾞ", u"ヴポボ"}, MapCase{u"ｶﾟ", u"カ°"}, MapCase{u"ｶ", u"カ"},
                    MapCase{u"ﾞｶ", u"゛カ"}, MapCase{u"ガギク漢字ＡＢ", u"ガギク漢字ＡＢ"},
                    MapCase{u"a\U0001F600b", u"ａ\U0001F600ｂ"}, MapCase{u"\t\u00e9", u"\t\u00e9"}, MapCase{u"", u""}));

std::u16string Nfkc(const std::u16string& s) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
  EXPECT_TRUE(U_SUCCESS(status));
  icu::UnicodeString out = nfkc->normalize(icu::UnicodeString(s.data(), static_cast<int32_t>(s.size())), status);
  EXPECT_TRUE(U_SUCCESS(status));
  return std::u16string(out.getBuffer(), static_cast<size_t>(out.length()));
}

// The width tables are checked against Unicode's own compatibility mappings,
// so a slip in one of their characters shows here.
TEST(StrToZenkaku, TablesAgreeWithUnicodeCompatibilityMappings) {
  for (char16_t c = 0x21; c <= 0x7E; ++c) {
    const std::u16string wide = StrToZenkaku(std::u16string(1, c));
    ASSERT_EQ(1u, wide.size());
    if (c == u'"') {
      EXPECT_EQ(u"\u201D", wide);
    } else if (c == u'\'') {
      EXPECT_EQ(u"\u2019", wide);
    } else if (c == u'\\') {
      EXPECT_EQ(u"\uFFE5", wide);
    } else {
      EXPECT_EQ(static_cast<char16_t>(c + 0xFEE0), wide[0]) << static_cast<int>(c);
    }
  }
  EXPECT_EQ(u"\u3000", StrToZenkaku(u" "));
  for (char16_t c = 0xFF61; c <= 0xFF9D; ++c) {
    const std::u16string half(1, c);
    EXPECT_EQ(Nfkc(half), StrToZenkaku(half)) << std::hex << static_cast<int>(c);
  }
  // Every letter that takes a mark in the full-width script combines with
  // it, except wo and wa, whose voiced forms are not in the pair table.
  EXPECT_EQ(u"ヲ゛ワ゛", StrToZenkaku(u"ｦﾞﾜﾞ"));
  int pairs = 0;
  for (char16_t c = 0xFF66; c <= 0xFF9D; ++c) {
    if (c == 0xFF66 || c == 0xFF9C) continue;
    for (const char16_t mark : {char16_t(0xFF9E), char16_t(0xFF9F)}) {
      const std::u16string two{c, mark};
      const std::u16string composed = Nfkc(two);
      if (composed.size() == 1) {
        ++pairs;
        EXPECT_EQ(composed, StrToZenkaku(two)) << std::hex << static_cast<int>(c);
      } else {
        EXPECT_EQ(2u, StrToZenkaku(two).size()) << std::hex << static_cast<int>(c);
      }
    }
  }
  EXPECT_EQ(26, pairs);
}

class StrNormalizeKeyTable : public testing::TestWithParam<MapCase> {};

TEST_P(StrNormalizeKeyTable, Unifies) {
  EXPECT_EQ(GetParam().expected, StrNormalizeKey(GetParam().in)) << Show(GetParam().in);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrNormalizeKeyTable,
    testing::Values(MapCase{u"ＡＢＣ", u"ＡＢＣ"}, MapCase{u" abc ", u"ＡＢＣ"}, MapCase{u"ａ\u3000ｂｃ", u"ＡＢＣ"},
                    MapCase{u"ｰ", u"－"}, MapCase{u"-", u"－"}, MapCase{u"ー", u"－"}, MapCase{u"－", u"－"},
                    MapCase{u"x", u"Ｘ"}, MapCase{u"X", u"Ｘ"}, MapCase{u"ｘ", u"Ｘ"}, MapCase{u"×", u"Ｘ"},
                    MapCase{u"'", u"’"}, MapCase{u"`", u"’"}, MapCase{u"´", u"’"}, MapCase{u"‘", u"’"},
                    MapCase{u"′", u"’"}, MapCase{u"\"", u"”"}, MapCase{u"“", u"”"}, MapCase{u"″", u"”"},
                    MapCase{u"ﾞ", u"”"}, MapCase{u"゛", u"”"}, MapCase{u"ｱﾞ", u"ア”"}, MapCase{u"ｶﾞ", u"ガ"},
                    MapCase{u" \t\u3000", u""}, MapCase{u"a\U0001F600", u"Ａ\U0001F600"}, MapCase{u"", u""}));

TEST(StrNormalizeKey, BlankKeyIsNeverFound) {
  EXPECT_EQ(-1, StrIndexOf(StrNormalizeKey(u"   "), StrNormalizeKey(u"ABC")));
  EXPECT_EQ(1, StrIndexOf(StrNormalizeKey(u"b c"), StrNormalizeKey(u"ＡＢＣ")));
}

}  // namespace
}  // namespace tarnwick
