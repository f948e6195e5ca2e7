#include "platform/half_width.h"

#include <windows.h>

namespace platform {

namespace {
constexpr LCID k_chinese_prc = 2052;
}

int32_t map_to_half_width(const char* text, int32_t length, char* output, int32_t output_size) {
  return LCMapStringA(k_chinese_prc, LCMAP_HALFWIDTH, text, length, output, output_size);
}

}  // namespace platform
