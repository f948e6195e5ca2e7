#include "platform/code_page_936.h"

#include <gtest/gtest.h>

#include <string>

#include "page_fixtures.h"
#include "platform/dialog_support.h"
#include "runtime/support_modules.h"
#include "runtime/text_commands.h"

#if __has_include(<windows.h>)
#include <windows.h>
#endif

namespace {

// Every byte that starts a two-byte character on Windows does so here: a byte
// followed by "\", "／" or "１" shows whether each module that steps over
// characters takes it as a lead byte, and they must all agree with the one rule.
TEST(CodePage936, EveryModuleStepsLikeWindows) {
  for (int value = 0x80; value <= 0xFF; ++value) {
    const unsigned char byte = static_cast<unsigned char>(value);
    const bool lead = is_lead_byte(byte);
#if __has_include(<windows.h>)
    EXPECT_EQ(lead, IsDBCSLeadByteEx(936, byte) != 0) << std::hex << value;
#endif
    const std::string b(1, static_cast<char>(byte));
    const std::string path = b + "\\name";
    EXPECT_EQ(find_text(path.c_str(), "\\"), lead ? -1 : 2) << std::hex << value;
    EXPECT_STREQ(path_file_name(path.c_str()), lead ? path.c_str() : "name") << std::hex << value;
    EXPECT_EQ(platform::local_text_fit(path.c_str(), path.size(), 1), lead ? 0u : 1u) << std::hex << value;
    // Unless the byte takes the lead byte of "１" as its second byte, "１"
    // becomes "1". (0xA1 and 0xA3 would make a full-width form of their own.)
    const std::string digit = b + gbk("１");
    if (value != 0xA1 && value != 0xA3) {
      EXPECT_EQ(text_bytes(to_half_width(digit.c_str())).find('1') == std::string::npos, lead) << std::hex << value;
    }
  }
  EXPECT_FALSE(is_lead_byte('\\'));
  EXPECT_FALSE(is_lead_byte(static_cast<unsigned char>(0x7F)));
}

// Eight bytes at once: a word of lead bytes with any one byte put in at any
// place is all lead bytes exactly when that byte is one.
TEST(CodePage936, TheWordTestAgreesWithTheByteTest) {
  for (int value = 0; value <= 0xFF; ++value) {
    for (int place = 0; place < 8; ++place) {
      const int shift = 8 * place;
      const uint64_t word = (0xA1A1A1A1A1A1A1A1u & ~(uint64_t{0xFF} << shift)) | (uint64_t(value) << shift);
      EXPECT_EQ(all_lead_bytes(word), is_lead_byte(static_cast<unsigned char>(value))) << std::hex << value;
    }
  }
}

}  // namespace
