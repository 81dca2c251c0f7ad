// The debug log: masked trace lines and framed error lines, one sink for all.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define QEL_PRINTF_FMT(a, b) __attribute__((format(printf, a, b)))

// Written only when every bit of mask is set in the debug flags (mask 0 always).
// Returns the characters written, 0 when filtered out, -2 when over the frame budget.
int Qel_DPrintf(uint32_t mask, const char* fmt, ...) QEL_PRINTF_FMT(2, 3);
void Qel_DPrintfVoid(uint32_t mask, const char* fmt, ...) QEL_PRINTF_FMT(2, 3);
int Qel_VDPrintf(uint32_t mask, const char* fmt, va_list ap);

// A banner line, the message, a banner line. Returns the message's length.
int Qel_BannerPrintf(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
int Qel_ErrPrintf(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
int Qel_VErrPrintf(const char* fmt, va_list ap);

// The 38 '=' banner line framing error messages.
extern const char QEL_LOG_BANNER[];

// Where the log goes, said for a player sent there to read it: the full path
// of the log file, or "standard error". Written into buffer, which it returns.
const char* Qel_LogPlace(char* buffer, size_t size);

// Starts the per-frame line budget afresh, as a new game clock value does.
void Qel_LogResetFrameBudget();

// While a capture is set, every line goes to it instead of the log file or standard error,
// so tests and tools read exactly what the engine logged. Null ends the capture.
using QelLogCapture = void (*)(const char* text, size_t length, void* user);
void Qel_SetLogCapture(QelLogCapture fn, void* user);

// Hook: the system layer's message box (S_LogMessageBox, set in
// system/message_hook.cpp) that shows every line when profiling asks for it;
// null shows nothing.
using S_MessageBoxFn = void (*)(const char* text);
extern S_MessageBoxFn g_LogMessageBox;
