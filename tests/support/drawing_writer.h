// A small writer of JWW and JWS images for tests, benchmarks, fuzz seeds and
// the example drawings.  It writes the bytes the readers expect, field by
// field, so a test can say exactly which bytes it is about: the low-level
// ByteWriter for hand-made images, DrawingWriter for whole drawings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<uint8_t>;

// Text in code page 932 (Microsoft's mapping), as drawings store byte texts.
std::string Cp932(std::u16string_view text);

class ByteWriter {
 public:
  ByteWriter& u8(uint8_t v);
  ByteWriter& u16(uint16_t v);
  ByteWriter& u32(uint32_t v);
  ByteWriter& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  ByteWriter& f64(double v);
  ByteWriter& bytes(std::string_view b);
  ByteWriter& bytes(const Bytes& b);
  ByteWriter& zeros(size_t n);

  // A stored byte text: one length byte below 255, else 255 and a 16-bit length.
  ByteWriter& cstring(std::string_view b);
  // The same text always in the long form (255, 16-bit length).
  ByteWriter& cstringLong(std::string_view b);
  // A UTF-16 text: 255, 0xFFFE, then the length in code units (a byte, or 255
  // and a 16-bit length) and the code units.
  ByteWriter& wstring(std::u16string_view s, bool escapeLength = false);
  // An element count: a 16-bit word, or 0xFFFF and 32 bits when it does not
  // fit below 0xFFFF (or when forced).
  ByteWriter& count(int64_t n, bool forceLong = false);

  const Bytes& data() const { return b_; }
  Bytes& data() { return b_; }
  size_t size() const { return b_.size(); }

 private:
  Bytes b_;
};

struct Attr {
  uint32_t group = 0;
  uint8_t penStyle = 1;
  uint16_t penColor = 1;
  uint16_t penWidth = 1;
  uint16_t layer = 0;
  uint16_t glayer = 0;
  uint16_t flags = 0;
};

// Entities.  Field names follow the records they are read into.
struct Line {
  Attr att;
  double x1 = 0, y1 = 0, x2 = 1, y2 = 1;
};
struct Arc {
  Attr att;
  double cx = 0, cy = 0, r = 1, start = 0, sweep = 6.283185307179586, tilt = 0, flat = 1;
  uint32_t full = 1;
};
struct Point {
  Attr att;  // penStyle 100 writes the code/rotation/scale extension
  double x = 0, y = 0;
  uint32_t temp = 0;
  uint32_t code = 0;
  double rot = 0, scale = 1;
};
struct Text {
  Attr att;
  double x1 = 0, y1 = 0, x2 = 10, y2 = 0;
  uint32_t kind = 1;
  double sx = 3, sy = 3, spacing = 0, angle = 0;
  std::string font = "MS Gothic";  // code page bytes
  std::string str = "text";        // code page bytes
};
struct Dimension {
  Attr att;
  Line sen;
  Text moji;
  uint16_t sxf = 0;
  Line ho1, ho2;
  Point te1, te2, kt1, kt2;
};
struct Solid {
  Attr att;  // penColor 10 writes the colour
  double x[4] = {0, 1, 1, 0}, y[4] = {0, 0, 1, 1};
  uint32_t color = 0xFF0000;
};
struct Insert {
  Attr att;
  double x = 0, y = 0, sx = 1, sy = 1, rot = 0;
  uint32_t number = 1;
};

using Entity = std::variant<Line, Arc, Point, Text, Dimension, Solid, Insert>;

struct Definition {
  Attr att;
  uint32_t number = 1;
  uint32_t referenced = 0;
  uint32_t dtime = 0;  // 0x80000000 or more: 8 bytes of 64-bit time follow
  std::string name;    // code page bytes, stored as is
  std::vector<Entity> entities;
};

// How class references are written after a class's first object.
enum class TagForm { kShort, kBig, kBigHighBit };

struct Drawing {
  bool jws = false;
  int32_t version = 700;
  std::string memo;  // JWW only
  std::vector<Entity> entities;
  std::vector<Definition> definitions;
  TagForm tags = TagForm::kShort;
  Bytes trailer;  // bytes after the last definition (an image section, say)
};

// Writes a whole drawing.
Bytes Write(const Drawing& d);

// Header images alone; the body follows them directly.
struct JwwHeaderOptions {
  std::string memo;
  std::string layerName;   // layer 0 of group 0, code page bytes
  std::string groupName;   // group 0
  int32_t maxDrawWid = 0;  // nMaxDrawWid
  int32_t printPacked = 0; // print dpi times 10 plus the display-only flag
  double textKindWidth = 3;  // adMojiX of text kind 0
  double textSizeX = 3;      // dMojiSizeX
  double lastValue = 0;      // adMojiKijunZureY2, the header's last field
};
Bytes JwwHeader(int32_t version, const JwwHeaderOptions& options);
Bytes JwwHeader(int32_t version, std::string_view memo = "");
Bytes JwsHeader(int32_t version);

// Writes bodies piece by piece with the class tag bookkeeping of one file,
// for tests that need a tag or a count out of the ordinary.
class BodyWriter {
 public:
  BodyWriter(int32_t version, TagForm tags = TagForm::kShort) : version_(version), tags_(tags) {}

  ByteWriter& out() { return w_; }
  int32_t archiveIndex() const { return archiveIndex_; }

  // The tag and body of one entity (counts one archive object).
  void entity(const Entity& e);
  // The body of an entity without its tag, and the tag alone.
  void entityBody(const Entity& e);
  void tagFor(const Entity& e);
  // One definition: tag, fixed part, name, count, entities.
  void definition(const Definition& d, int32_t index);
  void entityList(const std::vector<Entity>& list);
  void definitionList(const std::vector<Definition>& defs);

  void attr(const Attr& a);

 private:
  void classTag(int kind, const char* name);

  int32_t version_;
  TagForm tags_;
  ByteWriter w_;
  int32_t archiveIndex_ = 1;
  int32_t classIndex_[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};  // 8: the definition class
};

}  // namespace tarnwick::testing
