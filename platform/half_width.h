// The full-width to half-width mapping of code-page-936 texts that to_int and
// the table-of-contents parser rely on: the full-width forms of the ASCII
// characters ("１" "Ａ" "－" ...) become the ASCII characters and the
// ideographic space becomes a blank. On Windows this is LCMapStringA with
// LCMAP_HALFWIDTH for the Chinese (PRC) locale; elsewhere a table of the same
// forms, which leaves every other character as it is.
#pragma once

#include <cstdint>

namespace platform {

// Maps the length bytes at text (no terminator among them) into output, which
// has room for output_size bytes. Returns the number of bytes written, 0 when
// they do not fit. The mapping never makes a text longer.
int32_t map_to_half_width(const char* text, int32_t length, char* output, int32_t output_size);

}  // namespace platform
