// Every folder below a root, breadth first.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "search/folder_tree.h"
#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

using FolderTreeTest = testing::TreeFixture;

TEST_F(FolderTreeTest, LevelByLevelWithParentsAndPaths) {
  folder("A/A1");
  folder("B/B1");
  folder("B/B2");
  folder(".hidden");
  put("file.jww", {'x'});
  FolderTree t;
  ASSERT_EQ(6, GetFolderTree(rootText(), t));
  ASSERT_EQ(6, t.nFTree);
  const char* names[] = {".hidden", "A", "B", "A1", "B1", "B2"};
  const int pidx[] = {-1, -1, -1, 1, 2, 2};
  const int level[] = {0, 0, 0, 1, 1, 1};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(PathText(names[i]), t.sFTree[size_t(i)].FName) << i;
    EXPECT_EQ(pidx[i], t.sFTree[size_t(i)].Pidx) << i;
    EXPECT_EQ(level[i], t.sFTree[size_t(i)].Level) << i;
    EXPECT_EQ(10u, t.sFTree[size_t(i)]._Date.size());
    EXPECT_EQ(8u, t.sFTree[size_t(i)]._Time.size());
  }
  EXPECT_EQ(rootText(), t.sFTree[1].PName);
  EXPECT_EQ(rootText() + u"A", t.sFTree[1].FullName);
  EXPECT_EQ(rootText() + u"A/", t.sFTree[3].PName);
  EXPECT_EQ(rootText() + u"A/A1", t.sFTree[3].FullName);
}

TEST_F(FolderTreeTest, FilesOnlyOrMissingRootGiveNoEntries) {
  put("a.jww", {'x'});
  FolderTree t;
  EXPECT_EQ(0, GetFolderTree(rootText(), t));
  EXPECT_EQ(0, GetFolderTree(rootText() + u"missing/", t));
}

TEST_F(FolderTreeTest, LinksAreFollowedButNoFolderIsEnteredTwice) {
  folder("real/deep");
  std::filesystem::create_directory_symlink(root_ / "real", root_ / "link");
  std::filesystem::create_directory_symlink(root_, root_ / "real/deep/up");
  FolderTree t;
  int32_t n = GetFolderTree(rootText(), t);
  // "link" comes before "real" in name order and is entered in its place.
  ASSERT_EQ(2, n);
  EXPECT_EQ(u"link", t.sFTree[0].FName);
  EXPECT_EQ(u"deep", t.sFTree[1].FName);
  EXPECT_EQ(rootText() + u"link/deep", t.sFTree[1].FullName);
}

TEST_F(FolderTreeTest, CancelGivesMinusOne) {
  folder("A");
  std::atomic<bool> cancel{true};
  FolderTree t;
  EXPECT_EQ(-1, GetFolderTree(rootText(), t, &cancel));
}

}  // namespace
}  // namespace tarnwick
