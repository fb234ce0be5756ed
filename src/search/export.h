// The files the results window saves: tab-separated text or CSV, in UTF-8
// with a byte-order mark, CR LF after every line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/engine.h"

namespace tarnwick {

enum class ExportFormat { kTxt, kCsv };

// The format a file name asks for by its extension (".txt" or ".csv", any
// letter case); none for any other name.
std::optional<ExportFormat> ExportFormatFor(const std::u16string& path);

// The bytes of the file for these rows.  CSV quotes every field and doubles
// a quote inside one.
std::string FormatExport(const std::vector<SearchRow>& rows, ExportFormat format);

// Writes bytes to path.  A link is followed and the file it ends at is the
// target.  A regular file (or a new name) gets a temporary file in the same
// folder that is then renamed over it, so the target is either the old file
// or the whole new one; the old file's mode, and where allowed its owner and
// group, are kept.  Something that is not a regular file (a device, a FIFO) is
// written in place, never replaced, and so is a regular file with other hard
// links, which keeps all its names.  A folder, a file the user may not write
// and a missing folder are refused.  On failure nothing but the temporary
// file is removed, and error says why.
bool WriteFileAtomically(const std::u16string& path, std::string_view bytes, std::string* error = nullptr);
// Whether WriteFileAtomically could write path now, checked without writing;
// error says why not.
bool CanWriteFile(const std::u16string& path, std::string* error = nullptr);

bool SaveTxtFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error = nullptr);
bool SaveCsvFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error = nullptr);

}  // namespace tarnwick
