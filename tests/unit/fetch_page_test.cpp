#include "web/fetch_page.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "runtime/automation.h"
#include "unit/fixture_server.h"

namespace {

// "创建XMLHTTP对象失败:"
const std::string creation_failed = "\xb4\xb4\xbd\xa8XMLHTTP\xb6\xd4\xcf\xf3\xca\xa7\xb0\xdc:";

class FetchPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { os::com_initialize(); }
  void SetUp() override { REQUIRE_FIXTURE_SERVER(); }

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
    EXPECT_EQ(fetch(address), "");
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
      os::com_initialize();
      for (int i = 0; i < 5; ++i) results[k * 5 + i] = fetch(fixture_address("/fixture_server/pages/utf8.html"));
      os::com_uninitialize();
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (size_t i = 0; i < results.size(); ++i) EXPECT_TRUE(results[i] == page) << "fetch " << i;
}

}  // namespace
