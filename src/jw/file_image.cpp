#include "jw/file_image.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

LoadStatus FileImage::load(const std::string& path) {
  size_ = 0;
  Fd f;
  // O_NONBLOCK keeps open() from waiting on a FIFO that has no writer.
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (f.fd < 0) return errno == ENOENT || errno == ENOTDIR ? LoadStatus::kNotFound : LoadStatus::kUnreadable;
  struct stat st;
  if (::fstat(f.fd, &st) != 0) return LoadStatus::kUnreadable;
  if (!S_ISREG(st.st_mode)) return LoadStatus::kNotRegular;
  size_t want = static_cast<size_t>(st.st_size);
  if (want > capacity_) {
    buf_.reset(new uint8_t[want]);
    capacity_ = want;
  }
  size_t got = 0;
  while (got < want) {
    ssize_t r = ::read(f.fd, buf_.get() + got, want - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return LoadStatus::kUnreadable;
    }
    if (r == 0) break;  // the file shrank meanwhile: take what is there
    got += static_cast<size_t>(r);
  }
  size_ = got;
  return LoadStatus::kOk;
}

void FileImage::trim(size_t keep) {
  if (capacity_ > keep) {
    buf_.reset();
    capacity_ = 0;
    size_ = 0;
  }
}

const char* LoadStatusText(LoadStatus s) {
  switch (s) {
    case LoadStatus::kOk: return "ok";
    case LoadStatus::kNotFound: return "no such file";
    case LoadStatus::kNotRegular: return "not a regular file";
    case LoadStatus::kUnreadable: return "cannot be read";
  }
  return "";
}

}  // namespace tarnwick
