// Conversions between UTF-16 texts, UTF-8 and this platform's file names.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

// UTF-8 of a text; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view s);
// Text of UTF-8 bytes; every ill-formed sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view s);

// File names here are byte strings, normally UTF-8.  A name that is not
// well-formed UTF-8 still makes a text: each byte that does not decode is
// kept as the lone surrogate U+DC00 + byte, and NativePath turns those back
// into the same bytes, so every file name survives the round trip.
std::u16string PathText(std::string_view native);
std::string NativePath(std::u16string_view text);

}  // namespace tarnwick
