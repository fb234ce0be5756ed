#include "search/export.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {

std::optional<ExportFormat> ExportFormatFor(const std::u16string& path) {
  std::u16string ext;
  try {
    ext = FileExtLower(path);
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
  if (ext == u".txt") return ExportFormat::kTxt;
  if (ext == u".csv") return ExportFormat::kCsv;
  return std::nullopt;
}

namespace {

void AppendCsvField(std::string& out, const std::u16string& cell) {
  out.push_back('"');
  for (char c : ToUtf8(cell)) {
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
      out += ToUtf8(r.fileName);
      out += '\t';
      out += ToUtf8(r.path);
      out += '\t';
      out += ToUtf8(r.block);
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

bool WriteFileAtomically(const std::u16string& path, std::string_view bytes, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  std::string target = NativePath(path);
  if (target.empty()) return fail("no file name");
  // Saving through a link replaces the file it points to, not the link.
  struct stat st {};
  bool exists = false;
  if (lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char resolved[PATH_MAX];
      if (realpath(target.c_str(), resolved)) target = resolved;
    }
    exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return fail(target + " is a folder");
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "." + base + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return fail(ErrnoText("cannot create a file in the folder"));
  // The new file gets the old one's permissions, or the usual ones.
  mode_t mode = 0666;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode &= ~mask;
  }
  fchmod(fd, mode);
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t w = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      std::string why = ErrnoText("write failed");
      ::close(fd);
      ::unlink(temp.c_str());
      return fail(why);
    }
    off += static_cast<size_t>(w);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    std::string why = ErrnoText("write failed");
    ::unlink(temp.c_str());
    return fail(why);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    std::string why = ErrnoText("cannot replace the file");
    ::unlink(temp.c_str());
    return fail(why);
  }
  return true;
}

bool SaveTxtFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error) {
  return WriteFileAtomically(fn, FormatExport(rows, ExportFormat::kTxt), error);
}

bool SaveCsvFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error) {
  return WriteFileAtomically(fn, FormatExport(rows, ExportFormat::kCsv), error);
}

}  // namespace tarnwick
