// The display lists and SVG pictures of the definitions of any drawing: they
// stay bounded, every primitive lies inside the extent, and the picture is
// made without fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "body_checks.h"
#include "draw/display_list.h"
#include "draw/svg.h"
#include "jw/model.h"

using namespace tarnwick;

namespace {

void Inside(const draw::Extent& e, double x, double y) {
  const double slack = 1e-6 * std::max({1.0, std::fabs(e.minX), std::fabs(e.maxX), std::fabs(e.minY), std::fabs(e.maxY)});
  fuzz::Require(x >= e.minX - slack && x <= e.maxX + slack && y >= e.minY - slack && y <= e.maxY + slack,
                "a primitive outside the extent");
}

void Check(const draw::DrawingContext& context) {
  draw::Limits limits;
  limits.maxPrimitives = 20000;
  const int32_t n = std::min(context.definitionCount(), 16);
  for (int32_t i = 0; i < n; ++i) {
    const draw::DisplayList list = draw::BuildDisplayList(context, i, limits);
    fuzz::Require(list.size() <= limits.maxPrimitives, "more primitives than the limit");
    fuzz::Require(list.extent.has_value() == (list.size() > 0), "an extent without primitives");
    if (list.extent) {
      for (const auto& l : list.lines) Inside(*list.extent, l.x1, l.y1), Inside(*list.extent, l.x2, l.y2);
      for (const auto& p : list.points) Inside(*list.extent, p.x, p.y);
      for (const auto& s : list.solids)
        for (size_t k = 0; k < 8; k += 2) Inside(*list.extent, s.xy[k], s.xy[k + 1]);
    }
    const std::string svg = draw::ToSvg(list);
    fuzz::Require(svg.rfind("<?xml", 0) == 0, "a picture without its declaration");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 3 && data[2] == 's') {
    TJwsData d;
    d.FileInBytes(data, size);
    Check(draw::DrawingContext(d));
  } else {
    TJwwData d;
    d.FileInBytes(data, size);
    Check(draw::DrawingContext(d));
  }
  return 0;
}
