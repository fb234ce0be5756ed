// Every folder below a root, breadth first.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

struct TFolderTreeFormat {
  std::u16string FName;     // the folder's own name
  std::u16string FullName;  // PName + FName, no trailing separator
  std::u16string PName;     // the folder holding it, with a trailing separator
  int32_t Pidx = -1;        // index of the parent entry; -1 directly below the root
  int32_t Level = 0;        // 0 directly below the root
  std::u16string _Date;     // last write, local time, "yyyy/mm/dd"
  std::u16string _Time;     // last write, local time, "hh:nn:ss"
};

struct FolderTree {
  std::vector<TFolderTreeFormat> sFTree;
  int32_t nFTree = 0;
};

void ClearFolderTree(FolderTree& tree);

// Collects the folders below d (which ends with a separator) into tree, level
// by level; within a level the children of earlier entries come first, each
// group in name order with letter case ignored.  Links to folders are
// followed, but no folder is entered twice (by device and inode), so a link
// back to an ancestor cannot make the walk run away.  cancel is polled before
// every entry and every queued folder.  Returns the number of folders, or -1
// when cancelled.
int32_t GetFolderTree(const std::u16string& d, FolderTree& tree, const std::atomic<bool>* cancel = nullptr);

}  // namespace tarnwick
