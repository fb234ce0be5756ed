#include "draw/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "text/utf.h"

namespace tarnwick::draw {

const char* const kSvgFontFallback = "'Noto Sans CJK JP', 'IPAexGothic', 'IPAGothic', 'VL Gothic', sans-serif";

namespace {

// Shortest text that reads back as the same double, enough for drawings.
void Num(std::string& out, double v) {
  char buf[32];
  if (v == 0) v = 0;  // no "-0"
  std::snprintf(buf, sizeof buf, "%.10g", v);
  out += buf;
}

void Escape(std::string& out, std::u16string_view text) {
  for (char c : ToUtf8(text)) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
}

void Color(std::string& out, Rgb c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
  out += buf;
}

// The singular value decomposition of a 2x2 matrix: half axes and the
// angle (radians) of the first axis.
void Axes(double a, double b, double c, double d, double& rx, double& ry, double& angle) {
  const double e = (a + d) / 2, f = (a - d) / 2, g = (c + b) / 2, h = (c - b) / 2;
  const double q = std::hypot(e, h), r = std::hypot(f, g);
  rx = q + r;
  ry = std::fabs(q - r);
  const double a1 = std::atan2(g, f), a2 = std::atan2(h, e);
  angle = (a2 + a1) / 2;
}

class Writer {
 public:
  explicit Writer(const DisplayList& list) : list_(list) {
    const Extent& e = *list.extent;
    const double size = std::max({e.width(), e.height(), 1e-9});
    margin_ = size * 0.02;
    flip_ = e.minY + e.maxY;
    dot_ = size / 400;
  }

  std::string run() {
    const Extent& e = *list_.extent;
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"";
    Num(out_, e.minX - margin_);
    out_ += ' ';
    Num(out_, e.minY - margin_);
    out_ += ' ';
    Num(out_, e.width() + 2 * margin_);
    out_ += ' ';
    Num(out_, e.height() + 2 * margin_);
    out_ += "\" width=\"800\" height=\"";
    Num(out_, std::round(800 * std::clamp((e.height() + 2 * margin_) / (e.width() + 2 * margin_), 0.05, 20.0)));
    out_ += "\">\n<g fill=\"none\" stroke-width=\"1\" stroke-linecap=\"round\">\n";
    for (const SolidPrim& s : list_.solids) solid(s);
    for (const LinePrim& l : list_.lines) line(l);
    for (const ArcPrim& a : list_.arcs) arc(a);
    for (const PointPrim& p : list_.points) point(p);
    for (const TextPrim& t : list_.texts) text(t);
    out_ += "</g>\n</svg>\n";
    return std::move(out_);
  }

 private:
  double Y(double y) const { return flip_ - y; }

  void stroke(const Pen& pen) {
    out_ += " stroke=\"";
    Color(out_, OnWhite(pen.color));
    out_ += "\" vector-effect=\"non-scaling-stroke\"";
    if (pen.dashes >= 0) {
      out_ += " stroke-dasharray=\"";
      const Dashes& d = list_.dashes[static_cast<size_t>(pen.dashes)];
      for (size_t i = 0; i < d.size(); ++i) {
        if (i) out_ += ' ';
        Num(out_, d[i] * dot_);
      }
      out_ += '"';
    }
  }

  void line(const LinePrim& l) {
    out_ += "<line x1=\"";
    Num(out_, l.x1);
    out_ += "\" y1=\"";
    Num(out_, Y(l.y1));
    out_ += "\" x2=\"";
    Num(out_, l.x2);
    out_ += "\" y2=\"";
    Num(out_, Y(l.y2));
    out_ += '"';
    stroke(l.pen);
    out_ += "/>\n";
  }

  void arc(const ArcPrim& a) {
    // In picture coordinates (y down) the axis matrix is flipped too.
    const double m0 = a.m[0], m1 = a.m[1], m2 = -a.m[2], m3 = -a.m[3];
    double rx, ry, angle;
    Axes(m0, m1, m2, m3, rx, ry, angle);
    const double deg = angle * 180 / std::numbers::pi;
    if (a.full) {
      out_ += "<ellipse cx=\"";
      Num(out_, a.cx);
      out_ += "\" cy=\"";
      Num(out_, Y(a.cy));
      out_ += "\" rx=\"";
      Num(out_, rx);
      out_ += "\" ry=\"";
      Num(out_, ry);
      out_ += "\" transform=\"rotate(";
      Num(out_, deg);
      out_ += ' ';
      Num(out_, a.cx);
      out_ += ' ';
      Num(out_, Y(a.cy));
      out_ += ")\"";
    } else {
      const double t0 = a.start, t1 = a.start + a.sweep;
      out_ += "<path d=\"M";
      Num(out_, a.pointX(t0));
      out_ += ' ';
      Num(out_, Y(a.pointY(t0)));
      out_ += " A";
      Num(out_, rx);
      out_ += ' ';
      Num(out_, ry);
      out_ += ' ';
      Num(out_, deg);
      out_ += a.sweep > std::numbers::pi ? " 1 " : " 0 ";
      out_ += m0 * m3 - m1 * m2 > 0 ? "1 " : "0 ";
      Num(out_, a.pointX(t1));
      out_ += ' ';
      Num(out_, Y(a.pointY(t1)));
      out_ += '"';
    }
    stroke(a.pen);
    out_ += "/>\n";
  }

  void point(const PointPrim& p) {
    out_ += "<circle cx=\"";
    Num(out_, p.x);
    out_ += "\" cy=\"";
    Num(out_, Y(p.y));
    out_ += "\" r=\"";
    Num(out_, dot_ * 1.5);
    out_ += "\" fill=\"";
    Color(out_, OnWhite(p.pen.color));
    out_ += p.temporary ? "\" fill-opacity=\"0.5\"/>\n" : "\"/>\n";
  }

  void text(const TextPrim& t) {
    const double len = std::hypot(t.endX - t.x, t.endY - t.y);
    out_ += "<text x=\"";
    Num(out_, t.x);
    out_ += "\" y=\"";
    Num(out_, Y(t.y));
    out_ += "\" font-size=\"";
    Num(out_, t.height);
    out_ += "\" font-family=\"";
    if (!t.font.empty()) {
      out_ += "&apos;";
      Escape(out_, t.font);
      out_ += "&apos;, ";
    }
    out_ += kSvgFontFallback;
    out_ += "\" fill=\"";
    Color(out_, OnWhite(t.pen.color));
    out_ += "\" stroke=\"none\"";
    if (len > 0) {
      out_ += " textLength=\"";
      Num(out_, len);
      out_ += "\" lengthAdjust=\"spacingAndGlyphs\"";
    }
    if (t.angle != 0) {
      out_ += " transform=\"rotate(";
      Num(out_, -t.angle);
      out_ += ' ';
      Num(out_, t.x);
      out_ += ' ';
      Num(out_, Y(t.y));
      out_ += ")\"";
    }
    out_ += '>';
    Escape(out_, t.text);
    out_ += "</text>\n";
  }

  void solid(const SolidPrim& s) {
    out_ += "<polygon points=\"";
    for (size_t i = 0; i < 8; i += 2) {
      if (i) out_ += ' ';
      Num(out_, s.xy[i]);
      out_ += ',';
      Num(out_, Y(s.xy[i + 1]));
    }
    out_ += "\" fill=\"";
    Color(out_, s.pen.color);
    out_ += "\" stroke=\"none\"/>\n";
  }

  const DisplayList& list_;
  std::string out_;
  double margin_ = 0, flip_ = 0, dot_ = 0;
};

}  // namespace

std::string ToSvg(const DisplayList& list) {
  if (!list.extent)
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1 1\" width=\"800\" height=\"800\"/>\n";
  return Writer(list).run();
}

}  // namespace tarnwick::draw
