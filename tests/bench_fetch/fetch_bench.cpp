// fetch_page against the curl command line on the same 20 KB page of the
// fixture server: count fetches in a row, and count fetches over ten threads
// (curl --parallel --parallel-max 10). Each is measured three times and the
// best time counts, since the machine is shared. Prints both times and their ratio.
//
//   fetch_bench --port-file FILE [--count N]
//
// Where the curl command cannot be run (under Wine) only fetch_page's times are
// printed. Every fetch is checked; a wrong page makes the run fail.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "web/fetch_page.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int thread_count = 10;
constexpr size_t page_size = 20480;
constexpr int rounds = 3;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// count fetches on this thread; false when one of them is not the page.
bool fetch_many(const std::string& address, int count) {
  bool all_good = true;
  for (int i = 0; i < count; ++i)
    if (fetch_page(address.c_str()).length() != int32_t(page_size)) all_good = false;
  return all_good;
}

// The seconds the curl command takes for count fetches of address, or a
// negative number when it cannot be run.
double time_curl(const std::string& address, int count, bool parallel) {
  const std::string config = "fetch_bench_curl.config";
  {
    std::ofstream file(config);
    for (int i = 0; i < count; ++i) file << "url = \"" << address << "\"\noutput = \"/dev/null\"\n";
  }
  const std::string command = std::string("curl --silent --no-progress-meter --fail ") +
                              (parallel ? "--parallel --parallel-max 10 " : "") + "--config " + config;
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = seconds_since(start);
  std::remove(config.c_str());
  return status == 0 ? seconds : -1;
}

void report(const char* what, int count, double ours, double curl) {
  std::printf("%-22s fetch_page %8.3f s (%6.0f pages/s)", what, ours, count / ours);
  if (curl > 0)
    std::printf("   curl %8.3f s (%6.0f pages/s)   ratio %.2f\n", curl, count / curl, ours / curl);
  else
    std::printf("   curl: not available\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string port_file;
  int count = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port-file") == 0) port_file = argv[i + 1];
    if (std::strcmp(argv[i], "--count") == 0) count = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
  }
  int port = 0;
  std::ifstream(port_file) >> port;
  if (port <= 0 || count < thread_count) {
    std::fprintf(stderr, "usage: fetch_bench --port-file FILE [--count N >= 10] (the fixture server must run)\n");
    return 2;
  }
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/fixture_server/pages/page20k.html";

  platform::com_initialize();
  bool all_good = fetch_many(address, 5);  // warm-up: connections, libraries

  double in_a_row = 1e9, in_a_row_curl = 1e9, threaded = 1e9, threaded_curl = 1e9;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    all_good = fetch_many(address, count) && all_good;
    in_a_row = std::min(in_a_row, seconds_since(start));
    in_a_row_curl = std::min(in_a_row_curl, time_curl(address, count, false));

    std::vector<std::thread> threads;
    std::vector<char> good(thread_count, 1);
    start = Clock::now();
    for (int k = 0; k < thread_count; ++k) {
      const int share = count / thread_count + (k < count % thread_count ? 1 : 0);
      threads.emplace_back([&, k, share] {
        platform::com_initialize();
        good[k] = fetch_many(address, share);
        platform::com_uninitialize();
      });
    }
    for (std::thread& thread : threads) thread.join();
    threaded = std::min(threaded, seconds_since(start));
    threaded_curl = std::min(threaded_curl, time_curl(address, count, true));
    for (char g : good) all_good = all_good && g;
  }
  report("in a row", count, in_a_row, in_a_row_curl);
  report("over 10 threads", count, threaded, threaded_curl);

  platform::com_uninitialize();
  if (!all_good) {
    std::fprintf(stderr, "a fetch did not give the 20 KB page\n");
    return 1;
  }
  return 0;
}
