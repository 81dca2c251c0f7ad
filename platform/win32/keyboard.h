// Keyboard-layout calls over SDL: the layout is SDL's current keymap, scan
// codes are DirectInput's key numbers (extended keys carry bit 0x80), and the
// characters of a key are those SDL's text input gave for its last press.
#pragma once

#include <cstdint>

using BYTE = uint8_t;
using UINT = uint32_t;
using HKL = struct HKL__*;

constexpr UINT MAPVK_VK_TO_VSC = 0;
constexpr UINT MAPVK_VSC_TO_VK = 1;
constexpr UINT MAPVK_VK_TO_CHAR = 2;
constexpr UINT MAPVK_VSC_TO_VK_EX = 3;

// The layout of the calling thread; one layout exists.
HKL GetKeyboardLayout(uint32_t threadId);

// MAPVK_VSC_TO_VK: the virtual key of a scan code (both Shift keys give the
// Shift key, as do Ctrl and Alt); MAPVK_VSC_TO_VK_EX tells left from right.
// MAPVK_VK_TO_VSC: the scan code of a virtual key. 0 when there is none.
UINT MapVirtualKeyExA(UINT code, UINT mapType, HKL layout);

// The characters of a key for the given key state (0x80 per virtual key held):
// at most bufferSize UTF-16 units into buffer, returns their count, 0 when the
// key gives no character.
int ToUnicodeEx(UINT virtualKey, UINT scanCode, const BYTE* keyState, uint16_t* buffer, int bufferSize, UINT flags,
                HKL layout);
