#include "search/folder_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "text/file_listing.h"
#include "text/utf.h"

namespace tarnwick {

namespace {

struct SubFolder {
  std::u16string name;
  int64_t mtime = 0;
  std::pair<dev_t, ino_t> id;
};

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

// The folders directly in dir, in name order.  False when cancelled.
bool ReadSubFolders(const std::u16string& dir, std::vector<SubFolder>& out, const std::atomic<bool>* cancel) {
  out.clear();
  const std::string native = NativePath(dir);
  FolderContents contents;
  ListFolder(native, contents);
  for (FolderEntry& e : contents.entries) {
    if (Cancelled(cancel)) return false;
    if (e.kind != EntryKind::kFolder) continue;
    // The date is the folder's own, and its identity tells a folder reached
    // again through a link.
    struct stat st {};
    if (stat((native + e.native).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    out.push_back({std::move(e.name), static_cast<int64_t>(st.st_mtim.tv_sec), {st.st_dev, st.st_ino}});
  }
  return !Cancelled(cancel);
}

}  // namespace

void ClearFolderTree(FolderTree& tree) {
  std::vector<TFolderTreeFormat>().swap(tree.sFTree);
  tree.nFTree = 0;
}

int32_t GetFolderTree(const std::u16string& d, FolderTree& tree, const std::atomic<bool>* cancel) {
  ClearFolderTree(tree);
  std::set<std::pair<dev_t, ino_t>> entered;
  struct stat root {};
  if (stat(NativePath(d).c_str(), &root) == 0) entered.insert({root.st_dev, root.st_ino});

  std::vector<SubFolder> found;
  auto append = [&](const std::u16string& parent, int32_t pidx, int32_t level) {
    for (SubFolder& f : found) {
      // A folder already entered (reached again through a link) is not
      // listed again.
      if (!entered.insert(f.id).second) continue;
      TFolderTreeFormat e;
      e.FullName = parent + f.name;
      e.FName = std::move(f.name);
      e.PName = parent;
      e.Pidx = pidx;
      e.Level = level;
      FormatWriteTime(f.mtime, e._Date, e._Time);
      tree.sFTree.push_back(std::move(e));
      ++tree.nFTree;
    }
  };

  if (!ReadSubFolders(d, found, cancel)) return -1;
  append(d, -1, 0);
  // The list is its own queue of folders still to visit.
  for (int32_t i = 0; i < tree.nFTree; ++i) {
    if (Cancelled(cancel)) return -1;
    const std::u16string p = tree.sFTree[static_cast<size_t>(i)].FullName + u"/";
    const int32_t level = tree.sFTree[static_cast<size_t>(i)].Level;
    if (!ReadSubFolders(p, found, cancel)) return -1;
    append(p, i, level + 1);
  }
  return tree.nFTree;
}

}  // namespace tarnwick
