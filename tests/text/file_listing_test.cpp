#include "text/file_listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

std::vector<std::u16string> Names(const FileListing& listing) {
  std::vector<std::u16string> out;
  for (const TFileField& f : listing.sFileList) out.push_back(f.name);
  return out;
}

struct MatchCase {
  std::u16string pattern;
  std::u16string name;
  bool expected;
};

class WildcardMatchTable : public testing::TestWithParam<MatchCase> {};

TEST_P(WildcardMatchTable, MatchesWithLetterCaseIgnored) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(c.expected, WildcardMatch(c.pattern, c.name)) << ToUtf8(c.pattern) << " ~ " << ToUtf8(c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WildcardMatchTable,
    testing::Values(MatchCase{u"*.jw*", u"a.jww", true}, MatchCase{u"*.jw*", u"B.JWS", true},
                    MatchCase{u"*.jw*", u"c.jwk", true}, MatchCase{u"*.jw*", u"x.jw", true},
                    MatchCase{u"*.jw*", u"a.b.jww.bak", true}, MatchCase{u"*.jw*", u"d.txt", false},
                    MatchCase{u"*.jw*", u"jww", false}, MatchCase{u"*.jw*", u".jww", true},
                    MatchCase{u"*.jw*", u"図面.ＪＷＷ", false}, MatchCase{u"*.ｊｗ*", u"図面.ＪＷＷ", true},
                    MatchCase{u"?.jww", u"a.jww", true}, MatchCase{u"?.jww", u"ab.jww", false},
                    MatchCase{u"?.jww", u".jww", false}, MatchCase{u"*", u"", true}, MatchCase{u"", u"", true},
                    MatchCase{u"", u"a", false}, MatchCase{u"a*b*c", u"aXbYbZc", true},
                    MatchCase{u"a*b*c", u"aXbYcZ", false}, MatchCase{u"**x", u"abx", true},
                    MatchCase{u"*a*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false}));

class Listing : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tmp_.ok()); }
  TempFolder tmp_;
  FileListing listing_;
};

TEST_F(Listing, TakesOnlyMatchingRegularFiles) {
  tmp_.WriteFile("a.jww");
  tmp_.WriteFile("b.JWS");
  tmp_.WriteFile("c.jwk");
  tmp_.WriteFile("d.txt");
  tmp_.MakeFolder("e.jww");
  ASSERT_TRUE(tmp_.MakeFifo("f.jww"));  // opening it would block the test
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("d.txt"), "g.jww"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("e.jww"), "h.jww"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("gone"), "i.jww"));

  ListFiles(tmp_.Text(), u"*.jw*", listing_);
  EXPECT_EQ((std::vector<std::u16string>{u"a.jww", u"b.JWS", u"c.jwk", u"g.jww"}), Names(listing_));
  EXPECT_EQ(4, listing_.nFileList);
  for (const TFileField& f : listing_.sFileList) EXPECT_FALSE(f.dirf);
}

TEST_F(Listing, SortsByNameWithLetterCaseIgnored) {
  for (const char* name : {"b.jww", "C.jww", "a.jww", "A.jww", "_.jww", "ab.jww", "Z.jww", "\xe5\x9b\xb3.jww"}) {
    tmp_.WriteFile(name);
  }
  ListFiles(tmp_.Text(), u"*", listing_);
  // "_" sorts after the upper-case letters and before the lower-case ones by
  // code, but letters are compared upper-cased, so it comes after them all.
  EXPECT_EQ((std::vector<std::u16string>{u"A.jww", u"a.jww", u"ab.jww", u"b.jww", u"C.jww", u"Z.jww", u"_.jww",
                                         u"図.jww"}),
            Names(listing_));
}

TEST_F(Listing, TwoHundredFiftyFilesFillExactlyTwoHundredFiftyEntries) {
  for (int i = 0; i < 250; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03d.jww", 249 - i);
    tmp_.WriteFile(name);
  }
  ListFiles(tmp_.Text(), u"*.jw*", listing_);
  ASSERT_EQ(250, listing_.nFileList);
  ASSERT_EQ(250u, listing_.sFileList.size());
  EXPECT_EQ(u"f000.jww", listing_.sFileList.front().name);
  EXPECT_EQ(u"f249.jww", listing_.sFileList.back().name);
}

TEST_F(Listing, MissingOrUnreadableFoldersGiveAnEmptyListing) {
  tmp_.WriteFile("a.jww");
  ListFiles(tmp_.Text(), u"*.jww", listing_);
  ASSERT_EQ(1, listing_.nFileList);

  ListFiles(tmp_.Text() + u"missing/", u"*.jww", listing_);
  EXPECT_EQ(0, listing_.nFileList);
  EXPECT_TRUE(listing_.sFileList.empty());

  ListFiles(tmp_.Text("a.jww") + u"/", u"*.jww", listing_);  // a file, not a folder
  EXPECT_EQ(0, listing_.nFileList);

  ListFiles(tmp_.Text(), std::u16string(u"*.jww\0", 6), listing_);
  EXPECT_EQ(0, listing_.nFileList);

  ListFiles(tmp_.Text(), u"", listing_);
  EXPECT_EQ(0, listing_.nFileList);
}

TEST_F(Listing, ASecondCallReplacesTheFirst) {
  tmp_.WriteFile("a.jww");
  tmp_.WriteFile("b.jww");
  tmp_.MakeFolder("sub");
  tmp_.WriteFile("sub/z.jws");
  ListFiles(tmp_.Text(), u"*.jww", listing_);
  ASSERT_EQ(2, listing_.nFileList);
  ListFiles(tmp_.Text() + u"sub/", u"*.jw*", listing_);
  EXPECT_EQ((std::vector<std::u16string>{u"z.jws"}), Names(listing_));
  EXPECT_EQ(1, listing_.nFileList);
  ClearFileList(listing_);
  EXPECT_EQ(0, listing_.nFileList);
  EXPECT_TRUE(listing_.sFileList.empty());
}

TEST_F(Listing, NamesThatAreNotUtf8ComeBackAsUsablePaths) {
  tmp_.WriteFile("bad\xff.jww");
  ListFiles(tmp_.Text(), u"*.jww", listing_);
  ASSERT_EQ(1, listing_.nFileList);
  EXPECT_TRUE(FileExistsSafe(tmp_.Text() + listing_.sFileList[0].name));
  EXPECT_EQ("bad\xff.jww", NativePath(listing_.sFileList[0].name));
}

TEST_F(Listing, SizeIsTheLowThirtyTwoBitsAndTimesAreLocal) {
  tmp_.WriteFile("small.jww", "12345");
  const int fd = open(tmp_.Native("huge.jww").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_LE(0, fd);
  const bool sparse = ftruncate(fd, 5000000000LL) == 0;
  close(fd);
  if (!sparse) unlink(tmp_.Native("huge.jww").c_str());
  // 2021-03-04 05:06:07 UTC.
  const timespec times[2] = {{1614834367, 0}, {1614834367, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, tmp_.Native("small.jww").c_str(), times, 0));

  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  ListFiles(tmp_.Text(), u"*.jww", listing_);
  const FileListing utc = listing_;
  setenv("TZ", "JST-9", 1);
  tzset();
  ListFiles(tmp_.Text(), u"*.jww", listing_);
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  ASSERT_LE(1, utc.nFileList);
  const TFileField& small = utc.sFileList.back();
  ASSERT_EQ(u"small.jww", small.name);
  EXPECT_EQ(5, small.size);
  EXPECT_EQ(u"2021/03/04", small.date);
  EXPECT_EQ(u"05:06:07", small.time);
  EXPECT_EQ(u"2021/03/04", listing_.sFileList.back().date);
  EXPECT_EQ(u"14:06:07", listing_.sFileList.back().time);
  if (!sparse) GTEST_SKIP() << "this file system holds no 5 GB sparse file";
  ASSERT_EQ(2, utc.nFileList);
  EXPECT_EQ(u"huge.jww", utc.sFileList[0].name);
  EXPECT_EQ(705032704, utc.sFileList[0].size);
}

TEST_F(Listing, UnreadableFolderGivesAnEmptyListing) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  tmp_.MakeFolder("locked");
  tmp_.WriteFile("locked/a.jww");
  ASSERT_EQ(0, chmod(tmp_.Native("locked").c_str(), 0));
  ListFiles(tmp_.Text() + u"locked/", u"*.jww", listing_);
  chmod(tmp_.Native("locked").c_str(), 0700);
  EXPECT_EQ(0, listing_.nFileList);
}

TEST(SharedListing, IsOneListingForTheWholeProgram) {
  TempFolder tmp;
  ASSERT_TRUE(tmp.ok());
  tmp.WriteFile("a.jww");
  tmp.WriteFile("b.jws");
  ListFiles(tmp.Text(), u"*.jw*");
  EXPECT_EQ(2, SharedFileListing().nFileList);
  EXPECT_EQ(u"b.jws", SharedFileListing().sFileList[1].name);
  ClearFileList();
  EXPECT_EQ(0, SharedFileListing().nFileList);
  EXPECT_TRUE(SharedFileListing().sFileList.empty());
}

}  // namespace
}  // namespace tarnwick
