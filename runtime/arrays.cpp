#include "runtime/arrays.h"

#include <climits>
#include <cstring>

// Both constants lie in the program image. The one-element template has room
// for one element of any width up to 8 bytes.
const int32_t g_empty_array_template[2] = {1, 0};
const int32_t g_one_element_template[4] = {1, 1, 0, 0};

namespace {

int32_t dimension_count(const void* block) {
  int32_t n;
  std::memcpy(&n, block, sizeof n);
  return n < 0 ? 0 : n;
}

size_t header_size(const void* block) { return 4 + 4 * size_t(dimension_count(block)); }

}  // namespace

int32_t array_element_count(const void* block) {
  if (block == nullptr) return 0;
  const auto* sizes = static_cast<const unsigned char*>(block) + 4;
  int64_t count = 1;
  for (int32_t i = 0; i < dimension_count(block); ++i) {
    int32_t size;
    std::memcpy(&size, sizes + 4 * size_t(i), sizeof size);
    if (size <= 0) return 0;
    count *= size;
    if (count > INT32_MAX) return INT32_MAX;
  }
  return int32_t(count);
}

const unsigned char* array_elements(const void* block) {
  return static_cast<const unsigned char*>(block) + header_size(block);
}

unsigned char* array_elements(void* block) { return static_cast<unsigned char*>(block) + header_size(block); }

const unsigned char* array_element_at(const void* block, int32_t i, int32_t width, Location at) {
  const int32_t count = array_element_count(block);
  if (i < 1) raise_runtime_error(4, at);
  if (i > count) raise_runtime_error(1, at);
  return array_elements(block) + size_t(i - 1) * size_t(width);
}

unsigned char* array_element_at(void* block, int32_t i, int32_t width, Location at) {
  // The checks are the read-only form's; only the constness of the result differs.
  return const_cast<unsigned char*>(array_element_at(static_cast<const void*>(block), i, width, at));
}

void make_array_writable(int32_t width, void** variable) {
  const void* block = *variable;
  if (block == nullptr || !is_in_program_image(block)) return;
  const size_t size = header_size(block) + size_t(array_element_count(block)) * size_t(width);
  void* copy = runtime_alloc_raw(size);
  std::memcpy(copy, block, size);
  *variable = copy;
}

void* make_empty_array() {
  void* block = runtime_alloc_raw(sizeof g_empty_array_template);
  std::memcpy(block, g_empty_array_template, sizeof g_empty_array_template);
  return block;
}

void append_element(void** variable, int32_t width, const void* element, bool text_element) {
  make_array_writable(width, variable);
  auto* block = static_cast<unsigned char*>(*variable);
  const int32_t count = array_element_count(block);
  const size_t element_width = size_t(width);
  // The result is one-dimensional: the elements move to follow a header of two
  // fields, in their old order (down before shrinking, up after growing).
  const size_t old_header = block == nullptr ? 8 : header_size(block);
  if (old_header > 8) std::memmove(block + 8, block + old_header, size_t(count) * element_width);
  block = static_cast<unsigned char*>(runtime_realloc(block, 8 + (size_t(count) + 1) * element_width));
  if (old_header < 8) std::memmove(block + 8, block + old_header, size_t(count) * element_width);
  const int32_t header[2] = {1, count + 1};
  std::memcpy(block, header, sizeof header);
  unsigned char* slot = block + 8 + size_t(count) * element_width;
  if (text_element) {
    const char* text;
    std::memcpy(&text, element, sizeof text);
    char* copy = copy_text_bytes(text, text_length(text));
    std::memcpy(slot, &copy, sizeof copy);
  } else {
    std::memcpy(slot, element, element_width);
  }
  *variable = block;
}

void free_text_array(void* block) {
  if (block == nullptr) return;
  const int32_t count = array_element_count(block);
  const unsigned char* elements = array_elements(block);
  for (int32_t i = 0; i < count; ++i) {
    void* element;
    std::memcpy(&element, elements + size_t(i) * sizeof element, sizeof element);
    runtime_free(element);
  }
  runtime_free(block);
}
