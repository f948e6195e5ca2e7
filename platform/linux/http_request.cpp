// The HTTP request classes of the Linux automation layer, over libcurl. They
// answer the members the page fetch uses, as the Windows classes do. Both kinds
// have
//   open(method, address[, async, ...])  prepares a GET; async may be true
//   send([body])                          performs it
//   responseBody, status                  the answer's body (a byte array) and status
//   getResponseHeader(name)               a header of the answer (the last one,
//                                         after redirects), name in any case
//   abort                                 forgets the request and its answer
// The XMLHTTP kind adds readyState (0 new or aborted, 1 opened, 4 answered);
// the WinHTTP kind adds SetTimeouts(resolve, connect, send, receive) and
// WaitForResponse([seconds]). The transfer always runs within send, also when
// asynchronous: afterwards the request is complete (readyState 4,
// WaitForResponse true at once) or has failed.
// Any HTTP status counts as an answer (an error page has a body like any other).
// Transport failures, time-outs (platform/fetch_limits.h), redirects beyond the
// limit or to another scheme than http and https, and bodies beyond the size
// limit are failures: send returns their HRESULT and there is no answer.
#include "platform/linux/http_request.h"

#include <curl/curl.h>
#include <glib.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/code_page_936.h"
#include "platform/code_pages.h"
#include "platform/fetch_limits.h"
#include "platform/linux/automation_layer.h"
#include "platform/system.h"

namespace platform {

namespace {

// A browser-like identity of the program's own: some sites answer bare clients
// with an error page.
constexpr const char* user_agent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) novelfetch/1.0";

// ---- Limits ------------------------------------------------------------------

constexpr HttpLimits default_limits = {10, int64_t(64) << 20};
std::atomic<int32_t> g_maximum_redirects{default_limits.maximum_redirects};
std::atomic<int64_t> g_maximum_body_bytes{default_limits.maximum_body_bytes};

// ---- Process-wide libcurl state ----------------------------------------------

// Idle transfer handles keep their connections open for the next request; a
// handle is used by one request at a time, whatever its thread.
struct CurlState {
  std::mutex lock;
  bool open = false;
  bool end_pending = false;  // ended while requests were running
  int32_t busy = 0;
  std::vector<CURL*> idle;
};
constexpr size_t maximum_idle_handles = 16;

// Never destroyed: requests may still end while the process exits.
CurlState& curl_state() {
  static CurlState* state = new CurlState;
  return *state;
}

void close_idle(CurlState& state) {
  for (CURL* handle : state.idle) curl_easy_cleanup(handle);
  state.idle.clear();
}

void end_curl(CurlState& state) {
  curl_global_cleanup();
  state.end_pending = false;
}

CURL* take_handle() {
  CurlState& state = curl_state();
  std::lock_guard guard(state.lock);
  if (!state.open) return nullptr;
  CURL* handle = nullptr;
  if (!state.idle.empty()) {
    handle = state.idle.back();
    state.idle.pop_back();
    curl_easy_reset(handle);
  } else {
    handle = curl_easy_init();
    if (handle == nullptr) return nullptr;
  }
  ++state.busy;
  return handle;
}

void give_back_handle(CURL* handle) {
  CurlState& state = curl_state();
  std::lock_guard guard(state.lock);
  --state.busy;
  if (state.open && state.idle.size() < maximum_idle_handles) {
    state.idle.push_back(handle);
    return;
  }
  curl_easy_cleanup(handle);
  if (!state.open && state.end_pending && state.busy == 0) end_curl(state);
}

// ---- Helpers -----------------------------------------------------------------

// The address as libcurl takes it: UTF-8, with blanks, control bytes and every
// byte beyond ASCII percent-encoded, as the Windows classes send it.
std::string wire_address(const char* local) {
  const bool ascii = std::all_of(local, local + std::strlen(local), [](char c) { return (c & 0x80) == 0; });
  const std::string utf8 = ascii ? std::string(local) : local_to_utf8(local);
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string address;
  address.reserve(utf8.size());
  for (unsigned char byte : utf8) {
    if (byte <= 0x20 || byte >= 0x7F) {
      address += '%';
      address += hex[byte >> 4];
      address += hex[byte & 15];
    } else {
      address += static_cast<char>(byte);
    }
  }
  return address;
}

int32_t failure_of(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return failure::unrecognized_scheme;
    case CURLE_URL_MALFORMAT: return failure::invalid_address;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return failure::name_not_resolved;
    case CURLE_COULDNT_CONNECT: return failure::cannot_connect;
    case CURLE_OPERATION_TIMEDOUT: return failure::timed_out;
    case CURLE_TOO_MANY_REDIRECTS: return failure::redirect_failed;
    case CURLE_FILESIZE_EXCEEDED: return failure::body_too_large;
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_WEIRD_SERVER_REPLY: return failure::invalid_response;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return failure::secure_failure;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING: return failure::connection_error;
    default: return failure::unspecified;
  }
}

// A header of the answer: its name as sent and its value without the blanks around it.
using Header = std::pair<std::string, std::string>;

using Clock = std::chrono::steady_clock;

struct Transfer {
  CURL* handle;
  std::vector<unsigned char>& body;
  std::vector<Header>& headers;
  int64_t limit;
  int32_t silence_milliseconds;  // no byte for this long ends the transfer; 0: not watched
  Clock::time_point last_byte = Clock::now();
  bool too_large = false;
  bool silent = false;
};

size_t receive(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  transfer.last_byte = Clock::now();
  if (int64_t(transfer.body.size() + bytes) > transfer.limit) {
    transfer.too_large = true;
    return 0;  // ends the transfer
  }
  if (transfer.body.empty()) {
    // Room for the announced length at once (a compressed body grows past it).
    curl_off_t announced = -1;
    curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0 && announced <= transfer.limit) transfer.body.reserve(size_t(announced));
  }
  transfer.body.insert(transfer.body.end(), data, data + bytes);
  return bytes;
}

// One header line of an answer. Every answer, a redirect's too, begins with its
// status line, so only the last answer's headers are kept.
size_t receive_header(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  transfer.last_byte = Clock::now();
  const std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    transfer.headers.clear();
    return bytes;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return bytes;
  std::string_view value = line.substr(colon + 1);
  constexpr std::string_view blanks = " \t\r\n";
  const size_t first = value.find_first_not_of(blanks);
  value = first == std::string_view::npos ? std::string_view()
                                          : value.substr(first, value.find_last_not_of(blanks) - first + 1);
  transfer.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  return bytes;
}

// Called by libcurl about once a second, and whenever data moves: ends the
// transfer once no byte has come for the silence limit. The low-speed check of
// libcurl averages over the last seconds, so the bytes just before a silence
// would keep it quiet for a while.
int watch_silence(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<Transfer*>(user);
  if (transfer.silence_milliseconds <= 0) return 0;
  if (Clock::now() - transfer.last_byte < std::chrono::milliseconds(transfer.silence_milliseconds)) return 0;
  transfer.silent = true;
  return 1;  // ends the transfer
}

// Performs the transfer that handle is set up for. On the thread that runs the
// dialog (the one that owns GLib's default main context, which a dialog's
// procedure runs inside) the transfer goes to a thread of its own, and this
// thread goes on dispatching the context's events until it is done, as the
// Windows classes keep a window's messages flowing during a synchronous send:
// the window redraws, answers the accessibility bus and its close box, and its
// procedure may run, re-entered, before this returns. Any other thread (a
// chapter worker, a test) performs the transfer itself.
CURLcode perform(CURL* handle) {
  GMainContext* context = g_main_context_default();
  if (!g_main_context_is_owner(context)) return curl_easy_perform(handle);
  std::atomic<bool> done{false};
  CURLcode code = CURLE_OK;
  std::thread transfer([&] {
    code = curl_easy_perform(handle);
    done.store(true);
    g_main_context_wakeup(context);
  });
  while (!done.load()) g_main_context_iteration(context, TRUE);
  transfer.join();
  return code;
}

// A whole-number argument, or nothing when it is of no such type.
std::optional<int64_t> integer_of(const Variant& value) {
  switch (value.type) {
    case variant_int16: return int16_t(value.value);
    case variant_int32: return int32_t(value.value);
    case variant_uint32: return uint32_t(value.value);
    case variant_byte: return uint8_t(value.value);
    case variant_int64: return int64_t(value.value);
    default: return std::nullopt;
  }
}

// A Boolean-like argument: 0 or 1, or -1 when it is of no such type.
int32_t truth_of(const Variant& value) {
  switch (value.type) {
    case variant_bool:
    case variant_int16: return int16_t(value.value) != 0;
    case variant_int32:
    case variant_uint32: return int32_t(value.value) != 0;
    case variant_byte: return uint8_t(value.value) != 0;
    case variant_int64: return value.value != 0;
    default: return -1;
  }
}

bool is_missing(const Variant& value) { return value.type == variant_empty || value.type == variant_error; }

// A member's string or byte array result: a new block of the process heap that
// the caller takes over (automation_layer.h); null when the heap has no room.
char* heap_string(const std::string& text) {
  auto* block = static_cast<char*>(heap_allocate(text.size() + 1, false));
  if (block == nullptr) return nullptr;
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = 0;
  return block;
}

void* heap_byte_set(const std::vector<unsigned char>& bytes) {
  void* block = heap_allocate(byte_set_header_size + bytes.size(), false);
  if (block == nullptr) return nullptr;
  write_byte_set_header(block, static_cast<int32_t>(bytes.size()));
  std::memcpy(byte_set_bytes(block), bytes.data(), bytes.size());
  return block;
}

// ---- The classes -------------------------------------------------------------

// What a member does; the two kinds list their members in their own order.
enum class Operation {
  open,
  send,
  response_body,
  status,
  get_response_header,
  abort,
  ready_state,
  wait_for_response,
  set_timeouts
};

constexpr MemberInfo xml_http_members[] = {{"open", member_method},
                                           {"send", member_method},
                                           {"responseBody", member_property_get},
                                           {"status", member_property_get},
                                           {"getResponseHeader", member_method},
                                           {"abort", member_method},
                                           {"readyState", member_property_get}};
constexpr Operation xml_http_operations[] = {Operation::open,
                                             Operation::send,
                                             Operation::response_body,
                                             Operation::status,
                                             Operation::get_response_header,
                                             Operation::abort,
                                             Operation::ready_state};

constexpr MemberInfo win_http_members[] = {{"Open", member_method},
                                           {"Send", member_method},
                                           {"ResponseBody", member_property_get},
                                           {"Status", member_property_get},
                                           {"GetResponseHeader", member_method},
                                           {"Abort", member_method},
                                           {"WaitForResponse", member_method},
                                           {"SetTimeouts", member_method}};
constexpr Operation win_http_operations[] = {Operation::open,
                                             Operation::send,
                                             Operation::response_body,
                                             Operation::status,
                                             Operation::get_response_header,
                                             Operation::abort,
                                             Operation::wait_for_response,
                                             Operation::set_timeouts};

static_assert(std::size(xml_http_members) == std::size(xml_http_operations));
static_assert(std::size(win_http_members) == std::size(win_http_operations));

enum class Kind { xml_http, win_http };

constexpr int32_t ready_state_unsent = 0;
constexpr int32_t ready_state_opened = 1;
constexpr int32_t ready_state_complete = 4;

class HttpRequest final : public AutomationInstance {
 public:
  explicit HttpRequest(Kind kind) : kind_(kind) {}

  std::span<const MemberInfo> members() const override {
    if (kind_ == Kind::xml_http) return xml_http_members;
    return win_http_members;
  }

  int32_t invoke(int32_t id, const Variant* arguments, int32_t count, Variant& result) override {
    const Operation operation = kind_ == Kind::xml_http ? xml_http_operations[id] : win_http_operations[id];
    switch (operation) {
      case Operation::open: return open(arguments, count);
      case Operation::send: return count > 1 ? failure::bad_parameter_count : send();
      case Operation::response_body: return count > 0 ? failure::bad_parameter_count : response_body(result);
      case Operation::status: return count > 0 ? failure::bad_parameter_count : status(result);
      case Operation::get_response_header: return response_header(arguments, count, result);
      case Operation::abort: return count > 0 ? failure::bad_parameter_count : abort();
      case Operation::ready_state: return count > 0 ? failure::bad_parameter_count : ready_state(result);
      case Operation::wait_for_response: return wait_for_response(arguments, count, result);
      case Operation::set_timeouts: return set_timeouts(arguments, count);
    }
    return failure::unspecified;
  }

 private:
  // The time-outs SetTimeouts gave, in milliseconds; 0 for none of that kind.
  struct Timeouts {
    int32_t connect;
    int32_t receive;
  };

  int32_t open(const Variant* arguments, int32_t count) {
    const int32_t most = kind_ == Kind::xml_http ? 5 : 3;
    if (count < 2 || count > most) return failure::bad_parameter_count;
    if (arguments[0].type != variant_string || arguments[1].type != variant_string) return failure::type_mismatch;
    forget_answer();
    ready_state_ = ready_state_unsent;
    opened_ = false;
    timeouts_.reset();  // time-outs are set after open, as the WinHTTP class of Wine needs
    const char* method = arguments[0].pointer<const char>();
    const char* address = arguments[1].pointer<const char>();
    // Asynchronous or not, the transfer runs within send.
    if (count >= 3 && !is_missing(arguments[2]) && truth_of(arguments[2]) < 0) return failure::type_mismatch;
    for (int32_t i = 3; i < count; ++i)  // a user name or password
      if (!is_missing(arguments[i]) && !(arguments[i].type == variant_string && !arguments[i].value))
        return failure::not_implemented;
    if (method == nullptr || strcasecmp(method, "GET") != 0) return failure::not_implemented;
    if (address == nullptr) return failure::invalid_address;
    address_ = wire_address(address);
    if (strncasecmp(address_.c_str(), "http://", 7) != 0 && strncasecmp(address_.c_str(), "https://", 8) != 0)
      return failure::unrecognized_scheme;
    opened_ = true;
    ready_state_ = ready_state_opened;
    return 0;
  }

  int32_t send() {
    if (!opened_) return failure::not_opened;
    forget_answer();
    CURL* handle = take_handle();
    if (handle == nullptr) return failure::not_initialized;
    const FetchLimits limits = fetch_limits();
    const int32_t connect = timeouts_ ? timeouts_->connect : limits.connect_milliseconds;
    const int32_t silence = timeouts_ ? timeouts_->receive : limits.silence_milliseconds;
    Transfer transfer{handle, body_, headers_, g_maximum_body_bytes.load(), silence};
    curl_easy_setopt(handle, CURLOPT_URL, address_.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, long(g_maximum_redirects.load()));
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    // Name resolution and connection together; 0 leaves libcurl's own limit.
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(connect));
    // Less than 1 byte/s for the silence limit (whole seconds, at least one)
    // ends the transfer, and so does no byte at all for that long (counted from
    // the start, the connection included); 0 turns both checks off.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, silence > 0 ? long((silence + 999) / 1000) : 0L);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watch_silence);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(limits.total_milliseconds));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(transfer.limit));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receive_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    const CURLcode code = perform(handle);
    long answer_status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer_status);
    give_back_handle(handle);
    if (code != CURLE_OK) {
      forget_answer();
      transfer_failure_ = transfer.too_large ? failure::body_too_large
                          : transfer.silent  ? failure::timed_out
                                             : failure_of(code);
      return transfer_failure_;
    }
    answered_ = true;
    status_ = int32_t(answer_status);
    ready_state_ = ready_state_complete;
    return 0;
  }

  // Before an answer: the XMLHTTP classes fail as a request that is not
  // complete does, the WinHTTP class as one that was not sent.
  int32_t no_answer() const { return kind_ == Kind::xml_http ? failure::unspecified : failure::not_sent; }

  int32_t response_body(Variant& result) const {
    if (!answered_) return failure::data_pending;
    void* bytes = nullptr;
    if (!body_.empty() && (bytes = heap_byte_set(body_)) == nullptr) return failure::out_of_memory;
    result.type = variant_byte_array;
    result.value = reinterpret_cast<uintptr_t>(bytes);
    return 0;
  }

  int32_t status(Variant& result) const {
    if (!answered_) return no_answer();
    result.type = variant_int32;
    result.value = uint32_t(status_);
    return 0;
  }

  // An absent header is an empty string on the XMLHTTP classes and a failure
  // on the WinHTTP class.
  int32_t response_header(const Variant* arguments, int32_t count, Variant& result) const {
    if (count != 1) return failure::bad_parameter_count;
    if (arguments[0].type != variant_string) return failure::type_mismatch;
    if (!answered_) return no_answer();
    const char* name = arguments[0].pointer<const char>();
    const auto found = std::find_if(headers_.begin(), headers_.end(), [name](const Header& header) {
      return name && strcasecmp(header.first.c_str(), name) == 0;
    });
    if (found != headers_.end()) {
      char* value = nullptr;
      if (!found->second.empty() && (value = heap_string(found->second)) == nullptr) return failure::out_of_memory;
      result.type = variant_string;
      result.value = reinterpret_cast<uintptr_t>(value);
      return 0;
    }
    if (kind_ == Kind::win_http) return failure::header_not_found;
    result.type = variant_string;  // the empty string
    return 0;
  }

  int32_t abort() {
    forget_answer();
    opened_ = false;
    ready_state_ = ready_state_unsent;
    return 0;
  }

  int32_t ready_state(Variant& result) const {
    result.type = variant_int32;
    result.value = uint32_t(ready_state_);
    return 0;
  }

  // The transfer has run within send: the answer is there, or the transfer's
  // failure is reported; before send nothing is waited for.
  int32_t wait_for_response(const Variant* arguments, int32_t count, Variant& result) const {
    if (count > 1) return failure::bad_parameter_count;
    if (count == 1 && !is_missing(arguments[0]) && !integer_of(arguments[0])) return failure::type_mismatch;
    if (transfer_failure_ != 0) return transfer_failure_;
    result.type = variant_bool;
    result.value = answered_ ? 0xFFFF : 0;
    return 0;
  }

  // Each value in milliseconds; 0 or -1 for no time-out of that kind. The
  // connect and receive values take the place of the connect and silence
  // limits for this request; the total limit stays.
  int32_t set_timeouts(const Variant* arguments, int32_t count) {
    if (count != 4) return failure::bad_parameter_count;
    int32_t values[4];
    for (int32_t i = 0; i < 4; ++i) {
      const std::optional<int64_t> value = integer_of(arguments[i]);
      if (!value) return failure::type_mismatch;
      if (*value < -1 || *value > INT32_MAX) return failure::invalid_argument;
      values[i] = *value < 0 ? 0 : int32_t(*value);
    }
    timeouts_ = Timeouts{values[1], values[3]};
    return 0;
  }

  void forget_answer() {
    answered_ = false;
    transfer_failure_ = 0;
    status_ = 0;
    body_.clear();
    body_.shrink_to_fit();
    headers_.clear();
    if (opened_) ready_state_ = ready_state_opened;
  }

  Kind kind_;
  std::string address_;
  bool opened_ = false;
  bool answered_ = false;
  int32_t ready_state_ = ready_state_unsent;
  int32_t transfer_failure_ = 0;  // the HRESULT of the last failed transfer
  int32_t status_ = 0;
  std::optional<Timeouts> timeouts_;
  std::vector<unsigned char> body_;
  std::vector<Header> headers_;
};

}  // namespace

AutomationInstance* create_xml_http_request() { return new HttpRequest(Kind::xml_http); }

AutomationInstance* create_win_http_request() { return new HttpRequest(Kind::win_http); }

HttpLimits default_http_limits() { return default_limits; }

HttpLimits http_limits() { return {g_maximum_redirects.load(), g_maximum_body_bytes.load()}; }

void set_http_limits(const HttpLimits& limits) {
  g_maximum_redirects = limits.maximum_redirects;
  g_maximum_body_bytes = limits.maximum_body_bytes;
}

bool http_start() {
  CurlState& state = curl_state();
  std::lock_guard guard(state.lock);
  if (state.open) return false;
  // Ended while requests still ran: libcurl was never ended, so it goes on.
  if (!state.end_pending) curl_global_init(CURL_GLOBAL_DEFAULT);
  state.end_pending = false;
  state.open = true;
  return true;
}

void http_end() {
  CurlState& state = curl_state();
  std::lock_guard guard(state.lock);
  if (!state.open) return;
  state.open = false;
  state.end_pending = true;
  close_idle(state);
  if (state.busy == 0) end_curl(state);
}

}  // namespace platform
