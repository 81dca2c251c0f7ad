// Process priority classes over the scheduler's nice values.
#pragma once

#include <cstdint>

#include "platform/win32/types.h"

constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x20;
constexpr uint32_t IDLE_PRIORITY_CLASS = 0x40;
constexpr uint32_t HIGH_PRIORITY_CLASS = 0x80;

HANDLE GetCurrentProcess();
// Non-zero on success. Raising the priority needs the right to lower the nice value.
int SetPriorityClass(HANDLE process, uint32_t priorityClass);

// Test seam: when intercepting, calls are only recorded (the test process keeps
// its priority); failCalls makes the next n calls fail.
struct Win32ProcessSeam {
    bool intercept = false;
    int failCalls = 0;
    int calls = 0;
    uint32_t lastClass = 0;
};
extern Win32ProcessSeam g_Win32ProcessSeam;
