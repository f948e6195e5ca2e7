// The address of the fixture web server (tests/fixture_server.py) that ctest
// starts for the test programs (tests/fixture_server/tests.cmake) and stops
// after them. Tests that fetch pages skip themselves when it is not running,
// as when the program is started by hand without ctest.
#pragma once

#include <fstream>
#include <string>

// "http://127.0.0.1:PORT" followed by path, or "" when the server is not running.
inline std::string fixture_address(const std::string& path) {
  std::ifstream file(NOVELFETCH_FIXTURE_PORT_FILE);
  int port = 0;
  if (!(file >> port) || port <= 0) return {};
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

// The bytes of a file under the tests folder, which the server serves as its root.
inline std::string fixture_file(const std::string& path) {
  std::ifstream file(std::string(NOVELFETCH_TESTS_DIR) + path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

#define REQUIRE_FIXTURE_SERVER()                                                                               \
  do {                                                                                                         \
    if (fixture_address("/").empty()) GTEST_SKIP() << "the fixture server is not running (run through ctest)"; \
  } while (0)
