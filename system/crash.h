// The crash report: when a fault reaches the top of the program, a readable log
// "TrevanCrash.log" and a dump "TrevanCrash.dmp" are written to the user data
// folder, and the process ends as the fault would have ended it.
#pragma once

#include <cstddef>
#include <cstdint>

struct EXCEPTION_POINTERS;
struct CrashStream;

// The filter; returns EXCEPTION_CONTINUE_SEARCH.
long P_CrashHandler(EXCEPTION_POINTERS* pointers);
const char* P_GetExceptionName(uint32_t code);
// The stack section of the log: bytes in lines of 32, with a text column.
void P_WriteStackDump(CrashStream* stream, const uint8_t* bytes, size_t count);

// Installs P_CrashHandler as the unhandled-exception filter (called by the
// program entry). Not installed in the sanitizer build, whose own reports win.
void P_InstallCrashHandler();
