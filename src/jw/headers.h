// The file checks and the headers of both formats.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jw/archive.h"
#include "jw/cursor.h"
#include "jw/model.h"

namespace tarnwick {

inline constexpr int32_t kJwwMinVersion = 220;
inline constexpr int32_t kJwwMaxVersion = 700;
inline constexpr int32_t kJwsMinVersion = 230;
inline constexpr int32_t kJwsMaxVersion = 700;
inline constexpr size_t kJwsHeaderSize = 452;

// The checks look at the first 12 (JWW) or 204 (JWS) bytes of a file image.
bool CheckJwwImage(const uint8_t* data, size_t size);
bool CheckJwsImage(const uint8_t* data, size_t size);

// Reads the JWW header into d's header and tables.  With kTexts false the
// header's strings are passed over undecoded (the names-only reader needs
// only their lengths).  False when the header is refused or cut short; what
// was read stays.
template <bool kTexts>
bool ReadJwwHeader(ByteCursor& cur, TJwwData& d, const ByteTextDecoder& decoder);
bool ReadJwsHeader(ByteCursor& cur, TJwsData& d, const ByteTextDecoder& decoder);

}  // namespace tarnwick
