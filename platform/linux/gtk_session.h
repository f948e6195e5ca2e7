// GTK is started once per process, by whichever comes first: the dialog or a
// message box. The program formats numbers itself, so GTK must not switch the
// process to the user's locale.
#pragma once

namespace platform {

// True when a display could be opened and GTK is ready on this thread.
bool start_gtk();

}  // namespace platform
