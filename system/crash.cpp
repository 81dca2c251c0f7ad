#include "system/crash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/general.h"
#include "platform/crash/crash.h"

// Everything below runs inside a signal handler after the program broke: no
// allocation, no stdio, fixed buffers only.

static time_t CrashTime() { return time(nullptr); }
static const char* CrashTimeText(const time_t* t, char* buffer) { return ctime_r(t, buffer); }

const char* P_GetExceptionName(uint32_t code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION: return "access violation";
        case EXCEPTION_BREAKPOINT: return "unhandled breakpoint";
        case DBG_CONTROL_C:
        case DBG_CONTROL_BREAK: return "user key break";
        default: return "unknown exception";
    }
}

// The bytes are raw stack memory, sanitizer redzones included: read unchecked.
__attribute__((no_sanitize("address"))) void P_WriteStackDump(CrashStream* stream, const uint8_t* bytes, size_t count) {
    Crash_Put(stream, "Stack dump:\n");
    char text[32 + 8 + 1];
    size_t textLen = 0;
    size_t column = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = static_cast<const volatile uint8_t*>(bytes)[i];
        Crash_PutHex(stream, b, 2);
        text[textLen++] = (b >= 32 && b <= 126) ? static_cast<char>(b) : '.';
        ++column;
        if (column == 32) {
            text[textLen] = 0;
            Crash_Put(stream, "  ");
            Crash_Put(stream, text);
            Crash_Put(stream, "\n");
            textLen = 0;
            column = 0;
        } else if (column % 4 == 0) {
            Crash_Put(stream, " ");
            text[textLen++] = ' ';
        }
    }
    if (column != 0) {
        for (; column < 32;) {
            Crash_Put(stream, "--");
            ++column;
            if (column % 4 == 0 && column != 32) Crash_Put(stream, " ");
        }
    }
    if (textLen != 0) {
        text[textLen] = 0;
        Crash_Put(stream, "  ");
        Crash_Put(stream, text);
        Crash_Put(stream, "\n");
    }
    Crash_Put(stream, "\n\n");
}

// Appends text to a fixed buffer; false when it does not fit.
static bool Append(char* buffer, size_t size, size_t& len, const char* text) {
    size_t n = std::strlen(text);
    if (len + n >= size) return false;
    std::memcpy(buffer + len, text, n + 1);
    len += n;
    return true;
}

// The user data folder, $XDG_DATA_HOME (else ~/.local/share) + "/Veldrim/<application>",
// made when missing, as the user-paths module resolves it; that module allocates,
// so the same rule is followed here in fixed buffers. Without an application
// name or a home the reports go to the current folder (false).
static bool ReportFolder(char* buffer, size_t size) {
    size_t len = 0;
    buffer[0] = 0;
    const SystemState* sys = g_SystemState;
    const char* app = sys && sys->app ? sys->app->appName : nullptr;
    if (!app || !app[0] || std::strchr(app, '/')) return false;
    const char* data = getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') {
        if (!Append(buffer, size, len, data)) return false;
    } else {
        const char* home = getenv("HOME");
        if (!home || !home[0] || !Append(buffer, size, len, home) || !Append(buffer, size, len, "/.local/share"))
            return false;
    }
    if (!Append(buffer, size, len, "/Veldrim")) return false;
    mkdir(buffer, 0755);
    if (!Append(buffer, size, len, "/") || !Append(buffer, size, len, app)) return false;
    return mkdir(buffer, 0755) == 0 || errno == EEXIST;
}

static void Banner(CrashStream* s) {
    for (int i = 0; i < 38; ++i) Crash_PutChar(s, '=');
    Crash_PutChar(s, '\n');
}

long P_CrashHandler(EXCEPTION_POINTERS* pointers) {
    char program[1024];
    GetModuleFileNameA(nullptr, program, sizeof program);
    char user[256];
    uint32_t userSize = sizeof user;
    if (!GetUserNameA(user, &userSize)) user[0] = 0;
    uint32_t code = pointers->ExceptionRecord->ExceptionCode;
    const CONTEXT& ctx = *pointers->ContextRecord;
    time_t now = CrashTime();
    char timeText[64];
    const char* when = CrashTimeText(&now, timeText);

    char folder[1024];
    char path[1100];
    size_t len = 0;
    path[0] = 0;
    if (ReportFolder(folder, sizeof folder)) {
        Append(path, sizeof path, len, folder);
        Append(path, sizeof path, len, "/");
    }
    const size_t folderLen = len;

    CrashStream log;
    log.fd = -1;
    log.used = 0;
    if (Append(path, sizeof path, len, "TrevanCrash.log")) Crash_Open(&log, path);
    Banner(&log);
    Crash_Put(&log, "Crash event occurred on ");
    Crash_Put(&log, when ? when : "\n");
    Crash_Put(&log, program);
    Crash_Put(&log, "\n");
    Crash_Put(&log, "The exception \"");
    Crash_Put(&log, P_GetExceptionName(code));
    Crash_Put(&log, "\" (0x");
    Crash_PutHex(&log, code, 8);
    Crash_Put(&log, ") was caused at address ");
    Crash_PutHex(&log, ctx.SegCs, 4);
    Crash_Put(&log, ":");
    // Addresses are 64-bit here: at least 8 digits, all of them when longer.
    Crash_PutHex(&log, ctx.Rip, 8);
    Crash_Put(&log, "\n\n");
    Crash_Put(&log, "Process owned by user: ");
    Crash_Put(&log, user);
    Crash_Put(&log, "\n\n");
    CrashStackBounds stack = Crash_GetStackBounds();
    uintptr_t sp = static_cast<uintptr_t>(ctx.Rsp);
    if (stack.base != 0 && sp >= stack.limit && sp < stack.base)
        P_WriteStackDump(&log, reinterpret_cast<const uint8_t*>(sp), stack.base - sp);
    else Crash_Put(&log, "WARNING: failed to generate stack dump!\n");
    Banner(&log);
    Crash_Put(&log, "\n\n");
    Crash_Close(&log);

    len = folderLen;
    path[len] = 0;
    if (Append(path, sizeof path, len, "TrevanCrash.dmp")) {
        int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_SYNC, 0644);
        if (fd >= 0) {
            Crash_WriteDump(fd, pointers, stack);
            close(fd);
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void P_InstallCrashHandler() {
#ifndef TREVAN_SANITIZE
    SetUnhandledExceptionFilter(P_CrashHandler);
#endif
}
