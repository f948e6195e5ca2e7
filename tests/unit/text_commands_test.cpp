#include "runtime/text_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page_936.h"
#include "platform/os.h"
#include "runtime/arrays.h"
#include "runtime/text_search.h"

namespace {

// A text on the runtime heap of exactly its length plus the terminator, so the
// sanitizer build sees any read past it. An empty string gives an allocated
// empty text (not null), which some commands tell apart.
Text heap_text(const std::string& bytes) {
  char* block = static_cast<char*>(runtime_alloc_raw(bytes.size() + 1));
  std::memcpy(block, bytes.c_str(), bytes.size() + 1);
  return Text::adopt(block);
}

std::string str(const Text& t) { return t.c_str(); }

// Shows bytes of 0x80 and above in hex, so a failing input can be read back.
std::string shown(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return "\"" + out + "\"";
}

std::string shown(const std::optional<int32_t>& n) { return n ? std::to_string(*n) : "(left out)"; }

std::vector<std::optional<std::string>> elements_of(void* block) {
  std::vector<std::optional<std::string>> out;
  const int32_t count = array_element_count(block);
  for (int32_t i = 1; i <= count; ++i) {
    const char* element;
    std::memcpy(&element, array_element_at(block, i, sizeof(char*), {0x04010000, i}), sizeof element);
    out.push_back(element == nullptr ? std::nullopt : std::optional<std::string>(element));
  }
  return out;
}

// ---- A literal model of the character stepping, for the differential tests ----

size_t step(const std::string& t, size_t i) { return i + character_width(t.data(), i, t.size()); }

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 0x20 : c; }

bool matches_at(const std::string& t, size_t q, const std::string& s, bool fold) {
  for (size_t k = 0; k < s.size(); ++k) {
    if (q + k >= t.size()) return false;
    const auto a = static_cast<unsigned char>(t[q + k]);
    const auto b = static_cast<unsigned char>(s[k]);
    if (a != b && !(fold && lower(a) == lower(b))) return false;
  }
  return true;
}

// The first boundary reached from the first byte that is at least wanted bytes in.
size_t model_walk(const std::string& t, int64_t wanted) {
  size_t q = 0;
  while (int64_t(q) < wanted && q < t.size()) q = step(t, q);
  return q;
}

// Offset from `from` of the first match on a character reached by stepping from `from`.
int64_t model_search(const std::string& t, size_t from, const std::string& s, bool fold) {
  for (size_t q = from; q < t.size(); q = step(t, q)) {
    if (matches_at(t, q, s, fold)) return int64_t(q - from);
  }
  return -1;
}

int32_t model_find(const std::string& t, const std::string& s, OptionalInt p, bool fold) {
  if (t.empty()) return -1;
  if (s.empty()) return 1;
  const size_t q = p && *p > 1 ? model_walk(t, int64_t(*p) - 1) : 0;
  const int64_t found = model_search(t, q, s, fold);
  return found < 0 ? -1 : int32_t(q + found + 1);
}

int32_t model_find_reverse(const std::string& t, const std::string& s, OptionalInt p, bool fold) {
  if (t.empty()) return -1;
  if (s.empty()) return 1;
  if (p && *p < 1) return -1;
  const int64_t limit = p ? int64_t(*p) - 1 : 2147483647;
  int64_t q = int64_t(model_walk(t, limit - int64_t(s.size())));
  for (; q >= 0; --q) {
    if (matches_at(t, size_t(q), s, fold)) return int32_t(q + 1);
  }
  return -1;
}

std::optional<std::string> model_replace(const std::string& t, const std::string& s, const std::string& r,
                                         OptionalInt p, OptionalInt k, bool case_sensitive) {
  if (t.empty()) return std::nullopt;
  const size_t start = p && *p > 1 ? model_walk(t, int64_t(*p) - 1) : 0;
  if (start >= t.size()) return t;
  int64_t count = k ? *k : 2147483647;
  if (s.empty() || count <= 0) return t;
  std::string out;
  size_t kept = 0, from = start;
  for (;;) {
    const int64_t offset = model_search(t, from, s, !case_sensitive);
    if (offset < 0) break;
    const size_t match = from + size_t(offset);
    out += t.substr(kept, match - kept) + r;
    kept = from = match + s.size();
    if (--count == 0) break;
  }
  return out + t.substr(kept);
}

std::vector<std::optional<std::string>> model_split(const std::string& t, const std::string& d, OptionalInt m_given) {
  std::vector<std::optional<std::string>> out;
  int64_t m = m_given ? *m_given : 2147483647;
  if (m <= 0 || t.empty()) return out;
  if (d.empty()) m = -1;
  size_t from = 0;
  while (m > 0) {
    const int64_t offset = model_search(t, from, d, false);
    if (offset < 0) break;
    const std::string piece = t.substr(from, size_t(offset));
    out.push_back(piece.empty() ? std::nullopt : std::optional<std::string>(piece));
    from += size_t(offset) + d.size();
    --m;
  }
  if (from < t.size() && m != 0) out.push_back(t.substr(from));
  return out;
}

// Texts dense in bytes of 0x80 and above, with letters of both cases (also as
// second bytes), so that starts and matches land on every kind of position.
class RandomTexts {
 public:
  explicit RandomTexts(uint32_t seed) : engine_(seed) {}

  std::string text(size_t max_length) {
    static const unsigned char alphabet[] = {'a',  'A',  'b',  'B',  ',',  0x81, 0xA3,
                                             0xC1, 0xE1, 0xFE, 0xA1, 0xD6, 0x80, 0xFF};
    std::string out(pick(max_length + 1), ' ');
    for (char& c : out) c = static_cast<char>(alphabet[pick(sizeof alphabet)]);
    return out;
  }
  // Pieces of the text itself (often straddling characters) or fresh bytes.
  std::string sought(const std::string& t) {
    if (t.empty() || pick(4) == 0) return text(3);
    const size_t at = pick(t.size());
    return t.substr(at, 1 + pick(4));
  }
  OptionalInt position(const std::string& t) {
    if (pick(5) == 0) return std::nullopt;
    return static_cast<int32_t>(pick(t.size() + 6)) - 2;
  }
  bool flag() { return pick(2) == 0; }
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(engine_); }

 private:
  std::mt19937 engine_;
};

}  // namespace

// ---- Searching -----------------------------------------------------------------------

TEST(FindText, Examples) {
  struct Case {
    const char* text;
    const char* sought;
    OptionalInt start;
    bool ignore_case;
    int32_t expected;
  };
  const Case cases[] = {
      {"abcabc", "c", std::nullopt, false, 3},
      {"abcabc", "c", 4, false, 6},
      {"abcabc", "c", 7, false, -1},
      {"abcabc", "c", 0, false, 3},
      {"abcabc", "c", -9, false, 3},
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 99, false, 1},
      {"", "a", std::nullopt, false, -1},
      {"ABC", "b", std::nullopt, true, 2},
      {"ABC", "b", std::nullopt, false, -1},
      {"abc", "abcd", std::nullopt, false, -1},
      {"\xd6\xd0"
       "a",
       "a", 2, false, 3},  // "中a" from position 2: the start rounds up to 3
      {"\xd6\xd0"
       "a",
       "\xd0"
       "a",
       std::nullopt, false, -1},                  // second byte + next byte
      {"a\xd6", "\xd6", std::nullopt, false, 2},  // a lead byte directly before the terminator
      {"a\xd6", "\xd6", 2, false, 2},
      {"\xd6\xd0\xd6", "\xd6", 3, false, 3},
      {"\xd6\xd0\xd6", "\xd6", 2, false, 3},
      {"\xd6\xd0\xd6", "\xd6", 4, false, -1},
      {"xA\xc1"
       "a",
       "A", std::nullopt, true, 2},
      {"\xc1"
       "Aa",
       "a", std::nullopt, true, 3},                  // 0xC1 0x41 is one character
      {"\xe1\xc1", "\xc1", std::nullopt, true, -1},  // only A-Z fold, and only on character starts
  };
  for (const Case& c : cases) {
    const Text text = heap_text(c.text);
    const Text sought = heap_text(c.sought);
    EXPECT_EQ(find_text(text.get(), sought.get(), c.start, c.ignore_case), c.expected)
        << shown(c.text) << " " << shown(c.sought) << " start " << shown(c.start) << " ignore " << c.ignore_case;
  }
  // A null sought text finds nothing; an empty one is found at once.
  EXPECT_EQ(find_text(nullptr, "a"), -1);
  EXPECT_EQ(find_text("a", nullptr), -1);
  EXPECT_EQ(find_text(nullptr, ""), -1);
  EXPECT_EQ(find_text_reverse("a", nullptr), -1);
  EXPECT_EQ(find_text_reverse("a", ""), 1);
}

TEST(FindText, CellFormTestsTheTagOfTheStart) {
  const ArgCell given[] = {cell_text("abcabc"), cell_text("c"), cell_int(4), cell_bool(false)};
  EXPECT_EQ(find_text(4, given), 6);
  // A left-out start counts from the first byte, whatever value the cell carries.
  const ArgCell left_out[] = {cell_text("abcabc"), cell_text("c"), {4, tag_omitted}, cell_bool(false)};
  EXPECT_EQ(find_text(4, left_out), 3);
  const ArgCell upper[] = {cell_text("ABC"), cell_text("b"), cell_omitted(), cell_bool(true)};
  EXPECT_EQ(find_text(4, upper), 2);
  EXPECT_EQ(find_text(2, upper), -1);  // the Boolean not passed reads as false
}

TEST(FindTextReverse, Examples) {
  struct Case {
    const char* text;
    const char* sought;
    OptionalInt start;
    bool ignore_case;
    int32_t expected;
  };
  const Case cases[] = {
      {"a/b/c", "/", std::nullopt, false, 4},
      {"a/b/c", "/", 4, false, 2},
      {"a/b/c", "/", 2, false, -1},  // only the first byte is looked at
      {"a/b/c", "/", 0, false, -1},
      {"a/b/c", "", 0, false, 1},
      {"a/b/c", "/", 99, false, 4},
      {"a/b/c", "B", std::nullopt, true, 3},
      {"a/b/c", "B", std::nullopt, false, -1},
      {"abc", "abcd", std::nullopt, false, -1},
      {"", "a", std::nullopt, false, -1},
      {"\xd6\xd0"
       "a",
       "\xd0"
       "a",
       std::nullopt, false, 2},  // byte-wise: may begin on a second byte
      {"aa\xd6", "\xd6", std::nullopt, false, 3},
  };
  for (const Case& c : cases) {
    const Text text = heap_text(c.text);
    const Text sought = heap_text(c.sought);
    EXPECT_EQ(find_text_reverse(text.get(), sought.get(), c.start, c.ignore_case), c.expected)
        << shown(c.text) << " " << shown(c.sought) << " start " << shown(c.start);
  }
  const ArgCell cells[] = {cell_text("a/b/c"), cell_text("/"), cell_omitted()};
  EXPECT_EQ(find_text_reverse(3, cells), 4);
}

// ---- Slicing ---------------------------------------------------------------------------

TEST(Slicing, LeftRightMid) {
  const Text abc = heap_text("abc");
  EXPECT_EQ(str(left_text(abc.get(), 5)), "abc");
  EXPECT_EQ(str(left_text(abc.get(), 2)), "ab");
  EXPECT_EQ(left_text(abc.get(), 0).get(), nullptr);
  EXPECT_EQ(left_text(nullptr, 3).get(), nullptr);
  EXPECT_EQ(str(right_text(abc.get(), 2)), "bc");
  EXPECT_EQ(str(right_text(abc.get(), INT32_MAX)), "abc");
  EXPECT_EQ(right_text(abc.get(), -1).get(), nullptr);
  EXPECT_EQ(right_text(nullptr, 2).get(), nullptr);
  const Text abcdef = heap_text("abcdef");
  EXPECT_EQ(str(mid_text(abcdef.get(), 3, 10)), "cdef");
  EXPECT_EQ(str(mid_text(abcdef.get(), 3, INT32_MAX)), "cdef");
  EXPECT_EQ(str(mid_text(abcdef.get(), 6, 1)), "f");
  EXPECT_EQ(str(mid_text(abcdef.get(), 2, 2)), "bc");
  EXPECT_EQ(mid_text(abc.get(), 4, 1).get(), nullptr);
  EXPECT_EQ(mid_text(abc.get(), INT32_MAX, INT32_MAX).get(), nullptr);
  EXPECT_EQ(mid_text(abc.get(), 0, 1).get(), nullptr);
  EXPECT_EQ(mid_text(abc.get(), 1, 0).get(), nullptr);
  EXPECT_EQ(mid_text(nullptr, 1, 1).get(), nullptr);
  // Byte-wise: a two-byte character may be cut in half.
  EXPECT_EQ(str(left_text("\xd6\xd0", 1)), "\xd6");

  const ArgCell mid[] = {cell_text("abcdef"), cell_int(3), cell_int(2)};
  Text from_cells = Text::adopt(mid_text(3, mid));
  EXPECT_EQ(str(from_cells), "cd");
  const ArgCell left[] = {cell_text("abcdef"), cell_int(2)};
  EXPECT_EQ(str(Text::adopt(left_text(2, left))), "ab");
  EXPECT_EQ(str(Text::adopt(right_text(2, left))), "ef");
}

TEST(CharCodes, ByteAtPositionAndTextOfCode) {
  const Text text = heap_text("A\xd6\xd0");
  EXPECT_EQ(char_code_at(text.get()), 65);
  EXPECT_EQ(char_code_at(text.get(), 2), -42);  // 0xD6
  EXPECT_EQ(char_code_at(text.get(), 3), -48);
  EXPECT_EQ(char_code_at(text.get(), 4), 0);
  EXPECT_EQ(char_code_at(text.get(), INT32_MAX), 0);
  EXPECT_EQ(char_code_at(text.get(), 0), 0);
  EXPECT_EQ(char_code_at(text.get(), -1), 0);
  EXPECT_EQ(char_code_at(nullptr), 0);
  const ArgCell left_out[] = {cell_text("xyz"), {5, tag_omitted}};
  EXPECT_EQ(char_code_at(2, left_out), 'x');

  EXPECT_EQ(char_from_code(0).get(), nullptr);
  EXPECT_EQ(char_from_code(0x100).get(), nullptr);
  EXPECT_EQ(str(char_from_code(321)), "A");
  EXPECT_EQ(str(char_from_code(-1)), "\xff");
  const ArgCell code[] = {cell_int(10)};
  EXPECT_EQ(str(Text::adopt(char_from_code(1, code))), "\n");
}

// ---- Numbers ---------------------------------------------------------------------------

TEST(ToInt, EveryKindOfValue) {
  const auto real32 = [](float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return ArgCell{bits, tag_float32};
  };
  struct Case {
    const char* what;
    ArgCell cell;
    int32_t expected;
  };
  const Case cases[] = {
      {"full-width 12", cell_text("\xa3\xb1\xa3\xb2"), 12},
      {"blanks, sign, junk", cell_text("  -7x"), -7},
      {"plus sign", cell_text("+42"), 42},
      {"ideographic space before digits",
       cell_text("\xa1\xa1"
                 "5"),
       5},
      {"full-width minus",
       cell_text("\xa3\xad"
                 "3"),
       -3},
      {"no digits", cell_text("x7"), 0},
      {"empty", cell_text(""), 0},
      {"null", cell_text(nullptr), 0},
      {"beyond 32 bits", cell_text("99999999999"), INT32_MAX},
      {"below 32 bits", cell_text("-99999999999"), INT32_MIN},
      {"lowest", cell_text("-2147483648"), INT32_MIN},
      {"real -2.9", cell_float64(-2.9), -2},
      {"real 2.9", cell_float64(2.9), 2},
      {"real 1e12", cell_float64(1e12), INT32_MAX},
      {"real -1e12", cell_float64(-1e12), INT32_MIN},
      {"real NaN", cell_float64(std::nan("")), 0},
      {"real32 -7.5", real32(-7.5f), -7},
      {"int64 beyond", cell_int64(int64_t(1) << 40), INT32_MAX},
      {"int64 below", cell_int64(-(int64_t(1) << 40)), INT32_MIN},
      {"int64 -5", cell_int64(-5), -5},
      {"int32", cell_int(-123), -123},
      {"Boolean", cell_bool(true), 1},
      {"byte", {0x1FF, tag_byte}, 255},
      {"16-bit", {0xFFFF, tag_int16}, -1},
      {"date-time", cell_date_time(5.0), 0},
      {"byte set", cell_byte_set(g_empty_array_template), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_int(c.cell), c.expected) << c.what;
    EXPECT_EQ(to_int(1, &c.cell), c.expected) << c.what << " (cell form)";
  }
}

TEST(ToHalfWidth, FullWidthAsciiFormsAndTheIdeographicSpace) {
  // Every full-width form of "!" to "~" maps to its ASCII character.
  for (int ascii = '!'; ascii <= '~'; ++ascii) {
    std::string full;
    if (ascii == '$')
      full = "\xa1\xe7";
    else if (ascii == '~')
      full = "\xa1\xab";
    else
      full = {'\xa3', static_cast<char>(ascii + 0x80)};
    const Text text = heap_text("x" + full + "y");
    EXPECT_EQ(str(to_half_width(text.get())), std::string("x") + static_cast<char>(ascii) + "y") << shown(full);
  }
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"\xa1\xa1", " "},
      {"a\xa3\xaf"
       "b\xa3\xdc"
       "c",
       "a/b\\c"},                                // "／" and "＼"
      {"\xd6\xd0\xce\xc4", "\xd6\xd0\xce\xc4"},  // "中文" stays
      {"\xb5\xda\xa3\xb1\xd5\xc2",
       "\xb5\xda"
       "1\xd5\xc2"},                             // "第１章"
      {"\x81\xa3\xb1\xa3", "\x81\xa3\xb1\xa3"},  // 0xA3 as a second byte is not a lead
      {"abc", "abc"},
  };
  for (const Case& c : cases) {
    const Text text = heap_text(c.text);
    EXPECT_EQ(str(to_half_width(text.get())), c.expected) << shown(c.text);
  }
  EXPECT_EQ(to_half_width(nullptr).get(), nullptr);
  EXPECT_EQ(to_half_width("").get(), nullptr);
  const ArgCell cell = cell_text("\xa3\xc1");
  EXPECT_EQ(str(Text::adopt(to_half_width(1, &cell))), "A");
}

TEST(BitAnd, FirstValueAndEveryFurtherOne) {
  const ArgCell one[] = {cell_int(0x12345)};
  EXPECT_EQ(bit_and(1, one), 0x12345);
  const ArgCell two[] = {cell_int(0x123403EB), cell_int(0xFFFF)};
  EXPECT_EQ(bit_and(2, two), 0x03EB);
  const ArgCell three[] = {cell_int(-1), cell_int(0xF0F0), cell_int(0x3C3C)};
  EXPECT_EQ(bit_and(3, three), 0x3030);
}

// ---- Replacing -------------------------------------------------------------------------

TEST(ReplaceText, Examples) {
  struct Case {
    const char* text;
    const char* sought;
    const char* replacement;
    OptionalInt start;
    OptionalInt count;
    bool case_sensitive;
    const char* expected;  // null: the null Text
  };
  const Case cases[] = {
      {"aXbxc", "x", "-", std::nullopt, std::nullopt, true, "aXb-c"},
      {"aXbxc", "x", "-", std::nullopt, std::nullopt, false, "a-b-c"},
      {"aXbxc", "x", "-", std::nullopt, 1, false, "a-bxc"},
      {"aXbxc", "x", "-", 3, std::nullopt, false, "aXb-c"},
      {"aXbxc", "x", "-", std::nullopt, 0, false, "aXbxc"},
      {"aXbxc", "x", "-", std::nullopt, -3, false, "aXbxc"},
      {"aXbxc", "x", "-", 6, std::nullopt, false, "aXbxc"},  // start at the terminator
      {"aXbxc", "", "-", std::nullopt, std::nullopt, false, "aXbxc"},
      {"aaa", "aa", "b", std::nullopt, std::nullopt, true, "ba"},      // no overlaps
      {"aaa", "a", "aa", std::nullopt, std::nullopt, true, "aaaaaa"},  // never rescans the replacement
      {"a-b-c", "-", nullptr, std::nullopt, std::nullopt, true, "abc"},
      {"abc", "abcd", "x", std::nullopt, std::nullopt, true, "abc"},
      {"\xd6\xd0"
       "a",
       "\xd0"
       "a",
       "x", std::nullopt, std::nullopt, true,
       "\xd6\xd0"
       "a"},
      {"\xd6\xd0"
       "a",
       "a", "x", 2, std::nullopt, true,
       "\xd6\xd0"
       "x"},
      {"", "a", "b", std::nullopt, std::nullopt, true, nullptr},
  };
  for (const Case& c : cases) {
    const Text text = heap_text(c.text);
    const Text sought = heap_text(c.sought);
    const Text replacement = heap_text(c.replacement ? c.replacement : "");
    const Text result = replace_text(text.get(), sought.get(), replacement.get(), c.start, c.count, c.case_sensitive);
    if (c.expected == nullptr) {
      EXPECT_EQ(result.get(), nullptr) << shown(c.text);
    } else {
      ASSERT_NE(result.get(), nullptr) << shown(c.text);
      EXPECT_EQ(str(result), c.expected) << shown(c.text) << " " << shown(c.sought) << " start " << shown(c.start)
                                         << " count " << shown(c.count);
    }
  }
}

TEST(ReplaceText, EverythingReplacedByNothingIsAnAllocatedEmptyText) {
  const Text result = replace_text("abc", "abc");
  ASSERT_NE(result.get(), nullptr);
  EXPECT_EQ(result.get()[0], 0);
  const ArgCell cells[] = {cell_text("abc"), cell_text("ABC"), cell_omitted(),
                           cell_omitted(),   cell_omitted(),   cell_omitted()};
  Text from_cells = Text::adopt(replace_text(6, cells));  // left-out Boolean: case is ignored
  ASSERT_NE(from_cells.get(), nullptr);
  EXPECT_EQ(from_cells.get()[0], 0);
}

TEST(ReplaceTextDeathTest, AResultBeyondTwoGigabytesIsOutOfMemory) {
  // 1 MiB of "a", each replaced by 2100 bytes: the result's length does not
  // fit in 32 bits, and must end in the out-of-memory box, not wrap around.
  const std::string text(1 << 20, 'a');
  const std::string replacement(2100, 'b');
  EXPECT_EXIT(
      {
        platform::g_message_box_observer = [](const char* box_text, const char*, uint32_t) {
          std::fprintf(stderr, "%s\n",
                       std::strcmp(box_text, "\xc4\xda\xb4\xe6\xb2\xbb\xd7\xe3") == 0
                           ? "out of memory box"  // "内存不足"
                           : box_text);
        };
        replace_text(text.c_str(), "a", replacement.c_str(), std::nullopt, std::nullopt, true);
        std::fprintf(stderr, "returned\n");
      },
      ::testing::ExitedWithCode(0), "out of memory box");
}

TEST(ReplaceText, CellFormTestsTheTagsOfItsOptionalArguments) {
  // Left-out start and count whose cells carry values: the values are ignored.
  const ArgCell cells[] = {cell_text("x.x.x"), cell_text("x"),   cell_text("y"),
                           {3, tag_omitted},   {1, tag_omitted}, cell_bool(true)};
  EXPECT_EQ(str(Text::adopt(replace_text(6, cells))), "y.y.y");
  const ArgCell given[] = {cell_text("x.x.x"), cell_text("x"), cell_text("y"),
                           cell_int(3),        cell_int(1),    cell_bool(true)};
  EXPECT_EQ(str(Text::adopt(replace_text(6, given))), "x.y.x");
}

// ---- Splitting -------------------------------------------------------------------------

TEST(SplitText, Examples) {
  using Pieces = std::vector<std::optional<std::string>>;
  const auto none = std::nullopt;
  struct Case {
    const char* text;
    const char* separator;
    OptionalInt maximum;
    Pieces expected;
  };
  const Case cases[] = {
      {"a,,b,", ",", std::nullopt, {"a", none, "b"}},
      {",a", ",", std::nullopt, {none, "a"}},
      {"a,b,c", ",", 2, {"a", "b"}},
      {"a,b,c", ",", 0, {}},
      {"a,b,c", ",", -1, {}},
      {"abc", "", std::nullopt, {"abc"}},
      {"abc", nullptr, std::nullopt, {"abc"}},
      {"", ",", std::nullopt, {}},
      {"a<br>b", "<br>", std::nullopt, {"a", "b"}},
      {"ab", "abc", std::nullopt, {"ab"}},
      {"\xd6,\xd0,", ",", std::nullopt, {"\xd6,\xd0,"}},  // "," after a lead byte is a second byte
  };
  for (const Case& c : cases) {
    const Text text = heap_text(c.text);
    const Text separator = heap_text(c.separator ? c.separator : "");
    void* block = split_text(text.get(), separator.get(), c.maximum);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(elements_of(block), c.expected) << shown(c.text) << " by " << shown(c.separator ? c.separator : "");
    free_text_array(block);
  }
}

TEST(SplitText, LeftOutSeparatorIsAComma) {
  const ArgCell cells[] = {cell_text("a,b"), cell_omitted(), cell_omitted()};
  void* block = split_text(3, cells);
  EXPECT_EQ(elements_of(block), (std::vector<std::optional<std::string>>{"a", "b"}));
  free_text_array(block);
  // A given null separator is not the default: nothing is split.
  const ArgCell null_separator[] = {cell_text("a,b"), cell_text(nullptr)};
  block = split_text(2, null_separator);
  EXPECT_EQ(elements_of(block), (std::vector<std::optional<std::string>>{"a,b"}));
  free_text_array(block);
  // An empty result is an array of one dimension of size 0, never null.
  const ArgCell empty[] = {cell_text(nullptr)};
  block = split_text(1, empty);
  int32_t header[2];
  std::memcpy(header, block, sizeof header);
  EXPECT_EQ(header[0], 1);
  EXPECT_EQ(header[1], 0);
  free_text_array(block);
}

// ---- The search kernels and the fast stepping, against the literal model ------------------

TEST(SearchKernels, AgreeWithAByteWiseScan) {
  RandomTexts random(7);
  for (int round = 0; round < 4000; ++round) {
    const std::string t = random.text(80);
    const std::string s = random.sought(t);
    if (s.empty()) continue;
    const bool fold = random.flag();
    const size_t from = random.pick(t.size() + 1);
    size_t expected = SIZE_MAX;
    for (size_t q = from; q + s.size() <= t.size() && expected == SIZE_MAX; ++q) {
      if (matches_at(t, q, s, fold)) expected = q;
    }
    const Text text = heap_text(t);
    const auto* begin = reinterpret_cast<const unsigned char*>(text.get());
    const auto* end = begin + t.size();
    const auto* sought = reinterpret_cast<const unsigned char*>(s.c_str());
    const auto offset = [&](const unsigned char* hit) { return hit == end ? SIZE_MAX : size_t(hit - begin); };
    const std::string input =
        shown(t) + " " + shown(s) + " from " + std::to_string(from) + " fold " + std::to_string(fold);
    EXPECT_EQ(offset(find_bytes(begin + from, end, sought, s.size(), fold)), expected) << input;
    EXPECT_EQ(offset(find_bytes_portable(begin + from, end, sought, s.size(), fold)), expected) << input;
    EXPECT_EQ(find_in_text(begin, from, sought, s.size(), fold), expected) << input;
    EXPECT_EQ(find_in_text_portable(begin, from, sought, s.size(), fold), expected) << input;
  }
}

TEST(SearchKernels, BoundariesMatchSteppingFromTheOrigin) {
  RandomTexts random(11);
  for (int round = 0; round < 2000; ++round) {
    const std::string t = random.text(60);
    const auto* bytes = reinterpret_cast<const unsigned char*>(t.c_str());
    const size_t origin = random.pick(t.size() + 1);
    std::vector<bool> reached(t.size() + 1, false);
    for (size_t q = origin; q <= t.size(); q = q < t.size() ? step(t, q) : q + 1) reached[q] = true;
    for (size_t p = origin; p <= t.size(); ++p) {
      size_t expected = p;
      while (!reached[expected]) ++expected;
      ASSERT_EQ(character_boundary_at_or_after(bytes, origin, p, t.size()), expected)
          << shown(t) << " origin " << origin << " position " << p;
      if (p < t.size()) {
        ASSERT_EQ(is_character_boundary(bytes, origin, p), bool(reached[p])) << shown(t) << " " << p;
      }
    }
  }
}

TEST(TextCommandsDifferential, FindTextBothCases) {
  RandomTexts random(1);
  for (int round = 0; round < 20000; ++round) {
    const std::string t = random.text(40);
    const std::string s = random.sought(t);
    const OptionalInt p = random.position(t);
    const bool fold = random.flag();
    const Text text = heap_text(t);
    const Text sought = heap_text(s);
    const int32_t expected = model_find(t, s, p, fold);
    ASSERT_EQ(find_text(text.get(), sought.get(), p, fold), expected)
        << shown(t) << " " << shown(s) << " start " << shown(p) << " ignore case " << fold;
  }
}

TEST(TextCommandsDifferential, FindTextReverse) {
  RandomTexts random(2);
  for (int round = 0; round < 20000; ++round) {
    const std::string t = random.text(40);
    const std::string s = random.sought(t);
    const OptionalInt p = random.position(t);
    const bool fold = random.flag();
    const Text text = heap_text(t);
    const Text sought = heap_text(s);
    ASSERT_EQ(find_text_reverse(text.get(), sought.get(), p, fold), model_find_reverse(t, s, p, fold))
        << shown(t) << " " << shown(s) << " start " << shown(p) << " ignore case " << fold;
  }
}

TEST(TextCommandsDifferential, ReplaceText) {
  RandomTexts random(3);
  for (int round = 0; round < 20000; ++round) {
    const std::string t = random.text(40);
    const std::string s = random.sought(t);
    const std::string r = random.text(3);
    const OptionalInt p = random.position(t);
    const OptionalInt k = random.pick(3) == 0 ? OptionalInt(int32_t(random.pick(4)) - 1) : std::nullopt;
    const bool case_sensitive = random.flag();
    const Text text = heap_text(t);
    const Text sought = heap_text(s);
    const Text replacement = heap_text(r);
    const Text result = replace_text(text.get(), sought.get(), replacement.get(), p, k, case_sensitive);
    const std::optional<std::string> expected = model_replace(t, s, r, p, k, case_sensitive);
    const std::optional<std::string> actual =
        result.get() == nullptr ? std::nullopt : std::optional<std::string>(result.get());
    ASSERT_EQ(actual, expected) << shown(t) << " " << shown(s) << " by " << shown(r) << " start " << shown(p)
                                << " count " << shown(k) << " case sensitive " << case_sensitive;
  }
}

TEST(TextCommandsDifferential, SplitText) {
  RandomTexts random(4);
  for (int round = 0; round < 20000; ++round) {
    const std::string t = random.text(40);
    const std::string d = random.pick(3) == 0 ? std::string(",") : random.sought(t);
    const OptionalInt m = random.pick(3) == 0 ? OptionalInt(int32_t(random.pick(5)) - 1) : std::nullopt;
    const Text text = heap_text(t);
    const Text separator = heap_text(d);
    void* block = split_text(text.get(), separator.get(), m);
    ASSERT_EQ(elements_of(block), model_split(t, d, m)) << shown(t) << " by " << shown(d) << " max " << shown(m);
    free_text_array(block);
  }
}

TEST(TextCommandsDifferential, LongRunsOfTwoByteCharacters) {
  // Long texts exercise the 16-byte kernels and the look-back over long runs of
  // high bytes, including runs that cross the start position.
  RandomTexts random(5);
  for (int round = 0; round < 300; ++round) {
    std::string t;
    while (t.size() < 600) {
      t += random.pick(4) == 0 ? random.text(4) : std::string(2 * random.pick(40), '\xc1');
      if (random.flag()) t += '\xd6';
      if (random.pick(8) == 0) t += random.flag() ? '\x80' : '\xff';  // one-byte characters amid the run
    }
    const std::string s = random.sought(t);
    const OptionalInt p = random.position(t);
    const bool fold = random.flag();
    const Text text = heap_text(t);
    const Text sought = heap_text(s);
    ASSERT_EQ(find_text(text.get(), sought.get(), p, fold), model_find(t, s, p, fold))
        << shown(t) << " " << shown(s) << " start " << shown(p);
  }
}
