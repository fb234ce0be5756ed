// The file-list search, the folder search and the mixed search of the
// command line: rows, order, status events, cap and cancel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>

#include "search/engine.h"
#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

using namespace tarnwick::testing;
using ::testing::ElementsAre;

struct CutCase {
  std::u16string stored;
  bool inSubfolder;
  std::u16string shown;
};

class FlagCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(FlagCut, CutsAtTheFirstFlagIgnoringCase) {
  EXPECT_EQ(GetParam().shown, CutAtFlag(GetParam().stored, GetParam().inSubfolder));
}

INSTANTIATE_TEST_SUITE_P(
    Names, FlagCut,
    ::testing::Values(CutCase{u"ABC@@SFIGORGFLAG123", false, u"ABC"}, CutCase{u"abc@@sfigorgflag", false, u"abc"},
                      CutCase{u"X@@SFIGORGFLAG@@SFIGORGFLAG", false, u"X"},
                      CutCase{u"@@SFIGORGFLAG", false, u""}, CutCase{u"@@SFIGORGFLAG", true, u"@@SFIGORGFLAG"},
                      CutCase{u"door@@SfigorgFlag@@4", true, u"door"}, CutCase{u"plain", false, u"plain"},
                      CutCase{u"\uFF41@@SfigorgFlag", false, u"\uFF41"}, CutCase{u"", false, u""}));

TEST(RowFileName, PartAfterTheLastSeparator) {
  EXPECT_EQ(u"x.jww", RowFileName(u"/data/plans/x.jww"));
  EXPECT_EQ(u"a\\b:c.jww", RowFileName(u"/d/a\\b:c.jww")) << "backslash and colon are ordinary characters";
  EXPECT_EQ(u"rel.jws", RowFileName(u"rel.jws"));
}

class FileListSearch : public TreeFixture {};

TEST_F(FileListSearch, EmptyListDoesNothing) {
  Recorder r;
  SearchResult res = SearchFileList({}, SearchOptions{}, r);
  EXPECT_FALSE(res.started);
  EXPECT_TRUE(r.events.empty());
}

TEST_F(FileListSearch, RowsInListOrderWithStatusAndSelection) {
  drawing("b.jww", {"door@@SfigorgFlag@@4", "window"});
  drawing("a.jws", {"car"}, true);
  put("notes.txt", {'x'});
  Recorder r;
  SearchOptions o;
  o.jobs = 1;
  SearchResult res = SearchFileList({path("b.jww"), path("notes.txt"), path("a.jws")}, o, r);
  EXPECT_TRUE(res.started);
  EXPECT_EQ(3, res.rowCount);
  const std::string b = ToUtf8(path("b.jww")), a = ToUtf8(path("a.jws")), n = ToUtf8(path("notes.txt"));
  EXPECT_THAT(r.events,
              ElementsAre("clear", "select 0", "status file " + b, "row b.jww door",
                          "row b.jww window", "file " + b + " read", "unselect 0",
                          "file " + n + " not a .jww or .jws file", "select 2",
                          "status file " + a, "row a.jws car", "file " + a + " read", "unselect 2",
                          "status file page"));
  EXPECT_EQ(path("b.jww"), r.rowsSeen[0].path);
}

TEST_F(FileListSearch, RefusedAndDamagedFilesAndMissingOnes) {
  drawing("good.jww", {"one"});
  Bytes bad = {'J', 'w', 'w', 'D', 'a', 't', 'a', '.', 0xFF, 0xFF, 0, 0};
  put("bad.jww", bad);
  Drawing d;
  for (const char* n : {"kept", "lost"}) {
    Definition def;
    def.name = n;
    def.entities = {Line{}, Line{}};
    d.definitions.push_back(def);
  }
  Bytes cut = Write(d);
  cut.resize(cut.size() - 10);
  put("cut.jww", cut);
  Recorder r;
  SearchResult res = SearchFileList({path("bad.jww"), path("cut.jww"), path("missing.jws"), path("good.jww")},
                                    SearchOptions{}, r);
  EXPECT_EQ((std::vector<std::string>{"kept", "lost", "one"}), r.blocks());
  EXPECT_EQ(4, res.filesRead);
}

TEST_F(FileListSearch, OnlyNonDrawingsStillCountsAsASearch) {
  put("a.txt", {'x'});
  Recorder r;
  SearchResult res = SearchFileList({path("a.txt")}, SearchOptions{}, r);
  EXPECT_TRUE(res.started);
  EXPECT_EQ(0, res.rowCount);
}

TEST_F(FileListSearch, CapStopsAtTheRowThatDoesNotFitAndReadsNoFurtherFile) {
  drawing("a.jww", {"1", "2", "3"});
  drawing("b.jww", {"4", "5", "6"});
  drawing("c.jww", {"7"});
  for (int jobs : {1, 3}) {
    Recorder r;
    SearchOptions o;
    o.rowCap = 4;
    o.jobs = jobs;
    SearchResult res = SearchFileList({path("a.jww"), path("b.jww"), path("c.jww")}, o, r);
    EXPECT_TRUE(res.capReached);
    EXPECT_EQ(4, res.rowCount);
    EXPECT_EQ(2, res.filesRead);
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4"}), r.blocks());
    EXPECT_EQ("select 1", r.events[r.events.size() - 5]) << "the entry holding the cap stays selected";
    EXPECT_NE("unselect 1", r.events[r.events.size() - 2]);
  }
  // Exactly as many rows as the cap: not reached.
  Recorder r;
  SearchOptions o;
  o.rowCap = 7;
  EXPECT_FALSE(SearchFileList({path("a.jww"), path("b.jww"), path("c.jww")}, o, r).capReached);
}

TEST_F(FileListSearch, CancelBeforeTheFirstFileReadsNothing) {
  drawing("a.jww", {"x"});
  std::atomic<bool> cancel{true};
  Recorder r;
  SearchOptions o;
  o.cancel = &cancel;
  SearchResult res = SearchFileList({path("a.jww")}, o, r);
  EXPECT_TRUE(res.aborted);
  EXPECT_EQ(0, res.filesRead);
  EXPECT_THAT(r.events, ElementsAre("clear", "aborted", "status file page"));
}

// Cancels once the observer has seen n files.
struct CancelAfter : Recorder {
  std::atomic<bool>& flag;
  int left;
  CancelAfter(std::atomic<bool>& f, int n) : flag(f), left(n) {}
  void file(const FileReport& f) override {
    Recorder::file(f);
    if (--left == 0) flag = true;
  }
};

TEST_F(FileListSearch, CancelMidwayKeepsAnOrderedPrefix) {
  std::vector<std::u16string> items;
  for (int i = 0; i < 40; ++i) {
    drawing("f" + std::to_string(i) + ".jww", {"n" + std::to_string(i)});
    items.push_back(path("f" + std::to_string(i) + ".jww"));
  }
  for (int jobs : {1, 4}) {
    std::atomic<bool> cancel{false};
    CancelAfter r(cancel, 5);
    SearchOptions o;
    o.jobs = jobs;
    o.cancel = &cancel;
    SearchResult res = SearchFileList(items, o, r);
    EXPECT_TRUE(res.aborted);
    EXPECT_EQ((std::vector<std::string>{"n0", "n1", "n2", "n3", "n4"}), r.blocks()) << jobs << " jobs";
    EXPECT_EQ("aborted", r.events[r.events.size() - 2]);
  }
}

class FolderSearch : public TreeFixture {};

std::vector<FolderSlot> Slots(std::initializer_list<FolderSlot> used) {
  std::vector<FolderSlot> slots(used);
  slots.resize(20);
  return slots;
}

TEST_F(FolderSearch, OwnDrawingsFirstThenSubfoldersLevelByLevel) {
  drawing("top/b.jww", {"top-b"});
  drawing("top/A.jws", {"top-a"}, true);
  drawing("top/s2/x.jww", {"s2"});
  drawing("top/S1/y.jww", {"s1"});
  drawing("top/S1/deep/z.jww", {"deep"});
  drawing("top/s2/deeper/w.jww", {"deeper"});
  put("top/s2/notes.jwk", {'x'});
  drawing("other/o.jww", {"other"});
  Recorder r;
  SearchResult res = SearchFolders(
      Slots({{true, rootText() + u"top/", true}, {false, rootText() + u"other/", false},
             {true, rootText() + u"other", false}}),
      SearchOptions{}, r);
  EXPECT_EQ((std::vector<std::string>{"top-a", "top-b", "s1", "s2", "deep", "deeper", "other"}), r.blocks());
  EXPECT_EQ("status searching", r.events.front());
  EXPECT_EQ("status folder page", r.events.back());
  EXPECT_EQ(ToUtf8(rootText()) + "other/o.jww", ToUtf8(r.rowsSeen.back().path))
      << "a folder typed without its separator gets one";
  EXPECT_FALSE(res.aborted);
}

TEST_F(FolderSearch, FlagAtTheStartStaysWholeOnlyInSubfolders) {
  drawing("f/a.jww", {"@@SFIGORGFLAG"});
  drawing("f/sub/b.jww", {"@@SFIGORGFLAG"});
  Recorder r;
  SearchFolders(Slots({{true, rootText() + u"f/", true}}), SearchOptions{}, r);
  EXPECT_EQ((std::vector<std::string>{"", "@@SFIGORGFLAG"}), r.blocks());
}

TEST_F(FolderSearch, NothingCheckedOrMissingFoldersGiveNoRows) {
  Recorder r;
  SearchResult res = SearchFolders(
      Slots({{false, rootText(), true}, {true, u"", true}, {true, rootText() + u"missing/", false}}),
      SearchOptions{}, r);
  EXPECT_TRUE(res.started);
  EXPECT_EQ(0, res.rowCount);
  EXPECT_THAT(r.events, ElementsAre("status searching",
                                    "file " + ToUtf8(rootText()) + "missing/ no such folder",
                                    "status folder page"));
}

TEST_F(FolderSearch, LinkLoopsFifosAndUnreadableFoldersDoNotStopTheWalk) {
  drawing("t/a.jww", {"a"});
  drawing("t/sub/b.jww", {"b"});
  drawing("t/locked/c.jww", {"hidden"});
  folder("t/sub/inner");
  std::filesystem::create_directory_symlink(root_ / "t", root_ / "t/sub/inner/loop");
  ASSERT_EQ(0, ::mkfifo((root_ / "t/sub/pipe.jww").c_str(), 0600));
  lock("t/locked");
  Recorder r;
  SearchFolders(Slots({{true, rootText() + u"t/", true}}), SearchOptions{}, r);
  std::vector<std::string> expected = {"a", "b"};
  if (::geteuid() == 0) expected = {"a", "hidden", "b"};  // rights do not stop root
  EXPECT_EQ(expected, r.blocks());
}

TEST_F(FolderSearch, CapAndCancelStopTheSlotLoop) {
  drawing("one/a.jww", {"1", "2"});
  drawing("two/b.jww", {"3"});
  SearchOptions o;
  o.rowCap = 2;
  Recorder r;
  SearchResult res =
      SearchFolders(Slots({{true, rootText() + u"one/", false}, {true, rootText() + u"two/", false}}), o, r);
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), r.blocks());
  EXPECT_TRUE(res.capReached) << "the first row of the second slot did not fit";
  EXPECT_EQ(2, res.filesRead);

  std::atomic<bool> cancel{false};
  CancelAfter c(cancel, 1);
  SearchOptions oc;
  oc.cancel = &cancel;
  res = SearchFolders(Slots({{true, rootText() + u"one/", false}, {true, rootText() + u"two/", false}}), oc, c);
  EXPECT_TRUE(res.aborted);
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), c.blocks());
  EXPECT_EQ(1, std::count(c.events.begin(), c.events.end(), "aborted"));
}

TEST_F(FolderSearch, EveryJobCountReportsTheSameEventsInTheSameOrder) {
  for (int f = 0; f < 6; ++f)
    for (int i = 0; i < 12; ++i)
      drawing("r/d" + std::to_string(f) + "/" + std::to_string(i) + ".jww",
              {"b" + std::to_string(f * 100 + i), "c" + std::to_string(i)}, i % 3 == 0);
  drawing("r/top.jww", {"top"});
  put("r/d2/skip.jwx", {'?'});
  std::vector<std::string> reference;
  for (int jobs : {1, 2, 8}) {
    Recorder r;
    SearchOptions o;
    o.jobs = jobs;
    SearchFolders(Slots({{true, rootText() + u"r/", true}, {true, rootText() + u"r/d3/", false}}), o, r);
    if (jobs == 1)
      reference = r.events;
    else
      EXPECT_EQ(reference, r.events) << jobs << " jobs";
  }
  EXPECT_GT(reference.size(), 200u);
}

class MixedSearch : public TreeFixture {};

TEST_F(MixedSearch, FilesAndFoldersInTheOrderGiven) {
  drawing("x.jww", {"x"});
  drawing("dir/y.jww", {"y"});
  drawing("dir/sub/z.jww", {"z"});
  Recorder flat, deep;
  SearchEntries({{path("dir"), true, false}, {path("x.jww"), false, false}}, SearchOptions{}, flat);
  EXPECT_EQ((std::vector<std::string>{"y", "x"}), flat.blocks());
  SearchEntries({{path("dir"), true, true}, {path("x.jww"), false, false}}, SearchOptions{}, deep);
  EXPECT_EQ((std::vector<std::string>{"y", "z", "x"}), deep.blocks());
}

TEST_F(MixedSearch, KeepFilterActsBeforeTheCap) {
  drawing("a.jww", {"door1", "window", "door2", "door3"});
  SearchOptions o;
  o.rowCap = 2;
  o.keep = [](const std::u16string& b) { return b.rfind(u"door", 0) == 0; };
  Recorder r;
  SearchResult res = SearchEntries({{path("a.jww"), false, false}}, o, r);
  EXPECT_EQ((std::vector<std::string>{"door1", "door2"}), r.blocks());
  EXPECT_TRUE(res.capReached);
}

}  // namespace
}  // namespace tarnwick
