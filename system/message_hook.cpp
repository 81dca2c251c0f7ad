#include "system/message_hook.h"

#include "system/keys.h"

// Pointing at the message box from here links it into every program that logs.
S_MessageBoxFn g_LogMessageBox = S_LogMessageBox;
