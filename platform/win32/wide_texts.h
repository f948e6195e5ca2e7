// Code-page-936 texts for the wide-character Win32 calls. On Windows a wchar_t
// is one UTF-16 unit, so the platform's own conversions (platform/code_pages.h)
// serve the wide calls directly; these adapters only change the string type.
#pragma once

#include <string>
#include <string_view>

#include "platform/code_pages.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide Win32 calls take UTF-16 units");

namespace platform {

// The UTF-16 form of a code-page-936 text; empty for null.
inline std::wstring wide_from_local(const char* text) {
  const std::u16string units = local_to_utf16(text ? text : "");
  return std::wstring(units.begin(), units.end());
}

// The code-page-936 form of UTF-16 units.
inline std::string local_from_wide(std::wstring_view wide) {
  return utf16_to_local(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace platform
