#include "runtime/values.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ArgCell, NumbersAndAddressesKeepTheirBits) {
  EXPECT_EQ(cell_int(-1).value, 0xFFFFFFFFu);
  EXPECT_EQ(cell_int(-1).low(), -1);
  EXPECT_FALSE(cell_omitted().given());
  double d;
  ArgCell real = cell_float64(-2.5);
  std::memcpy(&d, &real.value, sizeof d);
  EXPECT_EQ(d, -2.5);
  const char* text = "abc";
  EXPECT_EQ(cell_text(text).address<const char>(), text);
  EXPECT_EQ(cell_by_address(&text, tag_text).tag, tag_text | tag_by_address);
}
