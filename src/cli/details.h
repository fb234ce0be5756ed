// What --details and --svg add to the rows: each row's definition drawn from
// its drawing read in full.  The rows of one drawing come together, so the
// drawing is read once for all of them.
#pragma once

#include <memory>
#include <string>

#include "draw/drawing_file.h"
#include "search/engine.h"

namespace tarnwick {

class RowDrawings {
 public:
  // The display list of the row's definition (read its drawing first when
  // it is not the one read last); null when the drawing holds no such
  // definition.
  const draw::DisplayList* listOf(const SearchRow& row);
  // The fields --details adds to a JSON row: ", "number": ..., "entities":
  // {...}, "extent": [...]", with nulls where the definition is missing.
  std::string jsonFields(const SearchRow& row);

  // The name of the n-th SVG file (from 1) in dir.
  static std::u16string SvgPath(const std::u16string& dir, size_t n);

 private:
  std::unique_ptr<draw::LoadedDrawing> drawing_;
  int32_t listed_ = -1;  // the definition list_ is of
  draw::DisplayList list_;
};

// The JSON text of the details of one definition.
std::string DetailsJson(const TEntJwwBlockDef* def, const draw::DisplayList* list);

}  // namespace tarnwick
