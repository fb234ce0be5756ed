// Listing the files of one folder that match a wildcard pattern.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

namespace tarnwick {

struct TFileField {
  std::u16string name;  // the entry's own name
  int32_t size = 0;     // low 32 bits of the size in bytes
  std::u16string date;  // last write, local time, "yyyy/mm/dd"
  std::u16string time;  // last write, local time, "hh:nn:ss"
  bool dirf = false;    // always false here
};

struct FileListing {
  std::vector<TFileField> sFileList;
  int32_t nFileList = 0;
  int error = 0;  // the errno when the folder could not be listed, else 0
};

// One entry of a folder, as one listing gives it.
enum class EntryKind : uint8_t {
  kFile,    // a regular file (by the entry type, or a link to one)
  kFolder,  // a folder, or a link to one
  kOther,   // a FIFO, device or socket, or a link to one
  kBroken,  // a link that dangles or loops, or an entry gone meanwhile
};

struct FolderEntry {
  std::string native;   // the name as the file system holds it
  std::u16string name;  // the same name as text (PathText)
  EntryKind kind = EntryKind::kFile;
  int error = 0;        // kBroken: the errno of following it
};

struct FolderContents {
  int error = 0;        // the errno when the folder could not be listed, else 0
  uint64_t device = 0;  // of the folder listed
  uint64_t inode = 0;
  std::vector<FolderEntry> entries;
};

// Lists a folder (native bytes) with one pass over its entries, "." and ".."
// left out.  The kind comes from the entry type alone wherever that is
// enough; only links and entries of unknown type are looked at (links
// followed).  Entries come in the order of NameOrderLess, so every run over
// the same folder gives the same order.
void ListFolder(const std::string& folder, FolderContents& out);

// Date "yyyy/mm/dd" and time "hh:nn:ss" of a time stamp, in local time.
void FormatWriteTime(int64_t secondsSinceEpoch, std::u16string& date, std::u16string& time);

// The order in which listings deliver names: letter case ignored (upper case
// compared code unit by code unit), then the names themselves.
bool NameOrderLess(const std::u16string& a, const std::u16string& b);

// True when name matches pattern ("*" any run, "?" one character), letter
// case ignored.
bool WildcardMatch(const std::u16string& pattern, const std::u16string& name);

// Replaces the listing with the regular files of folder whose names match
// pattern.  folder is the prefix of every path and must end with a
// separator.  Entries come sorted by name with letter case ignored.
void ListFiles(const std::u16string& folder, const std::u16string& pattern, FileListing& listing);
void ClearFileList(FileListing& listing);

// The program's one shared listing and the routines that work on it.
FileListing& SharedFileListing();
void ListFiles(const std::u16string& folder, const std::u16string& pattern);
void ClearFileList();

}  // namespace tarnwick
