// The unhandled-exception filter over POSIX signals. SetUnhandledExceptionFilter
// installs handlers for SEGV, BUS, ILL, FPE, TRAP and ABRT on an alternate stack;
// each fault is described as an exception record with its code and the faulting
// registers, handed to the filter, and then the signal is raised again with its
// default action, so the process still ends as it would have.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;       // SEGV
constexpr uint32_t EXCEPTION_IN_PAGE_ERROR = 0xC0000006;          // BUS
constexpr uint32_t EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;    // ILL
constexpr uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;     // FPE, integer division
constexpr uint32_t EXCEPTION_INT_OVERFLOW = 0xC0000095;           // FPE, integer overflow
constexpr uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;  // FPE, other
constexpr uint32_t EXCEPTION_BREAKPOINT = 0x80000003;             // TRAP
constexpr uint32_t STATUS_FATAL_APP_EXIT = 0x40000015;            // ABRT
constexpr uint32_t DBG_CONTROL_C = 0x40010005;
constexpr uint32_t DBG_CONTROL_BREAK = 0x40010008;

constexpr long EXCEPTION_CONTINUE_SEARCH = 0;

struct EXCEPTION_RECORD {
    uint32_t ExceptionCode;
    uint32_t ExceptionFlags;
    void* ExceptionAddress;
    int Signal;  // the signal that raised it
};

// The faulting thread's registers (x86-64; zero elsewhere).
struct CONTEXT {
    uint16_t SegCs;
    uint64_t Rip, Rsp, Rbp;
    uint64_t Rax, Rbx, Rcx, Rdx, Rsi, Rdi;
    uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
    uint64_t EFlags;
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD* ExceptionRecord;
    CONTEXT* ContextRecord;
};

using LPTOP_LEVEL_EXCEPTION_FILTER = long (*)(EXCEPTION_POINTERS*);

// Installs the filter (null removes the handlers); returns the previous one.
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// The program's file name and the user's name, safe inside the filter (the user
// name is looked up when the filter is installed). Both give the length written,
// 0 on failure; the text is always terminated.
uint32_t GetModuleFileNameA(void* module, char* buffer, uint32_t size);
int GetUserNameA(char* buffer, uint32_t* size);

// The installing thread's stack, recorded at installation (the handler may not
// ask for it): base is its high end, limit its low end; both 0 when unknown.
struct CrashStackBounds {
    uintptr_t base;
    uintptr_t limit;
};
CrashStackBounds Crash_GetStackBounds();

// The dump: our own small file of the registers and the raw stack words from the
// stack pointer up to the stack base, written without allocating. 1 on success.
//   "TRVDUMP1", u32 code, u32 signal, the CONTEXT words (u64 each, in the order
//   above, SegCs widened), u64 stack start address, u64 word count, the words.
int Crash_WriteDump(int fd, const EXCEPTION_POINTERS* pointers, CrashStackBounds stack);

// A small output stream over a file descriptor with a fixed buffer: no allocation,
// so it may be used inside the signal handler. A stream whose open failed ignores
// every write.
struct CrashStream {
    int fd;
    size_t used;
    char buffer[512];
};
bool Crash_Open(CrashStream* stream, const char* path);
void Crash_Put(CrashStream* stream, const char* text);
void Crash_PutChar(CrashStream* stream, char c);
// value as hexadecimal, lower case, at least digits wide with leading zeros.
void Crash_PutHex(CrashStream* stream, uint64_t value, int digits);
void Crash_Close(CrashStream* stream);
