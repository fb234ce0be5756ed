// One drawing file read in full, with what drawing its definitions needs.
#pragma once

#include <memory>
#include <string>

#include "draw/display_list.h"
#include "jw/model.h"

namespace tarnwick::draw {

struct LoadedDrawing {
  std::u16string path;
  std::unique_ptr<TJwwData> jww;
  std::unique_ptr<TJwsData> jws;
  std::unique_ptr<DrawingContext> context;  // none when the file is no drawing
  bool complete = false;                    // read to its end

  // Definition `index`, or null when the drawing holds no such definition.
  const TEntJwwBlockDef* definition(int32_t index) const;
};

// Reads the drawing at `path` (by its extension, .jww or .jws) in full.  A
// damaged drawing keeps what could be read; a file that is no drawing gives
// one without a context.
std::unique_ptr<LoadedDrawing> ReadDrawingFile(const std::u16string& path);

}  // namespace tarnwick::draw
