#include "cli/output.h"

#include <cerrno>
#include <cstdint>

#include "text/utf.h"

namespace tarnwick {

bool ParseOutputFormat(const std::string& name, OutputFormat& format) {
  if (name == "tsv") format = OutputFormat::kTsv;
  else if (name == "csv") format = OutputFormat::kCsv;
  else if (name == "json") format = OutputFormat::kJson;
  else return false;
  return true;
}

namespace {

void Csv(std::string& out, const std::string& field) {
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// A JSON string.  Paths that are not UTF-8 carry lone surrogates, which are
// written as escapes so that nothing is lost.
void Json(std::string& out, const std::u16string& text) {
  out += '"';
  size_t start = 0;
  auto flush = [&](size_t end) { out += ToUtf8(std::u16string_view(text).substr(start, end - start)); };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    const bool lead = c >= 0xD800 && c <= 0xDBFF, trail = c >= 0xDC00 && c <= 0xDFFF;
    if (lead && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (c == '"' || c == '\\' || c < 0x20 || lead || trail) {
      flush(i);
      char buf[8];
      if (c == '"') out += "\\\"";
      else if (c == '\\') out += "\\\\";
      else if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else {
        std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
        out += buf;
      }
      start = i + 1;
    }
  }
  flush(text.size());
  out += '"';
}

// A TSV field: the bytes as they are, except that a tab, line feed or
// carriage return, which would break the row apart, is written as \t, \n or
// \r.  Returns whether anything was escaped.
bool Tsv(std::string& out, const std::string& field) {
  if (field.find_first_of("\t\n\r") == std::string::npos) {
    out += field;
    return false;
  }
  for (char c : field) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return true;
}

// The file name and path of a TSV or CSV row, with the separator after them.
bool AppendHead(std::string& s, const SearchRow& r, OutputFormat format) {
  bool escaped = false;
  if (format == OutputFormat::kTsv) {
    // The path exactly as given, byte for byte.
    escaped |= Tsv(s, NativePath(r.fileName));
    s += '\t';
    escaped |= Tsv(s, NativePath(r.path));
    s += '\t';
  } else {
    Csv(s, NativePath(r.fileName));
    s += ',';
    Csv(s, NativePath(r.path));
    s += ',';
  }
  return escaped;
}

// Appends text as UTF-8, a lone surrogate as U+FFFD (as ToUtf8 does), with
// no intermediate string: the block name of every row comes through here.
void AppendUtf8(std::string& out, std::u16string_view text) {
  const size_t start = out.size();
  out.resize(start + 3 * text.size());
  char* p = out.data() + start;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        // A pair takes 4 bytes for its 2 units: within the room made above.
        c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        continue;
      }
      c = 0xFFFD;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

// The block name of a TSV or CSV row and the line end.
bool AppendTail(std::string& s, const SearchRow& r, OutputFormat format) {
  bool escaped = false;
  if (format == OutputFormat::kTsv) {
    const size_t start = s.size();
    AppendUtf8(s, r.block);
    if (s.find_first_of("\t\n\r", start) != std::string::npos) {
      const std::string field = s.substr(start);
      s.resize(start);
      escaped = Tsv(s, field);
    }
  } else {
    Csv(s, ToUtf8(r.block));
  }
  s += '\n';
  return escaped;
}

std::string JsonRow(const SearchRow& r, const std::string& fields = std::string()) {
  std::string s = "{\"file\": ";
  Json(s, r.fileName);
  s += ", \"path\": ";
  Json(s, r.path);
  s += ", \"block\": ";
  Json(s, r.block);
  s += fields;
  s += '}';
  return s;
}

}  // namespace

RowWriter::RowWriter(std::FILE* out, OutputFormat format, bool lineBuffered)
    : out_(out), format_(format), lineBuffered_(lineBuffered) {
  buffer_.reserve(kBufferBytes + 4096);
  static char buffer[1 << 16];
  std::setvbuf(out_, buffer, lineBuffered ? _IOLBF : _IOFBF, sizeof buffer);
  if (format_ == OutputFormat::kCsv) put("\"file\",\"path\",\"block\"\n");
  if (format_ == OutputFormat::kJson) put("[");
}

std::string RowWriter::Format(const SearchRow& r, OutputFormat format) {
  if (format == OutputFormat::kJson) return JsonRow(r);
  std::string s;
  AppendHead(s, r, format);
  AppendTail(s, r, format);
  return s;
}

bool RowWriter::row(const SearchRow& r, const std::string& jsonFields) {
  if (failed_) return false;
  if (format_ == OutputFormat::kJson) {
    put(rows_ == 0 ? "\n" : ",\n");
    put(JsonRow(r, jsonFields));
  } else {
    // The rows of one drawing come one after another: their common head is
    // made once.
    if (rows_ == 0 || r.path != path_ || r.fileName != fileName_) {
      path_ = r.path;
      fileName_ = r.fileName;
      head_.clear();
      headEscaped_ = AppendHead(head_, r, format_);
    }
    buffer_ += head_;
    if (AppendTail(buffer_, r, format_) || headEscaped_) escaped_ = true;
    if (lineBuffered_ || buffer_.size() >= kBufferBytes) drain();
  }
  ++rows_;
  return !failed_;
}

bool RowWriter::finish() {
  if (failed_) return false;
  if (format_ == OutputFormat::kJson) put(rows_ == 0 ? "]\n" : "\n]\n");
  drain();
  errno = 0;
  if (!failed_ && std::fflush(out_) != 0) fail();
  if (!failed_ && std::ferror(out_)) fail();
  return !failed_;
}

void RowWriter::put(const std::string& s) {
  if (failed_) return;
  buffer_ += s;
  if (lineBuffered_ || buffer_.size() >= kBufferBytes) drain();
}

void RowWriter::drain() {
  if (failed_ || buffer_.empty()) return;
  errno = 0;
  if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) fail();
  buffer_.clear();
}

void RowWriter::fail() {
  if (!failed_) error_ = errno != 0 ? errno : EIO;
  failed_ = true;
}

}  // namespace tarnwick
