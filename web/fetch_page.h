// fetch_page: one synchronous HTTP GET through the platform's HTTP request
// automation class, the body handed back as raw bytes (no code-page conversion)
// up to its first zero byte. A request that fails gives the empty Text; when no
// HTTP class can be created at all, the text "创建XMLHTTP对象失败:" and the
// system's reason. The calling thread must have initialised COM.
#pragma once

#include "runtime/texts.h"

Text fetch_page(const char* address);
