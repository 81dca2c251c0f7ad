#include "platform/win32/signals.h"

#include <SDL.h>
#include <signal.h>

namespace {

volatile sig_atomic_t s_first = 0;  // the first stop signal
volatile sig_atomic_t s_count = 0;  // stop signals received
sig_atomic_t s_taken = 0;           // of them turned into a quit (main thread only)
bool s_logged = false;              // the first one's log line written (main thread only)

void OnStopSignal(int sig) {
    if (s_count > 0) {
        // The orderly exit is under way and asked again: end now.
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    s_first = sig;
    s_count = s_count + 1;
}

// What each signal had before; put back by the test seam.
constexpr int kSignals[] = {SIGINT, SIGTERM};
struct sigaction s_before[2];
bool s_installed[2] = {false, false};

void Install(int index) {
    const int sig = kSignals[index];
    if (s_installed[index]) return;
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) != 0) return;
    if (current.sa_flags & SA_SIGINFO || current.sa_handler != SIG_DFL) return;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // Interrupted reads and writes go on; the waits that must notice the
    // signal look at it at least every tenth of a second.
    sa.sa_flags = SA_RESTART;
    if (sigaction(sig, &sa, &s_before[index]) == 0) s_installed[index] = true;
}

}  // namespace

void Win32_InstallStopSignals() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    for (int i = 0; i < 2; ++i) Install(i);
}

int Win32_StopSignal() { return s_first; }

bool Win32_TakeStopSignal() {
    if (s_taken >= s_count) return false;
    s_taken = s_count;
    return true;
}

int Win32_TakeStopSignalToLog() {
    if (!s_first || s_logged) return 0;
    s_logged = true;
    return s_first;
}

const char* Win32_SignalName(int sig) {
    switch (sig) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        default: return "signal";
    }
}

void Win32_ResetStopSignals() {
    for (int i = 0; i < 2; ++i)
        if (s_installed[i]) {
            sigaction(kSignals[i], &s_before[i], nullptr);
            s_installed[i] = false;
        }
    s_first = 0;
    s_count = 0;
    s_taken = 0;
    s_logged = false;
}
