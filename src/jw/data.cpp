// Life cycle, file check and file reading of the two data classes, and the
// block tree they build after every read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <unordered_map>

#include "jw/archive.h"
#include "jw/body_reader.h"
#include "jw/file_image.h"
#include "jw/headers.h"
#include "jw/model.h"
#include "text/path_utils.h"
#include "text/utf.h"

namespace tarnwick {

TEntJwwHeader::TEntJwwHeader() {
  for (int k = 1; k <= 8; ++k) {
    dZoomJumpBairitsu[k] = 1.0;
    nZoomJumpGLay[k] = -1;
  }
}

// ---------------------------------------------------------------- life cycle

void TJwBody::BodyInit() {
  FileOutOpt = 0;
  EntLgrp.clear();
  EntMoj.clear();
  EntNo.clear();
  EntLine.clear(), EntEnko.clear(), EntTen.clear(), EntMoji.clear(), EntSunpo.clear(), EntSolid.clear(),
      EntBlock.clear();
  EntLine.shrink_to_fit(), EntEnko.shrink_to_fit(), EntTen.shrink_to_fit(), EntMoji.shrink_to_fit(),
      EntSunpo.shrink_to_fit(), EntSolid.shrink_to_fit(), EntBlock.shrink_to_fit(), EntNo.shrink_to_fit();
  EntLineN = EntEnkoN = EntTenN = EntMojiN = EntSunpoN = EntSolidN = EntBlockN = 0;
  EntBlockDef.clear();
  EntBlockDef.shrink_to_fit();
  EntBlockDefN = 0;
  EntBlockTree.clear();
  EntBlockTree.shrink_to_fit();
  EntBlockTreeN = 0;
  EntBlockNum = 0;
  BindImageInit();
  FontNameN = 0;
  FontNames.clear();
  MojiEncode = false;
  TreeNodeLimit = kMaxTreeNodes;
}

void TJwBody::FreeDefinitions() {
  const size_t n = std::min(EntBlockDef.size(), static_cast<size_t>(std::max(EntBlockDefN, 0)));
  for (size_t i = 0; i < n; ++i) {
    TEntJwwBlockDef& d = EntBlockDef[i];
    d.mNo = {};
    d.mLine = {}, d.mEnko = {}, d.mTen = {}, d.mMoji = {}, d.mSunpo = {}, d.mSolid = {}, d.mBlock = {};
  }
}

void TJwBody::BindImageInit() {
  BindImage.clear();
  BindImageN = 0;
}

void TJwwData::DataInit() {
  BodyInit();
  Enthd = TEntJwwHeader();
  EntLay.clear();
  EntCol.clear();
  EntLtp1.clear();
  EntLtp2.clear();
  EntLtp3.clear();
  EntColS.clear();
  EntLtpS.clear();
}

void TJwwData::DataFree() {
  FreeDefinitions();
  DataInit();
}

void TJwsData::DataInit() {
  BodyInit();
  Enthd = TEntJwsHeader();
}

void TJwsData::DataFree() {
  FreeDefinitions();
  DataInit();
}

// ---------------------------------------------------------------- images

void TJwwData::BindImageDeleteGzFile() {
  for (int32_t i = 0; i < BindImageN && i < static_cast<int32_t>(BindImage.size()); ++i) {
    const std::u16string& name = BindImage[static_cast<size_t>(i)].Fname;
    try {
      std::u16string ext = FileExtLower(name);
      std::u16string path = BindImageFolder + name;
      if (!path.empty() && ext == u".gz" && FileExistsSafe(path)) DeleteFileSafe(path);
    } catch (...) {
    }
  }
}

void TJwwData::BindImageDeleteNonGzFile() {
  for (int32_t i = 0; i < BindImageN && i < static_cast<int32_t>(BindImage.size()); ++i) {
    std::u16string name = BindImage[static_cast<size_t>(i)].Fname;
    try {
      if (FileExtLower(name) == u".gz") name = ChangeExt(name, u"");
      std::u16string path = BindImageFolder + name;
      if (!path.empty() && FileExistsSafe(path)) DeleteFileSafe(path);
    } catch (...) {
    }
  }
}

void JwwDataFree(TJwwData& JW) {
  JW.BindImageDeleteGzFile();
  JW.BindImageDeleteNonGzFile();
  JW.DataFree();
  JW.BindImageInit();
}

namespace {

// An image name taken from a drawing may only name a file directly inside
// the image folder.
bool SafeImageName(const std::u16string& name) {
  return !name.empty() && name != u"." && name != u".." && name.find(u'/') == std::u16string::npos &&
         name.find(char16_t(0)) == std::u16string::npos;
}

// The image section after the last definition.  Only read when the owner
// asked for the table (BindImageExr) or for the images (BindImageExp).
void ReadImageSection(BodyContext& c, TJwBody& d) {
  d.BindImageInit();
  if (!d.BindImageExp && !d.BindImageExr) return;
  int32_t count = 0;
  c.cur.num(count);
  if (count <= 0) return;
  // Every entry takes at least a length byte and its size.
  if (!CountFits(count, c.cur.remaining(), 5)) ThrowIoError();
  d.BindImageN = count;
  d.BindImage.assign(static_cast<size_t>(count), TBindImageType{});
  for (TBindImageType& img : d.BindImage) {
    img.Fname = ReadCStringClean(c.cur, c.decoder, c.mojiEncode);
    c.cur.num(img.Fsize);
    if (img.Fname.empty() || img.Fsize == 0) continue;
    const uint8_t* data = c.cur.peek();
    size_t got = img.Fsize > 0 ? c.cur.advance(static_cast<size_t>(img.Fsize)) : 0;
    if (!d.BindImageExp || !SafeImageName(img.Fname)) continue;
    std::string path = NativePath(d.BindImageFolder + img.Fname);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) continue;
    bool ok = true;
    for (size_t off = 0; off < got && ok;) {
      ssize_t w = ::write(fd, data + off, got - off);
      if (w <= 0) ok = false;
      else off += static_cast<size_t>(w);
    }
    if (::close(fd) != 0) ok = false;
    if (!ok) ::unlink(path.c_str());
  }
}

// A node takes about 112 bytes: one node per 32 bytes of file keeps a tree
// within a few times the drawing's size, and any drawing may have 65536.
int32_t TreeLimitFor(size_t fileSize) {
  size_t limit = std::max<size_t>(TJwBody::kMinTreeNodeLimit, fileSize / 32);
  return static_cast<int32_t>(std::min<size_t>(limit, TJwBody::kMaxTreeNodes));
}

// Steps shared by both formats after the header: the body, the image
// section (JWW from version 700) and the block tree.
template <class Header>
bool ReadBodyIntoModel(ByteCursor& cur, TJwBody& d, Header& h, bool imageStep, const ByteTextDecoder& decoder) {
  bool ok = true;
  BodyContext c{cur, h.jwVer, decoder, d.MojiEncode};
  try {
    ModelSink sink(d, h.n1, h.n2);
    ReadJwBody(c, sink);
    if (imageStep) ReadImageSection(c, d);
  } catch (const ReadError&) {
    ok = false;
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  d.MakeBlockTree();
  return ok;
}

}  // namespace

// ---------------------------------------------------------------- JWW

bool TJwwData::FileCheck(const std::string& nativePath) const {
  FileImage image;
  // The check looks at the first 12 bytes only; a large file is not read whole.
  return image.load(nativePath, 12) == LoadStatus::kOk && CheckJwwImage(image.data(), image.size());
}

bool TJwwData::FileCheck(const std::u16string& FName) const { return FileCheck(NativePath(FName)); }

bool TJwwData::FileInBytes(const uint8_t* data, size_t size) {
  DataInit();
  TreeNodeLimit = TreeLimitFor(size);
  const ByteTextDecoder& decoder = ByteTextDecoder::ForThread(CodePage);
  ByteCursor cur(data, size);
  if (!ReadJwwHeader<true>(cur, *this, decoder)) return false;
  return ReadBodyIntoModel(cur, *this, Enthd, Enthd.jwVer >= 700, decoder);
}

bool TJwwData::FileIn(const std::string& nativePath) {
  FileImage image;
  if (image.load(nativePath) != LoadStatus::kOk) {
    DataInit();
    MakeBlockTree();
    return false;
  }
  return FileInBytes(image.data(), image.size());
}

bool TJwwData::FileIn(const std::u16string& FName) { return FileIn(NativePath(FName)); }

// ---------------------------------------------------------------- JWS

bool TJwsData::FileCheck(const std::string& nativePath) const {
  FileImage image;
  return image.load(nativePath, 204) == LoadStatus::kOk && CheckJwsImage(image.data(), image.size());
}

bool TJwsData::FileCheck(const std::u16string& FName) const { return FileCheck(NativePath(FName)); }

bool TJwsData::FileInBytes(const uint8_t* data, size_t size) {
  DataInit();
  TreeNodeLimit = TreeLimitFor(size);
  const ByteTextDecoder& decoder = ByteTextDecoder::ForThread(CodePage);
  ByteCursor cur(data, size);
  if (!ReadJwsHeader(cur, *this, decoder)) return false;
  // A figure file has no image section, whatever its version.
  return ReadBodyIntoModel(cur, *this, Enthd, false, decoder);
}

bool TJwsData::FileIn(const std::string& nativePath) {
  FileImage image;
  if (image.load(nativePath) != LoadStatus::kOk) {
    DataInit();
    MakeBlockTree();
    return false;
  }
  return FileInBytes(image.data(), image.size());
}

bool TJwsData::FileIn(const std::u16string& FName) { return FileIn(NativePath(FName)); }

// ---------------------------------------------------------------- block tree

namespace {

struct LocalMatrix {
  double m1, m2, m3, m4;
};

LocalMatrix MatrixOf(const TEntJwwBlock& b) {
  const double c = std::cos(b.radKaitenKaku), s = std::sin(b.radKaitenKaku);
  return {b.dBairitsuX * c, -b.dBairitsuY * s, b.dBairitsuX * s, b.dBairitsuY * c};
}

}  // namespace

void TJwBody::MakeBlockTree() {
  EntBlockTree.clear();
  EntBlockTreeN = 0;
  const int32_t defCount = std::min<int32_t>(EntBlockDefN, static_cast<int32_t>(EntBlockDef.size()));
  for (int32_t i = 0; i < defCount; ++i) {
    EntBlockDef[static_cast<size_t>(i)].ref_flag = false;
    EntBlockDef[static_cast<size_t>(i)].ref_no = -1;
  }
  const int32_t insertCount = std::min<int32_t>(EntBlockN, static_cast<int32_t>(EntBlock.size()));
  if (insertCount <= 0) return;

  // The first definition of each number, found without scanning the list
  // for every node.
  std::unordered_map<uint32_t, int32_t> firstOf;
  firstOf.reserve(static_cast<size_t>(std::max(defCount, 0)));
  for (int32_t i = 0; i < defCount; ++i) firstOf.emplace(EntBlockDef[static_cast<size_t>(i)].nNumber, i);

  // Every node holds a copy of its definition's name, so the names are
  // bounded as well as the nodes: one long name over a big tree would
  // otherwise take gigabytes.  False when the node's name does not fit.
  const int32_t limit = std::max<int32_t>(TreeNodeLimit, 0);
  const size_t nameLimit = static_cast<size_t>(limit) * kTreeNameUnitsPerNode;
  size_t nameUnits = 0;
  bool full = false;
  auto lookup = [&](TEntJwwBlockTree& node) {
    auto it = firstOf.find(node.no);
    if (it == firstOf.end()) return true;
    TEntJwwBlockDef& d = EntBlockDef[static_cast<size_t>(it->second)];
    if (d.strName.size() > nameLimit - nameUnits) return false;
    nameUnits += d.strName.size();
    node.defno = it->second;
    node.name = d.strName;
    d.ref_flag = true;
    return true;
  };

  for (int32_t j = 0; j < insertCount && EntBlockTreeN < limit && !full; ++j) {
    const TEntJwwBlock& b = EntBlock[static_cast<size_t>(j)];
    const LocalMatrix m = MatrixOf(b);
    TEntJwwBlockTree node;
    node.att = b.att;
    node.level = 0;
    node.parent = -1;
    node.no = b.nNumber;
    node.defno = -1;
    node.x = b.DPKijunTen_x;
    node.y = b.DPKijunTen_y;
    node.r1 = m.m1, node.r2 = m.m2, node.r3 = m.m3, node.r4 = m.m4;
    if (!lookup(node)) {
      full = true;
      break;
    }
    EntBlockTree.push_back(std::move(node));
    ++EntBlockTreeN;
  }

  // Breadth first: the list is its own queue.
  for (int32_t k = 0; k < EntBlockTreeN && EntBlockTreeN < limit && !full; ++k) {
    const TEntJwwBlockTree p = EntBlockTree[static_cast<size_t>(k)];
    if (p.defno < 0 || p.level >= kMaxTreeLevel) continue;
    const TEntJwwBlockDef& d = EntBlockDef[static_cast<size_t>(p.defno)];
    const int32_t nested = std::min<int32_t>(d.mBlockN, static_cast<int32_t>(d.mBlock.size()));
    for (int32_t l = 0; l < nested && EntBlockTreeN < limit; ++l) {
      const TEntJwwBlock& b = d.mBlock[static_cast<size_t>(l)];
      const LocalMatrix m = MatrixOf(b);
      TEntJwwBlockTree node;
      node.att = d.att;
      node.level = p.level + 1;
      node.parent = k;
      node.no = b.nNumber;
      node.defno = -1;
      node.x = p.x + p.r1 * b.DPKijunTen_x + p.r2 * b.DPKijunTen_y;
      node.y = p.y + p.r3 * b.DPKijunTen_x + p.r4 * b.DPKijunTen_y;
      node.r1 = p.r1 * m.m1 + p.r2 * m.m3;
      node.r2 = p.r1 * m.m2 + p.r2 * m.m4;
      node.r3 = p.r3 * m.m1 + p.r4 * m.m3;
      node.r4 = p.r3 * m.m2 + p.r4 * m.m4;
      if (!lookup(node)) {
        full = true;
        break;
      }
      EntBlockTree.push_back(std::move(node));
      ++EntBlockTreeN;
    }
  }

  int32_t counter = 0;
  for (int32_t i = 0; i < defCount; ++i) {
    TEntJwwBlockDef& d = EntBlockDef[static_cast<size_t>(i)];
    if (d.ref_flag) d.ref_no = counter++;
  }
  EntBlockNum = counter;
}

}  // namespace tarnwick
