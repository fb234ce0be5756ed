#include "cli/options.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "search/export.h"
#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// A whole decimal number from minimum to maximum.
bool ParseCount(const std::string& text, long minimum, long maximum, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < minimum || v > maximum) return false;
  value = v;
  return true;
}

// Reads the paths of a --files-from list, one per line.  A CR before the line
// end is dropped; empty lines are passed over.
std::string ReadPathList(const std::string& from, Options& o) {
  std::ifstream file;
  std::istream* in = &std::cin;
  const std::string shown = from == "-" ? "standard input" : from;
  if (from != "-") {
    struct stat st {};
    if (stat(from.c_str(), &st) != 0) return "cannot read " + shown + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "cannot read " + shown + ": " + std::strerror(EISDIR);
    file.open(from, std::ios::binary);
    if (!file) return "cannot read " + shown + ": " + std::strerror(errno);
    in = &file;
  }
  std::string line;
  long number = 0;
  while (std::getline(*in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.find('\0') != std::string::npos) {
      std::string visible = line;
      for (char& c : visible)
        if (c == '\0') c = '?';
      o.badPaths.push_back(shown + ":" + std::to_string(number) + ": a path cannot hold a NUL byte: " + visible);
      continue;
    }
    o.paths.push_back(line);
  }
  if (in->bad()) return "cannot read " + shown + ": " + std::strerror(errno);
  return "";
}

std::vector<OptionSpec> MakeTable() {
  using V = const std::string&;
  return {
      {"recursive", 'r', nullptr, "search the folders below each folder too",
       [](Options& o, V, V) { o.recursive = true; return std::string(); }},
      {"files-from", 0, "FILE",
       "read further paths from FILE, one per line (- for\n"
       "standard input), at this place in the order; an\n"
       "empty list is an empty search",
       [](Options& o, V v, V) {
         o.listGiven = true;
         return ReadPathList(v, o);
       }},
      {"format", 0, "FORMAT", "standard output as tsv (default), csv (with a header\nline) or json",
       [](Options& o, V v, V typed) {
         o.formatGiven = true;
         return ParseOutputFormat(v, o.format) ? std::string()
                                                : "unknown format for " + typed + ": " + Quoted(v) +
                                                      " (tsv, csv or json)";
       }},
      {"output", 'o', "FILE",
       "write the rows to FILE instead of standard output,\n"
       "in the format its extension names: .txt (tab-\n"
       "separated) or .csv (every field quoted, no header\n"
       "line), UTF-8 with a BOM and CR LF; not with --format;\n"
       "an existing file is replaced whole, a device or FIFO\n"
       "written into",
       [](Options& o, V v, V typed) {
         const std::u16string name = PathText(v);
         if (!ExportFormatFor(name))
           return "the file of " + typed + " must end in .txt or .csv: " + Quoted(v);
         // ".txt" alone would make a hidden file with no name.
         if (FileNameOfPath(name).size() <= 4) return "the file of " + typed + " has no name before its extension: " + Quoted(v);
         o.outputFile = v;
         return std::string();
       }},
      {"match", 0, "TEXT",
       "keep the rows whose block name contains TEXT\n"
       "(letter case, character width and spaces ignored);\n"
       "an empty TEXT keeps every row",
       [](Options& o, V v, V) {
         o.match = PathText(v);
         return std::string();
       }},
      {"max-rows", 0, "N", "stop after N rows",
       [](Options& o, V v, V typed) {
         long n = 0;
         if (!ParseCount(v, 1, 0x7FFFFFFF, n)) return "invalid row count for " + typed + ": " + Quoted(v);
         o.maxRows = static_cast<int32_t>(n);
         return std::string();
       }},
      {"jobs", 'j', "N", "read drawings on N threads, 1 to 64 (default: one\nper hardware thread, at most 64)",
       [](Options& o, V v, V typed) {
         long n = 0;
         if (!ParseCount(v, 1, 0x7FFFFFFF, n)) return "invalid number of jobs for " + typed + ": " + Quoted(v);
         if (n > kMaxJobs)
           return "too many jobs for " + typed + ": " + v + " (at most " + std::to_string(kMaxJobs) + ")";
         o.jobs = static_cast<int>(n);
         return std::string();
       }},
      {"index", 0, "FILE",
       "keep an index of the drawings read in FILE (made\n"
       "when missing) and take the rows of every drawing\n"
       "unchanged since from it instead of reading it",
       [](Options& o, V v, V typed) {
         if (v.empty()) return "the file of " + typed + " has no name";
         o.indexFile = v;
         return std::string();
       }},
      {"index-only", 0, nullptr,
       "answer from the index of --index alone, looking at\n"
       "no file or folder: the rows of the paths given (with\n"
       "-r, of everything recorded below them) as the last\n"
       "search through the index found them",
       [](Options& o, V, V) {
         o.indexOnly = true;
         return std::string();
       }},
      {"io-depth", 0, "N",
       "open and read up to N drawings at once, 1 to 1024\n"
       "(default: 32); many in flight hide the\n"
       "latency of a file server",
       [](Options& o, V v, V typed) {
         long n = 0;
         if (!ParseCount(v, 1, 0x7FFFFFFF, n)) return "invalid I/O depth for " + typed + ": " + Quoted(v);
         if (n > kMaxIoDepth)
           return "too deep for " + typed + ": " + v + " (at most " + std::to_string(kMaxIoDepth) + ")";
         o.ioDepth = static_cast<int>(n);
         return std::string();
       }},
      {"details", 0, nullptr,
       "add to each row of --format json the definition's\n"
       "number, its stored entity counts and the extent of\n"
       "what it draws (reads each drawing in full)",
       [](Options& o, V, V) {
         o.details = true;
         return std::string();
       }},
      {"svg", 0, "DIR",
       "also write a drawing of each row's block as\n"
       "DIR/NNNNN.svg, NNNNN its number in output order from\n"
       "00001 (reads each drawing in full)",
       [](Options& o, V v, V typed) {
         if (v.empty()) return "the folder of " + typed + " is empty";
         o.svgDir = v;
         return std::string();
       }},
      {"verbose", 'v', nullptr, "also name every file passed over or not read to its\nend, and why",
       [](Options& o, V, V) {
         o.verbose = true;
         return std::string();
       }},
      {"quiet", 'q', nullptr, "show no progress line on a terminal",
       [](Options& o, V, V) {
         o.quiet = true;
         return std::string();
       }},
      {"help", 0, nullptr, "show this help and exit",
       [](Options& o, V, V) {
         o.help = true;
         return std::string();
       }},
      {"version", 0, nullptr, "show the version and exit",
       [](Options& o, V, V) {
         o.version = true;
         return std::string();
       }},
  };
}

static_assert(kDefaultIoDepth == 32, "the --io-depth help names the default");

constexpr int kLongBase = 0x1000;

// What went wrong with the argument `arg` that getopt refused (code '?' or
// ':'), said with the option as the user typed it.
std::string Diagnose(const char* arg, int code, int shortOpt) {
  const std::vector<OptionSpec>& table = OptionTable();
  const std::string a = arg ? arg : "";
  if (a.rfind("--", 0) == 0) {
    const size_t eq = a.find('=');
    const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const std::string typed = "--" + name;
    std::vector<const OptionSpec*> candidates;
    const OptionSpec* exact = nullptr;
    for (const OptionSpec& s : table) {
      if (name == s.longName) exact = &s;
      if (!name.empty() && std::string(s.longName).rfind(name, 0) == 0) candidates.push_back(&s);
    }
    if (!exact && candidates.size() == 1) exact = candidates[0];
    if (exact) {
      if (code == ':') return "option " + Quoted(typed) + " needs a value (" + exact->valueName + ")";
      if (!exact->valueName && eq != std::string::npos) return "option " + Quoted(typed) + " takes no value";
    }
    if (!exact && candidates.size() > 1) {
      std::string list;
      for (const OptionSpec* s : candidates) list += (list.empty() ? "" : ", ") + std::string("--") + s->longName;
      return "option " + Quoted(typed) + " is ambiguous: " + list;
    }
    return "unknown option " + Quoted(typed);
  }
  const std::string typed = std::string("-") + static_cast<char>(shortOpt);
  if (code == ':') {
    for (const OptionSpec& s : table)
      if (s.shortName == shortOpt) return "option " + Quoted(typed) + " needs a value (" + s.valueName + ")";
  }
  if (shortOpt > 0x20 && shortOpt < 0x7F) return "unknown option " + Quoted(typed);
  return "unknown option " + Quoted(a);
}

}  // namespace

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = MakeTable();
  return table;
}

std::string UsageText() {
  std::string s =
      "Usage: tarnwick-cli [OPTION]... PATH...\n"
      "List the block definitions stored in JWW drawings and JWS figure files.\n"
      "\n"
      "A PATH that is a file is searched as it is; a folder is searched for the\n"
      "*.jww and *.jws files directly in it (with -r, in every folder below it\n"
      "too, level by level).  Paths are taken in the order given; \"--\" ends the\n"
      "options, so every argument after it is a path.  Each row is the file\n"
      "name, the path (as given, joined with the names found below it) and the\n"
      "block name.\n"
      "\n";
  for (const OptionSpec& entry : OptionTable()) {
    std::string head = entry.shortName ? std::string("  -") + entry.shortName + ", " : std::string("      ");
    head += std::string("--") + entry.longName;
    if (entry.valueName) head += std::string(" ") + entry.valueName;
    const std::string indent(25, ' ');
    if (head.size() >= indent.size() - 1) {
      head += "\n" + indent;
    } else {
      head.resize(indent.size(), ' ');
    }
    std::string text = entry.help;
    for (size_t p = 0; (p = text.find('\n', p)) != std::string::npos; p += indent.size() + 1)
      text.insert(p + 1, indent);
    s += head + text + "\n";
  }
  s +=
      "\n"
      "TSV rows show a tab, line feed or carriage return inside a name as \\t, \\n\n"
      "or \\r; --format csv and json show every name exactly.\n"
      "\n"
      "Every PATH that cannot be searched (missing, not readable, not a file or\n"
      "folder) is named on standard error, and the others are searched.\n"
      "\n"
      "Exit status: 0 when done, 1 when the output could not be written,\n"
      "2 on a usage error or when a PATH could not be searched, 130 when\n"
      "stopped with Ctrl-C, 141 when standard output is a pipe its reader\n"
      "closed (the search stops at once, as on SIGPIPE).\n";
  return s;
}

std::string ParseCommandLine(int argc, char** argv, Options& o) {
  const std::vector<OptionSpec>& table = OptionTable();
  std::vector<option> longs;
  // "-": paths come back in their place among the options; ":": a missing
  // value is told apart from an unknown option.
  std::string shorts = "-:";
  for (size_t i = 0; i < table.size(); ++i) {
    const OptionSpec& s = table[i];
    longs.push_back({s.longName, s.valueName ? required_argument : no_argument, nullptr,
                     kLongBase + static_cast<int>(i)});
    if (s.shortName) {
      shorts += s.shortName;
      if (s.valueName) shorts += ':';
    }
  }
  longs.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 0;  // a full restart of getopt
  for (;;) {
    const int at = optind == 0 ? 1 : optind;
    int c = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr);
    if (c == -1) break;
    if (c == 1) {
      o.paths.push_back(optarg);
      continue;
    }
    const OptionSpec* entry = nullptr;
    std::string typed;
    if (c >= kLongBase) {
      entry = &table[static_cast<size_t>(c - kLongBase)];
      const std::string a = at < argc ? argv[at] : "";
      typed = a.rfind("--", 0) == 0 ? a.substr(0, a.find('=')) : std::string("--") + entry->longName;
    } else if (c != '?' && c != ':') {
      for (const OptionSpec& s : table)
        if (s.shortName == c) entry = &s;
      typed = std::string("-") + static_cast<char>(c);
    }
    if (!entry) return Diagnose(at < argc ? argv[at] : nullptr, c, optopt);
    std::string why = entry->apply(o, entry->valueName && optarg ? optarg : "", typed);
    if (!why.empty()) return why;
  }
  // Everything after "--" is a path.
  for (int i = optind; i < argc; ++i) o.paths.push_back(argv[i]);
  if (o.help || o.version) return "";
  if (o.paths.empty() && o.badPaths.empty() && !o.listGiven) return "no file or folder given";
  if (o.details && (o.format != OutputFormat::kJson || o.outputFile))
    return "--details adds to the rows of --format json only";
  if (o.indexOnly && !o.indexFile) return "--index-only needs --index FILE";
  if (o.outputFile && o.formatGiven)
    return "--format cannot be used with -o: the extension of the file (.txt or .csv) chooses its format";
  return "";
}

}  // namespace tarnwick
