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

// Writes bytes to path through a temporary file in the same folder that is
// then renamed over it, so the target is either the old file or the whole new
// one.  On failure only the temporary file is removed, and error says why.
bool WriteFileAtomically(const std::u16string& path, std::string_view bytes, std::string* error = nullptr);

bool SaveTxtFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error = nullptr);
bool SaveCsvFile(const std::u16string& fn, const std::vector<SearchRow>& rows, std::string* error = nullptr);

}  // namespace tarnwick
