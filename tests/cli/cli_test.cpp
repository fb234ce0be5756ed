// tarnwick-cli as a user runs it: arguments, output formats, exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>

#include "cli/details.h"
#include "cli/output.h"
#include "text/utf.h"
#include "draw/drawing_file.h"
#include "support/tree_fixture.h"

extern char** environ;

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using namespace tarnwick::testing;

struct Outcome {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Cli : public testing::TreeFixture {
 protected:
  // Runs the tool in the fixture's folder; stdin from a file when given.
  Outcome run(std::vector<std::string> args, const std::string& input = "", int interruptAfterMs = -1) {
    const fs::path out = root_ / ".out", err = root_ / ".err", in = root_ / ".in";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string cwd = fs::current_path().string();
    fs::current_path(root_);
    std::vector<char*> argv;
    std::string exe = TARNWICK_CLI;
    argv.push_back(exe.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
    fs::current_path(cwd);
    posix_spawn_file_actions_destroy(&fa);
    Outcome r;
    if (rc != 0) return r;
    if (interruptAfterMs >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
      kill(pid, SIGINT);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }

  // Runs the tool with standard output on fd; SIGPIPE ignored when asked.
  Outcome runWithOutput(std::vector<std::string> args, int fd, bool ignorePipeSignal) {
    const fs::path err = root_ / ".err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, fd, 1);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, pipeSet;
    sigemptyset(&none);
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, ignorePipeSignal ? &none : &pipeSet);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    struct sigaction old {}, ign {};
    ign.sa_handler = SIG_IGN;
    if (ignorePipeSignal) sigaction(SIGPIPE, &ign, &old);
    const std::string cwd = fs::current_path().string();
    fs::current_path(root_);
    std::vector<char*> argv;
    std::string exe = TARNWICK_CLI;
    argv.push_back(exe.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &fa, &attr, argv.data(), environ);
    fs::current_path(cwd);
    if (ignorePipeSignal) sigaction(SIGPIPE, &old, nullptr);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    Outcome r;
    if (rc != 0) return r;
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.err = Slurp(err);
    return r;
  }
};

std::string Join(const std::vector<std::string>& args) {
  std::string s;
  for (const std::string& a : args) s += (s.empty() ? "" : " ") + a;
  return s.empty() ? "(none)" : s;
}

TEST_F(Cli, UsageErrorsNameTheOptionAsTypedAndExitWithTwo) {
  put("list", {});
  std::filesystem::create_directory(root_ / "dir");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "no file or folder given"},
      {{"--bogus", "a.jww"}, "unknown option '--bogus'"},
      {{"-x", "a.jww"}, "unknown option '-x'"},
      {{"dir", "--match"}, "option '--match' needs a value (TEXT)"},
      {{"dir", "--max-rows"}, "option '--max-rows' needs a value (N)"},
      {{"dir", "--files-from"}, "option '--files-from' needs a value (FILE)"},
      {{"dir", "--format"}, "option '--format' needs a value (FORMAT)"},
      {{"dir", "-o"}, "option '-o' needs a value (FILE)"},
      {{"--help=x"}, "option '--help' takes no value"},
      {{"--version=1"}, "option '--version' takes no value"},
      {{"--recursive=yes", "dir"}, "option '--recursive' takes no value"},
      {{"--m", "x", "dir"}, "option '--m' is ambiguous: --match, --max-rows"},
      {{"--format", "xml", "a.jww"}, "unknown format for --format: 'xml'"},
      {{"--form=xml", "a.jww"}, "unknown format for --form: 'xml'"},
      {{"-o", "out.dat", "a.jww"}, "the file of -o must end in .txt or .csv: 'out.dat'"},
      {{"-o", ".txt", "a.jww"}, "the file of -o has no name before its extension: '.txt'"},
      {{"--output=dir/.CSV", "a.jww"}, "the file of --output has no name before its extension"},
      {{"-o", "a.txt", "--format", "csv", "a.jww"}, "--format cannot be used with -o"},
      {{"--max-rows", "0", "a.jww"}, "invalid row count for --max-rows: '0'"},
      {{"-j", "x", "a.jww"}, "invalid number of jobs for -j: 'x'"},
      {{"-j", "0", "a.jww"}, "invalid number of jobs"},
      {{"-j", "100000", "a.jww"}, "too many jobs for -j: 100000 (at most 64)"},
      {{"--jobs=2147483647", "a.jww"}, "too many jobs for --jobs"},
      {{"-j", "99999999999999999999", "a.jww"}, "invalid number of jobs"},
      {{"--files-from", "missing.txt"}, "cannot read missing.txt: No such file or directory"},
      {{"--files-from", "dir"}, "cannot read dir: Is a directory"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(2, r.status) << Join(c.args);
    EXPECT_EQ(0u, r.err.find("tarnwick-cli: " + c.message)) << Join(c.args) << "\n" << r.err;
    EXPECT_EQ(std::string::npos, r.err.find('\xEA')) << r.err;
    EXPECT_TRUE(r.out.empty()) << Join(c.args);
  }
  Outcome help = run({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find("Usage: tarnwick-cli"));
  EXPECT_EQ(0, run({"--version"}).status);
}

TEST_F(Cli, TabSeparatedRowsWithThePathAsGiven) {
  drawing("plans/a.jww", {"door@@SfigorgFlag@@4", testing::Cp932(u"\u6249")});
  drawing("b.jws", {"car"}, true);
  Outcome r = run({"./plans//a.jww", "b.jws"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(
      "a.jww\t./plans//a.jww\tdoor\n"
      "a.jww\t./plans//a.jww\t\xE6\x89\x89\n"
      "b.jws\tb.jws\tcar\n",
      r.out);
  EXPECT_TRUE(r.err.empty()) << "only --verbose names problem files";
}

TEST_F(Cli, CsvAndJsonOnStandardOutput) {
  drawing("q.jww", {"say \"hi\"", "back\\slash"});
  drawing("r\".jww", {"z"});
  Outcome csv = run({"--format", "csv", "q.jww", "r\".jww", "q.jww"});
  EXPECT_EQ(
      "\"file\",\"path\",\"block\"\n"
      "\"q.jww\",\"q.jww\",\"say \"\"hi\"\"\"\n"
      "\"q.jww\",\"q.jww\",\"back\\slash\"\n"
      "\"r\"\".jww\",\"r\"\".jww\",\"z\"\n"
      "\"q.jww\",\"q.jww\",\"say \"\"hi\"\"\"\n"
      "\"q.jww\",\"q.jww\",\"back\\slash\"\n",
      csv.out);
  Outcome json = run({"--format", "json", "q.jww"});
  EXPECT_EQ(
      "[\n"
      "{\"file\": \"q.jww\", \"path\": \"q.jww\", \"block\": \"say \\\"hi\\\"\"},\n"
      "{\"file\": \"q.jww\", \"path\": \"q.jww\", \"block\": \"back\\\\slash\"}\n"
      "]\n",
      json.out);
  Outcome none = run({"--format", "json", "nothing.jww"});
  EXPECT_EQ("[]\n", none.out);
}

TEST_F(Cli, OutputFileInTheExportFormat) {
  drawing("a.jww", {"x"});
  Outcome r = run({"-o", "rows.CSV", "a.jww"});
  EXPECT_EQ(0, r.status);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ("\xEF\xBB\xBF\"a.jww\",\"a.jww\",\"x\"\r\n", Slurp(root_ / "rows.CSV"));
  Outcome t = run({"-o", "rows.txt", "a.jww"});
  EXPECT_EQ("\xEF\xBB\xBF" "a.jww\ta.jww\tx\r\n", Slurp(root_ / "rows.txt"));
}

TEST_F(Cli, OutputThatCannotBeWrittenExitsWithOne) {
  drawing("a.jww", {"x"});
  Outcome r = run({"-o", "no/such/folder/rows.txt", "a.jww"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot write no/such/folder/rows.txt")) << r.err;
}

TEST_F(Cli, MatchMaxRowsAndFilesFrom) {
  drawing("a.jww", {"Door-1", "window", testing::Cp932(u"\uFF24\uFF2F\uFF2F\uFF32 2"), "door3"});
  Outcome m = run({"--match", "door", "a.jww"});
  EXPECT_EQ("a.jww\ta.jww\tDoor-1\na.jww\ta.jww\t\xEF\xBC\xA4\xEF\xBC\xAF\xEF\xBC\xAF\xEF\xBC\xB2 2\n"
            "a.jww\ta.jww\tdoor3\n",
            m.out);
  Outcome cap = run({"--match", "DOOR", "--max-rows", "2", "a.jww"});
  EXPECT_EQ(0, cap.status);
  EXPECT_EQ(2, std::count(cap.out.begin(), cap.out.end(), '\n'));
  EXPECT_NE(std::string::npos, cap.err.find("row limit of 2")) << cap.err;

  drawing("b.jws", {"b"}, true);
  Outcome from = run({"b.jws", "--files-from", "-", "b.jws"}, "a.jww\r\n\nb.jws\n");
  EXPECT_EQ("b\nDoor-1\nwindow\n\xEF\xBC\xA4\xEF\xBC\xAF\xEF\xBC\xAF\xEF\xBC\xB2 2\ndoor3\nb\nb\n",
            [&] {
              std::string blocks;
              std::istringstream in(from.out);
              for (std::string line; std::getline(in, line);) blocks += line.substr(line.rfind('\t') + 1) + "\n";
              return blocks;
            }());
}

TEST_F(Cli, VerboseNamesFilesPassedOverAndWhy) {
  drawing("d/good.jww", {"g"});
  put("d/bad.jww", {'n', 'o', 'p', 'e'});
  put("d/x.jwk", {'?'});
  Drawing dr;
  Definition def;
  def.name = "part";
  def.entities = {Line{}, Line{}};
  dr.definitions = {def};
  Bytes cut = Write(dr);
  cut.resize(cut.size() - 60);  // the second line is gone
  put("d/cut.jww", cut);
  Outcome r = run({"-v", "d"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("cut.jww\td/cut.jww\tpart\ngood.jww\td/good.jww\tg\n", r.out);
  EXPECT_NE(std::string::npos, r.err.find("d/bad.jww: not a drawing of a supported version"));
  EXPECT_NE(std::string::npos, r.err.find("d/cut.jww: damaged: read stopped part-way; rows listed: 1"));
  EXPECT_NE(std::string::npos, r.err.find("d/x.jwk: not a .jww or .jws file"));
}

TEST_F(Cli, RecursiveWalkOfAnAwkwardTreeInOrder) {
  drawing("t/z.jww", {"t-z"});
  drawing("t/A.jws", {"t-a"}, true);
  drawing("t/b/one.jww", {"b-one"});
  drawing("t/b/deeper/two.jww", {"b-deeper"});
  drawing("t/C/three.JWW", {"c"});
  put("t/b/readme.txt", {'r'});
  put("t/b/not.jwk", {'?'});
  drawing("t/locked/hidden.jww", {"locked"});
  fs::create_directory_symlink(root_ / "t", root_ / "t/b/deeper/loop");
  ASSERT_EQ(0, ::mkfifo((root_ / "t/C/fifo.jww").c_str(), 0600));
  lock("t/locked");
  Outcome r = run({"-r", "t"});
  EXPECT_EQ(0, r.status);
  std::string expected =
      "A.jws\tt/A.jws\tt-a\n"
      "z.jww\tt/z.jww\tt-z\n"
      "one.jww\tt/b/one.jww\tb-one\n"
      "three.JWW\tt/C/three.JWW\tc\n";
  if (::geteuid() == 0) expected += "hidden.jww\tt/locked/hidden.jww\tlocked\n";
  expected += "two.jww\tt/b/deeper/two.jww\tb-deeper\n";
  EXPECT_EQ(expected, r.out);
  // One thread or many: the same bytes.
  EXPECT_EQ(r.out, run({"-r", "-j1", "t"}).out);
  EXPECT_EQ(r.out, run({"-r", "-j7", "t"}).out);
}

TEST_F(Cli, InterruptPrintsTheRowsSoFarAndExitsWith130) {
  const std::string one = drawing("a.jww", {"blk"});
  std::string list;
  for (int i = 0; i < 400000; ++i) list += "a.jww\n";
  std::ofstream(root_ / "list.txt") << list;
  Outcome r = run({"--files-from", "list.txt"}, "", 300);
  ASSERT_EQ(130, r.status) << "the search ended before the interrupt came";
  EXPECT_NE(std::string::npos, r.err.find("interrupted"));
  // Whole lines only.
  EXPECT_TRUE(r.out.empty() || r.out.back() == '\n');
  EXPECT_LT(std::count(r.out.begin(), r.out.end(), '\n'), 400000);
}

TEST_F(Cli, RealDrawingsGiveTheirRows) {
  const fs::path samples = fs::path(TARNWICK_SHARED_DIR) / "samples";
  if (!fs::exists(samples / "README.md")) GTEST_SKIP() << "no sample drawings beside this clone";
  Outcome r = run({samples.string() + "/S12.jws", samples.string() + "/LT 2.jws"});
  std::string blocks;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) blocks += line.substr(line.rfind('\t') + 1) + " ";
  EXPECT_EQ("aaa q ee asdd S12 D2 SHEET B60l K09Dr2 A8 C4 DG JH G1 K18Cr2 ", blocks);
}


// Only the block names of the rows, one per line.
std::string Blocks(const std::string& out) {
  std::string blocks;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) blocks += line.substr(line.rfind('\t') + 1) + "\n";
  return blocks;
}

TEST_F(Cli, DoubleDashEndsTheOptionsAndKeepsEveryPathAfterIt) {
  drawing("a.jww", {"a"});
  drawing("-b.jww", {"b"});
  drawing("--c.jww", {"c"});
  const struct {
    std::vector<std::string> args;
    std::string blocks;
  } cases[] = {
      {{"a.jww", "--", "-b.jww"}, "a\nb\n"},
      {{"--", "a.jww"}, "a\n"},
      {{"--", "-b.jww", "--c.jww", "a.jww"}, "b\nc\na\n"},
      {{"-j1", "a.jww", "-r", "--", "-b.jww"}, "a\nb\n"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(0, r.status) << Join(c.args) << r.err;
    EXPECT_EQ(c.blocks, Blocks(r.out)) << Join(c.args);
  }
  // After "--", "-r" and "--" are paths too.
  for (const std::string p : {"-r", "--"}) {
    Outcome r = run({"a.jww", "--", p, "-b.jww"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("a\nb\n", Blocks(r.out));
    EXPECT_EQ("tarnwick-cli: " + p + ": No such file or directory\n", r.err);
  }
}

// Every path given that cannot be searched is told, whatever the options;
// the others are searched and the exit status is 2.
TEST_F(Cli, PathsThatCannotBeSearchedAreToldAndTheOthersSearched) {
  drawing("a.jww", {"a"});
  drawing("d/b.jww", {"b"});
  drawing("locked/c.jww", {"c"});
  ASSERT_EQ(0, ::mkfifo((root_ / "fifo.jww").c_str(), 0600));
  const bool root = ::geteuid() == 0;
  if (!root) lock("locked");
  const struct {
    std::string path, message;
  } cases[] = {
      {"missing.jww", "missing.jww: No such file or directory"},
      {"nofolder/", "nofolder/: No such file or directory"},
      {"fifo.jww", "fifo.jww: not a regular file or folder"},
      {"a.jww/x.jww", "a.jww/x.jww: Not a directory"},
      {"locked", root ? "" : "locked: cannot be listed (Permission denied)"},
  };
  for (const auto& c : cases) {
    if (c.message.empty()) continue;
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"-v"}, {"-o", "rows.txt"}}) {
      std::vector<std::string> args = extra;
      for (const std::string& p : {std::string("a.jww"), c.path, std::string("d")}) args.push_back(p);
      Outcome r = run(args);
      EXPECT_EQ(2, r.status) << Join(args);
      EXPECT_NE(std::string::npos, r.err.find("tarnwick-cli: " + c.message + "\n")) << Join(args) << "\n" << r.err;
      const std::string rows = extra.size() == 2 ? Slurp(root_ / "rows.txt") : r.out;
      EXPECT_NE(std::string::npos, rows.find("\ta\r\n") == std::string::npos ? rows.find("\ta\n") : 0) << rows;
      EXPECT_NE(std::string::npos, rows.find("d/b.jww")) << Join(args) << rows;
    }
  }
  // When no path could be searched, an existing -o file is left alone.
  put("kept.txt", {'o', 'l', 'd'});
  Outcome none = run({"-o", "kept.txt", "missing.jww"});
  EXPECT_EQ(2, none.status);
  EXPECT_EQ("old", Slurp(root_ / "kept.txt"));
  EXPECT_NE(std::string::npos, none.err.find("kept.txt not written")) << none.err;
  // An unreadable file named directly.
  if (!root) {
    drawing("secret.jww", {"s"});
    ::chmod((root_ / "secret.jww").c_str(), 0);
    Outcome r = run({"secret.jww", "a.jww"});
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("secret.jww: cannot be read")) << r.err;
    EXPECT_EQ("a\n", Blocks(r.out));
  }
}

TEST_F(Cli, ListsFromFilesFrom) {
  drawing("a.jww", {"a"});
  drawing("b.jww", {"b"});
  put("empty.txt", {});
  // An empty list is an empty search, as when find found nothing.
  Outcome empty = run({"--files-from", "empty.txt"});
  EXPECT_EQ(0, empty.status) << empty.err;
  EXPECT_TRUE(empty.out.empty());
  EXPECT_TRUE(empty.err.empty()) << empty.err;
  EXPECT_EQ(0, run({"--files-from", "-"}, "").status);
  EXPECT_EQ("[]\n", run({"--format", "json", "--files-from", "-"}, "").out);
  // A line holding a NUL byte names no file: told whole, the rest searched.
  Outcome nul = run({"-v", "--files-from", "-"}, std::string("a.jww\nx\0y.jww\nb.jww\n", 20));
  EXPECT_EQ(2, nul.status);
  EXPECT_EQ("a\nb\n", Blocks(nul.out));
  EXPECT_NE(std::string::npos, nul.err.find("standard input:2: a path cannot hold a NUL byte: x?y.jww\n")) << nul.err;
}

TEST_F(Cli, MatchOfNothingButSpacesKeepsEveryRow) {
  drawing("a.jww", {"one", "two"});
  for (const std::string& m : {std::string(""), std::string("  "), std::string("\xE3\x80\x80")}) {
    Outcome r = run({"--match", m, "a.jww"});
    EXPECT_EQ("one\ntwo\n", Blocks(r.out)) << "[" << m << "]";
  }
  EXPECT_EQ("one\ntwo\n", Blocks(run({"--match=", "a.jww"}).out));
}

TEST_F(Cli, RowLimitSaysRowOrRows) {
  drawing("a.jww", {"one", "two", "three"});
  EXPECT_NE(std::string::npos, run({"--max-rows", "1", "a.jww"}).err.find("row limit of 1 row\n"));
  EXPECT_NE(std::string::npos, run({"--max-rows", "2", "a.jww"}).err.find("row limit of 2 rows\n"));
}

TEST_F(Cli, OutputFileThatCannotBeWrittenFailsBeforeTheSearch) {
  put("x.jwk", {'?'});
  put("readonly.txt", {'o', 'l', 'd'});
  ::chmod((root_ / "readonly.txt").c_str(), 0444);
  std::filesystem::create_directory(root_ / "dir.txt");
  std::vector<std::pair<std::string, std::string>> cases = {
      {"no/such/folder/rows.txt", "cannot write no/such/folder/rows.txt: No such file or directory"},
      {"dir.txt", "cannot write dir.txt: Is a directory"},
      {"readonly.txt/rows.csv", "cannot write readonly.txt/rows.csv: Not a directory"},
  };
  if (::geteuid() != 0) cases.push_back({"readonly.txt", "cannot write readonly.txt: Permission denied"});
  for (const auto& [target, message] : cases) {
    Outcome r = run({"-v", "-o", target, "x.jwk"});
    EXPECT_EQ(1, r.status) << target;
    // Told once, before any file was looked at.
    EXPECT_EQ("tarnwick-cli: " + message, r.err.substr(0, r.err.find('\n')).substr(0, message.size() + 14)) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("x.jwk")) << r.err;
  }
  EXPECT_EQ("old", Slurp(root_ / "readonly.txt"));
}

// A failed write of standard output stops the search at once: the files
// after it are never looked at (-v would name each passed-over one).
TEST_F(Cli, FailedWriteStopsTheSearch) {
  drawing("a.jww", {"a block name long enough to fill the buffer soon"});
  put("x.jwk", {'?'});
  constexpr int kPairs = 20000;
  std::string list;
  for (int i = 0; i < kPairs; ++i) list += "a.jww\nx.jwk\n";
  std::ofstream(root_ / "list.txt") << list;
  auto passedOver = [](const std::string& err) {
    size_t n = 0;
    for (size_t p = 0; (p = err.find("x.jwk: not a .jww", p)) != std::string::npos; ++p) ++n;
    return n;
  };
  // A pipe whose reader has gone, with SIGPIPE ignored as some shells do.
  {
    int fds[2];
    ASSERT_EQ(0, ::pipe(fds));
    ::close(fds[0]);
    Outcome r = runWithOutput({"-v", "--files-from", "list.txt"}, fds[1], true);
    ::close(fds[1]);
    EXPECT_EQ(141, r.status);
    EXPECT_EQ(std::string::npos, r.err.find("cannot write")) << "a closed pipe is not an error to tell";
    EXPECT_LT(passedOver(r.err), size_t(kPairs / 2));
  }
  {
    const int full = ::open("/dev/full", O_WRONLY);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    Outcome r = runWithOutput({"-v", "--files-from", "list.txt"}, full, false);
    ::close(full);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("tarnwick-cli: cannot write to standard output: No space left on device"))
        << r.err.substr(r.err.size() > 300 ? r.err.size() - 300 : 0);
    EXPECT_EQ(std::string::npos, r.err.find("interrupted"));
    EXPECT_LT(passedOver(r.err), size_t(kPairs / 2));
  }
}

TEST_F(Cli, TabsAndLineBreaksInNamesDoNotSplitRows) {
  drawing("t\tab.jww", {"x"});
  drawing("n\nl.jww", {"y"});
  Outcome r = run({"t\tab.jww", "n\nl.jww"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("t\\tab.jww\tt\\tab.jww\tx\nn\\nl.jww\tn\\nl.jww\ty\n", r.out);
  EXPECT_NE(std::string::npos, r.err.find("--format csv or json shows it exactly")) << r.err;
  Outcome json = run({"--format", "json", "t\tab.jww"});
  EXPECT_NE(std::string::npos, json.out.find("\"path\": \"t\\tab.jww\"")) << json.out;
  EXPECT_TRUE(json.err.empty());
  run({"-o", "rows.txt", "t\tab.jww"});
  EXPECT_EQ("\xEF\xBB\xBFt\\tab.jww\tt\\tab.jww\tx\r\n", Slurp(root_ / "rows.txt"));
}

// Block names are encoded straight into the output: each kind of code unit,
// and the escapes of a TSV row, against the text the UTF-8 routines make.
TEST(RowWriterTest, BlockNamesOfEveryKindOfCodeUnit) {
  struct Case {
    const char* what;
    std::u16string block;
    std::string tsv;  // the block as the TSV row ends
  };
  const Case cases[] = {
      {"ASCII", u"Door-1", "Door-1"},
      {"two bytes", u"\u00E9\u00D7", "\xC3\xA9\xC3\x97"},
      {"three bytes", u"扉\uFF24", "\xE6\x89\x89\xEF\xBC\xA4"},
      {"pair", u"a\U0001F6AAb", "a\xF0\x9F\x9A\xAA" "b"},
      {"lone lead, lone trail", u"\xD83Dx\xDE00", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      {"lead at the end", u"x\xD83D", "x\xEF\xBF\xBD"},
      {"tab and line breaks", u"a\tb\nc\r扉", "a\\tb\\nc\\r\xE6\x89\x89"},
      {"empty", u"", ""},
  };
  for (const Case& c : cases) {
    const SearchRow row{u"a.jww", u"d/a.jww", c.block};
    EXPECT_EQ("a.jww\td/a.jww\t" + c.tsv + "\n", RowWriter::Format(row, OutputFormat::kTsv)) << c.what;
    std::string csv = "\"a.jww\",\"d/a.jww\",\"";
    for (char ch : ToUtf8(c.block)) csv += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    EXPECT_EQ(csv + "\"\n", RowWriter::Format(row, OutputFormat::kCsv)) << c.what;
  }
  // Rows gathered into large writes all arrive, in order, and a tab in a
  // block of a later row is still told.
  std::FILE* out = std::tmpfile();
  ASSERT_NE(nullptr, out);
  std::string expected;
  {
    RowWriter w(out, OutputFormat::kTsv);
    for (int i = 0; i < 20000; ++i) {
      const SearchRow row{u"f" + PathText(std::to_string(i / 7)) + u".jww", u"p/f.jww", u"扉" + PathText(std::to_string(i))};
      ASSERT_TRUE(w.row(row));
      expected += RowWriter::Format(row, OutputFormat::kTsv);
    }
    EXPECT_FALSE(w.escaped());
    ASSERT_TRUE(w.row({u"t.jww", u"t.jww", u"a\tb"}));
    expected += "t.jww\tt.jww\ta\\tb\n";
    EXPECT_TRUE(w.escaped());
    ASSERT_TRUE(w.finish());
  }
  std::rewind(out);
  std::string got;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) got.append(buf, n);
  std::fclose(out);
  EXPECT_EQ(expected, got);
}

TEST_F(Cli, OutputFileDecodesShiftJisFileNames) {
  // "図" in code page 932, as archives made on Windows unpack it.
  const std::string sjis = "\x90\x7D.jww";
  drawing(sjis, {"z"});
  drawing("\xFF\xFE.jww", {"w"});
  Outcome r = run({"-o", "rows.txt", sjis, "\xFF\xFE.jww"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("\xEF\xBB\xBF\xE5\x9B\xB3.jww\t\xE5\x9B\xB3.jww\tz\r\n"
            "\xEF\xBF\xBD\xEF\xBF\xBD.jww\t\xEF\xBF\xBD\xEF\xBF\xBD.jww\tw\r\n",
            Slurp(root_ / "rows.txt"));
  // Standard output keeps the bytes as given.
  EXPECT_EQ(sjis + "\t" + sjis + "\tz\n", run({sjis}).out);
}

TEST_F(Cli, VerboseNamesTheDefinitionCutByTheEndOfTheFile) {
  Drawing dr;
  Definition whole, cut;
  whole.name = "whole";
  cut.name = "thirteen-char";
  dr.definitions = {whole, cut};
  Bytes bytes = Write(dr);
  // The file ends inside the second name.
  const std::string name = "thirteen-char";
  auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(bytes.end(), at);
  bytes.resize(static_cast<size_t>(at - bytes.begin()) + 4);
  put("cut.jww", bytes);
  Outcome r = run({"-v", "cut.jww"});
  EXPECT_EQ("whole\nthir\n", Blocks(r.out)) << "the cut name is still listed";
  EXPECT_NE(std::string::npos,
            r.err.find("cut.jww: damaged: read stopped part-way; rows listed: 2; the end of the file cut short the "
                       "name of definition 2, listed as \"thir\""))
      << r.err;
  EXPECT_TRUE(run({"cut.jww"}).err.empty());
}

// What a terminal shows of output that went to it: "\r" goes back to the
// start of the line, ESC [ K clears the rest of it.  Also collects the
// progress texts drawn.
std::vector<std::string> Screen(const std::string& raw, std::vector<std::string>* drawn = nullptr) {
  std::vector<std::string> lines(1);
  size_t col = 0;
  std::string pending;  // text since the last "\r"
  for (size_t i = 0; i < raw.size(); ++i) {
    std::string& line = lines.back();
    const char c = raw[i];
    if (c == '\r') {
      col = 0;
      pending.clear();
    } else if (c == '\n') {
      lines.emplace_back();
      col = 0;
      pending.clear();
    } else if (raw.compare(i, 3, "\033[K") == 0) {
      line.resize(col);
      if (drawn && !pending.empty()) drawn->push_back(pending);
      i += 2;
    } else {
      if (col < line.size()) line[col] = c;
      else line += c;
      ++col;
      pending += c;
    }
  }
  return lines;
}

// Runs the tool with standard output and standard error on one terminal of
// `columns` columns and returns everything written to it.
std::string RunOnTerminal(const fs::path& dir, std::vector<std::string> args, int columns) {
  struct winsize ws {};
  ws.ws_col = static_cast<unsigned short>(columns);
  ws.ws_row = 24;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid < 0) return "forkpty failed";
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    std::string exe = TARNWICK_CLI;
    argv.push_back(exe.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;  // EIO once the child has gone
  }
  ::close(master);
  int ws2 = 0;
  waitpid(pid, &ws2, 0);
  return out;
}

TEST_F(Cli, ProgressLineOnATerminalNeverCutsARow) {
  std::string expected;
  const std::string deep(120, 'f');  // a folder name wider than the terminal
  for (int d = 0; d < 40; ++d) {
    const std::string dir = "t/" + (d % 2 ? deep + std::to_string(d) : "\xE5\x9B\xB3" + std::to_string(d));
    for (int f = 0; f < 5; ++f) drawing(dir + "/f" + std::to_string(f) + ".jww", {"block-" + std::to_string(f)});
  }
  const std::string tsv = run({"-r", "t"}).out;
  ASSERT_EQ(200, std::count(tsv.begin(), tsv.end(), '\n'));
  for (const std::string& extra : {std::string("-j1"), std::string("-j4")}) {
    const std::string raw = RunOnTerminal(root_, {extra, "-r", "t"}, 80);
    std::vector<std::string> drawn;
    std::vector<std::string> screen = Screen(raw, &drawn);
    std::string shown;
    for (const std::string& line : screen) shown += line + "\n";
    // Every row whole, in order, and no progress left at the end.
    EXPECT_EQ(tsv + "\n", shown) << extra;
    ASSERT_FALSE(drawn.empty()) << "the progress line was never drawn";
    EXPECT_EQ("0 files, 0 rows, 0 folders done; in t/", drawn.front());
    bool namedFolder = false;
    for (const std::string& text : drawn) {
      namedFolder |= text.find("folders done; in ") != std::string::npos;
      // Narrower than the terminal (wide characters count two), so it never wraps.
      size_t columns = 0;
      for (unsigned char c : text) columns += c < 0x80 ? 1 : (c >= 0xC0 ? 2 : 0);
      EXPECT_LT(columns, 80u) << text;
    }
    EXPECT_TRUE(namedFolder);
  }
  // -q: no progress line at all.
  EXPECT_EQ(std::string::npos, RunOnTerminal(root_, {"-q", "-r", "t"}, 80).find("\033[K"));
}

// ---- --details and --svg: each row's block from its drawing read in full ----

TEST_F(Cli, DetailsAddNumberEntityCountsAndExtent) {
  Drawing d;
  Definition door, knob;
  door.number = 5;
  door.name = "door";
  Line jamb;
  jamb.x1 = 0, jamb.y1 = 0, jamb.x2 = 0, jamb.y2 = 2100;
  Insert at;
  at.number = 9, at.x = 800, at.y = 1000;
  door.entities = {jamb, Line{}, at};
  knob.number = 9;
  knob.name = "knob";
  Arc ring;
  ring.r = 30;
  knob.entities = {ring};
  Definition empty;
  empty.number = 11;
  empty.name = "empty";
  d.definitions = {door, knob, empty};
  put("a.jww", Write(d));
  Outcome r = run({"--format", "json", "--details", "--match", "o", "a.jww"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      "[\n"
      "{\"file\": \"a.jww\", \"path\": \"a.jww\", \"block\": \"door\", \"number\": 5, \"entities\": {\"line\": 2, "
      "\"arc\": 0, \"point\": 0, \"text\": 0, \"dimension\": 0, \"solid\": 0, \"insert\": 1}, \"extent\": [0, 0, 830, 2100]},\n"
      "{\"file\": \"a.jww\", \"path\": \"a.jww\", \"block\": \"knob\", \"number\": 9, \"entities\": {\"line\": 0, "
      "\"arc\": 1, \"point\": 0, \"text\": 0, \"dimension\": 0, \"solid\": 0, \"insert\": 0}, \"extent\": [-30, -30, 30, 30]}\n"
      "]\n",
      r.out);
  Outcome e = run({"--format", "json", "--details", "--match", "empty", "a.jww"});
  EXPECT_NE(std::string::npos, e.out.find("\"insert\": 0}, \"extent\": null}")) << e.out;
  // Only JSON rows carry them.
  for (const auto& args : std::vector<std::vector<std::string>>{{"--details", "a.jww"},
                                                                 {"--details", "-o", "x.csv", "a.jww"}}) {
    Outcome u = run(args);
    EXPECT_EQ(2, u.status);
    EXPECT_NE(std::string::npos, u.err.find("--details")) << u.err;
  }
}

TEST_F(Cli, SvgWritesOnePictureEachRowInOutputOrder) {
  drawing("a.jww", {"one", "two"});
  drawing("b.jws", {"three"}, true);
  Outcome r = run({"--svg", "pictures/new", "-q", "b.jws", "a.jww"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("b.jws\tb.jws\tthree\na.jww\ta.jww\tone\na.jww\ta.jww\ttwo\n", r.out);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(root_ / "pictures/new")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"00001.svg", "00002.svg", "00003.svg"}), names) << "no temporary files left";
  EXPECT_EQ(0u, Slurp(root_ / "pictures/new/00001.svg").find("<?xml"));
  // Pictures go with -o as well, and a folder that cannot be made is told.
  Outcome o = run({"--svg", "p2", "-o", "rows.txt", "a.jww"});
  EXPECT_EQ(0, o.status) << o.err;
  EXPECT_TRUE(fs::exists(root_ / "p2/00002.svg"));
  put("file", {});
  Outcome bad = run({"--svg", "file/sub", "a.jww"});
  EXPECT_EQ(1, bad.status);
  EXPECT_NE(std::string::npos, bad.err.find("file/sub")) << bad.err;
}

// Every real drawing: the counts are the reader's own, and the extent is the
// display list's.
TEST_F(Cli, DetailsOfTheSampleDrawings) {
  const fs::path samples = fs::path(TARNWICK_SHARED_DIR) / "samples";
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no " << samples;
  Outcome r = run({"--format", "json", "--details", samples.string()});
  ASSERT_EQ(0, r.status) << r.err;
  std::istringstream lines(r.out);
  std::string line, lastPath;
  std::unique_ptr<draw::LoadedDrawing> drawing;
  int32_t index = 0;
  size_t rows = 0;
  while (std::getline(lines, line)) {
    const size_t at = line.find("\"path\": \"");
    if (at == std::string::npos) continue;
    const size_t end = line.find('"', at + 9);
    const std::string path = line.substr(at + 9, end - at - 9);
    if (path != lastPath) {
      drawing = draw::ReadDrawingFile(PathText(path));
      lastPath = path;
      index = 0;
    }
    // Sample names hold no flag, so the rows are the definitions in order.
    const TEntJwwBlockDef* def = drawing->definition(index);
    ASSERT_NE(nullptr, def) << path << " row " << index;
    const std::string counts = "\"number\": " + std::to_string(def->nNumber) + ", \"entities\": {\"line\": " +
                               std::to_string(def->mLineN) + ", \"arc\": " + std::to_string(def->mEnkoN) +
                               ", \"point\": " + std::to_string(def->mTenN) + ", \"text\": " +
                               std::to_string(def->mMojiN) + ", \"dimension\": " + std::to_string(def->mSunpoN) +
                               ", \"solid\": " + std::to_string(def->mSolidN) + ", \"insert\": " +
                               std::to_string(def->mBlockN) + "}";
    EXPECT_NE(std::string::npos, line.find(counts)) << line;
    const draw::DisplayList list = draw::BuildDisplayList(*drawing->context, index);
    const std::string expected = DetailsJson(def, &list) + "}";
    EXPECT_EQ(expected, line.substr(line.size() - expected.size() - (line.back() == ',' ? 1 : 0),
                                    expected.size()))
        << path << " definition " << index;
    ++index;
    ++rows;
  }
  EXPECT_GT(rows, 10u);
}
}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// What -v says of the odd entries found inside folders, with strerror's
// reason where there is one, while the drawings around them are listed.
TEST_F(Cli, VerboseNamesOddEntriesInsideFoldersWithTheirReason) {
  drawing("d/a.jww", {"a"});
  drawing("d/sub/z.jww", {"z"});
  fs::create_symlink("nowhere.jww", root_ / "d/gone.jww");
  fs::create_symlink("loop.jww", root_ / "d/loop.jww");
  ASSERT_EQ(0, ::mkfifo((root_ / "d/pipe.jww").c_str(), 0600));
  fs::create_directories(root_ / "d/box.jww");
  // A chain of folders deeper than PATH_MAX: the walk reaches its end by a
  // path that is too long to list.
  fs::path deep = root_ / "d/sub";
  int fd = ::open(deep.c_str(), O_DIRECTORY | O_RDONLY);
  const std::string name(200, 'n');
  for (int i = 0; i < 4096 / 201 + 2 && fd >= 0; ++i) {
    ::mkdirat(fd, name.c_str(), 0700);
    const int next = ::openat(fd, name.c_str(), O_DIRECTORY | O_RDONLY);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
  Outcome r = run({"-v", "-r", "d"});
  // The deep chain goes before TearDown, which removes by path.
  std::function<void(int, int)> remove = [&](int dir, int left) {
    if (dir < 0) return;
    if (left > 1) remove(::openat(dir, name.c_str(), O_DIRECTORY | O_RDONLY), left - 1);
    ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
    ::close(dir);
  };
  remove(::open(deep.c_str(), O_DIRECTORY | O_RDONLY), 4096 / 201 + 2);

  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("a.jww\td/a.jww\ta\nz.jww\td/sub/z.jww\tz\n", r.out);
  const char* messages[] = {
      "d/gone.jww: no such file (No such file or directory)",
      "d/loop.jww: cannot be read (Too many levels of symbolic links)",
      "d/pipe.jww: not a regular file",
      "d/box.jww: not a regular file",
      ": cannot be listed (File name too long)",
  };
  for (const char* m : messages) EXPECT_NE(std::string::npos, r.err.find(m)) << m << "\n" << r.err;
}

}  // namespace
}  // namespace tarnwick
