// Hostile drawings: huge counts, strings and class names at their limits,
// definitions that insert themselves, and a gigabyte of 0xFF bytes.  Every
// read must end (ctest's timeout catches one that does not) and allocate no
// more than a small multiple of the drawing's size.
//
// This test program counts every byte that operator new hands out, so the
// peak a read allocates can be measured exactly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "jw/block_names.h"
#include "jw/headers.h"
#include "jw/model.h"
#include "read_both.h"
#include "support/drawing_writer.h"

namespace {

std::atomic<size_t> gLive{0};
std::atomic<size_t> gPeak{0};

void* Allocate(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) return nullptr;
  const size_t now = gLive.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
  size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void* p) {
  if (!p) return;
  gLive.fetch_sub(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

void* operator new(size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace tarnwick {
namespace {

using namespace testing;

// The most a read may allocate at its peak, the file image itself not
// counted.  The largest in-memory record per stored byte is a block
// definition: about 300 bytes of record for a smallest stored definition of
// 27 bytes, 11 times its size; texts take at most twice their stored bytes.
// The constant covers what does not grow with the file: the header tables,
// the first step of an entity array (1000 records) and the block tree any
// drawing may build (65536 nodes of 112 bytes, 11 MB at the peak while the
// array doubles).
size_t AllowedPeak(size_t fileSize) { return 16 * fileSize + (16u << 20); }

// The peak of bytes allocated and still held while f runs.
size_t PeakDuring(const std::function<void()>& f) {
  const size_t base = gLive.load();
  gPeak.store(base);
  f();
  return gPeak.load() - base;
}

// A body after the header of the format.
Bytes Image(bool jws, int32_t version, const Bytes& body) {
  return Concat(jws ? JwsHeader(version) : JwwHeader(version), body);
}

Insert Ins(uint32_t number) {
  Insert i;
  i.number = number;
  return i;
}

Definition Def(uint32_t number, std::string name, std::vector<Entity> entities) {
  Definition d;
  d.number = number;
  d.name = std::move(name);
  d.entities = std::move(entities);
  return d;
}

// A drawing with one insert of definition 1 and the given definitions.
Bytes Tree(bool jws, std::vector<Definition> defs) {
  Drawing dr;
  dr.jws = jws;
  dr.entities = {Ins(1)};
  dr.definitions = std::move(defs);
  return Write(dr);
}

// The new-class tag of the line class with a name of n bytes: "CDataSen" and
// zero bytes after it, which the name ends before.
Bytes LineClassNamed(size_t n) {
  BodyWriter w(700);
  std::string name = "CDataSen";
  name.resize(n, '\0');
  w.out().count(1).u16(0xFFFF).u16(1).u16(static_cast<uint16_t>(n)).bytes(name);
  w.entityBody(Line{});
  w.out().count(0);
  return w.out().data();
}

// One definition whose name announces 65535 bytes (JWW: a byte text "abc")
// or 65535 code units (JWS: UTF-16 "ab") and is cut by the end of the file.
Bytes NameCutByTheEnd(bool jws) {
  BodyWriter d(700);
  d.definition(Def(1, "", {}), 0);
  Bytes def = d.out().data();
  def.resize(def.size() - 3);  // the empty name and the entity count
  ByteWriter w;
  w.count(0).count(1).bytes(def);
  if (jws)
    w.u8(255).u16(0xFFFE).u8(255).u16(0xFFFF).bytes(std::string_view("a\0b\0", 4));
  else
    w.u8(255).u16(0xFFFF).bytes("abc");
  return Image(jws, 700, w.data());
}

struct BoundCase {
  const char* name;
  bool jws;
  std::function<Bytes()> make;
  bool ok;           // FileIn's answer
  int32_t defs;      // EntBlockDefN after the read
  int32_t lines;     // EntLineN after the read
  int32_t tree;      // EntBlockTreeN, or one of the two below
};

// The tree stops at the node limit of the drawing, or where the copies of
// the first definition's name reach their limit.
constexpr int32_t kNodeLimit = -1;
constexpr int32_t kNameLimit = -2;

int32_t ExpectedTree(const BoundCase& c, const TJwBody& d) {
  if (c.tree == kNodeLimit) return d.TreeNodeLimit;
  if (c.tree == kNameLimit)
    return static_cast<int32_t>(static_cast<size_t>(d.TreeNodeLimit) * TJwBody::kTreeNameUnitsPerNode /
                                d.EntBlockDef.at(0).strName.size());
  return c.tree;
}

std::ostream& operator<<(std::ostream& os, const BoundCase& c) { return os << c.name; }

const BoundCase kCases[] = {
    {"entities_int_max", false,
     [] {
       BodyWriter w(700);
       w.out().count(0x7FFFFFFF, true);
       w.entity(Line{});
       w.out().count(0);
       return Image(false, 700, w.out().data());
     },
     false, 0, 0, 0},
    {"jws_entities_int_max", true,
     [] {
       BodyWriter w(300);
       w.out().count(0x7FFFFFFF, true);
       w.entity(Line{});
       return Image(true, 300, w.out().data());
     },
     false, 0, 0, 0},
    {"definitions_int_max", false,
     [] {
       BodyWriter w(700);
       w.out().count(0).count(0x7FFFFFFF, true);
       w.definition(Def(1, "x", {Line{}}), 0);
       return Image(false, 700, w.out().data());
     },
     false, 0, 0, 0},
    {"definition_entities_int_max", true,
     [] {
       BodyWriter w(700);
       w.out().count(0).count(1);
       Bytes def = [] {
         BodyWriter d(700);
         d.definition(Def(1, "x", {}), 0);
         return d.out().data();
       }();
       def.resize(def.size() - 2);  // the definition's own entity count
       w.out().bytes(def).count(0x7FFFFFFF, true);
       w.entity(Line{});
       return Image(true, 700, w.out().data());
     },
     false, 1, 0, 0},
    {"byte_string_of_65535_at_the_end", false, [] { return NameCutByTheEnd(false); }, false, 1, 0, 0},
    {"utf16_string_of_65535_at_the_end", true, [] { return NameCutByTheEnd(true); }, false, 1, 0, 0},
    {"memo_of_65535_at_the_end", false,
     [] {
       ByteWriter w;
       w.bytes("JwwData.").i32(700).u8(255).u16(0xFFFF).bytes("memo");
       return w.data();
     },
     false, 0, 0, 0},
    {"class_name_of_2047_bytes", false, [] { return Image(false, 700, LineClassNamed(2047)); }, true, 0, 1, 0},
    {"class_name_of_2048_bytes", false, [] { return Image(false, 700, LineClassNamed(2048)); }, false, 0, 0, 0},
    {"definition_inserting_itself", false, [] { return Tree(false, {Def(1, "self", {Ins(1)})}); }, true, 1, 0,
     TJwBody::kMaxTreeLevel + 1},
    {"definition_inserting_itself_twice", true, [] { return Tree(true, {Def(1, "self", {Ins(1), Ins(1)})}); },
     true, 1, 0, kNodeLimit},
    {"long_named_definition_inserting_itself_twice", false,
     [] { return Tree(false, {Def(1, std::string(65000, 'n'), {Ins(1), Ins(1)})}); }, true, 1, 0, kNameLimit},
    {"fifteen_definitions_each_inserting_the_next_twice", false,
     [] {
       std::vector<Definition> defs;
       for (uint32_t i = 1; i <= 15; ++i) defs.push_back(Def(i, "d" + std::to_string(i), {Ins(i + 1), Ins(i + 1)}));
       return Tree(false, defs);
     },
     true, 15, 0, (1 << 16) - 1},
    {"many_definitions_before_one_inserting_itself", false,
     [] {
       std::vector<Definition> defs;
       for (uint32_t i = 2; i <= 20001; ++i) defs.push_back(Def(i, "", {}));
       defs.push_back(Def(1, "self", {Ins(1), Ins(1)}));
       return Tree(false, defs);
     },
     true, 20001, 0, kNodeLimit},
    {"ff_bytes_after_a_jww_header", false, [] { return Image(false, 700, Bytes(1 << 16, 0xFF)); }, false, 0, 0, 0},
    {"ff_bytes_after_an_old_jww_header", false, [] { return Image(false, 300, Bytes(1 << 16, 0xFF)); }, false, 0,
     0, 0},
    {"ff_bytes_after_a_jws_header", true, [] { return Image(true, 700, Bytes(1 << 16, 0xFF)); }, false, 0, 0, 0},
    {"ff_bytes_after_the_magic_and_version", false,
     [] {
       Bytes b = ByteWriter().bytes("JwwData.").i32(700).data();
       b.resize(b.size() + (4 << 20), 0xFF);
       return b;
     },
     false, 0, 0, 0},
};

class Bounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(Bounds, EndsWithinTheMemoryBound) {
  const BoundCase& c = GetParam();
  const Bytes b = c.make();
  TJwwData jww;
  TJwsData jws;
  TJwBody& body = c.jws ? static_cast<TJwBody&>(jws) : jww;
  bool ok = false;
  const size_t peak = PeakDuring([&] { ok = c.jws ? jws.FileInBytes(b.data(), b.size()) : jww.FileInBytes(b.data(), b.size()); });
  EXPECT_EQ(c.ok, ok);
  EXPECT_EQ(c.defs, body.EntBlockDefN);
  EXPECT_EQ(c.lines, body.EntLineN);
  EXPECT_EQ(ExpectedTree(c, body), body.EntBlockTreeN);
  EXPECT_LE(peak, AllowedPeak(b.size())) << "a file of " << b.size() << " bytes";

  BlockNameList fast;
  const size_t fastPeak =
      PeakDuring([&] { ReadBlockNames(b.data(), b.size(), c.jws ? DrawingFormat::kJws : DrawingFormat::kJww, fast); });
  EXPECT_EQ(ok, fast.ok);
  EXPECT_EQ(NamesOf(body), fast.names);
  EXPECT_LE(fastPeak, AllowedPeak(b.size()));
}

INSTANTIATE_TEST_SUITE_P(Hostile, Bounds, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Bounds, WhatAStringCutByTheEndOfTheFileLeaves) {
  TJwwData d;
  const Bytes bytes = NameCutByTheEnd(false);
  ASSERT_FALSE(d.FileInBytes(bytes.data(), bytes.size()));
  ASSERT_EQ(1, d.EntBlockDefN);
  EXPECT_EQ(u"abc", d.EntBlockDef[0].strName);
  TJwsData s;
  const Bytes wide = NameCutByTheEnd(true);
  ASSERT_FALSE(s.FileInBytes(wide.data(), wide.size()));
  ASSERT_EQ(1, s.EntBlockDefN);
  EXPECT_EQ(u"ab", s.EntBlockDef[0].strName);
}

// A gigabyte of 0xFF bytes made of one 1 MB block mapped over and over, so
// it costs a megabyte of memory.  The first block is a private copy that a
// test may write a header into.
class GigabyteOfFF {
 public:
  static constexpr size_t kBlock = 1 << 20;
  static constexpr size_t kSize = size_t(1) << 30;

  GigabyteOfFF() {
    fd_ = memfd_create("ff", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, kBlock) != 0) return;
    void* block = mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (block == MAP_FAILED) return;
    std::memset(block, 0xFF, kBlock);
    munmap(block, kBlock);
    void* area = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(area);
    for (size_t off = 0; off < kSize; off += kBlock) {
      if (mmap(base_ + off, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd_, 0) == MAP_FAILED) {
        munmap(base_, kSize);
        base_ = nullptr;
        return;
      }
    }
  }
  ~GigabyteOfFF() {
    if (base_) munmap(base_, kSize);
    if (fd_ >= 0) close(fd_);
  }
  uint8_t* data() const { return base_; }

 private:
  int fd_ = -1;
  uint8_t* base_ = nullptr;
};

TEST(Bounds, GigabyteOfFFIsRefusedAtOnce) {
  GigabyteOfFF ff;
  if (!ff.data()) GTEST_SKIP() << "no room to map a gigabyte";
  const uint8_t* p = ff.data();
  const size_t n = GigabyteOfFF::kSize;
  EXPECT_FALSE(CheckJwwImage(p, n));
  EXPECT_FALSE(CheckJwsImage(p, n));
  TJwwData jww;
  TJwsData jws;
  BlockNameList fast;
  const size_t peak = PeakDuring([&] {
    EXPECT_FALSE(jww.FileInBytes(p, n));
    EXPECT_FALSE(jws.FileInBytes(p, n));
    ReadBlockNames(p, n, DrawingFormat::kJww, fast);
  });
  EXPECT_FALSE(fast.check);
  EXPECT_EQ(0, jww.EntBlockDefN);
  EXPECT_EQ(0, jws.EntBlockDefN);
  EXPECT_LE(peak, size_t(1) << 20) << "the header tables at most";
}

TEST(Bounds, GigabyteOfFFAfterAHeaderEndsTheBody) {
  GigabyteOfFF ff;
  if (!ff.data()) GTEST_SKIP() << "no room to map a gigabyte";
  const size_t n = GigabyteOfFF::kSize;
  struct Case {
    bool jws;
    int32_t version;
  } cases[] = {{false, 700}, {false, 230}, {true, 700}, {true, 300}};
  for (const Case& c : cases) {
    const Bytes header = c.jws ? JwsHeader(c.version) : JwwHeader(c.version);
    std::memcpy(ff.data(), header.data(), header.size());
    TJwwData jww;
    TJwsData jws;
    TJwBody& body = c.jws ? static_cast<TJwBody&>(jws) : jww;
    bool ok = true;
    const size_t peak =
        PeakDuring([&] { ok = c.jws ? jws.FileInBytes(ff.data(), n) : jww.FileInBytes(ff.data(), n); });
    EXPECT_FALSE(ok) << c.version;
    EXPECT_EQ(-1, c.jws ? jws.Enthd.n1 : jww.Enthd.n1) << "the count 0xFFFF, 0xFFFFFFFF is -1";
    EXPECT_EQ(0, body.EntBlockDefN);
    EXPECT_TRUE(body.EntNo.empty());
    EXPECT_LE(peak, size_t(1) << 20) << c.version;
    std::memset(ff.data(), 0xFF, header.size());
  }
}

// A file of a gigabyte: a megabyte of 0xFF bytes and a hole after it.  The
// checks read its head and nothing more.
TEST(Bounds, FileChecksReadOnlyTheHeadOfAGigabyteFile) {
  const std::string path = ::testing::TempDir() + "tarnwick_bounds_gigabyte.jww";
  const Bytes ff(GigabyteOfFF::kBlock, 0xFF);
  const Bytes header = JwwHeader(700);
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const bool made = write(fd, ff.data(), ff.size()) == static_cast<ssize_t>(ff.size()) &&
                    ftruncate(fd, static_cast<off_t>(GigabyteOfFF::kSize)) == 0;
  close(fd);
  if (!made) {
    unlink(path.c_str());
    GTEST_SKIP() << "no room for a sparse gigabyte file";
  }
  TJwwData jww;
  TJwsData jws;
  size_t peak = PeakDuring([&] {
    EXPECT_FALSE(jww.FileCheck(path));
    EXPECT_FALSE(jws.FileCheck(path));
  });
  EXPECT_LE(peak, 4096u);

  fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(static_cast<ssize_t>(header.size()), pwrite(fd, header.data(), header.size(), 0));
  close(fd);
  peak = PeakDuring([&] { EXPECT_TRUE(jww.FileCheck(path)); });
  EXPECT_LE(peak, 4096u);
  unlink(path.c_str());
}

}  // namespace
}  // namespace tarnwick
