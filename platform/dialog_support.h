// Arithmetic that both dialog layers share: how much of a code-page-936 text
// fits into a caller's buffer, and how dialog units become pixels.
//
// Dialog texts cross the OS boundary in another encoding (UTF-16 on Windows,
// UTF-8 under GTK) and come back as code-page-936 bytes. A reader with a short
// buffer gets as many whole characters as fit: a two-byte character (a lead
// byte and the byte after it) is never cut in half, so the
// text it receives is always valid.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The number of leading bytes of text (length bytes) that fit into room bytes
// without splitting a two-byte character.
size_t local_text_fit(const char* text, size_t length, size_t room);

// The dialog base units of a font, worked out as Windows does: the horizontal
// unit from the width in pixels of the 52 letters "A".."Z" "a".."z" (the
// average character width, rounded), the vertical unit is the font's height.
struct DialogBaseUnits {
  int32_t horizontal;
  int32_t vertical;
};
DialogBaseUnits dialog_base_units(int32_t width_of_52_letters, int32_t font_height);

// Horizontal dialog units are quarters of the horizontal base unit, vertical
// ones eighths of the vertical base unit; results are rounded to whole pixels.
int32_t dialog_x_to_pixels(int32_t units, DialogBaseUnits base);
int32_t dialog_y_to_pixels(int32_t units, DialogBaseUnits base);

}  // namespace platform
