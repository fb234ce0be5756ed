// tarnwick-cli with --index and --index-only, each run against the same
// search without the index.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "index/index_db.h"
#include "support/tree_fixture.h"

extern char** environ;

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using namespace tarnwick::testing;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CliIndex : public TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    db_ = (root_.parent_path() / (root_.filename().string() + ".sqlite")).string();
  }
  void TearDown() override {
    for (const char* s : {"", "-wal", "-shm"}) fs::remove(db_ + s);
    for (int i = 0; i < runs_; ++i) {
      fs::remove(root_.string() + ".out" + std::to_string(i));
      fs::remove(root_.string() + ".err" + std::to_string(i));
    }
    TreeFixture::TearDown();
  }

  // Starts the tool; its output goes to files beside the tree.
  pid_t start(std::vector<std::string> args, int& id, int stdoutFd = -1) {
    id = runs_++;
    const std::string out = root_.string() + ".out" + std::to_string(id);
    const std::string err = root_.string() + ".err" + std::to_string(id);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
      posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
    else
      posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    std::string exe = TARNWICK_CLI;
    argv.push_back(exe.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }
  Outcome wait(pid_t pid, int id) {
    Outcome r;
    int ws = 0;
    if (pid < 0 || waitpid(pid, &ws, 0) != pid) return r;
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = Slurp(root_.string() + ".out" + std::to_string(id));
    r.err = Slurp(root_.string() + ".err" + std::to_string(id));
    return r;
  }
  Outcome run(std::vector<std::string> args) {
    int id = 0;
    pid_t pid = start(std::move(args), id);
    return wait(pid, id);
  }

  // A tree with a damaged drawing, a file of another kind, a drawing whose
  // name begins with the flag and folders below.
  void makeTree(int many = 0) {
    drawing("a.jww", {"Door", "@@SFIGORGFLAG"});
    drawing("b.jws", {"Window"}, true);
    put("notes.jwx", Bytes{'x'});
    Bytes cut = Write(Drawing{});
    cut.resize(cut.size() / 2);
    put("sub/cut.jww", cut);
    drawing("sub/c.jww", {"@@SFIGORGFLAG", "Sink"});
    drawing("sub/deep/d.jww", {"Stair"});
    for (int i = 0; i < many; ++i)
      drawing("many/" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".jww",
              {"M" + std::to_string(i), "Window" + std::to_string(i)});
  }

  std::string integrity() {
    auto db = IndexDb::Open(db_);
    return db->usable() ? db->integrityCheck() : db->problem();
  }

  std::string db_;
  int runs_ = 0;
};

TEST_F(CliIndex, RowsReportsAndStatusAreThoseOfAPlainSearch) {
  makeTree();
  const std::string root = root_.string();
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-r", "-v", root}, {"-v", root + "/a.jww", root + "/sub/"}, {"-r", "--match", "in", root}}) {
    const Outcome plain = run(args);
    std::vector<std::string> withIndex = args;
    withIndex.insert(withIndex.begin(), {"--index", db_});
    for (int round = 0; round < 2; ++round) {
      const Outcome indexed = run(withIndex);
      EXPECT_EQ(plain.status, indexed.status) << args[0];
      EXPECT_EQ(plain.out, indexed.out) << args[0];
      EXPECT_EQ(plain.err, indexed.err) << args[0];
    }
    // The index alone, after that search: the same rows.
    std::vector<std::string> only = withIndex;
    only.insert(only.begin(), "--index-only");
    const Outcome fromIndex = run(only);
    EXPECT_EQ(plain.out, fromIndex.out) << args[0];
    EXPECT_EQ(0, fromIndex.status) << fromIndex.err;
  }
  EXPECT_EQ("ok", integrity());
}

TEST_F(CliIndex, IndexOnlyLooksAtNoFile) {
  makeTree();
  const std::string root = root_.string();
  const Outcome plain = run({"-r", root});
  ASSERT_EQ(0, run({"-r", "--index", db_, root}).status);
  // Gone from the disk, still in the index.
  fs::rename(root_ / "sub", root_ / "moved");
  const Outcome only = run({"-r", "--index", db_, "--index-only", root});
  EXPECT_EQ(plain.out, only.out);
  EXPECT_EQ("", only.err);
  const Outcome missing = run({"--index", db_, "--index-only", root + "/none.jww"});
  EXPECT_EQ(2, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find("none.jww: no such file")) << missing.err;
  EXPECT_EQ(2, run({"--index-only", root}).status) << "--index-only needs --index";
}

TEST_F(CliIndex, UnusableIndexIsToldOnceAndTheSearchGoesOnWithoutIt) {
  makeTree();
  const std::string root = root_.string();
  const Outcome plain = run({"-r", "-v", root});
  auto sqliteFile = [&](const char* sql) {
    for (const char* s : {"", "-wal", "-shm"}) fs::remove(db_ + s);
    sqlite3* s = nullptr;
    sqlite3_open(db_.c_str(), &s);
    sqlite3_exec(s, sql, nullptr, nullptr, nullptr);
    sqlite3_close(s);
  };
  struct Case {
    const char* what;
    std::function<void()> make;
  };
  const Case cases[] = {
      {"random bytes",
       [&] {
         std::string bytes(50000, '\0');
         for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) ^ (i >> 3));
         std::ofstream(db_, std::ios::binary | std::ios::trunc) << bytes;
       }},
      {"a newer schema", [&] { sqliteFile("PRAGMA application_id=1415007049; PRAGMA user_version=7; CREATE TABLE x(y);"); }},
      {"another program's database", [&] { sqliteFile("CREATE TABLE mine(x); INSERT INTO mine VALUES (42);"); }},
      {"a folder", [&] {
         for (const char* s : {"", "-wal", "-shm"}) fs::remove(db_ + s);
         fs::create_directory(db_);
       }},
  };
  for (const Case& c : cases) {
    c.make();
    const std::string before = fs::is_directory(db_) ? "" : Slurp(db_);
    const Outcome r = run({"--index", db_, "-r", "-v", root});
    EXPECT_EQ(plain.out, r.out) << c.what;
    EXPECT_EQ(plain.status, r.status) << c.what;
    const std::string told = "tarnwick-cli: index " + db_ + ": ";
    ASSERT_EQ(0u, r.err.find(told)) << c.what << ": " << r.err;
    EXPECT_EQ(plain.err, r.err.substr(r.err.find('\n') + 1)) << c.what << ": told once, the rest as usual";
    if (!fs::is_directory(db_)) {
      EXPECT_EQ(before, Slurp(db_)) << c.what << ": not ours to replace";
    } else {
      fs::remove(db_);
    }
  }
}

TEST_F(CliIndex, TwoSearchesUpdatingAtOnceAreBothExact) {
  makeTree(150);
  const std::string root = root_.string();
  Outcome now;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) drawing("many/1/late.jww", {"Late"});
    now = run({"-r", root});
    int a = 0, b = 0;
    pid_t pa = start({"-r", "--index", db_, root}, a);
    pid_t pb = start({"-r", "-j1", "--index", db_, root}, b);
    const Outcome ra = wait(pa, a), rb = wait(pb, b);
    EXPECT_EQ(now.out, ra.out);
    EXPECT_EQ(now.out, rb.out);
    EXPECT_EQ("", ra.err);
    EXPECT_EQ("", rb.err);
    EXPECT_EQ("ok", integrity());
  }
  EXPECT_EQ(now.out, run({"-r", "--index", db_, "--index-only", root}).out);
}

TEST_F(CliIndex, KilledSearchLeavesAnIndexTheNextSearchUses) {
  makeTree(300);
  const std::string root = root_.string();
  const Outcome plain = run({"-r", root});
  for (int round = 0; round < 3; ++round) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    int id = 0;
    pid_t pid = start({"-r", "--index", db_, root}, id, fds[1]);
    close(fds[1]);
    // Killed once it has written rows, part of the way through.
    std::string got;
    char buf[4096];
    ssize_t n;
    while (got.size() < static_cast<size_t>(round) * 4000 + 1 && (n = read(fds[0], buf, sizeof buf)) > 0)
      got.append(buf, static_cast<size_t>(n));
    kill(pid, SIGKILL);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    const Outcome next = run({"-r", "--index", db_, root});
    EXPECT_EQ(plain.out, next.out) << "round " << round;
    EXPECT_EQ("", next.err);
    EXPECT_EQ("ok", integrity());
  }
}

}  // namespace
}  // namespace tarnwick
