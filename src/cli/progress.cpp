#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnwick {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// Columns a UTF-8 text takes on a terminal, counting every character beyond
// ASCII as two (wide characters are common in our folder names; a line that
// is too short never wraps).
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if (c < 0x80) n += 1;
    else if (c >= 0xC0) n += 2;
  }
  return n;
}

// The end of s that fits in `width` columns, whole characters only.
std::string TailFitting(const std::string& s, size_t width) {
  size_t start = s.size();
  size_t used = 0;
  while (start > 0) {
    size_t lead = start - 1;
    while (lead > 0 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80) --lead;
    const size_t w = Columns(s.substr(lead, start - lead));
    if (used + w > width) break;
    used += w;
    start = lead;
  }
  return s.substr(start);
}

size_t TerminalWidth(std::FILE* out) {
  struct winsize ws {};
  if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}

void ProgressLine::folderStarted(const std::string& folder) {
  if (!folder_.empty()) ++folders_;
  folder_ = folder;
}

std::string ProgressLine::text(size_t width) const {
  std::string s = std::to_string(files_) + (files_ == 1 ? " file, " : " files, ") + std::to_string(rows_) +
                  (rows_ == 1 ? " row" : " rows");
  if (!folder_.empty()) {
    s += ", " + std::to_string(folders_) + (folders_ == 1 ? " folder done" : " folders done") + "; in ";
    // One column stays free: a line that fills the terminal may wrap.
    const size_t room = width > Columns(s) + 2 ? width - Columns(s) - 2 : 0;
    if (Columns(folder_) <= room) {
      s += folder_;
    } else if (room > 4) {
      s += "..." + TailFitting(folder_, room - 3);
    }
  }
  if (Columns(s) >= width) s = TailFitting(s, width > 1 ? width - 1 : 0);
  return s;
}

void ProgressLine::update() {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - lastDrawn_ < kRedrawEvery) return;
  if (!shown_ && lastDrawn_.time_since_epoch().count() != 0 && now - lastDrawn_ < kRedrawEvery) return;
  lastDrawn_ = now;
  const std::string line = "\r" + text(TerminalWidth(out_)) + "\033[K";
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
  shown_ = true;
}

void ProgressLine::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  shown_ = false;
}

}  // namespace tarnwick
