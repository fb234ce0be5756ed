// Entities per second of the drawing reader, by entity kind and file
// version, for the full read (FileInBytes) and for the names-only read of
// the search (ReadBlockNames).  The drawings are built in memory with the
// project's writer, so the figures leave the disk out.
//
//   reader_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jw/block_names.h"
#include "jw/model.h"
#include "support/drawing_writer.h"

namespace {

using namespace tarnwick;
using namespace tarnwick::testing;

constexpr int kEntities = 20000;

struct KindCase {
  const char* name;
  Entity (*make)(int i);
};

Attr Style(int i, uint8_t penStyle = 1, uint16_t penColor = 1) {
  Attr a;
  a.group = static_cast<uint32_t>(i % 7);
  a.penStyle = penStyle;
  a.penColor = penColor;
  a.layer = static_cast<uint16_t>(i % 16);
  a.glayer = static_cast<uint16_t>(i % 3);
  return a;
}

Entity MakeLine(int i) { return Line{Style(i), double(i), 0.5 * i, i + 100.0, i - 50.0}; }
Entity MakeArc(int i) {
  Arc a;
  a.att = Style(i);
  a.cx = i, a.cy = -i, a.r = 10 + i % 90, a.full = i % 2;
  return a;
}
Entity MakePoint(int i) {
  Point p;
  p.att = Style(i);
  p.x = i, p.y = 2.0 * i;
  return p;
}
Entity MakeMarker(int i) {  // a point with its extension
  Point p;
  p.att = Style(i, 100);
  p.x = i, p.code = 3, p.rot = 0.5, p.scale = 2;
  return p;
}
Entity MakeText(int i) {
  Text t;
  t.att = Style(i);
  t.x1 = i;
  t.str = i % 4 == 0 ? Cp932(u"一階平面図 縮尺1/100") : "W1800 H1200 No." + std::to_string(i);
  return t;
}
Entity MakeDimension(int i) {
  Dimension d;
  d.att = Style(i);
  d.sen = Line{Style(i), 0, 0, double(i), 0};
  d.moji.str = std::to_string(i);
  return d;
}
Entity MakeSolid(int i) {
  Solid s;
  s.att = Style(i, 1, i % 3 == 0 ? 10 : 2);
  return s;
}
Entity MakeInsert(int i) {
  Insert b;
  b.att = Style(i);
  b.x = i, b.number = 1 + static_cast<uint32_t>(i % 4);
  return b;
}

const KindCase kKinds[] = {{"line", MakeLine},   {"arc", MakeArc},         {"point", MakePoint},
                           {"marker", MakeMarker}, {"text", MakeText},     {"dimension", MakeDimension},
                           {"solid", MakeSolid}, {"insert", MakeInsert}};

// 351 is the first version with the wide attribute, 420 the first with the
// full dimension, 600 and 700 the common ones; 300 has the old layout.
const int32_t kVersions[] = {300, 420, 600, 700};

// kEntities of one kind in the drawing's own list, and four small
// definitions (the targets of the inserts) after it.
Bytes MakeDrawing(const KindCase& kind, int32_t version, bool jws) {
  Drawing d;
  d.jws = jws;
  d.version = version;
  d.entities.reserve(kEntities);
  for (int i = 0; i < kEntities; ++i) d.entities.push_back(kind.make(i));
  for (uint32_t n = 1; n <= 4; ++n) {
    Definition def;
    def.number = n;
    def.name = Cp932(u"建具") + std::to_string(n);
    def.entities = {MakeLine(0), MakeArc(1)};
    d.definitions.push_back(std::move(def));
  }
  return Write(d);
}

// Hundreds of definitions of a few entities each: the per-definition costs.
Bytes MakeLibrary(int32_t version) {
  Drawing d;
  d.version = version;
  for (int n = 0; n < 1000; ++n) {
    Definition def;
    def.number = static_cast<uint32_t>(n + 1);
    def.name = n % 2 ? Cp932(u"部品") + std::to_string(n) : "PART-" + std::to_string(n);
    for (int i = 0; i < 20; ++i) def.entities.push_back(i % 5 == 4 ? MakeArc(i) : MakeLine(i));
    d.definitions.push_back(std::move(def));
  }
  return Write(d);
}

// About a million entities of every kind, mostly lines, some 50 MB: the
// drawing a full read must take well under a second.  Written entity by
// entity, so the writer holds no list of a million entities.
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes MakeLarge(int64_t& entities) {
  constexpr int kCount = 1'000'000;
  BodyWriter body(700);
  body.out().count(kCount);
  for (int i = 0; i < kCount; ++i) {
    const int r = i % 100;
    body.entity(r < 80   ? MakeLine(i)
                : r < 90 ? MakeArc(i)
                : r < 95 ? MakeText(i)
                : r < 97 ? MakeDimension(i)
                : r < 98 ? MakeSolid(i)
                : r < 99 ? MakeMarker(i)
                         : MakeInsert(i));
  }
  std::vector<Definition> defs;
  for (uint32_t n = 1; n <= 100; ++n) {
    Definition def;
    def.number = n;
    def.name = Cp932(u"建具") + std::to_string(n);
    def.entities = {MakeLine(0), MakeArc(1), MakeText(2)};
    defs.push_back(std::move(def));
  }
  body.definitionList(defs);
  entities = kCount + 300;
  return Concat(JwwHeader(700), body.out().data());
}

void Report(benchmark::State& state, const Bytes& image, int64_t entities) {
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
  state.counters["entities"] =
      benchmark::Counter(static_cast<double>(entities), benchmark::Counter::kIsIterationInvariantRate);
}

void FullRead(benchmark::State& state, const Bytes& image, bool jws, int64_t entities) {
  TJwwData jww;
  TJwsData jwsData;
  for (auto _ : state) {
    bool ok = jws ? jwsData.FileInBytes(image.data(), image.size()) : jww.FileInBytes(image.data(), image.size());
    benchmark::DoNotOptimize(ok);
    if (!ok) state.SkipWithError("the drawing was not read to its end");
  }
  Report(state, image, entities);
}

void NamesRead(benchmark::State& state, const Bytes& image, bool jws, int64_t entities) {
  BlockNameList out;
  const DrawingFormat format = jws ? DrawingFormat::kJws : DrawingFormat::kJww;
  for (auto _ : state) {
    ReadBlockNames(image.data(), image.size(), format, out);
    benchmark::DoNotOptimize(out.names.data());
    if (!out.ok) state.SkipWithError("the drawing was not read to its end");
  }
  Report(state, image, entities);
}

// One drawing to read: the benchmarks keep a pointer to it, so the cases
// live as long as the program.
struct Case {
  Bytes image;
  bool jws = false;
  int64_t entities = 0;
};

std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

void RegisterCase(const std::string& suffix, const Case& c) {
  benchmark::RegisterBenchmark(("FileIn/" + suffix).c_str(), [&c](benchmark::State& s) {
    FullRead(s, c.image, c.jws, c.entities);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(("BlockNames/" + suffix).c_str(), [&c](benchmark::State& s) {
    NamesRead(s, c.image, c.jws, c.entities);
  })->Unit(benchmark::kMicrosecond);
}

void Register() {
  // Reserved up front: the benchmarks refer to the cases by address.
  Cases().reserve(std::size(kKinds) * std::size(kVersions) + 3);
  for (const KindCase& kind : kKinds) {
    for (int32_t version : kVersions) {
      const bool jws = version == 420;  // one JWS case per kind: the same body after another header
      const Case& c = Cases().emplace_back(Case{MakeDrawing(kind, version, jws), jws, kEntities + 8});
      RegisterCase(std::string(kind.name) + "/" + (jws ? "jws" : "jww") + std::to_string(version), c);
    }
  }
  for (int32_t version : {300, 700}) {
    const Case& c = Cases().emplace_back(Case{MakeLibrary(version), false, 1000 * 20});
    RegisterCase("library/jww" + std::to_string(version), c);
  }
  Case large;
  large.image = MakeLarge(large.entities);
  RegisterCase("large/jww700", Cases().emplace_back(std::move(large)));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
