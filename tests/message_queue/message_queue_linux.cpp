#include <glib.h>

#include <utility>

#include "message_queue/message_queue.h"

namespace {

gboolean run_once(gpointer data) {
  auto* work = static_cast<std::pair<QueuedCallback, void*>*>(data);
  work->first(work->second);
  delete work;
  return G_SOURCE_REMOVE;
}

}  // namespace

void queue_callback(QueuedCallback callback, void* argument, uint32_t delay) {
  auto* work = new std::pair<QueuedCallback, void*>(callback, argument);
  if (delay == 0)
    g_idle_add(run_once, work);
  else
    g_timeout_add(delay, run_once, work);
}

bool post_quit_message() { return false; }

bool take_quit_message() { return false; }
