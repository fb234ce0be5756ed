#include "jw/block_names.h"

#include <new>

#include "jw/archive.h"
#include "jw/body_reader.h"
#include "jw/headers.h"
#include "jw/model.h"

namespace tarnwick {

void ReadBlockNames(const uint8_t* data, size_t size, DrawingFormat format, BlockNameList& out, int codePage) {
  out.check = false;
  out.ok = false;
  out.names.clear();
  out.cutName = -1;
  const bool jww = format == DrawingFormat::kJww;
  out.check = jww ? CheckJwwImage(data, size) : CheckJwsImage(data, size);
  if (!out.check) return;

  const ByteTextDecoder& decoder = ByteTextDecoder::ForThread(codePage);
  ByteCursor cur(data, size);
  int32_t version = 0;
  bool mojiEncode = false;
  if (jww) {
    // The header's texts are passed over; its tables land in a scratch
    // object that keeps its table sizes from file to file.
    thread_local TJwwData scratch;
    if (!ReadJwwHeader<false>(cur, scratch, decoder)) return;
    version = scratch.Enthd.jwVer;
  } else {
    thread_local TJwsData scratch;
    if (!ReadJwsHeader(cur, scratch, decoder)) return;
    version = scratch.Enthd.jwVer;
  }

  BodyContext c{cur, version, decoder, mojiEncode};
  try {
    NamesSink sink(out.names, &out.cutName);
    ReadJwBody(c, sink);
    out.ok = true;
  } catch (const ReadError&) {
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace tarnwick
