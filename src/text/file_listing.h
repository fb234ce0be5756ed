// Listing the files of one folder that match a wildcard pattern.
#pragma once

#include <cstdint>
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
