// The player's settings: defaults, loading at start, saving at exit, the
// free-form "Values" subkey of the story, and two machine probes.
#pragma once

#include <cstdint>

// SysProfilingFlags bits of the settings.
constexpr uint32_t SYSPROF_IGNORE_SETTINGS = 0x8;
constexpr uint32_t SYSPROF_BENCHMARK = 0x10;
constexpr uint32_t SYSPROF_NO_SAVE = 0x40;

int S_InitSystemSettings();
void S_ExitSystemSettings(int reason);
void S_SetDefaultD3DFlags();
int S_SetDefaultVideoSettings();
int S_SetDefaultCaptureFolder();
int S_SetDefaultSettings();
int S_LoadCaptureFolder();
int S_LoadVideoSettings();
int S_LoadRegistrySettings();
int S_SaveRegistrySettings();
void S_RegDeleteSettingsKey();

char* S_RegReadStringValue(const char* name);
int32_t S_RegReadIntValue(const char* name);
int S_RegSaveStringValue(const char* name, const char* text);
int S_RegSaveIntValue(const char* name, int32_t value);

uint32_t S_GetPhysicalMemoryMB();
// The machine's physical memory and page file, in bytes.
void S_GetMemoryTotals(uint64_t* physical, uint64_t* pageFile);
// The most memory the process has held so far (its peak working set), in MB.
uint32_t S_GetPeakMemoryMB();
uint32_t S_GetVideoMemoryMB();
