// The Linux dialog is built from resources/main_dialog_layout.h, the Windows
// dialog from resources/novelfetch.rc: these tests keep the two the same
// dialog, and the icon file the same picture as the Linux icon's pixels.
#include "resources/main_dialog_layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "resources/book_icon.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

const std::string resources = std::string(NOVELFETCH_TESTS_DIR) + "/../resources/";

// The comma-separated values after a keyword of the resource script: quoted
// texts without their quotes, numbers as written.
std::vector<std::string> statement(const std::string& script, const std::string& keyword, size_t from = 0) {
  const size_t at = script.find(keyword, from);
  if (at == std::string::npos) return {};
  std::vector<std::string> values;
  std::string value;
  for (size_t i = at + keyword.size(); i < script.size() && script[i] != '\n'; ++i) {
    const char c = script[i];
    if (c == '"') {
      const size_t end = script.find('"', i + 1);
      value = script.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == ',') {
      values.push_back(value);
      value.clear();
    } else if (c != ' ' && c != '\r') {
      value += c;
    }
  }
  values.push_back(value);
  return values;
}

long number(const std::string& text) { return std::stol(text, nullptr, 0); }

TEST(MainDialogLayout, ResourceScriptDescribesTheSameDialog) {
  const std::string script = read_file(resources + "novelfetch.rc");
  ASSERT_FALSE(script.empty()) << "cannot read novelfetch.rc";
  const DialogLayout& layout = main_dialog_layout;

  const auto header = statement(script, "\n" + std::to_string(layout.resource_id) + " DIALOGEX");
  ASSERT_EQ(header.size(), 4u);
  EXPECT_EQ(number(header[0]), layout.x);
  EXPECT_EQ(number(header[1]), layout.y);
  EXPECT_EQ(number(header[2]), layout.width);
  EXPECT_EQ(number(header[3]), layout.height);
  EXPECT_EQ(number(statement(script, "\nSTYLE").at(0)), static_cast<long>(layout.style));
  EXPECT_EQ(number(statement(script, "\nEXSTYLE").at(0)), static_cast<long>(layout.extended_style));
  EXPECT_EQ(statement(script, "\nCAPTION").at(0), layout.caption);

  const auto font = statement(script, "\nFONT");
  ASSERT_EQ(font.size(), 5u);
  EXPECT_EQ(number(font[0]), layout.font_points);
  EXPECT_EQ(font[1], layout.font_face);
  EXPECT_EQ(number(font[2]), layout.font_weight);
  EXPECT_EQ(number(font[3]), layout.font_italic ? 1 : 0);
  EXPECT_EQ(number(font[4]), layout.font_charset);

  size_t at = 0;
  int32_t found = 0;
  for (; (at = script.find("\n  CONTROL", at)) != std::string::npos; ++at, ++found) {
    ASSERT_LT(found, layout.control_count) << "more controls in the script than in the layout";
    const DialogControlLayout& control = layout.controls[found];
    const auto values = statement(script, "CONTROL", at);
    SCOPED_TRACE("control " + std::to_string(control.id));
    ASSERT_EQ(values.size(), 9u);
    EXPECT_EQ(values[0], control.text);
    EXPECT_EQ(number(values[1]), control.id);
    const char* control_class = control.control_class == ControlClass::static_text ? "Static"
                                : control.control_class == ControlClass::edit      ? "Edit"
                                                                                   : "Button";
    EXPECT_EQ(values[2], control_class);
    EXPECT_EQ(number(values[3]), static_cast<long>(control.style));
    EXPECT_EQ(number(values[4]), control.x);
    EXPECT_EQ(number(values[5]), control.y);
    EXPECT_EQ(number(values[6]), control.width);
    EXPECT_EQ(number(values[7]), control.height);
    EXPECT_EQ(number(values[8]), static_cast<long>(control.extended_style));
  }
  EXPECT_EQ(found, layout.control_count);
}

uint32_t little_endian(const std::string& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

TEST(MainDialogLayout, IconFileHoldsTheLinuxIconsPixels) {
  EXPECT_NE(read_file(resources + "novelfetch.rc").find("\n129 ICON \"novelfetch.ico\""), std::string::npos);
  const std::string icon = read_file(resources + "novelfetch.ico");
  ASSERT_EQ(icon.size(), 6u + 16 + 40 + 16 * 16 * 4 + 16 * 4);
  EXPECT_EQ(little_endian(icon, 4, 2), 1u);              // one image
  EXPECT_EQ(little_endian(icon, 6, 1), 16u);             // 16 wide
  EXPECT_EQ(little_endian(icon, 7, 1), 16u);             // 16 high
  EXPECT_EQ(little_endian(icon, 12, 2), 32u);            // 32 bits per pixel
  const size_t image = little_endian(icon, 18, 4);
  ASSERT_EQ(image, 22u);
  EXPECT_EQ(little_endian(icon, image + 14, 2), 32u);

  const size_t colour = image + 40;
  const size_t mask = colour + 16 * 16 * 4;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int stored_row = 15 - y;  // bitmaps are stored bottom row first
      const uint32_t pixel = little_endian(icon, colour + (stored_row * 16 + x) * 4, 4);
      EXPECT_EQ(pixel, book_icon_pixels[y * 16 + x]) << "pixel " << x << "," << y;
      const bool transparent = (little_endian(icon, mask + stored_row * 4, 1) << 8 |
                                little_endian(icon, mask + stored_row * 4 + 1, 1)) &
                               (0x8000 >> x);
      EXPECT_EQ(transparent, (pixel >> 24) == 0) << "mask at " << x << "," << y;
    }
  }
}

}  // namespace
