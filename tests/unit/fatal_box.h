// Helpers for tests of the paths that end the process: every message box goes to
// stderr as one ASCII line (the text in hexadecimal, since it is code page 936),
// so a death test can match it, and death tests re-run the test program instead
// of forking a process that has threads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/os.h"

inline std::string box_line(const char* caption, const char* text, uint32_t style) {
  std::string line = "box caption=" + std::string(caption) + " style=" + std::to_string(style) + " text=";
  static const char digits[] = "0123456789abcdef";
  for (const char* p = text; *p; ++p) {
    line += digits[static_cast<unsigned char>(*p) >> 4];
    line += digits[static_cast<unsigned char>(*p) & 15];
  }
  return line + ";";
}

inline void print_box(const char* text, const char* caption, uint32_t style) {
  std::fputs(box_line(caption, text, style).c_str(), stderr);
}

inline void observe_boxes_on_stderr() { platform::g_message_box_observer = print_box; }

// The regular expression that matches the line of one box.
inline std::string expected_box(const char* caption, const char* text, uint32_t style) {
  return box_line(caption, text, style);
}

inline void use_threadsafe_death_tests() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
