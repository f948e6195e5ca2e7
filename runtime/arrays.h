// Arrays: one heap block {int32 n, n int32 sizes, packed elements}, indexed from 1
// over all elements in order, with every access checked (index below 1: runtime
// error 4; beyond the count: runtime error 1). Text and ByteSet elements are
// pointer-sized and belong to the array. Constant blocks in the program image
// are copied to the heap before they are changed (make_array_writable).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "runtime/memory.h"
#include "runtime/texts.h"
#include "runtime/values.h"

int32_t array_element_count(const void* block);
// The address of the first element, just after the last dimension size. The
// elements are writable only through a writable block.
const unsigned char* array_elements(const void* block);
unsigned char* array_elements(void* block);
// The address of element i, or a fatal runtime error with the location pair.
const unsigned char* array_element_at(const void* block, int32_t i, int32_t width, Location at);
unsigned char* array_element_at(void* block, int32_t i, int32_t width, Location at);
void make_array_writable(int32_t width, void** variable);
void* make_empty_array();
// Appends one element, flattening the block to one dimension. For a Text array
// pass the address of the Text to copy (text_element true), for numbers the
// address of the element's bytes.
void append_element(void** variable, int32_t width, const void* element, bool text_element);
// Frees every non-null element, then the block.
void free_text_array(void* block);

// The constant empty array and the one-element template, inside the program image.
extern const int32_t g_empty_array_template[2];
extern const int32_t g_one_element_template[4];

// Owning handle of an Array block. Element is Text (or ByteSet) for arrays that
// own their pointer elements, or an arithmetic type for arrays of numbers.
template <typename Element>
class Array {
  static constexpr bool owns_values = std::is_same_v<Element, Text> || std::is_same_v<Element, ByteSet>;

 public:
  static constexpr int32_t element_width = owns_values ? int32_t(sizeof(void*)) : int32_t(sizeof(Element));

  Array() = default;
  ~Array() { reset(); }
  Array(Array&& other) noexcept : block_(other.release()) {}
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      reset();
      block_ = other.release();
    }
    return *this;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  static Array adopt(void* block) {
    Array a;
    a.block_ = block;
    return a;
  }
  static Array empty() { return adopt(make_empty_array()); }

  // A const handle gives the block for reading only.
  const void* block() const { return block_; }
  void* block() { return block_; }
  void** variable() { return &block_; }
  void* release() { return std::exchange(block_, nullptr); }
  void reset(void* block = nullptr) {
    void* old = std::exchange(block_, block);
    if constexpr (owns_values) {
      if (old && !is_in_program_image(old)) free_text_array(old);
    } else {
      runtime_free(old);
    }
  }
  int32_t count() const { return array_element_count(block_); }

  // Numbers: the element's value. Texts: the element's raw pointer (may be null).
  auto at(int32_t i, Location where) const {
    const unsigned char* p = array_element_at(block(), i, element_width, where);
    if constexpr (owns_values) {
      void* value;
      std::memcpy(&value, p, sizeof value);
      if constexpr (std::is_same_v<Element, Text>)
        return static_cast<const char*>(value);
      else
        return static_cast<const void*>(value);
    } else {
      Element value;
      std::memcpy(&value, p, sizeof value);
      return value;
    }
  }
  // Numbers: stores value. Texts/ByteSets: the array takes the block, and the
  // element's old value is freed.
  template <typename Value>
  void set(int32_t i, Value&& value, Location where) {
    unsigned char* p = array_element_at(block_, i, element_width, where);
    if constexpr (owns_values) {
      void* old;
      std::memcpy(&old, p, sizeof old);
      void* fresh = value.release();
      std::memcpy(p, &fresh, sizeof fresh);
      runtime_free(old);
    } else {
      Element v = value;
      std::memcpy(p, &v, sizeof v);
    }
  }
  // Texts: appends a copy of text. Numbers: appends the value.
  template <typename Value>
  void append(const Value& value) {
    static_assert(!std::is_same_v<Element, ByteSet>, "append_element copies Text elements only");
    if constexpr (owns_values) {
      const void* source = value;
      append_element(&block_, element_width, &source, true);
    } else {
      Element v = value;
      append_element(&block_, element_width, &v, false);
    }
  }

 private:
  void* block_ = nullptr;
};
