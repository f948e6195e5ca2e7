#include "web/fetch_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/fetch_limits.h"
#include "platform/system.h"
#include "runtime/automation.h"
#include "unit/fixture_server.h"

namespace {

// "创建XMLHTTP对象失败:"
const std::string creation_failed = "\xb4\xb4\xbd\xa8XMLHTTP\xb6\xd4\xcf\xf3\xca\xa7\xb0\xdc:";

constexpr const char* http_classes[] = {"MSXML2.XMLHTTP", "Microsoft.XMLHTTP", "WinHttp.WinHttpRequest.5.1"};

// Short limits, so that the pages that never end fail in seconds.
constexpr platform::FetchLimits quick_limits = {2000, 3000, 5000};

class FetchPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { platform::com_initialize(); }
  void SetUp() override {
    REQUIRE_FIXTURE_SERVER();
    platform::set_fetch_limits(quick_limits);
  }
  void TearDown() override { platform::set_fetch_limits(platform::default_fetch_limits()); }

  static std::string fetch(const std::string& address) { return fetch_page(address.c_str()).c_str(); }
};

TEST_F(FetchPage, BodiesComeBackAsTheServerSentThem) {
  const std::string utf8_page = fixture_file("/fixture_server/pages/utf8.html");
  ASSERT_GT(utf8_page.size(), 4000u);
  struct Case {
    const char* path;
    std::string expected;
  } cases[] = {
      {"/fixture_server/pages/utf8.html", utf8_page},
      {"/empty", ""},
      {"/nul", "abc"},  // the fourth byte is zero
      {"/status/404", "<html><head><title>404</title></head><body><h1>status 404</h1></body></html>"},
      {"/status/500", "<html><head><title>500</title></head><body><h1>status 500</h1></body></html>"},
      {"/redirect/3/fixture_server/pages/utf8.html", utf8_page},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string body = fetch(fixture_address(c.path));
    EXPECT_EQ(body.size(), c.expected.size());
    EXPECT_TRUE(body == c.expected);
  }
}

TEST_F(FetchPage, FailedRequestsGiveTheEmptyText) {
  const std::string closed_port = "http://127.0.0.1:1/";
  for (const std::string& address : {std::string(), std::string("not an address"), closed_port}) {
    SCOPED_TRACE(address);
    const PageAnswer answer = fetch_page_answer(address.c_str());
    EXPECT_EQ(std::string(answer.body.c_str()), "");
    EXPECT_EQ(answer.status, 0);
  }
}

TEST_F(FetchPage, EachClassReadsTheStatusAndRetryAfter) {
  const std::string page = fixture_file("/fixture_server/pages/utf8.html");
  auto status_page = [](int code) {
    const std::string number = std::to_string(code);
    return "<html><head><title>" + number + "</title></head><body><h1>status " + number + "</h1></body></html>";
  };
  const std::string date = "Wed, 21 Oct 2015 07:28:00 GMT";
  struct Case {
    std::string path;
    int32_t status;
    std::string body;
    std::string retry_after;
  } cases[] = {
      {"/fixture_server/pages/utf8.html", 200, page, ""},
      {"/status/404", 404, status_page(404), ""},
      {"/status/503?retry-after=120", 503, status_page(503), "120"},
      {"/status/429?retry-after=Wed%2C%2021%20Oct%202015%2007%3A28%3A00%20GMT", 429, status_page(429), date},
  };
  for (const char* name : http_classes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(name) + " " + c.path);
      const PageAnswer answer = fetch_page_answer_through(name, fixture_address(c.path).c_str());
      EXPECT_EQ(answer.status, c.status);
      EXPECT_TRUE(answer.body.c_str() == c.body) << answer.body.c_str();
      EXPECT_EQ(std::string(answer.retry_after.c_str()), c.retry_after);
    }
  }
  const PageAnswer first_class = fetch_page_answer(fixture_address("/status/503?retry-after=7").c_str());
  EXPECT_EQ(first_class.status, 503);
  EXPECT_STREQ(first_class.retry_after.c_str(), "7");
}

TEST_F(FetchPage, EveryFetchEndsWithinTheLimits) {
  // A server that never answers, one that stops after a few bytes and one that
  // sends a byte a second: each class gives up on each, with nothing kept of
  // what had arrived. The cases run side by side, so the slow ones cost the
  // time of one.
  const char* paths[] = {"/silent", "/stall", "/trickle"};
  struct Outcome {
    std::string what;
    int32_t status = -1;
    std::string body = "not run";
    double seconds = 0;
  };
  std::vector<Outcome> outcomes;
  for (const char* name : http_classes)
    for (const char* path : paths) outcomes.push_back({std::string(name) + " " + path});
  std::vector<std::thread> threads;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    threads.emplace_back([&, i] {
      platform::com_initialize();
      const auto start = std::chrono::steady_clock::now();
      const PageAnswer answer = fetch_page_answer_through(http_classes[i / std::size(paths)],
                                                          fixture_address(paths[i % std::size(paths)]).c_str());
      outcomes[i].seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      outcomes[i].status = answer.status;
      outcomes[i].body = answer.body.c_str();
      platform::com_uninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const Outcome& o : outcomes) {
    SCOPED_TRACE(o.what);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.body, "");
    EXPECT_LT(o.seconds, quick_limits.total_milliseconds / 1000.0 + 5);
  }
}

TEST_F(FetchPage, ThreadWithoutComGetsTheCreationFailure) {
  // Only threads that initialised COM can make the HTTP object: the failure
  // text is the prefix and the system's text for "not initialised".
  AutomationObject reason{nullptr, result_com_not_initialized};
  const std::string expected = creation_failed + object_error_text(reason).c_str();
  std::string result;
  std::thread worker([&] { result = fetch(fixture_address("/empty")); });
  worker.join();
  EXPECT_EQ(result, expected);
}

TEST_F(FetchPage, TenThreadsFetchAtOnce) {
  const std::string page = fixture_file("/fixture_server/pages/utf8.html");
  std::vector<std::string> results(10 * 5);
  std::vector<std::thread> workers;
  for (int k = 0; k < 10; ++k) {
    workers.emplace_back([&, k] {
      platform::com_initialize();
      for (int i = 0; i < 5; ++i) results[k * 5 + i] = fetch(fixture_address("/fixture_server/pages/utf8.html"));
      platform::com_uninitialize();
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (size_t i = 0; i < results.size(); ++i) EXPECT_TRUE(results[i] == page) << "fetch " << i;
}

}  // namespace
