// The settings file: one value per line, CR LF after each, ASCII only.  Texts
// are stored as the hex digits of their bytes.  No Qt here, so the loader can
// be tested and fuzzed on its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct WindowBounds {
  int32_t left = 0, top = 0, width = 0, height = 0;
};

inline constexpr int kSlotCount = 20;
inline constexpr int32_t kMinColumnWidth = 32;

struct SettingsData {
  WindowBounds mainWindow;
  WindowBounds resultsWindow;
  std::array<int32_t, 3> columnWidths{136, 261, 120};
  std::u16string jwpath;       // folder of the last add dialog
  std::u16string TxtFileName;  // path of the last export
  // CheckBox1 ... CheckBox40: slot n's search box is 2n-1, its subfolder box 2n.
  std::array<bool, 2 * kSlotCount> checks{};
  std::array<std::u16string, kSlotCount> edits;  // Edit1 ... Edit20
  std::vector<std::u16string> files;             // the file list
  int32_t previewWidth = 0;  // the results window's preview pane; 0: its own width
  // The searches keep and use an index of earlier reads.  Off is stored as
  // "0" on the line after the file list, which older readers never look at.
  bool useIndex = true;
};

// Applies the lines of a settings file to data, one after the other, as they
// are read.  Lines past the end of the text read as empty lines.
void ParseSettings(std::string_view text, SettingsData& data);
// The 74 + N lines of the file, the preview's width after them, and one
// more with the index off.
std::string FormatSettings(const SettingsData& data);

// Paths are stored as the hex digits of their bytes on this system, which
// for every name that is valid UTF-8 is its UTF-8; a name that is not keeps
// its exact bytes.
std::u16string StrToHexPath(const std::u16string& s);
std::u16string HexPathToStr(const std::u16string& s);

// Reads fn into data; false (data untouched beyond what was read) when the
// file does not exist or cannot be read.
bool LoadSettingFile(const std::u16string& fn, SettingsData& data);
// Writes through a temporary file renamed over fn: a failed write leaves the
// old settings whole.
bool SaveSettingFile(const std::u16string& fn, const SettingsData& data, std::string* error = nullptr);

// Where the settings live: beside the executable (its name with ".dat") when
// that folder is writable, else $XDG_CONFIG_HOME (default ~/.config) then
// "tarnwick/" and the same file name.
std::u16string SettingsPathFor(const std::u16string& executablePath);

}  // namespace tarnwick
