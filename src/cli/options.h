// The command line of tarnwick-cli: one table of options, from which both the
// parser and the --help text are made.  To add an option, add one entry to
// the table in options.cpp (names, value name, help text, what it sets) and,
// when it needs one, a field to Options.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "search/engine.h"

namespace tarnwick {

// The largest -j accepted, as for the default of one thread per hardware
// thread: more decoding threads than this only cost memory.
inline constexpr int kMaxJobs = 64;
inline constexpr int kMaxIoDepth = 1024;

struct Options {
  bool recursive = false;
  OutputFormat format = OutputFormat::kTsv;
  bool formatGiven = false;
  std::optional<std::string> outputFile;
  std::optional<std::u16string> match;
  int32_t maxRows = 0;
  int jobs = 0;
  int ioDepth = kDefaultIoDepth;
  bool verbose = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool listGiven = false;  // --files-from was given, even if its list was empty
  // --details and --svg read every drawing with rows in full.
  bool details = false;
  std::optional<std::string> svgDir;
  // The index: kept up to date by the search, or (indexOnly) the only
  // source of rows.
  std::optional<std::string> indexFile;
  bool indexOnly = false;
  // Paths in order; --files-from lists are read at their place.
  std::vector<std::string> paths;
  // Lines of --files-from lists that name no path the system could open
  // (they hold a NUL byte), as messages; the search goes on without them.
  std::vector<std::string> badPaths;
};

struct OptionSpec {
  const char* longName;   // without the leading "--"
  char shortName;         // 0 when there is none
  const char* valueName;  // nullptr for an option that takes no value
  const char* help;       // lines of the --help text, "\n" between them
  // Applies the option; `typed` is the option as the user wrote it.  Returns
  // "" when fine, else what is wrong (a usage error).
  std::function<std::string(Options& o, const std::string& value, const std::string& typed)> apply;
};

const std::vector<OptionSpec>& OptionTable();

// The --help text.
std::string UsageText();

// Parses argv into o.  Returns "" on success, or the message of a usage error.
std::string ParseCommandLine(int argc, char** argv, Options& o);

}  // namespace tarnwick
