// The engine's use of a cache of earlier reads: what it looks up, what it
// records, and that rows and reports are the same whether a drawing was read
// or taken from the cache.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "search/search_cache.h"
#include "support/tree_fixture.h"

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs &&
         a.ctimeNs == b.ctimeNs;
}

// Keeps records in memory, like the index would, and counts the calls.
class FakeCache : public SearchCache {
 public:
  std::optional<DrawingRecord> lookup(const std::string& path, const FileStamp& stamp) override {
    std::lock_guard<std::mutex> lock(mu_);
    ++lookups;
    auto it = records.find(path);
    if (it == records.end() || !SameStamp(it->second.first, stamp)) return std::nullopt;
    ++hits;
    return it->second.second;
  }
  void record(const std::string& path, const FileStamp& stamp, const DrawingRecord& rec) override {
    std::lock_guard<std::mutex> lock(mu_);
    records[path] = {stamp, rec};
    recorded.push_back(path);
  }
  void folderListed(const std::string& folder, const std::vector<std::string>& names,
                    const std::vector<std::string>*) override {
    std::lock_guard<std::mutex> lock(mu_);
    listed.emplace_back(folder, names);
  }
  void finish() override { ++finished; }

  std::map<std::string, std::pair<FileStamp, DrawingRecord>> records;
  std::vector<std::string> recorded;
  std::vector<std::pair<std::string, std::vector<std::string>>> listed;
  int lookups = 0, hits = 0, finished = 0;

 private:
  std::mutex mu_;
};

// Also notes which reports came from the cache.
struct CacheRecorder : Recorder {
  std::vector<std::string> cached;
  void file(const FileReport& f) override {
    Recorder::file(f);
    if (f.fromCache) cached.push_back(ToUtf8(f.path));
  }
};

class CachedSearch : public TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    drawing("d/a.jww", {"a1", "@@SFIGORGFLAG"});
    put("d/bad.jww", {'n', 'o', 't', ' ', 'a', ' ', 'd', 'r', 'a', 'w', 'i', 'n', 'g'});
    put("d/notes.jwk", {'x'});
    drawing("d/sub/b.jws", {"@@SFIGORGFLAG", "b2"}, true);
    folder("d/empty");
  }
  std::vector<FolderSlot> slots() const {
    std::vector<FolderSlot> s{{true, rootText() + u"d/", true}};
    s.resize(20);
    return s;
  }
};

TEST_F(CachedSearch, RecordsOnTheFirstSearchAndAnswersFromTheCacheOnTheSecond) {
  for (int jobs : {1, 4}) {
    FakeCache cache;
    SearchOptions plain;
    plain.jobs = jobs;
    CacheRecorder reference;
    SearchFolders(slots(), plain, reference);

    SearchOptions o = plain;
    o.cache = &cache;
    CacheRecorder first, second;
    SearchFolders(slots(), o, first);
    EXPECT_EQ(reference.events, first.events) << jobs;
    EXPECT_TRUE(first.cached.empty());
    EXPECT_EQ(1, cache.finished);
    // The drawing and the file refused by its check are recorded.
    ASSERT_EQ(3u, cache.records.size()) << jobs;
    const std::string root = ToUtf8(rootText());
    EXPECT_EQ(FileOutcome::kNotOfFormat, cache.records.at(root + "d/bad.jww").second.outcome);
    const DrawingRecord& a = cache.records.at(root + "d/a.jww").second;
    EXPECT_EQ((std::vector<std::u16string>{u"a1", u"@@SFIGORGFLAG"}), a.names) << "names before the flag cut";
    struct stat st {};
    ASSERT_EQ(0, ::stat((root + "d/a.jww").c_str(), &st));
    const FileStamp& s = cache.records.at(root + "d/a.jww").first;
    EXPECT_EQ(static_cast<uint64_t>(st.st_ino), s.inode);
    EXPECT_EQ(static_cast<int64_t>(st.st_size), s.size);
    EXPECT_EQ(int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, s.mtimeNs);
    // Every folder listed, with its drawings only.
    ASSERT_EQ(3u, cache.listed.size());
    EXPECT_EQ(root + "d/", cache.listed[0].first);
    EXPECT_EQ((std::vector<std::string>{"a.jww", "bad.jww"}), cache.listed[0].second);
    EXPECT_EQ((std::vector<std::string>{}), cache.listed[1].second);
    EXPECT_EQ(root + "d/sub/", cache.listed[2].first);

    const size_t recordedBefore = cache.recorded.size();
    SearchFolders(slots(), o, second);
    EXPECT_EQ(reference.events, second.events) << jobs;
    EXPECT_EQ(3u, second.cached.size());
    EXPECT_EQ(recordedBefore, cache.recorded.size()) << "nothing read again";
    EXPECT_EQ(2, cache.finished);
  }
}

TEST_F(CachedSearch, RowsComeFromTheRecordAndAChangedFileIsReadAgain) {
  FakeCache cache;
  SearchOptions o;
  o.cache = &cache;
  o.jobs = 1;
  const std::u16string a = path("d/a.jww");
  CacheRecorder first;
  SearchFileList({a}, o, first);
  // A record that still matches is trusted as it stands.
  cache.records.begin()->second.second.names = {u"from@@SFIGORGFLAGcache"};
  CacheRecorder hit;
  SearchFileList({a}, o, hit);
  EXPECT_EQ((std::vector<std::string>{"from"}), hit.blocks());
  EXPECT_EQ(1u, hit.cached.size());

  // Grown by a definition: another size, another stamp, read again.
  drawing("d/a.jww", {"a1", "a2", "a3"});
  CacheRecorder changed;
  SearchFileList({a}, o, changed);
  EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a3"}), changed.blocks());
  EXPECT_TRUE(changed.cached.empty());
  EXPECT_EQ(2u, cache.recorded.size());
}

TEST_F(CachedSearch, FilesThatCannotBeReadAreNeitherRecordedNorTakenFromARecord) {
  FakeCache cache;
  SearchOptions o;
  o.cache = &cache;
  const std::u16string missing = path("d/missing.jww"), dir = path("d/sub.jww");
  folder("d/sub.jww");
  CacheRecorder r;
  SearchFileList({missing, dir}, o, r);
  EXPECT_TRUE(cache.records.empty());
  EXPECT_EQ(0, cache.lookups) << "no stat data to look up with";
  EXPECT_EQ("file " + ToUtf8(missing) + " no such file", r.events[3]);
}

}  // namespace
}  // namespace tarnwick
