// The automation layer that stands in for COM on Linux: classes found by name
// (a ProgID or a class id in braces), objects whose members are called by name,
// values passed as Variants, and an HRESULT with a message text for every
// failure, so the bridge of runtime/automation.h behaves as it does on Windows.
//
// An object is owned by the AutomationObject record that holds it (no
// reference counts: release_object deletes it). Member arguments arrive by value
// in call order, and the layer only reads them. Variants hold VT_BSTR values as
// NUL-terminated code-page-936 strings and arrays of bytes as ByteSet blocks
// (platform/code_page_936.h). The strings and byte arrays of a member's result
// are new blocks of the process heap (platform::heap_allocate), which the caller
// takes over. Member names are matched with ASCII case ignored, as IDispatch does.
#pragma once

#include <cstdint>
#include <span>

#include "platform/variant.h"

namespace platform {

// HRESULTs of the layer (their texts are in object_error_text).
namespace failure {
constexpr int32_t not_implemented = int32_t(0x80004001);      // E_NOTIMPL
constexpr int32_t unspecified = int32_t(0x80004005);          // E_FAIL
constexpr int32_t data_pending = int32_t(0x8000000A);         // E_PENDING
constexpr int32_t out_of_memory = int32_t(0x8007000E);        // E_OUTOFMEMORY
constexpr int32_t not_initialized = int32_t(0x800401F0);      // CO_E_NOTINITIALIZED
constexpr int32_t member_not_found = int32_t(0x80020003);     // DISP_E_MEMBERNOTFOUND
constexpr int32_t type_mismatch = int32_t(0x80020005);        // DISP_E_TYPEMISMATCH
constexpr int32_t invalid_argument = int32_t(0x80070057);     // E_INVALIDARG
constexpr int32_t bad_parameter_count = int32_t(0x8002000E);  // DISP_E_BADPARAMCOUNT
constexpr int32_t body_too_large = int32_t(0x800700DF);       // ERROR_FILE_TOO_LARGE
constexpr int32_t timed_out = int32_t(0x80072EE2);            // ERROR_WINHTTP_TIMEOUT
constexpr int32_t invalid_address = int32_t(0x80072EE5);      // ERROR_WINHTTP_INVALID_URL
constexpr int32_t unrecognized_scheme = int32_t(0x80072EE6);  // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
constexpr int32_t name_not_resolved = int32_t(0x80072EE7);    // ERROR_WINHTTP_NAME_NOT_RESOLVED
constexpr int32_t cannot_connect = int32_t(0x80072EFD);       // ERROR_WINHTTP_CANNOT_CONNECT
constexpr int32_t connection_error = int32_t(0x80072EFE);     // ERROR_WINHTTP_CONNECTION_ERROR
constexpr int32_t not_opened = int32_t(0x80072F44);           // ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN
constexpr int32_t not_sent = int32_t(0x80072F45);             // ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND
constexpr int32_t header_not_found = int32_t(0x80072F76);     // ERROR_WINHTTP_HEADER_NOT_FOUND
constexpr int32_t invalid_response = int32_t(0x80072F78);     // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
constexpr int32_t redirect_failed = int32_t(0x80072F7C);      // ERROR_WINHTTP_REDIRECT_FAILED
constexpr int32_t secure_failure = int32_t(0x80072F8F);       // ERROR_WINHTTP_SECURE_FAILURE
}  // namespace failure

// The invocation kinds, numerically the DISPATCH flags.
enum MemberKind : uint16_t { member_method = 1, member_property_get = 2 };

struct MemberInfo {
  const char* name;
  MemberKind kind;
};

class AutomationInstance {
 public:
  virtual ~AutomationInstance() = default;
  // The members; a member's id is its position in this list.
  virtual std::span<const MemberInfo> members() const = 0;
  // Runs member id with count arguments; result receives the return value
  // (it holds VT_EMPTY on entry). The HRESULT of the call.
  virtual int32_t invoke(int32_t id, const Variant* arguments, int32_t count, Variant& result) = 0;
};

// True when the calling thread has called platform::com_initialize (and not yet undone
// it): objects are made only on such threads, as with COM.
bool com_initialized_on_this_thread();

// The HTTP request objects (platform/linux/http_request.cpp): "MSXML2.XMLHTTP"
// and "Microsoft.XMLHTTP" make one with the members of the XMLHTTP classes,
// "WinHttp.WinHttpRequest.5.1" one with those of the WinHTTP class.
AutomationInstance* create_xml_http_request();
AutomationInstance* create_win_http_request();

}  // namespace platform
