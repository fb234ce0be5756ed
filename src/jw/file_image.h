// Whole-file reads: a drawing is read into memory with one read loop and
// parsed from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick {

enum class LoadStatus {
  kOk,
  kNotFound,      // no such file
  kNotRegular,    // a folder, FIFO, device or socket
  kUnreadable,    // no rights, or a read failed
};

// A reusable buffer holding one file's bytes.
class FileImage {
 public:
  FileImage() = default;
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  // Reads the regular file at path (links followed).  Never blocks on a FIFO
  // or device: those are refused unopened or unread.
  LoadStatus load(const std::string& path);

  const uint8_t* data() const { return buf_.get(); }
  size_t size() const { return size_; }
  // Gives back memory after an unusually large file.
  void trim(size_t keep);

 private:
  std::unique_ptr<uint8_t[]> buf_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

const char* LoadStatusText(LoadStatus s);

}  // namespace tarnwick
