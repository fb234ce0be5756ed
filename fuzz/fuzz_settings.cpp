// The settings loader on any text.  Whatever it reads, writing that back and
// reading it again gives the same settings, and the written file is plain
// ASCII with CR LF after every line.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/settings_file.h"
#include "body_checks.h"

using namespace tarnwick;

namespace {

bool Same(const WindowBounds& a, const WindowBounds& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

bool Same(const SettingsData& a, const SettingsData& b) {
  return Same(a.mainWindow, b.mainWindow) && Same(a.resultsWindow, b.resultsWindow) &&
         a.columnWidths == b.columnWidths && a.jwpath == b.jwpath && a.TxtFileName == b.TxtFileName &&
         a.checks == b.checks && a.edits == b.edits && a.files == b.files && a.previewWidth == b.previewWidth &&
         a.useIndex == b.useIndex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SettingsData first;
  ParseSettings(std::string_view(reinterpret_cast<const char*>(data), size), first);
  for (int32_t w : first.columnWidths) fuzz::Require(w >= kMinColumnWidth, "a column narrower than 32");

  const std::string text = FormatSettings(first);
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    fuzz::Require(c < 0x80, "a written byte outside ASCII");
    if (c == '\n') {
      fuzz::Require(i > 0 && text[i - 1] == '\r', "a line feed without carriage return");
      ++lines;
    } else if (c == '\r') {
      fuzz::Require(i + 1 < text.size() && text[i + 1] == '\n', "a carriage return without line feed");
    }
  }
  fuzz::Require(!text.empty() && text.back() == '\n', "the last line is not ended");
  // 74 lines and the file list, the preview's width, and a line more with the
  // index off.
  fuzz::Require(lines == 75 + first.files.size() + (first.useIndex ? 0 : 1), "the file does not have 75 + N lines");

  SettingsData second;
  ParseSettings(text, second);
  fuzz::Require(Same(first, second), "written settings read back otherwise");
  fuzz::Require(FormatSettings(second) == text, "settings written twice differ");
  return 0;
}
