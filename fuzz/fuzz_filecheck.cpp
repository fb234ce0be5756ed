// The two file checks on any bytes: they look at the head of the file only,
// and no file passes both.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "body_checks.h"
#include "jw/headers.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool jww = CheckJwwImage(data, size);
  const bool jws = CheckJwsImage(data, size);
  fuzz::Require(!(jww && jws), "a file passes both checks");
  fuzz::Require(jww == CheckJwwImage(data, std::min<size_t>(size, 12)), "the JWW check reads past 12 bytes");
  fuzz::Require(jws == CheckJwsImage(data, std::min<size_t>(size, 204)), "the JWS check reads past 204 bytes");
  return 0;
}
