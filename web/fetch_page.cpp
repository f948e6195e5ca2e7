#include "web/fetch_page.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/fetch_limits.h"
#include "runtime/automation.h"
#include "runtime/threads.h"

namespace {

// How a class is driven. The XMLHTTP classes tell their progress through
// readyState, which changes while the thread dispatches its messages; they
// have no time-outs of their own. The WinHTTP class keeps the connect and
// silence limits itself (SetTimeouts) and is waited for with WaitForResponse.
enum class Driver { ready_state, wait_for_response };

struct HttpClass {
  const char* name;
  Driver driver;
};

// The HTTP request classes, tried in this order; the first that can be made is used.
constexpr HttpClass http_classes[] = {
    {"MSXML2.XMLHTTP", Driver::ready_state},
    {"Microsoft.XMLHTTP", Driver::ready_state},
    {"WinHttp.WinHttpRequest.5.1", Driver::wait_for_response},
};

// "创建XMLHTTP对象失败:"
constexpr const char* creation_failed = "\xb4\xb4\xbd\xa8XMLHTTP\xb6\xd4\xcf\xf3\xca\xa7\xb0\xdc:";

// readyState of an XMLHTTP request: some of the answer has arrived; all of it has.
constexpr int32_t ready_state_interactive = 3;
constexpr int32_t ready_state_complete = 4;

// The longest single wait for messages: the clock is looked at least this often.
constexpr int64_t longest_wait_milliseconds = 1000;

using Clock = std::chrono::steady_clock;

int64_t milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return std::max<int64_t>(left, 0);
}

bool failed(const AutomationObject& request) { return request.last_result < 0; }

// The value of an integer or Boolean Variant (a true Boolean is -1).
std::optional<int32_t> integer_of(const Variant& value) {
  switch (value.type) {
    case variant_int32:
    case variant_uint32: return static_cast<int32_t>(static_cast<uint32_t>(value.value));
    case variant_int16:
    case variant_bool: return static_cast<int16_t>(static_cast<uint16_t>(value.value));
    default: return std::nullopt;
  }
}

// Sends an XMLHTTP request opened asynchronously and dispatches the thread's
// messages until it is complete. These classes show neither the connection
// nor single bytes, only that the answer has begun (readyState 3) and that it
// is complete (4), so the answer must begin within the connect limit, counted
// from the start of the fetch: that ends a connection that is never made in
// time, and a silent server sooner than the silence limit would. Once the
// answer has begun only the total limit can be watched. Some implementations
// (Wine's) never complete a request whose connection failed; the connect
// limit ends those too. False when the request failed or a limit passed.
bool await_ready_state(AutomationObject& request, const platform::FetchLimits& limits, Clock::time_point start) {
  call_method(request, "send");
  if (failed(request)) return false;
  const Clock::time_point answer_due = start + std::chrono::milliseconds(limits.connect_milliseconds);
  const Clock::time_point complete_due = start + std::chrono::milliseconds(limits.total_milliseconds);
  for (;;) {
    const VariantHandle state = VariantHandle::adopt(get_property(request, "readyState"));
    const std::optional<int32_t> ready = integer_of(*state);
    if (failed(request) || !ready) return false;
    if (*ready == ready_state_complete) return true;
    const Clock::time_point due = *ready >= ready_state_interactive ? complete_due : std::min(answer_due, complete_due);
    const int64_t left = milliseconds_until(due);
    if (left == 0) return false;
    wait_for_messages(static_cast<uint32_t>(std::min(left, longest_wait_milliseconds)));
  }
}

// Sends a WinHTTP request opened asynchronously, with the connect limit for
// resolving the name and for connecting and the silence limit for every
// packet of the answer, and waits until it is complete. WaitForResponse counts
// whole seconds, so the fetch gives up once less than one is left of the total
// limit. False when the request failed or the total passed. After a failed
// wait nothing more is asked of the request (Wine's class cannot hand out the
// body of a transfer that failed halfway).
bool await_response(AutomationObject& request, const platform::FetchLimits& limits, Clock::time_point start) {
  call_method(request, "SetTimeouts",
              {cell_int(limits.connect_milliseconds), cell_int(limits.connect_milliseconds),
               cell_int(limits.silence_milliseconds), cell_int(limits.silence_milliseconds)});
  call_method(request, "send");
  if (failed(request)) return false;
  const Clock::time_point complete_due = start + std::chrono::milliseconds(limits.total_milliseconds);
  while (milliseconds_until(complete_due) >= 1000) {
    const Clock::time_point asked = Clock::now();
    const VariantHandle done = VariantHandle::adopt(call_function(request, "WaitForResponse", {cell_int(1)}));
    if (failed(request)) return false;
    if (integer_of(*done).value_or(0) != 0) return true;
    // "Not yet" long before the second has passed comes from a request that
    // was complete before the wait began: Wine's class answers so, without
    // setting its result.
    if (Clock::now() - asked < std::chrono::milliseconds(500)) return true;
    // Keeps the calling thread's windows alive between the waits.
    process_pending_messages();
  }
  return false;
}

// The HTTP status of a complete request, 0 when it holds no answer. The XMLHTTP
// classes of Windows complete a failed transfer with a WinINet error number
// (12002, 12029, ...) as its status, and give a 204 answer as 1223.
int32_t http_status_of(const Variant& value) {
  const int32_t status = integer_of(value).value_or(0);
  if (status == 1223) return 204;
  return status >= 100 && status <= 599 ? status : 0;
}

// What a complete request holds: its status, body and Retry-After header.
PageAnswer read_answer(AutomationObject& request) {
  PageAnswer answer;
  const VariantHandle status = VariantHandle::adopt(get_property(request, "status"));
  const int32_t code = failed(request) ? 0 : http_status_of(*status);
  if (code == 0) return answer;
  const VariantHandle body = VariantHandle::adopt(get_property(request, "responseBody"));
  if (failed(request)) return answer;
  const ByteSet bytes = variant_to_bytes(*body);
  // The text ends before the first zero byte of the body.
  answer.body = to_text(cell_byte_set(bytes.get()));
  answer.status = code;
  // An absent header is an empty string on the XMLHTTP classes and a failure
  // on the WinHTTP class; either way no text comes back.
  const VariantHandle retry_after =
      VariantHandle::adopt(call_function(request, "getResponseHeader", {cell_text("Retry-After")}));
  answer.retry_after = variant_to_text(*retry_after);
  return answer;
}

// One GET through a request object just made, driven as its class needs.
PageAnswer fetch_through(AutomationObject& request, Driver driver, const char* address) {
  const platform::FetchLimits limits = platform::fetch_limits();
  const Clock::time_point start = Clock::now();
  // A failed "open" is not looked at: "send" then fails too.
  call_method(request, "open", {cell_text("GET"), cell_text(address), cell_bool(true)});
  const bool complete = driver == Driver::ready_state ? await_ready_state(request, limits, start)
                                                      : await_response(request, limits, start);
  if (!complete) {
    call_method(request, "abort");
    return {};
  }
  return read_answer(request);
}

// The body "创建XMLHTTP对象失败:" and the system's text for the last attempt's failure.
PageAnswer creation_failure(AutomationObject& request) {
  PageAnswer failure;
  failure.body = join(creation_failed, object_error_text(request));
  return failure;
}

}  // namespace

PageAnswer fetch_page_answer(const char* address) {
  AutomationHandle request;
  for (const HttpClass& candidate : http_classes)
    if (create_object(*request, candidate.name)) return fetch_through(*request, candidate.driver, address);
  return creation_failure(*request);
}

PageAnswer fetch_page_answer_through(const char* class_name, const char* address) {
  AutomationHandle request;
  for (const HttpClass& candidate : http_classes)
    if (class_name && std::strcmp(candidate.name, class_name) == 0 && create_object(*request, candidate.name))
      return fetch_through(*request, candidate.driver, address);
  return creation_failure(*request);
}

Text fetch_page(const char* address) { return fetch_page_answer(address).body; }
