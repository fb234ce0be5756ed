// FileIn of a JWS figure file from any bytes, checked against the names-only
// reader.
#include <cstddef>
#include <cstdint>

#include "body_checks.h"
#include "jw/block_names.h"
#include "jw/headers.h"
#include "jw/model.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJwsData d;
  const bool ok = d.FileInBytes(data, size);
  fuzz::CheckBody(d, d.Enthd.n1, d.Enthd.n2);
  fuzz::Require(d.BindImageN == 0, "a figure file gave an image table");
  BlockNameList fast;
  ReadBlockNames(data, size, DrawingFormat::kJws, fast);
  fuzz::CheckNamesAgree(d, ok, CheckJwsImage(data, size), fast);
  return 0;
}
