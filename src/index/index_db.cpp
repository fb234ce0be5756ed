#include "index/index_db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "text/text_utils.h"
#include "text/utf.h"

namespace tarnwick {
namespace {

// "TWKI" in the database header: the file is one of our indexes.
constexpr int32_t kApplicationId = 0x54574B49;
// Raised whenever the tables change; an index of another version is not
// read.
constexpr int32_t kSchemaVersion = 2;

// Definitions get the row ids drawing id × 2^20 + stored position, so the
// definitions of a drawing are one range of row ids.  The key index follows
// the definitions in bulk at the end of each write (one statement each way):
// row by row, the full-text index would write a segment per statement.
constexpr int kNameBits = 20;

constexpr const char* kSchema = R"sql(
CREATE TABLE folder(
  id INTEGER PRIMARY KEY,
  path BLOB NOT NULL UNIQUE,
  listed INTEGER NOT NULL DEFAULT 0,
  drawings BLOB,
  subfolders BLOB);
CREATE TABLE drawing(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  folder INTEGER NOT NULL,
  name BLOB NOT NULL,
  outcome INTEGER NOT NULL,
  device INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,
  ctime INTEGER NOT NULL,
  trusted INTEGER NOT NULL,
  cut INTEGER NOT NULL,
  names BLOB NOT NULL,
  UNIQUE(folder, name));
CREATE INDEX drawing_not_read ON drawing(outcome) WHERE outcome != 0;
CREATE TABLE def(id INTEGER PRIMARY KEY, key TEXT NOT NULL);
CREATE VIRTUAL TABLE def_key USING fts5(key, content='def', content_rowid='id',
                                        tokenize='trigram case_sensitive 1', detail='none', columnsize=0);
)sql";

int64_t SystemNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int OutcomeCode(FileOutcome o) {
  switch (o) {
    case FileOutcome::kNotOfFormat: return 1;
    case FileOutcome::kDamaged: return 2;
    default: return 0;
  }
}

std::optional<FileOutcome> OutcomeOf(int code) {
  switch (code) {
    case 0: return FileOutcome::kRead;
    case 1: return FileOutcome::kNotOfFormat;
    case 2: return FileOutcome::kDamaged;
    default: return std::nullopt;
  }
}

// Names as one blob: per name its length in code units (4 bytes) and the
// code units, little-endian.  UTF-16 keeps every name exactly as the reader
// gave it, lone surrogates included.
std::string PackNames(const std::vector<std::u16string>& names) {
  size_t total = 0;
  for (const auto& n : names) total += 4 + 2 * n.size();
  std::string out;
  out.reserve(total);
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  for (const auto& n : names) {
    put32(static_cast<uint32_t>(n.size()));
    for (char16_t c : n) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
  }
  return out;
}

// With wanted (ascending positions), only the names at those positions and
// at cut are made; the others are left empty, which spares their copies
// where a lookup needs a few names of each drawing.
bool UnpackNames(const unsigned char* p, size_t n, std::vector<std::u16string>& names,
                 const std::vector<uint32_t>* wanted = nullptr, int64_t cut = -1) {
  names.clear();
  size_t count = 0;
  for (size_t at = 0; n - at >= 4 && count < n; ++count) {
    const uint32_t len = uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 | uint32_t(p[at + 3]) << 24;
    if (len > (n - at - 4) / 2) break;
    at += 4 + 2 * size_t(len);
  }
  names.reserve(count);
  size_t i = 0;
  size_t next = 0;  // into wanted
  for (uint32_t k = 0; i < n; ++k) {
    if (n - i < 4) return false;
    uint32_t len = uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24;
    i += 4;
    if (len > (n - i) / 2) return false;
    bool make = true;
    if (wanted) {
      while (next < wanted->size() && (*wanted)[next] < k) ++next;
      make = k == cut || (next < wanted->size() && (*wanted)[next] == k);
    }
    names.emplace_back();
    if (make) {
      std::u16string& s = names.back();
      s.resize(len);
      for (uint32_t c = 0; c < len; ++c) s[c] = static_cast<char16_t>(p[i + 2 * c] | p[i + 2 * c + 1] << 8);
    }
    i += 2 * size_t(len);
  }
  return true;
}

// File names as one blob, each followed by a NUL (no file name holds one).
std::string PackList(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& s : list) {
    out += s;
    out.push_back('\0');
  }
  return out;
}

std::vector<std::string> UnpackList(const unsigned char* p, size_t n) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == 0) {
      out.emplace_back(reinterpret_cast<const char*>(p) + start, i - start);
      start = i + 1;
    }
  }
  return out;
}

void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir.clear();
    name = path;
  } else {
    dir = path.substr(0, slash + 1);
    name = path.substr(slash + 1);
  }
}

// The first text after every text that begins with prefix, for range
// queries; empty when there is none (a prefix of 0xFF bytes only).
std::string PrefixEnd(std::string prefix) {
  while (!prefix.empty()) {
    unsigned char c = static_cast<unsigned char>(prefix.back());
    if (c != 0xFF) {
      prefix.back() = static_cast<char>(c + 1);
      return prefix;
    }
    prefix.pop_back();
  }
  return prefix;
}

// A prepared statement, reset and cleared when it goes out of scope.
class Use {
 public:
  explicit Use(sqlite3_stmt* s) : s_(s) {}
  ~Use() {
    if (s_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return s_; }
  void blob(int i, const std::string& b) { sqlite3_bind_blob(s_, i, b.data(), static_cast<int>(b.size()), SQLITE_STATIC); }
  void text(int i, const std::string& t) { sqlite3_bind_text(s_, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC); }
  void integer(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  int step() { return sqlite3_step(s_); }
  int64_t col(int i) const { return sqlite3_column_int64(s_, i); }
  std::string bytes(int i) const {
    const void* p = sqlite3_column_blob(s_, i);
    int n = sqlite3_column_bytes(s_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }
  std::vector<std::string> list(int i) const {
    const void* p = sqlite3_column_blob(s_, i);
    int n = sqlite3_column_bytes(s_, i);
    return p ? UnpackList(static_cast<const unsigned char*>(p), static_cast<size_t>(n)) : std::vector<std::string>();
  }
  bool names(int i, std::vector<std::u16string>& out, const std::vector<uint32_t>* wanted, int64_t cut) const {
    const void* p = sqlite3_column_blob(s_, i);
    int n = sqlite3_column_bytes(s_, i);
    if (!p) {
      out.clear();
      return n == 0;
    }
    return UnpackNames(static_cast<const unsigned char*>(p), static_cast<size_t>(n), out, wanted, cut);
  }

 private:
  sqlite3_stmt* s_;
};

// The columns every drawing query selects, in this order.
constexpr const char* kDrawingColumns =
    "d.id, d.outcome, d.device, d.inode, d.size, d.mtime, d.ctime, d.trusted, d.cut, d.names, d.folder, d.name";

bool ReadDrawing(const Use& q, StoredDrawing& d, const std::vector<uint32_t>* wanted = nullptr) {
  d.id = q.col(0);
  auto outcome = OutcomeOf(static_cast<int>(q.col(1)));
  if (!outcome) return false;
  d.record.outcome = *outcome;
  d.stamp.device = static_cast<uint64_t>(q.col(2));
  d.stamp.inode = static_cast<uint64_t>(q.col(3));
  d.stamp.size = q.col(4);
  d.stamp.mtimeNs = q.col(5);
  d.stamp.ctimeNs = q.col(6);
  d.trusted = q.col(7) != 0;
  d.record.cutName = static_cast<int32_t>(q.col(8));
  if (!q.names(9, d.record.names, wanted, d.record.cutName)) return false;
  return d.record.cutName >= -1 && d.record.cutName < static_cast<int64_t>(d.record.names.size());
}

}  // namespace

IndexDb::IndexDb(std::string path, IndexOptions options) : path_(std::move(path)), options_(std::move(options)) {}

IndexDb::~IndexDb() {
  sqlite3_finalize(lookupFind_);
  if (lookupDb_) sqlite3_close(lookupDb_);
  for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
  if (db_) sqlite3_close(db_);
  // An index of ours found damaged is thrown away: the next search makes a
  // new one rather than meet the damage again.
  if (damaged_ && ours_)
    for (const char* suffix : {"-wal", "-shm", ""}) ::unlink((path_ + suffix).c_str());
}

std::unique_ptr<IndexDb> IndexDb::Open(const std::string& path, IndexOptions options) {
  std::unique_ptr<IndexDb> db(new IndexDb(path, std::move(options)));
  std::lock_guard lock(db->mu_);
  Fit fit = Fit::kKeep;
  // Two connections setting up one file at once (the switch to WAL, the
  // first tables) can be refused a lock at once, without the busy timeout,
  // where waiting would deadlock: the one refused tries again.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(db->options_.busyTimeoutMs);
  db->holdReports_ = true;
  for (int pause = 1;; pause = std::min(pause * 2, 50)) {
    db->busy_ = false;
    if (db->openFile()) fit = db->setUp();
    if (fit == Fit::kOk || !db->busy_ || std::chrono::steady_clock::now() >= deadline) break;
    db->closeForRetry();
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
  db->holdReports_ = false;
  if (!db->problem_.empty() && db->options_.report) db->options_.report(db->problem_);
  if (fit == Fit::kOk) {
    db->usable_ = true;
  } else if ((fit == Fit::kOurs || (fit == Fit::kForeign && db->options_.replaceUnusable)) && db->replace()) {
    db->usable_ = true;
  }
  if (!db->usable_ && db->problem_.empty()) db->fail("cannot be used");
  if (db->usable_) db->problem_.clear();
  return db;
}

bool IndexDb::openFile() {
  // Created here, not by SQLite, so that the file (and the journal files
  // SQLite gives the same rights) is the user's alone.
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    fail(std::string("cannot be opened: ") + std::strerror(errno));
    return false;
  }
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) {
    fail("is not a regular file");
    return false;
  }
  int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    failSql("cannot be opened", rc);
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, options_.busyTimeoutMs);
  return true;
}

bool IndexDb::exec(const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (message) sqlite3_free(message);
  if (rc != SQLITE_OK) {
    failSql("cannot be read or written", rc);
    return false;
  }
  return true;
}

// Reads the header of the database and makes the tables of a new one.
IndexDb::Fit IndexDb::setUp() {
  auto pragmaInt = [&](const char* sql, int64_t& value) {
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) {
        value = sqlite3_column_int64(s, 0);
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(s);
    return rc;
  };
  int64_t appId = 0, version = 0, tables = 0;
  // The three in one statement, so in one snapshot: another search may be
  // making the tables of a new file at this moment.
  sqlite3_stmt* head = nullptr;
  int rc = sqlite3_prepare_v2(db_,
                              "SELECT (SELECT application_id FROM pragma_application_id),"
                              " (SELECT user_version FROM pragma_user_version),"
                              " (SELECT count(*) FROM sqlite_master)",
                              -1, &head, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(head);
    if (rc == SQLITE_ROW) {
      appId = sqlite3_column_int64(head, 0);
      version = sqlite3_column_int64(head, 1);
      tables = sqlite3_column_int64(head, 2);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(head);
  if (rc != SQLITE_OK) {
    const bool foreign = (rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT;
    failSql(foreign ? "is not an index" : "cannot be read", rc);
    return foreign ? Fit::kForeign : Fit::kKeep;
  }
  if (appId == 0 && version == 0 && tables == 0) {
    // A new file: make the tables, unless another search has just done so.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("BEGIN IMMEDIATE")) return Fit::kKeep;
    if (pragmaInt("PRAGMA user_version", version) != SQLITE_OK || pragmaInt("PRAGMA application_id", appId) != SQLITE_OK) {
      exec("ROLLBACK");
      return Fit::kKeep;
    }
    if (version == 0 && appId == 0) {
      std::string sql = std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
                        ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
      if (!exec(sql.c_str())) {
        exec("ROLLBACK");
        return Fit::kKeep;
      }
      version = kSchemaVersion;
      appId = kApplicationId;
    }
    if (!exec("COMMIT")) return Fit::kKeep;
  }
  if (appId != kApplicationId) {
    fail("is not an index of this program");
    return Fit::kForeign;
  }
  ours_ = true;
  if (version > kSchemaVersion) {
    fail("was made by a newer version of this program");
    return Fit::kKeep;
  }
  if (version < kSchemaVersion) {
    fail("is of an older version; it is rebuilt");
    return Fit::kOurs;
  }
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")) return Fit::kKeep;
  findDrawing_ = prepare(
      "SELECT d.id, d.outcome, d.device, d.inode, d.size, d.mtime, d.ctime, d.trusted, d.cut, d.names "
      "FROM folder f JOIN drawing d ON d.folder = f.id WHERE f.path = ?1 AND d.name = ?2");
  return findDrawing_ ? Fit::kOk : Fit::kKeep;
}

// Throws the unusable file away and starts a new index in its place.
bool IndexDb::replace() {
  for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
  statements_.clear();
  writeStatements_.clear();
  findDrawing_ = folderStatement_ = folderDrawingsStatement_ = drawingsInStatement_ = drawingByIdStatement_ = nullptr;
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  // The journal files first: a new database must not pick up the old one's
  // write-ahead log.
  for (const char* suffix : {"-wal", "-shm", ""}) {
    std::string p = path_ + suffix;
    if (::unlink(p.c_str()) != 0 && errno != ENOENT) {
      fail(std::string("cannot be replaced: ") + std::strerror(errno));
      return false;
    }
  }
  // problem_ still holds what led here, so nothing more is reported.
  return openFile() && setUp() == Fit::kOk;
}

void IndexDb::fail(const std::string& what) {
  usable_ = false;
  if (!problem_.empty()) return;
  problem_ = what;
  if (options_.report && !holdReports_) options_.report(what);
}

void IndexDb::closeForRetry() {
  for (sqlite3_stmt* st : statements_) sqlite3_finalize(st);
  statements_.clear();
  writeStatements_.clear();
  findDrawing_ = nullptr;
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  problem_.clear();
  damaged_ = ours_ = false;
}

void IndexDb::failSql(const char* what, int rc, sqlite3* connection) {
  if (!connection) connection = db_;
  std::string message = what;
  message += ": ";
  message += connection ? sqlite3_errmsg(connection) : sqlite3_errstr(rc);
  busy_ = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
  if (busy_) message += " (another search held it too long)";
  if ((rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB) {
    damaged_ = true;
    message += "; it is made anew by the next search";
  }
  fail(message);
}

sqlite3_stmt* IndexDb::prepare(const char* sql) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s);
    failSql("cannot be read", rc);
    return nullptr;
  }
  statements_.push_back(s);
  return s;
}

bool IndexDb::usable() const {
  std::lock_guard lock(mu_);
  return usable_;
}

std::string IndexDb::problem() const {
  std::lock_guard lock(mu_);
  return problem_;
}

int64_t IndexDb::now() const { return options_.clock ? options_.clock() : SystemNow(); }

void IndexDb::openLookups() {
  std::lock_guard lock(mu_);
  if (!usable_ || lookupsOpen_) return;
  sqlite3* c = nullptr;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &c, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
    sqlite3_extended_result_codes(c, 1);
    sqlite3_busy_timeout(c, options_.busyTimeoutMs);
    sqlite3_prepare_v3(c,
                       "SELECT d.id, d.outcome, d.device, d.inode, d.size, d.mtime, d.ctime, d.trusted, d.cut, d.names "
                       "FROM folder f JOIN drawing d ON d.folder = f.id WHERE f.path = ?1 AND d.name = ?2",
                       -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
  }
  if (!s) {
    // The lookups stay on the main connection.
    sqlite3_close(c);
    return;
  }
  lookupDb_ = c;
  lookupFind_ = s;
  lookupsOpen_ = true;
}

std::optional<StoredDrawing> IndexDb::find(const std::string& path) {
  std::string dir, name;
  SplitPath(path, dir, name);
  if (lookupsOpen_) {
    std::unique_lock lookup(lookupMu_);
    if (!usable_) return std::nullopt;
    Use q(lookupFind_);
    q.blob(1, dir);
    q.blob(2, name);
    int rc = q.step();
    if (rc == SQLITE_DONE) return std::nullopt;
    StoredDrawing d;
    if (rc == SQLITE_ROW && ReadDrawing(q, d)) return d;
    std::lock_guard lock(mu_);
    if (rc != SQLITE_ROW) {
      failSql("cannot be read", rc, lookupDb_);
    } else {
      damaged_ = true;
      fail("holds a damaged record; it is made anew by the next search");
    }
    return std::nullopt;
  }
  std::lock_guard lock(mu_);
  if (!usable_) return std::nullopt;
  Use q(findDrawing_);
  q.blob(1, dir);
  q.blob(2, name);
  int rc = q.step();
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) {
    failSql("cannot be read", rc);
    return std::nullopt;
  }
  StoredDrawing d;
  if (!ReadDrawing(q, d)) {
    damaged_ = true;
    fail("holds a damaged record; it is made anew by the next search");
    return std::nullopt;
  }
  return d;
}

void IndexDb::Prepare(PendingRecord& r, KeyMemo* memo) {
  if (r.prepared) return;
  r.packedNames = PackNames(r.record.names);
  r.keys.clear();
  r.keys.reserve(r.record.names.size());
  // The key of the name as a row in a subfolder shows it: a superset of the
  // rows a lookup may keep.
  for (const std::u16string& n : r.record.names) {
    if (!memo) {
      r.keys.push_back(ToUtf8(StrNormalizeKey(CutAtFlag(n, true))));
      continue;
    }
    auto it = memo->find(n);
    if (it == memo->end()) {
      // Bounded: an archive of ever new names does not fill the memory.
      if (memo->size() >= 200000) memo->clear();
      it = memo->emplace(n, ToUtf8(StrNormalizeKey(CutAtFlag(n, true)))).first;
    }
    r.keys.push_back(it->second);
  }
  r.prepared = true;
}

void IndexDb::write(const std::vector<PendingRecord>& records, const std::vector<PendingListing>& listings) {
  if (records.empty() && listings.empty()) return;
  std::lock_guard lock(mu_);
  if (!usable_) return;
  // Prepared once for the life of the index.
  static constexpr const char* kSql[] = {
      /*0*/ "INSERT INTO folder(path) VALUES (?1) ON CONFLICT(path) DO NOTHING",
      /*1*/ "SELECT id, listed, drawings, subfolders FROM folder WHERE path = ?1",
      /*2*/ "SELECT id FROM drawing WHERE folder = ?1 AND name = ?2",
      /*3*/ "DELETE FROM def WHERE id BETWEEN ?1 AND ?2",
      /*4*/ "DELETE FROM drawing WHERE id = ?1",
      /*5*/ "INSERT INTO drawing(folder, name, outcome, device, inode, size, mtime, ctime, trusted, cut, names) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
      /*6*/ "INSERT INTO def(id, key) VALUES (?1, ?2)",
      /*7*/ "UPDATE folder SET listed = 1, drawings = ?2, subfolders = ?3 WHERE id = ?1",
      /*8*/ "SELECT id, name FROM drawing WHERE folder = ?1",
      /*9*/ "SELECT id, path FROM folder WHERE path > ?1 AND path < ?2",
      /*10*/ "DELETE FROM folder WHERE id = ?1",
      /*11*/ "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'drawing'), 0)",
      /*12*/ "INSERT INTO temp.dropped(id) VALUES (?1) ON CONFLICT DO NOTHING",
      /*13*/ "INSERT INTO def_key(def_key, rowid, key) SELECT 'delete', d.id, d.key FROM temp.dropped g "
             "JOIN def d ON d.id BETWEEN g.id * 1048576 AND g.id * 1048576 + 1048575 WHERE d.id < ?1",
      /*14*/ "INSERT INTO def_key(rowid, key) SELECT id, key FROM def WHERE id >= ?1",
      /*15*/ "DELETE FROM temp.dropped",
  };
  static_assert(std::size(kSql) == 16);
  static_assert(kNameBits == 20, "the statements above multiply by 2^20");
  if (writeStatements_.empty()) {
    if (!exec("CREATE TEMP TABLE IF NOT EXISTS dropped(id INTEGER PRIMARY KEY)")) return;
    for (const char* sql : kSql) {
      sqlite3_stmt* s = prepare(sql);
      if (!s) return;
      writeStatements_.push_back(s);
    }
  }
  auto st = [&](int i) { return writeStatements_[static_cast<size_t>(i)]; };
  bool ok = true;
  auto check = [&](int rc, int expected) {
    if (ok && rc != expected) {
      failSql("cannot be written", rc);
      ok = false;
    }
    return ok;
  };

  std::unordered_map<std::string, int64_t> folderIds;
  auto folderId = [&](const std::string& dir) -> int64_t {
    auto it = folderIds.find(dir);
    if (it != folderIds.end()) return it->second;
    {
      Use q(st(0));
      q.blob(1, dir);
      if (!check(q.step(), SQLITE_DONE)) return 0;
    }
    Use q(st(1));
    q.blob(1, dir);
    if (!check(q.step(), SQLITE_ROW)) return 0;
    int64_t id = q.col(0);
    folderIds.emplace(dir, id);
    return id;
  };
  // Dropped drawings lose their definitions at the end, in bulk.
  std::vector<int64_t> dropped;
  auto dropDrawing = [&](int64_t id) {
    Use q(st(4));
    q.integer(1, id);
    if (check(q.step(), SQLITE_DONE)) dropped.push_back(id);
  };
  auto dropFolderTree = [&](int64_t id, const std::string& path) {
    // The folder and every folder below it, with their drawings.
    std::vector<int64_t> folders{id};
    {
      Use q(st(9));
      q.blob(1, path);
      const std::string end = PrefixEnd(path);
      q.blob(2, end);
      int rc;
      while ((rc = q.step()) == SQLITE_ROW) folders.push_back(q.col(0));
      if (!check(rc, SQLITE_DONE)) return;
    }
    for (int64_t f : folders) {
      std::vector<int64_t> drawings;
      {
        Use q(st(8));
        q.integer(1, f);
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) drawings.push_back(q.col(0));
        if (!check(rc, SQLITE_DONE)) return;
      }
      for (int64_t d : drawings) dropDrawing(d);
      Use q(st(10));
      q.integer(1, f);
      if (!check(q.step(), SQLITE_DONE)) return;
    }
    folderIds.clear();
  };

  if (!exec("BEGIN IMMEDIATE")) return;
  // Definitions from here on are new: none of them is in the key index yet.
  int64_t newDefinitions = 0;
  {
    Use q(st(11));
    int rc = q.step();
    if (rc == SQLITE_ROW) {
      newDefinitions = (q.col(0) + 1) << kNameBits;
    } else {
      check(rc, SQLITE_DONE);
    }
  }
  std::string dir, name;
  std::unordered_set<std::string> recordedIn;
  for (const PendingRecord& r : records) {
    if (!ok) break;
    SplitPath(r.path, dir, name);
    recordedIn.insert(dir);
    const int64_t fid = folderId(dir);
    if (!ok) break;
    {
      Use q(st(2));
      q.integer(1, fid);
      q.blob(2, name);
      int rc = q.step();
      if (rc == SQLITE_ROW) {
        int64_t old = q.col(0);
        sqlite3_reset(*q);
        dropDrawing(old);
      } else {
        check(rc, SQLITE_DONE);
      }
    }
    if (!ok) break;
    if (static_cast<int64_t>(r.record.names.size()) > kMaxNames) continue;
    int64_t id = 0;
    {
      Use q(st(5));
      q.integer(1, fid);
      q.blob(2, name);
      q.integer(3, OutcomeCode(r.record.outcome));
      q.integer(4, static_cast<int64_t>(r.stamp.device));
      q.integer(5, static_cast<int64_t>(r.stamp.inode));
      q.integer(6, r.stamp.size);
      q.integer(7, r.stamp.mtimeNs);
      q.integer(8, r.stamp.ctimeNs);
      q.integer(9, r.trusted ? 1 : 0);
      q.integer(10, r.record.cutName);
      const std::string names = r.prepared ? std::string() : PackNames(r.record.names);
      q.blob(11, r.prepared ? r.packedNames : names);
      if (!check(q.step(), SQLITE_DONE)) break;
      id = sqlite3_last_insert_rowid(db_);
    }
    for (size_t i = 0; i < r.record.names.size() && ok; ++i) {
      // See Prepare.
      const std::string key = r.prepared ? std::string() : ToUtf8(StrNormalizeKey(CutAtFlag(r.record.names[i], true)));
      Use q(st(6));
      q.integer(1, (id << kNameBits) | static_cast<int64_t>(i));
      q.text(2, r.prepared ? r.keys[i] : key);
      check(q.step(), SQLITE_DONE);
    }
  }
  for (const PendingListing& l : listings) {
    if (!ok) break;
    const int64_t fid = folderId(l.folder);
    if (!ok) break;
    const std::string drawings = PackList(l.drawings);
    std::string subfolders;
    bool same = false;
    {
      Use q(st(1));
      q.blob(1, l.folder);
      if (!check(q.step(), SQLITE_ROW)) break;
      // Subfolders not looked at stay as the last walk below it found them.
      subfolders = l.subfolders ? PackList(*l.subfolders) : q.bytes(3);
      same = q.col(1) == 1 && q.bytes(2) == drawings && q.bytes(3) == subfolders;
    }
    // An unchanged listing needs nothing, unless this write recorded a
    // drawing in the folder that it may not name.
    if (same && !recordedIn.count(l.folder)) continue;
    {
      Use q(st(7));
      q.integer(1, fid);
      q.blob(2, drawings);
      q.blob(3, subfolders);
      if (!check(q.step(), SQLITE_DONE)) break;
    }
    // Drawings gone from the folder.
    const std::unordered_set<std::string> present(l.drawings.begin(), l.drawings.end());
    std::vector<int64_t> gone;
    {
      Use q(st(8));
      q.integer(1, fid);
      int rc;
      while ((rc = q.step()) == SQLITE_ROW)
        if (!present.count(q.bytes(1))) gone.push_back(q.col(0));
      if (!check(rc, SQLITE_DONE)) break;
    }
    for (int64_t d : gone) dropDrawing(d);
    if (!l.subfolders) continue;
    // Folders gone from it, with everything below them.
    const std::unordered_set<std::string> subs(l.subfolders->begin(), l.subfolders->end());
    std::vector<std::pair<int64_t, std::string>> goneFolders;
    {
      Use q(st(9));
      q.blob(1, l.folder);
      const std::string end = PrefixEnd(l.folder);
      q.blob(2, end);
      int rc;
      while ((rc = q.step()) == SQLITE_ROW) {
        std::string path = q.bytes(1);
        std::string rest = path.substr(l.folder.size());
        // Only the folders directly in it.
        if (rest.size() < 2 || rest.back() != '/' || rest.find('/') != rest.size() - 1) continue;
        rest.pop_back();
        if (!subs.count(rest)) goneFolders.emplace_back(q.col(0), path);
      }
      if (!check(rc, SQLITE_DONE)) break;
    }
    for (const auto& [id, path] : goneFolders) dropFolderTree(id, path);
  }
  // The definitions of dropped drawings leave the key index (those it holds)
  // and the table; then the new ones join the key index.
  if (ok && !dropped.empty()) {
    for (int64_t id : dropped) {
      Use q(st(12));
      q.integer(1, id);
      if (!check(q.step(), SQLITE_DONE)) break;
    }
    if (ok) {
      Use q(st(13));
      q.integer(1, newDefinitions);
      check(q.step(), SQLITE_DONE);
    }
    for (int64_t id : dropped) {
      if (!ok) break;
      Use q(st(3));
      q.integer(1, id << kNameBits);
      q.integer(2, (id << kNameBits) | ((int64_t(1) << kNameBits) - 1));
      check(q.step(), SQLITE_DONE);
    }
    if (ok) {
      Use q(st(15));
      check(q.step(), SQLITE_DONE);
    }
  }
  if (ok) {
    Use q(st(14));
    q.integer(1, newDefinitions);
    check(q.step(), SQLITE_DONE);
  }
  if (ok) {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      failSql("cannot be written", rc);
      ok = false;
    }
  }
  if (!ok) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void IndexDb::beginRead() {
  std::lock_guard lock(mu_);
  if (usable_) exec("BEGIN");
}

void IndexDb::endRead() {
  std::lock_guard lock(mu_);
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
}

std::optional<StoredFolder> IndexDb::folder(const std::string& path) {
  std::lock_guard lock(mu_);
  if (!usable_) return std::nullopt;
  sqlite3_stmt* s = folderStatement_ ? folderStatement_
                                     : (folderStatement_ = prepare(
                                            "SELECT id, drawings, subfolders FROM folder WHERE path = ?1 AND listed = 1"));
  if (!s) return std::nullopt;
  Use q(s);
  q.blob(1, path);
  int rc = q.step();
  if (rc == SQLITE_DONE) return std::nullopt;
  if (rc != SQLITE_ROW) {
    failSql("cannot be read", rc);
    return std::nullopt;
  }
  return StoredFolder{q.col(0), path, q.list(1), q.list(2)};
}

std::vector<StoredFolder> IndexDb::foldersBelow(const std::string& prefix) {
  std::vector<StoredFolder> out;
  std::lock_guard lock(mu_);
  if (!usable_) return out;
  const std::string end = PrefixEnd(prefix);
  std::string sql = "SELECT id, path, subfolders FROM folder WHERE listed = 1 AND path >= ?1";
  if (!end.empty()) sql += " AND path < ?2";
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_blob(s, 1, prefix.data(), static_cast<int>(prefix.size()), SQLITE_STATIC);
    if (!end.empty()) sqlite3_bind_blob(s, 2, end.data(), static_cast<int>(end.size()), SQLITE_STATIC);
    Use q(s);
    while ((rc = q.step()) == SQLITE_ROW) out.push_back(StoredFolder{q.col(0), q.bytes(1), {}, q.list(2)});
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    failSql("cannot be read", rc);
    out.clear();
  }
  return out;
}

std::string IndexDb::folderDrawings(int64_t folderId) {
  std::lock_guard lock(mu_);
  if (!usable_) return {};
  sqlite3_stmt* s = folderDrawingsStatement_
                        ? folderDrawingsStatement_
                        : (folderDrawingsStatement_ = prepare("SELECT drawings FROM folder WHERE id = ?1"));
  if (!s) return {};
  Use q(s);
  q.integer(1, folderId);
  int rc = q.step();
  if (rc == SQLITE_ROW) return q.bytes(0);
  if (rc != SQLITE_DONE) failSql("cannot be read", rc);
  return {};
}

std::vector<IndexDb::FolderDrawing> IndexDb::drawingsIn(const std::vector<int64_t>& folderIds) {
  std::vector<FolderDrawing> out;
  std::lock_guard lock(mu_);
  if (!usable_) return out;
  sqlite3_stmt* s = drawingsInStatement_
                        ? drawingsInStatement_
                        : (drawingsInStatement_ = prepare((std::string("SELECT ") + kDrawingColumns +
                                                           " FROM drawing d WHERE d.folder = ?1")
                                                              .c_str()));
  if (!s) return out;
  for (int64_t f : folderIds) {
    Use q(s);
    q.integer(1, f);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
      FolderDrawing fd;
      if (!ReadDrawing(q, fd.drawing)) {
        fail("holds a damaged record");
        return {};
      }
      fd.folderId = q.col(10);
      fd.name = q.bytes(11);
      out.push_back(std::move(fd));
    }
    if (rc != SQLITE_DONE) {
      failSql("cannot be read", rc);
      return {};
    }
  }
  return out;
}

std::vector<IndexDb::FolderDrawing> IndexDb::drawingsMatching(const std::u16string& key) {
  std::vector<FolderDrawing> out;
  std::lock_guard lock(mu_);
  if (!usable_) return out;
  // A key the trigram index can look up: three characters or more and no
  // surrogates, which UTF-8 could not keep as they stand.
  size_t characters = 0;
  bool surrogate = false;
  for (char16_t c : key) {
    if (c >= 0xD800 && c <= 0xDFFF) surrogate = true;
    ++characters;
  }
  std::string sql;
  std::string bound;
  if (surrogate) {
    sql = "SELECT id FROM def";
  } else if (characters >= 3) {
    // Every trigram of the key (the index keeps no positions): a superset of
    // the definitions that contain it.
    std::set<std::string> trigrams;
    for (size_t i = 0; i + 3 <= key.size(); ++i) {
      std::string t = "\"";
      for (char c : ToUtf8(key.substr(i, 3))) {
        if (c == '"') t += '"';
        t += c;
      }
      trigrams.insert(t + "\"");
    }
    for (const std::string& t : trigrams) bound += (bound.empty() ? "" : " AND ") + t;
    sql = "SELECT rowid FROM def_key WHERE def_key MATCH ?1";
  } else {
    bound = ToUtf8(key);
    sql = "SELECT id FROM def WHERE instr(key, ?1) > 0";
  }
  // Drawing ids with the positions of their names that may hold the key,
  // in id order: both queries give their rows in row id order, so the
  // drawings are then fetched in the order they lie in the table.
  std::vector<std::pair<int64_t, std::vector<uint32_t>>> candidates;
  constexpr int64_t kPositionMask = (int64_t(1) << kNameBits) - 1;
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    if (!bound.empty()) sqlite3_bind_text(s, 1, bound.data(), static_cast<int>(bound.size()), SQLITE_STATIC);
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      const int64_t def = sqlite3_column_int64(s, 0);
      const int64_t id = def >> kNameBits;
      if (candidates.empty() || candidates.back().first != id) candidates.emplace_back(id, std::vector<uint32_t>());
      candidates.back().second.push_back(static_cast<uint32_t>(def & kPositionMask));
    }
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    failSql("cannot be read", rc);
    return out;
  }
  // Row ids in order are what both queries give now; should a future
  // version of SQLite not, the order is made here.
  auto byId = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (!std::is_sorted(candidates.begin(), candidates.end(), byId)) {
    std::stable_sort(candidates.begin(), candidates.end(), byId);
    std::vector<std::pair<int64_t, std::vector<uint32_t>>> merged;
    for (auto& c : candidates) {
      if (merged.empty() || merged.back().first != c.first) merged.emplace_back(c.first, std::vector<uint32_t>());
      merged.back().second.insert(merged.back().second.end(), c.second.begin(), c.second.end());
    }
    candidates.swap(merged);
  }
  for (auto& c : candidates) std::sort(c.second.begin(), c.second.end());
  // The drawings not read to their end, for their reports.
  std::vector<int64_t> notRead;
  s = nullptr;
  // Sorted here: ORDER BY would have the planner scan the whole table in
  // row id order rather than use the index of the few not read.
  rc = sqlite3_prepare_v2(db_, "SELECT id FROM drawing WHERE outcome != 0", -1, &s, nullptr);
  if (rc == SQLITE_OK)
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) notRead.push_back(sqlite3_column_int64(s, 0));
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    failSql("cannot be read", rc);
    return out;
  }
  std::sort(notRead.begin(), notRead.end());
  if (!notRead.empty()) {
    std::vector<std::pair<int64_t, std::vector<uint32_t>>> merged;
    merged.reserve(candidates.size() + notRead.size());
    size_t k = 0;
    for (auto& c : candidates) {
      for (; k < notRead.size() && notRead[k] < c.first; ++k) merged.emplace_back(notRead[k], std::vector<uint32_t>());
      if (k < notRead.size() && notRead[k] == c.first) ++k;
      merged.push_back(std::move(c));
    }
    for (; k < notRead.size(); ++k) merged.emplace_back(notRead[k], std::vector<uint32_t>());
    candidates.swap(merged);
  }
  sqlite3_stmt* byIdStatement = drawingByIdStatement_
                                    ? drawingByIdStatement_
                                    : (drawingByIdStatement_ = prepare((std::string("SELECT ") + kDrawingColumns +
                                                                        " FROM drawing d WHERE d.id = ?1")
                                                                           .c_str()));
  if (!byIdStatement) return {};
  out.reserve(candidates.size());
  for (const auto& [id, positions] : candidates) {
    Use q(byIdStatement);
    q.integer(1, id);
    rc = q.step();
    if (rc == SQLITE_DONE) continue;  // left in the key index by a drawing since dropped
    if (rc != SQLITE_ROW) {
      failSql("cannot be read", rc);
      return {};
    }
    FolderDrawing fd;
    // Only the names that may hold the key are made (and the one the end of
    // the file cut short, for its report).
    if (!ReadDrawing(q, fd.drawing, &positions)) {
      fail("holds a damaged record");
      return {};
    }
    fd.folderId = q.col(10);
    fd.name = q.bytes(11);
    fd.mayMatch.assign(fd.drawing.record.names.size(), false);
    for (uint32_t p : positions)
      if (p < fd.mayMatch.size()) fd.mayMatch[p] = true;
    out.push_back(std::move(fd));
  }
  return out;
}

std::string IndexDb::integrityCheck() {
  std::lock_guard lock(mu_);
  if (!db_) return "not open";
  std::string result;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      if (!result.empty()) result += "\n";
      result += reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
  }
  sqlite3_finalize(s);
  // The key index against its definitions.
  if (result == "ok" && usable_) {
    char* message = nullptr;
    int rc = sqlite3_exec(db_, "INSERT INTO def_key(def_key, rank) VALUES ('integrity-check', 1)", nullptr, nullptr,
                          &message);
    if (rc != SQLITE_OK) result = std::string("key index: ") + (message ? message : sqlite3_errstr(rc));
    if (message) sqlite3_free(message);
  }
  return result;
}

}  // namespace tarnwick
