#include "system/message_hook.h"

S_MessageBoxFn g_LogMessageBox = nullptr;
