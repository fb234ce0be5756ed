// File checks and headers of both formats, and the model's initial state.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/stat.h>

#include "jw/headers.h"
#include "jw/model.h"
#include "read_both.h"
#include "support/drawing_writer.h"

namespace tarnwick {
namespace {

using namespace testing;

Bytes WithVersion(Bytes b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  return b;
}

TEST(FileCheck, JwwMagicAndVersionRange) {
  const Bytes base = JwwHeader(700);
  struct Case {
    int32_t version;
    bool ok;
  } cases[] = {{219, false}, {220, true}, {420, true}, {700, true}, {701, false}, {-700, false}};
  for (const Case& c : cases) {
    Bytes b = WithVersion(base, 8, c.version);
    EXPECT_EQ(c.ok, CheckJwwImage(b.data(), b.size())) << c.version;
  }
  Bytes lower = base;
  lower[0] = 'j';
  EXPECT_FALSE(CheckJwwImage(lower.data(), lower.size()));
  Bytes noDot = base;
  noDot[7] = ' ';
  EXPECT_FALSE(CheckJwwImage(noDot.data(), noDot.size()));
  for (size_t n = 8; n < 12; ++n) EXPECT_FALSE(CheckJwwImage(base.data(), n)) << n << " bytes";
  EXPECT_TRUE(CheckJwwImage(base.data(), 12));
  const Bytes jws = JwsHeader(700);
  EXPECT_FALSE(CheckJwwImage(jws.data(), jws.size()));
}

TEST(FileCheck, JwsMagicSkippedBytesAndVersionRange) {
  const Bytes base = JwsHeader(700);
  struct Case {
    int32_t version;
    bool ok;
  } cases[] = {{229, false}, {230, true}, {700, true}, {701, false}};
  for (const Case& c : cases) {
    Bytes b = WithVersion(base, 200, c.version);
    EXPECT_EQ(c.ok, CheckJwsImage(b.data(), b.size())) << c.version;
  }
  Bytes junk = base;
  for (size_t i = 7; i < 200; ++i) junk[i] = static_cast<uint8_t>(i * 7);
  EXPECT_TRUE(CheckJwsImage(junk.data(), junk.size())) << "the 193 bytes after the magic are never examined";
  EXPECT_FALSE(CheckJwsImage(base.data(), 203));
  const Bytes jww = JwwHeader(700);
  EXPECT_FALSE(CheckJwsImage(jww.data(), jww.size()));
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarnwick_hdr_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string put(const std::string& name, const Bytes& b) {
    std::string p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return p;
  }
  std::filesystem::path dir_;
};

using FileCheckOnDisk = TempDir;

TEST_F(FileCheckOnDisk, OnlyReadableRegularFilesPass) {
  TJwwData jww;
  TJwsData jws;
  EXPECT_TRUE(jww.FileCheck(put("a.jww", JwwHeader(600))));
  EXPECT_TRUE(jws.FileCheck(put("a.jws", JwsHeader(600))));
  EXPECT_FALSE(jww.FileCheck((dir_ / "missing.jww").string()));
  std::filesystem::create_directory(dir_ / "folder.jww");
  EXPECT_FALSE(jww.FileCheck((dir_ / "folder.jww").string()));
  std::string fifo = (dir_ / "pipe.jww").string();
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  EXPECT_FALSE(jww.FileCheck(fifo)) << "a FIFO must be refused, not waited on";
  TJwwData d;
  EXPECT_FALSE(d.FileIn(fifo));
}

TEST_F(FileCheckOnDisk, FileInOfAMissingFileLeavesAnEmptyObject) {
  TJwwData d;
  d.EntBlockDefN = 3;
  EXPECT_FALSE(d.FileIn(std::u16string(u"/nonexistent/\u56F3\u9762.jww")));
  EXPECT_EQ(0, d.EntBlockDefN);
  EXPECT_EQ(0, d.EntBlockTreeN);
}

// One small body after a header of every version that changes the header's
// layout: the definition behind it is only found when the header was read to
// its exact length.
Drawing Probe(bool jws, int32_t version) {
  Drawing d;
  d.jws = jws;
  d.version = version;
  d.entities = {Line{}, Text{}, Dimension{}, Insert{}};
  Definition def;
  def.name = "probe@@SfigorgFlag@@4";
  def.entities = {Line{}, Point{}};
  d.definitions = {def};
  return d;
}

class EveryJwwVersion : public ::testing::TestWithParam<int32_t> {};

TEST_P(EveryJwwVersion, HeaderIsReadToItsExactLength) {
  TJwwData d;
  EXPECT_TRUE(ReadJww(Write(Probe(false, GetParam())), d));
  EXPECT_EQ(GetParam(), d.Enthd.jwVer);
  EXPECT_EQ(u"JwwData.", d.Enthd.jwID);
  EXPECT_EQ(4, d.Enthd.n1);
  EXPECT_EQ(1, d.EntLineN);
  EXPECT_EQ(1, d.EntMojiN);
  EXPECT_EQ(1, d.EntSunpoN);
  ASSERT_EQ(1, d.EntBlockDefN);
  EXPECT_EQ(u"probe@@SfigorgFlag@@4", d.EntBlockDef[0].strName);
  EXPECT_EQ(16u, d.EntLgrp.size());
  EXPECT_EQ(256u, d.EntLay.size());
  EXPECT_EQ(257u, d.EntColS.size());
  EXPECT_EQ(33u, d.EntLtpS.size());
  EXPECT_EQ(10u, d.EntMoj.size());
}

INSTANTIATE_TEST_SUITE_P(Versions, EveryJwwVersion,
                         ::testing::Values(220, 222, 223, 224, 225, 229, 230, 231, 299, 300, 350, 351, 419, 420, 600,
                                           699, 700));

class EveryJwsVersion : public ::testing::TestWithParam<int32_t> {};

TEST_P(EveryJwsVersion, BodyFollowsTheFixedHeader) {
  TJwsData d;
  EXPECT_TRUE(ReadJws(Write(Probe(true, GetParam())), d));
  EXPECT_EQ(u"JwsData", d.Enthd.jwID);
  ASSERT_EQ(1, d.EntBlockDefN);
  EXPECT_EQ(u"probe@@SfigorgFlag@@4", d.EntBlockDef[0].strName);
  ASSERT_EQ(16u, d.EntLgrp.size());
  for (const auto& g : d.EntLgrp) {
    EXPECT_EQ(2, g.anGLay);
    EXPECT_EQ(1.0, g.adScale);
    EXPECT_TRUE(g.aStrGLayName.empty());
  }
  EXPECT_TRUE(d.EntMoj.empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, EveryJwsVersion, ::testing::Values(230, 300, 350, 351, 419, 420, 700));

TEST(JwwHeader, OldVersionsLeaveTheMissingRowsAtTheirDefaults) {
  TJwwData d;
  ASSERT_TRUE(ReadJww(Write(Probe(false, 230)), d));
  EXPECT_EQ(1.0, d.Enthd.dZoomJumpBairitsu[5]);
  EXPECT_EQ(-1, d.Enthd.nZoomJumpGLay[1]);
  EXPECT_EQ(0, d.Enthd.nMojiBG);
  ASSERT_TRUE(ReadJww(Write(Probe(false, 231)), d));
  EXPECT_EQ(-1, d.Enthd.nZoomJumpGLay[8]) << "the writer stores -1";
}

TEST(JwwHeader, WidthRule) {
  struct Case {
    int32_t stored;
    bool wide;
    int32_t bak;
  } cases[] = {{-100, false, -100}, {-101, true, -100}, {-250, true, 50}, {-300, true, 100},
               {-450, true, -50},   {-401, true, -1},   {-501, true, -100}, {5, false, 5}};
  for (const Case& c : cases) {
    JwwHeaderOptions o;
    o.maxDrawWid = c.stored;
    TJwwData d;
    Bytes b = Concat(JwwHeader(600, o), Bytes{0, 0, 0, 0});
    ASSERT_TRUE(d.FileInBytes(b.data(), b.size()));
    EXPECT_EQ(c.wide, d.Enthd.bSenHaba100) << c.stored;
    EXPECT_EQ(c.bak, d.Enthd.nMaxDrawWidBak) << c.stored;
  }
}

TEST(JwwHeader, PackedPrintValueAndNonFiniteTextSizes) {
  JwwHeaderOptions o;
  o.printPacked = 7203;
  o.textKindWidth = std::numeric_limits<double>::quiet_NaN();
  o.textSizeX = std::numeric_limits<double>::infinity();
  TJwwData d;
  Bytes b = Concat(JwwHeader(600, o), Bytes{0, 0, 0, 0});
  ASSERT_TRUE(d.FileInBytes(b.data(), b.size()));
  EXPECT_EQ(720, d.Enthd.nPrtDpi);
  EXPECT_EQ(3, d.Enthd.nPrtDispOnlyNonDraw);
  EXPECT_EQ(3.0, d.EntMoj[0].adMojiX);
  EXPECT_EQ(3.0, d.Enthd.dMojiSizeX);

  o.printPacked = -13;
  b = Concat(JwwHeader(600, o), Bytes{0, 0, 0, 0});
  ASSERT_TRUE(d.FileInBytes(b.data(), b.size()));
  EXPECT_EQ(-1, d.Enthd.nPrtDpi);
  EXPECT_EQ(-3, d.Enthd.nPrtDispOnlyNonDraw);
}

TEST(JwwHeader, MemoKeepsItsLineBreakWhileNamesLoseControls) {
  JwwHeaderOptions o;
  o.memo = "line1\r\nline2";
  o.layerName = "wall\tA";
  o.groupName = Cp932(u"\u5E73\u9762\u56F3\n");
  TJwwData d;
  Bytes b = Concat(JwwHeader(420, o), Bytes{0, 0, 0, 0});
  ASSERT_TRUE(d.FileInBytes(b.data(), b.size()));
  EXPECT_EQ(u"line1\r\nline2", d.Enthd.strMemo);
  EXPECT_EQ(u"wallA", d.EntLay[0].aStrLayName);
  EXPECT_EQ(u"\u5E73\u9762\u56F3", d.EntLgrp[0].aStrGLayName);
}

TEST(JwwHeader, EndsInsideItsLastDoubleStillSucceeds) {
  const Bytes full = JwwHeader(700);
  TJwwData d;
  ByteCursor inside(full.data(), full.size() - 7);
  EXPECT_TRUE(ReadJwwHeader<true>(inside, d, ByteTextDecoder::ForThread()));
  ByteCursor before(full.data(), full.size() - 8);
  EXPECT_FALSE(ReadJwwHeader<true>(before, d, ByteTextDecoder::ForThread()));
  EXPECT_EQ(10u, d.EntMoj.size()) << "tables keep their sizes";
  // With nothing after it the body fails at its first count.
  EXPECT_FALSE(d.FileInBytes(full.data(), full.size()));
}

TEST(JwwHeader, RefusedHeaderKeepsWhatItRead) {
  Bytes b = JwwHeader(700);
  b[0] = 'X';
  TJwwData d;
  EXPECT_FALSE(d.FileInBytes(b.data(), b.size()));
  EXPECT_EQ(u"XwwData.", d.Enthd.jwID);
  EXPECT_EQ(256u, d.EntLay.size());
  EXPECT_EQ(0, d.EntBlockDefN);

  Bytes v = WithVersion(JwwHeader(700), 8, 701);
  EXPECT_FALSE(d.FileInBytes(v.data(), v.size()));
  EXPECT_EQ(701, d.Enthd.jwVer);
}

TEST(JwsHeader, CutAfter420BytesFailsButInsideTheLastDoubleSucceeds) {
  const Bytes full = JwsHeader(600);
  ASSERT_EQ(kJwsHeaderSize, full.size());
  TJwsData d;
  EXPECT_FALSE(d.FileInBytes(full.data(), 420));
  EXPECT_FALSE(d.FileInBytes(full.data(), 444));
  // Inside My2 the header succeeds; the body then ends at its count.
  Bytes b(full.begin(), full.begin() + 445);
  EXPECT_FALSE(d.FileInBytes(b.data(), b.size()));
  EXPECT_EQ(600, d.Enthd.jwVer);
  Bytes ok = Concat(full, Bytes{0, 0, 0, 0});
  EXPECT_TRUE(d.FileInBytes(ok.data(), ok.size()));
}

TEST(Model, FreshObjectsHoldTheInitialState) {
  TJwwData d;
  EXPECT_TRUE(d.EntLgrp.empty());
  EXPECT_TRUE(d.EntLay.empty());
  EXPECT_EQ(0, d.EntBlockDefN);
  EXPECT_EQ(0, d.EntBlockNum);
  EXPECT_EQ(1.0, d.Enthd.dPrtBairitsu);
  EXPECT_EQ(1.0, d.Enthd.dMemoriHyoujiMin);
  EXPECT_EQ(1.0, d.Enthd.dBairitsu);
  EXPECT_EQ(1.0, d.Enthd.dHanniBairitsu);
  for (int k = 1; k <= 8; ++k) {
    EXPECT_EQ(1.0, d.Enthd.dZoomJumpBairitsu[k]);
    EXPECT_EQ(-1, d.Enthd.nZoomJumpGLay[k]);
  }
  TJwsData s;
  EXPECT_EQ(0, s.Enthd.jwVer);
  EXPECT_TRUE(s.EntLgrp.empty());
}

TEST(Model, DataFreeKeepsOnlyTheOwnersSettings) {
  TJwwData d;
  d.BindImageFolder = u"/tmp/x/";
  d.BindImageExr = true;
  d.myMaxWx = 5;
  ASSERT_TRUE(ReadJww(Write(Probe(false, 700)), d));
  ASSERT_EQ(1, d.EntBlockDefN);
  d.DataFree();
  EXPECT_EQ(0, d.EntBlockDefN);
  EXPECT_TRUE(d.EntBlockDef.empty());
  EXPECT_TRUE(d.EntLay.empty());
  EXPECT_EQ(0, d.Enthd.jwVer);
  EXPECT_EQ(u"/tmp/x/", d.BindImageFolder);
  EXPECT_TRUE(d.BindImageExr);
  EXPECT_EQ(5, d.myMaxWx);
}

}  // namespace
}  // namespace tarnwick
