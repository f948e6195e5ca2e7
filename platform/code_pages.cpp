// The boundary converters, built on the two conversions of each platform.
#include "platform/code_pages.h"

#include <climits>

namespace platform {

namespace {

std::u16string to_utf16(uint32_t code_page, std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const auto length = static_cast<int32_t>(text.size());
  const int32_t needed = multi_byte_to_utf16(code_page, text.data(), length, nullptr, 0);
  std::u16string units(static_cast<size_t>(needed), u'\0');
  if (needed > 0)
    units.resize(static_cast<size_t>(multi_byte_to_utf16(code_page, text.data(), length, units.data(), needed)));
  return units;
}

std::string from_utf16(uint32_t code_page, std::u16string_view units) {
  if (units.empty() || units.size() > INT_MAX) return {};
  const auto length = static_cast<int32_t>(units.size());
  const int32_t needed = utf16_to_multi_byte(code_page, units.data(), length, nullptr, 0);
  std::string bytes(static_cast<size_t>(needed), '\0');
  if (needed > 0)
    bytes.resize(static_cast<size_t>(utf16_to_multi_byte(code_page, units.data(), length, bytes.data(), needed)));
  return bytes;
}

}  // namespace

std::u16string local_to_utf16(std::string_view local) { return to_utf16(code_page::gbk, local); }
std::string utf16_to_local(std::u16string_view units) { return from_utf16(code_page::gbk, units); }
std::string local_to_utf8(std::string_view local) {
  return from_utf16(code_page::utf8, to_utf16(code_page::gbk, local));
}
std::string utf8_to_local_string(std::string_view utf8) {
  return from_utf16(code_page::gbk, to_utf16(code_page::utf8, utf8));
}

}  // namespace platform
