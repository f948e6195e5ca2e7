#include "app/download_novel.h"

// The download itself is not built yet: pressing the button does nothing and
// changes nothing, so no status text can suggest that a novel was fetched.
void download_novel(os::Window) {}
