#include "platform/win32/debug.h"

#include <cstdio>
#include <cstring>

Win32DebugSeam g_Win32DebugSeam;

int IsDebuggerPresent() {
    if (g_Win32DebugSeam.debuggerPresent >= 0) return g_Win32DebugSeam.debuggerPresent;
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    int present = 0;
    while (std::fgets(line, sizeof line, f)) {
        long pid;
        if (std::sscanf(line, "TracerPid: %ld", &pid) == 1) {
            present = pid != 0;
            break;
        }
    }
    std::fclose(f);
    return present;
}

void OutputDebugStringA(const char* text) {
    ++g_Win32DebugSeam.outputCount;
    if (text) std::fputs(text, stderr);
}
