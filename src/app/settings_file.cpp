#include "app/settings_file.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "search/export.h"
#include "text/path_utils.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {

namespace {

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::string AsciiBytes(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// Hands out the lines of a text: a line ends at CR LF, LF or CR; past the
// end every line is empty.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  std::u16string next() {
    size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '\r' && text_[pos_] != '\n') ++pos_;
    std::u16string line = Ascii(text_.substr(start, pos_ - start));
    if (pos_ < text_.size()) {
      if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
      ++pos_;
    }
    return line;
  }
  bool atEnd() const { return pos_ >= text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::u16string StrToHexPath(const std::u16string& s) {
  const std::string native = NativePath(s);
  return BytesToHex(std::vector<uint8_t>(native.begin(), native.end()));
}

std::u16string HexPathToStr(const std::u16string& s) {
  std::vector<uint8_t> bytes = HexToBytes(s);
  std::string native;
  for (uint8_t b : bytes) {
    if (b == 0) break;
    native.push_back(static_cast<char>(b));
  }
  return PathText(native);
}

void ParseSettings(std::string_view text, SettingsData& d) {
  LineReader in(text);
  for (WindowBounds* w : {&d.mainWindow, &d.resultsWindow}) {
    w->left = StrToIntDef0(in.next());
    w->top = StrToIntDef0(in.next());
    w->width = StrToIntDef0(in.next());
    w->height = StrToIntDef0(in.next());
  }
  for (int32_t& width : d.columnWidths) width = std::max(StrToIntDef0(in.next()), kMinColumnWidth);
  d.jwpath = HexPathToStr(in.next());
  d.TxtFileName = HexPathToStr(in.next());
  for (bool& c : d.checks) c = StrToBoolJp(in.next());
  for (std::u16string& e : d.edits) e = HexPathToStr(in.next());
  const int32_t n = StrToIntDef0(in.next());
  // Lines past the end of the file are empty and add nothing.
  for (int32_t i = 0; i < n && !in.atEnd(); ++i) {
    std::u16string line = in.next();
    if (!line.empty()) {
      std::u16string path = HexPathToStr(line);
      if (!path.empty()) d.files.push_back(std::move(path));
    }
  }
  // Files written before the preview existed end with the file list.
  d.previewWidth = std::max(StrToIntDef0(in.next()), 0);
  d.useIndex = in.next() != u"0";
}

std::string FormatSettings(const SettingsData& d) {
  std::string out;
  auto line = [&](const std::u16string& s) {
    out += AsciiBytes(s);
    out += "\r\n";
  };
  for (const WindowBounds* w : {&d.mainWindow, &d.resultsWindow}) {
    line(IntToText(w->left));
    line(IntToText(w->top));
    line(IntToText(w->width));
    line(IntToText(w->height));
  }
  for (int32_t width : d.columnWidths) line(IntToText(width));
  line(StrToHexPath(d.jwpath));
  line(StrToHexPath(d.TxtFileName));
  for (bool c : d.checks) line(BoolToStr01(c));
  for (const std::u16string& e : d.edits) line(StrToHexPath(e));
  line(IntToText(static_cast<int32_t>(d.files.size())));
  for (const std::u16string& f : d.files) line(StrToHexPath(f));
  line(IntToText(d.previewWidth));
  // Only a choice away from the default is written, so that a file with the
  // index on is line for line what it always was.
  if (!d.useIndex) line(u"0");
  return out;
}

bool LoadSettingFile(const std::u16string& fn, SettingsData& data) {
  if (!FileExistsSafe(fn)) return false;
  std::ifstream in(NativePath(fn), std::ios::binary);
  if (!in) return false;
  // A settings file is a few kilobytes; anything past 16 MB is not one.
  std::string text;
  text.resize(16u << 20);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  ParseSettings(text, data);
  return true;
}

bool SaveSettingFile(const std::u16string& fn, const SettingsData& data, std::string* error) {
  // The folder in the user's configuration may not exist yet.
  const std::u16string folder = FolderOfPath(fn);
  if (!folder.empty()) CreateFolder(folder);
  return WriteFileAtomically(fn, FormatSettings(data), error);
}

std::u16string SettingsPathFor(const std::u16string& executablePath) {
  const std::u16string beside = ChangeExt(executablePath, u".dat");
  const std::u16string folder = FolderOfPath(executablePath);
  if (!folder.empty() && access(NativePath(folder).c_str(), W_OK) == 0) return beside;
  std::u16string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    config = PathText(xdg);
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = PathText(home) + u"/.config";
  } else {
    return beside;
  }
  return IncludeTrailingDelim(config) + u"tarnwick/" + FileNameOfPath(beside);
}

}  // namespace tarnwick
