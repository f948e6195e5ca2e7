#include "runtime/memory.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>

#include "platform/os.h"
#include "platform/system.h"
#include "runtime/support_modules.h"

ShutdownHook g_program_cleanup = nullptr;
ShutdownHook g_files_cleanup = nullptr;
ShutdownHook g_libraries_cleanup = nullptr;

namespace {

// "error"
constexpr const char* error_caption = "error";
// "内存不足"
constexpr const char* out_of_memory_text = "\xc4\xda\xb4\xe6\xb2\xbb\xd7\xe3";
// "program internal error number is %d. \r\n%s\r\n错误位置:%d,%d(仅5.8以上版本有效)"
constexpr const char* runtime_error_format =
    "program internal error number is %d. \r\n%s\r\n\xb4\xed\xce\xf3\xce\xbb\xd6\xc3:%d,%d(\xbd\xf6"
    "5.8\xd2\xd4\xc9\xcf\xb0\xe6\xb1\xbe\xd3\xd0\xd0\xa7)";

constexpr const char* runtime_error_messages[11] = {
    // 1 "数组成员引用下标超出定义范围"
    "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb3\xac\xb3\xf6\xb6\xa8\xd2\xe5\xb7\xb6\xce\xa7",
    // 2 "未得到所需要的数值型数据"
    "\xce\xb4\xb5\xc3\xb5\xbd\xcb\xf9\xd0\xe8\xd2\xaa\xb5\xc4\xca\xfd\xd6\xb5\xd0\xcd\xca\xfd\xbe\xdd",
    // 3 "引用数组成员时维数不为1且不等于该数组目前所具有的维数"
    "\xd2\xfd\xd3\xc3\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xca\xb1\xce\xac\xca\xfd\xb2\xbb\xce\xaa"
    "1\xc7\xd2\xb2\xbb\xb5\xc8\xd3\xda\xb8\xc3\xca\xfd\xd7\xe9\xc4\xbf\xc7\xb0\xcb\xf9\xbe\xdf\xd3\xd0\xb5\xc4\xce\xac"
    "\xca\xfd",
    // 4 "数组成员引用下标必须大于等于1"
    "\xca\xfd\xd7\xe9\xb3\xc9\xd4\xb1\xd2\xfd\xd3\xc3\xcf\xc2\xb1\xea\xb1\xd8\xd0\xeb\xb4\xf3\xd3\xda\xb5\xc8\xd3\xda"
    "1",
    // 5 "数据或数组类型不匹配"
    "\xca\xfd\xbe\xdd\xbb\xf2\xca\xfd\xd7\xe9\xc0\xe0\xd0\xcd\xb2\xbb\xc6\xa5\xc5\xe4",
    // 6 "调用DLL命令后发现堆栈错误，通常是DLL参数数目不正确"
    "\xb5\xf7\xd3\xc3"
    "DLL\xc3\xfc\xc1\xee\xba\xf3\xb7\xa2\xcf\xd6\xb6\xd1\xd5\xbb\xb4\xed\xce\xf3\xa3\xac\xcd\xa8\xb3\xa3\xca\xc7"
    "DLL\xb2\xce\xca\xfd\xca\xfd\xc4\xbf\xb2\xbb\xd5\xfd\xc8\xb7",
    // 7 "子语句参数未返回数据或者返回了非系统基本类型或数组型数据"
    "\xd7\xd3\xd3\xef\xbe\xe4\xb2\xce\xca\xfd\xce\xb4\xb7\xb5\xbb\xd8\xca\xfd\xbe\xdd\xbb\xf2\xd5\xdf\xb7\xb5\xbb\xd8"
    "\xc1\xcb\xb7\xc7\xcf\xb5\xcd\xb3\xbb\xf9\xb1\xbe\xc0\xe0\xd0\xcd\xbb\xf2\xca\xfd\xd7\xe9\xd0\xcd\xca\xfd\xbe\xdd",
    // 8 "被比较数据只能使用等于或不等于命令比较"
    "\xb1\xbb\xb1\xc8\xbd\xcf\xca\xfd\xbe\xdd\xd6\xbb\xc4\xdc\xca\xb9\xd3\xc3\xb5\xc8\xd3\xda\xbb\xf2\xb2\xbb\xb5\xc8"
    "\xd3\xda\xc3\xfc\xc1\xee\xb1\xc8\xbd\xcf",
    // 9 "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围"
    "\xa1\xb0\xb6\xe0\xcf\xee\xd1\xa1\xd4\xf1\xa1\xb1\xc3\xfc\xc1\xee\xb5\xc4\xcb\xf7\xd2\xfd\xd6\xb5\xb2\xce\xca\xfd"
    "\xd0\xa1\xd3\xda\xc1\xe3\xbb\xf2\xb3\xac\xb3\xf6\xc1\xcb\xcb\xf9\xcc\xe1\xb9\xa9\xb2\xce\xca\xfd\xb1\xed\xb7\xb6"
    "\xce\xa7",
    // 10 "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零"
    "\xa1\xb0\xd6\xd8\xb6\xa8\xd2\xe5\xca\xfd\xd7\xe9\xa1\xb1\xc3\xfc\xc1\xee\xb5\xc4\xca\xfd\xd7\xe9\xce\xac\xb6\xa8"
    "\xd2\xe5\xb2\xce\xca\xfd\xd6\xb5\xb1\xd8\xd0\xeb\xb4\xf3\xd3\xda\xc1\xe3\xbb\xf2\xb5\xa5\xce\xac\xca\xb1\xb4\xf3"
    "\xd3\xda\xb5\xc8\xd3\xda\xc1\xe3",
    // 11 "所提供参数的数据类型不符合要求"
    "\xcb\xf9\xcc\xe1\xb9\xa9\xb2\xce\xca\xfd\xb5\xc4\xca\xfd\xbe\xdd\xc0\xe0\xd0\xcd\xb2\xbb\xb7\xfb\xba\xcf\xd2\xaa"
    "\xc7\xf3",
};

// Values below this are small integers standing where a block is expected.
constexpr uintptr_t lowest_block_address = 0x10000;

// Every block that the runtime heap handed out and has not taken back.
// runtime_free and runtime_realloc act on these only, so any other value (a
// foreign pointer, a block freed already, an unreadable address) is harmless,
// on every system and without probing memory. The blocks are spread over
// shards by address so that the ten workers seldom wait for one another. The
// addresses are kept scrambled: a leak checker that scans memory for pointers
// must not take this table for an owner of every block.
class BlockRegistry {
 public:
  // False when there is no room to note the block.
  bool add(const void* block) {
    Shard& shard = shard_of(block);
    std::lock_guard<std::mutex> hold(shard.lock);
    try {
      shard.blocks.insert(scrambled(block));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  // False when block is not a block of the heap.
  bool remove(const void* block) {
    Shard& shard = shard_of(block);
    std::lock_guard<std::mutex> hold(shard.lock);
    return shard.blocks.erase(scrambled(block)) != 0;
  }

 private:
  static constexpr size_t shard_count = 64;
  struct alignas(64) Shard {
    std::mutex lock;
    std::unordered_set<uintptr_t> blocks;
  };

  static uintptr_t scrambled(const void* block) {
    return ~reinterpret_cast<uintptr_t>(block) ^ static_cast<uintptr_t>(0x5A5A5A5A5A5A5A5Aull);
  }
  Shard& shard_of(const void* block) {
    auto address = reinterpret_cast<uintptr_t>(block);
    return shards_[((address >> 4) ^ (address >> 12)) % shard_count];
  }

  Shard shards_[shard_count];
};

// Made on first use (an allocation may come before any static set-up) and
// never destroyed (threads may still free blocks while the process ends).
BlockRegistry& block_registry() {
  static BlockRegistry* registry = new BlockRegistry;
  return *registry;
}

[[noreturn]] void out_of_memory() {
  platform::message_box(nullptr, out_of_memory_text, error_caption, platform::message_box_icon_error);
  runtime_exit(0);
}

// A new block of the heap, noted in the registry; the out-of-memory path when
// either has no room.
void* registered(void* block) {
  if (!block) out_of_memory();
  if (!block_registry().add(block)) {
    platform::heap_free(block);
    out_of_memory();
  }
  return block;
}

// The thread that runs the shutdown. A second thread that ends the process
// meanwhile waits for that thread to finish; the shutdown thread itself (a
// hook that fails) ends the process at once.
std::atomic<bool> g_shutdown_started{false};
std::atomic<std::thread::id> g_shutdown_thread{};
// The thread that started the runtime, the only one that runs the shutdown;
// no thread before runtime_startup.
std::atomic<std::thread::id> g_runtime_thread{};

}  // namespace

void* runtime_alloc(size_t size) { return registered(platform::heap_allocate(size, true)); }

void* runtime_alloc_raw(size_t size) { return registered(platform::heap_allocate(size, false)); }

void* runtime_adopt(void* block) { return block ? registered(block) : nullptr; }

// A value that is not a block of the heap cannot be resized: like a failed
// resize, it takes the out-of-memory path.
void* runtime_realloc(void* block, size_t size) {
  if (!block) return runtime_alloc(size);
  // Taken out of the registry first: once the heap has moved the block, another
  // thread may be handed the old address and note it again.
  if (!block_registry().remove(block)) out_of_memory();
  void* moved = platform::heap_reallocate(block, size);
  if (!moved) {
    block_registry().add(block);
    out_of_memory();
  }
  return registered(moved);
}

bool is_in_program_image(const void* address) {
  // Worked out once, on first use: the first thread computes it while any other
  // waits, and afterwards each call costs one load of the guard.
  static const platform::ImageRange image_range = platform::program_image_range();
  auto p = reinterpret_cast<uintptr_t>(address);
  return p >= image_range.first && p <= image_range.last;
}

void runtime_free(const void* block) {
  if (reinterpret_cast<uintptr_t>(block) < lowest_block_address) return;
  if (is_in_program_image(block)) return;
  if (!block_registry().remove(block)) return;
  platform::heap_free(const_cast<void*>(block));
}

const char* runtime_error_message(int32_t number) {
  if (number < 1 || number > 11) return "";
  return runtime_error_messages[number - 1];
}

void format_runtime_error(char (&buffer)[256], int32_t number, int32_t routine, int32_t statement) {
  std::snprintf(buffer, sizeof buffer, runtime_error_format, number, runtime_error_message(number), routine, statement);
}

void raise_runtime_error(int32_t number, int32_t routine, int32_t statement) {
  char text[256];
  format_runtime_error(text, number, routine, statement);
  platform::message_box(nullptr, text, error_caption, platform::message_box_icon_error);
  runtime_exit(0);
}

void runtime_startup() {
  g_runtime_thread.store(std::this_thread::get_id());
  platform::com_initialize();
  for (const SupportModuleNotify* entry = g_support_modules; *entry; ++entry)
    (*entry)(support_module_start, reinterpret_cast<intptr_t>(&runtime_service), 0);
}

void runtime_shutdown() {
  if (g_program_cleanup) g_program_cleanup();
  if (g_files_cleanup) g_files_cleanup();
  for (const SupportModuleNotify* entry = g_support_modules; *entry; ++entry) (*entry)(support_module_shutdown, 0, 0);
  if (g_libraries_cleanup) g_libraries_cleanup();
  platform::com_uninitialize();
}

void runtime_exit(int32_t code) {
  if (!g_shutdown_started.exchange(true)) {
    g_shutdown_thread.store(std::this_thread::get_id());
    // Any other thread (a chapter worker that met a fatal error) ends the
    // process without the shutdown: the thread that started the runtime may
    // still be using the Book, the open files and the loaded libraries, and
    // nothing may be freed or closed under it. The system takes all of it back
    // with the process; files were written through, nothing waits in a buffer.
    const std::thread::id runtime_thread = g_runtime_thread.load();
    if (runtime_thread == std::thread::id() || runtime_thread == std::this_thread::get_id()) runtime_shutdown();
    platform::exit_process(code);
  }
  // Another thread is already ending the process.
  if (g_shutdown_thread.load() == std::this_thread::get_id()) platform::exit_process(code);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
