#include "platform/dialog_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace platform {
namespace {

TEST(LocalTextFit, KeepsWholeCharactersOnly) {
  // "小说" is D0 A1 CB B5 in code page 936.
  struct Case {
    const char* text;
    size_t room;
    size_t expected;
  } const cases[] = {
      {"", 10, 0},
      {"abc", 0, 0},
      {"abc", 2, 2},
      {"abc", 3, 3},
      {"abc", 255, 3},
      {"\xd0\xa1\xcb\xb5", 4, 4},
      {"\xd0\xa1\xcb\xb5", 3, 2},  // the second character does not fit whole
      {"\xd0\xa1\xcb\xb5", 1, 0},
      {"a\xd0\xa1"
       "b",
       2, 1},
      {"a\xd0\xa1"
       "b",
       3, 3},
      {"\xa1\xa1\xa1", 3, 3},  // a lone lead byte at the end counts as one character
      {"\xa1\xa1\xa1", 2, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(local_text_fit(c.text, std::strlen(c.text), c.room), c.expected)
        << "text \"" << c.text << "\" room " << c.room;
  }
}

TEST(LocalTextFit, CutsALongStatusTextBeforeASplitCharacter) {
  // 254 ASCII bytes and then a two-byte character: 255 bytes of room hold only
  // the ASCII part, never a half character.
  std::string text(254, 'x');
  text += "\xb6\xc1";
  EXPECT_EQ(local_text_fit(text.data(), text.size(), 255), 254u);
  text.insert(0, "y");
  EXPECT_EQ(local_text_fit(text.data(), text.size(), 255), 255u);
}

TEST(DialogUnits, MatchWindowsForKnownFonts) {
  struct Case {
    int32_t letters_width;  // the 52 letters in pixels
    int32_t height;
    int32_t dialog_width, dialog_height;  // template 1000's client size in pixels
  } const cases[] = {
      {312, 12, 335, 128},  // 9-point SimSun at 96 dpi: each letter 6 pixels, 12 high
      {296, 13, 335, 138},  // base units 6 x 13
      {337, 13, 335, 138},  // an average of 6.48 pixels rounds down to 6
      {338, 16, 390, 170},  // an average of 6.5 rounds up to 7
  };
  for (const Case& c : cases) {
    const DialogBaseUnits base = dialog_base_units(c.letters_width, c.height);
    EXPECT_EQ(dialog_x_to_pixels(223, base), c.dialog_width) << "letters " << c.letters_width;
    EXPECT_EQ(dialog_y_to_pixels(85, base), c.dialog_height) << "height " << c.height;
  }
}

TEST(DialogUnits, RoundHalfAwayFromZeroLikeMulDiv) {
  const DialogBaseUnits base{6, 12};
  EXPECT_EQ(dialog_x_to_pixels(1, base), 2);    // 1.5
  EXPECT_EQ(dialog_x_to_pixels(45, base), 68);  // 67.5
  EXPECT_EQ(dialog_y_to_pixels(9, base), 14);   // 13.5
  EXPECT_EQ(dialog_x_to_pixels(-1, base), -2);  // -1.5
}

}  // namespace
}  // namespace platform
