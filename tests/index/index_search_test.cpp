// Searches through the index against plain searches of the same tree: after
// every kind of change the rows and reports are those of a search without
// the index, and what did not change is not read again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "index/index_cache.h"
#include "index/index_db.h"
#include "index/index_search.h"
#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using namespace tarnwick::testing;

constexpr int64_t kSecond = 1'000'000'000;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct Counted : Recorder {
  int fromCache = 0;
  void file(const FileReport& f) override {
    Recorder::file(f);
    if (f.fromCache) ++fromCache;
  }
};

class IndexSearchTest;

struct Change {
  const char* name;
  std::function<void(IndexSearchTest&)> apply;
  // A second change, made after a search through the index has seen the first.
  std::function<void(IndexSearchTest&)> again = nullptr;
};

void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

class IndexSearchTest : public TreeFixture, public ::testing::WithParamInterface<Change> {
 public:
  fs::path at(const std::string& rel) const { return root_ / rel; }
  void write(const std::string& rel, const std::vector<std::string>& names) { drawing(rel, names); }

 protected:
  // The tree: a.jww and b.jww at the top, sub/c.jww and sub/deep/d.jww below.
  void makeTree() {
    drawing("a.jww", {"AAAA", "Door"});
    drawing("b.jww", {"Window"});
    drawing("sub/c.jww", {"Sink"});
    drawing("sub/deep/d.jww", {"Stair", "@@SFIGORGFLAG"});
    drawings_ = 4;
  }

  std::unique_ptr<IndexDb> open() {
    IndexOptions o;
    // The tree was made just now; the searches run as if a while later, so
    // that their records are trusted.
    o.clock = [] { return Now() + 10 * kSecond; };
    return IndexDb::Open((root_.parent_path() / (root_.filename().string() + ".sqlite")).string(), o);
  }

  std::vector<SearchEntry> entries() const { return {{rootText(), true, true}}; }

  Counted plain() {
    Counted r;
    SearchOptions o;
    o.jobs = 2;
    SearchEntries(entries(), o, r);
    return r;
  }

  Counted indexed(IndexDb& db) {
    IndexCache cache(db);
    Counted r;
    SearchOptions o;
    o.jobs = 2;
    o.cache = &cache;
    SearchEntries(entries(), o, r);
    return r;
  }

  Counted indexOnly(IndexDb& db) {
    Counted r;
    SearchIndexOnly(db, entries(), SearchOptions{}, u"", r);
    return r;
  }

  void TearDown() override {
    fs::remove(root_.string() + ".sqlite");
    fs::remove(root_.string() + ".sqlite-wal");
    fs::remove(root_.string() + ".sqlite-shm");
    TreeFixture::TearDown();
  }

  int drawings_ = 0;
};

void SetMtime(const std::string& path, int64_t ns) {
  timespec times[2] = {{ns / kSecond, ns % kSecond}, {ns / kSecond, ns % kSecond}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

int64_t Mtime(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return int64_t(st.st_mtim.tv_sec) * kSecond + st.st_mtim.tv_nsec;
}

TEST_P(IndexSearchTest, AfterTheChangeRowsAreThoseOfAPlainSearch) {
  makeTree();
  auto db = open();
  ASSERT_TRUE(db->usable()) << db->problem();
  Counted first = indexed(*db);
  EXPECT_EQ(plain().events, first.events);
  EXPECT_EQ(0, first.fromCache);
  Counted second = indexed(*db);
  EXPECT_EQ(first.events, second.events);
  EXPECT_EQ(drawings_, second.fromCache) << "nothing changed: nothing read";

  GetParam().apply(*this);

  const Counted expected = plain();
  const Counted after = indexed(*db);
  EXPECT_EQ(expected.events, after.events);
  // Brought up to date, the index alone gives the same rows, and a further
  // search gives them again.
  EXPECT_EQ(expected.blocks(), indexOnly(*db).blocks());
  EXPECT_EQ(expected.events, indexed(*db).events);
  if (GetParam().again) {
    GetParam().again(*this);
    EXPECT_EQ(plain().events, indexed(*db).events) << "after the second change";
  }
  EXPECT_EQ("ok", db->integrityCheck());
}

const Change kChanges[] = {
    {"ContentReplacedWithSizeAndMtimeKept",
     [](IndexSearchTest& t) {
       const std::string a = t.at("a.jww").string();
       const int64_t mtime = Mtime(a);
       t.write("a.jww", {"BBBB", "Gate"});
       SetMtime(a, mtime);
     }},
    {"ReplacedByRename",
     [](IndexSearchTest& t) {
       const int64_t mtime = Mtime(t.at("a.jww").string());
       t.write("new.tmp", {"CCCC", "Door"});
       SetMtime(t.at("new.tmp").string(), mtime);
       fs::rename(t.at("new.tmp"), t.at("a.jww"));
     }},
    {"CutShort", [](IndexSearchTest& t) { fs::resize_file(t.at("sub/c.jww"), fs::file_size(t.at("sub/c.jww")) - 7); }},
    {"Deleted", [](IndexSearchTest& t) { fs::remove(t.at("b.jww")); }},
    {"FolderRenamed", [](IndexSearchTest& t) { fs::rename(t.at("sub"), t.at("bus")); }},
    {"NewFile", [](IndexSearchTest& t) { t.write("sub/deep/e.jww", {"Bath"}); }},
    {"TurnedIntoAFifo",
     [](IndexSearchTest& t) {
       fs::remove(t.at("a.jww"));
       ASSERT_EQ(0, mkfifo(t.at("a.jww").c_str(), 0600));
     }},
    {"TurnedIntoAFolder",
     [](IndexSearchTest& t) {
       fs::remove(t.at("sub/c.jww"));
       fs::create_directory(t.at("sub/c.jww"));
     }},
    {"MtimeInTheFuture",
     [](IndexSearchTest& t) { SetMtime(t.at("b.jww").string(), Now() + 86400 * kSecond); },
     // Read with its future time, then changed with the size and that time kept.
     [](IndexSearchTest& t) {
       const std::string b = t.at("b.jww").string();
       const int64_t mtime = Mtime(b);
       t.write("b.jww", {"Wall  "});
       SetMtime(b, mtime);
     }},
};

INSTANTIATE_TEST_SUITE_P(Changes, IndexSearchTest, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<Change>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick
