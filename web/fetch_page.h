// fetch_page: one HTTP GET through the platform's HTTP request automation
// class, the body handed back as raw bytes (no code-page conversion) up to its
// first zero byte, together with the answer's status and Retry-After header.
//
// Every fetch ends: it fails when it cannot connect in time, when the answer
// stops coming, or when the whole page takes longer than the total limit
// (platform/fetch_limits.h). A fetch that fails, times out or is abandoned
// gives the empty body and status 0, whatever had arrived. When no HTTP class
// can be created at all the body is the text "创建XMLHTTP对象失败:" and the
// system's reason. The calling thread must have initialised COM. The fetch
// dispatches the thread's messages while it waits, so a window procedure of the
// calling thread may run (and re-enter its caller) before it returns.
#pragma once

#include <cstdint>

#include "runtime/texts.h"

struct PageAnswer {
  Text body;           // the body up to its first zero byte; on a creation failure the failure text
  int32_t status = 0;  // the HTTP status of the answer; 0 when no answer came
  Text retry_after;    // the Retry-After header as sent (code page 936), empty when absent
};

PageAnswer fetch_page_answer(const char* address);

// The same fetch through the one HTTP class named (one of the three above), for
// tests that cover each class; the program lets fetch_page_answer choose. A
// class that cannot be made gives the creation failure.
PageAnswer fetch_page_answer_through(const char* class_name, const char* address);

// The body of fetch_page_answer(address), for callers that judge a page by its text.
Text fetch_page(const char* address);
