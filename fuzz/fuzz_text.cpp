// The text routines that take outside data (settings lines, block names,
// typed search texts), on any input.  The bytes are read three ways: as they
// are (UTF-8 buffers), one character per byte (settings lines), and as
// UTF-16 code units (names and typed texts).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "body_checks.h"
#include "text/text_utils.h"

using namespace tarnwick;

namespace {

// No U+0000 and every surrogate in a well-formed pair.
bool WellFormed(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void CheckUtf8(const std::vector<uint8_t>& bytes) {
  const std::u16string s = Utf8BytesToStr(bytes);
  if (s.empty()) return;
  fuzz::Require(WellFormed(s), "decoded UTF-8 is not a well-formed text");
  // A text only comes from a well-formed buffer, and is its part before the
  // first zero byte.
  std::vector<uint8_t> head(bytes.begin(), bytes.end());
  for (size_t i = 0; i < head.size(); ++i)
    if (head[i] == 0) {
      head.resize(i);
      break;
    }
  fuzz::Require(StrToUtf8Bytes(s) == head, "decoded UTF-8 does not encode back to its bytes");
}

void CheckHex(const std::u16string& line) {
  const std::u16string s = HexUtf8ToStr(line);
  fuzz::Require(s.find(u'\0') == std::u16string::npos, "a hex text decodes to U+0000");
  if (!s.empty()) fuzz::Require(HexUtf8ToStr(StrToHexUtf8(s)) == s, "a decoded hex text does not round-trip");
}

void CheckNumber(const std::u16string& line) {
  const int32_t n = StrToIntDef0(line);
  fuzz::Require(StrToIntDef0(u" " + line) == n, "a leading space changes the number");
  fuzz::Require(StrToIntDef0(line + u" ") == 0, "a trailing space is taken");
  fuzz::Require(StrToIntDef0(IntToText(n)) == n, "a number does not round-trip through its text");
}

void CheckKey(const std::u16string& s) {
  const std::u16string key = StrNormalizeKey(s);
  fuzz::Require(key.size() <= s.size(), "the key is longer than its text");
  for (char16_t c : key)
    fuzz::Require(c > 0x20 && c != 0x3000, "the key keeps a blank or control character");
  fuzz::Require(StrNormalizeKey(key) == key, "the key of a key is another key");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const std::u16string line(data, data + size);  // one character per byte
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

  CheckUtf8(bytes);
  CheckHex(line);
  CheckNumber(line);
  CheckKey(units);
  if (WellFormed(units)) fuzz::Require(HexUtf8ToStr(StrToHexUtf8(units)) == units, "a text does not round-trip through hex");
  return 0;
}
