// Archive reading primitives shared by the JWW and JWS readers: stored
// strings, counts, class tags and attribute blocks, and the decoding routines
// they need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "jw/cursor.h"
#include "jw/model.h"

namespace tarnwick {

inline constexpr const char* kFileIoError = "File I/O Error";
inline constexpr const char* kJwwHeaderError = "JWW-Header Error";
inline constexpr const char* kJwwVersionError = "JWW-Version Error";
inline constexpr const char* kJwsHeaderError = "JWS-Header Error";
inline constexpr const char* kJwsVersionError = "JWS-Version Error";

// The input/output error of the readers.  It never leaves them: FileIn and
// FileCheck turn it into false.
struct ReadError {
  const char* message;
};

[[noreturn]] inline void ThrowIoError(const char* message = kFileIoError) { throw ReadError{message}; }

// Decodes byte texts with one code page (932, Japanese in Microsoft's mapping,
// unless told otherwise).  One decoder serves one thread.
class ByteTextDecoder {
 public:
  explicit ByteTextDecoder(int codePage = 932);
  ~ByteTextDecoder();
  ByteTextDecoder(const ByteTextDecoder&) = delete;
  ByteTextDecoder& operator=(const ByteTextDecoder&) = delete;

  int codePage() const { return codePage_; }
  // The bytes up to the first zero byte, decoded; unmappable bytes become the
  // code page's replacement character.
  std::u16string decode(const uint8_t* bytes, size_t n) const;

  // The decoder of this thread for the code page.
  static const ByteTextDecoder& ForThread(int codePage = 932);

 private:
  struct Impl;
  int codePage_;
  std::unique_ptr<Impl> impl_;
};

// Byte text to text with the code page of the decoder.
std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n, const ByteTextDecoder& decoder);
std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n, int codePage = 932);
// UTF-16LE bytes to text; a last odd byte is dropped and the text ends before
// the first U+0000.
std::u16string WideBytesToStr(const uint8_t* bytes, size_t n);
// Every code unit below U+0020 removed.
std::u16string StrRemoveControls(const std::u16string& s);
void RemoveControlsInPlace(std::u16string& s);
bool IsFiniteDouble(double d);

// The length head of a stored string: how many bytes follow and in which
// form.  Sets mojiEncode when the string is stored as UTF-16.
struct StringHead {
  size_t bytes = 0;
  bool wide = false;
};

inline StringHead ReadStringHead(ByteCursor& cur, bool& mojiEncode) {
  StringHead h;
  uint8_t len = 0;
  if (cur.num(len) == 0) return h;
  if (len != 255) {
    h.bytes = len;
    return h;
  }
  uint16_t w = 0;
  cur.num(w);
  if (w != 0xFFFE) {
    h.bytes = w;
    return h;
  }
  mojiEncode = true;
  h.wide = true;
  uint8_t c = 0;
  cur.num(c);
  size_t units = c;
  if (c == 255) {
    uint16_t c16 = 0;
    cur.num(c16);
    units = c16;
  }
  h.bytes = 2 * units;
  return h;
}

// One stored string.  Sets mojiEncode when the string is stored as UTF-16.
std::u16string ReadCString(ByteCursor& cur, const ByteTextDecoder& decoder, bool& mojiEncode);
std::u16string ReadCStringClean(ByteCursor& cur, const ByteTextDecoder& decoder, bool& mojiEncode);
// Consumes one stored string exactly as ReadCString does, decoding nothing.
inline void SkipCString(ByteCursor& cur, bool& mojiEncode) { cur.advance(ReadStringHead(cur, mojiEncode).bytes); }

// An element count: a 16-bit word, or 0xFFFF and a 32-bit count.  The end of
// the file inside a count is a read error.
int32_t ReadCount(ByteCursor& cur);

// The class tags of one file.  Archive indexes start at 1; a kind whose slot
// holds 0 has not been registered.
struct ClassTagMap {
  int32_t archiveIndex = 1;
  int32_t kindIndex[8] = {0, 0, 0, 0, 0, 0, 0, 0};  // by EntKind; entry 0 unused

  EntKind kindOf(int64_t index) const {
    if (index <= 0) return kKindNone;
    for (int k = kKindLine; k <= kKindBlock; ++k)
      if (kindIndex[k] == index) return static_cast<EntKind>(k);
    return kKindNone;
  }
};

// Longest class name the readers take; a longer one is a read error.
inline constexpr size_t kMaxClassName = 2047;

// One class tag of an entity list.  Returns the kind it names, or kKindNone
// for a reference to no known class (nothing more is read for it).  A new
// class whose name is not one of the seven entity classes is a read error.
EntKind ReadEntityTagSlow(ByteCursor& cur, ClassTagMap& map);
inline EntKind ReadEntityTag(ByteCursor& cur, ClassTagMap& map) {
  // Almost every tag is a short reference (0x8001 to 0xFFFE) to a class
  // registered earlier; the rest take the long road.
  if (cur.remaining() >= 2) {
    const uint16_t t = LoadLE<uint16_t>(cur.peek());
    if (t > 0x8000 && t != 0xFFFF) {
      cur.advance(2);
      return map.kindOf(int64_t(t) - 0x8000);
    }
  }
  return ReadEntityTagSlow(cur, map);
}
// One class tag of the definition list: a new class is registered without a
// kind; references are taken as the definition class.
void ReadDefinitionTag(ByteCursor& cur, ClassTagMap& map);

// The attribute block: 15 bytes from version 351, 13 before (no nPenWidth).
// Unchecked.
void ReadEntAttr(ByteCursor& cur, int32_t version, TEntJwwAttr& att);
void CopyEntAttr(const TEntJwwAttr& source, TEntJwwAttr& target);

}  // namespace tarnwick
