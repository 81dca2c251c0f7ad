// Registry settings of the system layer.
//
// STAND-IN: only the calls the general start-up makes, until the registry
// settings module replaces this file.
#pragma once

#include <cstdint>

// Settings start, run by InitGeneral; 1 on success.
int S_InitSystemSettings();
// Settings end, run by ExitGeneral with the exit reason.
void S_ExitSystemSettings(int reason);
uint32_t S_GetPhysicalMemoryMB();
uint32_t S_GetVideoMemoryMB();
