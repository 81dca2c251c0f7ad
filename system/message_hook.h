// The way the base library's log reaches the system layer's message box
// without depending on the window code.
#pragma once

using S_MessageBoxFn = void (*)(const char* text);

// The system layer's message box (S_LogMessageBox); null shows nothing.
extern S_MessageBoxFn g_LogMessageBox;
