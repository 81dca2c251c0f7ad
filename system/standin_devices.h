// STAND-IN for the system layer's settings, adapters and start dialog while
// they are being built: the calls the program's start-up and exit make, with
// the names and arguments the real modules have. Each records its call
// (program/standin_calls.h) and can be made to fail. Delete each once the real
// module is on main.
#pragma once

#include <cstdint>

int S_EnumDevices();
int S_ChooseAdapter();
int S_LoadRegistrySettings();
int S_SaveRegistrySettings();
const char* S_TextureQualityName(int quality);
const char* S_ShaderQualityName(int quality);
// 0 when the user cancels.
int S_RunStartDialog();
