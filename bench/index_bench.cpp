// A synthetic index of 100,000 drawings and 1,000,000 definitions: how long
// it takes to build, how big it is per definition, and how fast the index
// alone answers a recursive search with --match.
//
//   index_bench [--db FILE] [--rebuild] [--runs N] [--drawings N] [--match TEXT]...
//
// The index is built once into FILE (default index_bench.sqlite in the
// current folder) and reused; its drawings do not exist on disk, which the
// index alone never notices.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "index/index_cache.h"
#include "index/index_db.h"
#include "index/index_search.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr int kNamesPerDrawing = 10;
constexpr const char* kRoot = "/synthetic/archive/";

// Words of block names as offices use them.
const char16_t* const kWords[] = {
    u"ドア", u"窓", u"洗面台", u"便器", u"浴槽", u"キッチン", u"階段", u"手摺", u"柱", u"梁", u"家具", u"机",
    u"椅子", u"棚", u"照明", u"コンセント", u"スイッチ", u"換気扇", u"エアコン", u"冷蔵庫", u"Door", u"Window",
    u"Sink", u"Stair", u"Column", u"Beam", u"Table", u"Chair", u"Shelf", u"Lamp", u"Outlet", u"Fan",
};
constexpr size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}

std::u16string NameOf(uint64_t drawing, int k) {
  const uint64_t h = Mix(drawing * 131 + static_cast<uint64_t>(k));
  std::u16string name = kWords[h % kWordCount];
  name += u"-";
  name += PathText(std::to_string(300 + (h >> 8) % 2700));
  if ((h >> 20) % 4 == 0) name += u" W";
  return name;
}

// 100 folders of 10 subfolders of `perFolder` drawings each.
void Build(IndexDb& db, int drawings) {
  const int perFolder = std::max(1, drawings / 1000);
  std::vector<std::string> top, subs;
  for (int t = 0; t < 100; ++t) top.push_back("p" + std::to_string(t));
  for (int s = 0; s < 10; ++s) subs.push_back("s" + std::to_string(s));
  uint64_t n = 0;
  const int64_t old = 1'500'000'000LL * 1'000'000'000LL;
  {
    IndexCache cache(db);
    cache.folderListed(kRoot, {}, &top);
    for (int t = 0; t < 100; ++t) {
      const std::string tf = std::string(kRoot) + top[static_cast<size_t>(t)] + "/";
      cache.folderListed(tf, {}, &subs);
      for (int s = 0; s < 10; ++s) {
        const std::string sf = tf + subs[static_cast<size_t>(s)] + "/";
        std::vector<std::string> names;
        for (int d = 0; d < perFolder; ++d, ++n) {
          std::string file = "図面" + std::to_string(n) + ".jww";
          DrawingRecord rec;
          for (int k = 0; k < kNamesPerDrawing; ++k) rec.names.push_back(NameOf(n, k));
          cache.record(sf + file, FileStamp{1, n + 1, 200000, old, old}, rec);
          names.push_back(std::move(file));
        }
        const std::vector<std::string> none;
        cache.folderListed(sf, names, &none);
      }
    }
    cache.finish();
  }
}

struct Count : SearchObserver {
  size_t rowCount = 0, files = 0;
  void rows(const std::vector<SearchRow>& r) override { rowCount += r.size(); }
  void file(const FileReport&) override { ++files; }
};

int Run(int argc, char** argv) {
  std::string path = "index_bench.sqlite";
  bool rebuild = false;
  int runs = 15, drawings = 100000;
  std::vector<std::u16string> texts = {u"洗面台-1234", u"Lamp-29", u"ドア", u"W"};
  bool textGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--db" && i + 1 < argc) path = argv[++i];
    else if (a == "--rebuild") rebuild = true;
    else if (a == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (a == "--drawings" && i + 1 < argc) drawings = std::atoi(argv[++i]);
    else if (a == "--match" && i + 1 < argc) {
      if (!textGiven) texts.clear();
      textGiven = true;
      texts.push_back(FromUtf8(argv[++i]));
    }
    else {
      std::fprintf(stderr, "usage: index_bench [--db FILE] [--rebuild] [--runs N] [--drawings N] [--match TEXT]...\n");
      return 2;
    }
  }
  struct stat st {};
  if (rebuild || stat(path.c_str(), &st) != 0) {
    for (const char* s : {"", "-wal", "-shm"}) unlink((path + s).c_str());
    auto db = IndexDb::Open(path);
    if (!db->usable()) {
      std::fprintf(stderr, "index_bench: %s: %s\n", path.c_str(), db->problem().c_str());
      return 1;
    }
    const auto t = Clock::now();
    Build(*db, drawings);
    std::printf("built %d drawings, %d definitions in %.1f s\n", drawings, drawings * kNamesPerDrawing,
                Ms(Clock::now() - t) / 1000);
  }
  // The last connection to close has moved the log into the main file, as
  // it stands between searches.
  stat(path.c_str(), &st);
  const double definitions = double(drawings) * kNamesPerDrawing;
  std::printf("database: %.1f MB, %.1f bytes per definition (target: under 150)\n", double(st.st_size) / 1e6,
              double(st.st_size) / definitions);

  const std::vector<SearchEntry> entries{{PathText(kRoot), false, true}};
  for (const std::u16string& text : texts) {
    const std::u16string key = StrNormalizeKey(text);
    SearchOptions o;
    o.rowCap = 0;
    o.keep = [key](const std::u16string& block) { return StrIndexOf(key, StrNormalizeKey(block)) >= 0; };
    std::vector<double> times;
    Count last;
    for (int r = 0; r < runs; ++r) {
      const auto t = Clock::now();
      auto db = IndexDb::Open(path);
      Count c;
      SearchIndexOnly(*db, entries, o, key, c);
      times.push_back(Ms(Clock::now() - t));
      last = c;
    }
    std::sort(times.begin(), times.end());
    std::printf("--index-only -r --match %-12s %7zu rows  median %7.1f ms  (min %.1f, max %.1f; open + query)%s\n",
                ToUtf8(text).c_str(), last.rowCount, times[times.size() / 2], times.front(), times.back(),
                last.rowCount < 10000 && times[times.size() / 2] >= 50 ? "  OVER 50 ms" : "");
  }
  return 0;
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) { return tarnwick::Run(argc, argv); }
