#include "jw/file_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

}  // namespace

FileStat StatOf(const struct stat& st) {
  FileStat s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<int64_t>(st.st_size);
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

LoadStatus OpenFile::open(const std::string& path) {
  close();
  stat_ = FileStat{};
  error_ = 0;
  // O_NONBLOCK keeps open() from waiting on a FIFO that has no writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) {
    error_ = errno;
    return error_ == ENOENT || error_ == ENOTDIR ? LoadStatus::kNotFound : LoadStatus::kUnreadable;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    error_ = errno;
    close();
    return LoadStatus::kUnreadable;
  }
  stat_ = StatOf(st);
  if (!S_ISREG(st.st_mode)) {
    close();
    return LoadStatus::kNotRegular;
  }
  return LoadStatus::kOk;
}

void OpenFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LoadStatus FileImage::load(const std::string& path, size_t maxBytes) {
  size_ = 0;
  OpenFile f;
  const LoadStatus s = f.open(path);
  stat_ = f.stat();
  error_ = f.error();
  if (s != LoadStatus::kOk) return s;
  return read(f, maxBytes);
}

LoadStatus FileImage::read(OpenFile& f, size_t maxBytes) {
  size_ = 0;
  stat_ = f.stat();
  error_ = 0;
  if (f.fd() < 0) {
    error_ = EBADF;
    return LoadStatus::kUnreadable;
  }
  size_t want = std::min(static_cast<size_t>(std::max<int64_t>(f.stat().size, 0)), maxBytes);
  if (want > capacity_) {
    try {
      reserve(want);
    } catch (const std::bad_alloc&) {
      f.close();
      error_ = ENOMEM;
      return LoadStatus::kUnreadable;  // no room for it: the search goes on without it
    }
  }
  size_t got = 0;
  while (got < want) {
    ssize_t r = ::read(f.fd(), buf_.get() + got, want - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      f.close();
      return LoadStatus::kUnreadable;
    }
    if (r == 0) break;  // the file shrank meanwhile: take what is there
    got += static_cast<size_t>(r);
  }
  f.close();
  size_ = got;
  filled_ = std::max(filled_, got);
  return LoadStatus::kOk;
}

void FileImage::Free::operator()(uint8_t* p) const { std::free(p); }

void FileImage::reserve(size_t n) {
  if (n <= capacity_) return;
  constexpr size_t kHugePage = size_t(2) << 20;
  buf_.reset();
  capacity_ = size_ = filled_ = 0;
  // Left uninitialised: the bytes are always read before they are used.
  void* p = nullptr;
  if (n >= kHugePage) {
    if (n > SIZE_MAX - kHugePage) throw std::bad_alloc();
    n = (n + kHugePage - 1) / kHugePage * kHugePage;
    p = std::aligned_alloc(kHugePage, n);
#ifdef MADV_HUGEPAGE
    if (p) ::madvise(p, n, MADV_HUGEPAGE);  // a request; refused, it changes nothing
#endif
  } else {
    p = std::malloc(n ? n : 1);
  }
  if (!p) throw std::bad_alloc();
  buf_.reset(static_cast<uint8_t*>(p));
  capacity_ = n;
}

void FileImage::trim(size_t keep) {
  if (capacity_ > keep) {
    buf_.reset();
    capacity_ = 0;
    size_ = 0;
    filled_ = 0;
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
