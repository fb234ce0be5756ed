// The body of a drawing: the entity list, then the block definitions, each
// with an entity list of its own.  JWW and JWS share it.
//
// One decoding routine per entity class feeds two kinds of sink: the model
// sink fills a TJwwData/TJwsData field for field, the names sink keeps only
// the definitions' names.  For the names sink the routines decode only the
// fields that decide an entity's length, into one scratch record per class,
// and pass texts over undecoded, so both consume exactly the same bytes and
// list exactly the same names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jw/archive.h"
#include "jw/cursor.h"
#include "jw/entity_codec.h"
#include "jw/model.h"

namespace tarnwick {

// The smallest stored entity is a reference tag and the fixed part of a
// point in the old layout; the smallest definition a tag and the old fixed
// part.  A count that the rest of the file cannot hold is refused before
// anything is allocated for it.
inline constexpr size_t kMinEntityBytes = 2 + 33;
inline constexpr size_t kMinDefinitionBytes = 2 + 25;

inline bool CountFits(int32_t n, size_t remaining, size_t minBytes) {
  if (n < 0) return false;
  return static_cast<size_t>(n) <= remaining / minBytes;
}

struct BodyContext {
  ByteCursor& cur;
  int32_t version;
  const ByteTextDecoder& decoder;
  bool& mojiEncode;
  ClassTagMap tags{};
};

// The slots of one entity class in the model: the array grows in steps and is
// cut to its count when the list ends.
template <class Rec>
struct KindSlots {
  std::vector<Rec>& arr;
  int32_t& n;
  int32_t step;

  Rec& begin() {
    if (n % step == 0) arr.resize(static_cast<size_t>(n / step) * step + step);
    ++n;
    return arr[static_cast<size_t>(n) - 1];
  }
  void drop() { --n; }
  int32_t last() const { return n - 1; }
  void cut() {
    arr.resize(static_cast<size_t>(n));
    arr.shrink_to_fit();
  }
};

// One entity list of the model (the drawing's own, or a definition's).
struct ModelList {
  std::vector<TEntJwwNo>& no;
  KindSlots<TEntJwwLine> line;
  KindSlots<TEntJwwEnko> enko;
  KindSlots<TEntJwwTen> ten;
  KindSlots<TEntJwwMoji> moji;
  KindSlots<TEntJwwSunpo> sunpo;
  KindSlots<TEntJwwSolid> solid;
  KindSlots<TEntJwwBlock> block;
  double pointScale;  // dBairitsu of a point stored without its extension
  int32_t j = 0;

  void commit(int32_t kind, int32_t index) {
    no[static_cast<size_t>(j)] = TEntJwwNo{kind, index};
    ++j;
  }
  void cut() {
    line.cut(), enko.cut(), ten.cut(), moji.cut(), sunpo.cut(), solid.cut(), block.cut();
  }
};

template <class Rec>
struct ScratchSlot {
  Rec rec;
  Rec& begin() { return rec; }
  void drop() {}
  int32_t last() const { return 0; }
};

// An entity list whose entities are decoded and forgotten.
struct ScratchList {
  ScratchSlot<TEntJwwLine> line;
  ScratchSlot<TEntJwwEnko> enko;
  ScratchSlot<TEntJwwTen> ten;
  ScratchSlot<TEntJwwMoji> moji;
  ScratchSlot<TEntJwwSunpo> sunpo;
  ScratchSlot<TEntJwwSolid> solid;
  ScratchSlot<TEntJwwBlock> block;
  double pointScale = 0;

  void commit(int32_t, int32_t) {}
  void cut() {}
};

// kFull: the model sink, which keeps every field and text.  The names sink
// (kFull false) consumes exactly the same bytes but decodes only what decides
// how many of them an entity takes, and passes its texts over undecoded.
template <bool kFull>
void ReadEntityText(BodyContext& c, std::u16string& s) {
  if constexpr (kFull)
    s = ReadCStringClean(c.cur, c.decoder, c.mojiEncode);
  else
    SkipCString(c.cur, c.mojiEncode);
}

// An unchecked read of one number into x (kFull), or past its bytes.
template <bool kFull, class T>
void ReadNumber(BodyContext& c, T& x) {
  if constexpr (kFull)
    c.cur.num(x);
  else
    c.cur.advance(sizeof(T));
}

// The extension of a point whose nPenStyle is 100 (unchecked); without it
// the point gets nCode 0, radKaitenKaku 0 and dBairitsu pointScale.
template <bool kFull>
void ReadPointRest(BodyContext& c, TEntJwwTen& r, double pointScale) {
  if (r.att.nPenStyle == 100) {
    if constexpr (kFull)
      ReadPointExtension(c.cur, r);
    else
      c.cur.advance(kPointExtensionSize);
  } else if constexpr (kFull) {
    r.nCode = 0;
    r.radKaitenKaku = 0.0;
    r.dBairitsu = pointScale;
  }
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwLine& r, double) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwEnko& r, double) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwTen& r, double pointScale) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
  ReadPointRest<kFull>(c, r, pointScale);
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwMoji& r, double) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
  ReadEntityText<kFull>(c, r.strFontName);
  ReadEntityText<kFull>(c, r.str);
  if constexpr (kFull) RepairTextSizes(r);
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwSolid& r, double) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
  if (r.att.nPenColor == 10)
    ReadNumber<kFull>(c, r.Color);
  else if constexpr (kFull)
    r.Color = 0;
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwBlock& r, double) {
  ReadFixed<kFull>(c.cur, r, c.version, true);
}

inline void FillOldDimensionPoint(const TEntJwwAttr& att, TEntJwwTen& t) {
  CopyEntAttr(att, t.att);
  t.att.nPenStyle = 0;
  t.start_x = t.start_y = 0.0;
  t.bKariten = 0;
  t.nCode = 0;
  t.radKaitenKaku = 0.0;
  t.dBairitsu = 0.0;
}

template <bool kFull>
void ReadBody(BodyContext& c, TEntJwwSunpo& r, double) {
  if constexpr (kFull)
    ReadEntAttr(c.cur, c.version, r.att);
  else
    c.cur.advance(c.version >= kFirstWideAttrVersion ? kAttrSize : kAttrSize - 2);
  ReadFixed<kFull>(c.cur, r.Sen, c.version, false);
  ReadFixed<kFull>(c.cur, r.Moji, c.version, true);
  ReadEntityText<kFull>(c, r.Moji.strFontName);
  ReadEntityText<kFull>(c, r.Moji.str);
  if constexpr (kFull) RepairTextSizes(r.Moji);
  if (c.version >= kFirstSxfDimensionVersion) {
    ReadNumber<kFull>(c, r.bSxfMode);
    ReadFixed<kFull>(c.cur, r.Ho1, c.version, false);
    ReadFixed<kFull>(c.cur, r.Ho2, c.version, false);
    // Only the last of the four points is a checked read.
    TEntJwwTen* const points[] = {&r.Te1, &r.Te2, &r.Kt1, &r.Kt2};
    for (int i = 0; i < 4; ++i) {
      ReadFixed<kFull>(c.cur, *points[i], c.version, i == 3);
      ReadPointRest<kFull>(c, *points[i], 0.0);
    }
  } else if constexpr (kFull) {
    r.bSxfMode = 0;
    for (TEntJwwLine* h : {&r.Ho1, &r.Ho2}) {
      CopyEntAttr(r.att, h->att);
      h->start_x = h->start_y = h->end_x = h->end_y = 0.0;
    }
    for (TEntJwwTen* t : {&r.Te1, &r.Te2, &r.Kt1, &r.Kt2}) FillOldDimensionPoint(r.att, *t);
  }
}

// Stores one entity: its slot is taken first, and a failure while reading it
// drops that entity alone (the slot is given back to the next one).
template <bool kFull, class List, class Slots>
void StoreEntity(BodyContext& c, List& list, Slots& slots, int32_t kind) {
  auto& rec = slots.begin();
  try {
    ReadBody<kFull>(c, rec, list.pointScale);
    list.commit(kind, slots.last());
  } catch (const ReadError&) {
    slots.drop();
  }
}

// Reads n entities.  A tag that names no class is passed over without
// counting; the end of the file at a tag ends the read.
template <bool kFull, class List>
void ReadEntityList(BodyContext& c, int32_t n, List& list) {
  for (int32_t k = 0; k < n;) {
    EntKind kind = ReadEntityTag(c.cur, c.tags);
    switch (kind) {
      case kKindNone: continue;
      case kKindLine: StoreEntity<kFull>(c, list, list.line, kind); break;
      case kKindEnko: StoreEntity<kFull>(c, list, list.enko, kind); break;
      case kKindTen: StoreEntity<kFull>(c, list, list.ten, kind); break;
      case kKindMoji: StoreEntity<kFull>(c, list, list.moji, kind); break;
      case kKindSunpo: StoreEntity<kFull>(c, list, list.sunpo, kind); break;
      case kKindSolid: StoreEntity<kFull>(c, list, list.solid, kind); break;
      case kKindBlock: StoreEntity<kFull>(c, list, list.block, kind); break;
    }
    ++k;
    c.tags.archiveIndex += 1;
  }
}

// Fills the model's arrays.
class ModelSink {
 public:
  static constexpr bool kFull = true;

  ModelSink(TJwBody& d, int32_t& n1, int32_t& n2) : d_(d), n1_(n1), n2_(n2) {}

  void entityCount(int32_t count) {
    d_.EntBlockDefN = 0;
    n2_ = 0;
    n1_ = count;
  }

  ModelList beginTopList(int32_t count) {
    d_.EntNo.assign(static_cast<size_t>(count), TEntJwwNo{});
    return ModelList{d_.EntNo,
                     {d_.EntLine, d_.EntLineN, 1000},
                     {d_.EntEnko, d_.EntEnkoN, 1000},
                     {d_.EntTen, d_.EntTenN, 1000},
                     {d_.EntMoji, d_.EntMojiN, 1000},
                     {d_.EntSunpo, d_.EntSunpoN, 1000},
                     {d_.EntSolid, d_.EntSolidN, 1000},
                     {d_.EntBlock, d_.EntBlockN, 1000},
                     1.0};
  }

  void beginDefinitions(int32_t count) {
    n2_ = count;
    d_.EntBlockDefN = count;
    d_.EntBlockDef.assign(static_cast<size_t>(count), TEntJwwBlockDef{});
  }

  TEntJwwBlockDef& definition(int32_t i) { return d_.EntBlockDef[static_cast<size_t>(i)]; }
  std::u16string& name(int32_t i) { return definition(i).strName; }

  ModelList beginDefinitionList(int32_t i, int32_t count) {
    TEntJwwBlockDef& b = definition(i);
    b.mLineN = b.mEnkoN = b.mTenN = b.mMojiN = b.mSunpoN = b.mSolidN = b.mBlockN = 0;
    b.N = count;
    b.mNo.assign(static_cast<size_t>(count), TEntJwwNo{});
    return ModelList{b.mNo,
                     {b.mLine, b.mLineN, 1000},
                     {b.mEnko, b.mEnkoN, 1000},
                     {b.mTen, b.mTenN, 1000},
                     {b.mMoji, b.mMojiN, 500},
                     {b.mSunpo, b.mSunpoN, 500},
                     {b.mSolid, b.mSolidN, 1000},
                     {b.mBlock, b.mBlockN, 1000},
                     0.0};
  }

 private:
  TJwBody& d_;
  int32_t& n1_;
  int32_t& n2_;
};

// Keeps the definitions' names and nothing else.
class NamesSink {
 public:
  static constexpr bool kFull = false;

  explicit NamesSink(std::vector<std::u16string>& names, int32_t* cutName = nullptr)
      : names_(names), cutName_(cutName) {}

  void entityCount(int32_t) {}
  ScratchList& beginTopList(int32_t) { return list_; }
  void beginDefinitions(int32_t count) { names_.assign(static_cast<size_t>(count), std::u16string()); }
  TEntJwwBlockDef& definition(int32_t) { return def_; }
  std::u16string& name(int32_t i) { return names_[static_cast<size_t>(i)]; }
  ScratchList& beginDefinitionList(int32_t, int32_t) { return list_; }
  // The end of the file came inside the name of definition i.
  void nameCut(int32_t i) {
    if (cutName_) *cutName_ = i;
  }

 private:
  std::vector<std::u16string>& names_;
  int32_t* cutName_;
  TEntJwwBlockDef def_;
  ScratchList list_;
};

// The definition list, read after the drawing's own entity list.
template <class Sink>
void ReadDefinitions(BodyContext& c, Sink& sink) {
  int32_t count = ReadCount(c.cur);
  if (count == 0) return;
  if (!CountFits(count, c.cur.remaining(), kMinDefinitionBytes)) ThrowIoError();
  sink.beginDefinitions(count);
  for (int32_t i = 0; i < count; ++i) {
    ReadDefinitionTag(c.cur, c.tags);
    TEntJwwBlockDef& d = sink.definition(i);
    ReadFixed<Sink::kFull>(c.cur, d, c.version, true);
    if (d.dtime >= 0x80000000u) {
      c.cur.advance(8);  // a 64-bit time, not kept
      d.dtime = static_cast<uint32_t>(i) + 1;
    }
    if constexpr (requires { sink.nameCut(i); }) {
      // The name's stated length, to tell a name the file's end cut short.
      ByteCursor probe = c.cur;
      bool moji = c.mojiEncode;
      const size_t stated = ReadStringHead(probe, moji).bytes;
      sink.name(i) = ReadCStringClean(c.cur, c.decoder, c.mojiEncode);
      if (c.cur.position() - probe.position() < stated) sink.nameCut(i);
    } else {
      sink.name(i) = ReadCStringClean(c.cur, c.decoder, c.mojiEncode);
    }
    int32_t n = ReadCount(c.cur);
    if (!CountFits(n, c.cur.remaining(), kMinEntityBytes)) ThrowIoError();
    auto&& list = sink.beginDefinitionList(i, n);
    c.tags.archiveIndex += 1;
    ReadEntityList<Sink::kFull>(c, n, list);
    list.cut();
  }
}

// The entity list and the definitions.  Read errors propagate to the caller,
// which ends the read as a failure keeping what was stored.
template <class Sink>
void ReadJwBody(BodyContext& c, Sink& sink) {
  int32_t count = ReadCount(c.cur);
  sink.entityCount(count);
  if (!CountFits(count, c.cur.remaining(), kMinEntityBytes)) ThrowIoError();
  auto&& top = sink.beginTopList(count);
  ReadEntityList<Sink::kFull>(c, count, top);
  top.cut();
  ReadDefinitions(c, sink);
}

}  // namespace tarnwick
