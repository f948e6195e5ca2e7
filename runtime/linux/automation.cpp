// The automation bridge's Linux half, over the platform's automation layer
// (platform/linux/automation_layer.h): the same commands, failure codes and
// texts as over COM. The layer's members take every argument by value, so a
// flagged cell passes its variable's value and nothing is copied back; the
// strings and byte arrays they give back become runtime values here.
#include <strings.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "platform/code_page_936.h"
#include "platform/linux/automation_layer.h"
#include "runtime/automation.h"
#include "runtime/memory.h"
#include "runtime/texts.h"

namespace {

struct AutomationClass {
  const char* prog_id;
  const char* class_id;
  platform::AutomationInstance* (*create)();
};

// The class ids are those the same classes have on Windows.
constexpr AutomationClass automation_classes[] = {
    {"MSXML2.XMLHTTP", "{F6D90F16-9C73-11D3-B32E-00C04F990BB4}", platform::create_xml_http_request},
    {"Microsoft.XMLHTTP", "{ED8C108E-4349-11D2-91A4-00C04F7969E8}", platform::create_xml_http_request},
    {"WinHttp.WinHttpRequest.5.1", "{2087C2F4-2CEF-4953-A8AB-66779B670495}", platform::create_win_http_request},
};

struct FailureText {
  int32_t code;
  const char* text;
};

// The system's texts for the codes the layer reports, in code page 936.
constexpr FailureText failure_texts[] = {
    {int32_t(0x80004001), "\xce\xb4\xca\xb5\xcf\xd6\r\n"},                          // 未实现
    {int32_t(0x80004003), "\xce\xde\xd0\xa7\xd6\xb8\xd5\xeb\r\n"},                  // 无效指针
    {int32_t(0x80004005), "\xce\xb4\xd6\xb8\xb6\xa8\xb5\xc4\xb4\xed\xce\xf3\r\n"},  // 未指定的错误
    // 完成该操作所需的数据还不可使用。
    {int32_t(0x8000000A),
     "\xcd\xea\xb3\xc9\xb8\xc3\xb2\xd9\xd7\xf7\xcb\xf9\xd0\xe8\xb5\xc4\xca\xfd\xbe\xdd\xbb\xb9\xb2\xbb\xbf\xc9\xca\xb9"
     "\xd3\xc3\xa1\xa3\r\n"},
    {int32_t(0x80020003), "\xd5\xd2\xb2\xbb\xb5\xbd\xb3\xc9\xd4\xb1\xa1\xa3\r\n"},  // 找不到成员。
    {int32_t(0x80020005), "\xc0\xe0\xd0\xcd\xb2\xbb\xc6\xa5\xc5\xe4\xa1\xa3\r\n"},  // 类型不匹配。
    {int32_t(0x80020006), "\xce\xb4\xd6\xaa\xc3\xfb\xb3\xc6\xa1\xa3\r\n"},          // 未知名称。
    {int32_t(0x8002000E), "\xce\xde\xd0\xa7\xb5\xc4\xb2\xce\xca\xfd\xca\xfd\xc4\xbf\xa1\xa3\r\n"},  // 无效的参数数目。
    {int32_t(0x80040154), "\xc3\xbb\xd3\xd0\xd7\xa2\xb2\xe1\xc0\xe0\r\n"},                          // 没有注册类
    {int32_t(0x800401F0), "\xc9\xd0\xce\xb4\xb5\xf7\xd3\xc3 CoInitialize\xa1\xa3\r\n"},  // 尚未调用 CoInitialize。
    {int32_t(0x800401F3), "\xce\xde\xd0\xa7\xb5\xc4\xc0\xe0\xd7\xd6\xb7\xfb\xb4\xae\r\n"},  // 无效的类字符串
    {int32_t(0x80070057), "\xb2\xce\xca\xfd\xb4\xed\xce\xf3\xa1\xa3\r\n"},                  // 参数错误。
    // 文件大小超出允许的限制，无法保存。
    {int32_t(0x800700DF),
     "\xce\xc4\xbc\xfe\xb4\xf3\xd0\xa1\xb3\xac\xb3\xf6\xd4\xca\xd0\xed\xb5\xc4\xcf\xde\xd6\xc6\xa3\xac\xce\xde\xb7\xa8"
     "\xb1\xa3\xb4\xe6\xa1\xa3\r\n"},
    {int32_t(0x80072EE2), "\xb2\xd9\xd7\xf7\xb3\xac\xca\xb1\r\n"},                       // 操作超时
    {int32_t(0x80072EE5), "URL \xce\xde\xd0\xa7\r\n"},                                   // URL 无效
    {int32_t(0x80072EE6), "\xce\xde\xb7\xa8\xca\xb6\xb1\xf0 URL \xb7\xbd\xb0\xb8\r\n"},  // 无法识别 URL 方案
    // 无法解析服务器的名称或地址
    {int32_t(0x80072EE7),
     "\xce\xde\xb7\xa8\xbd\xe2\xce\xf6\xb7\xfe\xce\xf1\xc6\xf7\xb5\xc4\xc3\xfb\xb3\xc6\xbb\xf2\xb5\xd8\xd6\xb7\r\n"},
    // 无法与服务器建立连接
    {int32_t(0x80072EFD), "\xce\xde\xb7\xa8\xd3\xeb\xb7\xfe\xce\xf1\xc6\xf7\xbd\xa8\xc1\xa2\xc1\xac\xbd\xd3\r\n"},
    // 与服务器的连接意外终止
    {int32_t(0x80072EFE),
     "\xd3\xeb\xb7\xfe\xce\xf1\xc6\xf7\xb5\xc4\xc1\xac\xbd\xd3\xd2\xe2\xcd\xe2\xd6\xd5\xd6\xb9\r\n"},
    // 在调用 Open 方法之前不能调用此方法
    {int32_t(0x80072F44),
     "\xd4\xda\xb5\xf7\xd3\xc3 Open \xb7\xbd\xb7\xa8\xd6\xae\xc7\xb0\xb2\xbb\xc4\xdc\xb5\xf7\xd3\xc3\xb4\xcb\xb7\xbd"
     "\xb7\xa8\r\n"},
    // 在调用 Send 方法之前不能调用此方法
    {int32_t(0x80072F45),
     "\xd4\xda\xb5\xf7\xd3\xc3 Send \xb7\xbd\xb7\xa8\xd6\xae\xc7\xb0\xb2\xbb\xc4\xdc\xb5\xf7\xd3\xc3\xb4\xcb\xb7\xbd"
     "\xb7\xa8\r\n"},
    {int32_t(0x80072F76), "\xd5\xd2\xb2\xbb\xb5\xbd\xc7\xeb\xc7\xf3\xb5\xc4\xb1\xea\xcd\xb7\r\n"},  // 找不到请求的标头
    // 服务器返回了无效或无法识别的响应
    {int32_t(0x80072F78),
     "\xb7\xfe\xce\xf1\xc6\xf7\xb7\xb5\xbb\xd8\xc1\xcb\xce\xde\xd0\xa7\xbb\xf2\xce\xde\xb7\xa8\xca\xb6\xb1\xf0\xb5\xc4"
     "\xcf\xec\xd3\xa6\r\n"},
    {int32_t(0x80072F7C), "\xd6\xd8\xb6\xa8\xcf\xf2\xca\xa7\xb0\xdc\r\n"},                  // 重定向失败
    {int32_t(0x80072F8F), "\xb7\xa2\xc9\xfa\xc1\xcb\xb0\xb2\xc8\xab\xb4\xed\xce\xf3\r\n"},  // 发生了安全错误
};

constexpr int32_t class_not_registered = int32_t(0x80040154);  // REGDB_E_CLASSNOTREG

// True for a class id in braces: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool is_class_id(const char* name) {
  static constexpr char pattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  for (size_t i = 0; i + 1 < sizeof pattern; ++i) {
    const char c = name[i];
    if (c == 0) return false;
    if (pattern[i] != 'X' ? c != pattern[i] : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return name[sizeof pattern - 1] == 0;
}

platform::AutomationInstance* instance_of(const AutomationObject& object) {
  return static_cast<platform::AutomationInstance*>(object.interface_pointer);
}

void release_held(AutomationObject& object) {
  delete instance_of(object);
  object.interface_pointer = nullptr;
}

// The byte set block a byte-array Variant points at (directly or by reference).
void* array_block(const Variant& value) {
  if (value.type & variant_by_reference) {
    void** reference = value.pointer<void*>();
    return reference ? *reference : nullptr;
  }
  return value.pointer<void>();
}

void set_pointer(Variant& value, uint16_t type, const void* pointer) {
  value.type = type;
  value.value = reinterpret_cast<uintptr_t>(pointer);
}

// A deep copy: the copy owns its own text or byte array.
void copy_variant(const Variant& source, Variant& copy) {
  copy = source;
  if (source.type == variant_string) {
    set_pointer(copy, variant_string, copy_text_bytes(source.pointer<char>(), text_length(source.pointer<char>())));
  } else if ((source.type & variant_array) && !(source.type & variant_by_reference)) {
    const void* block = source.pointer<void>();
    set_pointer(copy, source.type, make_byte_set(block ? byte_set_bytes(block) : nullptr, byte_set_count(block)));
  }
}

// One argument cell as a Variant the member receives by value.
Variant argument_of(const ArgCell& cell) {
  const bool flagged = (cell.tag & tag_by_address) != 0;
  const uint32_t type = cell.tag & ~uint32_t(tag_by_address);
  Variant value{};
  auto read = [&](uint16_t variant_type, size_t width) {
    value.type = variant_type;
    std::memcpy(&value.value, flagged ? cell.address<void>() : static_cast<const void*>(&cell.value), width);
  };
  switch (type) {
    case tag_boolean: {
      int32_t truth = 0;
      std::memcpy(&truth, flagged ? cell.address<void>() : static_cast<const void*>(&cell.value), sizeof truth);
      value.type = variant_bool;
      value.value = truth ? 0xFFFF : 0;
      break;
    }
    case tag_date_time: read(variant_date, 8); break;
    case tag_float64: read(variant_float64, 8); break;
    case tag_int64: read(variant_int64, 8); break;
    case tag_int32: read(variant_int32, 4); break;
    case tag_int16: read(variant_int16, 2); break;
    case tag_byte: read(variant_byte, 1); break;
    case tag_float32: read(variant_float32, 4); break;
    case tag_subroutine: read(variant_uint32, 4); break;
    case tag_text: {
      const char* text = text_of(cell);
      set_pointer(value, variant_string, copy_text_bytes(text, text_length(text)));
      break;
    }
    case tag_byte_set: {
      const void* block = cell_pointer<void>(cell);
      set_pointer(value, variant_byte_array,
                  make_byte_set(block ? byte_set_bytes(block) : nullptr, byte_set_count(block)));
      break;
    }
    case tag_automation_object: {
      const AutomationObject* record = object_of(cell);
      if (record) set_pointer(value, variant_dispatch, record->interface_pointer);
      break;
    }
    case tag_variant: {
      const Variant* source = variant_of(cell);
      if (source) copy_variant(*source, value);
      break;
    }
    default: break;
  }
  return value;
}

void clear(Variant& value) {
  if (value.type == variant_string || ((value.type & variant_array) && !(value.type & variant_by_reference)))
    runtime_free(value.pointer<void>());
  value = Variant{};
}

// call_method and get_property: the member is found by name, its real kind
// decides how it runs, and the arguments go by value.
void call_member(int32_t count, const ArgCell* cells, platform::MemberKind kind, Variant& result) {
  if (count < 2) return;
  AutomationObject* object = object_of(cells[0]);
  if (object == nullptr) return;
  platform::AutomationInstance* instance = instance_of(*object);
  if (instance == nullptr) {
    object->last_result = result_no_object;
    return;
  }
  const char* name = text_of(cells[1]);
  const std::span<const platform::MemberInfo> members = instance->members();
  int32_t id = -1;
  for (size_t i = 0; name && i < members.size() && id < 0; ++i)
    if (strcasecmp(members[i].name, name) == 0) id = static_cast<int32_t>(i);
  if (id < 0) {
    object->last_result = result_unknown_name;
    return;
  }
  // A property may be read as a method call, as the type information of a COM
  // class directs; a method is not a property.
  if (kind == platform::member_property_get && members[static_cast<size_t>(id)].kind == platform::member_method) {
    object->last_result = platform::failure::member_not_found;
    return;
  }
  const int32_t argument_count = member_argument_count(count, cells);
  std::vector<Variant> arguments(static_cast<size_t>(argument_count));
  for (int32_t i = 0; i < argument_count; ++i) arguments[static_cast<size_t>(i)] = argument_of(cells[2 + i]);
  object->last_result = instance->invoke(id, arguments.data(), argument_count, result);
  // The layer's strings and byte arrays become runtime values, freed by clear.
  if (result.type == variant_string || result.type == variant_byte_array)
    result.value = reinterpret_cast<uintptr_t>(runtime_adopt(result.pointer<void>()));
  for (Variant& argument : arguments) clear(argument);
}

}  // namespace

int32_t create_object(int32_t count, const ArgCell* cells) {
  if (count < 2) return 0;
  AutomationObject* object = object_of(cells[0]);
  if (object == nullptr) return 0;
  release_held(*object);
  const char* name = text_of(cells[1]);
  if (name == nullptr) {
    object->last_result = 0;
    return 0;
  }
  // A type library names no class here: the name is looked up directly.
  const AutomationClass* found = nullptr;
  for (const AutomationClass& candidate : automation_classes)
    if (strcasecmp(candidate.prog_id, name) == 0 || strcasecmp(candidate.class_id, name) == 0) found = &candidate;
  if (found == nullptr) {
    object->last_result = is_class_id(name) ? class_not_registered : result_invalid_class_string;
    return 0;
  }
  if (!platform::com_initialized_on_this_thread()) {
    object->last_result = result_com_not_initialized;
    return 0;
  }
  object->interface_pointer = found->create();
  object->last_result = 0;
  return 1;
}

void release_object(int32_t count, const ArgCell* cells) {
  if (count < 1) return;
  AutomationObject* object = object_of(cells[0]);
  if (object == nullptr) return;
  release_held(*object);
  object->last_result = 0;
}

void call_method(int32_t count, const ArgCell* cells) {
  Variant result{};
  call_member(count, cells, platform::member_method, result);
  clear(result);
}

Variant* get_property(int32_t count, const ArgCell* cells) {
  auto* result = static_cast<Variant*>(runtime_alloc(sizeof(Variant)));
  call_member(count, cells, platform::member_property_get, *result);
  return result;
}

Variant* call_function(int32_t count, const ArgCell* cells) {
  auto* result = static_cast<Variant*>(runtime_alloc(sizeof(Variant)));
  call_member(count, cells, platform::member_method, *result);
  return result;
}

char* object_error_text(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  const AutomationObject* object = object_of(cells[0]);
  if (object == nullptr || object->last_result == 0) return nullptr;
  for (const FailureText& entry : failure_texts)
    if (entry.code == object->last_result) return copy_text_bytes(entry.text, text_length(entry.text));
  return nullptr;
}

void clear_variant(int32_t count, const ArgCell* cells) {
  if (count < 1) return;
  Variant* value = variant_of(cells[0]);
  if (value) clear(*value);
}

bool pick_array_element(const Variant& value, const ArgCell& index, Variant& element) {
  element = value;
  if (!(value.type & variant_array)) return true;
  // The layer's only arrays are arrays of bytes.
  const uint16_t element_type = value.type & ~uint16_t(variant_array | variant_by_reference);
  if (element_type != variant_byte && element_type != variant_int8) return false;
  const void* block = array_block(value);
  const int32_t size = byte_set_count(block);
  const int32_t given = index.given() ? index.low() : 0;
  if (size == 0 || given > size) return false;
  element.type = element_type;
  element.value = byte_set_bytes(block)[given > 0 ? given - 1 : 0];
  return true;
}

void* variant_to_bytes(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  const Variant* value = variant_of(cells[0]);
  if (value == nullptr) return nullptr;
  // Only byte arrays hold bytes: no other value converts to one here.
  if (value->type != variant_byte_array && value->type != (variant_array | variant_int8)) return nullptr;
  const void* block = value->pointer<void>();
  const int32_t size = byte_set_count(block);
  return size > 0 ? make_byte_set(byte_set_bytes(block), size) : nullptr;
}

char* variant_to_text(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  const Variant* value = variant_of(cells[0]);
  if (value == nullptr || value->type != variant_string) return nullptr;
  const char* text = value->pointer<const char>();
  return copy_text_bytes(text, text_length(text));
}
