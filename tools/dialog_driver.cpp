// A test program that drives the Windows program's dialog from outside, as a
// user would, and prints what it sees (one line per step, UTF-8) for the
// end-to-end test scripts.
//
//   dialog_driver STEP [ARGS] STEP [ARGS] ...
//
// Steps run in order; the first one that fails prints "FAIL ..." and ends the
// driver with exit code 1. Text arguments may hold \uXXXX escapes, since a
// command line that reaches a Windows program under another locale cannot be
// trusted to carry anything but ASCII.
//
//   find CAPTION MS        wait up to MS milliseconds for a top-level window
//   dialogs CAPTION        every top-level dialog whose caption begins with CAPTION:
//                          "dialog HANDLE CAPTION", one line each
//   use HANDLE             drives the dialog of that window handle (as "dialogs" printed it)
//   units W H              the dialog's client size in dialog units, as its template says
//   controls               id, class, style, extended style, rectangle in dialog units, text
//   window                 caption, style, extended style, client size in pixels
//   icons                  whether the window has a small and a big icon
//   text ID                the text of control ID
//   wait-text ID TEXT MS   wait until control ID holds exactly TEXT
//   focus                  the id of the control that has the keyboard focus
//   type TEXT              types TEXT with the keyboard into the focused control
//   paste TEXT             puts TEXT on the clipboard and presses Ctrl+V in the focused control
//   key NAME               presses escape, enter or tab
//   click ID               clicks control ID with the mouse
//   close                  presses the close box (the system command SC_CLOSE)
//   wait-gone MS           waits until the window has gone
//   alive                  fails when the window has gone
//   rect                   the window's rectangle on the screen: x y width height
//   template FILE          dialog template 1000 and icon 129 as stored in FILE
//   code-page              the ANSI code page of this process
//   sleep MS
//   select-all ID          selects the whole text of edit control ID (what typing then replaces)
//   enabled ID             whether control ID is enabled: "enabled ID 1" or "enabled ID 0"
//   command ID             posts the command of control ID, as a press of an enabled button would
//   ping                   milliseconds until the dialog's thread has answered a sent message
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

HWND g_dialog = nullptr;

std::string utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), count, nullptr, nullptr);
  return out;
}

// Control characters are escaped so that each step prints exactly one line.
std::string quoted(const std::wstring& wide) {
  std::string out = "\"";
  for (char c : utf8(wide)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '"' || c == '\\')
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out + "\"";
}

std::wstring unescaped(const char* argument) {
  std::wstring out;
  for (const char* p = argument; *p; ++p) {
    if (p[0] == '\\' && p[1] == 'u' && std::strlen(p) >= 6) {
      out += static_cast<wchar_t>(std::strtoul(std::string(p + 2, 4).c_str(), nullptr, 16));
      p += 5;
    } else {
      out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
  }
  return out;
}

[[noreturn]] void fail(const std::string& why) {
  std::printf("FAIL %s\n", why.c_str());
  std::fflush(stdout);
  std::exit(1);
}

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::wstring window_text(HWND window) {
  // WM_GETTEXT is marshalled between processes; GetWindowTextW would not ask
  // another process's control.
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(copied));
  return text;
}

// A decimal argument; 0 when it holds no number.
int number(const char* argument) { return static_cast<int>(std::strtol(argument, nullptr, 10)); }

HWND control(const char* id) {
  HWND window = GetDlgItem(g_dialog, number(id));
  if (!window) fail(std::string("no control ") + id);
  return window;
}

void need_dialog() {
  if (!g_dialog || !IsWindow(g_dialog)) fail("no dialog window");
}

// Another process's dialog cannot be asked for its base units (MapDialogRect
// works only inside the dialog's own process), so pixels are scaled back to
// dialog units by the client size that the template gives in units.
SIZE g_units = {0, 0};

RECT dialog_units_of(RECT pixels) {
  RECT client;
  GetClientRect(g_dialog, &client);
  if (g_units.cx <= 0 || g_units.cy <= 0 || client.right <= 0 || client.bottom <= 0) fail("no dialog size in units");
  return {MulDiv(pixels.left, g_units.cx, client.right), MulDiv(pixels.top, g_units.cy, client.bottom),
          MulDiv(pixels.right, g_units.cx, client.right), MulDiv(pixels.bottom, g_units.cy, client.bottom)};
}

std::string hex(unsigned long value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lX", value);
  return buffer;
}

std::string rectangle(RECT r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
         std::to_string(r.bottom - r.top);
}

void bring_to_front() {
  SetForegroundWindow(g_dialog);
  for (int i = 0; i < 50 && GetForegroundWindow() != g_dialog; ++i) Sleep(20);
}

void send_keys(const std::vector<INPUT>& inputs) {
  bring_to_front();
  SendInput(static_cast<UINT>(inputs.size()), const_cast<INPUT*>(inputs.data()), sizeof(INPUT));
  Sleep(300);
}

INPUT key_input(WORD virtual_key, WORD unicode, DWORD flags) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtual_key;
  input.ki.wScan = unicode;
  input.ki.dwFlags = flags;
  return input;
}

// ---- The stored template ------------------------------------------------------

struct Reader {
  const BYTE* at;
  WORD word() {
    WORD value;
    std::memcpy(&value, at, 2);
    at += 2;
    return value;
  }
  DWORD dword() {
    DWORD value;
    std::memcpy(&value, at, 4);
    at += 4;
    return value;
  }
  short sword() { return static_cast<short>(word()); }
  void align() { at = reinterpret_cast<const BYTE*>((reinterpret_cast<uintptr_t>(at) + 3) & ~uintptr_t{3}); }
  // A string, or an ordinal (0xFFFF and a number) shown as "#number".
  std::wstring name() {
    if (word() == 0xFFFF) return L"#" + std::to_wstring(word());
    at -= 2;
    std::wstring text;
    for (WORD c = word(); c; c = word()) text += static_cast<wchar_t>(c);
    return text;
  }
};

void print_template(const char* file) {
  HMODULE module = LoadLibraryExW(unescaped(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) fail(std::string("cannot open ") + file);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1000), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (!found) fail("no dialog template 1000");
  Reader r{static_cast<const BYTE*>(LockResource(LoadResource(module, found)))};
  if (r.word() != 1 || r.word() != 0xFFFF) fail("template 1000 is not a DIALOGEX");
  r.dword();  // help id
  const DWORD extended_style = r.dword();
  const DWORD style = r.dword();
  const WORD count = r.word();
  const short x = r.sword(), y = r.sword(), cx = r.sword(), cy = r.sword();
  const std::wstring menu = r.name();
  const std::wstring window_class = r.name();
  const std::wstring caption = r.name();
  std::string line = "template style=" + hex(style) + " exstyle=" + hex(extended_style) + " at=" + std::to_string(x) +
                     "," + std::to_string(y) + " size=" + std::to_string(cx) + "x" + std::to_string(cy) +
                     " menu=" + quoted(menu) + " class=" + quoted(window_class) + " caption=" + quoted(caption);
  if (style & DS_SETFONT) {
    const WORD points = r.word();
    const WORD weight = r.word();
    const BYTE italic = *r.at++;
    const BYTE charset = *r.at++;
    line += " font=" + quoted(r.name()) + " points=" + std::to_string(points) + " weight=" + std::to_string(weight) +
            " italic=" + std::to_string(italic) + " charset=" + std::to_string(charset);
  }
  say(line);
  for (WORD i = 0; i < count; ++i) {
    r.align();
    r.dword();  // help id
    const DWORD control_extended = r.dword();
    const DWORD control_style = r.dword();
    const short px = r.sword(), py = r.sword(), pcx = r.sword(), pcy = r.sword();
    const DWORD id = r.dword();
    const std::wstring control_class = r.name();
    const std::wstring text = r.name();
    const WORD extra = r.word();
    r.at += extra;
    say("item id=" + std::to_string(id) + " class=" + quoted(control_class) + " style=" + hex(control_style) +
        " exstyle=" + hex(control_extended) + " at=" + std::to_string(px) + "," + std::to_string(py) +
        " size=" + std::to_string(pcx) + "x" + std::to_string(pcy) + " text=" + quoted(text));
  }
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(129), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  if (!group) fail("no icon 129");
  Reader icons{static_cast<const BYTE*>(LockResource(LoadResource(module, group)))};
  icons.word();
  icons.word();
  const WORD images = icons.word();
  for (WORD i = 0; i < images; ++i) {
    // A width or height of 0 stands for 256 pixels.
    const int width = icons.at[0] ? icons.at[0] : 256;
    const int height = icons.at[1] ? icons.at[1] : 256;
    icons.at += 6;  // width, height, colour count, reserved, planes
    const WORD bits = icons.word();
    icons.dword();  // bytes
    icons.word();   // image id
    say("icon 129 image=" + std::to_string(width) + "x" + std::to_string(height) + " bits=" + std::to_string(bits));
  }
  FreeLibrary(module);
}

// ---- Steps ----------------------------------------------------------------

void find(const char* caption, const char* milliseconds) {
  const std::wstring wanted = unescaped(caption);
  const DWORD until = GetTickCount() + std::strtoul(milliseconds, nullptr, 10);
  while (!(g_dialog = FindWindowW(MAKEINTATOM(32770), wanted.c_str()))) {  // the dialog class
    if (GetTickCount() > until) fail("no window " + quoted(wanted));
    Sleep(100);
  }
  // The dialog is visible once WM_INITDIALOG has been handled.
  while (!IsWindowVisible(g_dialog)) {
    if (GetTickCount() > until) fail("window never shown");
    Sleep(50);
  }
  say("found " + quoted(window_text(g_dialog)));
}

void list_controls() {
  need_dialog();
  for (HWND child = GetWindow(g_dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t class_name[64] = {};
    GetClassNameW(child, class_name, 64);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, g_dialog, reinterpret_cast<POINT*>(&r), 2);
    say("control id=" + std::to_string(GetDlgCtrlID(child)) + " class=" + quoted(class_name) +
        " style=" + hex(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE))) +
        " exstyle=" + hex(static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE))) +
        " units=" + rectangle(dialog_units_of(r)) + " text=" + quoted(window_text(child)));
  }
}

void describe_window() {
  need_dialog();
  RECT client;
  GetClientRect(g_dialog, &client);
  say("window caption=" + quoted(window_text(g_dialog)) +
      " style=" + hex(static_cast<DWORD>(GetWindowLongW(g_dialog, GWL_STYLE))) +
      " exstyle=" + hex(static_cast<DWORD>(GetWindowLongW(g_dialog, GWL_EXSTYLE))) +
      " client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom));
}

void describe_icons() {
  need_dialog();
  const bool small_icon = SendMessageW(g_dialog, WM_GETICON, ICON_SMALL, 0) != 0;
  const bool big_icon = SendMessageW(g_dialog, WM_GETICON, ICON_BIG, 0) != 0;
  say(std::string("icons small=") + (small_icon ? "yes" : "no") + " big=" + (big_icon ? "yes" : "no"));
}

void wait_text(const char* id, const char* text, const char* milliseconds) {
  need_dialog();
  const std::wstring wanted = unescaped(text);
  const DWORD until = GetTickCount() + std::strtoul(milliseconds, nullptr, 10);
  std::wstring seen;
  while ((seen = window_text(control(id))) != wanted) {
    if (GetTickCount() > until) fail("text of " + std::string(id) + " is " + quoted(seen));
    Sleep(100);
  }
  say("text " + std::string(id) + " " + quoted(seen));
}

void print_focus() {
  need_dialog();
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(g_dialog, nullptr), &info);
  say("focus " + std::to_string(info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0));
}

void type(const char* text) {
  need_dialog();
  std::vector<INPUT> inputs;
  for (wchar_t c : unescaped(text)) {
    inputs.push_back(key_input(0, static_cast<WORD>(c), KEYEVENTF_UNICODE));
    inputs.push_back(key_input(0, static_cast<WORD>(c), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
  send_keys(inputs);
  say("typed");
}

void paste(const char* text) {
  need_dialog();
  const std::wstring wide = unescaped(text);
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory) fail("no memory for the clipboard");
  std::memcpy(GlobalLock(memory), wide.c_str(), bytes);
  GlobalUnlock(memory);
  if (!OpenClipboard(nullptr)) fail("cannot open the clipboard");
  EmptyClipboard();
  // The clipboard owns the memory once SetClipboardData has taken it.
  if (!SetClipboardData(CF_UNICODETEXT, memory)) {
    CloseClipboard();
    GlobalFree(memory);
    fail("cannot set the clipboard");
  }
  CloseClipboard();
  send_keys({key_input(VK_CONTROL, 0, 0), key_input('V', 0, 0), key_input('V', 0, KEYEVENTF_KEYUP),
             key_input(VK_CONTROL, 0, KEYEVENTF_KEYUP)});
  say("pasted");
}

// Dialogs are told apart by their window handles, since several instances of
// the program show the same caption, and a caption may change while it runs.
struct DialogSearch {
  std::wstring caption_start;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_dialog(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<DialogSearch*>(search_address);
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (std::wcscmp(class_name, L"#32770") == 0 && IsWindowVisible(window) &&
      window_text(window).rfind(search->caption_start, 0) == 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

void list_dialogs(const char* caption_start) {
  DialogSearch search{unescaped(caption_start), {}};
  EnumWindows(collect_dialog, reinterpret_cast<LPARAM>(&search));
  for (HWND window : search.found) {
    say("dialog " + hex(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window))) + " " +
        quoted(window_text(window)));
  }
}

void use_dialog(const char* handle) {
  g_dialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(handle, nullptr, 16)));
  if (!IsWindow(g_dialog)) fail(std::string("no window ") + handle);
  say(std::string("using ") + handle);
}

void key(const char* name) {
  need_dialog();
  WORD virtual_key = 0;
  if (!std::strcmp(name, "escape"))
    virtual_key = VK_ESCAPE;
  else if (!std::strcmp(name, "enter"))
    virtual_key = VK_RETURN;
  else if (!std::strcmp(name, "tab"))
    virtual_key = VK_TAB;
  else
    fail(std::string("unknown key ") + name);
  send_keys({key_input(virtual_key, 0, 0), key_input(virtual_key, 0, KEYEVENTF_KEYUP)});
  say(std::string("pressed ") + name);
}

void click(const char* id) {
  need_dialog();
  RECT r;
  GetWindowRect(control(id), &r);
  bring_to_front();
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
  Sleep(300);
  say(std::string("clicked ") + id);
}

void wait_gone(const char* milliseconds) {
  const DWORD until = GetTickCount() + std::strtoul(milliseconds, nullptr, 10);
  while (g_dialog && IsWindow(g_dialog)) {
    if (GetTickCount() > until) fail("window still there");
    Sleep(100);
  }
  say("gone");
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** wide_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(utf8(wide_arguments[i]));
  LocalFree(wide_arguments);

  size_t i = 0;
  auto next = [&]() -> const char* {
    if (i >= arguments.size()) fail("missing argument");
    return arguments[i++].c_str();
  };
  while (i < arguments.size()) {
    const std::string step = next();
    if (step == "find") {
      const char* caption = next();
      find(caption, next());
    } else if (step == "units") {
      g_units.cx = number(next());
      g_units.cy = number(next());
    } else if (step == "controls") {
      list_controls();
    } else if (step == "window") {
      describe_window();
    } else if (step == "icons") {
      describe_icons();
    } else if (step == "text") {
      need_dialog();
      const char* id = next();
      say("text " + std::string(id) + " " + quoted(window_text(control(id))));
    } else if (step == "wait-text") {
      const char* id = next();
      const char* text = next();
      wait_text(id, text, next());
    } else if (step == "focus") {
      print_focus();
    } else if (step == "dialogs") {
      list_dialogs(next());
    } else if (step == "use") {
      use_dialog(next());
    } else if (step == "type") {
      type(next());
    } else if (step == "paste") {
      paste(next());
    } else if (step == "key") {
      key(next());
    } else if (step == "click") {
      click(next());
    } else if (step == "select-all") {
      need_dialog();
      SendMessageW(control(next()), EM_SETSEL, 0, -1);
      say("selected");
    } else if (step == "enabled") {
      need_dialog();
      const char* id = next();
      say("enabled " + std::string(id) + (IsWindowEnabled(control(id)) ? " 1" : " 0"));
    } else if (step == "command") {
      need_dialog();
      PostMessageW(g_dialog, WM_COMMAND, static_cast<WPARAM>(number(next())), 0);
      say("command posted");
    } else if (step == "ping") {
      need_dialog();
      const DWORD start = GetTickCount();
      DWORD_PTR answer = 0;
      if (!SendMessageTimeoutW(g_dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer)) fail("no answer within 10 s");
      say("ping " + std::to_string(GetTickCount() - start));
    } else if (step == "close") {
      need_dialog();
      PostMessageW(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      say("closed");
    } else if (step == "wait-gone") {
      wait_gone(next());
    } else if (step == "alive") {
      need_dialog();
      say("alive");
    } else if (step == "rect") {
      need_dialog();
      RECT r;
      GetWindowRect(g_dialog, &r);
      say("rect " + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
          " " + std::to_string(r.bottom - r.top));
    } else if (step == "template") {
      print_template(next());
    } else if (step == "code-page") {
      say("code-page " + std::to_string(GetACP()));
    } else if (step == "sleep") {
      Sleep(std::strtoul(next(), nullptr, 10));
    } else {
      fail("unknown step " + step);
    }
  }
  return 0;
}
