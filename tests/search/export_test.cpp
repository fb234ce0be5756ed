// The bytes of saved result files, and saving without losing the old file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

}  // namespace
}  // namespace tarnwick
