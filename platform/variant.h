// The value that automation members take and give: an OLE VARIANT (a 16-bit
// type, three reserved words, then the value), and the types the program
// names. The runtime's automation bridge (runtime/automation.h) keeps
// its values in it on both systems; on Windows it is the system's own VARIANT,
// on Linux the platform's automation layer (platform/linux/automation_layer.h)
// speaks it. What a Variant's pointer holds, and who frees it, is up to the
// side that made it; those headers say so.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform {

// The VARIANT types the program names (OLE Automation values).
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

}  // namespace platform
