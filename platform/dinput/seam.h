// Test seam of the DirectInput stand-in: scripted devices in place of SDL's,
// failures of any call, events pushed straight into the device buffers, and a
// log of the calls and of the force-feedback effects made.
#pragma once

#include <string>
#include <vector>

#include "platform/dinput/dinput.h"

enum class DISeamDevice { Interface, Keyboard, Mouse, Joystick, Effect };

enum class DISeamCall {
    Create,  // DirectInput8Create
    CreateDevice,
    EnumDevices,
    GetDeviceStatus,
    SetDataFormat,
    SetCooperativeLevel,
    GetCapabilities,
    SetProperty,
    Acquire,
    Unacquire,
    Poll,
    GetDeviceState,
    GetDeviceData,
    EnumObjects,
    GetObjectInfo,
    EnumEffects,
    CreateEffect,
    SetParameters,
    Start,
};

// Joystick objects in state order: X, Y, Z, Rx, Ry, Rz, slider 0, slider 1.
constexpr int DI_SEAM_AXES = 8;

struct DISeamJoystick {
    GUID guid{};
    std::string name = "Seam Joystick";
    bool axes[DI_SEAM_AXES] = {true, true};
    int povs = 0;
    int buttons = 4;
    DWORD capsFlags = DIDC_ATTACHED | DIDC_POLLEDDATAFORMAT;  // add DIDC_FORCEFEEDBACK for effects
    bool constantForce = true;                                // effects listed by a force-feedback device
    bool periodic = true;
    bool attached = true;  // false: reads answer input lost
    // State, raw as SDL reports it: axes -32768..32767, hats already in
    // hundredths of a degree (0xFFFFFFFF centred), bit n = button n.
    int16_t axis[DI_SEAM_AXES] = {};
    DWORD pov[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    uint32_t buttonBits = 0;
};

// One created effect, as the device received it.
struct DISeamEffect {
    GUID type{};
    DWORD flags = 0;
    DWORD duration = 0;
    DWORD gain = 0;
    DWORD triggerButton = 0;
    DWORD axisCount = 0;
    DWORD axes[2] = {};
    LONG direction[2] = {};
    bool hasEnvelope = false;
    DIENVELOPE envelope{};
    LONG constantMagnitude = 0;
    DIPERIODIC periodic{};
    int starts = 0;
    DWORD lastIterations = 0;
    int parameterUpdates = 0;
    bool released = false;
};

struct DInputSeam {
    bool keyboardPresent = true;
    bool mousePresent = true;
    DWORD keyboardCaps = DIDC_ATTACHED;
    DWORD mouseCaps = DIDC_ATTACHED;
    std::vector<DISeamJoystick> joysticks;
    std::vector<DISeamEffect> effects;
    int autocenter = -1;             // last autocentre property set, -1 never
    std::vector<std::string> calls;  // "Keyboard.Acquire", "Joystick.SetProperty(5@4)", ...
};

// Enables the seam with fresh defaults (keyboard and mouse present, no joystick,
// no failures, foreground). While enabled, scripted devices replace SDL's.
DInputSeam& DInput_SeamReset();
DInputSeam& DInput_Seam();
// Returns to SDL's devices.
void DInput_SeamDisable();

// The next `times` matching calls (times < 0: all of them) answer result and do
// nothing else. For SetProperty, property 0 and object -1 match any.
void DInput_SeamFail(DISeamDevice device, DISeamCall call, HRESULT result, int times = 1, DIPROPID property = 0,
                     int32_t object = -1);

// Buffered events as the router would store them: into every acquired device of
// that kind (a key: scan code and down; a mouse event: offset and data).
void DInput_SeamKey(DWORD scanCode, bool down);
void DInput_SeamMouse(DWORD offset, DWORD data);

// Foreground state of the game window: losing it makes foreground devices lose
// their acquisition, and acquiring them fails until it comes back.
void DInput_SetForeground(bool foreground);

// Devices, effects and interfaces alive (leak checks in tests).
int DInput_LiveObjects();

// Count of seam calls of one kind, e.g. DInput_SeamCallCount("Keyboard.Acquire").
int DInput_SeamCallCount(const std::string& call);
