#include "web/utf8_to_local.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/code_page_936.h"
#include "platform/code_pages.h"
#include "runtime/memory.h"

namespace {

// prefix is in lower case; only "A" to "Z" are folded, as find_text does.
bool starts_with_ignoring_case(const char* text, const char* prefix) {
  for (; *prefix != 0; ++text, ++prefix) {
    const char byte = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (byte != *prefix) return false;
  }
  return true;
}

}  // namespace

bool declares_utf8(const char* page) {
  static constexpr const char* declared_values[] = {"utf-8", "\"utf-8\"", "'utf-8'"};
  int32_t found = find_text(page, "charset=", 1, true);
  while (found > 0) {
    const char* value = page + found - 1 + std::strlen("charset=");
    if (std::any_of(std::begin(declared_values), std::end(declared_values),
                    [value](const char* declared) { return starts_with_ignoring_case(value, declared); })) {
      return true;
    }
    found = find_text(page, "charset=", found + 1, true);
  }
  return false;
}

Text searchable_page(Text page) {
  if (declares_utf8(page.get())) return utf8_to_local(page.get());
  return page;
}

Text utf8_to_local(const char* page) {
  ByteSet buffer = text_to_utf16(page);
  if (buffer.get() == nullptr) return Text();
  // Each character's stand-in is written over the units in place: it never
  // takes more units than the character.
  auto* const units = reinterpret_cast<char16_t*>(byte_set_bytes(buffer.get()));
  const size_t count = static_cast<size_t>(buffer.size()) / 2;
  size_t kept = 0;
  for (size_t i = 0; i < count && units[i] != 0; ++i) {
    uint32_t code = units[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    if (const char16_t stand_in = local_stand_in(code)) units[kept++] = stand_in;
  }
  if (kept == 0) return Text();
  const int32_t length = static_cast<int32_t>(kept);
  const int32_t needed = platform::utf16_to_multi_byte_exact(platform::code_page::gbk, units, length, nullptr, 0);
  if (needed < 1) return Text();
  Text result = Text::adopt(static_cast<char*>(runtime_alloc(static_cast<size_t>(needed) + 1)));
  const int32_t written =
      platform::utf16_to_multi_byte_exact(platform::code_page::gbk, units, length, result.get(), needed);
  if (written < 1) return Text();
  result.get()[written] = 0;
  return result;
}

char16_t local_stand_in(uint32_t code) {
  switch (code) {
    case 0x2001:
    case 0x2003: return 0x3000;
    case 0x00A0:
    case 0x2002:
    case 0x202F:
    case 0x205F: return u' ';
    case 0x200B:
    case 0x200C:
    case 0x200D:
    case 0x2060:
    case 0xFEFF: return 0;
    case 0x30FB: return 0x00B7;
    default: break;
  }
  if (code >= 0x2004 && code <= 0x200A) return u' ';
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0xFFFF) return u'?';
  return static_cast<char16_t>(code);
}

std::string units_to_local(std::u16string_view units) {
  if (units.empty() || units.size() > INT32_MAX / 2) return {};
  const auto length = static_cast<int32_t>(units.size());
  const int32_t needed =
      platform::utf16_to_multi_byte_exact(platform::code_page::gbk, units.data(), length, nullptr, 0);
  std::string bytes(static_cast<size_t>(std::max(needed, 0)), '\0');
  if (needed > 0)
    bytes.resize(static_cast<size_t>(std::max(
        platform::utf16_to_multi_byte_exact(platform::code_page::gbk, units.data(), length, bytes.data(), needed), 0)));
  return bytes;
}

ByteSet text_to_utf16(const char* text, OptionalInt code_page) {
  const uint32_t source = static_cast<uint32_t>(code_page.value_or(platform::code_page::utf8));
  const int32_t needed = platform::multi_byte_to_utf16(source, text, -1, nullptr, 0);
  ByteSet buffer = make_blank_bytes(2 * needed);
  if (buffer.get() != nullptr) {
    platform::multi_byte_to_utf16(source, text, -1, reinterpret_cast<char16_t*>(byte_set_bytes(buffer.get())), needed);
  }
  return buffer;
}

Text utf16_to_text(const ByteSet& bytes, OptionalInt code_page) {
  const uint32_t target = static_cast<uint32_t>(code_page.value_or(platform::code_page::system_ansi));
  // Only the units inside the byte set count, so one without a zero unit is
  // read to its end and no further.
  const auto* units = reinterpret_cast<const char16_t*>(bytes.data());
  const int32_t unit_count = bytes.size() / 2;
  int32_t length = 0;
  while (length < unit_count && units[length] != 0) ++length;
  if (length == 0) return Text();
  // The measure is taken in the target code page itself, so the buffer always
  // holds the whole result.
  const int32_t needed = platform::utf16_to_multi_byte(target, units, length, nullptr, 0);
  if (needed < 1) return Text();
  Text result = Text::adopt(static_cast<char*>(runtime_alloc(static_cast<size_t>(needed) + 1)));
  const int32_t written = platform::utf16_to_multi_byte(target, units, length, result.get(), needed);
  if (written < 1) return Text();
  result.get()[written] = 0;
  return result;
}

ByteSet make_blank_bytes(int32_t count) {
  if (count < 1) return ByteSet();
  void* block = runtime_alloc(byte_set_header_size + static_cast<size_t>(count));
  write_byte_set_header(block, count);
  return ByteSet::adopt(block);
}
