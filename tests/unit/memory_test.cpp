#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "novel/book.h"
#include "platform/os.h"
#include "unit/fatal_box.h"

namespace {

const char k_constant_text[] = "a constant text of the program image";

TEST(RuntimeFree, IgnoresWhatIsNotAHeapBlock) {
  int on_stack = 7;
  struct Case {
    const char* name;
    const void* pointer;
  } cases[] = {
      {"null", nullptr},
      {"small value", reinterpret_cast<const void*>(uintptr_t(0x1234))},
      {"just below 0x10000", reinterpret_cast<const void*>(uintptr_t(0xFFFF))},
      {"constant text", k_constant_text},
      {"inside a constant text", k_constant_text + 5},
      {"stack variable", &on_stack},
      {"first address past the small values", reinterpret_cast<const void*>(uintptr_t(0x10000))},
      {"unreadable last page", reinterpret_cast<const void*>(~uintptr_t(0xFFF))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runtime_free(c.pointer);
  }
  EXPECT_EQ(on_stack, 7);
  EXPECT_STREQ(k_constant_text, "a constant text of the program image");
}

TEST(RuntimeFree, LeavesForeignBlocksAndInteriorPointersAlone) {
  char* block = static_cast<char*>(runtime_alloc(64));
  std::memset(block, 'x', 64);
  runtime_free(block + 16);  // not the start of a block
  EXPECT_EQ(block[16], 'x');
  runtime_free(block);
}

TEST(RuntimeFree, ASecondFreeOfTheSameBlockIsHarmless) {
  void* first = runtime_alloc(40);
  runtime_free(first);
  runtime_free(first);
  // The heap may hand the same address out again; it must still be whole.
  char* second = static_cast<char*>(runtime_alloc(40));
  std::memcpy(second, "still here", 11);
  char* third = static_cast<char*>(runtime_alloc(40));
  EXPECT_STREQ(second, "still here");
  runtime_free(second);
  runtime_free(third);
}

TEST(RuntimeHeap, ServesManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> damaged{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &damaged] {
      for (int i = 0; i < 5000; ++i) {
        auto* block = static_cast<unsigned char*>(runtime_alloc(16 + i % 64));
        block[0] = static_cast<unsigned char>(t);
        block = static_cast<unsigned char*>(runtime_realloc(block, 200 + i % 300));
        if (block[0] != t) ++damaged;
        // Freed once only: between two frees another thread may be handed the
        // same address, and the second free would then release its block.
        runtime_free(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(damaged.load(), 0);
}

TEST(ProgramImage, HoldsConstantsButNotHeapOrStack) {
  int on_stack = 0;
  void* heap = runtime_alloc(8);
  EXPECT_TRUE(is_in_program_image(k_constant_text));
  EXPECT_TRUE(is_in_program_image(reinterpret_cast<const void*>(&runtime_alloc)));
  EXPECT_FALSE(is_in_program_image(heap));
  EXPECT_FALSE(is_in_program_image(&on_stack));
  EXPECT_FALSE(is_in_program_image(nullptr));
  runtime_free(heap);
}

TEST(RuntimeAlloc, ZeroFillsAndKeepsContentsWhenResized) {
  for (size_t size : {size_t(0), size_t(1), size_t(15), size_t(4096), size_t(1) << 20}) {
    SCOPED_TRACE(size);
    auto* zeroed = static_cast<unsigned char*>(runtime_alloc(size));
    ASSERT_NE(zeroed, nullptr);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(zeroed[i], 0) << "byte " << i;
    auto* grown = static_cast<unsigned char*>(runtime_realloc(zeroed, size + 100));
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(grown[i], 0) << "byte " << i;
    runtime_free(grown);

    auto* fresh = static_cast<unsigned char*>(runtime_realloc(nullptr, size));
    ASSERT_NE(fresh, nullptr);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(fresh[i], 0) << "byte " << i;
    runtime_free(fresh);
  }
  char* raw = static_cast<char*>(runtime_alloc_raw(10));
  std::memcpy(raw, "123456789", 10);
  raw = static_cast<char*>(runtime_realloc(raw, 3));
  EXPECT_EQ(std::string(raw, 3), "123");
  runtime_free(raw);
}

TEST(RuntimeError, MessagesByNumber) {
  EXPECT_STREQ(runtime_error_message(0), "");
  EXPECT_STREQ(runtime_error_message(12), "");
  EXPECT_STREQ(runtime_error_message(-1), "");
  // "数组成员引用下标超出定义范围"
  EXPECT_STREQ(
      runtime_error_message(1),
      "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb3\xac\xb3\xf6\xb6\xa8\xd2\xe5\xb7\xb6"
      "\xce\xa7");
  // "所提供参数的数据类型不符合要求"
  EXPECT_STREQ(
      runtime_error_message(11),
      "\xcb\xf9\xcc\xe1\xb9\xa9\xb2\xce\xca\xfd\xb5\xc4\xca\xfd\xbe\xdd\xc0\xe0\xd0\xcd\xb2\xbb\xb7\xfb\xba\xcf"
      "\xd2\xaa\xc7\xf3");
  for (int32_t number = 1; number <= 11; ++number) EXPECT_GT(std::strlen(runtime_error_message(number)), 8u) << number;
}

// "program internal error number is 4. \r\n数组成员引用下标必须大于等于1\r\n错误位置:67174789,244(仅5.8以上版本有效)"
const char k_error_4_text[] =
    "program internal error number is 4. \r\n"
    "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb1\xd8\xd0\xeb\xb4\xf3\xd3\xda\xb5\xc8\xd3\xda"
    "1\r\n\xb4\xed\xce\xf3\xce\xbb\xd6\xc3:67174789,244(\xbd\xf6"
    "5.8\xd2\xd4\xc9\xcf\xb0\xe6\xb1\xbe\xd3\xd0\xd0\xa7)";

TEST(RuntimeError, FormatsNumberMessageAndSignedLocation) {
  char text[256];
  format_runtime_error(text, 4, 0x04010185, 244);
  EXPECT_STREQ(text, k_error_4_text);
  format_runtime_error(text, 99, -5, -2147483647 - 1);
  EXPECT_STREQ(text,
               "program internal error number is 99. \r\n\r\n\xb4\xed\xce\xf3\xce\xbb\xd6\xc3:-5,-2147483648(\xbd\xf6"
               "5.8\xd2\xd4\xc9\xcf\xb0\xe6\xb1\xbe\xd3\xd0\xd0\xa7)");
}

void note_program_cleanup() { std::fputs("[program]", stderr); }
void note_files_cleanup() { std::fputs("[files]", stderr); }
void note_libraries_cleanup() { std::fputs("[libraries]", stderr); }

TEST(RuntimeErrorDeathTest, ShowsTheBoxThenRunsEveryHookAndExitsWithZero) {
  use_threadsafe_death_tests();
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        g_program_cleanup = note_program_cleanup;
        g_files_cleanup = note_files_cleanup;
        g_libraries_cleanup = note_libraries_cleanup;
        raise_runtime_error(4, Location{0x04010185, 244});
      },
      testing::ExitedWithCode(0),
      expected_box("error", k_error_4_text, platform::message_box_icon_error) +
          "\\[program\\]\\[files\\]\\[libraries\\]$");
}

// A chapter worker meets a fatal error (a bad index into the Book's lists)
// while the main thread still reads the Book, as the download's wait does: the
// box shows and the process ends with exit code 0, and nothing the main thread
// holds is freed under it (which the sanitizer builds would report).
TEST(RuntimeErrorDeathTest, OnAWorkerThreadFreesNothingTheMainThreadUses) {
  use_threadsafe_death_tests();
  char error_1_text[256];
  format_runtime_error(error_1_text, 1, 0x04010185, 244);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_startup();
        create_book();
        g_program_cleanup = [] {
          std::fputs("[program]", stderr);
          release_book();
        };
        g_book.chapter_texts.set(1, Text::copy_of("chapter one"), Location{0x04010184, 0x4d});
        std::thread([] { g_book.chapter_texts.at(2, Location{0x04010185, 244}); }).detach();
        for (;;) {
          const char* text = g_book.chapter_texts.at(1, Location{0x04010184, 0x4d});
          if (std::strlen(text) != 11) std::abort();
        }
      },
      testing::ExitedWithCode(0), expected_box("error", error_1_text, platform::message_box_icon_error) + "$");
}

TEST(RuntimeExitDeathTest, SkipsHooksThatAreNotSet) {
  use_threadsafe_death_tests();
  EXPECT_EXIT(
      {
        g_program_cleanup = note_program_cleanup;
        g_files_cleanup = nullptr;
        g_libraries_cleanup = nullptr;
        runtime_exit(3);
      },
      testing::ExitedWithCode(3), "^\\[program\\]$");
}

TEST(RuntimeExitDeathTest, RunsTheShutdownOnceWhenAHookEndsTheProcessAgain) {
  use_threadsafe_death_tests();
  EXPECT_EXIT(
      {
        g_program_cleanup = [] {
          std::fputs("[program]", stderr);
          runtime_exit(5);
        };
        g_files_cleanup = note_files_cleanup;
        g_libraries_cleanup = nullptr;
        runtime_exit(0);
      },
      testing::ExitedWithCode(5), "^\\[program\\]$");
}

TEST(OutOfMemoryDeathTest, ShowsTheBoxAndExitsWithZero) {
  use_threadsafe_death_tests();
  // "内存不足"
  const std::string box = expected_box("error", "\xc4\xda\xb4\xe6\xb2\xbb\xd7\xe3", platform::message_box_icon_error);
  const size_t impossible = SIZE_MAX - 8;
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_alloc(impossible);
      },
      testing::ExitedWithCode(0), box);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_alloc_raw(impossible);
      },
      testing::ExitedWithCode(0), box);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_realloc(runtime_alloc(16), impossible);
      },
      testing::ExitedWithCode(0), box);
  // Only blocks of the heap can be resized.
  static char not_a_block[16];
  int on_stack[4] = {};
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_realloc(not_a_block, 32);
      },
      testing::ExitedWithCode(0), box);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        runtime_realloc(on_stack, 32);
      },
      testing::ExitedWithCode(0), box);
}

}  // namespace
