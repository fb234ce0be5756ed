// Rows on standard output: tab-separated (the default), CSV or JSON.
#pragma once

#include <cstdio>
#include <string>

#include "search/engine.h"

namespace tarnwick {

enum class OutputFormat { kTsv, kCsv, kJson };

bool ParseOutputFormat(const std::string& name, OutputFormat& format);

class RowWriter {
 public:
  RowWriter(std::FILE* out, OutputFormat format);
  void row(const SearchRow& r);
  // Ends the output; false when something could not be written.
  bool finish();

  // The text of one row as the format writes it (tests use it).
  static std::string Format(const SearchRow& r, OutputFormat format);

 private:
  void put(const std::string& s);

  std::FILE* out_;
  OutputFormat format_;
  std::u16string fileName_, path_;  // of the last row
  std::string head_;                // its file name and path as written
  std::string line_;
  size_t rows_ = 0;
  bool failed_ = false;
};

}  // namespace tarnwick
