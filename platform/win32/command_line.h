// The process command line as one text, the way the program was started.
#pragma once

// The program path and its arguments joined by blanks; built once and kept.
const char* GetCommandLineA();

// Test seam: a text to report instead of the real command line (null: the real one).
struct Win32CommandLineSeam {
    const char* text = nullptr;
};
extern Win32CommandLineSeam g_Win32CommandLineSeam;
