// The preview of one block: the display list of a definition of 10,000
// entities built and painted into an 800 x 600 image, as the results window
// does when a row becomes current.  The target is under 20 ms for both steps
// together.
//
//   draw_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/preview_painter.h"
#include "draw/display_list.h"
#include "support/drawing_writer.h"

namespace {

using namespace tarnwick;
using namespace tarnwick::testing;

constexpr int kEntities = 10000;

// A definition of a plan's usual mix: mostly lines, then arcs, texts,
// points, solids and dimensions, spread over a 10 m square, with line
// types and colours varied.
std::unique_ptr<TJwwData> MakeDrawing() {
  Definition def;
  def.number = 1;
  def.name = "bench";
  for (int i = 0; i < kEntities; ++i) {
    const double x = (i * 37) % 10000, y = (i * 91) % 10000;
    Attr a;
    a.penColor = static_cast<uint16_t>(1 + i % 9);
    a.penStyle = static_cast<uint8_t>(1 + i % 4);
    switch (i % 20) {
      case 0: case 1: case 2: {
        Arc arc;
        arc.att = a, arc.cx = x, arc.cy = y, arc.r = 50 + i % 200, arc.start = 0.3, arc.sweep = 2.0;
        arc.full = i % 2, arc.tilt = 0.2, arc.flat = i % 3 ? 1 : 0.5;
        def.entities.push_back(arc);
        break;
      }
      case 3: case 4: {
        Text t;
        t.att = a, t.x1 = x, t.y1 = y, t.x2 = x + 400, t.y2 = y, t.sx = 100, t.sy = 100;
        t.str = Cp932(u"ドア W800");
        def.entities.push_back(t);
        break;
      }
      case 5: {
        Point p;
        p.att = a, p.x = x, p.y = y;
        def.entities.push_back(p);
        break;
      }
      case 6: {
        Solid s;
        s.att = a;
        for (int k = 0; k < 4; ++k) s.x[k] = x + s.x[k] * 100, s.y[k] = y + s.y[k] * 100;
        def.entities.push_back(s);
        break;
      }
      case 7: {
        Dimension d;
        d.att = a;
        d.sen = Line{a, x, y, x + 900, y};
        d.moji.x1 = x + 400, d.moji.y1 = y + 20, d.moji.x2 = x + 520, d.moji.y2 = y + 20, d.moji.str = "900";
        def.entities.push_back(d);
        break;
      }
      default:
        def.entities.push_back(Line{a, x, y, x + 300 + i % 500, y + (i % 7) * 40});
    }
  }
  Drawing d;
  d.definitions.push_back(std::move(def));
  const Bytes bytes = Write(d);
  auto jww = std::make_unique<TJwwData>();
  if (!jww->FileInBytes(bytes.data(), bytes.size()) || jww->EntBlockDef[0].N != kEntities) std::abort();
  return jww;
}

const TJwwData& Drawing10k() {
  static const std::unique_ptr<TJwwData> d = MakeDrawing();
  return *d;
}

void BM_BuildDisplayList(benchmark::State& state) {
  const draw::DrawingContext context(Drawing10k());
  for (auto _ : state) benchmark::DoNotOptimize(draw::BuildDisplayList(context, 0));
  state.SetItemsProcessed(state.iterations() * kEntities);
}
BENCHMARK(BM_BuildDisplayList)->Unit(benchmark::kMillisecond);

void BM_Paint(benchmark::State& state) {
  const draw::DrawingContext context(Drawing10k());
  const draw::DisplayList list = draw::BuildDisplayList(context, 0);
  QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintDisplayList(painter, list, FitTransform(*list.extent, QRectF(8, 8, 784, 584)));
  }
  state.SetItemsProcessed(state.iterations() * kEntities);
}
BENCHMARK(BM_Paint)->Unit(benchmark::kMillisecond);

// Both steps, as one preview costs.
void BM_BuildAndPaint(benchmark::State& state) {
  const draw::DrawingContext context(Drawing10k());
  QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    const draw::DisplayList list = draw::BuildDisplayList(context, 0);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintDisplayList(painter, list, FitTransform(*list.extent, QRectF(8, 8, 784, 584)));
  }
  state.SetItemsProcessed(state.iterations() * kEntities);
}
BENCHMARK(BM_BuildAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Fonts need a GUI application; no screen is needed.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
