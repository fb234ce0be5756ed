// A display list as a standalone SVG picture: the viewBox is the extent with
// a small margin and drawing y points up; strokes keep their width on screen
// at any zoom; texts are <text> elements in fonts that render Japanese.
#pragma once

#include <string>

#include "draw/display_list.h"

namespace tarnwick::draw {

// The font families of texts, the drawing's own font first.
extern const char* const kSvgFontFallback;

// The SVG document (UTF-8) of `list`; an empty picture when nothing is drawn.
std::string ToSvg(const DisplayList& list);

}  // namespace tarnwick::draw
