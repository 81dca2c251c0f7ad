#include "platform/win32/timer.h"

#include <cerrno>
#include <ctime>

static Win32TimerSeam* s_seam = nullptr;

// The monotonic clock counts nanoseconds.
static constexpr int64_t kNanosPerSecond = 1000000000;

int QueryPerformanceFrequency(int64_t* frequency) {
    if (s_seam) {
        if (s_seam->frequencyFails) return 0;
        *frequency = s_seam->frequency;
        return 1;
    }
    *frequency = kNanosPerSecond;
    return 1;
}

int QueryPerformanceCounter(int64_t* counter) {
    if (s_seam) {
        if (s_seam->counterFails) return 0;
        *counter = s_seam->counter;
        return 1;
    }
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
    *counter = static_cast<int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
    return 1;
}

uint32_t SleepEx(uint32_t ms, int /*alertable*/) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
    return 0;
}

void Win32_SetTimerSeam(Win32TimerSeam* seam) { s_seam = seam; }

int64_t g_Win32TimeSeam = 0;

int64_t Win32_Time() { return g_Win32TimeSeam != 0 ? g_Win32TimeSeam : static_cast<int64_t>(time(nullptr)); }
