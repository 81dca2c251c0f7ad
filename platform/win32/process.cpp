#include "platform/win32/process.h"

#include <sys/resource.h>

Win32ProcessSeam g_Win32ProcessSeam;

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

static int NiceOf(uint32_t priorityClass) {
    switch (priorityClass) {
        case IDLE_PRIORITY_CLASS: return 19;
        case HIGH_PRIORITY_CLASS: return -10;
        default: return 0;
    }
}

int SetPriorityClass(HANDLE process, uint32_t priorityClass) {
    if (process != GetCurrentProcess()) return 0;
    if (priorityClass != NORMAL_PRIORITY_CLASS && priorityClass != IDLE_PRIORITY_CLASS &&
        priorityClass != HIGH_PRIORITY_CLASS)
        return 0;
    if (g_Win32ProcessSeam.failCalls > 0) {
        --g_Win32ProcessSeam.failCalls;
        return 0;
    }
    if (g_Win32ProcessSeam.intercept) {
        ++g_Win32ProcessSeam.calls;
        g_Win32ProcessSeam.lastClass = priorityClass;
        return 1;
    }
    return setpriority(PRIO_PROCESS, 0, NiceOf(priorityClass)) == 0 ? 1 : 0;
}
