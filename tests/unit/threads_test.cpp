#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "message_queue/message_queue.h"
#include "runtime/memory.h"
#include "runtime/support_modules.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t milliseconds_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// ---- The thread module ----

TEST(ThreadModule, AnswersStartAndShutdownOnly) {
  struct Case {
    int32_t code;
    int32_t answer;
  } cases[] = {{1, 0}, {6, 0}, {2, -1}, {0, -1}, {5, -1}, {7, -1}, {-1, -1}};
  for (const Case& c : cases) EXPECT_EQ(thread_module::module_notify(c.code, 0x12345, 0), c.answer) << c.code;
}

TEST(ThreadModule, KeepsTheServiceEntryItIsStartedWith) {
  runtime_startup();
  EXPECT_EQ(thread_module::service_entry(), reinterpret_cast<intptr_t>(&runtime_service));
  EXPECT_EQ(g_support_modules[0], &thread_module::module_notify);
  EXPECT_EQ(g_support_modules[1], nullptr);
}

// ---- launch_thread ----

std::atomic<int32_t> g_received{0};
std::atomic<int32_t> g_runs{0};

int32_t PLATFORM_API note_parameter(int32_t parameter) {
  g_received = parameter;
  ++g_runs;
  return 0;
}

// Waits (at most ten seconds) until the started threads have run.
bool wait_for_runs(int32_t runs) {
  for (int i = 0; i < 2000 && g_runs.load() < runs; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return g_runs.load() >= runs;
}

TEST(LaunchThread, RunsTheSubroutineWithItsParameter) {
  struct Case {
    const char* name;
    std::vector<ArgCell> cells;
    int32_t expected_parameter;
  } cases[] = {
      {"subroutine only", {cell_subroutine(note_parameter)}, 0},
      {"with parameter", {cell_subroutine(note_parameter), cell_int(-7)}, -7},
      {"omitted parameter", {cell_subroutine(note_parameter), cell_omitted()}, 0},
      {"parameter beyond the count", {cell_subroutine(note_parameter)}, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_runs = 0;
    g_received = 12345;
    ArgCell result = call_module_command(launch_thread, int32_t(c.cells.size()), c.cells.data());
    EXPECT_EQ(result.value, 1u);
    ASSERT_TRUE(wait_for_runs(1));
    EXPECT_EQ(g_received.load(), c.expected_parameter);
  }
}

TEST(LaunchThread, HandsOutTheOpenHandleWhenAsked) {
  g_runs = 0;
  int32_t handle = 0;
  ArgCell cells[] = {cell_subroutine(note_parameter), cell_int(42), cell_by_address(&handle, tag_int32)};
  ArgCell result = call_module_command(launch_thread, 3, cells);
  EXPECT_EQ(result.value, 1u);
  ASSERT_TRUE(wait_for_runs(1));
  EXPECT_EQ(g_received.load(), 42);
  ASSERT_NE(handle, 0);
  platform::Handle open = reinterpret_cast<platform::Handle>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
  EXPECT_NE(platform::close_handle(open), 0) << "the caller owns the open handle";
  EXPECT_EQ(platform::close_handle(open), 0) << "and it was closed once";
}

TEST(LaunchThread, WithoutASubroutineStartsNothing) {
  int32_t handle = 99;
  ArgCell cells[] = {cell_omitted(), cell_int(1), cell_by_address(&handle, tag_int32)};
  ArgCell result = call_module_command(launch_thread, 3, cells);
  EXPECT_EQ(result.value, 0u);
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(call_module_command(launch_thread, 0, cells).value, 0u);
}

TEST(LaunchThread, StartsManyThreadsThatAllRun) {
  g_runs = 0;
  std::vector<ArgCell> cells = {cell_subroutine(note_parameter), cell_int(3)};
  for (int i = 0; i < 50; ++i) ASSERT_EQ(call_module_command(launch_thread, 2, cells.data()).value, 1u);
  EXPECT_TRUE(wait_for_runs(50));
}

// ---- timed_wait ----

TEST(TimedWait, DueTimeIsTheAmountInHundredNanosecondUnits) {
  struct Case {
    int32_t amount;
    int32_t unit;
    int64_t due;
  } cases[] = {
      {1000, 0, -10000000},
      {2, 1, -20000000},
      {1, 2, -600000000},
      {1, 3, -36000000000},
      {3, 7, -210000},  // any other unit: that many milliseconds per unit
      {0, 1, 0},
      {-5, 0, 50000},  // a positive due time lies in the past: no wait
      {4, -1, 40000},
      {std::numeric_limits<int32_t>::max(), 3, std::numeric_limits<int64_t>::min()},
      {std::numeric_limits<int32_t>::min(), 3, std::numeric_limits<int64_t>::max()},
      {std::numeric_limits<int32_t>::max(), 2, -std::numeric_limits<int32_t>::max() * int64_t(600000000)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(timed_wait_due_time(c.amount, c.unit), c.due) << "amount " << c.amount << ", unit " << c.unit;
}

TEST(TimedWait, WaitsTheRequestedTimeAndNoLonger) {
  struct Case {
    int32_t amount;
    int32_t unit;
    int64_t milliseconds;
  } cases[] = {{150, 0, 150}, {1, 1, 1000}, {2, 1, 2000}, {30, 5, 150}, {0, 0, 0}, {-1000, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amount " << c.amount << ", unit " << c.unit);
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(timed_wait(c.amount, c.unit));
    int64_t waited = milliseconds_since(start);
    EXPECT_GE(waited, c.milliseconds);
    EXPECT_LT(waited, c.milliseconds + 5000) << "the wait ends";
  }
}

struct Dispatched {
  Clock::time_point start;
  std::atomic<int64_t> at{-1};
};

void note_dispatch(void* argument) {
  auto* dispatched = static_cast<Dispatched*>(argument);
  dispatched->at = milliseconds_since(dispatched->start);
}

TEST(TimedWait, DispatchesMessagesWhileItWaits) {
  Dispatched dispatched;
  dispatched.start = Clock::now();
  queue_callback(note_dispatch, &dispatched, 50);
  timed_wait(1500, 0);
  int64_t waited = milliseconds_since(dispatched.start);
  EXPECT_GE(waited, 1500);
  ASSERT_GE(dispatched.at.load(), 0) << "the message was dispatched before the wait returned";
  EXPECT_LT(dispatched.at.load(), 1000) << "and while the wait went on, not at its end";
}

struct Nested {
  int depth = 0;
  std::vector<int> order;
};

void wait_inside(void* argument) {
  auto* nested = static_cast<Nested*>(argument);
  nested->order.push_back(++nested->depth);
  timed_wait(100, 0);  // a window procedure that waits itself
  nested->order.push_back(-nested->depth);
}

TEST(TimedWait, CanBeEnteredAgainFromADispatchedMessage) {
  Nested nested;
  queue_callback(wait_inside, &nested, 20);
  Clock::time_point start = Clock::now();
  timed_wait(400, 0);
  EXPECT_GE(milliseconds_since(start), 400);
  EXPECT_EQ(nested.order, (std::vector<int>{1, -1}));
}

// ---- process_pending_messages ----

struct Chain {
  int runs = 0;
};

void run_and_queue_another(void* argument) {
  auto* chain = static_cast<Chain*>(argument);
  if (++chain->runs < 5) queue_callback(run_and_queue_another, chain, 0);
}

TEST(ProcessPendingMessages, DispatchesEverythingQueuedAlsoWhatArrivesMeanwhile) {
  Chain chain;
  queue_callback(run_and_queue_another, &chain, 0);
  Chain other;
  queue_callback(run_and_queue_another, &other, 0);
  process_pending_messages();
  EXPECT_EQ(chain.runs, 5);
  EXPECT_EQ(other.runs, 5);
  process_pending_messages();  // nothing left: returns at once
  EXPECT_EQ(chain.runs, 5);
}

TEST(ProcessPendingMessages, LeavesAQuitMessageAtTheHeadOfTheQueue) {
  if (!post_quit_message()) GTEST_SKIP() << "this platform's message pump has no quit message";
  Clock::time_point start = Clock::now();
  process_pending_messages();
  EXPECT_LT(milliseconds_since(start), 1000);
  EXPECT_TRUE(take_quit_message());
}

TEST(ProcessPendingMessages, IsTheServiceOfCode2018) {
  Chain chain;
  chain.runs = 4;
  queue_callback(run_and_queue_another, &chain, 0);
  EXPECT_EQ(runtime_service(2018, 0, 0), 0);
  EXPECT_EQ(chain.runs, 5);
}

}  // namespace
