// Reads a drawing image with the full reader and with the names-only reader
// and checks that both list the same names.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jw/block_names.h"
#include "jw/model.h"
#include "support/drawing_writer.h"

namespace tarnwick::testing {

inline std::vector<std::u16string> NamesOf(const TJwBody& d) {
  std::vector<std::u16string> names;
  for (int32_t i = 0; i < d.EntBlockDefN; ++i) names.push_back(d.EntBlockDef[static_cast<size_t>(i)].strName);
  return names;
}

// Full read of a JWW image; the names-only reader must agree with it.
inline bool ReadJww(const Bytes& b, TJwwData& d) {
  bool ok = d.FileInBytes(b.data(), b.size());
  BlockNameList fast;
  ReadBlockNames(b.data(), b.size(), DrawingFormat::kJww, fast);
  EXPECT_EQ(NamesOf(d), fast.names) << "names-only reader disagrees";
  EXPECT_EQ(ok, fast.ok) << "names-only reader disagrees on the outcome";
  return ok;
}

inline bool ReadJws(const Bytes& b, TJwsData& d) {
  bool ok = d.FileInBytes(b.data(), b.size());
  BlockNameList fast;
  ReadBlockNames(b.data(), b.size(), DrawingFormat::kJws, fast);
  EXPECT_EQ(NamesOf(d), fast.names) << "names-only reader disagrees";
  EXPECT_EQ(ok, fast.ok) << "names-only reader disagrees on the outcome";
  return ok;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace tarnwick::testing
