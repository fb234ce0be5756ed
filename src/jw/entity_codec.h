// The stored images of the entity records.  Each record's numeric fields are
// stored in field order without padding; files older than version 351 leave
// out the attribute's nPenWidth, so their images are two bytes shorter and
// every byte after nPenColor stands two places earlier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "jw/archive.h"
#include "jw/cursor.h"
#include "jw/model.h"

namespace tarnwick {

inline constexpr int32_t kFirstWideAttrVersion = 351;
inline constexpr int32_t kFirstSxfDimensionVersion = 420;
// The attribute block from version 351 (13 bytes before), and the point
// extension (nCode, radKaitenKaku, dBairitsu).
inline constexpr size_t kAttrSize = 15;
inline constexpr size_t kPointExtensionSize = 20;

template <class F>
void VisitFields(TEntJwwAttr& a, F&& f) {
  f(a.lGroup);
  f(a.nPenStyle);
  f(a.nPenColor);
  f(a.nPenWidth);
  f(a.nLayer);
  f(a.nGLayer);
  f(a.sFlg);
}

template <class F>
void VisitFields(TEntJwwLine& r, F&& f) {
  VisitFields(r.att, f);
  f(r.start_x), f(r.start_y), f(r.end_x), f(r.end_y);
}

template <class F>
void VisitFields(TEntJwwEnko& r, F&& f) {
  VisitFields(r.att, f);
  f(r.start_x), f(r.start_y), f(r.dHankei), f(r.radKaishiKaku), f(r.radEnkoKaku), f(r.radKatamukiKaku),
      f(r.dHenpeiRitsu), f(r.bZenEnFlg);
}

// A point's fixed part ends with bKariten; nCode, radKaitenKaku and dBairitsu
// are its extension.
template <class F>
void VisitFields(TEntJwwTen& r, F&& f) {
  VisitFields(r.att, f);
  f(r.start_x), f(r.start_y), f(r.bKariten);
}

// A text's fixed part: everything before its two strings.
template <class F>
void VisitFields(TEntJwwMoji& r, F&& f) {
  VisitFields(r.att, f);
  f(r.start_x), f(r.start_y), f(r.end_x), f(r.end_y), f(r.nMojiShu), f(r.dSizeX), f(r.dSizeY), f(r.dKankaku),
      f(r.degKakudo);
}

// A solid's fixed part: everything before Color.
template <class F>
void VisitFields(TEntJwwSolid& r, F&& f) {
  VisitFields(r.att, f);
  f(r.start_x), f(r.start_y), f(r.end_x), f(r.end_y), f(r.DPoint2_x), f(r.DPoint2_y), f(r.DPoint3_x),
      f(r.DPoint3_y);
}

template <class F>
void VisitFields(TEntJwwBlock& r, F&& f) {
  VisitFields(r.att, f);
  f(r.DPKijunTen_x), f(r.DPKijunTen_y), f(r.dBairitsuX), f(r.dBairitsuY), f(r.radKaitenKaku), f(r.nNumber);
}

// A definition's fixed part: attribute, nNumber, bRefferd, dtime.
template <class F>
void VisitFields(TEntJwwBlockDef& r, F&& f) {
  VisitFields(r.att, f);
  f(r.nNumber), f(r.bRefferd), f(r.dtime);
}

// Sizes of the fixed parts from version 351.
template <class Rec>
inline constexpr size_t kFixedSize = 0;
template <> inline constexpr size_t kFixedSize<TEntJwwLine> = 47;
template <> inline constexpr size_t kFixedSize<TEntJwwEnko> = 75;
template <> inline constexpr size_t kFixedSize<TEntJwwTen> = 35;
template <> inline constexpr size_t kFixedSize<TEntJwwMoji> = 83;
template <> inline constexpr size_t kFixedSize<TEntJwwSolid> = 79;
template <> inline constexpr size_t kFixedSize<TEntJwwBlock> = 59;
template <> inline constexpr size_t kFixedSize<TEntJwwBlockDef> = 27;

template <class Rec>
[[gnu::flatten]] inline void DecodeImage(Rec& r, const uint8_t* p) {
  VisitFields(r, [&p](auto& x) {
    using T = std::remove_reference_t<decltype(x)>;
    x = LoadLE<T>(p);
    p += sizeof(T);
  });
}

template <class Rec>
void EncodeImage(Rec& r, uint8_t* p) {
  VisitFields(r, [&p](auto& x) {
    using T = std::remove_reference_t<decltype(x)>;
    StoreLE<T>(p, x);
    p += sizeof(T);
  });
}

// The fields of a fixed part that decide how many bytes follow it: a point's
// nPenStyle (its extension), a solid's nPenColor (its colour) and a
// definition's dtime (its 64-bit time).  They stand at the same offsets in
// both layouts (dtime is the last field); n is the stored size.
template <class Rec>
inline void DecodeLengthFields(Rec& r, const uint8_t* p, size_t n) {
  r.att.nPenStyle = p[4];
  r.att.nPenColor = LoadLE<uint16_t>(p + 5);
  if constexpr (std::is_same_v<Rec, TEntJwwBlockDef>) r.dtime = LoadLE<uint32_t>(p + n - 4);
}

// Reads the fixed part of rec in one request.  A checked read that delivers
// no byte at all is a read error; a short delivery overwrites only the fields
// (or parts of them) that came.  With kAll false only the fields that decide
// the entity's length are decoded (the names-only reader); the bytes
// consumed are the same.
template <bool kAll = true, class Rec>
[[gnu::always_inline]] inline void ReadFixed(ByteCursor& cur, Rec& rec, int32_t version, bool checked) {
  constexpr size_t kNew = kFixedSize<Rec>;
  static_assert(kNew > 9);
  const bool old = version < kFirstWideAttrVersion;
  const size_t n = old ? kNew - 2 : kNew;
  const uint8_t* p = cur.peek();
  const size_t avail = cur.remaining();
  if (avail >= n) [[likely]] {
    if constexpr (!kAll) {
      DecodeLengthFields(rec, p, n);
    } else if (!old) {
      DecodeImage(rec, p);
    } else {
      uint8_t img[kNew];
      std::memcpy(img, p, 7);
      StoreLE<uint16_t>(img + 7, rec.att.nPenWidth);
      std::memcpy(img + 9, p + 7, n - 7);
      DecodeImage(rec, img);
    }
    cur.advance(n);
    return;
  }
  if (checked && avail == 0) ThrowIoError();
  uint8_t img[kNew];
  EncodeImage(rec, img);
  if (!old) {
    std::memcpy(img, p, avail);
  } else {
    std::memcpy(img, p, avail < 7 ? avail : 7);
    if (avail > 7) std::memcpy(img + 9, p + 7, avail - 7);
  }
  DecodeImage(rec, img);
  cur.advance(avail);
}

// The extension of a point whose nPenStyle is 100; unchecked.
inline void ReadPointExtension(ByteCursor& cur, TEntJwwTen& t) {
  cur.num(t.nCode);
  cur.num(t.radKaitenKaku);
  cur.num(t.dBairitsu);
}

inline void RepairTextSizes(TEntJwwMoji& m) {
  if (!IsFiniteDouble(m.dSizeX)) m.dSizeX = 3.0;
  if (!IsFiniteDouble(m.dSizeY)) m.dSizeY = 3.0;
  if (!IsFiniteDouble(m.dKankaku)) m.dKankaku = 0.0;
}

}  // namespace tarnwick
