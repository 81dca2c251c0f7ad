// Debugger presence and debugger output. Without a debugger window, output
// meant for the debugger goes to standard error.
#pragma once

// Non-zero when a tracer (debugger) is attached to the process.
int IsDebuggerPresent();
void OutputDebugStringA(const char* text);

// Test seam: -1 asks the system (TracerPid of /proc/self/status); 0 or 1 is reported as is.
struct Win32DebugSeam {
    int debuggerPresent = -1;
    int outputCount = 0;  // OutputDebugStringA calls so far
};
extern Win32DebugSeam g_Win32DebugSeam;
