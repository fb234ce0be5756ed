#include "text/text_utils.h"

#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstring>
#include <string_view>

#include "text/utf.h"

namespace tarnwick {

namespace {

// ---------------------------------------------------------------------------
// Letter case

enum class CaseRules { kDefault, kTurkic };

// Turkish and Azerbaijani pair dotted and dotless i differently; their other
// special casings (and Lithuanian's) add or drop combining marks, which would
// change the length of a text, so only the one-for-one rules are taken.
CaseRules RulesOf(const char* locale) {
  char language[ULOC_LANG_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLanguage(locale, language, sizeof language, &status);
  if (U_FAILURE(status)) return CaseRules::kDefault;
  if (std::strcmp(language, "tr") == 0 || std::strcmp(language, "az") == 0) return CaseRules::kTurkic;
  return CaseRules::kDefault;
}

UChar32 Upper(UChar32 c, CaseRules rules) {
  if (rules == CaseRules::kTurkic && c == u'i') return 0x0130;  // LATIN CAPITAL LETTER I WITH DOT ABOVE
  return u_toupper(c);
}

UChar32 Lower(UChar32 c, CaseRules rules) {
  if (rules == CaseRules::kTurkic && c == u'I') return 0x0131;  // LATIN SMALL LETTER DOTLESS I
  return u_tolower(c);
}

// Maps every code point of s and keeps each mapping only when it takes as
// many code units as the original, so indexes into s stay valid.
template <class Map>
std::u16string MapCase(const std::u16string& s, Map map) {
  std::u16string out(s);
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const char16_t u = s[i];
    if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(s[i + 1])) {
      const UChar32 m = map(U16_GET_SUPPLEMENTARY(u, s[i + 1]));
      if (U_IS_SUPPLEMENTARY(m)) {
        out[i] = U16_LEAD(m);
        out[i + 1] = U16_TRAIL(m);
      }
      i += 2;
      continue;
    }
    const UChar32 m = map(u);
    if (m <= 0xFFFF) out[i] = static_cast<char16_t>(m);
    ++i;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Width folding tables

// Half-width katakana followed by a voiced or semi-voiced mark, two code
// units per pair, and the full-width letter each pair becomes.
constexpr std::u16string_view kKanaPairs = u"ｳﾞｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ";
constexpr std::u16string_view kKanaPairTargets = u"ヴガギグゲゴザジズゼゾダヂヅデドバビブベボパピプペポ";
// Printable ASCII in code order, then the space, and their full-width forms.
constexpr std::u16string_view kAscii = u"!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~ ";
constexpr std::u16string_view kAsciiTargets = u"！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿｀ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝～　";
// Half-width katakana U+FF61 to U+FF9F and their full-width forms.
constexpr std::u16string_view kKana = u"｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ";
constexpr std::u16string_view kKanaTargets = u"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛°";

static_assert(kKanaPairs.size() == 52 && kKanaPairTargets.size() == 26);
static_assert(kAscii.size() == 95 && kAsciiTargets.size() == 95);
static_assert(kKana.size() == 63 && kKanaTargets.size() == 63);

constexpr bool IsRun(std::u16string_view table, char16_t first, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<size_t>(table[i]) != first + i) return false;
  }
  return true;
}
static_assert(IsRun(kAscii, u'!', 94) && kAscii[94] == u' ');
static_assert(IsRun(kKana, 0xFF61, 63));

constexpr bool PairsAreMarked() {
  for (size_t k = 0; k < 26; ++k) {
    const char16_t mark = kKanaPairs[2 * k + 1];
    if (mark != 0xFF9E && mark != 0xFF9F) return false;
  }
  return true;
}
static_assert(PairsAreMarked());

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

std::u16string StrUpperForLocale(const std::u16string& s, const char* locale) {
  const CaseRules rules = RulesOf(locale);
  return MapCase(s, [rules](UChar32 c) { return Upper(c, rules); });
}

std::u16string StrLowerForLocale(const std::u16string& s, const char* locale) {
  const CaseRules rules = RulesOf(locale);
  return MapCase(s, [rules](UChar32 c) { return Lower(c, rules); });
}

std::u16string StrUpper(const std::u16string& s) { return StrUpperForLocale(s, uloc_getDefault()); }

std::u16string StrLower(const std::u16string& s) { return StrLowerForLocale(s, uloc_getDefault()); }

int32_t StrIndexOf(const std::u16string& sub, const std::u16string& s) {
  if (sub.empty() || s.empty()) return -1;
  const size_t at = s.find(sub);
  return at == std::u16string::npos ? -1 : static_cast<int32_t>(at);
}

std::u16string StrCopyFrom(const std::u16string& s, int32_t index) {
  const size_t from = index < 0 ? 0 : static_cast<size_t>(index);
  if (from >= s.size()) return u"";
  return s.substr(from);
}

std::u16string StrMid(const std::u16string& s, int32_t index, int32_t count) {
  const size_t from = index < 0 ? 0 : static_cast<size_t>(index);
  if (from >= s.size() || count < 1) return u"";
  return s.substr(from, static_cast<size_t>(count));
}

int32_t SurrogateKind(const std::u16string& s, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= s.size()) return -1;
  // A lead unit always starts an item and a trail unit can only end one, so
  // the pairing seen from index 0 is decided by the neighbours alone.
  const size_t i = static_cast<size_t>(index);
  if (U16_IS_LEAD(s[i]) && i + 1 < s.size() && U16_IS_TRAIL(s[i + 1])) return 1;
  if (U16_IS_TRAIL(s[i]) && i > 0 && U16_IS_LEAD(s[i - 1])) return 2;
  return 0;
}

std::u16string StrRemoveSpaces(const std::u16string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (const char16_t c : s) {
    if (c > u' ' && c != 0x3000) out.push_back(c);
  }
  return out;
}

std::u16string BoolToStr01(bool b) { return b ? u"1" : u"0"; }

int32_t StrToIntDef0(const std::u16string& s) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && s[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  bool hex = false;
  if (i < n && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return 0;  // no digits

  uint64_t value = 0;
  if (hex) {
    for (; i < n; ++i) {
      const int d = HexDigit(s[i]);
      if (d < 0) return 0;
      value = value * 16 + static_cast<uint64_t>(d);
      if (value > 0xFFFFFFFFu) return 0;
    }
    // A hexadecimal number is a 32-bit pattern; the sign negates the pattern.
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
  }
  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  for (; i < n; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return 0;
    value = value * 10 + static_cast<uint64_t>(s[i] - u'0');
    if (value > limit) return 0;
  }
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
}

std::u16string IntToText(int32_t n) { return Ascii(std::to_string(n)); }

std::u16string Utf8BytesToStr(const std::vector<uint8_t>& b) {
  // The whole buffer must be well-formed, the part after the first zero
  // included; the text ends before the first U+0000.
  std::u16string out;
  out.reserve(b.size());
  const uint8_t* p = b.data();
  const int64_t n = static_cast<int64_t>(b.size());
  int64_t i = 0;
  size_t end = std::u16string::npos;
  while (i < n) {
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) return u"";
    if (c == 0 && end == std::u16string::npos) end = out.size();
    if (end != std::u16string::npos) continue;
    if (c <= 0xFFFF) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(U16_LEAD(c));
      out.push_back(U16_TRAIL(c));
    }
  }
  return out;
}

std::vector<uint8_t> StrToUtf8Bytes(const std::u16string& s) {
  const std::string utf8 = ToUtf8(s);
  return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

std::u16string BytesToHex(const std::vector<uint8_t>& b) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(b.size() * 2);
  for (const uint8_t byte : b) {
    if (byte == 0) break;
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
  }
  return out;
}

std::vector<uint8_t> HexToBytes(const std::u16string& s) {
  // One byte per whole pair and a closing zero; a lone last digit is dropped.
  std::vector<uint8_t> out(s.size() / 2 + 1, 0);
  for (size_t k = 0; k + 1 < out.size(); ++k) {
    const std::u16string pair{u'$', s[2 * k], s[2 * k + 1]};
    out[k] = static_cast<uint8_t>(StrToIntDef0(pair) & 0xFF);
  }
  return out;
}

std::u16string StrToHexUtf8(const std::u16string& s) { return BytesToHex(StrToUtf8Bytes(s)); }

std::u16string HexUtf8ToStr(const std::u16string& s) { return Utf8BytesToStr(HexToBytes(s)); }

std::u16string StrToZenkaku(const std::u16string& s) {
  std::u16string out;
  out.reserve(s.size());
  const size_t n = s.size();
  size_t p = 0;
  while (p < n) {
    if (p + 1 < n) {
      bool paired = false;
      for (size_t k = 0; k < kKanaPairTargets.size(); ++k) {
        if (s[p] == kKanaPairs[2 * k] && s[p + 1] == kKanaPairs[2 * k + 1]) {
          out.push_back(kKanaPairTargets[k]);
          paired = true;
          break;
        }
      }
      if (paired) {
        p += 2;
        continue;
      }
    }
    const char16_t c = s[p];
    const size_t a = kAscii.find(c);
    const size_t k = a == std::u16string_view::npos ? kKana.find(c) : std::u16string_view::npos;
    if (a != std::u16string_view::npos) {
      out.push_back(kAsciiTargets[a]);
    } else if (k != std::u16string_view::npos) {
      out.push_back(kKanaTargets[k]);
    } else {
      out.push_back(c);
    }
    ++p;
  }
  return out;
}

std::u16string StrNormalizeKey(const std::u16string& s) {
  const std::u16string wide = StrToZenkaku(StrUpper(StrRemoveSpaces(s)));
  std::u16string out;
  out.reserve(wide.size());
  const size_t n = wide.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = wide[i];
    if (SurrogateKind(wide, static_cast<int32_t>(i)) == 1) {
      // A surrogate pair is one item and never matches a look-alike.
      out.push_back(c);
      out.push_back(wide[++i]);
      continue;
    }
    switch (c) {
      case 0x00D7:  // MULTIPLICATION SIGN
        out.push_back(0xFF38);
        break;
      case 0x30FC:  // KATAKANA-HIRAGANA PROLONGED SOUND MARK
        out.push_back(0xFF0D);
        break;
      case 0x00B4:  // ACUTE ACCENT
      case 0xFF40:  // FULLWIDTH GRAVE ACCENT
      case 0x2018:  // LEFT SINGLE QUOTATION MARK
      case 0x2032:  // PRIME
        out.push_back(0x2019);
        break;
      case 0x309B:  // KATAKANA-HIRAGANA VOICED SOUND MARK
      case 0x201C:  // LEFT DOUBLE QUOTATION MARK
      case 0x2033:  // DOUBLE PRIME
        out.push_back(0x201D);
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

bool StrToBoolJp(const std::u16string& s) {
  static constexpr std::u16string_view kTrue[] = {
      u"T", u"TR", u"TRU", u"TRUE", u"1",
      u"\uFF11",  // FULLWIDTH DIGIT ONE
      u"\u25CB",  // WHITE CIRCLE
      u"ON",
      u"\u771F",  // 真
      u"\u6B63",  // 正
  };
  const std::u16string upper = StrUpper(s);
  for (const std::u16string_view word : kTrue) {
    if (upper == word) return true;
  }
  return false;
}

}  // namespace tarnwick
