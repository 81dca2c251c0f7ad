// The engine's key codes against DirectInput scan codes, the release of the
// input devices, and two device-enumeration callbacks.
//
// Key codes: the character for keys that type one (lower-case letters), fixed
// numbers from 258 for the others (F1-F12 are 265-276).
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

struct DIDEVICEINSTANCE;
struct DIEFFECTINFO;

// 0 for a key code outside 8..476 or not in the table.
uint32_t S_KeyCodeToDIK(uint32_t keyCode);
// 0 for a scan code outside 1..237 or not in the table.
uint32_t S_DIKToKeyCode(uint32_t scanCode);

// Unacquires and releases mouse, keyboard, the joystick with its force-feedback
// effects, and the DirectInput interface; clears every pointer.
void S_ReleaseInputDevices();

// Enumeration callbacks: copy the GUID that follows the record's size word to
// guid (when not null) and stop at the first item. The counting one also adds
// one to g_InputDeviceCount.
BOOL S_EnumFirstGuid(const DIDEVICEINSTANCE* instance, void* guid);
BOOL S_EnumFirstGuid(const DIEFFECTINFO* info, void* guid);
BOOL S_EnumCountFirstGuid(const DIDEVICEINSTANCE* instance, void* guid);
extern int32_t g_InputDeviceCount;
