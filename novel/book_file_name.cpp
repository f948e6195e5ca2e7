#include "novel/book_file_name.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "platform/code_page_936.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "runtime/files.h"

namespace {

// The characters a Windows file name cannot hold, and their full-width forms in
// code page 936: ＼ ／ ： ＊ ？ ＂ ＜ ＞ ｜.
struct Replacement {
  char character;
  const char* full_width;
};
constexpr std::array<Replacement, 9> full_width_forms = {{
    {'\\', "\xa3\xdc"},
    {'/', "\xa3\xaf"},
    {':', "\xa3\xba"},
    {'*', "\xa3\xaa"},
    {'?', "\xa3\xbf"},
    {'"', "\xa3\xa2"},
    {'<', "\xa3\xbc"},
    {'>', "\xa3\xbe"},
    {'|', "\xa3\xfc"},
}};

bool is_reserved_device_name(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' && stem[3] <= '9';
}

// File systems hold at most 255 units in one name: bytes of UTF-8 on Linux,
// UTF-16 units on Windows. A character of code page 936 takes at most three
// UTF-8 bytes and one UTF-16 unit, so a title of at most this many characters'
// worth of UTF-8 fits everywhere with ".txt" and the longest suffix written
// beside the book (the state file's new copy, ".txt.novelfetch.new"). A longer
// title is cut at a character boundary: the book is saved under the start of
// its title instead of not at all.
constexpr size_t title_utf8_budget = 255 - 4 - (sizeof(book_state_suffix) - 1) - (sizeof(new_copy_suffix) - 1);

// The length of the name as a file system gets it: bytes of UTF-8 on Linux,
// UTF-16 units on Windows. The larger one counts on either system.
size_t file_system_length(const std::string& name) {
  return std::max(platform::local_to_utf8(name).size(), platform::local_to_utf16(name).size());
}

// Where the last character of name begins.
size_t last_character_start(const std::string& name) {
  size_t last = 0;
  for (size_t at = 0; at < name.size(); at += character_width(name.data(), at, name.size())) last = at;
  return last;
}

}  // namespace

Text safe_file_title(const char* title) {
  std::string safe;
  // The length of safe up to the end of its last character that is neither a
  // one-byte dot nor a one-byte blank: where the trailing run begins.
  size_t kept = 0;
  size_t utf8_length = 0;  // the most the name can take in UTF-8
  const auto* p = reinterpret_cast<const unsigned char*>(title ? title : "");
  while (*p != 0) {
    if (*p >= 0x80) {
      utf8_length += 3;
      if (utf8_length > title_utf8_budget) break;
      // A lead byte that the conversions read alone (at the very end, or
      // before a byte below 0x40) would turn into a character that file names
      // refuse, and the byte after it, a "/" or a control byte, would reach the
      // file name as it is. Such a lead byte becomes "_", and the byte after it
      // is read on its own. 0x80 and 0xFF are characters by themselves.
      const size_t width = converted_character_width(p);
      if (is_lead_byte(*p) && width == 1) {
        safe.push_back('_');
      } else {
        safe.append(reinterpret_cast<const char*>(p), width);
      }
      p += width;
      kept = safe.size();
      continue;
    }
    const char c = static_cast<char>(*p);
    const auto replacement = std::find_if(full_width_forms.begin(), full_width_forms.end(),
                                          [c](const Replacement& r) { return r.character == c; });
    utf8_length += replacement != full_width_forms.end() ? 3 : 1;
    if (utf8_length > title_utf8_budget) break;
    ++p;
    if (replacement != full_width_forms.end()) {
      safe += replacement->full_width;
    } else {
      safe.push_back(static_cast<unsigned char>(c) < 0x20 ? '_' : c);
    }
    if (c != '.' && c != ' ') kept = safe.size();
  }
  safe.resize(kept);
  if (is_reserved_device_name(safe)) safe.insert(0, "_");
  // The count above holds when the system's table of code page 936 knows every
  // two-byte character. One it does not know (a page in UTF-8 that does not say
  // so, the user-defined areas on Linux) converts to U+FFFD and the conversion
  // goes on at its second byte, which can make the name longer; so can the "_"
  // of a reserved name. Such a name loses characters from its end, and the dots
  // and blanks the cut leaves there, until it fits.
  while (file_system_length(safe) > title_utf8_budget) {
    safe.resize(last_character_start(safe));
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
  }
  return Text::adopt(copy_text_bytes(safe.data(), static_cast<int32_t>(safe.size())));
}

Text book_file_name(const char* title) {
  const Text directory = current_directory();
  const Text safe_title = safe_file_title(title);
  // Without a directory the name stays relative, which still means the current
  // directory; a directory that ends with its separator (a root) gets no second.
  const char* separator = platform::directory_separator;
  const int32_t length = directory.length();
  if (length == 0 || directory.c_str()[length - 1] == separator[0]) separator = "";
  return join(directory, separator, safe_title, ".txt");
}
