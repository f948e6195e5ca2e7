// The Windows dialog layer inside a real dialog of template 1000 (this test
// program carries the program's resources): code-page-936 texts reach the
// Unicode dialog as the right characters and come back byte for byte whatever
// the system's ANSI code page is, and a reader's short buffer never gets half a
// character. Runs under Wine on a private X server (tests/e2e/dialog_e2e.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace {

constexpr UINT run_script_message = WM_APP + 1;
std::function<void(platform::Window)> g_script;

intptr_t PLATFORM_API test_procedure(platform::Window window, uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_INITDIALOG) {
    PostMessageW(static_cast<HWND>(window), run_script_message, 0, 0);
    return 1;
  }
  if (message == run_script_message) {
    g_script(window);
    EndDialog(static_cast<HWND>(window), 7);
    return 1;
  }
  return 0;
}

intptr_t show_dialog(std::function<void(platform::Window)> script) {
  g_script = std::move(script);
  return platform::dialog_box_param(GetModuleHandleW(nullptr), 1000, nullptr, test_procedure, 0);
}

std::string text_of(platform::Window window, int32_t id, int32_t size = 256) {
  std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
  const uint32_t count = platform::get_dialog_item_text(window, id, buffer.data(), size);
  EXPECT_EQ(count, std::strlen(buffer.data())) << "control " << id;
  return buffer.data();
}

std::wstring wide_text_of(platform::Window window, int32_t id) {
  wchar_t buffer[512] = {};
  GetDlgItemTextW(static_cast<HWND>(window), id, buffer, 512);
  return buffer;
}

TEST(WindowsDialog, TextsCrossAsCodePage936WhateverTheSystemCodePage) {
  std::printf("system ANSI code page %u\n", GetACP());
  const intptr_t result = show_dialog([](platform::Window window) {
    // The template's texts come back in code page 936.
    EXPECT_EQ(text_of(window, 1001), "\xd0\xa1\xcb\xb5\xb5\xd8\xd6\xb7:");  // 小说地址:
    EXPECT_EQ(text_of(window, 1003), "\xcf\xc2\xd4\xd8\xd0\xa1\xcb\xb5");   // 下载小说

    struct Case {
      const char* local;
      const wchar_t* shown;
    } const cases[] = {
        {"\xb5\xda\xd2\xbb\xd5\xc2\r\n", L"\x7b2c\x4e00\x7ae0\r\n"},              // 第一章
        {"\xd5\xfd\xd4\xda\xb6\xc1\xd0\xa1\xcb\xb5\xa1\xad\xa1\xad\xa1\xad\r\n",  // 正在读小说………
         L"\x6b63\x5728\x8bfb\x5c0f\x8bf4\x2026\x2026\x2026\r\n"},
        {"http://127.0.0.1/\xa3\xba", L"http://127.0.0.1/\xff1a"},  // full-width colon
        {"\x80", L"\x20ac"},                                        // the euro sign of 936
        {"", L""},
    };
    for (const Case& c : cases) {
      for (int32_t id : {1002, 1004}) {
        EXPECT_EQ(platform::set_dialog_item_text(window, id, c.local), 1);
        EXPECT_EQ(wide_text_of(window, id), c.shown) << "control " << id << " text " << c.local;
        EXPECT_EQ(text_of(window, id), c.local) << "control " << id;
      }
    }
    EXPECT_EQ(platform::set_dialog_item_text(window, 1004, nullptr), 1);
    EXPECT_EQ(wide_text_of(window, 1004), L"");

    // At most size - 1 bytes, never half a character.
    std::string long_text(254, 'x');
    long_text += "\xb6\xc1\xb6\xc1";  // 读读
    platform::set_dialog_item_text(window, 1004, long_text.c_str());
    EXPECT_EQ(text_of(window, 1004), std::string(254, 'x'));
    EXPECT_EQ(text_of(window, 1004, 257), long_text.substr(0, 256));
    EXPECT_EQ(text_of(window, 1001, 4), "\xd0\xa1");
    EXPECT_EQ(text_of(window, 1001, 1), "");
    char untouched[4] = "abc";
    EXPECT_EQ(platform::get_dialog_item_text(window, 1001, untouched, 0), 0u);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(platform::get_dialog_item_text(window, 1009, untouched, 4), 0u);
    EXPECT_STREQ(untouched, "");

    EXPECT_NE(platform::get_dialog_item(window, 1004), nullptr);
    EXPECT_EQ(platform::get_dialog_item(window, 1009), nullptr);
  });
  EXPECT_EQ(result, 7);
}

TEST(WindowsDialog, IconOfTheProgramsResources) {
  const platform::Handle icon = platform::load_icon(GetModuleHandleW(nullptr), 129);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(platform::load_icon(GetModuleHandleW(nullptr), 130), nullptr);
  show_dialog([icon](platform::Window window) {
    const auto value = reinterpret_cast<intptr_t>(icon);
    EXPECT_EQ(platform::send_message(window, WM_SETICON, ICON_SMALL, value), 0);
    EXPECT_EQ(platform::send_message(window, WM_SETICON, ICON_SMALL, value), value);
    EXPECT_EQ(SendMessageW(static_cast<HWND>(window), WM_GETICON, ICON_SMALL, 0), value);
  });
}

}  // namespace
