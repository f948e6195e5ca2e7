// The protocol between the runtime and its support modules.
//
// A support module provides runtime commands that are not part of the runtime
// floor (in this program only the thread module, runtime/threads.h). It has one
// notification entry, which runtime_startup calls with code 1 and the address of
// the runtime service entry, and runtime_shutdown with code 6 and 0; a module
// answers 0 for a code it handles and -1 for any other. The modules are listed
// in g_support_modules, fixed when the program is built and ended by null.
//
// runtime_service is the one function through which a module calls back into
// the runtime (memory, fatal errors, exit, the program's path and command line,
// message pumping). Its arguments and result are pointer-sized so that the
// addresses it trades stay whole on 64-bit systems; on i686 they are the 32-bit
// integers of the protocol. Texts are code page 936.
//
// The program calls a module's command through call_module_command, which hands
// the command a result cell (value and tag zero) and gives that cell back.
#pragma once

#include <cstdint>

#include "runtime/values.h"

constexpr int32_t support_module_start = 1;
constexpr int32_t support_module_shutdown = 6;

using SupportModuleNotify = int32_t (*)(int32_t code, intptr_t value, intptr_t reserved);
extern const SupportModuleNotify g_support_modules[];

intptr_t runtime_service(int32_t code, intptr_t argument1, intptr_t argument2);

// A support-module command: writes its result into *result.
using ModuleCommand = void (*)(ArgCell* result, int32_t count, const ArgCell* cells);
ArgCell call_module_command(ModuleCommand command, int32_t count, const ArgCell* cells);

// The arguments part of a command line: what follows the program name (a quoted
// name with its closing quote and one blank after it, otherwise up to and with
// the first blank); the terminating zero when nothing follows.
const char* command_line_arguments(const char* line);

// The file-name part of a path: what follows its last '\' or '/'. Two-byte
// characters are stepped over whole, so a second byte equal to '\' is never
// taken for a separator.
const char* path_file_name(const char* path);
