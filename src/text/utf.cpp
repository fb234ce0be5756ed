#include "text/utf.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace tarnwick {

namespace {

void AppendUtf8(std::string& out, UChar32 c) {
  uint8_t buf[4];
  int32_t i = 0;
  UBool error = false;
  U8_APPEND(buf, i, 4, c, error);
  if (error) {
    i = 0;
    U8_APPEND_UNSAFE(buf, i, 0xFFFD);
  }
  out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(i));
}

void AppendUtf16(std::u16string& out, UChar32 c) {
  if (c <= 0xFFFF) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    out.push_back(static_cast<char16_t>(U16_LEAD(c)));
    out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
  }
}

// Decodes UTF-8; an ill-formed byte becomes what escape() makes of it.
template <class Escape>
std::u16string Decode(std::string_view s, Escape escape) {
  std::u16string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const int32_t n = static_cast<int32_t>(s.size());
  int32_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      out.push_back(p[i++]);
      continue;
    }
    int32_t start = i;
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) {
      for (int32_t k = start; k < i; ++k) escape(out, p[k]);
    } else {
      AppendUtf16(out, c);
    }
  }
  return out;
}

template <class Unescape>
std::string Encode(std::u16string_view s, Unescape unescape) {
  std::string out;
  out.reserve(s.size());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    char16_t u = s[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      ++i;
      continue;
    }
    if (U16_IS_LEAD(u) && i + 1 < n && U16_IS_TRAIL(s[i + 1])) {
      AppendUtf8(out, U16_GET_SUPPLEMENTARY(u, s[i + 1]));
      i += 2;
      continue;
    }
    if (U16_IS_SURROGATE(u)) {
      if (!unescape(out, u)) AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
    ++i;
  }
  return out;
}

}  // namespace

std::string ToUtf8(std::u16string_view s) {
  return Encode(s, [](std::string&, char16_t) { return false; });
}

std::u16string FromUtf8(std::string_view s) {
  // One U+FFFD per ill-formed sequence.
  std::u16string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const int32_t n = static_cast<int32_t>(s.size());
  int32_t i = 0;
  while (i < n) {
    UChar32 c;
    U8_NEXT(p, i, n, c);
    AppendUtf16(out, c < 0 ? 0xFFFD : c);
  }
  return out;
}

std::u16string PathText(std::string_view native) {
  return Decode(native, [](std::u16string& out, uint8_t b) { out.push_back(static_cast<char16_t>(0xDC00 + b)); });
}

std::string NativePath(std::u16string_view text) {
  return Encode(text, [](std::string& out, char16_t u) {
    if (u >= 0xDC80 && u <= 0xDCFF) {
      out.push_back(static_cast<char>(u - 0xDC00));
      return true;
    }
    return false;
  });
}

}  // namespace tarnwick
