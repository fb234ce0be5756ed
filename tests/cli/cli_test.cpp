// tarnwick-cli as a user runs it: arguments, output formats, exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>

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
};

TEST_F(Cli, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"--bogus", "a.jww"}, {"--format", "xml", "a.jww"}, {"-o", "out.dat", "a.jww"},
      {"--max-rows", "0", "a.jww"}, {"-j", "x", "a.jww"}, {"--files-from", "missing.txt"}};
  for (const auto& args : cases) {
    Outcome r = run(args);
    EXPECT_EQ(2, r.status) << (args.empty() ? "(none)" : args[0]);
    EXPECT_NE(std::string::npos, r.err.find("tarnwick-cli: ")) << r.err;
    EXPECT_TRUE(r.out.empty());
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

}  // namespace
}  // namespace tarnwick
