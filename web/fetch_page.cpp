#include "web/fetch_page.h"

#include "runtime/automation.h"

namespace {

// The HTTP request classes, tried in this order; the first that can be made is used.
constexpr const char* http_classes[] = {"MSXML2.XMLHTTP", "Microsoft.XMLHTTP", "WinHttp.WinHttpRequest.5.1"};

// "创建XMLHTTP对象失败:"
constexpr const char* creation_failed = "\xb4\xb4\xbd\xa8XMLHTTP\xb6\xd4\xcf\xf3\xca\xa7\xb0\xdc:";

}  // namespace

Text fetch_page(const char* address) {
  AutomationHandle request;
  VariantHandle body;

  bool created = false;
  for (const char* class_name : http_classes) {
    if (create_object(*request, class_name)) {
      created = true;
      break;
    }
  }
  if (!created) return join(creation_failed, object_error_text(*request));

  // A synchronous GET; the results of "open" and "send" are not looked at, since
  // a failed request simply leaves no body to read.
  call_method(*request, "open", {cell_text("GET"), cell_text(address), cell_bool(false)});
  call_method(*request, "send");
  body = VariantHandle::adopt(get_property(*request, "responseBody"));

  const ByteSet bytes = variant_to_bytes(*body);
  // The text ends before the first zero byte of the body.
  return to_text(cell_byte_set(bytes.get()));
}
