#include "draw/drawing_file.h"

#include <stdexcept>

#include "text/path_utils.h"

namespace tarnwick::draw {

const TEntJwwBlockDef* LoadedDrawing::definition(int32_t index) const {
  if (!context || index < 0 || index >= context->definitionCount()) return nullptr;
  return &context->body().EntBlockDef[static_cast<size_t>(index)];
}

std::unique_ptr<LoadedDrawing> ReadDrawingFile(const std::u16string& path) {
  auto d = std::make_unique<LoadedDrawing>();
  d->path = path;
  std::u16string ext;
  try {
    ext = FileExtLower(path);
  } catch (const std::invalid_argument&) {
    return d;
  }
  if (ext == u".jww") {
    d->jww = std::make_unique<TJwwData>();
    if (d->jww->FileCheck(path)) {
      d->complete = d->jww->FileIn(path);
      d->context = std::make_unique<DrawingContext>(*d->jww);
    }
  } else if (ext == u".jws") {
    d->jws = std::make_unique<TJwsData>();
    if (d->jws->FileCheck(path)) {
      d->complete = d->jws->FileIn(path);
      d->context = std::make_unique<DrawingContext>(*d->jws);
    }
  }
  return d;
}

}  // namespace tarnwick::draw
