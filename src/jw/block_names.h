// The names-only reader: what the search needs of a drawing.  It decodes
// every entity to its exact length by the same routines as FileIn, but
// keeps nothing except the block definitions' names, so it allocates nothing
// per entity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

enum class DrawingFormat { kJww, kJws };

struct BlockNameList {
  bool check = false;  // the file is of the format and of a supported version
  bool ok = false;     // the file was read to the end of its last section
  // The definitions' names in stored order, control characters removed.
  // After a read that failed part-way: the definitions read so far, then
  // empty names up to the stated count.
  std::vector<std::u16string> names;
  // The index in `names` of a name cut short by the end of the file, or -1.
  int32_t cutName = -1;
};

// Reads the names from a file image.  `out` is reused between calls.
void ReadBlockNames(const uint8_t* data, size_t size, DrawingFormat format, BlockNameList& out,
                    int codePage = 932);

}  // namespace tarnwick
