#include "base/general.h"

SystemState* g_SystemState = nullptr;
