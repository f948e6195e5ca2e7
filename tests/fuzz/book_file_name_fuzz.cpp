// Feeds the book file name (novel/book_file_name.h): the input, up to its first
// zero byte, is the novel's title in code page 936.
//
// Checks, walking the safe title by characters (a lead byte and the byte after
// it are one): no one-byte character is one of \ / : * ? " < > | or below
// 0x20; a lead byte always has a second byte of 0x40 or above; the last
// character is no one-byte dot or blank; the name before its first dot is no
// reserved device name; the name as the file system gets it (UTF-8 on Linux, UTF-16 on
// Windows) holds no "/" and takes at most 251 bytes or units, so that ".txt"
// still fits; the safe title is safe already (a second pass leaves it); the
// book file name ends with it and ".txt".
#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "novel/book_file_name.h"
#include "platform/code_page_936.h"
#include "platform/code_pages.h"

namespace {

constexpr size_t longest_title = 251;

bool is_reserved_device_name(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzText title(input_bytes(data, size));
  const Text safe = safe_file_title(title.c_str());
  const std::string_view name = safe.c_str();

  size_t last_character = 0;
  for (size_t at = 0; at < name.size();) {
    last_character = at;
    const auto byte = static_cast<unsigned char>(name[at]);
    if (is_lead_byte(byte)) {
      FUZZ_CHECK(at + 1 < name.size() && static_cast<unsigned char>(name[at + 1]) >= 0x40);
      at += 2;
      continue;
    }
    if (byte >= 0x80) {  // 0x80 and 0xFF, characters by themselves
      at += 1;
      continue;
    }
    FUZZ_CHECK(byte >= 0x20 && std::string_view("\\/:*?\"<>|").find(char(byte)) == std::string_view::npos);
    at += 1;
  }
  if (!name.empty()) FUZZ_CHECK(name.substr(last_character) != "." && name.substr(last_character) != " ");
  FUZZ_CHECK(!is_reserved_device_name(name));

  const std::string utf8 = platform::local_to_utf8(name);
  FUZZ_CHECK(utf8.find('/') == std::string::npos);
  FUZZ_CHECK(utf8.size() <= longest_title && platform::local_to_utf16(name).size() <= longest_title);
  FUZZ_CHECK(safe_file_title(safe.c_str()).c_str() == name);

  const Text file = book_file_name(title.c_str());
  FUZZ_CHECK(std::string_view(file.c_str()).ends_with(std::string(name) + ".txt"));
  return 0;
}
