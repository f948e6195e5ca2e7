#include <map>
#include <mutex>
#include <utility>

#include "message_queue/message_queue.h"

#include <windows.h>

namespace {

constexpr UINT run_callback_message = WM_APP + 1;

std::mutex g_lock;
std::map<UINT_PTR, std::pair<QueuedCallback, void*>> g_timers;

LRESULT CALLBACK queue_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == run_callback_message) {
    reinterpret_cast<QueuedCallback>(wparam)(reinterpret_cast<void*>(lparam));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// A message-only window of the calling thread, made on first use.
HWND queue_window() {
  thread_local HWND window = [] {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = queue_window_procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "novelfetch test queue";
    RegisterClassA(&window_class);
    return CreateWindowA("novelfetch test queue", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
  }();
  return window;
}

void CALLBACK on_timer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  std::pair<QueuedCallback, void*> work;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    work = g_timers[timer];
    g_timers.erase(timer);
  }
  work.first(work.second);
}

}  // namespace

void queue_callback(QueuedCallback callback, void* argument, uint32_t delay) {
  if (delay == 0) {
    PostMessageA(queue_window(), run_callback_message, reinterpret_cast<WPARAM>(callback),
                 reinterpret_cast<LPARAM>(argument));
    return;
  }
  std::lock_guard<std::mutex> hold(g_lock);
  UINT_PTR timer = SetTimer(nullptr, 0, delay, on_timer);
  g_timers[timer] = {callback, argument};
}

bool post_quit_message() {
  PostQuitMessage(0);
  return true;
}

bool take_quit_message() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}
