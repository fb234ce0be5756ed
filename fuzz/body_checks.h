// What every read must leave behind, whatever bytes it was given: counts
// within their arrays, entity indexes that point at stored records, clean
// texts, finite text sizes, a well-formed block tree, and the same names and
// outcome from the full reader and the names-only reader.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jw/block_names.h"
#include "jw/model.h"

namespace tarnwick::fuzz {

[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

inline void Require(bool holds, const char* what) {
  if (!holds) Broken(what);
}

template <class V>
void RequireCount(int32_t n, const V& v, const char* what) {
  Require(n >= 0 && static_cast<size_t>(n) <= v.size(), what);
}

inline bool Clean(const std::u16string& s) {
  for (char16_t c : s)
    if (c < 0x20) return false;
  return true;
}

inline void CheckText(const TEntJwwMoji& m) {
  Require(Clean(m.str) && Clean(m.strFontName), "a text keeps a control character");
  Require(std::isfinite(m.dSizeX) && std::isfinite(m.dSizeY) && std::isfinite(m.dKankaku),
          "a text size is not finite");
}

// One entity list: the stored entities are a prefix of the index, each kind's
// entries number its records 0, 1, 2, ... in order, and the rest is unset.
inline void CheckList(const std::vector<TEntJwwNo>& no, const int32_t (&counts)[8]) {
  int32_t seen[8] = {};
  size_t j = 0;
  for (; j < no.size() && no[j].EntType != kKindNone; ++j) {
    const int32_t kind = no[j].EntType;
    Require(kind >= kKindLine && kind <= kKindBlock, "an index entry of no kind");
    Require(no[j].EntNo == seen[kind], "an index entry out of order");
    ++seen[kind];
  }
  for (; j < no.size(); ++j) Require(no[j].EntType == kKindNone && no[j].EntNo == 0, "a gap in the index");
  for (int k = kKindLine; k <= kKindBlock; ++k) Require(seen[k] == counts[k], "index and kind count differ");
}

inline void CheckDefinition(const TEntJwwBlockDef& b) {
  RequireCount(b.mLineN, b.mLine, "mLineN");
  RequireCount(b.mEnkoN, b.mEnko, "mEnkoN");
  RequireCount(b.mTenN, b.mTen, "mTenN");
  RequireCount(b.mMojiN, b.mMoji, "mMojiN");
  RequireCount(b.mSunpoN, b.mSunpo, "mSunpoN");
  RequireCount(b.mSolidN, b.mSolid, "mSolidN");
  RequireCount(b.mBlockN, b.mBlock, "mBlockN");
  Require(b.N >= 0 && static_cast<size_t>(b.N) == b.mNo.size(), "N and mNo differ");
  const int32_t counts[8] = {0, b.mLineN, b.mEnkoN, b.mTenN, b.mMojiN, b.mSunpoN, b.mSolidN, b.mBlockN};
  CheckList(b.mNo, counts);
  Require(Clean(b.strName), "a definition name keeps a control character");
  for (int32_t i = 0; i < b.mMojiN; ++i) CheckText(b.mMoji[static_cast<size_t>(i)]);
  for (int32_t i = 0; i < b.mSunpoN; ++i) CheckText(b.mSunpo[static_cast<size_t>(i)].Moji);
}

inline void CheckTree(const TJwBody& d) {
  Require(d.EntBlockTreeN >= 0 && static_cast<size_t>(d.EntBlockTreeN) == d.EntBlockTree.size(),
          "EntBlockTreeN and the tree differ");
  Require(d.TreeNodeLimit <= TJwBody::kMaxTreeNodes, "tree limit above its maximum");
  Require(d.EntBlockTreeN <= std::max(d.TreeNodeLimit, 0), "tree beyond its limit");
  for (size_t k = 0; k < d.EntBlockTree.size(); ++k) {
    const TEntJwwBlockTree& n = d.EntBlockTree[k];
    if (n.level == 0) {
      Require(n.parent == -1, "a top node with a parent");
    } else {
      Require(n.parent >= 0 && static_cast<size_t>(n.parent) < k, "a parent after its child");
      Require(d.EntBlockTree[static_cast<size_t>(n.parent)].level + 1 == n.level, "a level out of step");
    }
    Require(n.level <= TJwBody::kMaxTreeLevel, "a node below the deepest level");
    Require(n.defno >= -1 && n.defno < d.EntBlockDefN, "a node of no definition");
    if (n.defno >= 0) Require(n.name == d.EntBlockDef[static_cast<size_t>(n.defno)].strName, "a node's name");
  }
  int32_t referenced = 0;
  for (int32_t i = 0; i < d.EntBlockDefN; ++i) {
    const TEntJwwBlockDef& b = d.EntBlockDef[static_cast<size_t>(i)];
    Require(b.ref_no == (b.ref_flag ? referenced : -1), "ref_no out of step");
    if (b.ref_flag) ++referenced;
  }
  Require(d.EntBlockNum == referenced, "EntBlockNum");
}

// The whole body; n1 and n2 are the header's two counts.
inline void CheckBody(const TJwBody& d, int32_t n1, int32_t n2) {
  RequireCount(d.EntLineN, d.EntLine, "EntLineN");
  RequireCount(d.EntEnkoN, d.EntEnko, "EntEnkoN");
  RequireCount(d.EntTenN, d.EntTen, "EntTenN");
  RequireCount(d.EntMojiN, d.EntMoji, "EntMojiN");
  RequireCount(d.EntSunpoN, d.EntSunpo, "EntSunpoN");
  RequireCount(d.EntSolidN, d.EntSolid, "EntSolidN");
  RequireCount(d.EntBlockN, d.EntBlock, "EntBlockN");
  RequireCount(d.EntBlockDefN, d.EntBlockDef, "EntBlockDefN");
  Require(n2 == d.EntBlockDefN, "n2 and EntBlockDefN differ");
  if (!d.EntNo.empty()) Require(n1 >= 0 && static_cast<size_t>(n1) == d.EntNo.size(), "EntNo and n1 differ");
  const int32_t counts[8] = {0, d.EntLineN, d.EntEnkoN, d.EntTenN, d.EntMojiN, d.EntSunpoN, d.EntSolidN, d.EntBlockN};
  CheckList(d.EntNo, counts);
  for (int32_t i = 0; i < d.EntMojiN; ++i) CheckText(d.EntMoji[static_cast<size_t>(i)]);
  for (int32_t i = 0; i < d.EntSunpoN; ++i) CheckText(d.EntSunpo[static_cast<size_t>(i)].Moji);
  for (int32_t i = 0; i < d.EntBlockDefN; ++i) CheckDefinition(d.EntBlockDef[static_cast<size_t>(i)]);
  Require(d.BindImageN >= 0 && static_cast<size_t>(d.BindImageN) == d.BindImage.size(), "BindImageN");
  CheckTree(d);
}

// The full reader's names and outcome against the names-only reader's.
inline void CheckNamesAgree(const TJwBody& d, bool ok, bool check, const BlockNameList& fast) {
  Require(fast.check == check, "the names-only reader checks the file otherwise");
  Require(fast.ok == ok, "the names-only reader ends otherwise");
  Require(fast.names.size() == static_cast<size_t>(d.EntBlockDefN), "the names-only reader lists another count");
  for (size_t i = 0; i < fast.names.size(); ++i)
    Require(fast.names[i] == d.EntBlockDef[i].strName, "the names-only reader lists another name");
  if (!check) Require(!ok && d.EntBlockDefN == 0, "a refused file gave definitions");
}

}  // namespace tarnwick::fuzz
