#include "runtime/arrays.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os.h"

namespace {

constexpr Location k_site = {0x04010185, 244};

// Heap block {n, sizes..., elements} built from 32-bit fields.
void* heap_block(const std::vector<int32_t>& fields) {
  void* block = runtime_alloc_raw(fields.size() * sizeof(int32_t));
  std::memcpy(block, fields.data(), fields.size() * sizeof(int32_t));
  return block;
}

std::vector<int32_t> fields_of(const void* block, size_t count) {
  std::vector<int32_t> out(count);
  std::memcpy(out.data(), block, count * sizeof(int32_t));
  return out;
}

const char* text_element(const void* block, int32_t i) {
  const char* text;
  std::memcpy(&text, array_element_at(block, i, sizeof(char*), k_site), sizeof text);
  return text;
}

// The box's text on one line, so that the death test can match it.
void print_box(const char* text, const char* caption, uint32_t) {
  std::string line = std::string(caption) + ": " + text;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

void access_element(const void* block, int32_t i) {
  platform::g_message_box_observer = print_box;
  array_element_at(block, i, 4, k_site);
  std::fprintf(stderr, "the access went on\n");
  std::abort();
}

}  // namespace

TEST(ArrayElementCount, ProductOfTheDimensionSizes) {
  EXPECT_EQ(array_element_count(nullptr), 0);
  EXPECT_EQ(array_element_count(g_empty_array_template), 0);
  EXPECT_EQ(array_element_count(g_one_element_template), 1);
  const int32_t two_by_three[] = {2, 2, 3};
  EXPECT_EQ(array_element_count(two_by_three), 6);
  const int32_t with_zero[] = {2, 4, 0};
  EXPECT_EQ(array_element_count(with_zero), 0);
  EXPECT_EQ(array_elements(two_by_three), reinterpret_cast<const unsigned char*>(two_by_three + 3));
  void* empty = make_empty_array();
  EXPECT_EQ(fields_of(empty, 2), (std::vector<int32_t>{1, 0}));
  EXPECT_FALSE(is_in_program_image(empty));
  runtime_free(empty);
}

TEST(ArrayElementAt, AddressesOfElementsInRange) {
  const int32_t block[] = {2, 2, 2, 10, 20, 30, 40};
  for (int32_t i = 1; i <= 4; ++i) {
    int32_t value;
    std::memcpy(&value, array_element_at(block, i, 4, k_site), sizeof value);
    EXPECT_EQ(value, 10 * i);
  }
}

using ArrayElementAtDeathTest = ::testing::Test;

TEST_F(ArrayElementAtDeathTest, IndexBelowOneRaisesError4) {
  const int32_t block[] = {1, 2, 7, 8};
  EXPECT_EXIT(access_element(block, 0), ::testing::ExitedWithCode(0),
              "error: program internal error number is 4\\. .*67174789,244");
  EXPECT_EXIT(access_element(block, INT32_MIN), ::testing::ExitedWithCode(0), "number is 4\\.");
}

TEST_F(ArrayElementAtDeathTest, IndexBeyondTheCountRaisesError1) {
  const int32_t block[] = {1, 2, 7, 8};
  EXPECT_EXIT(access_element(block, 3), ::testing::ExitedWithCode(0),
              "error: program internal error number is 1\\. .*67174789,244");
  EXPECT_EXIT(access_element(nullptr, 1), ::testing::ExitedWithCode(0), "number is 1\\.");
  EXPECT_EXIT(access_element(g_empty_array_template, 1), ::testing::ExitedWithCode(0), "number is 1\\.");
}

TEST(MakeArrayWritable, CopiesConstantsOnlyAndLeavesThemAlone) {
  ASSERT_TRUE(is_in_program_image(g_empty_array_template));
  ASSERT_TRUE(is_in_program_image(g_one_element_template));
  void* variable = const_cast<int32_t*>(g_one_element_template);
  make_array_writable(8, &variable);
  ASSERT_NE(variable, static_cast<const void*>(g_one_element_template));
  EXPECT_EQ(fields_of(variable, 4), (std::vector<int32_t>{1, 1, 0, 0}));
  void* heap = variable;
  make_array_writable(8, &variable);
  EXPECT_EQ(variable, heap);
  runtime_free(variable);
  void* null_variable = nullptr;
  make_array_writable(4, &null_variable);
  EXPECT_EQ(null_variable, nullptr);
}

TEST(AppendElement, ToTheConstantEmptyArray) {
  void* variable = const_cast<int32_t*>(g_empty_array_template);
  const int32_t value = 42;
  append_element(&variable, 4, &value, false);
  EXPECT_FALSE(is_in_program_image(variable));
  EXPECT_EQ(fields_of(variable, 3), (std::vector<int32_t>{1, 1, 42}));
  EXPECT_EQ(fields_of(g_empty_array_template, 2), (std::vector<int32_t>{1, 0}));
  runtime_free(variable);
}

TEST(AppendElement, FlattensAMultiDimensionalArray) {
  void* variable = heap_block({2, 2, 3, 1, 2, 3, 4, 5, 6});
  const int32_t value = 7;
  append_element(&variable, 4, &value, false);
  EXPECT_EQ(fields_of(variable, 9), (std::vector<int32_t>{1, 7, 1, 2, 3, 4, 5, 6, 7}));
  runtime_free(variable);
}

TEST(AppendElement, NullVariableAnd64BitElements) {
  void* variable = nullptr;
  const int64_t big = int64_t(1) << 40;
  append_element(&variable, 8, &big, false);
  append_element(&variable, 8, &big, false);
  ASSERT_EQ(array_element_count(variable), 2);
  int64_t second;
  std::memcpy(&second, array_element_at(variable, 2, 8, k_site), sizeof second);
  EXPECT_EQ(second, big);
  runtime_free(variable);
}

TEST(AppendElement, TextsAreCopiedAndPointerSized) {
  void* variable = const_cast<int32_t*>(g_empty_array_template);
  const char* pieces[] = {"first", nullptr, "", "\xd6\xd0"};
  for (const char* piece : pieces) append_element(&variable, sizeof(char*), &piece, true);
  ASSERT_EQ(array_element_count(variable), 4);
  EXPECT_NE(text_element(variable, 1), pieces[0]);  // a copy
  EXPECT_STREQ(text_element(variable, 1), "first");
  EXPECT_EQ(text_element(variable, 2), nullptr);
  EXPECT_EQ(text_element(variable, 3), nullptr);  // empty texts are null
  EXPECT_STREQ(text_element(variable, 4), "\xd6\xd0");
  free_text_array(variable);
}

TEST(AppendElement, TextElementsOfATwoDimensionalArrayAreUnaligned) {
  // Behind a header of three fields, 8-byte elements start at offset 12.
  char* a = Text::copy_of("a").release();
  char* b = Text::copy_of("b").release();
  auto* block = static_cast<unsigned char*>(runtime_alloc_raw(12 + 2 * sizeof(char*)));
  const int32_t header[] = {2, 1, 2};
  std::memcpy(block, header, sizeof header);
  std::memcpy(block + 12, &a, sizeof a);
  std::memcpy(block + 12 + sizeof(char*), &b, sizeof b);
  void* variable = block;
  const char* c = "c";
  append_element(&variable, sizeof(char*), &c, true);
  EXPECT_EQ(fields_of(variable, 2), (std::vector<int32_t>{1, 3}));
  EXPECT_STREQ(text_element(variable, 1), "a");
  EXPECT_STREQ(text_element(variable, 2), "b");
  EXPECT_STREQ(text_element(variable, 3), "c");
  free_text_array(variable);
}

TEST(FreeTextArray, NullElementsAndConstants) {
  void* variable = heap_block({1, 2, 0, 0, 0, 0});
  free_text_array(variable);  // only the block
  free_text_array(nullptr);
  free_text_array(const_cast<int32_t*>(g_one_element_template));  // ignored: inside the program image
  EXPECT_EQ(fields_of(g_one_element_template, 4), (std::vector<int32_t>{1, 1, 0, 0}));
}

TEST(ArrayHandle, TextsAndNumbers) {
  Array<Text> texts = Array<Text>::empty();
  texts.append("x");
  texts.append(Text::copy_of("y").get());
  ASSERT_EQ(texts.count(), 2);
  texts.set(1, Text::copy_of("z"), k_site);  // frees the old "x"
  EXPECT_STREQ(texts.at(1, k_site), "z");
  EXPECT_STREQ(texts.at(2, k_site), "y");
  texts = Array<Text>::adopt(const_cast<int32_t*>(g_one_element_template));
  EXPECT_EQ(texts.count(), 1);
  texts.reset();  // a constant is never freed

  Array<int32_t> flags = Array<int32_t>::adopt(const_cast<int32_t*>(g_empty_array_template));
  for (int32_t i = 0; i < 10; ++i) flags.append(0);
  flags.set(10, 1, k_site);
  EXPECT_EQ(flags.count(), 10);
  EXPECT_EQ(flags.at(10, k_site), 1);
  EXPECT_EQ(flags.at(9, k_site), 0);
}
