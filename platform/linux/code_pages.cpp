// Code page conversions on Linux: code page 936 through iconv's CP936 table
// (the same table as Windows' code page 936, single byte 0x80 for the euro sign
// included), UTF-8 through the decoder and encoder below.
#include "platform/code_pages.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr char16_t replacement_character = 0xFFFD;

bool is_gbk(uint32_t code_page) { return code_page == code_page::system_ansi || code_page == code_page::gbk; }

// One iconv conversion, open for the life of the object. convert runs it over
// all of input; where iconv meets a sequence that it cannot convert (invalid,
// unmappable or cut off at the end), on_stuck appends what stands for it and
// says how many input bytes to step over (at least 1).
class IconvConverter {
 public:
  IconvConverter(const char* to, const char* from) : converter_(iconv_open(to, from)) {}
  ~IconvConverter() {
    if (valid()) iconv_close(converter_);
  }
  IconvConverter(const IconvConverter&) = delete;
  IconvConverter& operator=(const IconvConverter&) = delete;

  bool valid() const { return converter_ != reinterpret_cast<iconv_t>(-1); }

  template <typename OnStuck>
  void convert(std::string_view input, std::string& out, OnStuck on_stuck) {
    char* in = const_cast<char*>(input.data());
    size_t in_left = input.size();
    char chunk[16384];
    while (in_left > 0) {
      char* chunk_end = chunk;
      size_t chunk_left = sizeof chunk;
      const size_t result = iconv(converter_, &in, &in_left, &chunk_end, &chunk_left);
      const int error = result == static_cast<size_t>(-1) ? errno : 0;
      out.append(chunk, static_cast<size_t>(chunk_end - chunk));
      if (error == EILSEQ || error == EINVAL) {
        const size_t skip = std::min(in_left, on_stuck(std::string_view(in, in_left), out));
        in += skip;
        in_left -= skip;
      } else if (error != 0 && error != E2BIG) {
        break;
      }
    }
  }

 private:
  iconv_t converter_;
};

// UTF-8 to UTF-16. An ill-formed sequence becomes one U+FFFD for each maximal
// part of a well-formed sequence it begins (the Unicode rule, which Windows
// follows), so no valid character after it is lost.
void utf8_to_utf16(std::string_view input, std::u16string& out) {
  out.reserve(out.size() + input.size());
  const auto* p = reinterpret_cast<const unsigned char*>(input.data());
  const auto* const end = p + input.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      out.push_back(lead);
      ++p;
      continue;
    }
    int trail_count;
    uint32_t code;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail_count = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail_count = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail_count = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back(replacement_character);
      ++p;
      continue;
    }
    const unsigned char* q = p + 1;
    bool complete = true;
    for (int i = 0; i < trail_count; ++i, ++q) {
      if (q >= end || *q < low || *q > high) {
        complete = false;
        break;
      }
      code = (code << 6) | (*q & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    p = q;
    if (!complete) {
      out.push_back(replacement_character);
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
}

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
void utf16_to_utf8(std::u16string_view units, std::string& out) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t code = units[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = replacement_character;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
}

// UTF-16 to code page 936. Runs of ASCII, most of any page, are copied
// directly; iconv converts the rest.
bool utf16_to_gbk(std::u16string_view units, std::string& out) {
  IconvConverter converter("CP936", "UTF-16LE");
  if (!converter.valid()) return false;
  out.reserve(out.size() + units.size());
  size_t i = 0;
  while (i < units.size()) {
    while (i < units.size() && units[i] < 0x80) out.push_back(static_cast<char>(units[i++]));
    const size_t run_start = i;
    while (i < units.size() && units[i] >= 0x80) ++i;
    if (i == run_start) continue;
    const std::string_view raw(reinterpret_cast<const char*>(units.data() + run_start), (i - run_start) * 2);
    // Each unit that code page 936 cannot show becomes one "?", so a character
    // outside the BMP (a surrogate pair) becomes two, as on Windows.
    converter.convert(raw, out, [](std::string_view, std::string& sink) {
      sink.push_back('?');
      return size_t{2};
    });
  }
  return true;
}

// Hands the converted result over as the Windows calls do: the size needed when
// capacity is 0, the size written when it fits, 0 when it does not.
template <typename Unit>
int32_t deliver(std::basic_string_view<Unit> converted, Unit* destination, int32_t capacity) {
  if (converted.size() > static_cast<size_t>(INT32_MAX)) return 0;
  const auto size = static_cast<int32_t>(converted.size());
  if (capacity == 0) return size;
  if (destination == nullptr || size > capacity) return 0;
  std::memcpy(destination, converted.data(), converted.size() * sizeof(Unit));
  return size;
}

}  // namespace

int32_t multi_byte_to_utf16(uint32_t code_page, const char* text, int32_t length, char16_t* units, int32_t capacity) {
  if (text == nullptr || length == 0 || length < -1 || capacity < 0) return 0;
  const std::string_view input(text, length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length));
  std::u16string converted;
  if (code_page == code_page::utf8) {
    utf8_to_utf16(input, converted);
  } else if (is_gbk(code_page)) {
    std::string bytes;  // UTF-16LE
    bytes.reserve(2 * input.size());
    IconvConverter converter("UTF-16LE", "CP936");
    if (!converter.valid()) return 0;
    converter.convert(input, bytes, [](std::string_view, std::string& out) {
      out.append("\xFD\xFF", 2);  // U+FFFD
      return size_t{1};
    });
    converted.resize(bytes.size() / 2);
    std::memcpy(converted.data(), bytes.data(), converted.size() * 2);
  } else {
    return 0;
  }
  return deliver<char16_t>(converted, units, capacity);
}

int32_t utf16_to_multi_byte(uint32_t code_page, const char16_t* units, int32_t length, char* bytes, int32_t capacity) {
  if (units == nullptr || length == 0 || length < -1 || capacity < 0) return 0;
  size_t count = static_cast<size_t>(length);
  if (length == -1) {
    count = 0;
    while (units[count] != 0) ++count;
    ++count;  // the terminating zero unit
  }
  const std::u16string_view input(units, count);
  std::string converted;
  if (code_page == code_page::utf8) {
    utf16_to_utf8(input, converted);
  } else if (is_gbk(code_page)) {
    if (!utf16_to_gbk(input, converted)) return 0;
  } else {
    return 0;
  }
  return deliver<char>(converted, bytes, capacity);
}

int32_t utf16_to_multi_byte_exact(uint32_t code_page, const char16_t* units, int32_t length, char* bytes,
                                  int32_t capacity) {
  return utf16_to_multi_byte(code_page, units, length, bytes, capacity);
}

}  // namespace platform
