// tarnwick-cli: lists the block definitions of JWW and JWS drawings.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/output.h"
#include "search/engine.h"
#include "search/export.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

constexpr const char* kVersion = "tarnwick-cli 1.10.0";

constexpr const char* kUsage =
    "Usage: tarnwick-cli [OPTION]... PATH...\n"
    "List the block definitions stored in JWW drawings and JWS figure files.\n"
    "\n"
    "A PATH that is a file is searched as it is; a folder is searched for the\n"
    "*.jww and *.jws files directly in it (with -r, in every folder below it\n"
    "too, level by level).  Paths are taken in the order given.  Each row is\n"
    "the file name, the full path and the block name.\n"
    "\n"
    "  -r, --recursive        search the folders below each folder too\n"
    "      --files-from FILE  read further paths from FILE, one per line (- for\n"
    "                         standard input), at this place in the order\n"
    "      --format FORMAT    standard output as tsv (default), csv or json\n"
    "  -o FILE                write the rows to FILE instead, as tab-separated\n"
    "                         text (.txt) or CSV (.csv), UTF-8 with a BOM\n"
    "      --match TEXT       keep the rows whose block name contains TEXT\n"
    "                         (letter case, character width and spaces ignored)\n"
    "      --max-rows N       stop after N rows\n"
    "  -j, --jobs N           read drawings on N threads (default: all)\n"
    "  -v, --verbose          name every file passed over or not read to its end\n"
    "      --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status: 0 when done, 1 when the output could not be written,\n"
    "2 on a usage error, 130 when stopped with Ctrl-C.\n";

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
  gInterrupted.store(true);
  // A second Ctrl-C ends the program at once.
  signal(SIGINT, SIG_DFL);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tarnwick-cli: %s\nTry 'tarnwick-cli --help' for more information.\n", message.c_str());
  return 2;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct Options {
  bool recursive = false;
  OutputFormat format = OutputFormat::kTsv;
  std::optional<std::string> outputFile;
  std::optional<std::u16string> match;
  int32_t maxRows = 0;
  int jobs = 0;
  bool verbose = false;
  // Paths in order; --files-from lists are read at their place.
  std::vector<std::string> paths;
};

bool ReadPathList(const std::string& from, std::vector<std::string>& paths) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (from != "-") {
    file.open(from, std::ios::binary);
    if (!file) return false;
    in = &file;
  }
  std::string line;
  while (std::getline(*in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return true;
}

bool ParseCount(const char* text, long minimum, long& value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < minimum || v > 0x7FFFFFFF) return false;
  value = v;
  return true;
}

// Parses the command line.  Returns an exit status when the program should
// end right away.
std::optional<int> Parse(int argc, char** argv, Options& o) {
  enum { kFilesFrom = 1000, kFormat, kMatch, kMaxRows, kHelp, kVersionOpt };
  static const option kLong[] = {
      {"recursive", no_argument, nullptr, 'r'},      {"files-from", required_argument, nullptr, kFilesFrom},
      {"format", required_argument, nullptr, kFormat}, {"match", required_argument, nullptr, kMatch},
      {"max-rows", required_argument, nullptr, kMaxRows}, {"jobs", required_argument, nullptr, 'j'},
      {"verbose", no_argument, nullptr, 'v'},         {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersionOpt}, {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  // The leading "-" keeps paths in their place among the options.
  while ((c = getopt_long(argc, argv, "-rvo:j:", kLong, nullptr)) != -1) {
    long n = 0;
    switch (c) {
      case 1: o.paths.push_back(optarg); break;
      case 'r': o.recursive = true; break;
      case 'v': o.verbose = true; break;
      case 'o': o.outputFile = optarg; break;
      case 'j':
        if (!ParseCount(optarg, 1, n)) return UsageError(std::string("invalid number of jobs: ") + optarg);
        o.jobs = static_cast<int>(n);
        break;
      case kFilesFrom:
        if (!ReadPathList(optarg, o.paths)) return UsageError(std::string("cannot read ") + optarg);
        break;
      case kFormat:
        if (!ParseOutputFormat(optarg, o.format)) return UsageError(std::string("unknown format: ") + optarg);
        break;
      case kMatch: o.match = PathText(optarg); break;
      case kMaxRows:
        if (!ParseCount(optarg, 1, n)) return UsageError(std::string("invalid row count: ") + optarg);
        o.maxRows = static_cast<int32_t>(n);
        break;
      case kHelp: std::fputs(kUsage, stdout); return 0;
      case kVersionOpt: std::puts(kVersion); return 0;
      case '?':
      default:
        if (optopt) return UsageError(std::string("option needs an argument or is unknown: -") + char(optopt));
        return UsageError(std::string("unknown option: ") + argv[optind - 1]);
    }
  }
  if (o.paths.empty()) return UsageError("no file or folder given");
  if (o.outputFile && !ExportFormatFor(PathText(*o.outputFile)))
    return UsageError("the output file must end in .txt or .csv: " + *o.outputFile);
  return std::nullopt;
}

// Shows the rows on standard output (or keeps them for -o), the reports of
// --verbose and a progress line on a terminal.
class CliObserver : public SearchObserver {
 public:
  CliObserver(const Options& o, RowWriter* writer) : options_(o), writer_(writer) {
    progress_ = isatty(STDERR_FILENO) == 1;
  }

  void rows(const std::vector<SearchRow>& rows) override {
    rowCount_ += rows.size();
    if (writer_) {
      for (const SearchRow& r : rows) writer_->row(r);
    } else {
      kept_.insert(kept_.end(), rows.begin(), rows.end());
    }
  }

  void file(const FileReport& report) override {
    ++files_;
    if (options_.verbose && report.outcome != FileOutcome::kRead) {
      clearProgress();
      std::string line = "tarnwick-cli: " + NativePath(report.path) + ": " + FileOutcomeText(report.outcome);
      if (report.outcome == FileOutcome::kDamaged)
        line += "; rows listed: " + std::to_string(report.definitions);
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    showProgress();
  }

  void finish() { clearProgress(); }
  std::vector<SearchRow>& kept() { return kept_; }

 private:
  void showProgress() {
    if (!progress_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(100)) return;
    lastShown_ = now;
    std::fprintf(stderr, "\r%zu files, %zu rows\033[K", files_, rowCount_);
    shown_ = true;
  }
  void clearProgress() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

  const Options& options_;
  RowWriter* writer_;
  std::vector<SearchRow> kept_;
  size_t files_ = 0;
  size_t rowCount_ = 0;
  bool progress_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point lastShown_{};
};

int Run(int argc, char** argv) {
  // Ctrl-C stops the search like Escape in the app; the rows found so far
  // are still written.
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);

  Options o;
  if (auto status = Parse(argc, argv, o)) return *status;

  std::vector<SearchEntry> entries;
  for (const std::string& p : o.paths) entries.push_back({PathText(p), IsFolder(p), o.recursive});

  SearchOptions search;
  search.rowCap = o.maxRows;
  search.jobs = o.jobs;
  search.cancel = &gInterrupted;
  if (o.match) {
    std::u16string key = StrNormalizeKey(*o.match);
    search.keep = [key](const std::u16string& block) { return StrIndexOf(key, StrNormalizeKey(block)) >= 0; };
  }

  std::optional<RowWriter> writer;
  if (!o.outputFile) writer.emplace(stdout, o.format);
  CliObserver observer(o, writer ? &*writer : nullptr);
  SearchResult result = SearchEntries(entries, search, observer);
  observer.finish();

  int status = 0;
  if (writer) {
    if (!writer->finish()) {
      std::fprintf(stderr, "tarnwick-cli: cannot write to standard output: %s\n", std::strerror(errno));
      status = 1;
    }
  } else {
    const std::u16string target = PathText(*o.outputFile);
    std::string error;
    if (!WriteFileAtomically(target, FormatExport(observer.kept(), *ExportFormatFor(target)), &error)) {
      std::fprintf(stderr, "tarnwick-cli: cannot write %s: %s\n", o.outputFile->c_str(), error.c_str());
      status = 1;
    }
  }
  if (result.capReached)
    std::fprintf(stderr, "tarnwick-cli: stopped at the row limit of %d rows\n", static_cast<int>(o.maxRows));
  if (result.aborted) {
    std::fprintf(stderr, "tarnwick-cli: interrupted; the rows found so far were written\n");
    if (status == 0) status = 130;
  }
  return status;
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) { return tarnwick::Run(argc, argv); }
