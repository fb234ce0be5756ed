#include "text/file_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string_view>

#include <unicode/uchar.h>

#include "text/utf.h"

namespace tarnwick {

namespace {

char16_t Fold(char16_t c) { return static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT)); }

char16_t UpperUnit(char16_t c) { return static_cast<char16_t>(u_toupper(c)); }

std::u16string Ascii(const char* s) {
  const std::string_view v(s);
  return std::u16string(v.begin(), v.end());
}

// Fills date and time of field from a last-write time, in local time.
void SetWriteTime(TFileField& field, time_t when) { FormatWriteTime(when, field.date, field.time); }

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

void FormatWriteTime(int64_t secondsSinceEpoch, std::u16string& date, std::u16string& time) {
  const time_t when = static_cast<time_t>(secondsSinceEpoch);
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  date = Ascii(buf);
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  time = Ascii(buf);
}

bool NameOrderLess(const std::u16string& a, const std::u16string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = UpperUnit(a[i]), y = UpperUnit(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
  // Greedy matching that backs up to the last "*" on a mismatch.
  const size_t np = pattern.size();
  const size_t nn = name.size();
  size_t p = 0;
  size_t n = 0;
  size_t star = std::u16string::npos;
  size_t resume = 0;
  while (n < nn) {
    if (p < np && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < np && (pattern[p] == u'?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::u16string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < np && pattern[p] == u'*') ++p;
  return p == np;
}

void ClearFileList(FileListing& listing) {
  std::vector<TFileField>().swap(listing.sFileList);
  listing.nFileList = 0;
  listing.error = 0;
}

void ListFolder(const std::string& folder, FolderContents& out) {
  out.error = 0;
  out.device = out.inode = 0;
  out.entries.clear();
  if (folder.find('\0') != std::string::npos) {
    out.error = EINVAL;
    return;
  }
  std::unique_ptr<DIR, DirCloser> d(opendir(folder.empty() ? "." : folder.c_str()));
  if (!d) {
    out.error = errno;
    return;
  }
  const int fd = dirfd(d.get());
  struct stat self {};
  if (fstat(fd, &self) == 0) {
    out.device = static_cast<uint64_t>(self.st_dev);
    out.inode = static_cast<uint64_t>(self.st_ino);
  }
  for (;;) {
    errno = 0;
    const dirent* e = readdir(d.get());
    if (!e) {
      // A listing cut short by an error gives what it found so far.
      if (errno != 0 && out.entries.empty()) out.error = errno;
      break;
    }
    const std::string_view raw(e->d_name);
    if (raw == "." || raw == "..") continue;
    FolderEntry entry;
    switch (e->d_type) {
      case DT_REG: entry.kind = EntryKind::kFile; break;
      case DT_DIR: entry.kind = EntryKind::kFolder; break;
      case DT_LNK:
      case DT_UNKNOWN: {
        // Links are followed: a link to a folder is taken like a folder.
        struct stat st {};
        if (fstatat(fd, e->d_name, &st, 0) != 0) {
          entry.kind = EntryKind::kBroken;
          entry.error = errno;
        } else {
          entry.kind = S_ISREG(st.st_mode) ? EntryKind::kFile
                       : S_ISDIR(st.st_mode) ? EntryKind::kFolder
                                             : EntryKind::kOther;
        }
        break;
      }
      default: entry.kind = EntryKind::kOther; break;
    }
    entry.native = std::string(raw);
    entry.name = PathText(raw);
    out.entries.push_back(std::move(entry));
  }
  d.reset();
  std::sort(out.entries.begin(), out.entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    if (a.name != b.name) return NameOrderLess(a.name, b.name);
    return a.native < b.native;
  });
}

void ListFiles(const std::u16string& folder, const std::u16string& pattern, FileListing& listing) {
  ClearFileList(listing);
  // folder ends with a separator, so the folder to read and the name
  // pattern are split at the last separator of folder + pattern.
  const std::u16string full = folder + pattern;
  if (full.find(u'\0') != std::u16string::npos) return;
  const size_t last = full.rfind(u'/');
  const std::u16string mask = last == std::u16string::npos ? full : full.substr(last + 1);
  const std::string dir = last == std::u16string::npos ? std::string(".") : NativePath(full.substr(0, last + 1));

  FolderContents contents;
  ListFolder(dir, contents);
  listing.error = contents.error;
  const std::string prefix = dir.back() == '/' ? dir : dir + "/";
  for (FolderEntry& e : contents.entries) {
    if (e.kind != EntryKind::kFile || !WildcardMatch(mask, e.name)) continue;
    // Size and time are this listing's own: the entry is looked at, and one
    // gone meanwhile is left out.
    struct stat st {};
    if (stat((prefix + e.native).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    TFileField f;
    f.name = std::move(e.name);
    f.size = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(st.st_size)));
    f.dirf = false;
    SetWriteTime(f, st.st_mtim.tv_sec);
    listing.sFileList.push_back(std::move(f));
  }
  listing.sFileList.shrink_to_fit();
  listing.nFileList = static_cast<int32_t>(listing.sFileList.size());
}

FileListing& SharedFileListing() {
  static FileListing listing;
  return listing;
}

void ListFiles(const std::u16string& folder, const std::u16string& pattern) {
  ListFiles(folder, pattern, SharedFileListing());
}

void ClearFileList() { ClearFileList(SharedFileListing()); }

}  // namespace tarnwick
