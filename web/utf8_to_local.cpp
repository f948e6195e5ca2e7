#include "web/utf8_to_local.h"

#include <algorithm>
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
  const ByteSet units = text_to_utf16(page);
  return utf16_to_text(units, platform::code_page::gbk);
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
