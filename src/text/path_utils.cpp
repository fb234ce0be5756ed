#include "text/path_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {

namespace {

constexpr char16_t kDelim = u'/';

bool IsBlank(const std::u16string& s) { return StrRemoveSpaces(s).empty(); }

bool HoldsNul(const std::u16string& s) { return s.find(u'\0') != std::u16string::npos; }

// The bytes of path as the system takes them, or nothing when the system
// would refuse the path: it holds U+0000, it has PATH_MAX bytes or more, or
// one of its components is longer than NAME_MAX bytes.
std::optional<std::string> AcceptedNative(const std::u16string& path) {
  if (path.empty() || HoldsNul(path)) return std::nullopt;
  std::string native = NativePath(path);
  if (native.size() >= PATH_MAX) return std::nullopt;
  size_t start = 0;
  while (start <= native.size()) {
    size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    if (end - start > NAME_MAX) return std::nullopt;
    start = end + 1;
  }
  return native;
}

// Leading and trailing spaces and control characters removed.
std::u16string Trim(const std::u16string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && s[begin] <= u' ') ++begin;
  while (end > begin && s[end - 1] <= u' ') --end;
  return s.substr(begin, end - begin);
}

}  // namespace

char16_t PathDelimChar() { return kDelim; }

std::u16string IncludeTrailingDelim(const std::u16string& s) {
  if (!s.empty() && s.back() == kDelim) return s;
  return s + kDelim;
}

std::u16string FolderOfPath(const std::u16string& path) {
  if (IsBlank(path) || HoldsNul(path)) return u"";
  const std::u16string trimmed = Trim(path);
  if (!AcceptedNative(trimmed)) return u"";
  const size_t last = trimmed.rfind(kDelim);
  std::u16string folder;
  if (last == 0) {
    folder = std::u16string(1, kDelim);  // the root keeps its separator
  } else if (last != std::u16string::npos) {
    folder = trimmed.substr(0, last);
  }
  // A bare name has no folder part and so gives the separator alone.
  return IncludeTrailingDelim(folder);
}

std::u16string FileNameOfPath(const std::u16string& path) {
  if (IsBlank(path) || HoldsNul(path)) return u"";
  const size_t last = path.rfind(kDelim);
  return last == std::u16string::npos ? path : path.substr(last + 1);
}

std::u16string FileExtLower(const std::u16string& path) {
  if (path.empty()) return u"";
  if (HoldsNul(path)) throw std::invalid_argument("Illegal characters in path.");
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == kDelim) break;
    if (path[i] == u'.') return StrLower(path.substr(i));
  }
  return u"";
}

bool HasExtension(std::u16string_view path, std::u16string_view ext) noexcept {
  size_t dot = std::u16string_view::npos;
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == kDelim) break;
    if (path[i] == u'.') {
      dot = i;
      break;
    }
  }
  if (dot == std::u16string_view::npos || path.size() - dot != ext.size()) return false;
  if (path.find(u'\0') != std::u16string_view::npos) return false;
  for (size_t k = 0; k < ext.size(); ++k) {
    char16_t c = path[dot + k];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != ext[k]) return false;
  }
  return true;
}

DrawingKind DrawingKindOf(std::u16string_view path) noexcept {
  if (HasExtension(path, u".jww")) return DrawingKind::kJww;
  if (HasExtension(path, u".jws")) return DrawingKind::kJws;
  return DrawingKind::kNone;
}

std::u16string ChangeExt(const std::u16string& path, const std::u16string& ext) {
  if (path.empty()) return u"";
  const size_t last = path.find_last_of(u"./");
  if (last != std::u16string::npos && path[last] == u'.') return path.substr(0, last) + ext;
  return path + ext;
}

bool FileExistsSafe(const std::u16string& path) {
  if (IsBlank(path)) return false;
  const std::optional<std::string> native = AcceptedNative(path);
  if (!native) return false;
  struct stat st {};
  return ::stat(native->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateFolder(const std::u16string& path) {
  if (IsBlank(path)) return false;
  const std::optional<std::string> native = AcceptedNative(path);
  if (!native) return false;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(*native), ec);
  if (ec) return false;
  std::filesystem::create_directories(absolute, ec);
  // The answer is whether the folder is there now: an existing folder is
  // fine, a refused creation or a file in the way is not.
  ec.clear();
  return std::filesystem::is_directory(absolute, ec) && !ec;
}

bool DeleteFileSafe(const std::u16string& path) {
  if (IsBlank(path)) return false;
  const std::optional<std::string> native = AcceptedNative(path);
  if (!native) return false;
  // Only a regular file goes; a link to one loses the link, never the target.
  struct stat st {};
  if (::stat(native->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return ::unlink(native->c_str()) == 0;
}

bool DeleteFolder(const std::u16string& path) {
  if (IsBlank(path)) return false;
  const std::optional<std::string> native = AcceptedNative(path);
  if (!native) return false;
  // rmdir removes only an empty folder and never follows a link.
  return ::rmdir(native->c_str()) == 0;
}

}  // namespace tarnwick
