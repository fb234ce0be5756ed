// A fresh folder under the system's temporary folder, removed with all it
// holds when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "text/utf.h"

namespace tarnwick {

class TempFolder {
 public:
  TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarnwick-text-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);  // links are removed, not followed
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  // Native path of name inside the folder ("" for the folder itself).
  std::string Native(const std::string& name = "") const { return name.empty() ? path_ : path_ + "/" + name; }
  // The folder as a text ending with the separator.
  std::u16string Text() const { return PathText(path_) + u'/'; }
  std::u16string Text(const std::string& name) const { return PathText(Native(name)); }

  void WriteFile(const std::string& name, const std::string& content = "x") const {
    std::ofstream out(Native(name), std::ios::binary);
    out << content;
  }
  void MakeFolder(const std::string& name) const { std::filesystem::create_directories(Native(name)); }
  bool MakeFifo(const std::string& name) const { return mkfifo(Native(name).c_str(), 0600) == 0; }
  bool MakeLink(const std::string& target, const std::string& name) const {
    return symlink(target.c_str(), Native(name).c_str()) == 0;
  }
  bool Exists(const std::string& name) const {
    struct stat st {};
    return lstat(Native(name).c_str(), &st) == 0;
  }

 private:
  std::string path_;
};

}  // namespace tarnwick
