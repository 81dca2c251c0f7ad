// One Direct3D adapter as enumeration found it: its identity, capabilities
// and mode tables. The record holds platform records by value, so it lives
// apart from system/adapters.h for the files that read its fields.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "system/adapters.h"

struct AdapterInfo {
    uint32_t ordinal;
    D3DADAPTER_IDENTIFIER9 identifier;
    HMONITOR monitor;
    D3DCAPS9 caps;  // HAL caps; DeviceType 0 = no HAL
    uint32_t zeroWord;
    uint32_t fullscreenModeCount;
    DispMode* DispModeTable;
    uint32_t windowedModeCount;
    DispMode* windowedModeTable;
    DWORD behaviorFlags;  // device creation (video device)
    DispMode desktopMode;
};
