#include "draw/display_list.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarnwick::draw {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

bool Finite(std::initializer_list<double> values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

void Grow(std::optional<Extent>& e, double x, double y) {
  if (!e) {
    e = Extent{x, y, x, y};
    return;
  }
  e->minX = std::min(e->minX, x);
  e->minY = std::min(e->minY, y);
  e->maxX = std::max(e->maxX, x);
  e->maxY = std::max(e->maxY, y);
}

void Grow(std::optional<Extent>& e, const Extent& box) {
  Grow(e, box.minX, box.minY);
  Grow(e, box.maxX, box.maxY);
}

// The runs of a 32-bit line pattern, most significant bit first, each run
// `unit` dots long, starting with an "on" run.
Dashes PatternDashes(uint32_t bits, int32_t unit) {
  if (bits == 0 || bits == 0xFFFFFFFFu) return {};
  unit = std::clamp(unit, 1, 16);
  // Turn the pattern so that it begins where an "on" run begins.
  int shift = 0;
  while (!(((bits >> 31) & 1u) && !(bits & 1u))) {
    bits = (bits << 1) | (bits >> 31);
    if (++shift == 32) return {};
  }
  Dashes out;
  bool on = true;
  int run = 0;
  for (int i = 31; i >= 0; --i) {
    const bool bit = (bits >> i) & 1u;
    if (bit == on) {
      ++run;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::min(run * unit, 255)));
    on = bit;
    run = 1;
  }
  out.push_back(static_cast<uint8_t>(std::min(run * unit, 255)));
  if (out.size() % 2) out.push_back(1);
  return out;
}

struct Builder {
  const DrawingContext& drawing;
  const Limits& limits;
  DisplayList out;
  std::vector<int32_t> chain;  // definitions being expanded, outermost first
  std::unordered_map<uint64_t, int32_t> dashIndex;

  bool full() {
    if (out.size() < limits.maxPrimitives) return false;
    out.truncated = true;
    return true;
  }

  Pen pen(const TEntJwwAttr& att, const TEntJwwSolid* solid = nullptr) {
    Pen p;
    p.colorNumber = att.nPenColor;
    p.color = drawing.color(att.nPenColor, solid);
    p.lineType = att.nPenStyle;
    p.width = att.nPenWidth;
    if (!solid) {
      auto [it, added] = dashIndex.try_emplace(att.nPenStyle, -1);
      if (added) {
        Dashes d = drawing.dashes(att.nPenStyle);
        if (!d.empty()) {
          it->second = static_cast<int32_t>(out.dashes.size());
          out.dashes.push_back(std::move(d));
        }
      }
      p.dashes = it->second;
    }
    return p;
  }

  void line(const TEntJwwLine& l, const Affine& t) {
    if (!Finite({l.start_x, l.start_y, l.end_x, l.end_y}) || full()) return;
    LinePrim p{t.mapX(l.start_x, l.start_y), t.mapY(l.start_x, l.start_y), t.mapX(l.end_x, l.end_y),
               t.mapY(l.end_x, l.end_y), pen(l.att)};
    Grow(out.extent, p.x1, p.y1);
    Grow(out.extent, p.x2, p.y2);
    out.lines.push_back(p);
  }

  void arc(const TEntJwwEnko& e, const Affine& t) {
    if (!Finite({e.start_x, e.start_y, e.dHankei, e.radKaishiKaku, e.radEnkoKaku, e.radKatamukiKaku,
                 e.dHenpeiRitsu}) ||
        full())
      return;
    ArcPrim a;
    a.radius = e.dHankei;
    a.tilt = e.radKatamukiKaku;
    a.flattening = e.dHenpeiRitsu;
    a.full = e.bZenEnFlg != 0;
    double start = e.radKaishiKaku, sweep = e.radEnkoKaku;
    if (sweep < 0) {
      start += sweep;
      sweep = -sweep;
    }
    if (a.full || sweep >= kTwoPi) {
      a.full = true;
      start = 0;
      sweep = kTwoPi;
    }
    a.start = std::fmod(start, kTwoPi);
    a.sweep = sweep;
    const double c = std::cos(a.tilt), s = std::sin(a.tilt);
    const double rx = a.radius, ry = a.radius * a.flattening;
    const Affine own{c * rx, -s * ry, s * rx, c * ry, e.start_x, e.start_y};
    const Affine m = t.after(own);
    a.cx = m.x0;
    a.cy = m.y0;
    a.m = {m.a, m.b, m.c, m.d};
    a.pen = pen(e.att);
    Grow(out.extent, ArcExtent(a));
    out.arcs.push_back(a);
  }

  void point(const TEntJwwTen& p, const Affine& t) {
    if (!Finite({p.start_x, p.start_y}) || full()) return;
    PointPrim q{t.mapX(p.start_x, p.start_y), t.mapY(p.start_x, p.start_y), p.bKariten != 0, pen(p.att)};
    Grow(out.extent, q.x, q.y);
    out.points.push_back(q);
  }

  void text(const TEntJwwMoji& m, const Affine& t) {
    if (!Finite({m.start_x, m.start_y, m.end_x, m.end_y, m.dSizeX, m.dSizeY, m.dKankaku, m.degKakudo}) || full())
      return;
    TextPrim p;
    p.x = t.mapX(m.start_x, m.start_y);
    p.y = t.mapY(m.start_x, m.start_y);
    p.endX = t.mapX(m.end_x, m.end_y);
    p.endY = t.mapY(m.end_x, m.end_y);
    // Direction and height follow the placement; sizes scale with it.
    const double rad = m.degKakudo * std::numbers::pi / 180;
    const double ux = std::cos(rad), uy = std::sin(rad);
    const double dx = t.a * ux + t.b * uy, dy = t.c * ux + t.d * uy;
    const double hx = -t.a * uy + t.b * ux, hy = -t.c * uy + t.d * ux;
    const double along = std::hypot(dx, dy), up = std::hypot(hx, hy);
    p.angle = along > 0 ? std::atan2(dy, dx) * 180 / std::numbers::pi : m.degKakudo;
    p.width = m.dSizeX * along;
    p.height = m.dSizeY * up;
    p.spacing = m.dKankaku * along;
    p.text = m.str;
    p.font = m.strFontName;
    p.pen = pen(m.att);
    Grow(out.extent, TextExtent(p));
    out.texts.push_back(std::move(p));
  }

  void solid(const TEntJwwSolid& s, const Affine& t) {
    const double x[4] = {s.start_x, s.end_x, s.DPoint2_x, s.DPoint3_x};
    const double y[4] = {s.start_y, s.end_y, s.DPoint2_y, s.DPoint3_y};
    if (!Finite({x[0], x[1], x[2], x[3], y[0], y[1], y[2], y[3]}) || full()) return;
    SolidPrim p;
    for (size_t i = 0; i < 4; ++i) {
      p.xy[2 * i] = t.mapX(x[i], y[i]);
      p.xy[2 * i + 1] = t.mapY(x[i], y[i]);
      Grow(out.extent, p.xy[2 * i], p.xy[2 * i + 1]);
    }
    p.pen = pen(s.att, &s);
    out.solids.push_back(p);
  }

  void dimension(const TEntJwwSunpo& d, const Affine& t) {
    line(d.Sen, t);
    text(d.Moji, t);
    if (drawing.version() < 420) return;
    // The further lines and points of newer drawings; those never filled in
    // lie at the origin with nothing to draw.
    for (const TEntJwwLine* l : {&d.Ho1, &d.Ho2})
      if (l->start_x != l->end_x || l->start_y != l->end_y) line(*l, t);
    for (const TEntJwwTen* p : {&d.Te1, &d.Te2, &d.Kt1, &d.Kt2})
      if (p->start_x != 0 || p->start_y != 0 || p->att.nPenStyle != 0) point(*p, t);
  }

  void definition(int32_t index, const Affine& t) {
    const TEntJwwBlockDef& def = drawing.body().EntBlockDef[static_cast<size_t>(index)];
    chain.push_back(index);
    // Fills first, so that lines and texts stay visible on top of them.
    for (int32_t i = 0; i < Count(def.mSolidN, def.mSolid); ++i) solid(def.mSolid[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mLineN, def.mLine); ++i) line(def.mLine[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mEnkoN, def.mEnko); ++i) arc(def.mEnko[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mTenN, def.mTen); ++i) point(def.mTen[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mSunpoN, def.mSunpo); ++i) dimension(def.mSunpo[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mMojiN, def.mMoji); ++i) text(def.mMoji[static_cast<size_t>(i)], t);
    for (int32_t i = 0; i < Count(def.mBlockN, def.mBlock); ++i) insert(def.mBlock[static_cast<size_t>(i)], t);
    chain.pop_back();
  }

  void insert(const TEntJwwBlock& b, const Affine& t) {
    if (out.truncated) return;
    const int32_t target = drawing.definitionByNumber(b.nNumber);
    const bool onChain = std::find(chain.begin(), chain.end(), target) != chain.end();
    if (target < 0 || onChain || static_cast<int32_t>(chain.size()) > limits.maxDepth ||
        !Finite({b.DPKijunTen_x, b.DPKijunTen_y, b.dBairitsuX, b.dBairitsuY, b.radKaitenKaku})) {
      ++out.skippedInserts;
      return;
    }
    definition(target, t.after(InsertPlacement(b.DPKijunTen_x, b.DPKijunTen_y, b.dBairitsuX, b.dBairitsuY,
                                               b.radKaitenKaku)));
  }

  // Only the counted elements that the array really holds are valid.
  template <class T>
  static int32_t Count(int32_t n, const std::vector<T>& v) {
    return std::clamp<int32_t>(n, 0, static_cast<int32_t>(std::min<size_t>(v.size(), INT32_MAX)));
  }
};

// Parameters t in [0, 2 pi) where x (row a, b) or y (row c, d) of an
// ellipse arc is extreme.
void Extremes(double p, double q, double out[2]) {
  out[0] = std::atan2(q, p);
  out[1] = out[0] + std::numbers::pi;
}

bool Within(double t, double start, double sweep) {
  double d = std::fmod(t - start, kTwoPi);
  if (d < 0) d += kTwoPi;
  return d <= sweep;
}

}  // namespace

Affine Affine::after(const Affine& in) const {
  return Affine{a * in.a + b * in.c, a * in.b + b * in.d, c * in.a + d * in.c,
                c * in.b + d * in.d, mapX(in.x0, in.y0), mapY(in.x0, in.y0)};
}

Affine InsertPlacement(double x, double y, double sx, double sy, double rot) {
  const double c = std::cos(rot), s = std::sin(rot);
  return Affine{sx * c, -sy * s, sx * s, sy * c, x, y};
}

double ArcPrim::pointX(double t) const { return cx + m[0] * std::cos(t) + m[1] * std::sin(t); }
double ArcPrim::pointY(double t) const { return cy + m[2] * std::cos(t) + m[3] * std::sin(t); }

std::array<double, 8> TextPrim::box() const {
  const double rad = angle * std::numbers::pi / 180;
  const double ux = -std::sin(rad) * height, uy = std::cos(rad) * height;
  double ex = endX, ey = endY;
  if (ex == x && ey == y && !text.empty()) {
    // No end point stored: characters of the stored width and spacing.
    const double n = static_cast<double>(text.size());
    const double len = n * width + (n - 1) * spacing;
    ex = x + std::cos(rad) * len;
    ey = y + std::sin(rad) * len;
  }
  return {x, y, ex, ey, ex + ux, ey + uy, x + ux, y + uy};
}

Extent ArcExtent(const ArcPrim& a) {
  std::optional<Extent> e;
  if (a.full) {
    // Half axes of the ellipse along x and y.
    const double hx = std::hypot(a.m[0], a.m[1]), hy = std::hypot(a.m[2], a.m[3]);
    return Extent{a.cx - hx, a.cy - hy, a.cx + hx, a.cy + hy};
  }
  Grow(e, a.pointX(a.start), a.pointY(a.start));
  Grow(e, a.pointX(a.start + a.sweep), a.pointY(a.start + a.sweep));
  double tx[2], ty[2];
  Extremes(a.m[0], a.m[1], tx);
  Extremes(a.m[2], a.m[3], ty);
  for (double t : {tx[0], tx[1], ty[0], ty[1]})
    if (Within(t, a.start, a.sweep)) Grow(e, a.pointX(t), a.pointY(t));
  return *e;
}

Extent TextExtent(const TextPrim& t) {
  std::optional<Extent> e;
  const std::array<double, 8> b = t.box();
  for (size_t i = 0; i < 8; i += 2) Grow(e, b[i], b[i + 1]);
  return *e;
}

EntityCounts CountsOf(const TEntJwwBlockDef& d) {
  return EntityCounts{d.mLineN, d.mEnkoN, d.mTenN, d.mMojiN, d.mSunpoN, d.mSolidN, d.mBlockN};
}

Rgb FallbackColor(int n) {
  static constexpr Rgb kScreen[10] = {
      {0, 0, 0},       {0, 150, 150}, {0, 0, 0},   {0, 150, 0}, {190, 150, 0},
      {200, 0, 200},   {0, 0, 255},   {0, 120, 120}, {230, 0, 0}, {110, 110, 110},
  };
  // The standard colours of the extended numbers 101 to 116.
  static constexpr Rgb kExtended[16] = {
      {0, 0, 0},       {255, 0, 0},     {0, 160, 0},     {0, 0, 255},     {200, 170, 0},   {255, 0, 255},
      {0, 170, 170},   {110, 110, 110}, {190, 0, 90},    {140, 70, 0},    {240, 120, 0},   {90, 190, 60},
      {60, 130, 220},  {150, 120, 200}, {160, 160, 160}, {80, 80, 80},
  };
  if (n >= 0 && n <= 9) return kScreen[n];
  if (n >= 101 && n <= 116) return kExtended[n - 101];
  return Rgb{80, 80, 80};
}

Dashes FallbackDashes(int n) {
  switch (n) {
    case 2: return {6, 3};
    case 3: return {2, 2};
    case 4: return {12, 4};
    case 5: return {14, 3, 2, 3};
    case 6: return {24, 4, 3, 4};
    case 7: return {14, 3, 2, 3, 2, 3};
    case 8: return {24, 4, 3, 4, 3, 4};
    case 9: return {1, 3};
    default: return {};
  }
}

Rgb OnWhite(Rgb c) {
  const int luma = (c.r * 299 + c.g * 587 + c.b * 114) / 1000;
  return luma > 215 ? Rgb{128, 128, 128} : c;
}

DrawingContext::DrawingContext(const TJwwData& jww) : body_(jww), jww_(&jww), version_(jww.Enthd.jwVer) {
  indexDefinitions();
}

DrawingContext::DrawingContext(const TJwsData& jws) : body_(jws), version_(jws.Enthd.jwVer) { indexDefinitions(); }

int32_t DrawingContext::definitionCount() const {
  return std::clamp<int32_t>(body_.EntBlockDefN, 0, static_cast<int32_t>(body_.EntBlockDef.size()));
}

void DrawingContext::indexDefinitions() {
  const int32_t n = definitionCount();
  byNumber_.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) byNumber_.try_emplace(body_.EntBlockDef[static_cast<size_t>(i)].nNumber, i);
}

int32_t DrawingContext::definitionByNumber(uint32_t n) const {
  const auto it = byNumber_.find(n);
  return it == byNumber_.end() ? -1 : it->second;
}

Rgb DrawingContext::color(uint16_t n, const TEntJwwSolid* solid) const {
  // A solid of colour 10 carries its own colour, in any drawing.
  if (solid && n == 10) return FromColorRef(solid->Color);
  if (jww_) {
    // An entry never written (a header cut short) is all zero: the palette
    // stands in for it.
    if (n <= 9 && n < jww_->EntCol.size()) {
      const TEntJwwColorNo& c = jww_->EntCol[n];
      if (c.aPenColor != 0 || c.anPenWidth != 0) return FromColorRef(static_cast<uint32_t>(c.aPenColor));
    }
    if (n >= 100 && version_ >= 420 && static_cast<size_t>(n - 100) < jww_->EntColS.size()) {
      const TEntJwwColorExNo& c = jww_->EntColS[static_cast<size_t>(n - 100)];
      if (c.aPenColor != 0 || c.anPenWidth != 0 || !c.astrUDColorName.empty())
        return FromColorRef(static_cast<uint32_t>(c.aPenColor));
    }
  }
  return FallbackColor(n);
}

Dashes DrawingContext::dashes(uint8_t n) const {
  if (n <= 1) return {};
  if (jww_) {
    // Line types 2 to 9, the random lines 11 to 15, the further types 16 to
    // 19 and the extended types from 30, where the drawing has them.
    const TEntJwwLineTypeNo* t = nullptr;
    if (n >= 2 && n <= 9 && static_cast<size_t>(n - 2) < jww_->EntLtp1.size()) t = &jww_->EntLtp1[n - 2];
    if (n >= 11 && n <= 15 && static_cast<size_t>(n - 11) < jww_->EntLtp2.size()) {
      const TEntJwwRandomLineNo& r = jww_->EntLtp2[n - 11];
      if (r.alLType != 0) return PatternDashes(static_cast<uint32_t>(r.alLType), 1);
    }
    if (n >= 16 && n <= 19 && static_cast<size_t>(n - 16) < jww_->EntLtp3.size()) t = &jww_->EntLtp3[n - 16];
    if (t && t->alLType != 0) return PatternDashes(static_cast<uint32_t>(t->alLType), t->anTokushuSenUintDot);
    if (n >= 30 && version_ >= 420 && static_cast<size_t>(n - 30) < jww_->EntLtpS.size()) {
      const TEntJwwLineTypeExNo& x = jww_->EntLtpS[static_cast<size_t>(n - 30)];
      if (x.anUDLTypeSegment > 0) {
        // Segment pitches in millimetres, about four dots each.
        Dashes d;
        for (int32_t i = 1; i <= std::min(x.anUDLTypeSegment, 10); ++i) {
          const double p = x.aadUDLTypePitch[static_cast<size_t>(i)];
          d.push_back(static_cast<uint8_t>(std::clamp(std::isfinite(p) ? p * 4 : 1.0, 1.0, 255.0)));
        }
        if (d.size() % 2) d.push_back(d.back());
        return d;
      }
      if (x.alLType != 0) return PatternDashes(static_cast<uint32_t>(x.alLType), x.anTokushuSenUintDot);
    }
  }
  return FallbackDashes(n);
}

}  // namespace tarnwick::draw

namespace tarnwick::draw {

DisplayList BuildDisplayList(const DrawingContext& drawing, int32_t index, const Limits& limits) {
  if (index < 0 || index >= drawing.definitionCount()) return {};
  Builder b{drawing, limits, {}, {}, {}};
  b.definition(index, Affine{});
  return std::move(b.out);
}

}  // namespace tarnwick::draw
