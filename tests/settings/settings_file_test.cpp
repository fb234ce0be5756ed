// The settings file: line for line, and never lost to a failed write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings_file.h"
#include "support/file_size_limit.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

// 73 lines of a file with everything empty, then the list count.
std::string EmptyHead() {
  std::string s;
  for (int i = 0; i < 8; ++i) s += "0\r\n";
  s += "136\r\n261\r\n120\r\n";
  s += "\r\n\r\n";
  for (int i = 0; i < 40; ++i) s += "0\r\n";
  for (int i = 0; i < 20; ++i) s += "\r\n";
  return s;
}

TEST(SettingsText, WrittenFileForNothingHas74LinesEndingInZeroThenThePreviewWidth) {
  SettingsData d;
  std::string text = FormatSettings(d);
  EXPECT_EQ(75, std::count(text.begin(), text.end(), '\n'));
  EXPECT_TRUE(text.ends_with("\r\n0\r\n0\r\n"));
  EXPECT_EQ(EmptyHead().substr(24), text.substr(24, EmptyHead().size() - 24)) << "after the window values";
}

// The index choice: only "off" is written, after the file list, so files
// with the index on are those of before, and files of before read as on.
TEST(SettingsText, IndexOffIsOneLineAfterTheFileList) {
  SettingsData d;
  d.files = {u"/a/b.jww"};
  const std::string on = FormatSettings(d);
  d.useIndex = false;
  const std::string off = FormatSettings(d);
  EXPECT_EQ(on + "0\r\n", off);
  for (const auto& [text, expected] : {std::pair{on, true}, {off, false}, {EmptyHead(), true}}) {
    SettingsData back;
    back.useIndex = !expected;
    ParseSettings(text, back);
    EXPECT_EQ(expected, back.useIndex);
    EXPECT_EQ(text == EmptyHead() ? 0u : 1u, back.files.size());
  }
}

TEST(SettingsText, RoundTripKeepsEveryValue) {
  SettingsData d;
  d.mainWindow = {-5, 10, 627, 480};
  d.resultsWindow = {100, 200, 545, 430};
  d.columnWidths = {140, 300, 90};
  d.jwpath = u"/home/\u8A2D\u8A08/";
  d.TxtFileName = u"/home/\u8A2D\u8A08/\u7D50\u679C.csv";
  d.checks[0] = d.checks[3] = d.checks[39] = true;
  d.edits[0] = u"/data/\u56F3\u9762/";
  d.edits[19] = u"/last/";
  d.files = {u"/a/\u5E73\u9762\u56F3.jww", PathText("/raw/\xff\xfe.jws")};
  d.previewWidth = 310;
  SettingsData back;
  ParseSettings(FormatSettings(d), back);
  EXPECT_EQ(FormatSettings(d), FormatSettings(back));
  EXPECT_EQ(d.files, back.files);
  EXPECT_EQ(d.edits[0], back.edits[0]);
  EXPECT_EQ(-5, back.mainWindow.left);
  EXPECT_EQ(310, back.previewWidth);
  EXPECT_EQ("2F612FE5B9B3E99DA2E59BB32E6A7777", ToUtf8(StrToHexPath(d.files[0]))) << "UTF-8 as hex digits";
}

TEST(SettingsText, ValuesAreTakenLeniently) {
  std::string head = EmptyHead();
  SettingsData d;
  std::string text = Lines({"12", "x", "", "-7", "0", "0", "0", "0", "5", "40", "abc", "", ""});
  text += Lines({"TRUE", "ON", "yes", "\xef\xbc\x91", "1"});  // CheckBox1..5
  ParseSettings(text, d);
  EXPECT_EQ(12, d.mainWindow.left);
  EXPECT_EQ(0, d.mainWindow.top);
  EXPECT_EQ(-7, d.mainWindow.height);
  EXPECT_EQ(32, d.columnWidths[0]) << "at least 32";
  EXPECT_EQ(40, d.columnWidths[1]);
  EXPECT_EQ(32, d.columnWidths[2]);
  EXPECT_TRUE(d.checks[0]);
  EXPECT_TRUE(d.checks[1]);
  EXPECT_FALSE(d.checks[2]);
  EXPECT_FALSE(d.checks[3]) << "the line is read as ASCII, so a full-width digit does not count here";
  EXPECT_TRUE(d.checks[4]);
  EXPECT_FALSE(d.checks[5]) << "past the end: clear";
  EXPECT_TRUE(d.files.empty());
}

TEST(SettingsText, ListCountBeyondTheLinesThatFollow) {
  SettingsData d;
  ParseSettings(EmptyHead() + Lines({"3", "2F612E6A7777", "2F622E6A7777"}), d);
  EXPECT_EQ((std::vector<std::u16string>{u"/a.jww", u"/b.jww"}), d.files);
  SettingsData g;
  ParseSettings(EmptyHead() + Lines({"2", "2F612E6A7777", "", "2F622E6A7777"}), g);
  EXPECT_EQ((std::vector<std::u16string>{u"/a.jww"}), g.files) << "an empty line counts as one of the N";
  SettingsData e;
  ParseSettings(EmptyHead() + Lines({"2147483647", "2F612E6A7777"}), e);
  EXPECT_EQ((std::vector<std::u16string>{u"/a.jww"}), e.files);
  SettingsData f;
  ParseSettings(EmptyHead() + Lines({"-4", "2F612E6A7777"}), f);
  EXPECT_TRUE(f.files.empty());
}

TEST(SettingsText, PreviewWidthFollowsTheFileList) {
  SettingsData d;
  ParseSettings(EmptyHead() + Lines({"1", "2F612E6A7777", "280"}), d);
  EXPECT_EQ((std::vector<std::u16string>{u"/a.jww"}), d.files);
  EXPECT_EQ(280, d.previewWidth);
  SettingsData old;
  ParseSettings(EmptyHead() + Lines({"1", "2F612E6A7777"}), old);
  EXPECT_EQ(0, old.previewWidth) << "a file written before the preview";
  SettingsData bad;
  ParseSettings(EmptyHead() + Lines({"0", "-40"}), bad);
  EXPECT_EQ(0, bad.previewWidth);
}

TEST(SettingsText, HexPathsStopAtABadPair) {
  EXPECT_EQ(u"A", HexPathToStr(u"41ZZ42"));
  EXPECT_EQ(u"", HexPathToStr(u""));
  EXPECT_EQ(u"abc", HexPathToStr(u"616263"));
}

class SettingsOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnwick_settings_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(SettingsOnDisk, MissingFileLeavesTheDefaults) {
  SettingsData d;
  EXPECT_FALSE(LoadSettingFile(PathText((dir_ / "none.dat").string()), d));
  EXPECT_EQ(136, d.columnWidths[0]);
  EXPECT_EQ(261, d.columnWidths[1]);
  EXPECT_EQ(120, d.columnWidths[2]);
}

TEST_F(SettingsOnDisk, SaveAndLoad) {
  SettingsData d;
  d.files = {u"/\u56F3.jww"};
  const std::u16string fn = PathText((dir_ / "tarnwick.dat").string());
  ASSERT_TRUE(SaveSettingFile(fn, d));
  SettingsData back;
  ASSERT_TRUE(LoadSettingFile(fn, back));
  EXPECT_EQ(d.files, back.files);
}

TEST_F(SettingsOnDisk, FailedWriteKeepsTheOldSettings) {
  if (::geteuid() == 0) GTEST_SKIP() << "rights do not stop root";
  const fs::path file = dir_ / "tarnwick.dat";
  std::ofstream(file) << "old";
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  EXPECT_FALSE(SaveSettingFile(PathText(file.string()), SettingsData{}, &error));
  fs::permissions(dir_, fs::perms::owner_all);
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ("old", content);
}

TEST_F(SettingsOnDisk, WriteFailingHalfWayKeepsTheOldSettings) {
  const fs::path file = dir_ / "tarnwick.dat";
  std::ofstream(file) << "old";
  SettingsData d;
  for (int i = 0; i < 200; ++i) d.files.push_back(u"/srv/drawings/" + std::u16string(40, u'x'));
  std::string error;
  bool saved = true;
  {
    testing::FileSizeLimit limit(1024);
    ASSERT_TRUE(limit.active());
    saved = SaveSettingFile(PathText(file.string()), d, &error);
  }
  EXPECT_FALSE(saved);
  EXPECT_FALSE(error.empty());
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ("old", content);
  EXPECT_EQ(1, std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
}

TEST_F(SettingsOnDisk, LocationBesideTheProgramOrInTheUsersConfiguration) {
  const fs::path exe = dir_ / "bin" / "tarnwick";
  fs::create_directories(exe.parent_path());
  EXPECT_EQ(PathText((dir_ / "bin" / "tarnwick.dat").string()), SettingsPathFor(PathText(exe.string())));

  const fs::path ro = dir_ / "ro" / "tarnwick";
  fs::create_directories(ro.parent_path());
  fs::permissions(ro.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() != 0) {
    ::setenv("XDG_CONFIG_HOME", (dir_ / "cfg").c_str(), 1);
    const std::u16string fn = SettingsPathFor(PathText(ro.string()));
    EXPECT_EQ(PathText((dir_ / "cfg" / "tarnwick" / "tarnwick.dat").string()), fn);
    EXPECT_TRUE(SaveSettingFile(fn, SettingsData{})) << "the configuration folder is made when missing";
    ::unsetenv("XDG_CONFIG_HOME");
  }
  fs::permissions(ro.parent_path(), fs::perms::owner_all);
}

}  // namespace
}  // namespace tarnwick
