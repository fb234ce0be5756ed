// A read-only passthrough file system that waits before every answer, as a
// file server on the network does: it mounts a folder at another place and
// sleeps a fixed time before each lookup, listing, open and read.  Used by
// scripts/bench --share-latency-us to time the search as it runs on a share;
// requests are served on many threads, so the latency can be hidden by
// having many of them in flight, as on a real server.
//
//   latency_fs SOURCE MOUNTPOINT LATENCY_US [fuse options...]
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string gSource;
std::chrono::microseconds gLatency{0};

void Wait() {
  if (gLatency.count() > 0) std::this_thread::sleep_for(gLatency);
}

std::string Real(const char* path) { return gSource + path; }

void* Init(struct fuse_conn_info*, struct fuse_config* cfg) {
  // The kernel keeps nothing between calls: every lookup and every read
  // reaches us and waits, the worst case of a share.
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->use_ino = 1;
  return nullptr;
}

int GetAttr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  Wait();
  const int r = fi ? ::fstat(static_cast<int>(fi->fh), st) : ::lstat(Real(path).c_str(), st);
  return r == 0 ? 0 : -errno;
}

int ReadLink(const char* path, char* buf, size_t size) {
  Wait();
  const ssize_t n = ::readlink(Real(path).c_str(), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

int OpenDir(const char* path, struct fuse_file_info* fi) {
  Wait();
  DIR* d = ::opendir(Real(path).c_str());
  if (!d) return -errno;
  fi->fh = reinterpret_cast<uint64_t>(d);
  return 0;
}

int ReadDir(const char*, void* buf, fuse_fill_dir_t fill, off_t, struct fuse_file_info* fi,
            enum fuse_readdir_flags) {
  Wait();
  DIR* d = reinterpret_cast<DIR*>(fi->fh);
  ::rewinddir(d);
  while (const dirent* e = ::readdir(d)) {
    struct stat st {};
    st.st_ino = e->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(e->d_type));
    if (fill(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
  }
  return 0;
}

int ReleaseDir(const char*, struct fuse_file_info* fi) {
  ::closedir(reinterpret_cast<DIR*>(fi->fh));
  return 0;
}

int Open(const char* path, struct fuse_file_info* fi) {
  Wait();
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  const int fd = ::open(Real(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int Read(const char*, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  Wait();
  const ssize_t n = ::pread(static_cast<int>(fi->fh), buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Release(const char*, struct fuse_file_info* fi) {
  ::close(static_cast<int>(fi->fh));
  return 0;
}

int Access(const char* path, int mask) {
  Wait();
  if (mask & W_OK) return -EROFS;
  return ::access(Real(path).c_str(), mask) == 0 ? 0 : -errno;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: latency_fs SOURCE MOUNTPOINT LATENCY_US [fuse options...]\n");
    return 2;
  }
  char* resolved = ::realpath(argv[1], nullptr);
  if (!resolved) {
    std::perror(argv[1]);
    return 2;
  }
  gSource = resolved;
  std::free(resolved);
  char* end = nullptr;
  const long us = std::strtol(argv[3], &end, 10);
  if (*end != '\0' || us < 0) {
    std::fprintf(stderr, "latency_fs: bad latency %s\n", argv[3]);
    return 2;
  }
  gLatency = std::chrono::microseconds(us);

  struct fuse_operations ops {};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readlink = ReadLink;
  ops.opendir = OpenDir;
  ops.readdir = ReadDir;
  ops.releasedir = ReleaseDir;
  ops.open = Open;
  ops.read = Read;
  ops.release = Release;
  ops.access = Access;

  // fuse_main takes the mount point and the options: read-only, in the
  // foreground, with enough threads for many requests in flight.
  std::vector<char*> args = {argv[0], argv[2]};
  static char fg[] = "-f", o[] = "-o", opts[] = "ro,max_threads=256,max_idle_threads=256,default_permissions";
  args.push_back(fg);
  args.push_back(o);
  args.push_back(opts);
  for (int i = 4; i < argc; ++i) args.push_back(argv[i]);
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
