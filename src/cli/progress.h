// The progress line of tarnwick-cli on a terminal: files and rows so far,
// folders done and the folder being searched.  It is redrawn at most ten
// times a second, fits the terminal's width so that it never wraps, and is
// cleared before anything else is written to the terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace tarnwick {

class ProgressLine {
 public:
  // Off unless `enabled`; `out` is the terminal it is drawn on.
  ProgressLine(std::FILE* out, bool enabled);

  void fileDone() { ++files_; }
  void rowsAdded(size_t n) { rows_ += n; }
  // A folder search began on `folder` (native bytes): the one before is done.
  void folderStarted(const std::string& folder);

  // Redraws the line when it is due.
  void update();
  // Takes the line off the terminal; the next update draws it again.
  void clear();

 private:
  std::string text(size_t width) const;

  std::FILE* out_;
  bool enabled_;
  bool shown_ = false;
  size_t files_ = 0, rows_ = 0, folders_ = 0;
  std::string folder_;
  std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace tarnwick
