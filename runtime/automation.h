// The automation bridge: the runtime's road to automation objects.
//
// An AutomationObject record holds one object, made from a class name (a ProgID
// such as "MSXML2.XMLHTTP", or a class id in braces), whose members are called
// by name (late binding). Values go in as ArgCells and come back as Variants:
// 16-byte OLE VARIANTs (16-bit type, three reserved words, an 8-byte value).
// Every operation stores its HRESULT in the record's last result, and
// object_error_text gives the system's text for it in code page 936. No
// failure is fatal: callers test the Boolean of create_object or what they get.
//
// Ownership: a record belongs to one variable; it holds one reference to its
// object, which release_object drops. A Variant returned by get_property is a
// new block of the runtime heap owned by the caller, cleared with clear_variant
// before it is freed. Byte sets from variant_to_bytes are new and owned too.
// AutomationHandle and VariantHandle own a record and a Variant and do all of
// that on every path. The commands keep no state of their own, so threads may
// use them at once on different records; a thread calls platform::com_initialize
// before its first create_object and uses its objects only on that thread.
//
// On Windows this is COM itself (IDispatch, type information, SAFEARRAYs). On
// Linux a small automation layer of the platform stands in its place, with the
// same commands, argument kinds, failure codes and message texts; its classes
// are the HTTP request classes.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "runtime/memory.h"
#include "runtime/texts.h"
#include "runtime/values.h"

// ---- Records ---------------------------------------------------------------

struct AutomationObject {
  void* interface_pointer;  // the object's IUnknown as creation returned it; null when empty
  int32_t last_result;      // HRESULT of the last operation on this record; 0 when made
};

// The VARIANT types the runtime names (OLE Automation values).
enum VariantType : uint16_t {
  variant_empty = 0,
  variant_int16 = 2,
  variant_int32 = 3,
  variant_float32 = 4,
  variant_float64 = 5,
  variant_date = 7,
  variant_string = 8,
  variant_dispatch = 9,
  variant_error = 10,
  variant_bool = 11,
  variant_variant = 12,
  variant_unknown = 13,
  variant_int8 = 16,
  variant_byte = 17,
  variant_uint32 = 19,
  variant_int64 = 20,
  variant_array = 0x2000,
  variant_by_reference = 0x4000,
  variant_byte_array = variant_array | variant_byte,
};

struct Variant {
  uint16_t type;
  uint16_t reserved[3];
  // The value part is as wide as a VARIANT's widest member, a record (two
  // pointers): 8 bytes on 32-bit systems, 16 on 64-bit ones, where a Variant is
  // 24 bytes. The bridge never makes or reads a record; it only keeps the size.
  union {
    uint64_t value;  // numbers in their own width from the first byte; pointers likewise
    void* record[2];
  };

  template <typename T>
  T* pointer() const {
    uintptr_t address;
    std::memcpy(&address, &value, sizeof address);
    return reinterpret_cast<T*>(address);
  }
};
static_assert(sizeof(Variant) == 8 + 2 * sizeof(void*), "a Variant is one OLE VARIANT");

// HRESULTs that callers and tests look at.
constexpr int32_t result_ok = 0;
constexpr int32_t result_no_object = int32_t(0x80004003);             // E_POINTER
constexpr int32_t result_unknown_name = int32_t(0x80020006);          // DISP_E_UNKNOWNNAME
constexpr int32_t result_invalid_class_string = int32_t(0x800401F3);  // CO_E_CLASSSTRING
constexpr int32_t result_com_not_initialized = int32_t(0x800401F0);   // CO_E_NOTINITIALIZED

// ---- Commands in cell form -------------------------------------------------
//
// The object cell is tag_automation_object holding the record's address; a
// Variant cell is tag_variant holding the Variant's address. Either may instead
// be flagged (tag_by_address) and hold the address of a variable that holds
// that address. The member's arguments of call_method and get_property are the
// cells after the member name; when the last cell has tag 0 it is a filler, not
// an argument. A flagged argument cell passes the caller's variable: when the
// member takes that parameter by reference, what the member leaves there comes
// back into the variable (a Text is replaced by a new one in code page 936).

// (object, class name, optional type-library file): 1 when the record now holds
// a running object, else 0.
int32_t create_object(int32_t count, const ArgCell* cells);
// (object): drops the object; the last result becomes 0.
void release_object(int32_t count, const ArgCell* cells);
// (object, member, arguments...): the member's return value is discarded.
void call_method(int32_t count, const ArgCell* cells);
// (object, member, arguments...): a new Variant, VT_EMPTY when the call failed.
Variant* get_property(int32_t count, const ArgCell* cells);
// (object, member, arguments...): invoked as call_method invokes it, but the
// member's return value comes back as a new Variant (VT_EMPTY when the member
// returned nothing or the call failed before the member ran).
Variant* call_function(int32_t count, const ArgCell* cells);
// (object): the system's text for the last result (its line break included);
// null when the last result is 0 or has no text.
char* object_error_text(int32_t count, const ArgCell* cells);
// (Variant): releases what it holds; it holds VT_EMPTY afterwards.
void clear_variant(int32_t count, const ArgCell* cells);
// (Variant, optional 1-based element index): its bytes as a new ByteSet, or null
// when it holds no bytes. A byte array is taken whole; any other value (or the
// indexed element of another array) is converted to a byte array first.
void* variant_to_bytes(int32_t count, const ArgCell* cells);
// (Variant): the string a VT_BSTR Variant holds, as a new Text in code page
// 936; null for the empty string and for a Variant of any other type.
char* variant_to_text(int32_t count, const ArgCell* cells);

// A shallow copy of value, or of its element number index - 1 (0 when index is
// omitted or below 1) when it holds an array; false when the index lies beyond
// the array or the element cannot be reached. The copy owns nothing.
bool pick_array_element(const Variant& value, const ArgCell& index, Variant& element);

// ---- Typed front doors -----------------------------------------------------

inline ArgCell cell_object(AutomationObject* object) {
  return {reinterpret_cast<uintptr_t>(object), tag_automation_object};
}
inline ArgCell cell_variant(Variant* value) { return {reinterpret_cast<uintptr_t>(value), tag_variant}; }

// The member's arguments go after the object and the member name; with no
// argument a filler cell makes up the three cells the commands expect. The
// last argument must not be an omitted cell (it would be taken for a filler).
bool create_object(AutomationObject& object, const char* class_name, const char* type_library = nullptr);
void release_object(AutomationObject& object);
void call_method(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments = {});
Variant* get_property(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments = {});
Variant* call_function(AutomationObject& object, const char* member, std::initializer_list<ArgCell> arguments = {});
Text object_error_text(AutomationObject& object);
void clear_variant(Variant& value);
ByteSet variant_to_bytes(Variant& value, std::optional<int32_t> index = std::nullopt);
Text variant_to_text(Variant& value);

// Owns one record from the runtime heap: releases its object and frees it.
class AutomationHandle {
 public:
  AutomationHandle() : record_(static_cast<AutomationObject*>(runtime_alloc(sizeof(AutomationObject)))) {}
  ~AutomationHandle() {
    release_object(*record_);
    runtime_free(record_);
  }
  AutomationHandle(const AutomationHandle&) = delete;
  AutomationHandle& operator=(const AutomationHandle&) = delete;

  AutomationObject& operator*() const { return *record_; }
  AutomationObject* operator->() const { return record_; }
  AutomationObject* get() const { return record_; }

 private:
  AutomationObject* record_;
};

// Owns one Variant block: clears and frees it. A fresh one holds VT_I4 0.
class VariantHandle {
 public:
  VariantHandle() : value_(static_cast<Variant*>(runtime_alloc(sizeof(Variant)))) { value_->type = variant_int32; }
  static VariantHandle adopt(Variant* value) { return VariantHandle(value); }
  ~VariantHandle() { reset(); }
  VariantHandle(VariantHandle&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }
  VariantHandle& operator=(VariantHandle&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.value_;
      other.value_ = nullptr;
    }
    return *this;
  }
  VariantHandle(const VariantHandle&) = delete;
  VariantHandle& operator=(const VariantHandle&) = delete;

  Variant& operator*() const { return *value_; }
  Variant* operator->() const { return value_; }
  Variant* get() const { return value_; }

 private:
  explicit VariantHandle(Variant* value) : value_(value) {}
  void reset() {
    if (value_ == nullptr) return;
    clear_variant(*value_);
    runtime_free(value_);
    value_ = nullptr;
  }
  Variant* value_;
};

// ---- For the platform layers -------------------------------------------------

// The value a cell stands for: its own value, or the one in the caller's
// variable when the cell is flagged.
template <typename T>
T* cell_pointer(const ArgCell& cell) {
  if (cell.tag & tag_by_address) {
    T** variable = cell.address<T*>();
    return variable ? *variable : nullptr;
  }
  return cell.address<T>();
}
inline AutomationObject* object_of(const ArgCell& cell) { return cell_pointer<AutomationObject>(cell); }
inline Variant* variant_of(const ArgCell& cell) { return cell_pointer<Variant>(cell); }
inline const char* text_of(const ArgCell& cell) { return cell_pointer<const char>(cell); }

// The number of member arguments in a call_method / get_property cell list.
inline int32_t member_argument_count(int32_t count, const ArgCell* cells) {
  if (count <= 2) return 0;
  return count - 2 - (cells[count - 1].tag == tag_omitted ? 1 : 0);
}
