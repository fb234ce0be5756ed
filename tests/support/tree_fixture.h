// Temporary folder trees of small drawings for the search tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "search/engine.h"
#include "support/drawing_writer.h"
#include "text/utf.h"

namespace tarnwick::testing {

class TreeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            ("tarnwick_search_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    // Give back rights taken away by a test so the folder can be removed.
    for (auto& p : locked_) std::filesystem::permissions(p, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(root_);
  }

  // A drawing at rel (relative to the root) holding definitions with these
  // names (code page bytes).
  std::string drawing(const std::string& rel, const std::vector<std::string>& names, bool jws = false) {
    Drawing d;
    d.jws = jws;
    for (size_t i = 0; i < names.size(); ++i) {
      Definition def;
      def.number = static_cast<uint32_t>(i + 1);
      def.name = names[i];
      d.definitions.push_back(def);
    }
    return put(rel, Write(d));
  }

  std::string put(const std::string& rel, const Bytes& b) {
    std::filesystem::path p = root_ / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return p.string();
  }

  std::string folder(const std::string& rel) {
    std::filesystem::create_directories(root_ / rel);
    return (root_ / rel).string() + "/";
  }

  void lock(const std::string& rel) {
    std::filesystem::permissions(root_ / rel, std::filesystem::perms::none);
    locked_.push_back(root_ / rel);
  }

  std::u16string path(const std::string& rel) const { return PathText((root_ / rel).string()); }
  std::u16string rootText() const { return PathText(root_.string() + "/"); }

  std::filesystem::path root_;
  std::vector<std::filesystem::path> locked_;
};

// Records everything a search reports, in order.
struct Recorder : SearchObserver {
  std::vector<std::string> events;
  std::vector<SearchRow> rowsSeen;

  void status(StatusKind kind, const std::u16string& path) override {
    static const char* const kNames[] = {"file page", "folder page", "searching", "file", "folder", "none"};
    std::string event = std::string("status ") + kNames[static_cast<int>(kind)];
    if (!path.empty()) event += " " + ToUtf8(path);
    events.push_back(event);
  }
  void clearSelection() override { events.push_back("clear"); }
  void selectItem(int32_t i, bool on) override {
    events.push_back((on ? "select " : "unselect ") + std::to_string(i));
  }
  void rows(const std::vector<SearchRow>& r) override {
    for (const SearchRow& row : r) events.push_back("row " + ToUtf8(row.fileName) + " " + ToUtf8(row.block));
    rowsSeen.insert(rowsSeen.end(), r.begin(), r.end());
  }
  void file(const FileReport& f) override {
    events.push_back("file " + ToUtf8(f.path) + " " + FileOutcomeText(f.outcome));
  }
  void aborted() override { events.push_back("aborted"); }

  std::vector<std::string> blocks() const {
    std::vector<std::string> out;
    for (const SearchRow& r : rowsSeen) out.push_back(ToUtf8(r.block));
    return out;
  }
};

}  // namespace tarnwick::testing
