// The automation bridge over real COM, against automation objects of the tests'
// own: one described by type information (members taking parameters by
// reference, a property), one without any (it records how it was called), and
// the same class made through a type library that the test writes.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/automation.h"

namespace {

// The recorder's class, and the test library: {5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B01}, ...03
const CLSID recorder_class = {0x5b7c2e10, 0x4a1d, 0x4f6b, {0x9e, 0x21, 0x7c, 0x3d, 0x8a, 0x0f, 0x1b, 0x01}};
const GUID test_library = {0x5b7c2e10, 0x4a1d, 0x4f6b, {0x9e, 0x21, 0x7c, 0x3d, 0x8a, 0x0f, 0x1b, 0x03}};
constexpr const char* recorder_class_id = "{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B01}";
constexpr const char* typed_class_id = "{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B02}";

std::wstring wide_of(const char* local) {
  wchar_t buffer[512];
  const int n = MultiByteToWideChar(936, 0, local, -1, buffer, 512);
  return std::wstring(buffer, n > 0 ? n - 1 : 0);
}

// ---- An object without type information ---------------------------------------

struct Recording {
  WORD kind = 0;
  UINT named = 0;
  std::vector<VARIANT> arguments;  // as Invoke got them (slot 0 = last argument)
  void clear() {
    for (VARIANT& v : arguments) VariantClear(&v);
    arguments.clear();
  }
};
Recording g_recording;

int g_live_recorders = 0;

// The IUnknown part of the tests' dispatch objects. It adds no virtual member of
// its own, so a derived class's own members keep their vtable slots after the
// seven of IDispatch; the last Release deletes the object as the Derived it is.
template <typename Derived>
class CountedDispatch : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (id == IID_IUnknown || id == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  ULONG references_ = 1;
};

class Recorder : public CountedDispatch<Recorder> {
 public:
  Recorder() { ++g_live_recorders; }
  virtual ~Recorder() { --g_live_recorders; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count == 1 && _wcsicmp(names[0], L"Record") == 0) {
      ids[0] = 1;
      return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD kind, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    g_recording.clear();
    g_recording.kind = kind;
    g_recording.named = parameters->cNamedArgs;
    for (UINT i = 0; i < parameters->cArgs; ++i) {
      VARIANT copy;
      VariantInit(&copy);
      VariantCopy(&copy, &parameters->rgvarg[i]);
      g_recording.arguments.push_back(copy);
    }
    if (result) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(L"\u7ed3\u679c");  // 结果
    }
    return S_OK;
  }
};

// A recorder that refuses to run (OleRun asks IRunnableObject::Run).
class Unrunnable final : public Recorder, public IRunnableObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (id == IID_IRunnableObject) {
      *out = static_cast<IRunnableObject*>(this);
      AddRef();
      return S_OK;
    }
    return CountedDispatch::QueryInterface(id, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountedDispatch::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountedDispatch::Release(); }
  HRESULT STDMETHODCALLTYPE GetRunningClass(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override { return E_ACCESSDENIED; }
  BOOL STDMETHODCALLTYPE IsRunning() override { return FALSE; }
  HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }
};

// ---- An object with type information --------------------------------------------

// Members after the IDispatch slots, described for DispInvoke by CreateDispTypeInfo.
class Typed final : public CountedDispatch<Typed> {
 public:
  Typed() {
    static PARAMDATA text_reference[] = {{const_cast<wchar_t*>(L"name"), VT_BSTR | VT_BYREF}};
    static PARAMDATA bool_reference[] = {{const_cast<wchar_t*>(L"flag"), VT_BOOL | VT_BYREF}};
    static PARAMDATA long_reference[] = {{const_cast<wchar_t*>(L"number"), VT_I4 | VT_BYREF}};
    static PARAMDATA long_value[] = {{const_cast<wchar_t*>(L"value"), VT_I4}};
    static METHODDATA methods[] = {
        {const_cast<wchar_t*>(L"Rename"), text_reference, 1, 7, CC_STDCALL, 1, DISPATCH_METHOD, VT_EMPTY},
        {const_cast<wchar_t*>(L"Flip"), bool_reference, 2, 8, CC_STDCALL, 1, DISPATCH_METHOD, VT_EMPTY},
        {const_cast<wchar_t*>(L"Twice"), long_reference, 3, 9, CC_STDCALL, 1, DISPATCH_METHOD, VT_EMPTY},
        {const_cast<wchar_t*>(L"Count"), nullptr, 4, 10, CC_STDCALL, 0, DISPATCH_PROPERTYGET, VT_I4},
        {const_cast<wchar_t*>(L"Count"), long_value, 4, 11, CC_STDCALL, 1, DISPATCH_PROPERTYPUT, VT_EMPTY},
    };
    static INTERFACEDATA description = {methods, 5};
    ITypeInfo* class_info = nullptr;
    CreateDispTypeInfo(&description, LOCALE_SYSTEM_DEFAULT, &class_info);
    // The description comes as a class; the members live in its interface.
    HREFTYPE reference = 0;
    if (class_info && SUCCEEDED(class_info->GetRefTypeOfImplType(0, &reference)))
      class_info->GetRefTypeInfo(reference, &info_);
    else
      info_ = class_info, class_info = nullptr;
    if (class_info) class_info->Release();
  }
  ~Typed() {
    if (info_) info_->Release();
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    info_->AddRef();
    *info = info_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD kind, DISPPARAMS* parameters, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argument_error) override {
    return DispInvoke(this, info_, id, kind, parameters, result, exception, argument_error);
  }

  // Slot 7 on: the members.
  virtual void STDMETHODCALLTYPE Rename(BSTR* name) {
    const std::wstring renamed = std::wstring(*name ? *name : L"") + L"\u4e4b\u4e8c";  // 之二
    SysFreeString(*name);
    *name = SysAllocString(renamed.c_str());
  }
  virtual void STDMETHODCALLTYPE Flip(VARIANT_BOOL* flag) { *flag = *flag ? VARIANT_FALSE : VARIANT_TRUE; }
  virtual void STDMETHODCALLTYPE Twice(LONG* number) { *number *= 2; }
  virtual LONG STDMETHODCALLTYPE get_Count() { return count_; }
  virtual void STDMETHODCALLTYPE put_Count(LONG value) { count_ = value; }

 private:
  ITypeInfo* info_ = nullptr;
  LONG count_ = 7;
};

// Makes Objects; the first refusals calls answer E_INVALIDARG instead.
template <typename Object>
class Factory final : public IClassFactory {
 public:
  explicit Factory(int refusals = 0) : refusals_(refusals) {}
  int calls = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (id == IID_IUnknown || id == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    if (calls++ < refusals_) return E_INVALIDARG;
    Object* object = new Object;
    const HRESULT result = object->QueryInterface(id, out);
    object->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  int refusals_;
};

Factory<Recorder> g_recorder_factory;
Factory<Typed> g_typed_factory;
Factory<Recorder> g_reluctant_factory(1);    // refuses once
Factory<Recorder> g_refusing_factory(1000);  // always refuses
Factory<Unrunnable> g_unrunnable_factory;

// The classes of the tests, registered for this process only.
struct TestClass {
  const char* class_id;
  IClassFactory* factory;
  DWORD cookie;
} g_test_classes[] = {
    {"{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B01}", &g_recorder_factory, 0},
    {"{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B02}", &g_typed_factory, 0},
    {"{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B04}", &g_reluctant_factory, 0},
    {"{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B05}", &g_refusing_factory, 0},
    {"{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B06}", &g_unrunnable_factory, 0},
};
constexpr const char* reluctant_class_id = "{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B04}";
constexpr const char* refusing_class_id = "{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B05}";
constexpr const char* unrunnable_class_id = "{5B7C2E10-4A1D-4F6B-9E21-7C3D8A0F1B06}";

// A type library that names the recorder's class, written by the test.
bool write_type_library(const wchar_t* file) {
  ICreateTypeLib2* library = nullptr;
  if (FAILED(CreateTypeLib2(SYS_WIN32, file, &library))) return false;
  library->SetGuid(test_library);
  library->SetName(const_cast<wchar_t*>(L"NovelfetchTestLibrary"));
  library->SetVersion(1, 0);
  ICreateTypeInfo* info = nullptr;
  bool written = false;
  if (SUCCEEDED(library->CreateTypeInfo(const_cast<wchar_t*>(L"NovelfetchRecorder"), TKIND_COCLASS, &info))) {
    info->SetGuid(recorder_class);
    info->SetTypeFlags(TYPEFLAG_FCANCREATE);
    info->LayOut();
    info->Release();
    written = SUCCEEDED(library->SaveAllChanges());
  }
  library->Release();
  return written;
}

class AutomationCom : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    for (TestClass& test_class : g_test_classes) {
      CLSID id;
      CLSIDFromString(wide_of(test_class.class_id).c_str(), &id);
      CoRegisterClassObject(id, test_class.factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &test_class.cookie);
    }
  }
  static void TearDownTestSuite() {
    for (TestClass& test_class : g_test_classes) CoRevokeClassObject(test_class.cookie);
    g_recording.clear();
  }

  AutomationHandle object;
};

TEST_F(AutomationCom, ArgumentsArriveConvertedAndInReverseOrder) {
  ASSERT_TRUE(create_object(*object, recorder_class_id));
  Text text = Text::copy_of("\xb5\xda\xd2\xbb\xd5\xc2");  // 第一章
  int32_t number = 41;
  double real = 2.5;
  const unsigned char raw[] = {1, 2, 0, 4};
  ByteSet bytes = ByteSet::adopt(make_byte_set(raw, 4));
  VariantHandle value;  // VT_I4 0
  Variant* value_variable = value.get();
  AutomationHandle other;
  ASSERT_TRUE(create_object(*other, recorder_class_id));

  struct Case {
    const char* what;
    ArgCell cell;
    VARTYPE type;
  } cases[] = {
      {"Boolean", cell_bool(true), VT_BOOL},
      {"16-bit", {uint64_t(0xFFFE), tag_int16}, VT_I2},
      {"32-bit", cell_int(-7), VT_I4},
      {"64-bit", cell_int64(int64_t(1) << 40), VT_I8},
      {"byte", {200, tag_byte}, VT_UI1},
      {"64-bit real", cell_float64(1.25), VT_R8},
      {"date", cell_date_time(45000.5), VT_DATE},
      {"text", cell_text(text.get()), VT_BSTR},
      {"empty text", cell_text(nullptr), VT_BSTR},
      {"byte set", cell_byte_set(bytes.get()), VT_ARRAY | VT_UI1},
      {"object", cell_object(other.get()), VT_DISPATCH},
      {"Variant", cell_variant(value.get()), VT_I4},
      {"flagged text", cell_by_address(text.variable(), tag_text), VT_BSTR},
      {"flagged 32-bit", cell_by_address(&number, tag_int32), VT_I4},
      {"flagged real", cell_by_address(&real, tag_float64), VT_R8},
      {"flagged Variant", cell_by_address(&value_variable, tag_variant), VT_BYREF | VT_VARIANT},
      {"unknown tag", {5, 0x1234}, VT_EMPTY},
  };
  std::vector<ArgCell> cells = {cell_object(object.get()), cell_text("Record")};
  for (const Case& c : cases) cells.push_back(c.cell);
  VariantHandle result = VariantHandle::adopt(get_property(int32_t(cells.size()), cells.data()));
  EXPECT_EQ(object->last_result, 0);
  EXPECT_EQ(g_recording.kind, DISPATCH_PROPERTYGET);  // no type information: as asked
  EXPECT_EQ(g_recording.named, 0u);
  ASSERT_EQ(g_recording.arguments.size(), std::size(cases));
  ASSERT_EQ(result->type, VT_BSTR);

  const size_t last = std::size(cases) - 1;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    const VARIANT& got = g_recording.arguments[last - i];
    EXPECT_EQ(got.vt, cases[i].type);
  }
  auto argument = [&](size_t i) -> const VARIANT& { return g_recording.arguments[last - i]; };
  EXPECT_EQ(argument(0).boolVal, VARIANT_TRUE);
  EXPECT_EQ(argument(1).iVal, -2);
  EXPECT_EQ(argument(2).lVal, -7);
  EXPECT_EQ(argument(3).llVal, int64_t(1) << 40);
  EXPECT_EQ(argument(4).bVal, 200);
  EXPECT_EQ(argument(5).dblVal, 1.25);
  EXPECT_EQ(argument(6).date, 45000.5);
  EXPECT_EQ(std::wstring(argument(7).bstrVal), L"\u7b2c\u4e00\u7ae0");  // 第一章
  EXPECT_EQ(SysStringLen(argument(8).bstrVal), 0u);
  ASSERT_NE(argument(9).parray, nullptr);
  EXPECT_EQ(argument(9).parray->rgsabound[0].cElements, 4u);
  EXPECT_EQ(static_cast<unsigned char*>(argument(9).parray->pvData)[3], 4);
  EXPECT_EQ(argument(10).pdispVal, other->interface_pointer);
  EXPECT_EQ(std::wstring(argument(12).bstrVal), L"\u7b2c\u4e00\u7ae0");
  EXPECT_EQ(argument(13).lVal, 41);
  EXPECT_EQ(argument(14).dblVal, 2.5);
  g_recording.clear();
}

TEST_F(AutomationCom, MembersWithoutTypeInformationRunAsAsked) {
  ASSERT_TRUE(create_object(*object, recorder_class_id));
  call_method(*object, "record");
  EXPECT_EQ(object->last_result, 0);
  EXPECT_EQ(g_recording.kind, DISPATCH_METHOD);
  EXPECT_EQ(g_recording.arguments.size(), 0u);  // the filler is no argument

  // A flagged text goes by value: the variable keeps its own block.
  Text text = Text::copy_of("abc");
  char* const before = text.get();
  call_method(*object, "Record", {cell_by_address(text.variable(), tag_text)});
  ASSERT_EQ(g_recording.arguments.size(), 1u);
  EXPECT_EQ(g_recording.arguments[0].vt, VT_BSTR);
  EXPECT_EQ(text.get(), before);
  g_recording.clear();
}

TEST_F(AutomationCom, ByReferenceParametersComeBack) {
  ASSERT_TRUE(create_object(*object, typed_class_id));

  Text name = Text::copy_of("\xb5\xda\xd2\xbb\xd5\xc2");  // 第一章
  call_method(*object, "Rename", {cell_by_address(name.variable(), tag_text)});
  EXPECT_EQ(object->last_result, 0);
  EXPECT_STREQ(name.c_str(), "\xb5\xda\xd2\xbb\xd5\xc2\xd6\xae\xb6\xfe");  // 第一章之二

  Text empty;
  call_method(*object, "Rename", {cell_by_address(empty.variable(), tag_text)});
  EXPECT_STREQ(empty.c_str(), "\xd6\xae\xb6\xfe");  // 之二

  int32_t flag = 1;
  call_method(*object, "Flip", {cell_by_address(&flag, tag_boolean)});
  EXPECT_EQ(object->last_result, 0);
  EXPECT_EQ(flag, 0);  // false as a whole 32-bit value, not just its low half
  call_method(*object, "Flip", {cell_by_address(&flag, tag_boolean)});
  EXPECT_EQ(flag, -1);

  int32_t number = 21;
  call_method(*object, "Twice", {cell_by_address(&number, tag_int32)});
  EXPECT_EQ(object->last_result, 0);
  EXPECT_EQ(number, 42);
}

TEST_F(AutomationCom, PropertiesFollowTheirTypeInformation) {
  ASSERT_TRUE(create_object(*object, typed_class_id));
  VariantHandle count = VariantHandle::adopt(get_property(*object, "Count"));
  EXPECT_EQ(object->last_result, 0);
  ASSERT_EQ(count->type, VT_I4);
  EXPECT_EQ(int32_t(count->value), 7);
  // Called as a method, the property is read, as its type information says.
  call_method(*object, "count");
  EXPECT_EQ(object->last_result, 0);
}

TEST_F(AutomationCom, UnknownMemberGivesTheSystemsText) {
  ASSERT_TRUE(create_object(*object, typed_class_id));
  VariantHandle value = VariantHandle::adopt(get_property(*object, "NoSuchMember"));
  EXPECT_EQ(value->type, VT_EMPTY);
  EXPECT_EQ(object->last_result, DISP_E_UNKNOWNNAME);

  std::string expected;
  wchar_t* message = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, DWORD(DISP_E_UNKNOWNNAME), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length > 0) {
    char buffer[1024] = {};
    WideCharToMultiByte(936, 0, message, int(length), buffer, sizeof buffer - 1, nullptr, nullptr);
    expected = buffer;
  }
  if (message) LocalFree(message);
  EXPECT_EQ(object_error_text(*object).c_str(), expected);
}

TEST_F(AutomationCom, ClassesComeFromATypeLibrary) {
  // "NovelfetchRecorder" is no ProgID: only the library can name its class.
  EXPECT_FALSE(create_object(*object, "NovelfetchRecorder"));
  ASSERT_TRUE(write_type_library(L"novelfetch_test.tlb"));
  EXPECT_TRUE(create_object(*object, "NovelfetchRecorder", "novelfetch_test.tlb"));
  EXPECT_EQ(object->last_result, 0);
  call_method(*object, "Record", {cell_int(3)});
  EXPECT_EQ(object->last_result, 0);
  ASSERT_EQ(g_recording.arguments.size(), 1u);
  // A class the library does not name falls back to the usual look-up.
  EXPECT_TRUE(create_object(*object, "Microsoft.XMLHTTP", "novelfetch_test.tlb"));
  g_recording.clear();
  DeleteFileW(L"novelfetch_test.tlb");
}

TEST_F(AutomationCom, VariantsOfOtherTypesConvertToBytes) {
  // A string converts to the bytes of its UTF-16 units.
  VariantHandle text;
  VARIANT& value = reinterpret_cast<VARIANT&>(*text);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"AB");
  const ByteSet bytes = variant_to_bytes(*text);
  ASSERT_EQ(bytes.size(), 4);
  EXPECT_EQ(bytes.data()[0], 'A');
  EXPECT_EQ(bytes.data()[2], 'B');

  // An array of Variants gives the bytes of its indexed element.
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  VARIANT* elements = nullptr;
  SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
  elements[0].vt = VT_BSTR;
  elements[0].bstrVal = SysAllocString(L"x");
  elements[1].vt = VT_BSTR;
  elements[1].bstrVal = SysAllocString(L"yz");
  SafeArrayUnaccessData(array);
  VariantHandle list;
  VARIANT& list_value = reinterpret_cast<VARIANT&>(*list);
  list_value.vt = VT_ARRAY | VT_VARIANT;
  list_value.parray = array;
  EXPECT_EQ(variant_to_bytes(*list, 2).size(), 4);
  EXPECT_EQ(variant_to_bytes(*list).size(), 2);
  EXPECT_EQ(variant_to_bytes(*list, 3).get(), nullptr);

  // An array of object pointers is no array of Variants.
  SAFEARRAY* pointers = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  VariantHandle unknowns;
  VARIANT& unknowns_value = reinterpret_cast<VARIANT&>(*unknowns);
  unknowns_value.vt = VT_ARRAY | VT_UNKNOWN;
  unknowns_value.parray = pointers;
  Variant element{};
  ASSERT_TRUE(pick_array_element(*unknowns, cell_int(2), element));
  EXPECT_EQ(element.type, VT_UNKNOWN);
  EXPECT_EQ(element.value, 0u);
}

TEST_F(AutomationCom, CreationRetriesOnceWithoutRemoteServers) {
  EXPECT_TRUE(create_object(*object, reluctant_class_id));
  EXPECT_EQ(g_reluctant_factory.calls, 2);
  EXPECT_EQ(object->last_result, 0);
  EXPECT_FALSE(create_object(*object, refusing_class_id));
  EXPECT_EQ(g_refusing_factory.calls, 2);
  EXPECT_EQ(object->last_result, E_INVALIDARG);
  EXPECT_EQ(object->interface_pointer, nullptr);
}

TEST_F(AutomationCom, ObjectsAreReleasedWhenTheyWillNotRunAndWhenReplaced) {
  const int live = g_live_recorders;
  EXPECT_FALSE(create_object(*object, unrunnable_class_id));
  EXPECT_EQ(object->last_result, E_ACCESSDENIED);
  EXPECT_EQ(g_live_recorders, live);

  ASSERT_TRUE(create_object(*object, recorder_class_id));
  EXPECT_EQ(g_live_recorders, live + 1);
  ASSERT_TRUE(create_object(*object, recorder_class_id));
  EXPECT_EQ(g_live_recorders, live + 1);
  release_object(*object);
  EXPECT_EQ(g_live_recorders, live);
}

}  // namespace
