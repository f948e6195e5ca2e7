#include "platform/half_width.h"

#include "platform/code_page_936.h"

namespace platform {

namespace {

// The half-width byte for the two-byte character (lead, trail), or 0 when the
// character has no half-width form. In code page 936 the full-width forms of
// "!" to "}" sit at A3 A1 to A3 FD, except that A3 A4 holds the full-width yen
// sign; the full-width "$" is A1 E7 and the full-width "~" is A1 AB. A3 FE is
// the full-width macron, which has no ASCII counterpart either.
char half_width_of(unsigned char lead, unsigned char trail) {
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFD && trail != 0xA4) return static_cast<char>(trail - 0x80);
  if (lead == 0xA1) {
    if (trail == 0xA1) return ' ';  // the ideographic space
    if (trail == 0xE7) return '$';
    if (trail == 0xAB) return '~';
  }
  return 0;
}

}  // namespace

int32_t map_to_half_width(const char* text, int32_t length, char* output, int32_t output_size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  int32_t written = 0;
  int32_t i = 0;
  while (i < length) {
    char mapped = 0;
    int32_t step = 1;
    if (character_width(bytes, size_t(i), size_t(length)) == 2) {
      mapped = half_width_of(bytes[i], bytes[i + 1]);
      step = 2;
    }
    const int32_t needed = mapped != 0 ? 1 : step;
    if (written + needed > output_size) return 0;
    if (mapped != 0) {
      output[written] = mapped;
    } else {
      for (int32_t k = 0; k < step; ++k) output[written + k] = text[i + k];
    }
    written += needed;
    i += step;
  }
  return written;
}

}  // namespace platform
