// Points the log's message-box hook (base/log.h) at the system layer's message box.
#include "base/log.h"
#include "system/keys.h"

// Pointing at the message box from here links it into every program that logs.
S_MessageBoxFn g_LogMessageBox = S_LogMessageBox;
