// The performance counter and sleeping, over clock_gettime(CLOCK_MONOTONIC).
// Tests take the counter over through the seam below.
#pragma once

#include <cstdint>

// Counter ticks per second; 0 (FALSE) when there is no counter.
int QueryPerformanceFrequency(int64_t* frequency);
// The counter's current value; 0 (FALSE) when it cannot be read.
int QueryPerformanceCounter(int64_t* counter);
// Sleeps for ms milliseconds; the alertable flag has no meaning here.
uint32_t SleepEx(uint32_t ms, int alertable);

// Test seam: while installed, the counter calls answer from this record.
struct Win32TimerSeam {
    int64_t counter;    // the value QueryPerformanceCounter reports
    int64_t frequency;  // the value QueryPerformanceFrequency reports (0 allowed)
    bool counterFails;
    bool frequencyFails;
};
// Null puts the real clock back.
void Win32_SetTimerSeam(Win32TimerSeam* seam);

// The calendar clock: whole seconds since 1970, as the runtime library's time()
// gives them.
int64_t Win32_Time();
// Test seam: a non-zero value is the calendar clock's answer instead of the real one.
extern int64_t g_Win32TimeSeam;
