// tarnwick-cli: lists the block definitions of JWW and JWS drawings.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "cli/details.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "index/index_cache.h"
#include "index/index_db.h"
#include "index/index_search.h"
#include "search/engine.h"
#include "draw/svg.h"
#include "search/export.h"
#include "text/path_utils.h"
#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

constexpr const char* kVersion = "tarnwick-cli 1.10.0";

// Set by Ctrl-C; gStop stops the search, for Ctrl-C or a failed write.
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gStop{false};

void OnInterrupt(int) {
  gInterrupted.store(true);
  gStop.store(true);
  // A second Ctrl-C ends the program at once.
  signal(SIGINT, SIG_DFL);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tarnwick-cli: %s\nTry 'tarnwick-cli --help' for more information.\n", message.c_str());
  return 2;
}

void Message(const std::string& text) { std::fprintf(stderr, "tarnwick-cli: %s\n", text.c_str()); }

// A path as the engine reports it and as it was given, compared without a
// trailing separator.
std::u16string Key(std::u16string path) {
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  return path;
}

// Shows the rows on standard output (or keeps them for -o), the reports of
// --verbose, the paths given that could not be searched, and the progress
// line on a terminal.
class CliObserver : public SearchObserver {
 public:
  CliObserver(const Options& o, RowWriter* writer, ProgressLine& progress, bool rowsOnTerminal)
      : options_(o), writer_(writer), progress_(progress), rowsOnTerminal_(rowsOnTerminal) {}

  // Paths given on the command line: a problem with one of them is always told.
  void given(const std::u16string& path) { given_.insert(Key(path)); }

  void status(StatusKind kind, const std::u16string& path) override {
    if (kind != StatusKind::kFolder) return;
    progress_.folderStarted(NativePath(path));
    progress_.update();
  }

  void rows(const std::vector<SearchRow>& rows) override {
    progress_.rowsAdded(rows.size());
    if (options_.svgDir) writeSvgs(rows);
    if (writer_) {
      if (rowsOnTerminal_) progress_.clear();
      for (const SearchRow& r : rows) {
        if (!writer_->row(r, options_.details ? drawings_.jsonFields(r) : std::string())) {
          // The rest would be lost too: the search stops here.
          gStop.store(true);
          break;
        }
      }
    } else {
      kept_.insert(kept_.end(), rows.begin(), rows.end());
    }
  }

  void file(const FileReport& report) override {
    progress_.fileDone();
    const bool problem = report.outcome != FileOutcome::kRead;
    bool always = false;
    if (problem && report.outcome != FileOutcome::kNotDrawing && report.outcome != FileOutcome::kNotOfFormat &&
        report.outcome != FileOutcome::kDamaged) {
      always = given_.count(Key(report.path)) != 0;
    }
    if (always) pathFailed_ = true;
    if (always || (options_.verbose && (problem || report.cutName >= 0))) {
      std::string line = NativePath(report.path) + ": " + FileOutcomeText(report.outcome);
      if (report.error != 0) line += std::string(" (") + std::strerror(report.error) + ")";
      if (report.outcome == FileOutcome::kDamaged) line += "; rows listed: " + std::to_string(report.definitions);
      if (report.cutName >= 0)
        line += "; the end of the file cut short the name of definition " + std::to_string(report.cutName + 1) +
                ", listed as \"" + ToUtf8(report.cutText) + "\"";
      progress_.clear();
      Message(line);
    }
    progress_.update();
  }

  std::vector<SearchRow>& kept() { return kept_; }
  bool pathFailed() const { return pathFailed_; }
  bool svgFailed() const { return svgFailed_; }

 private:
  // One picture per row, numbered in output order; a row whose definition
  // could not be read gets an empty picture, so the numbers stay in step.
  void writeSvgs(const std::vector<SearchRow>& rows) {
    const std::u16string dir = PathText(*options_.svgDir);
    for (const SearchRow& r : rows) {
      const draw::DisplayList* list = drawings_.listOf(r);
      const std::u16string target = RowDrawings::SvgPath(dir, ++svgCount_);
      std::string why;
      if (!WriteFileAtomically(target, draw::ToSvg(list ? *list : draw::DisplayList{}), &why)) {
        progress_.clear();
        Message("cannot write " + NativePath(target) + ": " + why);
        svgFailed_ = true;
      }
    }
  }

  RowDrawings drawings_;
  size_t svgCount_ = 0;
  bool svgFailed_ = false;
  const Options& options_;
  RowWriter* writer_;
  ProgressLine& progress_;
  bool rowsOnTerminal_;
  std::vector<SearchRow> kept_;
  std::unordered_set<std::u16string> given_;
  bool pathFailed_ = false;
};

// What a look at a path given on the command line found.
struct Look {
  int error = 0;      // errno of the stat, 0 when it answered
  bool folder = false;
  bool regular = false;
  int listError = 0;  // a folder: errno of opening it for listing
};

Look LookAt(const std::string& p) {
  Look l;
  struct stat st {};
  if (stat(p.c_str(), &st) != 0) {
    l.error = errno;
    return l;
  }
  l.folder = S_ISDIR(st.st_mode);
  l.regular = S_ISREG(st.st_mode);
  if (l.folder) {
    DIR* d = opendir(p.c_str());
    if (!d)
      l.listError = errno;
    else
      closedir(d);
  }
  return l;
}

// Looks at every path given, up to `depth` at once: on a file server each
// look waits a round trip, and a long --files-from list would otherwise wait
// for them one at a time.
std::vector<Look> LookAtAll(const std::vector<std::string>& paths, int depth) {
  std::vector<Look> looks(paths.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < paths.size();) looks[i] = LookAt(paths[i]);
  };
  const size_t threads = std::min<size_t>(static_cast<size_t>(std::max(depth, 1)), paths.size() / 4);
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return looks;
}

// Takes a path given on the command line, as its look found it: a file or a
// folder that can be listed becomes an entry; anything else is told at once.
bool Take(const std::string& p, const Look& l, const Options& o, std::vector<SearchEntry>& entries,
          CliObserver& observer) {
  if (l.error != 0) {
    Message(p + ": " + std::strerror(l.error));
    return false;
  }
  if (l.folder) {
    if (l.listError != 0) {
      Message(p + ": cannot be listed (" + std::strerror(l.listError) + ")");
      return false;
    }
    entries.push_back({PathText(p), true, o.recursive});
  } else if (l.regular) {
    entries.push_back({PathText(p), false, false});
  } else {
    Message(p + ": not a regular file or folder");
    return false;
  }
  observer.given(entries.back().path);
  return true;
}

int Run(int argc, char** argv) {
  // Ctrl-C stops the search like Escape in the app; the rows found so far
  // are still written.
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  // A closed pipe shows as EPIPE on the write, so the search can stop in
  // order; the signal is raised again at the end.
  signal(SIGPIPE, SIG_IGN);

  Options o;
  const std::string error = ParseCommandLine(argc, argv, o);
  if (!error.empty()) return UsageError(error);
  if (o.help) {
    std::fputs(UsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (o.version) {
    std::puts(kVersion);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  // An output file that cannot be written is told before the search.
  if (o.outputFile) {
    std::string why;
    if (!CanWriteFile(PathText(*o.outputFile), &why)) {
      Message("cannot write " + *o.outputFile + ": " + why);
      return 1;
    }
  }

  if (o.svgDir && !CreateFolder(PathText(*o.svgDir))) {
    Message("cannot make the folder " + *o.svgDir + ": " + std::strerror(errno));
    return 1;
  }

  const bool rowsOnTerminal = !o.outputFile && isatty(STDOUT_FILENO) == 1;
  ProgressLine progress(stderr, !o.quiet && isatty(STDERR_FILENO) == 1);
  std::optional<RowWriter> writer;
  if (!o.outputFile) writer.emplace(stdout, o.format, rowsOnTerminal);
  CliObserver observer(o, writer ? &*writer : nullptr, progress, rowsOnTerminal);

  bool pathFailed = !o.badPaths.empty();
  for (const std::string& m : o.badPaths) Message(m);
  std::vector<SearchEntry> entries;
  entries.reserve(o.paths.size());
  if (o.indexOnly) {
    // Whether it is a file or a folder, the index says.
    for (const std::string& p : o.paths) {
      entries.push_back({PathText(p), false, o.recursive});
      observer.given(entries.back().path);
    }
  } else {
    const std::vector<Look> looks = LookAtAll(o.paths, o.ioDepth);
    for (size_t i = 0; i < o.paths.size(); ++i)
      if (!Take(o.paths[i], looks[i], o, entries, observer)) pathFailed = true;
  }

  std::unique_ptr<IndexDb> index;
  std::optional<IndexCache> cache;
  if (o.indexFile) {
    IndexOptions io;
    io.report = [&](const std::string& what) {
      Message("index " + *o.indexFile + ": " + what +
              (o.indexOnly ? "" : "; the search goes on without it"));
    };
    index = IndexDb::Open(*o.indexFile, io);
    if (!o.indexOnly) cache.emplace(*index);
  }

  SearchOptions search;
  search.rowCap = o.maxRows;
  search.jobs = o.jobs;
  search.ioDepth = o.ioDepth;
  search.cancel = &gStop;
  if (cache) search.cache = &*cache;
  std::u16string matchKey;
  if (o.match) {
    std::u16string key = StrNormalizeKey(*o.match);
    matchKey = key;
    // An empty text is in every name.
    if (!key.empty())
      search.keep = [key](const std::u16string& block) { return StrIndexOf(key, StrNormalizeKey(block)) >= 0; };
  }
  SearchResult result;
  if (o.indexOnly) {
    if (index->usable()) {
      result = SearchIndexOnly(*index, entries, search, matchKey, observer);
    } else if (!entries.empty()) {
      pathFailed = true;
    }
  } else if (!entries.empty()) {
    result = SearchEntries(entries, search, observer);
  }
  progress.clear();
  pathFailed = pathFailed || observer.pathFailed();

  int status = 0;
  bool written = true, brokenPipe = false;
  if (writer) {
    if (!writer->finish()) {
      written = false;
      brokenPipe = writer->error() == EPIPE;
      if (!brokenPipe) Message(std::string("cannot write to standard output: ") + std::strerror(writer->error()));
    } else if (writer->escaped()) {
      Message("a tab or line break in a name was shown as \\t, \\n or \\r; --format csv or json shows it exactly");
    }
  } else if (entries.empty() && pathFailed) {
    // Nothing could be searched: the file is left as it was.
    Message(*o.outputFile + " not written: no path given could be searched");
  } else {
    const std::u16string target = PathText(*o.outputFile);
    std::string why;
    if (!WriteFileAtomically(target, FormatExport(observer.kept(), *ExportFormatFor(target)), &why)) {
      Message("cannot write " + *o.outputFile + ": " + why);
      written = false;
    }
  }
  if (brokenPipe) {
    // Quietly, as every program in a pipeline whose reader has gone.
    std::fflush(stderr);
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
    return 128 + SIGPIPE;
  }
  if (!written || observer.svgFailed()) return 1;
  if (result.capReached)
    Message("stopped at the row limit of " + std::to_string(o.maxRows) + (o.maxRows == 1 ? " row" : " rows"));
  if (gInterrupted.load()) {
    Message("interrupted; the rows found so far were written");
    status = 130;
  } else if (pathFailed) {
    status = 2;
  }
  return status;
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) { return tarnwick::Run(argc, argv); }
