// FileIn of a JWW drawing from any bytes, checked against the names-only
// reader; from version 700 the image table is read as well (without writing
// any image file).
#include <cstddef>
#include <cstdint>

#include "body_checks.h"
#include "jw/block_names.h"
#include "jw/headers.h"
#include "jw/model.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJwwData d;
  const bool ok = d.FileInBytes(data, size);
  fuzz::CheckBody(d, d.Enthd.n1, d.Enthd.n2);
  BlockNameList fast;
  ReadBlockNames(data, size, DrawingFormat::kJww, fast);
  fuzz::CheckNamesAgree(d, ok, CheckJwwImage(data, size), fast);

  if (ok && d.Enthd.jwVer >= 700) {
    TJwwData withImages;
    withImages.BindImageExr = true;
    withImages.FileInBytes(data, size);
    fuzz::CheckBody(withImages, withImages.Enthd.n1, withImages.Enthd.n2);
    fuzz::Require(withImages.EntBlockDefN == d.EntBlockDefN, "the image table changed the definitions");
    for (int32_t i = 0; i < d.EntBlockDefN; ++i)
      fuzz::Require(withImages.EntBlockDef[static_cast<size_t>(i)].strName == d.EntBlockDef[static_cast<size_t>(i)].strName,
                    "the image table changed a name");
    for (int32_t i = 0; i < withImages.BindImageN; ++i)
      fuzz::Require(withImages.BindImage[static_cast<size_t>(i)].Fname.find(u'\0') == std::u16string::npos,
                    "an image name holds U+0000");
  }
  return 0;
}
