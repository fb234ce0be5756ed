// Writes the benchmark corpus: a project archive of about 1 GB of drawings
// (2,000 files in nested folders) made with the project's own writer.
// Mostly versions 600 and 700 and entity-heavy, some parts libraries with
// hundreds of definitions, a few old versions and JWS figure files.  The
// same arguments always give the same bytes.
//
//   make_corpus FOLDER [--files N] [--bytes TOTAL] [--seed S]
//
// FOLDER must not exist yet.  The corpus is written into a sibling folder
// and renamed to FOLDER when complete, so FOLDER never holds half a corpus;
// its file "corpus.txt" describes what was made.
#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "support/drawing_writer.h"
#include "text/utf.h"

using namespace tarnwick::testing;
namespace fs = std::filesystem;

namespace {

// A small deterministic generator: the standard engines are fully
// specified, the standard distributions are not.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}

  uint64_t next() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // An integer in [lo, hi].
  int64_t range(int64_t lo, int64_t hi) { return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1)); }
  double real(double lo, double hi) { return lo + (hi - lo) * unit(); }
  bool chance(double p) { return unit() < p; }
  double normal() {
    const double u = 1.0 - unit(), v = unit();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }
  template <class T>
  const T& pick(const std::vector<T>& v) { return v[static_cast<size_t>(range(0, static_cast<int64_t>(v.size()) - 1))]; }

 private:
  uint64_t state_;
};

const std::vector<std::u16string> kPartNames = {
    u"片開き戸", u"両開き戸", u"引違い窓", u"FIX窓",   u"便器",   u"洗面台", u"浴槽",   u"キッチン",
    u"冷蔵庫",   u"洗濯機",   u"階段",     u"柱",      u"梁",     u"樹木",   u"乗用車", u"人物",
    u"机",       u"椅子",     u"ベッド",   u"収納",    u"照明",   u"コンセント", u"換気扇", u"エアコン"};
const std::vector<std::string> kAsciiParts = {"DOOR", "WINDOW", "WC", "SINK", "STAIR", "COLUMN", "DESK",
                                              "CHAIR", "TREE",  "CAR", "LIGHT", "OUTLET", "DUCT", "VALVE"};
const std::vector<std::u16string> kLabels = {
    u"一階平面図", u"二階平面図", u"立面図",  u"断面図",    u"縮尺 1/100", u"通り芯",
    u"居間",       u"寝室",       u"玄関",    u"廊下",      u"浴室",       u"台所",
    u"W1800×H1200", u"FL+500",   u"天井高 2400", u"有効幅 800", u"化粧合板張り", u"既製品"};
const std::vector<std::string> kFonts = {"MS Gothic", "MS Mincho", "Arial"};

Attr RandomAttr(Random& r, bool wideStyles = false) {
  Attr a;
  a.group = static_cast<uint32_t>(r.range(0, 15));
  a.penStyle = static_cast<uint8_t>(wideStyles ? r.range(1, 9) : 1);
  a.penColor = static_cast<uint16_t>(r.range(1, 9));
  a.penWidth = static_cast<uint16_t>(r.range(0, 3));
  a.layer = static_cast<uint16_t>(r.range(0, 15));
  a.glayer = static_cast<uint16_t>(r.range(0, 15));
  return a;
}

double Coord(Random& r) { return std::round(r.real(-20000, 20000) * 10) / 10; }

std::string LabelText(Random& r) {
  if (r.chance(0.4)) return std::to_string(r.range(1, 20000));
  if (r.chance(0.3)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "X%d-Y%d", static_cast<int>(r.range(1, 30)), static_cast<int>(r.range(1, 30)));
    return buf;
  }
  return Cp932(r.pick(kLabels));
}

Text MakeText(Random& r) {
  Text t;
  t.att = RandomAttr(r);
  t.x1 = Coord(r), t.y1 = Coord(r);
  t.x2 = t.x1 + 1000, t.y2 = t.y1;
  t.kind = static_cast<uint32_t>(r.range(1, 10));
  t.sx = t.sy = static_cast<double>(r.range(2, 7));
  t.font = r.pick(kFonts);
  t.str = LabelText(r);
  return t;
}

Line MakeLine(Random& r) {
  Line l;
  l.att = RandomAttr(r, true);
  l.x1 = Coord(r), l.y1 = Coord(r);
  l.x2 = l.x1 + r.real(-3000, 3000), l.y2 = l.y1 + r.real(-3000, 3000);
  return l;
}

Point MakePoint(Random& r, bool marker) {
  Point p;
  p.att = RandomAttr(r);
  if (marker) p.att.penStyle = 100;
  p.x = Coord(r), p.y = Coord(r);
  p.code = static_cast<uint32_t>(r.range(1, 20));
  p.rot = r.real(0, 6.28);
  p.scale = 1;
  return p;
}

// One entity drawn from the mix of a typical plan: mostly lines, then
// inserts, arcs and texts, a few dimensions, points and solids.
// `bytes` is about what it takes in the file.
Entity MakeEntity(Random& r, uint32_t definitions, size_t& bytes) {
  const double x = r.unit();
  if (x < 0.60) {
    bytes = 49;
    return MakeLine(r);
  }
  if (x < 0.72) {
    Arc a;
    a.att = RandomAttr(r, true);
    a.cx = Coord(r), a.cy = Coord(r), a.r = r.real(50, 2000);
    a.full = r.chance(0.4) ? 1 : 0;
    a.start = a.full ? 0 : r.real(0, 6.28);
    a.sweep = a.full ? 6.283185307179586 : r.real(0.1, 3.14);
    bytes = 77;
    return a;
  }
  if (x < 0.81) {
    Text t = MakeText(r);
    bytes = 87 + t.font.size() + t.str.size();
    return t;
  }
  if (x < 0.85) {
    Dimension d;
    d.att = RandomAttr(r);
    d.sen = MakeLine(r);
    d.moji = MakeText(r);
    d.moji.str = std::to_string(r.range(100, 12000));
    d.sxf = static_cast<uint16_t>(r.range(0, 1));
    d.ho1 = MakeLine(r), d.ho2 = MakeLine(r);
    d.te1 = MakePoint(r, false), d.te2 = MakePoint(r, false);
    d.kt1 = MakePoint(r, r.chance(0.1)), d.kt2 = MakePoint(r, false);
    bytes = 400;
    return d;
  }
  if (x < 0.88) {
    Point p = MakePoint(r, r.chance(0.3));
    bytes = p.att.penStyle == 100 ? 57 : 37;
    return p;
  }
  if (x < 0.91 || definitions == 0) {
    Solid s;
    s.att = RandomAttr(r);
    if (r.chance(0.3)) s.att.penColor = 10;
    for (int i = 0; i < 4; ++i) s.x[i] = Coord(r), s.y[i] = Coord(r);
    s.color = static_cast<uint32_t>(r.next() & 0xFFFFFF);
    bytes = 85;
    return s;
  }
  Insert b;
  b.att = RandomAttr(r);
  b.x = Coord(r), b.y = Coord(r);
  b.sx = b.sy = r.chance(0.8) ? 1 : r.real(0.5, 2);
  b.rot = r.chance(0.7) ? 0 : r.real(0, 6.28);
  b.number = static_cast<uint32_t>(r.range(1, definitions));
  bytes = 61;
  return b;
}

std::string DefinitionName(Random& r, uint32_t number) {
  std::string name;
  if (r.chance(0.6))
    name = Cp932(r.pick(kPartNames)) + std::to_string(r.range(300, 3600));
  else
    name = r.pick(kAsciiParts) + "-" + std::to_string(number);
  // Parts taken from a figure library carry the library's flag.
  if (r.chance(0.2)) name += "@@SfigorgFlag@@" + std::to_string(r.range(1, 9));
  return name;
}

struct Plan {
  std::string path;  // relative to the corpus folder
  size_t bytes = 0;  // what the drawing should take, roughly
  bool library = false;
};

int32_t PickVersion(Random& r, bool jws) {
  const double x = r.unit();
  if (x < 0.03) return jws ? 300 : r.chance(0.5) ? 230 : 300;  // the old attribute layout
  if (x < 0.05) return 351;
  if (x < 0.09) return 420;
  if (x < 0.35) return 600;
  return 700;
}

Bytes MakeDrawing(const Plan& plan, uint64_t seed) {
  Random r(seed);
  Drawing d;
  d.jws = plan.path.ends_with(".jws");
  d.version = PickVersion(r, d.jws);
  d.memo = "benchmark corpus";
  // Room for the header; the sizes are rough (a JWW header from version 420
  // takes about 12 kB more).
  size_t budget = plan.bytes > 2000 ? plan.bytes - 2000 : 0;
  uint32_t definitions = 0;
  size_t defBudget = 0;
  if (plan.library) {
    definitions = static_cast<uint32_t>(r.range(200, 900));
    defBudget = budget * 9 / 10;
  } else {
    definitions = static_cast<uint32_t>(r.chance(0.1) ? 0 : r.range(3, 60));
    defBudget = definitions ? budget / 4 : 0;
  }
  size_t topBudget = budget - defBudget;
  size_t bytes = 0;
  for (size_t used = 0; used < topBudget; used += bytes) d.entities.push_back(MakeEntity(r, definitions, bytes));
  const size_t perDefinition = definitions ? defBudget / definitions : 0;
  for (uint32_t n = 1; n <= definitions; ++n) {
    Definition def;
    def.att = RandomAttr(r);
    def.number = n;
    def.dtime = r.chance(0.5) ? 0x80000000u : static_cast<uint32_t>(r.range(1, 1000000));
    def.name = DefinitionName(r, n);
    // Definitions insert only definitions before them, as editors store them.
    const size_t want = static_cast<size_t>(static_cast<double>(perDefinition) * r.real(0.3, 1.7));
    for (size_t used = 0; used < want; used += bytes) def.entities.push_back(MakeEntity(r, n - 1, bytes));
    d.definitions.push_back(std::move(def));
  }
  return Write(d);
}

const std::vector<std::u16string> kDisciplines = {u"意匠", u"構造", u"設備", u"外構"};
const std::vector<std::string> kSheets = {"A-", "S-", "M-", "E-", "C-"};
const std::vector<std::u16string> kSheetNames = {u"平面図", u"立面図", u"断面図", u"詳細図", u"配置図",
                                                 u"展開図", u"天井伏図", u"建具表", u"矩計図"};

// Folder and file names, sizes and kinds of the whole corpus.
std::vector<Plan> MakePlans(size_t files, size_t totalBytes, uint64_t seed) {
  Random r(seed);
  std::vector<Plan> plans;
  std::vector<double> weights;
  int project = 0, floor = 0;
  std::string folder;
  for (size_t i = 0; i < files; ++i) {
    if (i % 100 == 0) {
      ++project;
      floor = 0;
    }
    if (i % 25 == 0) {
      ++floor;
      char buf[64];
      std::snprintf(buf, sizeof buf, "P%03d", project);
      const std::u16string discipline = kDisciplines[static_cast<size_t>(floor - 1) % kDisciplines.size()];
      folder = std::string(buf) + "/" + tarnwick::ToUtf8(discipline);
      if (floor % 2 == 0) folder += "/" + std::to_string(floor) + "F";
      if (floor % 3 == 0) folder += "/old/rev" + std::to_string(floor);
    }
    Plan p;
    p.library = r.chance(0.05);
    const bool jws = p.library ? r.chance(0.6) : r.chance(0.05);
    char num[32];
    std::snprintf(num, sizeof num, "%s%04zu", r.pick(kSheets).c_str(), i);
    std::string stem = num;
    if (r.chance(0.5)) {
      stem += '_';
      stem += tarnwick::ToUtf8(r.pick(kSheetNames));
    }
    p.path = folder;
    if (p.library) p.path += "/parts";
    p.path += '/';
    p.path += stem;
    p.path += jws ? ".jws" : ".jww";
    plans.push_back(p);
    // File sizes spread like a real archive: many small sheets, a few huge.
    weights.push_back(std::exp(1.0 * r.normal()) * (p.library ? 0.5 : 1.0));
  }
  double sum = 0;
  for (double w : weights) sum += w;
  for (size_t i = 0; i < files; ++i) {
    double b = weights[i] / sum * static_cast<double>(totalBytes);
    plans[i].bytes = static_cast<size_t>(std::clamp(b, 16e3, 12e6));
  }
  return plans;
}

bool WriteFile(const fs::path& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  out.close();
  return static_cast<bool>(out);
}

constexpr const char* kUsage =
    "usage: make_corpus FOLDER [--files N] [--bytes TOTAL] [--seed S]\n"
    "Writes the benchmark corpus (by default 2,000 drawings, about 1 GB) into\n"
    "FOLDER, which must not exist yet.\n";

int Usage(const std::string& why = "") {
  if (!why.empty()) std::cerr << "make_corpus: " << why << "\n";
  std::cerr << kUsage;
  return 2;
}

// A whole decimal number, nothing else.
bool Number(const char* text, unsigned long long& v) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtoull(text, &end, 10);
  return errno == 0 && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  if (argc < 2) return Usage();
  // The folder comes first; a name like an option would be a folder named
  // "--files" or worse.
  if (argv[1][0] == '-') return Usage(std::string("the folder comes first, not an option: ") + argv[1]);
  const fs::path target = argv[1];
  size_t files = 2000, totalBytes = 1'000'000'000;
  uint64_t seed = 1;
  for (int i = 2; i < argc; i += 2) {
    const std::string opt = argv[i];
    unsigned long long v = 0;
    if (i + 1 >= argc) return Usage("option " + opt + " needs a value");
    if (!Number(argv[i + 1], v)) return Usage("not a number for " + opt + ": " + argv[i + 1]);
    if (opt == "--files" && v > 0) files = v;
    else if (opt == "--bytes" && v > 0) totalBytes = v;
    else if (opt == "--seed") seed = v;
    else return Usage("unknown option or value: " + opt + " " + argv[i + 1]);
  }
  std::error_code ec;
  if (fs::exists(target, ec)) {
    std::cerr << "make_corpus: " << target << " exists already\n";
    return 1;
  }
  fs::path partial = target;
  partial += ".partial-" + std::to_string(::getpid());

  const std::vector<Plan> plans = MakePlans(files, totalBytes, seed);
  std::atomic<size_t> nextFile{0}, written{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (size_t i; (i = nextFile.fetch_add(1)) < plans.size() && !failed;) {
      const Bytes b = MakeDrawing(plans[i], seed * 1000003 + i);
      const fs::path path = partial / fs::u8path(plans[i].path);
      std::error_code e;
      fs::create_directories(path.parent_path(), e);
      if (e || !WriteFile(path, b)) {
        std::cerr << "make_corpus: cannot write " << path << "\n";
        failed = true;
      }
      written += b.size();
    }
  };
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();

  if (!failed) {
    std::ofstream about(partial / "corpus.txt");
    about << "Benchmark corpus written by make_corpus: " << plans.size() << " drawings, " << written.load()
          << " bytes, seed " << seed << ".\n";
    about.close();
    failed = !about;
  }
  if (failed) {
    fs::remove_all(partial, ec);
    return 1;
  }
  fs::rename(partial, target, ec);
  if (ec) {
    std::cerr << "make_corpus: cannot rename " << partial << " to " << target << ": " << ec.message() << "\n";
    fs::remove_all(partial, ec);
    return 1;
  }
  std::cout << plans.size() << " drawings, " << written.load() << " bytes in " << target.string() << "\n";
  return 0;
}
