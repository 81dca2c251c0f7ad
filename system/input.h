// Keyboard, mouse and joystick input: DirectInput devices read once per frame
// into the InputState, or, without DirectInput, the window's key and mouse
// messages and up to two multimedia-library joysticks.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

struct InputState;  // the record itself is declared with the window procedure, which writes into it

// InputState flags.
constexpr uint32_t INPUT_MOUSE = 0x1;
constexpr uint32_t INPUT_JOYSTICK = 0x2;   // wanted at start-up, present after it
constexpr uint32_t INPUT_JOYSTICK2 = 0x8;  // second stick / throttle on Z; without DirectInput: second joystick
constexpr uint32_t INPUT_SERIAL = 0x10;
constexpr uint32_t INPUT_STICK_ANALOG = 0x100;
constexpr uint32_t INPUT_STICK_DIGITAL = 0x200;
constexpr uint32_t INPUT_THROTTLE_ANALOG = 0x400;
constexpr uint32_t INPUT_THROTTLE_DIGITAL = 0x800;
constexpr uint32_t INPUT_SINGLE_KEY = 0x1000;
constexpr uint32_t INPUT_POV = 0x8000;
constexpr uint32_t INPUT_POV_READ = 0x10000;
constexpr uint32_t INPUT_RUDDER = 0x20000;
constexpr uint32_t INPUT_RUDDER_RANGED = 0x40000;
constexpr uint32_t INPUT_TWIST = 0x80000;
constexpr uint32_t INPUT_TWIST_FILTERED = 0x100000;
constexpr uint32_t INPUT_FORCE_FEEDBACK = 0x200000;
constexpr uint32_t INPUT_SECOND_STICK = 0x2000000;
constexpr uint32_t INPUT_RUDDER_SLIDER = 0x8000000;
constexpr uint32_t INPUT_ALLOW_POV = 0x10000000;
constexpr uint32_t INPUT_ALLOW_SLIDER = 0x20000000;
constexpr uint32_t INPUT_ALLOW_TWIST = 0x40000000;
constexpr uint32_t INPUT_POLL_JOYSTICK = 0x80000000;
// The joystick's feature bits, cleared before each joystick is looked at (bits 15-20 and 27).
constexpr uint32_t INPUT_JOYSTICK_FEATURES = 0x081F8000;

// The record, or null when it cannot be allocated.
InputState* S_InitIO(uint32_t flags);
// 1 when DirectInput was opened, 0 otherwise (devices released).
int S_InitIO2();
// 1 when the joystick of that instance GUID is ready.
int S_DICreateJoystick(const GUID& guid);
int S_SetJoystickAxes();
int S_SetJoystickDeadzones(int32_t percent);
// Stores the dead-zone setting and applies it; returns percent.
int32_t S_SetJoystickDeadzone(int32_t percent);
int32_t S_GetJoystickDeadzone();
// The sensitivity setting is only kept here.
int32_t S_SetJoystickSensitivity(int32_t value);
int32_t S_GetJoystickSensitivity();
// Clears the transient input and acquires (0) or releases (non-zero) the devices.
void Ex_SyncAcquire(int unacquire);
void S_DIToSubWindow(HWND window);
// The per-frame poll, called by the message pump before it handles messages.
void S_VbiIO();
// 1 after a DirectInput poll, 0 when DirectInput is not open.
int S_VbiIO2();
void S_CloseIO();
const char* S_DIErrorText(HRESULT result);

// State of the input layer outside the record, read by key reading.
extern uint8_t g_InputVirtualKeys[256];  // 0x80 per virtual key whose key is down
extern int32_t g_InputShift;             // copy of shiftDown
