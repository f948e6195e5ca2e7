// Helpers for the tests of the novel code: the fixture pages under
// tests/fixtures/pages, code-page-936 literals written readably, and failure
// output that shows 936 bytes as the characters they are.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "platform/code_pages.h"
#include "runtime/texts.h"

// The bytes of tests/fixtures/pages/name.
inline std::string page_fixture(const std::string& name) {
  std::ifstream file(std::string(NOVELFETCH_FIXTURES) + "/pages/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A UTF-8 literal of the test source as code-page-936 bytes.
inline std::string gbk(const std::string& utf8) { return platform::utf8_to_local_string(utf8); }

// 936 bytes for a failure message: the characters in UTF-8, control bytes escaped.
inline std::string shown(const std::string& local) {
  std::string out;
  for (char c : platform::local_to_utf8(local)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r')
      out += "\\r";
    else if (byte == '\n')
      out += "\\n";
    else if (byte < 0x20)
      out += "\\x" + std::string(1, "0123456789abcdef"[byte >> 4]) + "0123456789abcdef"[byte & 15];
    else
      out += c;
  }
  return out;
}

inline std::string text_bytes(const Text& text) { return text.c_str(); }
