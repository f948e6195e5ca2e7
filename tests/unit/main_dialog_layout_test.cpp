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

// Each size of the icon file is the Linux icon's 16 x 16 pixels scaled by a
// whole factor: 16, 32 and 48 pixels as 32-bit bitmaps, then 256 as PNG.
TEST(MainDialogLayout, IconFileHoldsTheLinuxIconsPixels) {
  EXPECT_NE(read_file(resources + "novelfetch.rc").find("\n129 ICON \"novelfetch.ico\""), std::string::npos);
  const std::string icon = read_file(resources + "novelfetch.ico");
  ASSERT_GE(icon.size(), 6u + 4 * 16);
  ASSERT_EQ(little_endian(icon, 4, 2), 4u);  // four images
  const int sizes[] = {16, 32, 48, 256};
  for (int entry = 0; entry < 4; ++entry) {
    const int size = sizes[entry];
    SCOPED_TRACE("image " + std::to_string(size));
    const size_t directory = 6 + entry * 16;
    EXPECT_EQ(little_endian(icon, directory, 1), static_cast<uint32_t>(size % 256));      // width, 0 for 256
    EXPECT_EQ(little_endian(icon, directory + 1, 1), static_cast<uint32_t>(size % 256));  // height
    EXPECT_EQ(little_endian(icon, directory + 6, 2), 32u);                                // 32 bits per pixel
    const size_t image = little_endian(icon, directory + 12, 4);
    ASSERT_LE(image + little_endian(icon, directory + 8, 4), icon.size());
    if (size == 256) {
      EXPECT_EQ(icon.substr(image, 8), "\x89PNG\r\n\x1a\n");
      continue;
    }
    EXPECT_EQ(little_endian(icon, image + 4, 4), static_cast<uint32_t>(size));
    EXPECT_EQ(little_endian(icon, image + 14, 2), 32u);
    const size_t colour = image + 40;
    const size_t mask = colour + size * size * 4;
    const size_t mask_stride = (size + 31) / 32 * 4;
    const int factor = size / 16;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const int stored_row = size - 1 - y;  // bitmaps are stored bottom row first
        const uint32_t pixel = little_endian(icon, colour + (stored_row * size + x) * 4, 4);
        ASSERT_EQ(pixel, book_icon_pixels[y / factor * 16 + x / factor]) << "pixel " << x << "," << y;
        const bool transparent = little_endian(icon, mask + stored_row * mask_stride + x / 8, 1) & (0x80 >> x % 8);
        ASSERT_EQ(transparent, (pixel >> 24) == 0) << "mask at " << x << "," << y;
      }
    }
  }
}

}  // namespace
