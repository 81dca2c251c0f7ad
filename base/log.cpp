#include "base/log.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/general.h"
#include "base/memory.h"
#include "platform/win32/debug.h"

const char QEL_LOG_BANNER[] = "======================================\n";

namespace {

constexpr uint32_t kProfMessageBox = 0x100;  // SysProfilingFlags: also show every line in a message box
constexpr int kLinesPerFrame = 1000;

// The per-frame budget: the game clock of the previous line and the lines since it changed.
int32_t s_lastClock = 0;
int32_t s_lineCount = 0;

QelLogCapture s_capture = nullptr;
void* s_captureUser = nullptr;

int SinkToCapture(const char* fmt, va_list ap) {
    char small[512];
    va_list measure;
    va_copy(measure, ap);
    int len = std::vsnprintf(small, sizeof small, fmt, measure);
    va_end(measure);
    if (len < 0) {
        s_capture(fmt, std::strlen(fmt), s_captureUser);
        return static_cast<int>(std::strlen(fmt));
    }
    if (static_cast<size_t>(len) < sizeof small) {
        s_capture(small, static_cast<size_t>(len), s_captureUser);
        return len;
    }
    std::string text(static_cast<size_t>(len), '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, ap);
    s_capture(text.data(), text.size(), s_captureUser);
    return len;
}

int SinkLine(const char* fmt, va_list ap);
int SinkBanner(const char* fmt, va_list ap);

int SinkLineF(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
int SinkLineF(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = SinkLine(fmt, ap);
    va_end(ap);
    return n;
}

int SinkBannerF(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
int SinkBannerF(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = SinkBanner(fmt, ap);
    va_end(ap);
    return n;
}

int SinkBanner(const char* fmt, va_list ap) {
    SinkLineF("%s", QEL_LOG_BANNER);
    int n = SinkLine(fmt, ap);
    SinkLineF("%s", QEL_LOG_BANNER);
    return n;
}

// Formats into a heap string of exactly length + 1 bytes.
int SinkToHeap(const char* fmt, va_list ap) {
    va_list measure;
    va_copy(measure, ap);
    int len = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);

    char* text = nullptr;
    if (len >= 0) text = static_cast<char*>(Int_AllocMem(static_cast<size_t>(len) + 1, 0));
    if (!text) {
        // Out of memory (or an unformattable line): the raw format still says what happened.
        std::fputs(fmt, stderr);
        return static_cast<int>(std::strlen(fmt));
    }
    std::vsnprintf(text, static_cast<size_t>(len) + 1, fmt, ap);

    if (g_SystemState && (g_SystemState->SysProfilingFlags & kProfMessageBox) && g_LogMessageBox) g_LogMessageBox(text);
    if (IsDebuggerPresent()) OutputDebugStringA(text);
    else std::fprintf(stderr, "%s", text);
    Int_FreeMem(text, static_cast<size_t>(len) + 1, 0);
    return len;
}

int SinkLine(const char* fmt, va_list ap) {
    SystemState* ss = g_SystemState;
    if (ss) {
        if (ss->gameClock != s_lastClock) {
            s_lastClock = ss->gameClock;
            int32_t taken = s_lineCount;
            s_lineCount = 0;
            if (taken > kLinesPerFrame) SinkBannerF("%d lines of debug output dropped!\n", taken - kLinesPerFrame);
        } else if (s_lineCount++ > kLinesPerFrame) {
            return -2;
        }
    }
    if (s_capture) return SinkToCapture(fmt, ap);
    if (ss && ss->logFileName) {
        if (std::strcmp(ss->logFileName, "null") == 0) return std::vfprintf(stderr, fmt, ap);
        // Opened and closed for every line so that a crash loses nothing.
        FILE* f = std::fopen(ss->logFileName, "a+");
        if (!f) return 0;
        int n = std::vfprintf(f, fmt, ap);
        std::fclose(f);
        return n;
    }
    return SinkToHeap(fmt, ap);
}

}  // namespace

const char* Qel_LogPlace(char* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    const SystemState* ss = g_SystemState;
    const char* file = ss && ss->logFileName && std::strcmp(ss->logFileName, "null") != 0 ? ss->logFileName : nullptr;
    if (!file) {
        std::snprintf(buffer, size, "standard error");
        return buffer;
    }
    char full[PATH_MAX];
    if (realpath(file, full)) {
        std::snprintf(buffer, size, "%s", full);
    } else {
        char folder[PATH_MAX];
        const bool relative = file[0] != '/' && getcwd(folder, sizeof folder);
        std::snprintf(buffer, size, "%s%s%s", relative ? folder : "", relative ? "/" : "", file);
    }
    return buffer;
}

int Qel_VDPrintf(uint32_t mask, const char* fmt, va_list ap) {
    SystemState* ss = g_SystemState;
    if (mask != 0 && (!ss || (ss->debugFlags & mask) != mask)) return 0;
    if (!ss) return SinkLine(fmt, ap);
    // Masked lines written by the sink itself (allocator traces) stay out.
    uint32_t saved = ss->debugFlags;
    ss->debugFlags = 0;
    int n = SinkLine(fmt, ap);
    ss->debugFlags = saved;
    return n;
}

int Qel_DPrintf(uint32_t mask, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = Qel_VDPrintf(mask, fmt, ap);
    va_end(ap);
    return n;
}

void Qel_DPrintfVoid(uint32_t mask, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Qel_VDPrintf(mask, fmt, ap);
    va_end(ap);
}

void Qel_LogResetFrameBudget() {
    s_lastClock = g_SystemState ? g_SystemState->gameClock : 0;
    s_lineCount = 0;
}

void Qel_SetLogCapture(QelLogCapture fn, void* user) {
    s_capture = fn;
    s_captureUser = fn ? user : nullptr;
}

int Qel_VErrPrintf(const char* fmt, va_list ap) { return SinkBanner(fmt, ap); }

int Qel_ErrPrintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = SinkBanner(fmt, ap);
    va_end(ap);
    return n;
}

int Qel_BannerPrintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = SinkBanner(fmt, ap);
    va_end(ap);
    return n;
}
