// The way the base library's log reaches the system layer's message box
// without depending on the window code: the message-box routine installs itself here.
#pragma once

using S_MessageBoxFn = void (*)(const char* text);

// Null until the system layer's message box exists; the log then shows nothing.
extern S_MessageBoxFn g_LogMessageBox;
