// STAND-IN for the system layer's devices and settings that are being built
// (settings and adapters, input, sound, the start dialog): the calls the
// program's start-up, game loop and exit make, with the names and arguments
// the real modules have. Each records its call (program/standin_calls.h) and
// can be made to fail. Delete each once the real module is on main.
#pragma once

#include <cstdint>

struct InputState;
struct SoundState;

int S_EnumDevices();
int S_ChooseAdapter();
int S_LoadRegistrySettings();
int S_SaveRegistrySettings();
const char* S_TextureQualityName(int quality);
const char* S_ShaderQualityName(int quality);
// 0 when the user cancels.
int S_RunStartDialog();

// Input: the record (null on failure), the key ring read one key at a time.
InputState* S_InitIO(uint32_t flags);
void S_CloseIO();
uint16_t S_GetKey();
// Never blocks: without the message box of the input layer the text is logged.
void S_SystemMessage(const char* text);

SoundState* S_InitDS3D(uint32_t audioFlags);
void S_CloseAudio();
// The sound record; null before S_InitDS3D.
SoundState* StandIn_SoundState();
