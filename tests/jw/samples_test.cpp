// Real drawings: every one is read to its end and lists the names its
// README gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "jw/block_names.h"
#include "jw/file_image.h"
#include "jw/model.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(TARNWICK_SHARED_DIR) / "samples";

struct Expected {
  std::vector<std::u16string> stored;
};

// "## name" starts a drawing; "- stored names: «a» | «b»" lists its names.
std::map<std::string, Expected> ParseReadme() {
  std::map<std::string, Expected> out;
  std::ifstream in(kSamples / "README.md");
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      current = line.substr(3);
      out[current];
    } else if (!current.empty() && line.rfind("- stored names: ", 0) == 0) {
      std::u16string rest = FromUtf8(line.substr(16));
      size_t p = 0;
      while ((p = rest.find(u'\u00AB', p)) != std::u16string::npos) {
        size_t q = rest.find(u'\u00BB', p);
        out[current].stored.push_back(rest.substr(p + 1, q - p - 1));
        p = q;
      }
    }
  }
  return out;
}

TEST(RealDrawings, EveryOneIsReadAndListsItsNames) {
  if (!fs::exists(kSamples / "README.md")) GTEST_SKIP() << "no sample drawings beside this clone";
  auto expected = ParseReadme();
  ASSERT_GE(expected.size(), 15u);
  for (const auto& [name, exp] : expected) {
    SCOPED_TRACE(name);
    std::string path = (kSamples / name).string();
    bool jws = path.ends_with(".jws");
    std::vector<std::u16string> names;
    if (jws) {
      TJwsData d;
      ASSERT_TRUE(d.FileCheck(path));
      EXPECT_TRUE(d.FileIn(path));
      for (int32_t i = 0; i < d.EntBlockDefN; ++i) names.push_back(d.EntBlockDef[size_t(i)].strName);
    } else {
      TJwwData d;
      ASSERT_TRUE(d.FileCheck(path));
      EXPECT_TRUE(d.FileIn(path));
      for (int32_t i = 0; i < d.EntBlockDefN; ++i) names.push_back(d.EntBlockDef[size_t(i)].strName);
    }
    EXPECT_EQ(exp.stored, names);

    FileImage image;
    ASSERT_EQ(LoadStatus::kOk, image.load(path));
    BlockNameList fast;
    ReadBlockNames(image.data(), image.size(), jws ? DrawingFormat::kJws : DrawingFormat::kJww, fast);
    EXPECT_TRUE(fast.ok);
    EXPECT_EQ(exp.stored, fast.names);
  }
}

}  // namespace
}  // namespace tarnwick
