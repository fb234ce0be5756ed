#include "support/drawing_writer.h"

#include <unicode/ucnv.h>

#include <bit>
#include <cstring>
#include <stdexcept>

namespace tarnwick::testing {

std::string Cp932(std::u16string_view text) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* conv = ucnv_open("windows-31j", &err);
  if (U_FAILURE(err)) throw std::runtime_error("no windows-31j converter");
  std::string out(text.size() * 2 + 2, '\0');
  int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &err);
  ucnv_close(conv);
  if (U_FAILURE(err)) throw std::runtime_error("text not in code page 932");
  out.resize(static_cast<size_t>(n));
  return out;
}

ByteWriter& ByteWriter::u8(uint8_t v) {
  b_.push_back(v);
  return *this;
}
ByteWriter& ByteWriter::u16(uint16_t v) {
  b_.push_back(static_cast<uint8_t>(v));
  b_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}
ByteWriter& ByteWriter::u32(uint32_t v) {
  for (int i = 0; i < 4; ++i) b_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}
ByteWriter& ByteWriter::f64(double v) {
  uint64_t x = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) b_.push_back(static_cast<uint8_t>(x >> (8 * i)));
  return *this;
}
ByteWriter& ByteWriter::bytes(std::string_view b) {
  b_.insert(b_.end(), b.begin(), b.end());
  return *this;
}
ByteWriter& ByteWriter::bytes(const Bytes& b) {
  b_.insert(b_.end(), b.begin(), b.end());
  return *this;
}
ByteWriter& ByteWriter::zeros(size_t n) {
  b_.insert(b_.end(), n, 0);
  return *this;
}

ByteWriter& ByteWriter::cstring(std::string_view b) {
  if (b.size() < 255) return u8(static_cast<uint8_t>(b.size())).bytes(b);
  return cstringLong(b);
}

ByteWriter& ByteWriter::cstringLong(std::string_view b) {
  if (b.size() > 0xFFFD) throw std::length_error("byte text too long to store");
  return u8(255).u16(static_cast<uint16_t>(b.size())).bytes(b);
}

ByteWriter& ByteWriter::wstring(std::u16string_view s, bool escapeLength) {
  u8(255).u16(0xFFFE);
  if (s.size() < 255 && !escapeLength)
    u8(static_cast<uint8_t>(s.size()));
  else
    u8(255).u16(static_cast<uint16_t>(s.size()));
  for (char16_t c : s) u16(c);
  return *this;
}

ByteWriter& ByteWriter::count(int64_t n, bool forceLong) {
  if (!forceLong && n >= 0 && n < 0xFFFF) return u16(static_cast<uint16_t>(n));
  return u16(0xFFFF).u32(static_cast<uint32_t>(n));
}

// ---------------------------------------------------------------- headers

Bytes JwwHeader(int32_t v, std::string_view memo) {
  JwwHeaderOptions o;
  o.memo = std::string(memo);
  return JwwHeader(v, o);
}

Bytes JwwHeader(int32_t v, const JwwHeaderOptions& o) {
  ByteWriter w;
  w.bytes("JwwData.").i32(v).cstring(o.memo);
  w.i32(0).i32(0);  // nZumen, nWriteGLay
  for (int g = 0; g < 16; ++g) {
    w.i32(2).i32(0).f64(1.0).i32(0);
    for (int l = 0; l < 16; ++l) w.i32(2).i32(0);
  }
  w.zeros(56);
  for (int i = 0; i < 5; ++i) w.i32(0);
  w.zeros(4);
  w.i32(o.maxDrawWid);
  w.f64(0).f64(0).f64(1).i32(0).i32(0);       // print origin, scale, nPrtSet, nMemoriMode
  for (int i = 0; i < 5; ++i) w.f64(i < 3 ? 1 : 0);
  w.cstring(o.layerName);
  for (int i = 1; i < 256; ++i) w.cstring("");
  w.cstring(o.groupName);
  for (int i = 1; i < 16; ++i) w.cstring("");
  w.f64(0).f64(0).i32(0).f64(0);
  if (v >= 300) w.f64(0).f64(0);
  w.i32(0);
  w.f64(1).f64(0).f64(0).f64(1).f64(0).f64(0);
  if (v >= 231) {
    for (int k = 0; k < 8; ++k) w.f64(1).f64(0).f64(0).i32(-1);
    w.f64(0).f64(0).f64(0).i32(0).f64(0).f64(0).f64(0).i32(0);
  } else {
    for (int k = 0; k < 4; ++k) w.f64(1).f64(0).f64(0);
  }
  for (int i = 0; i < 10; ++i) w.f64(0);
  w.f64(0);
  for (int c = 0; c < 10; ++c) w.i32(0).i32(1);
  for (int c = 0; c < 10; ++c) w.i32(0).i32(1).f64(0.5);
  for (int t = 0; t < 8; ++t) w.i32(0).i32(0).i32(0).i32(0);
  for (int t = 0; t < 5; ++t) w.i32(0).i32(0).i32(0).i32(0).i32(0);
  for (int t = 0; t < 4; ++t) w.i32(0).i32(0).i32(0).i32(0);
  for (int i = 0; i < 10; ++i) w.i32(0);
  w.i32(o.printPacked);
  if (v >= 223) w.i32(0).i32(0).i32(0).i32(0).i32(0).f64(0).f64(0).f64(0).f64(0).f64(0);
  if (v >= 225) w.f64(0).f64(0).f64(0).f64(0);
  if (v >= 230) w.i32(0).i32(0);
  if (v >= 420) {
    for (int c = 0; c < 257; ++c) w.i32(0).i32(1);
    for (int c = 0; c < 257; ++c) w.cstring("").i32(0).i32(1).f64(0.5);
    for (int t = 0; t < 33; ++t) w.i32(0).i32(0).i32(0).i32(0);
    for (int t = 0; t < 33; ++t) {
      w.cstring("").i32(0);
      for (int k = 0; k < 10; ++k) w.f64(0);
    }
  }
  for (int m = 0; m < 10; ++m) w.f64(m == 0 ? o.textKindWidth : 3).f64(3).f64(0).i32(1);
  w.f64(o.textSizeX).f64(3).f64(0);
  w.i32(1).i32(1).f64(0).f64(0).i32(0);
  for (int i = 0; i < 5; ++i) w.f64(0);
  w.f64(o.lastValue);
  return w.data();
}

Bytes JwsHeader(int32_t v) {
  ByteWriter w;
  w.bytes("JwsData").zeros(193).i32(v);
  w.f64(0).f64(0);
  for (int g = 0; g < 16; ++g) w.f64(1.0);
  for (int i = 0; i < 6; ++i) w.i32(0);
  for (int i = 0; i < 6; ++i) w.f64(0);
  w.f64(0).f64(0).f64(0).f64(0);
  return w.data();
}

// ---------------------------------------------------------------- bodies

namespace {

constexpr const char* kClassNames[8] = {"", "CDataSen", "CDataEnko", "CDataTen", "CDataMoji", "CDataSunpou",
                                        "CDataSolid", "CDataBlock"};

int KindOf(const Entity& e) { return static_cast<int>(e.index()) + 1; }

}  // namespace

void BodyWriter::attr(const Attr& a) {
  w_.u32(a.group).u8(a.penStyle).u16(a.penColor);
  if (version_ >= 351) w_.u16(a.penWidth);
  w_.u16(a.layer).u16(a.glayer).u16(a.flags);
}

void BodyWriter::classTag(int kind, const char* name) {
  if (classIndex_[kind] == 0) {
    w_.u16(0xFFFF).u16(1).u16(static_cast<uint16_t>(std::strlen(name))).bytes(name);
    classIndex_[kind] = archiveIndex_;
    archiveIndex_ += 1;
    return;
  }
  const uint32_t index = static_cast<uint32_t>(classIndex_[kind]);
  switch (tags_) {
    case TagForm::kShort: w_.u16(static_cast<uint16_t>(0x8000 + index)); break;
    case TagForm::kBig: w_.u16(0x7FFF).u32(index); break;
    case TagForm::kBigHighBit: w_.u16(0x7FFF).u32(0x80000000u + index); break;
  }
}

void BodyWriter::tagFor(const Entity& e) {
  int kind = KindOf(e);
  classTag(kind, kClassNames[kind]);
}

void BodyWriter::entityBody(const Entity& e) {
  auto line = [&](const Line& l) {
    attr(l.att);
    w_.f64(l.x1).f64(l.y1).f64(l.x2).f64(l.y2);
  };
  auto point = [&](const Point& p) {
    attr(p.att);
    w_.f64(p.x).f64(p.y).u32(p.temp);
    if (p.att.penStyle == 100) w_.u32(p.code).f64(p.rot).f64(p.scale);
  };
  auto text = [&](const Text& t) {
    attr(t.att);
    w_.f64(t.x1).f64(t.y1).f64(t.x2).f64(t.y2).u32(t.kind).f64(t.sx).f64(t.sy).f64(t.spacing).f64(t.angle);
    w_.cstring(t.font).cstring(t.str);
  };
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Line>) {
          line(x);
        } else if constexpr (std::is_same_v<T, Arc>) {
          attr(x.att);
          w_.f64(x.cx).f64(x.cy).f64(x.r).f64(x.start).f64(x.sweep).f64(x.tilt).f64(x.flat).u32(x.full);
        } else if constexpr (std::is_same_v<T, Point>) {
          point(x);
        } else if constexpr (std::is_same_v<T, Text>) {
          text(x);
        } else if constexpr (std::is_same_v<T, Dimension>) {
          attr(x.att);
          line(x.sen);
          text(x.moji);
          if (version_ >= 420) {
            w_.u16(x.sxf);
            line(x.ho1);
            line(x.ho2);
            point(x.te1);
            point(x.te2);
            point(x.kt1);
            point(x.kt2);
          }
        } else if constexpr (std::is_same_v<T, Solid>) {
          attr(x.att);
          for (int i = 0; i < 4; ++i) w_.f64(x.x[i]).f64(x.y[i]);
          if (x.att.penColor == 10) w_.u32(x.color);
        } else if constexpr (std::is_same_v<T, Insert>) {
          attr(x.att);
          w_.f64(x.x).f64(x.y).f64(x.sx).f64(x.sy).f64(x.rot).u32(x.number);
        }
      },
      e);
}

void BodyWriter::entity(const Entity& e) {
  tagFor(e);
  entityBody(e);
  archiveIndex_ += 1;
}

void BodyWriter::entityList(const std::vector<Entity>& list) {
  w_.count(static_cast<int64_t>(list.size()));
  for (const Entity& e : list) entity(e);
}

void BodyWriter::definition(const Definition& d, int32_t) {
  classTag(8, "CDataList");
  attr(d.att);
  w_.u32(d.number).u32(d.referenced).u32(d.dtime);
  if (d.dtime >= 0x80000000u) w_.u32(0x12345678).u32(0x9ABCDEF0);
  w_.cstring(d.name);
  w_.count(static_cast<int64_t>(d.entities.size()));
  archiveIndex_ += 1;
  for (const Entity& e : d.entities) entity(e);
}

void BodyWriter::definitionList(const std::vector<Definition>& defs) {
  w_.count(static_cast<int64_t>(defs.size()));
  for (size_t i = 0; i < defs.size(); ++i) definition(defs[i], static_cast<int32_t>(i));
}

Bytes Write(const Drawing& d) {
  Bytes out = d.jws ? JwsHeader(d.version) : JwwHeader(d.version, d.memo);
  BodyWriter body(d.version, d.tags);
  body.entityList(d.entities);
  body.definitionList(d.definitions);
  body.out().bytes(d.trailer);
  const Bytes& b = body.out().data();
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace tarnwick::testing
