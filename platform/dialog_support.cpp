#include "platform/dialog_support.h"

#include "platform/code_page_936.h"

namespace platform {

namespace {
// MulDiv: number * numerator / denominator, rounded half away from zero.
int32_t scale_rounded(int32_t number, int32_t numerator, int32_t denominator) {
  const int64_t product = static_cast<int64_t>(number) * numerator;
  const int64_t half = denominator / 2;
  return static_cast<int32_t>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}
}  // namespace

size_t local_text_fit(const char* text, size_t length, size_t room) {
  size_t used = 0;
  while (used < length) {
    const size_t next = used + character_width(text, used, length);
    if (next > room) break;
    used = next;
  }
  return used;
}

DialogBaseUnits dialog_base_units(int32_t width_of_52_letters, int32_t font_height) {
  // Twice the average width, plus one, halved: the average rounded to nearest.
  return {(width_of_52_letters / 26 + 1) / 2, font_height};
}

int32_t dialog_x_to_pixels(int32_t units, DialogBaseUnits base) { return scale_rounded(units, base.horizontal, 4); }
int32_t dialog_y_to_pixels(int32_t units, DialogBaseUnits base) { return scale_rounded(units, base.vertical, 8); }

}  // namespace platform
