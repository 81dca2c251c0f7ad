// STAND-IN for the registry settings module: start and end do nothing yet and
// the memory sizes are unknown (0).
#include "system/settings.h"

int S_InitSystemSettings() { return 1; }
void S_ExitSystemSettings(int) {}
uint32_t S_GetPhysicalMemoryMB() { return 0; }
uint32_t S_GetVideoMemoryMB() { return 0; }
