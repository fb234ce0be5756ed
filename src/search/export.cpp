#include "search/export.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "jw/archive.h"
#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {

std::optional<ExportFormat> ExportFormatFor(const std::u16string& path) {
  if (HasExtension(path, u".txt")) return ExportFormat::kTxt;
  if (HasExtension(path, u".csv")) return ExportFormat::kCsv;
  return std::nullopt;
}

namespace {

// UTF-8 of a cell.  A file name that is not UTF-8 is kept by the search as
// its bytes; when they are valid code page 932 (names unpacked from archives
// made on Windows) they are decoded as such, so the saved path names the
// same file; bytes that are neither become U+FFFD.
std::string CellText(const std::u16string& cell) {
  const bool foreign = std::any_of(cell.begin(), cell.end(), [](char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; });
  if (foreign) {
    const std::string bytes = NativePath(cell);
    const std::u16string decoded =
        ByteTextDecoder::ForThread(932).decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    // U+FFFD marks bytes that are not code page 932; U+F8F0 to U+F8F3 are
    // what the lone bytes A0 and FD to FF map to, which no Windows name holds.
    const bool valid = std::none_of(decoded.begin(), decoded.end(),
                                    [](char16_t c) { return c == u'\uFFFD' || (c >= 0xF8F0 && c <= 0xF8F3); });
    if (valid) return ToUtf8(decoded);
  }
  return ToUtf8(cell);
}

// A cell of a tab-separated line: a tab, line feed or carriage return in it,
// which would break the line apart, is written as \t, \n or \r.
void AppendTxtField(std::string& out, const std::u16string& cell) {
  const std::string text = CellText(cell);
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
}

void AppendCsvField(std::string& out, const std::u16string& cell) {
  out.push_back('"');
  for (char c : CellText(cell)) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string FormatExport(const std::vector<SearchRow>& rows, ExportFormat format) {
  std::string out = "\xEF\xBB\xBF";
  for (const SearchRow& r : rows) {
    if (format == ExportFormat::kTxt) {
      AppendTxtField(out, r.fileName);
      out += '\t';
      AppendTxtField(out, r.path);
      out += '\t';
      AppendTxtField(out, r.block);
    } else {
      AppendCsvField(out, r.fileName);
      out += ',';
      AppendCsvField(out, r.path);
      out += ',';
      AppendCsvField(out, r.block);
    }
    out += "\r\n";
  }
  return out;
}

namespace {

// Where a write of a path lands: the end of its chain of links.
struct WriteTarget {
  std::string path;
  bool exists = false;
  struct stat st {};
};

std::string FolderPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows the links at `path` (as a shell redirection would) and says what
// stands at the end: nothing, a regular file, or something else.  False,
// with the reason, when nothing can be written there.
bool ResolveTarget(const std::string& path, WriteTarget& t, std::string& why) {
  t.path = path;
  for (int hops = 0;; ++hops) {
    if (lstat(t.path.c_str(), &t.st) != 0) {
      if (errno != ENOENT) {
        why = std::strerror(errno);
        return false;
      }
      t.exists = false;
      break;
    }
    if (!S_ISLNK(t.st.st_mode)) {
      t.exists = true;
      break;
    }
    if (hops >= 40) {
      why = std::strerror(ELOOP);
      return false;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(t.path.c_str(), link.data(), link.size());
    if (n < 0) {
      why = std::strerror(errno);
      return false;
    }
    link.resize(static_cast<size_t>(n));
    t.path = link.front() == '/' ? link : FolderPart(t.path) + link;
  }
  if (t.exists && S_ISDIR(t.st.st_mode)) {
    why = std::strerror(EISDIR);
    return false;
  }
  if (t.exists && S_ISREG(t.st.st_mode) && faccessat(AT_FDCWD, t.path.c_str(), W_OK, AT_EACCESS) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (!t.exists || (S_ISREG(t.st.st_mode) && t.st.st_nlink == 1)) {
    // A new file is made in the folder and renamed into place.
    const std::string dir = FolderPart(t.path);
    const std::string d = dir.empty() ? "." : dir;
    struct stat ds {};
    if (stat(d.c_str(), &ds) != 0) {
      why = std::string(std::strerror(errno)) + " (the folder " + d + ")";
      return false;
    }
    if (!S_ISDIR(ds.st_mode)) {
      why = std::string(std::strerror(ENOTDIR)) + " (" + d + ")";
      return false;
    }
    if (faccessat(AT_FDCWD, d.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      why = std::string(std::strerror(errno)) + " (the folder " + d + ")";
      return false;
    }
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes, bool positioned) {
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t w = positioned ? ::pwrite(fd, bytes.data() + off, bytes.size() - off, static_cast<off_t>(off))
                                 : ::write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    off += static_cast<size_t>(w);
  }
  return true;
}

// Writes into what stands at the target: a device or FIFO gets the bytes as
// from a shell redirection; a regular file with other hard links keeps its
// inode (and so every name), its space reserved before the old bytes go.
bool WriteInPlace(const WriteTarget& t, std::string_view bytes, std::string& why) {
  const bool regular = S_ISREG(t.st.st_mode);
  const int fd = ::open(t.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  bool ok = true;
  if (regular && !bytes.empty()) {
    const int r = posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
    if (r != 0 && r != EOPNOTSUPP && r != EINVAL) {
      errno = r;
      ok = false;
    }
  }
  if (ok) ok = WriteAll(fd, bytes, regular);
  if (ok && regular) ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && ::fsync(fd) == 0;
  if (!ok) why = std::string("write failed: ") + std::strerror(errno);
  if (::close(fd) != 0 && ok) {
    why = std::string("write failed: ") + std::strerror(errno);
    ok = false;
  }
  return ok;
}

bool Replace(const WriteTarget& t, std::string_view bytes, std::string& why) {
  const std::string dir = FolderPart(t.path);
  std::string temp = dir + "." + t.path.substr(dir.size()) + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    why = ErrnoText("cannot create a file in the folder");
    return false;
  }
  // The new file gets the old one's owner where the system allows it, and
  // its permissions; a new name gets the usual ones.
  mode_t mode = 0666;
  if (t.exists) {
    if (fchown(fd, t.st.st_uid, t.st.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), t.st.st_gid);
    mode = t.st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode &= ~mask;
  }
  fchmod(fd, mode);
  bool ok = WriteAll(fd, bytes, false) && ::fsync(fd) == 0;
  if (!ok) why = ErrnoText("write failed");
  if (::close(fd) != 0 && ok) {
    why = ErrnoText("write failed");
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), t.path.c_str()) != 0) {
    why = ErrnoText("cannot replace the file");
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

bool CanWriteFile(const std::u16string& path, std::string* error) {
  const std::string target = NativePath(path);
  std::string why = "no file name";
  WriteTarget t;
  if (!target.empty() && ResolveTarget(target, t, why)) return true;
  if (error) *error = why;
  return false;
}

bool WriteFileAtomically(const std::u16string& path, std::string_view bytes, std::string* error) {
  const std::string target = NativePath(path);
  std::string why = "no file name";
  WriteTarget t;
  bool ok = !target.empty() && ResolveTarget(target, t, why);
  if (ok) ok = t.exists && (!S_ISREG(t.st.st_mode) || t.st.st_nlink > 1) ? WriteInPlace(t, bytes, why)
                                                                          : Replace(t, bytes, why);
  if (!ok && error) *error = why;
  return ok;
}

bool SaveTxtFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error) {
  return WriteFileAtomically(fn, FormatExport(rows, ExportFormat::kTxt), error);
}

bool SaveCsvFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error) {
  return WriteFileAtomically(fn, FormatExport(rows, ExportFormat::kCsv), error);
}

}  // namespace tarnwick
