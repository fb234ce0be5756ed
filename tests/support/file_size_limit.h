// While it lives, no file of this process may grow past a given size: a
// write past it fails with EFBIG.  Unlike folder rights, this stops the
// superuser too, so the tests of failed writes run everywhere.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace tarnwick::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    // A write past the limit raises SIGXFSZ, which would end the process.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    if (getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    if (active_) setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool active() const { return active_; }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = SIG_DFL;
  bool active_ = false;
};

}  // namespace tarnwick::testing
