// Whole-file reads: a drawing is read into memory with one read loop and
// parsed from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct stat;

namespace tarnwick {

enum class LoadStatus {
  kOk,
  kNotFound,      // no such file
  kNotRegular,    // a folder, FIFO, device or socket
  kUnreadable,    // no rights, or a read failed
};

// The stat data of the descriptor a load read: enough to tell later that the
// file has not changed.  Times are in nanoseconds since the epoch.
struct FileStat {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
};

FileStat StatOf(const struct stat& st);

// A file opened for a whole-file read, checked to be a regular file.  The
// fetch is split in two so that the size is known before room is found for
// the bytes.
class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile() { close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // Opens the regular file at path (links followed).  Never blocks on a FIFO
  // or device: those are refused unread.
  LoadStatus open(const std::string& path);
  void close();
  int fd() const { return fd_; }
  // The stat data of the descriptor (valid once it was opened), and the
  // errno behind a status other than kOk.
  const FileStat& stat() const { return stat_; }
  int error() const { return error_; }

 private:
  friend class FileImage;
  int fd_ = -1;
  FileStat stat_;
  int error_ = 0;
};

// A reusable buffer holding one file's bytes.
class FileImage {
 public:
  FileImage() = default;
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  // Reads the regular file at path (links followed), or its first maxBytes
  // bytes.  Never blocks on a FIFO or device: those are refused unopened or
  // unread.
  LoadStatus load(const std::string& path, size_t maxBytes = SIZE_MAX);
  // Reads what `file` holds, or its first maxBytes bytes, and closes it.
  LoadStatus read(OpenFile& file, size_t maxBytes = SIZE_MAX);

  // Sets aside room for files of up to n bytes.  Only the pages a file
  // fills are ever touched, so a reader that reuses the buffer for many
  // files of different sizes pays for each page once.  Room of 2 MiB or
  // more is asked for in huge pages where the system offers them: one page
  // fault per 2 MiB instead of 512.
  void reserve(size_t n);

  const uint8_t* data() const { return buf_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  // The most bytes a load has put into the room set aside: a larger file
  // touches pages the buffer has never had, which are made on the way.
  size_t filled() const { return filled_; }
  // Of the last load: the stat data of the descriptor read (valid once it
  // was opened), and the errno behind a status other than kOk (0 if none).
  const FileStat& stat() const { return stat_; }
  int error() const { return error_; }
  // Gives back memory after an unusually large file.
  void trim(size_t keep);

 private:
  struct Free {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t[], Free> buf_;
  size_t capacity_ = 0;
  size_t size_ = 0;
  size_t filled_ = 0;
  FileStat stat_;
  int error_ = 0;
};

const char* LoadStatusText(LoadStatus s);

}  // namespace tarnwick
