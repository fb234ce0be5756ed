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
  // On a terminal (lineBuffered) every row leaves as a whole line at once;
  // elsewhere rows are gathered into large writes.
  RowWriter(std::FILE* out, OutputFormat format, bool lineBuffered = false);
  // False once a write has failed: the rest would be lost too.  A JSON row
  // ends with `jsonFields` (", \"name\": value..." or nothing).
  bool row(const SearchRow& r, const std::string& jsonFields = std::string());
  // Ends the output; false when something could not be written.
  bool finish();
  bool failed() const { return failed_; }
  // The errno of the first failed write.
  int error() const { return error_; }
  // A TSV field held a tab or line break, written as an escape.
  bool escaped() const { return escaped_; }

  // The text of one row as the format writes it (tests use it).
  static std::string Format(const SearchRow& r, OutputFormat format);

 private:
  void put(const std::string& s);
  // Hands the gathered text to the stream.
  void drain();
  void fail();

  // Rows are gathered here and handed over in writes of about this size (on
  // a terminal, one row at a time).
  static constexpr size_t kBufferBytes = size_t(1) << 16;

  std::FILE* out_;
  OutputFormat format_;
  std::u16string fileName_, path_;  // of the last row
  std::string head_;                // its file name and path as written
  std::string buffer_;
  bool lineBuffered_ = false;
  size_t rows_ = 0;
  bool failed_ = false;
  int error_ = 0;
  bool escaped_ = false;
  bool headEscaped_ = false;
};

}  // namespace tarnwick
