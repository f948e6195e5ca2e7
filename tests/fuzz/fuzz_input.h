// What the fuzz targets share: the fuzzer's bytes cut into the NUL-terminated
// texts the program works on, a check that fails loudly, and fatal runtime
// errors turned into crashes.
//
// Texts end at their first zero byte, so a target that needs several texts
// takes them from the pieces between zero bytes, and one that needs an address
// and a page takes the address from the input's first line. Every text is
// copied into a heap block of exactly its bytes and terminator, so that
// AddressSanitizer reports a read past the terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/os.h"

class FuzzText {
 public:
  explicit FuzzText(std::string_view bytes) : bytes_(bytes.size() + 1) {
    if (!bytes.empty()) std::memcpy(bytes_.data(), bytes.data(), bytes.size());
  }
  const char* c_str() const { return bytes_.data(); }
  // Up to the first zero byte, as the program sees the text.
  std::string_view view() const { return std::string_view(bytes_.data()); }

 private:
  std::vector<char> bytes_;
};

inline std::string_view input_bytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The pieces between zero bytes, at least one (an empty input is one empty text).
inline std::vector<FuzzText> texts_between_zeros(std::string_view bytes) {
  std::vector<FuzzText> texts;
  for (;;) {
    const size_t zero = bytes.find('\0');
    texts.emplace_back(bytes.substr(0, zero));
    if (zero == std::string_view::npos) return texts;
    bytes.remove_prefix(zero + 1);
  }
}

// The bytes before the first line feed, and the bytes after it (empty without one).
struct FirstLine {
  std::string_view line;
  std::string_view rest;
};
inline FirstLine first_line(std::string_view bytes) {
  const size_t feed = bytes.find('\n');
  if (feed == std::string_view::npos) return {bytes, {}};
  return {bytes.substr(0, feed), bytes.substr(feed + 1)};
}

// An invariant that must hold: when it does not, the fuzzer gets a crash and
// keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// A fatal runtime error shows a box and ends the process with exit code 0,
// which libFuzzer would take for a normal end: under the fuzzer the box prints
// its text (code page 936) and aborts instead. Nothing the targets call shows a
// box on any other path.
inline void abort_on_message_box() {
  platform::g_message_box_observer = [](const char* text, const char* caption, uint32_t) {
    std::fprintf(stderr, "message box \"%s\": %s\n", caption, text);
    std::abort();
  };
}
