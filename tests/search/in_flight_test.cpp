// Many drawings and listings in flight: for every number of decoding threads
// and every I/O depth the search reports exactly what the one-at-a-time
// search reports, also on a slow file server (a hook that delays each open
// and listing by its own amount, so answers come back out of order) and
// when files and folders change under the search.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

// Every event, with the errno of each report.
struct FullRecorder : Recorder {
  void file(const FileReport& f) override {
    events.push_back("file " + ToUtf8(f.path) + " " + FileOutcomeText(f.outcome) + " " + std::to_string(f.error) +
                     " " + std::to_string(f.definitions));
  }
};

// Cancels once the observer has seen n files.
struct CancelAfter : FullRecorder {
  std::atomic<bool>& flag;
  int left;
  CancelAfter(std::atomic<bool>& f, int n) : flag(f), left(n) {}
  void file(const FileReport& f) override {
    FullRecorder::file(f);
    if (--left == 0) flag = true;
  }
};

// A delay of 0 to 300 µs fixed by the path, so that late requests often
// finish before early ones.
void SlowServer(const std::string& path, bool) {
  const size_t h = std::hash<std::string>{}(path);
  std::this_thread::sleep_for(std::chrono::microseconds(h % 300));
}

struct Shape {
  int jobs;
  int depth;
  size_t budget;
};

const Shape kShapes[] = {{1, 8, kDefaultInFlightBytes}, {2, 1, kDefaultInFlightBytes},
                         {2, 32, kDefaultInFlightBytes}, {4, 64, kDefaultInFlightBytes},
                         {3, 16, 1}};  // a budget of one byte: one file's bytes at a time

class InFlight : public TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    for (int f = 0; f < 5; ++f)
      for (int i = 0; i < 9; ++i)
        drawing("r/d" + std::to_string(f) + "/" + (i % 2 ? "s/" : "") + std::to_string(i) + ".jww",
                {"b" + std::to_string(f * 100 + i), "c@@SFIGORGFLAG" + std::to_string(i)}, i % 3 == 0);
    drawing("r/top.jww", {"top"});
    put("r/d2/skip.jwx", {'?'});
    put("r/d1/bad.jws", {'J', 'w', 's'});
    std::filesystem::create_symlink("nowhere.jww", root_ / "r/d3/gone.jww");
    ASSERT_EQ(0, ::mkfifo((root_ / "r/d4/pipe.jww").c_str(), 0600));
    drawing("r/d0/box.jww/inner.jww", {"inside a folder named like a drawing"});
  }
  std::vector<FolderSlot> slots() const {
    std::vector<FolderSlot> s{{true, rootText() + u"r/", true}, {true, rootText() + u"r/d3/", false},
                              {true, rootText() + u"r/none/", true}};
    s.resize(20);
    return s;
  }
  static SearchOptions Options(const Shape& s) {
    SearchOptions o;
    o.jobs = s.jobs;
    o.ioDepth = s.depth;
    o.inFlightBytes = s.budget;
    o.beforeIo = SlowServer;
    return o;
  }
  static std::string Name(const Shape& s) {
    return "-j" + std::to_string(s.jobs) + " depth " + std::to_string(s.depth) + " budget " +
           std::to_string(s.budget);
  }
};

TEST_F(InFlight, EveryShapeReportsWhatTheSequentialSearchReports) {
  FullRecorder reference;
  SearchResult ref = SearchFolders(slots(), Options({1, 1, kDefaultInFlightBytes}), reference);
  ASSERT_GT(reference.events.size(), 100u);
  for (const Shape& s : kShapes) {
    FullRecorder r;
    SearchResult res = SearchFolders(slots(), Options(s), r);
    EXPECT_EQ(reference.events, r.events) << Name(s);
    EXPECT_EQ(ref.filesRead, res.filesRead) << Name(s);
  }
  std::vector<std::u16string> list;
  for (const SearchRow& row : reference.rowsSeen) list.push_back(row.path);
  list.push_back(path("r/missing.jww"));
  list.push_back(path("r/d4/pipe.jww"));
  FullRecorder listReference;
  SearchFileList(list, Options({1, 1, kDefaultInFlightBytes}), listReference);
  for (const Shape& s : kShapes) {
    FullRecorder r;
    SearchFileList(list, Options(s), r);
    EXPECT_EQ(listReference.events, r.events) << "file list " << Name(s);
  }
}

TEST_F(InFlight, CapAndCancelActAtTheSamePlaces) {
  for (int32_t cap : {1, 17, 60}) {
    SearchOptions o = Options({1, 1, kDefaultInFlightBytes});
    o.rowCap = cap;
    FullRecorder reference;
    SearchResult ref = SearchFolders(slots(), o, reference);
    ASSERT_TRUE(ref.capReached);
    for (const Shape& s : kShapes) {
      SearchOptions p = Options(s);
      p.rowCap = cap;
      FullRecorder r;
      SearchResult res = SearchFolders(slots(), p, r);
      EXPECT_EQ(reference.events, r.events) << "cap " << cap << " " << Name(s);
      EXPECT_EQ(ref.filesRead, res.filesRead) << "cap " << cap << " " << Name(s);
    }
  }
  for (int after : {1, 9, 30}) {
    std::atomic<bool> flag{false};
    CancelAfter reference(flag, after);
    SearchOptions o = Options({1, 1, kDefaultInFlightBytes});
    o.cancel = &flag;
    ASSERT_TRUE(SearchFolders(slots(), o, reference).aborted);
    for (const Shape& s : kShapes) {
      std::atomic<bool> f{false};
      CancelAfter r(f, after);
      SearchOptions p = Options(s);
      p.cancel = &f;
      EXPECT_TRUE(SearchFolders(slots(), p, r).aborted);
      EXPECT_EQ(reference.events, r.events) << "cancel after " << after << " " << Name(s);
    }
  }
}

// A server that is slow for some folders only: its answers for r/d1 (the
// listing) and for the drawings of r/d3 wait, all others come at once, as
// from the page cache.  The search fetches on its decoding threads while
// nothing waits, hands the fetching to the I/O threads when something does,
// and takes it back after a long enough calm (the forty drawings of r/many),
// so a search goes back and forth; what it reports stays that of the
// sequential search, cap and cancel included.
void SlowHere(const std::string& path, bool folder) {
  if ((folder && path.ends_with("/r/d1/")) || (!folder && path.find("/r/d3/") != std::string::npos))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

TEST_F(InFlight, ASearchThatMeetsWaitsNowAndThenReportsWhatTheSequentialSearchReports) {
  for (int i = 0; i < 40; ++i) drawing("r/many/m" + std::to_string(100 + i) + ".jww", {"m" + std::to_string(i)});
  const Shape shapes[] = {{1, 32, kDefaultInFlightBytes}, {2, 32, kDefaultInFlightBytes}, {3, 4, 1}};
  auto options = [](const Shape& s) {
    SearchOptions o = Options(s);
    o.beforeIo = SlowHere;
    return o;
  };
  FullRecorder reference;
  SearchFolders(slots(), options({1, 1, kDefaultInFlightBytes}), reference);
  for (const Shape& s : shapes) {
    FullRecorder r;
    SearchFolders(slots(), options(s), r);
    EXPECT_EQ(reference.events, r.events) << Name(s);
  }
  for (int32_t cap : {7, 70}) {
    SearchOptions o = options({1, 1, kDefaultInFlightBytes});
    o.rowCap = cap;
    FullRecorder capped;
    ASSERT_TRUE(SearchFolders(slots(), o, capped).capReached);
    for (const Shape& s : shapes) {
      SearchOptions p = options(s);
      p.rowCap = cap;
      FullRecorder r;
      SearchFolders(slots(), p, r);
      EXPECT_EQ(capped.events, r.events) << "cap " << cap << " " << Name(s);
    }
  }
  std::atomic<bool> flag{false};
  CancelAfter cancelled(flag, 50);
  SearchOptions o = options({1, 1, kDefaultInFlightBytes});
  o.cancel = &flag;
  ASSERT_TRUE(SearchFolders(slots(), o, cancelled).aborted);
  for (const Shape& s : shapes) {
    std::atomic<bool> f{false};
    CancelAfter r(f, 50);
    SearchOptions p = options(s);
    p.cancel = &f;
    EXPECT_TRUE(SearchFolders(slots(), p, r).aborted);
    EXPECT_EQ(cancelled.events, r.events) << "cancel after 50 " << Name(s);
  }
}

TEST_F(InFlight, OddEntriesInsideFoldersAreReportedWithTheirReason) {
  std::filesystem::create_symlink("loop.jww", root_ / "r/d3/loop.jww");
  FullRecorder r;
  SearchFolders(slots(), Options({2, 8, kDefaultInFlightBytes}), r);
  const std::string root = ToUtf8(rootText());
  auto has = [&](const std::string& e) { return std::find(r.events.begin(), r.events.end(), e) != r.events.end(); };
  EXPECT_TRUE(has("file " + root + "r/d3/gone.jww no such file " + std::to_string(ENOENT) + " 0"));
  EXPECT_TRUE(has("file " + root + "r/d3/loop.jww cannot be read " + std::to_string(ELOOP) + " 0"));
  EXPECT_TRUE(has("file " + root + "r/d4/pipe.jww not a regular file 0 0"));
  EXPECT_TRUE(has("file " + root + "r/d0/box.jww not a regular file 0 0"));
  EXPECT_TRUE(has("row inner.jww inside a folder named like a drawing")) << "the folder is still searched";
  EXPECT_TRUE(has("file " + root + "r/none/ no such folder " + std::to_string(ENOENT) + " 0"));
}

// A chain of folders deeper than PATH_MAX, made and removed a level at a time.
class DeepChain {
 public:
  DeepChain(const std::filesystem::path& at, int levels) : at_(at), levels_(levels) {
    int fd = ::open(at.c_str(), O_DIRECTORY | O_RDONLY);
    for (int i = 0; i < levels && fd >= 0; ++i) {
      ::mkdirat(fd, name_.c_str(), 0700);
      const int next = ::openat(fd, name_.c_str(), O_DIRECTORY | O_RDONLY);
      ::close(fd);
      fd = next;
    }
    if (fd >= 0) ::close(fd);
  }
  ~DeepChain() { Remove(::open(at_.c_str(), O_DIRECTORY | O_RDONLY), levels_); }
  const std::string& name() const { return name_; }

 private:
  void Remove(int fd, int left) {
    if (fd < 0) return;
    if (left > 1) Remove(::openat(fd, name_.c_str(), O_DIRECTORY | O_RDONLY), left - 1);
    ::unlinkat(fd, name_.c_str(), AT_REMOVEDIR);
    ::close(fd);
  }
  std::filesystem::path at_;
  int levels_;
  std::string name_ = std::string(200, 'n');
};

TEST_F(InFlight, AFolderBeyondPathMaxIsReportedAndTheRestSearched) {
  folder("deep");
  drawing("deep/z.jww", {"after"});
  DeepChain chain(root_ / "deep", 4096 / 201 + 2);
  for (const Shape& s : {Shape{1, 1, kDefaultInFlightBytes}, Shape{2, 32, kDefaultInFlightBytes}}) {
    FullRecorder r;
    std::vector<FolderSlot> slot{{true, rootText() + u"deep/", true}};
    SearchFolders(slot, Options(s), r);
    EXPECT_EQ((std::vector<std::string>{"after"}), r.blocks());
    int tooLong = 0;
    for (const std::string& e : r.events)
      if (e.find("cannot be listed " + std::to_string(ENAMETOOLONG)) != std::string::npos) ++tooLong;
    EXPECT_EQ(1, tooLong) << Name(s);
  }
}

// Files and folders that vanish or change type between the listing and the
// open: those entries alone are lost, and the search ends.
TEST_F(InFlight, EntriesChangingUnderTheSearchLoseOnlyThemselves) {
  const std::string root = ToUtf8(rootText());
  for (const Shape& s : {Shape{1, 1, kDefaultInFlightBytes}, Shape{2, 1, kDefaultInFlightBytes},
                         Shape{4, 32, kDefaultInFlightBytes}}) {
    TearDown();
    SetUp();
    SearchOptions o = Options(s);
    o.beforeIo = [&](const std::string& p, bool folder) {
      SlowServer(p, folder);
      if (p == root + "r/d1/0.jww") std::filesystem::remove(p);
      if (p == root + "r/d1/2.jww") {
        std::filesystem::remove(p);
        std::filesystem::create_directory(p);
      }
      if (p == root + "r/d1/4.jww") {
        std::filesystem::remove(p);
        ::mkfifo(p.c_str(), 0600);
      }
      if (folder && p == root + "r/d2/") std::filesystem::rename(root_ / "r/d2", root_ / "r/moved");
    };
    FullRecorder r;
    SearchFolders(slots(), o, r);
    auto has = [&](const std::string& e) { return std::find(r.events.begin(), r.events.end(), e) != r.events.end(); };
    EXPECT_TRUE(has("file " + root + "r/d1/0.jww no such file " + std::to_string(ENOENT) + " 0")) << Name(s);
    EXPECT_TRUE(has("file " + root + "r/d1/2.jww not a regular file 0 0")) << Name(s);
    EXPECT_TRUE(has("file " + root + "r/d1/4.jww not a regular file 0 0")) << Name(s);
    EXPECT_TRUE(has("file " + root + "r/d2/ cannot be listed " + std::to_string(ENOENT) + " 0")) << Name(s);
    // Every other drawing gave its rows.  Six drawings of each d folder
    // are JWW (i = 0, 3, 6 are JWS bytes under a .jww name and give none),
    // two rows each: d0, d3, d4 whole, d1 less 2.jww and 4.jww, none of d2;
    // then top.jww and the drawing in box.jww, and the three of d3 again.
    EXPECT_EQ(size_t((6 + 4 + 0 + 6 + 6) * 2 + 1 + 1 + 3 * 2), r.rowsSeen.size()) << Name(s);
  }
}

}  // namespace
}  // namespace tarnwick
