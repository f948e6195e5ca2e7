// The process entry: starts the runtime, creates the Book, shows MainDialog
// modally and, once it has been closed, ends the process through the runtime's
// ordered shutdown with exit code 0. The command line is not read. (On Windows
// this is a GUI-subsystem program: mingw-w64 enters it through main without
// opening a console.)
#include "app/main_dialog.h"
#include "novel/book.h"
#include "runtime/binding.h"
#include "runtime/memory.h"

namespace {
constexpr int32_t routine = 0x04010001;
}

int main() {
  runtime_startup();
  create_book();
  g_program_cleanup = release_book;

  const platform::Handle instance =
      os_call(Location{routine, 1}, platform::get_module_handle, static_cast<const char*>(nullptr));
  g_icon = os_call(Location{routine, 2}, platform::load_icon, instance, application_icon_resource);
  g_busy = 0;
  // The dialog manager's own message loop is the program's main loop. Its
  // result is not needed: a dialog that cannot be created just ends the program.
  os_call(Location{routine, 3}, platform::dialog_box_param, instance, main_dialog_resource, platform::Window{},
          main_dialog_proc, intptr_t{0});

  runtime_exit(0);
}
