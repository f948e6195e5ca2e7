#include "web/fetch_page.h"

// Placeholder until the automation bridge lands: every fetch fails.
Text fetch_page(const char*) { return Text(); }
