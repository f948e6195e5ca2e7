// The automation bridge's Windows half, over COM: IDispatch late binding, guided by the object's
// type information where it offers some. Texts cross into UTF-16 from code page
// 936 (and back) whatever the system's own code page is.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/code_page_936.h"
#include "platform/win32/wide_texts.h"
#include "runtime/automation.h"
#include "runtime/memory.h"
#include "runtime/texts.h"

static_assert(sizeof(Variant) == sizeof(VARIANT), "a Variant is one VARIANT");
static_assert(offsetof(Variant, value) == offsetof(VARIANT, llVal), "the value part of a VARIANT");

namespace {

constexpr DWORD create_contexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;  // 0x17
constexpr DWORD create_contexts_without_remote =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;  // 7

VARIANT* as_variant(Variant* value) { return reinterpret_cast<VARIANT*>(value); }

struct RuntimeFree {
  void operator()(void* block) const { runtime_free(block); }
};
using WideText = std::unique_ptr<wchar_t[], RuntimeFree>;

// A code-page-936 text as a new zero-terminated UTF-16 string; null for null.
WideText ansi_to_wide(const char* text) {
  if (text == nullptr) return nullptr;
  const std::wstring units = platform::wide_from_local(text);
  const size_t size = (units.size() + 1) * sizeof(wchar_t);
  WideText wide(static_cast<wchar_t*>(runtime_alloc_raw(size)));
  std::memcpy(wide.get(), units.c_str(), size);
  return wide;
}

// length UTF-16 units as a new Text in code page 936, up to the first zero;
// null for null or an empty result.
char* wide_to_ansi(const wchar_t* wide, int length) {
  if (wide == nullptr || length <= 0) return nullptr;
  const std::string local = platform::local_from_wide(std::wstring_view(wide, static_cast<size_t>(length)));
  return copy_text_bytes(local.c_str(), static_cast<int32_t>(std::strlen(local.c_str())));
}

void release_held(AutomationObject& object) {
  if (object.interface_pointer) static_cast<IUnknown*>(object.interface_pointer)->Release();
  object.interface_pointer = nullptr;
}

// Makes an instance through a type library: the class is looked up by name in
// the library and made by its type information; a library given by a full path
// is registered once an instance exists.
IUnknown* create_from_type_library(const char* file, wchar_t* class_name) {
  WideText wide_file = ansi_to_wide(file);
  if (!wide_file) return nullptr;
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLib(wide_file.get(), &library))) return nullptr;
  IUnknown* instance = nullptr;
  const ULONG hash = LHashValOfNameSys(SYS_WIN32, GetUserDefaultLCID(), class_name);
  ITypeInfo* info = nullptr;
  MEMBERID member = 0;
  USHORT found = 1;
  if (SUCCEEDED(library->FindName(class_name, hash, &info, &member, &found)) && found == 1) {
    if (SUCCEEDED(info->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&instance))) &&
        std::strchr(file, '\\') != nullptr)
      RegisterTypeLib(library, wide_file.get(), nullptr);
    info->Release();
  }
  library->Release();
  return instance;
}

// The member id of name; the HRESULT of the look-up.
HRESULT lookup_member_id(IDispatch* dispatch, const char* name, DISPID& id) {
  WideText wide = ansi_to_wide(name);
  if (!wide) return DISP_E_UNKNOWNNAME;
  LPOLESTR names[] = {wide.get()};
  return dispatch->GetIDsOfNames(IID_NULL, names, 1, GetUserDefaultLCID(), &id);
}

// What the type information says about a member: which parameters it takes by
// reference and how it is really invoked. Without type information every
// argument goes by value and the kind stays as asked.
void describe_member(IDispatch* dispatch, DISPID id, int32_t argument_count, WORD& kind,
                     std::vector<char>& by_reference) {
  ITypeInfo* info = nullptr;
  if (FAILED(dispatch->GetTypeInfo(0, 0, &info)) || info == nullptr) return;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) {
    info->Release();
    return;
  }
  auto is_reference = [](VARTYPE type) { return type == VT_PTR || (type & VT_BYREF) != 0; };
  bool matched = false;
  if (kind == DISPATCH_METHOD) {
    for (UINT i = 0; i < attributes->cFuncs && !matched; ++i) {
      FUNCDESC* function = nullptr;
      if (FAILED(info->GetFuncDesc(i, &function))) continue;
      if (function->memid == id) {
        matched = true;
        const int32_t shared = argument_count < function->cParams ? argument_count : function->cParams;
        for (int32_t p = 0; p < shared; ++p)
          if (is_reference(function->lprgelemdescParam[p].tdesc.vt)) by_reference[p] = 1;
        kind = static_cast<WORD>(function->invkind);
        // A property put with nothing to put can only mean reading the property.
        if ((kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && argument_count == 0)
          kind = DISPATCH_PROPERTYGET;
      }
      info->ReleaseFuncDesc(function);
    }
  }
  for (UINT i = 0; i < attributes->cVars && !matched; ++i) {
    VARDESC* variable = nullptr;
    if (FAILED(info->GetVarDesc(i, &variable))) continue;
    if (variable->memid == id) {
      matched = true;
      if (is_reference(variable->elemdescVar.tdesc.vt) && argument_count > 0) by_reference[0] = 1;
      if (kind == DISPATCH_METHOD) kind = DISPATCH_PROPERTYGET;
    }
    info->ReleaseVarDesc(variable);
  }
  info->ReleaseTypeAttr(attributes);
  info->Release();
}

// One argument slot and what must happen to it after the call.
struct Slot {
  enum class After { nothing, clear, copy_back_text, copy_back_bool };
  After after = After::nothing;
  BSTR string = nullptr;           // the string a by-reference text slot points at
  VARIANT_BOOL boolean = 0;        // the 16-bit value a by-reference Boolean slot points at
  char** text_variable = nullptr;  // the caller's Text variable
  int32_t* bool_variable = nullptr;
};

BSTR make_string(const char* text) {
  WideText wide = ansi_to_wide(text);
  return wide ? SysAllocString(wide.get()) : nullptr;
}

// A one-dimensional byte array (lower bound 0) holding a copy of a byte set.
SAFEARRAY* make_byte_array(const void* byte_set, bool null_when_empty) {
  const int32_t size = byte_set_count(byte_set);
  if (size == 0 && null_when_empty) return nullptr;
  SAFEARRAYBOUND bound = {static_cast<ULONG>(size), 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  if (array && size > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::memcpy(data, byte_set_bytes(byte_set), static_cast<size_t>(size));
    SafeArrayUnaccessData(array);
  }
  return array;
}

// The VARIANT type and width of the tags whose values are plain numbers.
struct ScalarType {
  uint32_t tag;
  VARTYPE type;
  size_t width;
};
constexpr ScalarType scalar_types[] = {
    {tag_date_time, VT_DATE, 8}, {tag_float64, VT_R8, 8}, {tag_int64, VT_I8, 8},   {tag_int32, VT_I4, 4},
    {tag_int16, VT_I2, 2},       {tag_byte, VT_UI1, 1},   {tag_float32, VT_R4, 4}, {tag_subroutine, VT_UI4, 4},
};

// Fills one VARIANT slot from one argument cell.
void convert_argument(const ArgCell& cell, bool by_reference, WORD& kind, VARIANT& slot, Slot& state) {
  const bool flagged = (cell.tag & tag_by_address) != 0;
  const uint32_t type = cell.tag & ~uint32_t(tag_by_address);
  void* variable = cell.address<void>();
  const void* value = flagged ? variable : static_cast<const void*>(&cell.value);
  for (const ScalarType& scalar : scalar_types) {
    if (scalar.tag != type) continue;
    if (flagged && by_reference) {
      slot.vt = VT_BYREF | scalar.type;
      slot.byref = variable;
    } else {
      slot.vt = scalar.type;
      std::memcpy(&slot.llVal, value, scalar.width);
    }
    return;
  }
  switch (type) {
    case tag_boolean: {
      int32_t truth = 0;
      std::memcpy(&truth, value, sizeof truth);
      if (flagged && by_reference) {
        // The member sees a 16-bit VARIANT_BOOL; the 32-bit variable receives
        // its outcome after the call, as -1 or 0.
        state.bool_variable = static_cast<int32_t*>(variable);
        state.boolean = truth ? VARIANT_TRUE : VARIANT_FALSE;
        slot.vt = VT_BYREF | VT_BOOL;
        slot.pboolVal = &state.boolean;
        state.after = Slot::After::copy_back_bool;
      } else {
        slot.vt = VT_BOOL;
        slot.boolVal = truth ? VARIANT_TRUE : VARIANT_FALSE;
      }
      break;
    }
    case tag_text:
      if (flagged && by_reference) {
        state.text_variable = static_cast<char**>(variable);
        state.string = make_string(*state.text_variable);
        slot.vt = VT_BYREF | VT_BSTR;
        slot.pbstrVal = &state.string;
        state.after = Slot::After::copy_back_text;
      } else {
        slot.vt = VT_BSTR;
        slot.bstrVal = make_string(text_of(cell));
        state.after = Slot::After::clear;
      }
      break;
    case tag_byte_set:
      slot.vt = VT_ARRAY | VT_UI1;
      slot.parray = make_byte_array(cell_pointer<void>(cell), flagged);
      state.after = Slot::After::clear;
      break;
    case tag_automation_object: {
      AutomationObject* record = object_of(cell);
      if (record == nullptr) break;
      if (by_reference) {
        slot.vt = VT_BYREF | VT_DISPATCH;
        slot.ppdispVal = reinterpret_cast<IDispatch**>(&record->interface_pointer);
        if (kind == DISPATCH_PROPERTYPUT) kind = DISPATCH_PROPERTYPUTREF;
      } else {
        slot.vt = VT_DISPATCH;
        slot.pdispVal = static_cast<IDispatch*>(record->interface_pointer);
      }
      break;
    }
    case tag_variant: {
      Variant* source = variant_of(cell);
      if (source == nullptr) break;
      if (flagged || by_reference) {
        slot.vt = VT_BYREF | VT_VARIANT;
        slot.pvarVal = as_variant(source);
      } else if (SUCCEEDED(VariantCopy(&slot, as_variant(source)))) {
        state.after = Slot::After::clear;
      }
      break;
    }
    default: break;  // VT_EMPTY
  }
}

// Invokes member id with the argument cells, in the kind the type information
// gives; the HRESULT of Invoke.
HRESULT invoke_member(IDispatch* dispatch, DISPID id, WORD kind, const ArgCell* arguments, int32_t count,
                      VARIANT* result) {
  std::vector<char> by_reference(static_cast<size_t>(count), 0);
  describe_member(dispatch, id, count, kind, by_reference);

  // The first argument goes into the last slot, as IDispatch expects.
  std::vector<VARIANT> slots(static_cast<size_t>(count));
  std::vector<Slot> states(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    VARIANT& slot = slots[static_cast<size_t>(count - 1 - i)];
    std::memset(&slot, 0, sizeof slot);
    convert_argument(arguments[i], by_reference[static_cast<size_t>(i)] != 0, kind, slot,
                     states[static_cast<size_t>(i)]);
  }

  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS parameters = {slots.data(), nullptr, static_cast<UINT>(count), 0};
  if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    parameters.rgdispidNamedArgs = &put_id;
    parameters.cNamedArgs = 1;
  }
  UINT argument_error = static_cast<UINT>(-1);
  const HRESULT result_code = dispatch->Invoke(id, IID_NULL, 0, kind, &parameters, result, nullptr, &argument_error);

  for (int32_t i = 0; i < count; ++i) {
    VARIANT& slot = slots[static_cast<size_t>(count - 1 - i)];
    Slot& state = states[static_cast<size_t>(i)];
    switch (state.after) {
      case Slot::After::clear: VariantClear(&slot); break;
      case Slot::After::copy_back_text: {
        char* text = state.string ? wide_to_ansi(state.string, static_cast<int>(SysStringLen(state.string))) : nullptr;
        runtime_free(*state.text_variable);
        *state.text_variable = text;
        SysFreeString(state.string);
        break;
      }
      case Slot::After::copy_back_bool: *state.bool_variable = state.boolean ? -1 : 0; break;
      case Slot::After::nothing: break;
    }
  }
  return result_code;
}

// call_method and get_property: the member is looked up by name and invoked.
void call_member(int32_t count, const ArgCell* cells, WORD kind, VARIANT* result) {
  if (count < 2) return;
  AutomationObject* object = object_of(cells[0]);
  if (object == nullptr) return;
  if (object->interface_pointer == nullptr) {
    object->last_result = E_POINTER;
    return;
  }
  IDispatch* dispatch = nullptr;
  object->last_result = static_cast<IUnknown*>(object->interface_pointer)
                            ->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (FAILED(object->last_result)) return;
  DISPID id = 0;
  object->last_result = lookup_member_id(dispatch, text_of(cells[1]), id);
  if (SUCCEEDED(object->last_result))
    object->last_result = invoke_member(dispatch, id, kind, cells + 2, member_argument_count(count, cells), result);
  dispatch->Release();
}

// The number of elements of an array over all its dimensions; false when it
// cannot be read or does not fit in 32 bits.
bool count_elements(SAFEARRAY* array, int32_t& count) {
  count = 0;
  if (array == nullptr) return true;
  const UINT dimensions = SafeArrayGetDim(array);
  if (dimensions == 0) return true;
  int64_t total = 1;
  for (UINT d = 1; d <= dimensions; ++d) {
    LONG lower = 0, upper = 0;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) || FAILED(SafeArrayGetUBound(array, d, &upper))) return false;
    const int64_t size = int64_t(upper) - lower + 1;
    total *= size > 0 ? size : 0;
    if (total > INT32_MAX) return false;
  }
  count = static_cast<int32_t>(total);
  return true;
}

}  // namespace

int32_t create_object(int32_t count, const ArgCell* cells) {
  if (count < 2) return 0;
  AutomationObject* object = object_of(cells[0]);
  if (object == nullptr) return 0;
  release_held(*object);
  WideText name = ansi_to_wide(text_of(cells[1]));
  if (!name) {
    object->last_result = 0;
    return 0;
  }
  IUnknown* instance = nullptr;
  if (count >= 3 && cells[2].given() && text_of(cells[2]) != nullptr)
    instance = create_from_type_library(text_of(cells[2]), name.get());
  if (instance == nullptr) {
    CLSID class_id;
    HRESULT result = CLSIDFromProgID(name.get(), &class_id);
    if (FAILED(result)) result = CLSIDFromString(name.get(), &class_id);
    object->last_result = result;
    if (FAILED(result)) return 0;
    result = CoCreateInstance(class_id, nullptr, create_contexts, IID_IUnknown, reinterpret_cast<void**>(&instance));
    if (result == E_INVALIDARG)
      result = CoCreateInstance(class_id, nullptr, create_contexts_without_remote, IID_IUnknown,
                                reinterpret_cast<void**>(&instance));
    if (FAILED(result)) {
      object->last_result = result;
      return 0;
    }
  }
  object->last_result = OleRun(instance);
  if (FAILED(object->last_result)) {
    instance->Release();
    return 0;
  }
  object->interface_pointer = instance;
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
  VARIANT result;
  VariantInit(&result);
  call_member(count, cells, DISPATCH_METHOD, &result);
  if (result.vt != VT_EMPTY) VariantClear(&result);
}

Variant* get_property(int32_t count, const ArgCell* cells) {
  auto* result = static_cast<Variant*>(runtime_alloc(sizeof(Variant)));
  call_member(count, cells, DISPATCH_PROPERTYGET, as_variant(result));
  return result;
}

Variant* call_function(int32_t count, const ArgCell* cells) {
  auto* result = static_cast<Variant*>(runtime_alloc(sizeof(Variant)));
  call_member(count, cells, DISPATCH_METHOD, as_variant(result));
  return result;
}

char* object_error_text(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  const AutomationObject* object = object_of(cells[0]);
  if (object == nullptr || object->last_result == 0) return nullptr;
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(object->last_result), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  char* text = length > 0 ? wide_to_ansi(message, static_cast<int>(length)) : nullptr;
  if (message) LocalFree(message);
  return text;
}

void clear_variant(int32_t count, const ArgCell* cells) {
  if (count < 1) return;
  Variant* value = variant_of(cells[0]);
  if (value == nullptr) return;
  VariantClear(as_variant(value));
  VariantInit(as_variant(value));
}

bool pick_array_element(const Variant& value, const ArgCell& index, Variant& element) {
  element = value;
  if (!(value.type & VT_ARRAY)) return true;
  const VARIANT& source = reinterpret_cast<const VARIANT&>(value);
  SAFEARRAY* array = (value.type & VT_BYREF) ? (source.pparray ? *source.pparray : nullptr) : source.parray;
  if (array == nullptr) return false;
  int32_t count = 0;
  if (!count_elements(array, count) || count == 0) return false;
  const int32_t given = index.given() ? index.low() : 0;
  if (given > count) return false;
  const int32_t number = given > 0 ? given - 1 : 0;

  const VARTYPE element_type = value.type & VT_TYPEMASK;
  const UINT element_size = SafeArrayGetElemsize(array);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return false;
  const auto* address = static_cast<const unsigned char*>(data) + size_t(element_size) * size_t(number);
  bool picked = true;
  VARIANT& picked_value = reinterpret_cast<VARIANT&>(element);
  if (element_type == VT_VARIANT) {
    const auto* inner = reinterpret_cast<const VARIANT*>(address);
    if (inner->vt == (VT_BYREF | VT_VARIANT) && inner->pvarVal) inner = inner->pvarVal;
    std::memcpy(&picked_value, inner, sizeof(VARIANT));
  } else if (element_type == VT_DECIMAL) {
    // A DECIMAL fills the whole VARIANT; its first word is where the type goes.
    std::memcpy(&picked_value, address, sizeof(DECIMAL));
    picked_value.vt = VT_DECIMAL;
  } else if (element_size <= sizeof(element.value)) {
    element.value = 0;
    std::memcpy(&element.value, address, element_size);
    element.type = element_type;
  } else {
    picked = false;
  }
  SafeArrayUnaccessData(array);
  return picked;
}

void* variant_to_bytes(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  Variant* value = variant_of(cells[0]);
  if (value == nullptr) return nullptr;
  VARIANT converted;
  VariantInit(&converted);
  SAFEARRAY* array = nullptr;
  if (value->type == (VT_ARRAY | VT_UI1) || value->type == (VT_ARRAY | VT_I1)) {
    array = as_variant(value)->parray;
  } else {
    Variant element;
    const ArgCell index = count >= 2 ? cells[1] : cell_omitted();
    if (!pick_array_element(*value, index, element)) return nullptr;
    if (FAILED(VariantChangeType(&converted, as_variant(&element), 0, VT_ARRAY | VT_UI1))) return nullptr;
    array = converted.parray;
  }
  void* bytes = nullptr;
  int32_t size = 0;
  void* data = nullptr;
  if (count_elements(array, size) && size > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    bytes = make_byte_set(data, size);
    SafeArrayUnaccessData(array);
  }
  VariantClear(&converted);
  return bytes;
}

char* variant_to_text(int32_t count, const ArgCell* cells) {
  if (count < 1) return nullptr;
  Variant* value = variant_of(cells[0]);
  if (value == nullptr || value->type != VT_BSTR) return nullptr;
  const BSTR string = as_variant(value)->bstrVal;
  return string ? wide_to_ansi(string, static_cast<int>(SysStringLen(string))) : nullptr;
}
