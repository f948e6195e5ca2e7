#include "runtime/binding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"
#include "unit/fatal_box.h"

namespace {

// "同目录下无法找到DLL文件:\"%s\".请与作者联系."
std::string library_missing_text(const std::string& library) {
  return "\xcd\xac\xc4\xbf\xc2\xbc\xcf\xc2\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd"
         "DLL\xce\xc4\xbc\xfe:\"" +
         library + "\".\xc7\xeb\xd3\xeb\xd7\xf7\xd5\xdf\xc1\xaa\xcf\xb5.";
}

// "无法定位DLL文件:\"%s\"当中的\"%s\"函数."
std::string function_missing_text(const std::string& library, const std::string& function) {
  return "\xce\xde\xb7\xa8\xb6\xa8\xce\xbb"
         "DLL\xce\xc4\xbc\xfe:\"" +
         library + "\"\xb5\xb1\xd6\xd0\xb5\xc4\"" + function + "\"\xba\xaf\xca\xfd.";
}

std::string dll_error_box(const std::string& text) {
  return expected_box("DLL ERROR", text.c_str(), platform::message_box_icon_error);
}

int32_t PLATFORM_API twice(int32_t value) { return 2 * value; }

// A pretend operating system: "present" is in the process, "lib<n>" can be
// loaded, anything else cannot. Every library exports "Twice", "Twice@8",
// ordinal 5 and every name made only of 'T'.
struct FakeSystem {
  int module_handle_calls = 0;
  int find_function_calls = 0;
  std::vector<std::string> loaded;
  std::vector<uintptr_t> freed;
  std::vector<std::string> looked_up;  // names, or "#n" for ordinals
};
FakeSystem g_fake;

platform::Handle handle_of(uintptr_t number) { return reinterpret_cast<platform::Handle>(number); }

platform::Handle PLATFORM_API fake_module_handle(const char* library) {
  ++g_fake.module_handle_calls;
  return std::strcmp(library, "present") == 0 ? handle_of(0x1000) : nullptr;
}

platform::Handle PLATFORM_API fake_load_library(const char* library) {
  if (std::strncmp(library, "lib", 3) != 0) return nullptr;
  g_fake.loaded.push_back(library);
  return handle_of(0x2000 + 4 * g_fake.loaded.size());
}

void* PLATFORM_API fake_find_function(platform::Handle, const char* name) {
  ++g_fake.find_function_calls;
  auto key = reinterpret_cast<uintptr_t>(name);
  if (key < 0x10000) {
    g_fake.looked_up.push_back("#" + std::to_string(key));
    return key == 5 ? reinterpret_cast<void*>(&twice) : nullptr;
  }
  g_fake.looked_up.push_back(name);
  bool exported = std::strcmp(name, "Twice") == 0 || std::strcmp(name, "Twice@8") == 0 ||
                  std::strspn(name, "T") == std::strlen(name);
  return exported ? reinterpret_cast<void*>(&twice) : nullptr;
}

platform::Bool PLATFORM_API fake_free_library(platform::Handle module) {
  g_fake.freed.push_back(reinterpret_cast<uintptr_t>(module));
  return 1;
}

class BinderTest : public testing::Test {
 protected:
  void SetUp() override {
    use_threadsafe_death_tests();
    saved_ = g_library_calls;
    g_library_calls = {fake_module_handle, fake_load_library, fake_find_function, fake_free_library};
    g_fake = FakeSystem{};
    free_loaded_libraries();
    g_fake.freed.clear();
    g_libraries_cleanup = nullptr;
  }
  void TearDown() override {
    free_loaded_libraries();
    g_libraries_cleanup = nullptr;
    g_library_calls = saved_;
  }

 private:
  LibraryCalls saved_{};
};

using Twice = int32_t(PLATFORM_API*)(int32_t);

TEST_F(BinderTest, FirstCallBindsAndLaterCallsGoStraightToTheFunction) {
  ApiSlot<Twice> slot{"present", "Twice"};
  EXPECT_FALSE(slot.bound());
  EXPECT_EQ(slot.get()(21), 42);
  EXPECT_TRUE(slot.bound());
  EXPECT_EQ(g_fake.module_handle_calls, 1);
  EXPECT_EQ(g_fake.find_function_calls, 1);
  EXPECT_EQ(slot.get()(5), 10);
  EXPECT_EQ(slot.get()(-1), -2);
  EXPECT_EQ(g_fake.module_handle_calls, 1);
  EXPECT_EQ(g_fake.find_function_calls, 1);
  EXPECT_TRUE(g_fake.loaded.empty());
  EXPECT_EQ(g_libraries_cleanup, nullptr) << "nothing was loaded, so nothing is freed at shutdown";
}

TEST_F(BinderTest, LooksUpOrdinalsAndCutsDecorationsAtTheFirstDoubleAt) {
  struct Case {
    const char* declared;
    const char* looked_up;
  } cases[] = {
      {"Twice", "Twice"},         {"#5", "#5"},           {"#05", "#5"},
      {"Twice@@YAHH@Z", "Twice"}, {"Twice@8", "Twice@8"}, {"Twice@@", "Twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared);
    g_fake.looked_up.clear();
    std::atomic<void*> slot{nullptr};
    EXPECT_EQ(bind_api("present", c.declared, &slot), reinterpret_cast<void*>(&twice));
    EXPECT_EQ(slot.load(), reinterpret_cast<void*>(&twice));
    ASSERT_EQ(g_fake.looked_up.size(), 1u);
    EXPECT_EQ(g_fake.looked_up[0], c.looked_up);
  }
}

TEST_F(BinderTest, MissingFunctionsAreNamedAsDeclared) {
  struct Case {
    std::string declared;
  } cases[] = {{"Nothing"}, {"#7"}, {"#"}, {"#70000"}, {"#-3"}, {"Nothing@@4"}, {std::string(1024, 'T')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared.substr(0, 40));
    // The box shows at most what its 1024-byte buffer holds.
    std::string expected = function_missing_text("present", c.declared).substr(0, 1023);
    EXPECT_EXIT(
        {
          observe_boxes_on_stderr();
          std::atomic<void*> slot{nullptr};
          bind_api("present", c.declared.c_str(), &slot);
        },
        testing::ExitedWithCode(0), dll_error_box(expected));
  }
}

TEST_F(BinderTest, NamesJustShortOfTheBufferAreLookedUp) {
  std::string name(1023, 'T');
  std::atomic<void*> slot{nullptr};
  EXPECT_EQ(bind_api("present", name.c_str(), &slot), reinterpret_cast<void*>(&twice));
  ASSERT_EQ(g_fake.looked_up.size(), 1u);
  EXPECT_EQ(g_fake.looked_up[0], name);
}

TEST_F(BinderTest, AMissingLibraryEndsTheProcessWithItsName) {
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        g_program_cleanup = [] { std::fputs("[program]", stderr); };
        std::atomic<void*> slot{nullptr};
        bind_api("nowhere", "Twice", &slot);
        std::fputs("[bound]", stderr);
      },
      testing::ExitedWithCode(0), dll_error_box(library_missing_text("nowhere")) + "\\[program\\]$");
}

TEST_F(BinderTest, LoadedLibrariesAreFreedAtShutdownInOrder) {
  std::atomic<void*> slot{nullptr};
  bind_api("libone", "Twice", &slot);
  EXPECT_EQ(g_libraries_cleanup, &free_loaded_libraries);
  bind_api("libtwo", "Twice", &slot);
  EXPECT_EQ(g_fake.loaded, (std::vector<std::string>{"libone", "libtwo"}));
  g_libraries_cleanup();
  EXPECT_EQ(g_fake.freed, (std::vector<uintptr_t>{0x2004, 0x2008}));
  g_libraries_cleanup();
  EXPECT_EQ(g_fake.freed.size(), 2u) << "a library is freed once";
}

TEST_F(BinderTest, AFullLibraryTableFailsTheBindingInsteadOfOverflowing) {
  std::atomic<void*> slot{nullptr};
  for (int i = 0; i < loaded_libraries_room; ++i) bind_api(("lib" + std::to_string(i)).c_str(), "Twice", &slot);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        g_libraries_cleanup = [] {
          free_loaded_libraries();
          std::fprintf(stderr, "[freed %d, first %#x]", int(g_fake.freed.size()), unsigned(g_fake.freed.front()));
        };
        bind_api("libextra", "Twice", &slot);
      },
      testing::ExitedWithCode(0), dll_error_box(library_missing_text("libextra")) + "\\[freed 101, first 0x2194\\]");
}

// ---- The real binder and the stack check ----

TEST(Binder, FindsTheDialogAndHandleFunctionsOfTheSystem) {
  ApiSlot<platform::Bool(PLATFORM_API*)(platform::Handle)> close_handle{"kernel32", "CloseHandle"};
  EXPECT_EQ(close_handle.get()(nullptr), 0);
  std::atomic<void*> slot{nullptr};
  EXPECT_NE(bind_api("user32", "EnableWindow", &slot), nullptr);
  EXPECT_NE(bind_api("USER32.DLL", "EndDialog", &slot), nullptr);
  EXPECT_EQ(g_libraries_cleanup, nullptr) << "system libraries are in the process already";
}

TEST(BinderDeathTest, AnUnknownSystemLibraryShowsTheBox) {
  use_threadsafe_death_tests();
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        std::atomic<void*> slot{nullptr};
        bind_api("no_such_library_at_all", "Anything", &slot);
      },
      testing::ExitedWithCode(0), dll_error_box(library_missing_text("no_such_library_at_all")));
}

int32_t PLATFORM_API combine(int32_t hundreds, int32_t tens, const char* ones) {
  return hundreds * 100 + tens * 10 + *ones - '0';
}
int32_t PLATFORM_API identity(int32_t value) { return value; }

TEST(StackCheck, PassesArgumentsInOrderAndReturnsResults) {
  EXPECT_EQ(os_call(Location{0x04010001, 1}, combine, 1, 2, "3"), 123);
  EXPECT_EQ(os_call(Location{0x04010001, 2}, identity, -7), -7);
  uint64_t first = os_call(Location{0x04010001, 3}, platform::get_tick_count64);
  EXPECT_GE(os_call(Location{0x04010001, 4}, platform::get_tick_count64), first);
}

// A function declared with more arguments than it removes leaves the stack
// unbalanced on i686, which the check reports with the caller's location. On
// x86-64 the caller removes the arguments, so there is no check to test.
TEST(StackCheckDeathTest, AWrongDeclarationRaisesError6WithTheLocation) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the stack check exists on i686 only";
  use_threadsafe_death_tests();
  using WrongCloseHandle = platform::Bool(PLATFORM_API*)(platform::Handle, int32_t);
  ApiSlot<WrongCloseHandle> wrong_close_handle{"kernel32", "CloseHandle"};
  auto wrong_identity =
      reinterpret_cast<int32_t(PLATFORM_API*)(int32_t, int32_t)>(reinterpret_cast<void (*)()>(&identity));
  char text[256];
  format_runtime_error(text, 6, 0x040100A0, 25);
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        os_call(Location{0x040100A0, 25}, wrong_close_handle.get(), static_cast<platform::Handle>(nullptr), 0);
      },
      testing::ExitedWithCode(0), expected_box("error", text, platform::message_box_icon_error));
  EXPECT_EXIT(
      {
        observe_boxes_on_stderr();
        os_call(Location{0x040100A0, 25}, wrong_identity, 1, 2);
      },
      testing::ExitedWithCode(0), expected_box("error", text, platform::message_box_icon_error));
}

}  // namespace
