// The HTTP request class of the Linux automation layer, over libcurl. It
// answers the members the page fetch uses, as the Windows classes do:
//   open(method, address[, async[, user[, password]]])  prepares a synchronous GET
//   send([body])                                         performs it
//   responseBody                                         the body as a byte array
// Any HTTP status counts as an answer (an error page has a body like any other).
// Transport failures, time-outs, redirects beyond the limit or to another scheme
// than http and https, and bodies beyond the size limit are failures: send
// returns their HRESULT and there is no body to read.
#include "platform/linux/http_request.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/linux/automation_layer.h"

namespace {

// A browser-like identity of the program's own: some sites answer bare clients
// with an error page.
constexpr const char* user_agent = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) novelfetch/1.0";

// ---- Limits ------------------------------------------------------------------

constexpr HttpLimits default_limits = {15000, 60, 10, int64_t(64) << 20};
std::atomic<int32_t> g_connect_milliseconds{default_limits.connect_milliseconds};
std::atomic<int32_t> g_low_speed_seconds{default_limits.low_speed_seconds};
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

struct Transfer {
  CURL* handle;
  std::vector<unsigned char>& body;
  int64_t limit;
  bool too_large = false;
};

size_t receive(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
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

// ---- The class ----------------------------------------------------------------

class HttpRequest final : public AutomationInstance {
 public:
  std::span<const MemberInfo> members() const override { return member_list; }

  int32_t invoke(int32_t id, const Variant* arguments, int32_t count, Variant& result) override {
    switch (id) {
      case 0: return open(arguments, count);
      case 1: return count > 1 ? failure::bad_parameter_count : send();
      default: return count > 0 ? failure::bad_parameter_count : response_body(result);
    }
  }

 private:
  static constexpr MemberInfo member_list[] = {
      {"open", member_method}, {"send", member_method}, {"responseBody", member_property_get}};

  int32_t open(const Variant* arguments, int32_t count) {
    if (count < 2 || count > 5) return failure::bad_parameter_count;
    if (arguments[0].type != variant_string || arguments[1].type != variant_string) return failure::type_mismatch;
    opened_ = false;
    answered_ = false;
    body_.clear();
    const char* method = arguments[0].pointer<const char>();
    const char* address = arguments[1].pointer<const char>();
    if (count >= 3 && !is_missing(arguments[2])) {
      const int32_t asynchronous = truth_of(arguments[2]);
      if (asynchronous < 0) return failure::type_mismatch;
      if (asynchronous) return failure::not_implemented;  // only synchronous requests
    }
    for (int32_t i = 3; i < count; ++i)  // a user name or password
      if (!is_missing(arguments[i]) && !(arguments[i].type == variant_string && !arguments[i].value))
        return failure::not_implemented;
    if (method == nullptr || strcasecmp(method, "GET") != 0) return failure::not_implemented;
    if (address == nullptr) return failure::invalid_address;
    address_ = wire_address(address);
    if (strncasecmp(address_.c_str(), "http://", 7) != 0 && strncasecmp(address_.c_str(), "https://", 8) != 0)
      return failure::unrecognized_scheme;
    opened_ = true;
    return 0;
  }

  int32_t send() {
    if (!opened_) return failure::not_opened;
    answered_ = false;
    body_.clear();
    CURL* handle = take_handle();
    if (handle == nullptr) return result_com_not_initialized;
    Transfer transfer{handle, body_, g_maximum_body_bytes.load()};
    curl_easy_setopt(handle, CURLOPT_URL, address_.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, long(g_maximum_redirects.load()));
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(g_connect_milliseconds.load()));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, long(g_low_speed_seconds.load()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(transfer.limit));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    const CURLcode code = curl_easy_perform(handle);
    give_back_handle(handle);
    if (code != CURLE_OK) {
      body_.clear();
      body_.shrink_to_fit();
      return transfer.too_large ? failure::body_too_large : failure_of(code);
    }
    answered_ = true;
    return 0;
  }

  int32_t response_body(Variant& result) const {
    if (!answered_) return failure::data_pending;
    void* bytes = make_byte_set(body_.data(), static_cast<int32_t>(body_.size()));
    result.type = variant_byte_array;
    result.value = reinterpret_cast<uintptr_t>(bytes);
    return 0;
  }

  std::string address_;
  bool opened_ = false;
  bool answered_ = false;
  std::vector<unsigned char> body_;
};

}  // namespace

AutomationInstance* create_http_request() { return new HttpRequest; }

HttpLimits default_http_limits() { return default_limits; }

HttpLimits http_limits() {
  return {g_connect_milliseconds.load(), g_low_speed_seconds.load(), g_maximum_redirects.load(),
          g_maximum_body_bytes.load()};
}

void set_http_limits(const HttpLimits& limits) {
  g_connect_milliseconds = limits.connect_milliseconds;
  g_low_speed_seconds = limits.low_speed_seconds;
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
