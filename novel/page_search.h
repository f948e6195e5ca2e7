// Forward scans over a whole page, as the table-of-contents parser and the
// chapter extraction make them: each search begins where the last match was
// found, so a scan of the page is one pass.
//
// find gives what find_text(page, sought, from, ignore_case) gives, 1-based,
// -1 when there is no match, and matches begin only at character starts. It
// needs from to be a character start (1, or a position that an earlier find
// returned): find_text would measure the page and step to from on every call,
// which makes a scan with thousands of searches quadratic in the page.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/text_search.h"
#include "runtime/texts.h"

class PageSearch {
 public:
  explicit PageSearch(const char* page)
      : bytes_(reinterpret_cast<const unsigned char*>(page ? page : "")), length_(text_length(page)) {}

  const unsigned char* bytes() const { return bytes_; }

  int32_t find(const char* sought, int32_t from, bool ignore_case = false) const {
    if (from < 1 || from > length_) return -1;
    const size_t found =
        search_characters(bytes_, static_cast<size_t>(length_), static_cast<size_t>(from - 1),
                          reinterpret_cast<const unsigned char*>(sought), std::strlen(sought), ignore_case);
    return found == SIZE_MAX ? -1 : static_cast<int32_t>(found) + 1;
  }

 private:
  const unsigned char* bytes_;
  int32_t length_;
};
