#include "jw/archive.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>

namespace tarnwick {

namespace {

// Windows decodes a few single bytes of code page 932 that ICU's table leaves
// unassigned; everything else it cannot map becomes KATAKANA MIDDLE DOT.
constexpr char16_t kCp932Replacement = u'\u30FB';

char16_t Cp932SingleByteExtra(uint8_t b) {
  switch (b) {
    case 0x80: return u'\u0080';
    case 0xA0: return u'\uF8F0';
    case 0xFD: return u'\uF8F1';
    case 0xFE: return u'\uF8F2';
    case 0xFF: return u'\uF8F3';
    default: return 0;
  }
}

struct CallbackContext {
  bool cp932 = false;
};

void ToUnicodeCallback(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits,
                       int32_t length, UConverterCallbackReason reason, UErrorCode* err) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  const auto* ctx = static_cast<const CallbackContext*>(context);
  UChar sub = 0xFFFD;
  if (ctx->cp932) {
    sub = kCp932Replacement;
    if (length == 1) {
      if (char16_t extra = Cp932SingleByteExtra(static_cast<uint8_t>(codeUnits[0]))) sub = extra;
    }
  }
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &sub, 1, 0, err);
}

std::string IcuNameFor(int codePage) {
  switch (codePage) {
    case 932: return "windows-31j";
    case 936: return "windows-936-2000";
    case 949: return "windows-949-2000";
    case 950: return "windows-950-2000";
    case 65001: return "UTF-8";
    default: return "windows-" + std::to_string(codePage);
  }
}

}  // namespace

struct ByteTextDecoder::Impl {
  UConverter* conv = nullptr;
  CallbackContext ctx;
  ~Impl() {
    if (conv) ucnv_close(conv);
  }
};

ByteTextDecoder::ByteTextDecoder(int codePage) : codePage_(codePage), impl_(std::make_unique<Impl>()) {
  UErrorCode err = U_ZERO_ERROR;
  impl_->conv = ucnv_open(IcuNameFor(codePage).c_str(), &err);
  if (U_FAILURE(err) || !impl_->conv) {
    err = U_ZERO_ERROR;
    impl_->conv = ucnv_open(("cp" + std::to_string(codePage)).c_str(), &err);
  }
  if (U_FAILURE(err) || !impl_->conv)
    throw std::runtime_error("no converter for code page " + std::to_string(codePage));
  impl_->ctx.cp932 = codePage == 932;
  err = U_ZERO_ERROR;
  ucnv_setToUCallBack(impl_->conv, ToUnicodeCallback, &impl_->ctx, nullptr, nullptr, &err);
}

ByteTextDecoder::~ByteTextDecoder() = default;

std::u16string ByteTextDecoder::decode(const uint8_t* bytes, size_t n) const {
  const void* nul = n ? std::memchr(bytes, 0, n) : nullptr;
  if (nul) n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes);
  std::u16string out;
  if (n == 0) return out;
  // Plain ASCII decodes to itself in every code page we use.
  size_t i = 0;
  while (i < n && bytes[i] < 0x80) ++i;
  if (i == n) {
    out.resize(n);
    for (size_t k = 0; k < n; ++k) out[k] = bytes[k];
    return out;
  }
  out.resize(n + 1);
  UErrorCode err = U_ZERO_ERROR;
  ucnv_resetToUnicode(impl_->conv);
  int32_t len = ucnv_toUChars(impl_->conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const char*>(bytes), static_cast<int32_t>(n), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(len) + 1);
    err = U_ZERO_ERROR;
    ucnv_resetToUnicode(impl_->conv);
    len = ucnv_toUChars(impl_->conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                        reinterpret_cast<const char*>(bytes), static_cast<int32_t>(n), &err);
  }
  if (U_FAILURE(err)) return std::u16string();
  out.resize(static_cast<size_t>(len));
  // A decoded U+0000 ends the text.
  size_t z = out.find(char16_t(0));
  if (z != std::u16string::npos) out.resize(z);
  return out;
}

const ByteTextDecoder& ByteTextDecoder::ForThread(int codePage) {
  thread_local std::map<int, std::unique_ptr<ByteTextDecoder>> decoders;
  auto& slot = decoders[codePage];
  if (!slot) slot = std::make_unique<ByteTextDecoder>(codePage);
  return *slot;
}

std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n, const ByteTextDecoder& decoder) {
  return decoder.decode(bytes, n);
}

std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n, int codePage) {
  return ByteTextDecoder::ForThread(codePage).decode(bytes, n);
}

std::u16string WideBytesToStr(const uint8_t* bytes, size_t n) {
  std::u16string out;
  out.reserve(n / 2);
  for (size_t i = 0; i + 1 < n; i += 2) {
    char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

void RemoveControlsInPlace(std::u16string& s) {
  size_t w = 0;
  for (char16_t c : s)
    if (c >= 0x20) s[w++] = c;
  s.resize(w);
}

std::u16string StrRemoveControls(const std::u16string& s) {
  std::u16string out = s;
  RemoveControlsInPlace(out);
  return out;
}

bool IsFiniteDouble(double d) { return std::isfinite(d); }

std::u16string ReadCString(ByteCursor& cur, const ByteTextDecoder& decoder, bool& mojiEncode) {
  StringHead h = ReadStringHead(cur, mojiEncode);
  const uint8_t* p = cur.peek();
  size_t got = cur.advance(h.bytes);
  return h.wide ? WideBytesToStr(p, got) : decoder.decode(p, got);
}

std::u16string ReadCStringClean(ByteCursor& cur, const ByteTextDecoder& decoder, bool& mojiEncode) {
  std::u16string s = ReadCString(cur, decoder, mojiEncode);
  RemoveControlsInPlace(s);
  return s;
}

int32_t ReadCount(ByteCursor& cur) {
  if (cur.remaining() < 2) ThrowIoError();
  uint16_t c = LoadLE<uint16_t>(cur.peek());
  cur.advance(2);
  if (c != 0xFFFF) return c;
  if (cur.remaining() < 4) ThrowIoError();
  int32_t big = LoadLE<int32_t>(cur.peek());
  cur.advance(4);
  return big;
}

namespace {

constexpr std::string_view kEntityClassNames[8] = {
    "", "CDataSen", "CDataEnko", "CDataTen", "CDataMoji", "CDataSunpou", "CDataSolid", "CDataBlock"};

uint16_t ReadTagWord(ByteCursor& cur) {
  if (cur.remaining() < 2) ThrowIoError();
  uint16_t w = LoadLE<uint16_t>(cur.peek());
  cur.advance(2);
  return w;
}

uint32_t ReadTagLong(ByteCursor& cur) {
  if (cur.remaining() < 4) ThrowIoError();
  uint32_t v = LoadLE<uint32_t>(cur.peek());
  cur.advance(4);
  return v;
}

// The schema word, the name length and the name of a new class.  The name
// is cut at its first zero byte, as decoding it would.
std::string_view ReadNewClassName(ByteCursor& cur) {
  ReadTagWord(cur);  // schema number, not used
  uint16_t n = ReadTagWord(cur);
  if (n > kMaxClassName) ThrowIoError();
  const uint8_t* p = cur.peek();
  size_t got = cur.advance(n);
  const void* nul = got ? std::memchr(p, 0, got) : nullptr;
  if (nul) got = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  return std::string_view(reinterpret_cast<const char*>(p), got);
}

}  // namespace

EntKind ReadEntityTagSlow(ByteCursor& cur, ClassTagMap& map) {
  uint16_t t = ReadTagWord(cur);
  if (t == 0xFFFF) {
    // ASCII names decode to themselves in the code page, and no other byte
    // sequence decodes to ASCII letters, so the bytes are compared directly.
    std::string_view name = ReadNewClassName(cur);
    for (int k = kKindLine; k <= kKindBlock; ++k) {
      if (name == kEntityClassNames[k]) {
        map.kindIndex[k] = map.archiveIndex;
        map.archiveIndex += 1;
        return static_cast<EntKind>(k);
      }
    }
    ThrowIoError();
  }
  int64_t index;
  if (t == 0x7FFF) {
    uint32_t v = ReadTagLong(cur);
    index = v >= 0x80000000u ? int64_t(v) - int64_t(0x80000000u) : int64_t(v);
  } else {
    index = int64_t(t) - 0x8000;
  }
  return map.kindOf(index);
}

void ReadDefinitionTag(ByteCursor& cur, ClassTagMap& map) {
  uint16_t t = ReadTagWord(cur);
  if (t == 0xFFFF) {
    ReadNewClassName(cur);
    map.archiveIndex += 1;
  } else if (t == 0x7FFF) {
    ReadTagLong(cur);
  }
}

void ReadEntAttr(ByteCursor& cur, int32_t version, TEntJwwAttr& att) {
  att = TEntJwwAttr{};
  cur.num(att.lGroup);
  cur.num(att.nPenStyle);
  cur.num(att.nPenColor);
  if (version >= 351) cur.num(att.nPenWidth);
  cur.num(att.nLayer);
  cur.num(att.nGLayer);
  cur.num(att.sFlg);
}

void CopyEntAttr(const TEntJwwAttr& source, TEntJwwAttr& target) {
  target.lGroup = source.lGroup;
  target.nPenStyle = source.nPenStyle;
  target.nPenColor = source.nPenColor;
  target.nPenWidth = source.nPenWidth;
  target.nLayer = source.nLayer;
  target.nGLayer = source.nGLayer;
  target.sFlg = source.sFlg;
}

}  // namespace tarnwick
