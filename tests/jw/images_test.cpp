// The embedded image table: extraction when asked, and the cleanup of the
// extracted files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "jw/model.h"
#include "read_both.h"
#include "support/drawing_writer.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

using namespace testing;
namespace fs = std::filesystem;

class ImageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnwick_img_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "TEMP");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void touch(const std::string& name) { std::ofstream(dir_ / "TEMP" / name) << "x"; }
  std::u16string folder() const { return PathText((dir_ / "TEMP").string() + "/"); }
  fs::path dir_;
};

Bytes WithImages(std::initializer_list<std::pair<std::string, std::string>> images) {
  Drawing dr;
  Definition def;
  def.name = "d";
  dr.definitions = {def};
  ByteWriter w;
  w.i32(static_cast<int32_t>(images.size()));
  for (const auto& [name, data] : images) w.cstring(name).i32(static_cast<int32_t>(data.size())).bytes(data);
  dr.trailer = w.data();
  return Write(dr);
}

TEST_F(ImageFolder, CleanupRemovesTheTablesFilesAndNothingElse) {
  for (const char* f : {"plan.bmp.gz", "plan.bmp", "photo.jpg", "other.png"}) touch(f);
  TJwwData d;
  d.BindImageFolder = folder();
  d.BindImageExr = true;
  ASSERT_TRUE(ReadJww(WithImages({{"plan.bmp.gz", "gz"}, {"photo.jpg", "jp"}}), d));
  ASSERT_EQ(2, d.BindImageN);
  d.BindImageDeleteGzFile();
  EXPECT_FALSE(fs::exists(dir_ / "TEMP" / "plan.bmp.gz"));
  EXPECT_TRUE(fs::exists(dir_ / "TEMP" / "plan.bmp"));
  d.BindImageDeleteNonGzFile();
  EXPECT_FALSE(fs::exists(dir_ / "TEMP" / "plan.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "TEMP" / "photo.jpg"));
  EXPECT_TRUE(fs::exists(dir_ / "TEMP" / "other.png"));
}

TEST_F(ImageFolder, UpperCaseGzCountsAsCompressed) {
  touch("PLAN.BMP.GZ");
  TJwwData d;
  d.BindImageFolder = folder();
  d.BindImageExr = true;
  ASSERT_TRUE(ReadJww(WithImages({{"PLAN.BMP.GZ", "z"}}), d));
  d.BindImageDeleteGzFile();
  EXPECT_FALSE(fs::exists(dir_ / "TEMP" / "PLAN.BMP.GZ"));
}

TEST_F(ImageFolder, EmptyTableDoesNothing) {
  touch("keep.jpg");
  TJwwData d;
  d.BindImageFolder = folder();
  d.BindImageDeleteGzFile();
  d.BindImageDeleteNonGzFile();
  EXPECT_TRUE(fs::exists(dir_ / "TEMP" / "keep.jpg"));
}

TEST_F(ImageFolder, ExtractionWritesOnlyIntoTheImageFolder) {
  TJwwData d;
  d.BindImageFolder = folder();
  d.BindImageExp = true;
  ASSERT_TRUE(ReadJww(WithImages({{"a.png", "PNGDATA"}, {"../escape.png", "BAD"}, {"empty.png", ""}}), d));
  EXPECT_EQ(3, d.BindImageN);
  std::ifstream in(dir_ / "TEMP" / "a.png");
  std::string content;
  in >> content;
  EXPECT_EQ("PNGDATA", content);
  EXPECT_FALSE(fs::exists(dir_ / "escape.png")) << "a name from a drawing may not leave the folder";
  EXPECT_FALSE(fs::exists(dir_ / "TEMP" / "empty.png"));
}

TEST_F(ImageFolder, SwitchesOffReadNothingAndWriteNothing) {
  TJwwData d;
  d.BindImageFolder = folder();
  ASSERT_TRUE(ReadJww(WithImages({{"a.png", "PNGDATA"}}), d));
  EXPECT_EQ(0, d.BindImageN);
  EXPECT_TRUE(fs::is_empty(dir_ / "TEMP"));
}

}  // namespace
}  // namespace tarnwick
