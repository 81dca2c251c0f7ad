// Stop requests from outside the program: SIGINT (Ctrl+C in a terminal) and
// SIGTERM (a service manager's stop, the desktop's log-out). The handler only
// notes the signal; the message pump turns it into the window's close, and the
// dialogs and message boxes that wait for the player end on it, so the program
// always takes its orderly exit. A second stop signal ends the process at once,
// in case the orderly exit itself hangs.
#pragma once

// Installs the handlers (in place of SDL's, which cannot say which signal came).
// A signal that is ignored or already handled by someone else stays so, as a
// shell starts background jobs with SIGINT ignored.
void Win32_InstallStopSignals();
// The stop signal received first; 0 when none came.
int Win32_StopSignal();
// True once for each stop signal received: the caller turns it into a quit.
bool Win32_TakeStopSignal();
// The stop signal received, once, for the line that logs it; 0 afterwards.
int Win32_TakeStopSignalToLog();
// "SIGINT", "SIGTERM" or "signal".
const char* Win32_SignalName(int signal);

// Test seam: forgets the signals received and puts back what the signals had
// before the handlers were installed.
void Win32_ResetStopSignals();
