#include "text/path_utils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "temp_folder.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

const std::u16string kNul(1, u'\0');

// A path of exactly bytes bytes: "/" and 200-byte folder names, then a file name.
std::u16string PathOfBytes(size_t bytes) {
  std::u16string p = u"/";
  while (bytes - p.size() > 250) p += std::u16string(200, u'd') + u'/';
  p += std::u16string(bytes - p.size(), u'f');
  return p;
}

struct PathCase {
  std::u16string in;
  std::u16string expected;
};

std::string Show(const std::u16string& s) { return ToUtf8(s).substr(0, 80); }

TEST(PathDelimChar, IsTheSlash) { EXPECT_EQ(u'/', PathDelimChar()); }

class IncludeTrailingDelimTable : public testing::TestWithParam<PathCase> {};
TEST_P(IncludeTrailingDelimTable, EndsWithOneSeparator) {
  EXPECT_EQ(GetParam().expected, IncludeTrailingDelim(GetParam().in)) << Show(GetParam().in);
}
INSTANTIATE_TEST_SUITE_P(Cases, IncludeTrailingDelimTable,
                         testing::Values(PathCase{u"/a", u"/a/"}, PathCase{u"/a/", u"/a/"}, PathCase{u"", u"/"},
                                         PathCase{u"C:\\a", u"C:\\a/"}, PathCase{u"C:\\a\\", u"C:\\a\\/"}));

class FolderOfPathTable : public testing::TestWithParam<PathCase> {};
TEST_P(FolderOfPathTable, GivesTheFolderWithItsSeparator) {
  EXPECT_EQ(GetParam().expected, FolderOfPath(GetParam().in)) << Show(GetParam().in);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, FolderOfPathTable,
    testing::Values(PathCase{u"/data/x.jww", u"/data/"}, PathCase{u"/x.jww", u"/"}, PathCase{u"x.jww", u"/"},
                    PathCase{u"   ", u""}, PathCase{u"", u""}, PathCase{u"\u3000\t", u""},
                    PathCase{u"  /data/x.jww  ", u"/data/"}, PathCase{u"/data/", u"/data/"},
                    PathCase{u"/", u"/"}, PathCase{u"a/b/c", u"a/b/"}, PathCase{u"/a//x", u"/a/"},
                    PathCase{u"C:\\data\\x.jww", u"/"}, PathCase{u"/d/C:x", u"/d/"},
                    PathCase{u"/d/*.jww", u"/d/"}, PathCase{u"/d/x" + kNul, u""},
                    PathCase{u"/d/" + std::u16string(256, u'n') + u"/x", u""},
                    PathCase{u"/d/" + std::u16string(255, u'n') + u"/x", u"/d/" + std::u16string(255, u'n') + u"/"},
                    PathCase{PathOfBytes(4096), u""}));

TEST(FolderOfPath, AcceptsPathsJustBelowTheLengthLimit) {
  const std::u16string p = PathOfBytes(4095);
  ASSERT_EQ(4095u, NativePath(p).size());
  EXPECT_EQ(p.substr(0, p.rfind(u'/') + 1), FolderOfPath(p));
}

class FileNameOfPathTable : public testing::TestWithParam<PathCase> {};
TEST_P(FileNameOfPathTable, GivesWhatFollowsTheLastSeparator) {
  EXPECT_EQ(GetParam().expected, FileNameOfPath(GetParam().in)) << Show(GetParam().in);
}
INSTANTIATE_TEST_SUITE_P(Cases, FileNameOfPathTable,
                         testing::Values(PathCase{u"/data/x.jww", u"x.jww"}, PathCase{u"/data/", u""},
                                         PathCase{u"x.jww", u"x.jww"}, PathCase{u"  ", u""}, PathCase{u"", u""},
                                         PathCase{u"/d/C:\\x.jww", u"C:\\x.jww"}, PathCase{u"/d/x" + kNul, u""}));

class FileExtLowerTable : public testing::TestWithParam<PathCase> {};
TEST_P(FileExtLowerTable, GivesTheLowerCasedExtension) {
  EXPECT_EQ(GetParam().expected, FileExtLower(GetParam().in)) << Show(GetParam().in);
}
INSTANTIATE_TEST_SUITE_P(Cases, FileExtLowerTable,
                         testing::Values(PathCase{u"/Data/X.JWW", u".jww"}, PathCase{u"/a.b/c", u""},
                                         PathCase{u"", u""}, PathCase{u"x.", u"."}, PathCase{u"/d/.JWS", u".jws"},
                                         PathCase{u"a.tar.GZ", u".gz"}, PathCase{u"/d/a.b\\c", u".b\\c"},
                                         PathCase{u"/d/a.B:c", u".b:c"}, PathCase{u"/d/Ｘ.ＪＷＷ", u".ｊｗｗ"}));

TEST(FileExtLower, RejectsAPathHoldingNul) {
  EXPECT_THROW(FileExtLower(u"/d/x" + kNul + u".jww"), std::invalid_argument);
}

// The drawing test of the search and the file list: ASCII letter case only,
// never a throw, whatever the locale.
TEST(DrawingKindOf, ByExtensionWithoutLocaleOrThrow) {
  const struct {
    std::u16string path;
    DrawingKind kind;
  } cases[] = {
      {u"/d/a.jww", DrawingKind::kJww},     {u"/d/A.JWW", DrawingKind::kJww},  {u"b.JwS", DrawingKind::kJws},
      {u"/d/.jws", DrawingKind::kJws},      {u"/d/a.jwk", DrawingKind::kNone}, {u"/d/a.jw", DrawingKind::kNone},
      {u"/d/a.jwww", DrawingKind::kNone},   {u"/d/a.jww.bak", DrawingKind::kNone},
      {u"/d.jww/a", DrawingKind::kNone},    {u"/d/a.jww/", DrawingKind::kNone},
      {u"/d/Ｘ.ＪＷＷ", DrawingKind::kNone}, {u"", DrawingKind::kNone},
      {u"jww", DrawingKind::kNone},         {u"/d/x" + kNul + u".jww", DrawingKind::kNone},
      {u"/d/a.j\u0130w", DrawingKind::kNone},
  };
  const std::string before = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "tr_TR.UTF-8", "ja_JP.UTF-8"}) {
    if (!std::setlocale(LC_ALL, locale)) continue;
    for (const auto& c : cases) EXPECT_EQ(c.kind, DrawingKindOf(c.path)) << Show(c.path) << " in " << locale;
  }
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_TRUE(HasExtension(u"/d/Rows.TXT", u".txt"));
  EXPECT_FALSE(HasExtension(u"/d/rows.txt" + kNul, u".txt"));
}

struct ChangeExtCase {
  std::u16string path;
  std::u16string ext;
  std::u16string expected;
};
class ChangeExtTable : public testing::TestWithParam<ChangeExtCase> {};
TEST_P(ChangeExtTable, ReplacesOrAppends) {
  EXPECT_EQ(GetParam().expected, ChangeExt(GetParam().path, GetParam().ext)) << Show(GetParam().path);
}
INSTANTIATE_TEST_SUITE_P(Cases, ChangeExtTable,
                         testing::Values(ChangeExtCase{u"/a/b.jww", u".dat", u"/a/b.dat"},
                                         ChangeExtCase{u"/a/b.jww", u"", u"/a/b"},
                                         ChangeExtCase{u"/a.b/c", u".dat", u"/a.b/c.dat"},
                                         ChangeExtCase{u"/opt/tarnwick", u".dat", u"/opt/tarnwick.dat"},
                                         ChangeExtCase{u"/a/b.c.d", u".e", u"/a/b.c.e"},
                                         ChangeExtCase{u"/a/b\\c.d", u".e", u"/a/b\\c.e"},
                                         ChangeExtCase{u"", u".dat", u""}));

// --- File system -----------------------------------------------------------

class PathFs : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tmp_.ok()); }
  TempFolder tmp_;
};

TEST_F(PathFs, FileExistsOnlyForRegularFilesAfterLinks) {
  tmp_.WriteFile("a.jww");
  tmp_.MakeFolder("dir.jww");
  ASSERT_TRUE(tmp_.MakeFifo("f.jww"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("a.jww"), "link.jww"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("dir.jww"), "dirlink.jww"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("gone.jww"), "dangling.jww"));

  EXPECT_TRUE(FileExistsSafe(tmp_.Text("a.jww")));
  EXPECT_TRUE(FileExistsSafe(tmp_.Text("link.jww")));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("dir.jww")));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("dirlink.jww")));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("f.jww")));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("dangling.jww")));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("missing.jww")));
  EXPECT_FALSE(FileExistsSafe(u""));
  EXPECT_FALSE(FileExistsSafe(tmp_.Text("a.jww") + kNul));
  EXPECT_FALSE(FileExistsSafe(PathOfBytes(5000)));
}

TEST_F(PathFs, FileNamesThatAreNotUtf8AreReached) {
  tmp_.WriteFile("bad\xff\xfe.jww");
  const std::u16string path = tmp_.Text("bad\xff\xfe.jww");
  EXPECT_TRUE(FileExistsSafe(path));
  EXPECT_TRUE(DeleteFileSafe(path));
  EXPECT_FALSE(tmp_.Exists("bad\xff\xfe.jww"));
}

TEST_F(PathFs, CreateFolderMakesEveryMissingLevel) {
  EXPECT_TRUE(CreateFolder(tmp_.Text("one/two/three")));
  struct stat st {};
  ASSERT_EQ(0, stat(tmp_.Native("one/two/three").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(CreateFolder(tmp_.Text("one/two/three/")));  // already there
  EXPECT_TRUE(CreateFolder(tmp_.Text("one/two")));
  EXPECT_FALSE(CreateFolder(u""));
  EXPECT_FALSE(CreateFolder(u"  "));
  EXPECT_FALSE(CreateFolder(tmp_.Text("x") + kNul + u"y"));
  EXPECT_FALSE(CreateFolder(tmp_.Text(std::string(256, 'n'))));
  EXPECT_FALSE(tmp_.Exists(std::string(256, 'n')));
}

TEST_F(PathFs, CreateFolderSaysFalseWhenTheFolderCannotBeMade) {
  tmp_.WriteFile("file");
  EXPECT_FALSE(CreateFolder(tmp_.Text("file")));
  EXPECT_FALSE(CreateFolder(tmp_.Text("file/sub")));
  struct stat st {};
  ASSERT_EQ(0, stat(tmp_.Native("file").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(PathFs, CreateFolderWorksRelativeToTheCurrentFolder) {
  const std::string here = std::filesystem::current_path().string();
  ASSERT_EQ(0, chdir(tmp_.Native().c_str()));
  const bool made = CreateFolder(u"rel/sub");
  ASSERT_EQ(0, chdir(here.c_str()));
  EXPECT_TRUE(made);
  EXPECT_TRUE(tmp_.Exists("rel/sub"));
}

TEST_F(PathFs, DeleteFileRemovesOnlyRegularFiles) {
  tmp_.WriteFile("a.txt");
  tmp_.WriteFile("target.txt");
  tmp_.MakeFolder("dir");
  ASSERT_TRUE(tmp_.MakeFifo("fifo"));
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("target.txt"), "link.txt"));

  EXPECT_FALSE(DeleteFileSafe(tmp_.Text("missing.txt")));
  EXPECT_FALSE(DeleteFileSafe(tmp_.Text("nofolder/missing.txt")));
  EXPECT_FALSE(DeleteFileSafe(tmp_.Text("dir")));
  EXPECT_TRUE(tmp_.Exists("dir"));
  EXPECT_FALSE(DeleteFileSafe(tmp_.Text("fifo")));
  EXPECT_TRUE(tmp_.Exists("fifo"));
  EXPECT_FALSE(DeleteFileSafe(u""));

  EXPECT_TRUE(DeleteFileSafe(tmp_.Text("a.txt")));
  EXPECT_FALSE(tmp_.Exists("a.txt"));
  EXPECT_TRUE(DeleteFileSafe(tmp_.Text("link.txt")));  // the link goes, its target stays
  EXPECT_FALSE(tmp_.Exists("link.txt"));
  EXPECT_TRUE(tmp_.Exists("target.txt"));
}

TEST_F(PathFs, DeleteFileSaysFalseWithoutRights) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  tmp_.MakeFolder("locked");
  tmp_.WriteFile("locked/a.txt");
  ASSERT_EQ(0, chmod(tmp_.Native("locked").c_str(), 0500));
  EXPECT_FALSE(DeleteFileSafe(tmp_.Text("locked/a.txt")));
  EXPECT_FALSE(CreateFolder(tmp_.Text("locked/sub")));
  chmod(tmp_.Native("locked").c_str(), 0700);
  EXPECT_TRUE(tmp_.Exists("locked/a.txt"));
}

TEST_F(PathFs, DeleteFolderRemovesOnlyAnEmptyFolder) {
  tmp_.MakeFolder("full");
  tmp_.WriteFile("full/a.txt");
  tmp_.MakeFolder("empty");
  tmp_.MakeFolder("target");
  tmp_.WriteFile("file");
  ASSERT_TRUE(tmp_.MakeLink(tmp_.Native("target"), "link"));

  EXPECT_FALSE(DeleteFolder(tmp_.Text("full")));
  EXPECT_TRUE(tmp_.Exists("full/a.txt"));
  EXPECT_FALSE(DeleteFolder(tmp_.Text("file")));
  EXPECT_TRUE(tmp_.Exists("file"));
  EXPECT_FALSE(DeleteFolder(tmp_.Text("link")));
  EXPECT_FALSE(DeleteFolder(tmp_.Text("link") + u"/"));
  EXPECT_TRUE(tmp_.Exists("target"));
  EXPECT_FALSE(DeleteFolder(tmp_.Text("missing")));
  EXPECT_FALSE(DeleteFolder(u""));

  EXPECT_TRUE(DeleteFolder(tmp_.Text("empty")));
  EXPECT_FALSE(tmp_.Exists("empty"));
}

}  // namespace
}  // namespace tarnwick
