// The index database on its own: what it keeps, what it trusts, what it
// drops, and how it stands up to files it cannot use.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "index/index_cache.h"
#include "index/index_db.h"
#include "index/index_search.h"
#include "support/tree_fixture.h"
#include "text/text_utils.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using namespace tarnwick::testing;

constexpr int64_t kSecond = 1'000'000'000;
// Times of the files: long before the clock of the tests.
constexpr int64_t kOld = 1'600'000'000 * kSecond;

// A listing by a walk that went below the folder.
void Listed(SearchCache& cache, const std::string& folder, const std::vector<std::string>& drawings,
            const std::vector<std::string>& subfolders) {
  cache.folderListed(folder, drawings, &subfolders);
}

class IndexDbTest : public TreeFixture {
 protected:
  std::string dbPath() const { return (root_ / "index.sqlite").string(); }

  IndexOptions options(std::vector<std::string>* reports = nullptr) {
    IndexOptions o;
    o.clock = [this] { return clock_.load(); };
    if (reports) o.report = [reports](const std::string& m) { reports->push_back(m); };
    return o;
  }

  std::unique_ptr<IndexDb> open(std::vector<std::string>* reports = nullptr) {
    return IndexDb::Open(dbPath(), options(reports));
  }

  static FileStamp stamp(uint64_t inode, int64_t mtime = kOld) { return FileStamp{7, inode, 100, mtime, mtime}; }

  static DrawingRecord record(std::vector<std::u16string> names, FileOutcome o = FileOutcome::kRead, int32_t cut = -1) {
    DrawingRecord r;
    r.outcome = o;
    r.names = std::move(names);
    r.cutName = cut;
    return r;
  }

  void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::atomic<int64_t> clock_{kOld + 1000 * kSecond};
};

TEST_F(IndexDbTest, RecordComesBackOnlyForTheSameStamp) {
  const std::u16string lone = u"\xD800x";
  {
    auto db = open();
    ASSERT_TRUE(db->usable()) << db->problem();
    IndexCache cache(*db);
    cache.record("/d/a.jww", stamp(1), record({u"壁", lone, u"X@@SFIGORGFLAG1"}, FileOutcome::kDamaged, 2));
    cache.finish();
  }
  auto db = open();
  IndexCache cache(*db);
  std::optional<DrawingRecord> hit = cache.lookup("/d/a.jww", stamp(1));
  ASSERT_TRUE(hit);
  EXPECT_EQ(FileOutcome::kDamaged, hit->outcome);
  EXPECT_EQ((std::vector<std::u16string>{u"壁", lone, u"X@@SFIGORGFLAG1"}), hit->names);
  EXPECT_EQ(2, hit->cutName);

  struct Change {
    const char* what;
    void (*apply)(FileStamp&);
  };
  const Change changes[] = {
      {"device", [](FileStamp& s) { ++s.device; }}, {"inode", [](FileStamp& s) { ++s.inode; }},
      {"size", [](FileStamp& s) { --s.size; }},     {"mtime", [](FileStamp& s) { ++s.mtimeNs; }},
      {"ctime", [](FileStamp& s) { ++s.ctimeNs; }},
  };
  for (const Change& c : changes) {
    FileStamp s = stamp(1);
    c.apply(s);
    EXPECT_FALSE(cache.lookup("/d/a.jww", s)) << c.what;
  }
  EXPECT_FALSE(cache.lookup("/d/b.jww", stamp(1)));
  EXPECT_FALSE(cache.lookup("/d/", stamp(1)));
  EXPECT_EQ(1, cache.hits());
}

TEST_F(IndexDbTest, RecordOfAFileChangedJustBeforeTheSearchIsNotTrusted) {
  const int64_t began = clock_.load();
  struct Case {
    const char* what;
    int64_t mtime, ctime;
    bool trusted;
  };
  const Case cases[] = {
      {"long before", kOld, kOld, true},
      {"mtime within the window", began - kSecond, kOld, false},
      {"ctime within the window", kOld, began - kSecond, false},
      {"just outside the window", began - 2 * kSecond, began - 2 * kSecond, true},
      {"mtime in the future", began + 3600 * kSecond, kOld, false},
  };
  {
    auto db = open();
    IndexCache cache(*db);
    for (uint64_t i = 0; i < std::size(cases); ++i)
      cache.record("/d/" + std::to_string(i) + ".jww", FileStamp{1, i, 1, cases[i].mtime, cases[i].ctime},
                   record({u"B"}));
  }
  clock_ += 3600 * kSecond;
  auto db = open();
  IndexCache cache(*db);
  for (uint64_t i = 0; i < std::size(cases); ++i) {
    auto hit = cache.lookup("/d/" + std::to_string(i) + ".jww", FileStamp{1, i, 1, cases[i].mtime, cases[i].ctime});
    EXPECT_EQ(cases[i].trusted, hit.has_value()) << cases[i].what;
  }
}

TEST_F(IndexDbTest, ListingDropsDrawingsAndFoldersThatAreGone) {
  {
    auto db = open();
    IndexCache cache(*db);
    for (const char* p : {"/r/a.jww", "/r/b.jww", "/r/s/c.jww", "/r/s/t/d.jww", "/r/u/e.jww"})
      cache.record(p, stamp(1), record({u"N"}));
    Listed(cache, "/r/", {"a.jww", "b.jww"}, {"s", "u"});
    Listed(cache, "/r/s/", {"c.jww"}, {"t"});
    Listed(cache, "/r/u/", {"e.jww"}, {});
    Listed(cache, "/r/s/t/", {"d.jww"}, {});
  }
  {
    // b.jww deleted, s renamed to s2.
    auto db = open();
    IndexCache cache(*db);
    Listed(cache, "/r/", {"a.jww"}, {"s2", "u"});
  }
  auto db = open();
  for (const char* gone : {"/r/b.jww", "/r/s/c.jww", "/r/s/t/d.jww"}) EXPECT_FALSE(db->find(gone)) << gone;
  for (const char* kept : {"/r/a.jww", "/r/u/e.jww"}) EXPECT_TRUE(db->find(kept)) << kept;
  EXPECT_FALSE(db->folder("/r/s/"));
  EXPECT_FALSE(db->folder("/r/s/t/"));
  EXPECT_EQ("ok", db->integrityCheck());
}

// Fills an index as a recursive search of /r/ would:
//   /r/: z.jww, a.jww; subfolders B, a (walk order)
//   /r/B/: b.jww; subfolder C      /r/a/: a1.jww      /r/B/C/: c.jww
void FillTree(IndexDb& db) {
  IndexCache cache(db);
  auto rec = [](std::vector<std::u16string> names) {
    DrawingRecord r;
    r.names = std::move(names);
    return r;
  };
  cache.record("/r/a.jww", FileStamp{1, 1, 1, kOld, kOld}, rec({u"Door", u"@@SFIGORGFLAG"}));
  cache.record("/r/z.jww", FileStamp{1, 2, 1, kOld, kOld}, rec({u"Window"}));
  cache.record("/r/B/C/c.jww", FileStamp{1, 3, 1, kOld, kOld}, rec({u"ドア", u"Ｗｉｎ ｄｏｗ"}));
  cache.record("/r/a/a1.jww", FileStamp{1, 4, 1, kOld, kOld}, rec({u"@@SFIGORGFLAG", u"door2"}));
  cache.record("/r/B/b.jww", FileStamp{1, 5, 1, kOld, kOld}, rec({}));
  DrawingRecord bad = rec({u"half"});
  bad.outcome = FileOutcome::kDamaged;
  cache.record("/r/B/x.jww", FileStamp{1, 6, 1, kOld, kOld}, bad);
  Listed(cache, "/r/", {"z.jww", "a.jww"}, {"B", "a"});
  Listed(cache, "/r/B/", {"b.jww", "x.jww"}, {"C"});
  Listed(cache, "/r/a/", {"a1.jww"}, {});
  Listed(cache, "/r/B/C/", {"c.jww"}, {});
  // Recorded, but not in the last listing of its folder.
  cache.record("/r/stale.jww", FileStamp{1, 7, 1, kOld, kOld}, rec({u"Stale"}));
}

TEST_F(IndexDbTest, IndexOnlyGivesRowsInWalkOrder) {
  auto db = open();
  FillTree(*db);
  struct Case {
    const char* what;
    std::vector<SearchEntry> entries;
    std::u16string match;
    int32_t cap;
    std::vector<std::string> events;
  };
  const std::vector<std::string> all = {
      "status folder /r/",
      "status file /r/z.jww", "row z.jww Window", "file /r/z.jww read",
      "status file /r/a.jww", "row a.jww Door", "row a.jww ", "file /r/a.jww read",
      "status file /r/B/b.jww", "file /r/B/b.jww read",
      "status file /r/B/x.jww", "row x.jww half", "file /r/B/x.jww damaged: read stopped part-way",
      "status file /r/a/a1.jww", "row a1.jww @@SFIGORGFLAG", "row a1.jww door2", "file /r/a/a1.jww read",
      "status file /r/B/C/c.jww", "row c.jww ドア", "row c.jww Ｗｉｎ ｄｏｗ", "file /r/B/C/c.jww read",
      "status none"};
  const std::vector<Case> cases = {
      {"recursive", {{u"/r", false, true}}, u"", 0, all},
      {"one folder",
       {{u"/r/B/", false, false}},
       u"",
       0,
       {"status folder /r/B/", "status file /r/B/b.jww", "file /r/B/b.jww read",
        "status file /r/B/x.jww", "row x.jww half", "file /r/B/x.jww damaged: read stopped part-way", "status none"}},
      {"match by trigram",
       {{u"/r/", false, true}},
       u"window",
       0,
       {"status folder /r/", "status file /r/z.jww", "row z.jww Window", "file /r/z.jww read",
        "status file /r/B/x.jww", "file /r/B/x.jww damaged: read stopped part-way", "status file /r/B/C/c.jww",
        "row c.jww Ｗｉｎ ｄｏｗ", "file /r/B/C/c.jww read", "status none"}},
      {"short match",
       {{u"/r/a/", false, false}},
       u"R2",
       0,
       {"status folder /r/a/", "status file /r/a/a1.jww", "row a1.jww door2",
        "file /r/a/a1.jww read", "status none"}},
      {"files and misses",
       {{u"/r/B/C/c.jww", false, false}, {u"/r/none.jww", false, false}, {u"/r/x.txt", false, false},
        {u"/q/", false, false}},
       u"ドア",
       0,
       {"status file /r/B/C/c.jww", "row c.jww ドア", "file /r/B/C/c.jww read",
        "status file /r/none.jww", "file /r/none.jww no such file", "file /r/x.txt not a .jww or .jws file",
        "file /q/ no such folder", "status none"}},
      {"cap",
       {{u"/r/", false, true}},
       u"",
       2,
       {"status folder /r/", "status file /r/z.jww", "row z.jww Window", "file /r/z.jww read",
        "status file /r/a.jww", "row a.jww Door", "file /r/a.jww read", "status none"}},
  };
  for (const Case& c : cases) {
    SearchOptions o;
    o.rowCap = c.cap;
    const std::u16string key = StrNormalizeKey(c.match);
    if (!c.match.empty())
      o.keep = [key](const std::u16string& block) { return StrIndexOf(key, StrNormalizeKey(block)) >= 0; };
    Recorder r;
    SearchResult result = SearchIndexOnly(*db, c.entries, o, key, r);
    EXPECT_EQ(c.events, r.events) << c.what;
    EXPECT_EQ(c.cap > 0, result.capReached) << c.what;
    EXPECT_EQ(0, result.filesRead) << c.what;
  }
}

TEST_F(IndexDbTest, NewFileIsTheUsersAloneAndKeepsItsRightsWhenReplaced) {
  umask(0);
  {
    auto db = open();
    ASSERT_TRUE(db->usable());
  }
  umask(022);
  struct stat st {};
  ASSERT_EQ(0, stat(dbPath().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (stat((dbPath() + suffix).c_str(), &st) == 0) {
      EXPECT_EQ(0600u, st.st_mode & 0777) << suffix;
    }
  }
}

// Files an index cannot use: reported once, the file left as it is unless it
// is the program's own cache, never an answer from it.
TEST_F(IndexDbTest, UnusableFilesAreReportedOnceAndLeftOrReplaced) {
  std::string random(64 * 1024, '\0');
  for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
  auto sqliteFile = [&](const char* sql) {
    fs::remove(dbPath());
    sqlite3* s = nullptr;
    sqlite3_open(dbPath().c_str(), &s);
    sqlite3_exec(s, sql, nullptr, nullptr, nullptr);
    sqlite3_close(s);
  };
  struct Case {
    const char* what;
    std::function<void()> make;
    bool replaced;  // replaced when it is the program's own
  };
  const std::vector<Case> cases = {
      {"random bytes", [&] { writeBytes(dbPath(), random); }, true},
      {"another program's database", [&] { sqliteFile("CREATE TABLE mine(x); INSERT INTO mine VALUES (1);"); }, true},
      {"a newer schema",
       [&] {
         {
           auto db = open();
           IndexCache cache(*db);
           cache.record("/d/a.jww", stamp(1), record({u"old"}));
         }
         sqlite3* s = nullptr;
         sqlite3_open(dbPath().c_str(), &s);
         sqlite3_exec(s, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
         sqlite3_close(s);
       },
       false},
      {"an older schema",
       [&] { sqliteFile("PRAGMA application_id=1415007049; PRAGMA user_version=0; CREATE TABLE drawing(x);"); },
       true},
  };
  for (const Case& c : cases) {
    for (bool own : {false, true}) {
      fs::remove(dbPath() + "-wal");
      fs::remove(dbPath() + "-shm");
      c.make();
      const auto before = fs::file_size(dbPath());
      std::vector<std::string> reports;
      IndexOptions o = options(&reports);
      o.replaceUnusable = own;
      auto db = IndexDb::Open(dbPath(), o);
      const bool older = std::string(c.what) == "an older schema";
      const bool expectUsable = c.replaced && (own || older);
      EXPECT_EQ(expectUsable, db->usable()) << c.what << " own=" << own;
      EXPECT_EQ(1u, reports.size()) << c.what << " own=" << own;
      IndexCache cache(*db);
      EXPECT_FALSE(cache.lookup("/d/a.jww", stamp(1))) << c.what;
      cache.record("/d/b.jww", stamp(2), record({u"new"}));
      cache.finish();
      if (!expectUsable) {
        EXPECT_EQ(before, fs::file_size(dbPath())) << c.what << ": left as it was";
      } else {
        EXPECT_EQ("ok", db->integrityCheck()) << c.what;
        EXPECT_TRUE(db->find("/d/b.jww")) << c.what;
      }
    }
  }
}

// Damage inside an index of ours (its header whole): told once, no answer
// from it, and the next search starts a new index.
TEST_F(IndexDbTest, DamagedIndexIsToldOnceAndMadeAnew) {
  {
    auto db = open();
    IndexCache cache(*db);
    for (uint64_t i = 0; i < 200; ++i)
      cache.record("/d/" + std::to_string(i) + ".jww", stamp(i), record({u"name", u"other"}));
  }
  {
    std::fstream f(dbPath(), std::ios::in | std::ios::out | std::ios::binary);
    const std::string garbage(4096 * 8, '\x5A');
    f.seekp(4096 * 2);
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  {
    std::vector<std::string> reports;
    auto db = open(&reports);
    IndexCache cache(*db);
    for (uint64_t i = 0; i < 200; ++i) EXPECT_FALSE(cache.lookup("/d/" + std::to_string(i) + ".jww", stamp(i)));
    cache.record("/d/new.jww", stamp(1), record({u"n"}));
    cache.finish();
    EXPECT_EQ(1u, reports.size());
    EXPECT_FALSE(db->usable());
  }
  auto db = open();
  ASSERT_TRUE(db->usable()) << db->problem();
  EXPECT_EQ("ok", db->integrityCheck());
  EXPECT_FALSE(db->find("/d/1.jww"));
}

TEST_F(IndexDbTest, TwoWritersAtOnceBothLand) {
  constexpr int kEach = 300;
  auto writer = [&](int who) {
    auto db = open();
    ASSERT_TRUE(db->usable()) << db->problem();
    for (int batch = 0; batch < 3; ++batch) {
      IndexCache cache(*db);
      for (int i = 0; i < kEach; ++i)
        cache.record("/w" + std::to_string(who) + "/" + std::to_string(i) + ".jww",
                     stamp(static_cast<uint64_t>(i)), record({u"n" + PathText(std::to_string(i)), u"shared"}));
      cache.record("/both.jww", stamp(static_cast<uint64_t>(who)), record({u"both"}));
      Listed(cache, "/w" + std::to_string(who) + "/", {}, {});
    }
    EXPECT_TRUE(db->usable()) << db->problem();
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  auto db = open();
  EXPECT_EQ("ok", db->integrityCheck());
  // The listings came last: they dropped what they did not name.
  EXPECT_FALSE(db->find("/w1/5.jww"));
  auto both = db->find("/both.jww");
  ASSERT_TRUE(both);
  EXPECT_EQ(std::vector<std::u16string>{u"both"}, both->record.names);
}

TEST_F(IndexDbTest, KilledWriterLeavesAUsableIndex) {
  {
    auto db = open();
    IndexCache cache(*db);
    cache.record("/d/kept.jww", stamp(1), record({u"kept"}));
  }
  for (int round = 0; round < 3; ++round) {
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto db = open();
      bool told = false;
      for (int batch = 0;; ++batch) {
        IndexCache cache(*db);
        for (int i = 0; i < 2000; ++i)
          cache.record("/k/" + std::to_string(i) + ".jww", stamp(static_cast<uint64_t>(batch)),
                       record({u"a long enough name to make the transaction big", u"another"}));
        cache.finish();
        if (!told) {
          (void)!write(ready[1], "x", 1);
          told = true;
        }
      }
    }
    char c;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    // Somewhere in the middle of a transaction.
    usleep(static_cast<useconds_t>(20000 + round * 17000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    auto db = open();
    ASSERT_TRUE(db->usable()) << db->problem();
    EXPECT_EQ("ok", db->integrityCheck());
    EXPECT_TRUE(db->find("/d/kept.jww"));
    auto k = db->find("/k/7.jww");
    ASSERT_TRUE(k);
    EXPECT_EQ(2u, k->record.names.size());
  }
}

// A search whose reads fill several batches of the writer thread: lookups
// go on while batches are written, a listing handed over after the reads of
// its folder still drops what it no longer names, and every record lands.
TEST_F(IndexDbTest, ReadsOfALongSearchAreWrittenInBatchesWhileItGoesOn) {
  auto name = [](int i, int k) {
    // About 100 kB per record: two dozen of them make more than one batch.
    return PathText(std::to_string(i) + "-" + std::to_string(k) + ":") + std::u16string(25000, static_cast<char16_t>(u'a' + k));
  };
  {
    auto db = open();
    IndexCache cache(*db);
    std::vector<std::string> listed;
    for (int i = 0; i < 24; ++i) {
      const std::string path = "/big/" + std::to_string(i) + ".jww";
      EXPECT_FALSE(cache.lookup(path, stamp(static_cast<uint64_t>(i) + 1)));
      cache.record(path, stamp(static_cast<uint64_t>(i) + 1), record({name(i, 0), name(i, 1)}));
      if (i != 5) listed.push_back(std::to_string(i) + ".jww");
    }
    Listed(cache, "/big/", listed, {});
    cache.finish();
    EXPECT_EQ("ok", db->integrityCheck());
  }
  auto db = open();
  ASSERT_TRUE(db->usable()) << db->problem();
  for (int i = 0; i < 24; ++i) {
    auto d = db->find("/big/" + std::to_string(i) + ".jww");
    if (i == 5) {
      EXPECT_FALSE(d);
      continue;
    }
    ASSERT_TRUE(d) << i;
    EXPECT_EQ((std::vector<std::u16string>{name(i, 0), name(i, 1)}), d->record.names) << i;
  }
  // The key index holds the second name of every drawing still listed.
  const std::u16string key = StrNormalizeKey(u"17-1:bbb");
  SearchOptions o;
  o.keep = [key](const std::u16string& block) { return StrIndexOf(key, StrNormalizeKey(block)) >= 0; };
  Recorder r;
  SearchIndexOnly(*db, {{u"/big/", false, false}}, o, key, r);
  ASSERT_EQ(5u, r.events.size());
  EXPECT_EQ("status file /big/17.jww", r.events[1]);
}

}  // namespace
}  // namespace tarnwick
