// Feeds the page conversions (web/utf8_to_local.h): the input is a page, up to
// its first zero byte, read as UTF-8 (what a page that declares UTF-8 goes
// through) and as code page 936 (the way back that the platform layer takes).
//
// Checks: a page that declares UTF-8 holds "charset=" in some case; the code
// page 936 text is never longer than the UTF-8 page (every sequence, and every
// byte of a broken one, gives at most as many bytes), and a page of ASCII alone
// comes back unchanged; converting a result again (936 to UTF-8 and back, or
// 936 to UTF-16 and back) changes nothing.
#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/code_pages.h"
#include "web/utf8_to_local.h"

namespace {

bool holds_ignoring_case(std::string_view text, std::string_view lower_case) {
  return std::search(text.begin(), text.end(), lower_case.begin(), lower_case.end(), [](char a, char b) {
           return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
         }) != text.end();
}

// A 936 text through UTF-16 and back to 936.
Text through_utf16(const char* text) {
  return utf16_to_text(text_to_utf16(text, platform::code_page::gbk), platform::code_page::gbk);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  abort_on_message_box();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const FuzzText page(input_bytes(data, size));
  const std::string_view bytes = page.view();
  if (declares_utf8(page.c_str())) FUZZ_CHECK(holds_ignoring_case(bytes, "charset="));

  const Text local = utf8_to_local(page.c_str());
  FUZZ_CHECK(size_t(local.length()) <= bytes.size());
  if (std::all_of(bytes.begin(), bytes.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; }))
    FUZZ_CHECK(local.c_str() == bytes);
  const std::string utf8 = platform::local_to_utf8(local.c_str());
  FUZZ_CHECK(utf8_to_local(utf8.c_str()).c_str() == std::string_view(local.c_str()));

  const Text once = through_utf16(page.c_str());
  const Text twice = through_utf16(once.get());
  FUZZ_CHECK(std::string_view(once.c_str()) == twice.c_str());
  return 0;
}
