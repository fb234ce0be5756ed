// The program's font: the desktop's own, with a Japanese font behind it for
// the characters the desktop's font lacks.
#pragma once

namespace tarnwick {

// Call once after the application object exists.
void UseJapaneseFallbackFont();

}  // namespace tarnwick
