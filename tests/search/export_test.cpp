// The bytes of saved result files, and saving without losing the old file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "search/export.h"
#include "support/file_size_limit.h"
#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

std::string Hex(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

struct ExportCase {
  const char* label;
  std::vector<SearchRow> rows;
  ExportFormat format;
  const char* hex;
};

class ExportBytes : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportBytes, Exactly) { EXPECT_EQ(GetParam().hex, Hex(FormatExport(GetParam().rows, GetParam().format))); }

INSTANTIATE_TEST_SUITE_P(
    Examples, ExportBytes,
    ::testing::Values(
        ExportCase{"txt", {{u"A", u"B", u"C"}}, ExportFormat::kTxt, "EF BB BF 41 09 42 09 43 0D 0A"},
        ExportCase{"csv", {{u"A", u"B", u"C"}}, ExportFormat::kCsv,
                   "EF BB BF 22 41 22 2C 22 42 22 2C 22 43 22 0D 0A"},
        ExportCase{"txt_blank_row", {{u"", u"", u""}}, ExportFormat::kTxt, "EF BB BF 09 09 0D 0A"},
        ExportCase{"csv_blank_row", {{u"", u"", u""}}, ExportFormat::kCsv,
                   "EF BB BF 22 22 2C 22 22 2C 22 22 0D 0A"},
        ExportCase{"csv_quote_doubled", {{u"a", u"b", u"x\"y"}}, ExportFormat::kCsv,
                   "EF BB BF 22 61 22 2C 22 62 22 2C 22 78 22 22 79 22 0D 0A"},
        ExportCase{"japanese_utf8", {{u"\u56F3.jww", u"/p", u"\u6249"}}, ExportFormat::kTxt,
                   "EF BB BF E5 9B B3 2E 6A 77 77 09 2F 70 09 E6 89 89 0D 0A"},
        ExportCase{"no_rows", {}, ExportFormat::kCsv, "EF BB BF"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ExportFormatFor, ByExtensionInAnyCase) {
  EXPECT_EQ(ExportFormat::kTxt, ExportFormatFor(u"/a/results.txt"));
  EXPECT_EQ(ExportFormat::kCsv, ExportFormatFor(u"/a/results.CSV"));
  EXPECT_FALSE(ExportFormatFor(u"/a/results.dat"));
  EXPECT_FALSE(ExportFormatFor(u"/a.csv/results"));
}

using SaveFile = testing::TreeFixture;

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(SaveFile, OverALongerFileLeavesNoTraceOfIt) {
  const std::string target = put("out.txt", testing::Bytes(5000, 'z'));
  ASSERT_TRUE(SaveTxtFile(PathText(target), {{u"A", u"B", u"C"}}));
  EXPECT_EQ("\xEF\xBB\xBF" "A\tB\tC\r\n", Slurp(target));
  // No temporary file is left beside it.
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(root_), std::filesystem::directory_iterator()));
}

TEST_F(SaveFile, FailureKeepsTheExistingFileAndSaysWhy) {
  const std::string target = put("ro/old.csv", {'o', 'l', 'd'});
  lock("ro");
  std::filesystem::permissions(root_ / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::geteuid() == 0) GTEST_SKIP() << "rights do not stop root";
  std::string error;
  EXPECT_FALSE(SaveCsvFile(PathText(target), {{u"a", u"b", u"c"}}, &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::permissions(root_ / "ro", std::filesystem::perms::owner_all);
  EXPECT_EQ("old", Slurp(target));
}

// A write that fails half-way (the disk full, say) leaves the old file as
// it was and no temporary file beside it.
TEST_F(SaveFile, WriteFailingHalfWayKeepsTheExistingFileAndLeavesNoTrace) {
  const std::string target = put("old.txt", {'o', 'l', 'd'});
  std::vector<SearchRow> rows(1000, SearchRow{u"a.jww", u"/p/a.jww", u"block"});
  std::string error;
  bool saved = true;
  {
    testing::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.active());
    saved = SaveTxtFile(PathText(target), rows, &error);
  }
  EXPECT_FALSE(saved);
  EXPECT_NE(std::string::npos, error.find("too large")) << error;
  EXPECT_EQ("old", Slurp(target));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(root_), std::filesystem::directory_iterator()));
}

TEST_F(SaveFile, IntoAMissingFolderFailsAndCreatesNothing) {
  std::string error;
  EXPECT_FALSE(SaveTxtFile(rootText() + u"nope/out.txt", {}, &error));
  EXPECT_FALSE(std::filesystem::exists(root_ / "nope"));
}

TEST_F(SaveFile, ThroughALinkReplacesTheFileItPointsTo) {
  const std::string real = put("real.txt", {'o', 'l', 'd'});
  std::filesystem::create_symlink(root_ / "real.txt", root_ / "link.txt");
  ASSERT_TRUE(SaveTxtFile(path("link.txt"), {{u"a", u"b", u"c"}}));
  EXPECT_TRUE(std::filesystem::is_symlink(root_ / "link.txt"));
  EXPECT_EQ("\xEF\xBB\xBF" "a\tb\tc\r\n", Slurp(real));
}


size_t OpenDescriptors() {
  return static_cast<size_t>(
      std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

TEST_F(SaveFile, KeepsNoDescriptorOpenWhetherItFailsOrNot) {
  const std::string target = put("old.txt", {'o', 'l', 'd'});
  const size_t before = OpenDescriptors();
  std::vector<SearchRow> rows(1000, SearchRow{u"a.jww", u"/p/a.jww", u"block"});
  {
    testing::FileSizeLimit limit(4096);
    EXPECT_FALSE(SaveTxtFile(PathText(target), rows));
  }
  EXPECT_TRUE(SaveTxtFile(PathText(target), rows));
  EXPECT_FALSE(SaveTxtFile(rootText() + u"nope/out.txt", rows));
  EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(SaveFile, ThroughARelativeOrDanglingLinkWritesWhereTheLinkPoints) {
  put("real.txt", {'o', 'l', 'd'});
  folder("sub");
  std::filesystem::create_symlink("../real.txt", root_ / "sub/rel.txt");
  std::filesystem::create_symlink("sub/rel.txt", root_ / "chain.txt");
  ASSERT_TRUE(SaveTxtFile(path("chain.txt"), {{u"a", u"b", u"c"}}));
  EXPECT_EQ("\xEF\xBB\xBF" "a\tb\tc\r\n", Slurp(root_ / "real.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(root_ / "chain.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(root_ / "sub/rel.txt"));
  // A link to a name not there yet makes that file, as a shell would.
  std::filesystem::create_symlink("sub/new.csv", root_ / "dangling.csv");
  ASSERT_TRUE(SaveCsvFile(path("dangling.csv"), {}));
  EXPECT_EQ("\xEF\xBB\xBF", Slurp(root_ / "sub/new.csv"));
  // A loop of links is refused.
  std::filesystem::create_symlink("loop2.txt", root_ / "loop1.txt");
  std::filesystem::create_symlink("loop1.txt", root_ / "loop2.txt");
  std::string error;
  EXPECT_FALSE(SaveTxtFile(path("loop1.txt"), {}, &error));
  EXPECT_NE(std::string::npos, error.find("symbolic links")) << error;
}

// Something that is not a regular file gets the bytes written into it, as a
// shell redirection would, and stays what it was.
TEST_F(SaveFile, NonRegularTargetsAreWrittenInPlaceNeverReplaced) {
  struct Target {
    std::string name;
    bool device;
  };
  std::vector<Target> targets = {{"fifo.txt", false}};
  // A device node of our own, the twin of /dev/null: root only.
  if (::mknod((root_ / "null.txt").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) targets.push_back({"null.txt", true});
  for (const Target& t : targets) {
    if (!t.device) {
      ASSERT_EQ(0, ::mkfifo((root_ / t.name).c_str(), 0600));
    }
    const std::string link = "link-" + t.name;
    std::filesystem::create_symlink(t.name, root_ / link);
    for (const std::string& name : {t.name, link}) {
      std::string got;
      std::thread reader;
      if (!t.device) reader = std::thread([&] { got = Slurp(root_ / t.name); });
      std::string error;
      EXPECT_TRUE(SaveTxtFile(path(name), {{u"a", u"b", u"c"}}, &error)) << name << ": " << error;
      if (reader.joinable()) reader.join();
      struct stat st {};
      ASSERT_EQ(0, ::lstat((root_ / t.name).c_str(), &st));
      EXPECT_TRUE(t.device ? S_ISCHR(st.st_mode) : S_ISFIFO(st.st_mode)) << name;
      if (!t.device) {
        EXPECT_EQ("\xEF\xBB\xBF" "a\tb\tc\r\n", got);
      }
    }
  }
  // Nothing else was made beside them.
  EXPECT_EQ(2 * targets.size(),
            size_t(std::distance(std::filesystem::directory_iterator(root_), std::filesystem::directory_iterator())));
  std::string error;
  EXPECT_FALSE(SaveTxtFile(rootText(), {}, &error));
  EXPECT_NE(std::string::npos, error.find("Is a directory")) << error;
}

TEST_F(SaveFile, ReplacedFileKeepsItsModeAndOwner) {
  const std::string target = put("kept.txt", {'o', 'l', 'd'});
  ::chmod(target.c_str(), 0640);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(target.c_str(), 65534, 65534));
  }
  ASSERT_TRUE(SaveTxtFile(PathText(target), {{u"a", u"b", u"c"}}));
  struct stat st {};
  ASSERT_EQ(0, ::stat(target.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  if (root) {
    EXPECT_EQ(65534u, st.st_uid);
    EXPECT_EQ(65534u, st.st_gid);
  }
}

// A file the user may not write is refused, even when the folder would let
// the user replace it.  Root runs the save as another user.
TEST_F(SaveFile, ReadOnlyFileIsRefusedAndKept) {
  const std::string target = put("ro.txt", {'o', 'l', 'd'});
  ::chmod(target.c_str(), 0444);
  ::chmod(root_.c_str(), 0777);
  const std::vector<SearchRow> rows(1, SearchRow{u"a", u"b", u"c"});
  auto attempt = [&](std::string& error) {
    return !CanWriteFile(PathText(target)) && !SaveTxtFile(PathText(target), rows, &error);
  };
  if (::geteuid() == 0) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string error;
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
      _exit(attempt(error) && error == "Permission denied" ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  } else {
    std::string error;
    EXPECT_TRUE(attempt(error));
    EXPECT_EQ("Permission denied", error);
  }
  EXPECT_EQ("old", Slurp(target));
}

// A file with several names keeps them all: it is written in place, its
// room taken before the old bytes go.
TEST_F(SaveFile, HardLinkedFileKeepsEveryName) {
  const std::string target = put("one.txt", testing::Bytes(5000, 'z'));
  std::filesystem::create_hard_link(target, root_ / "two.txt");
  ASSERT_TRUE(SaveTxtFile(PathText(target), {{u"a", u"b", u"c"}}));
  EXPECT_EQ("\xEF\xBB\xBF" "a\tb\tc\r\n", Slurp(root_ / "two.txt"));
  EXPECT_EQ(2u, std::filesystem::hard_link_count(target));
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(root_), std::filesystem::directory_iterator()));
}

TEST(ExportBytes, TabsAndLineBreaksInCellsAreEscapedInText) {
  EXPECT_EQ("\xEF\xBB\xBF" "a\\tb\tp\\nq\tr\\rs\r\n", FormatExport({{u"a\tb", u"p\nq", u"r\rs"}}, ExportFormat::kTxt));
  // CSV keeps them inside the quotes.
  EXPECT_EQ("\xEF\xBB\xBF\"a\tb\",\"p\nq\",\"r\"\r\n", FormatExport({{u"a\tb", u"p\nq", u"r"}}, ExportFormat::kCsv));
}
}  // namespace
}  // namespace tarnwick
