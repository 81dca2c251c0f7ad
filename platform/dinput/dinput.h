// The DirectInput 8 calls the input layer makes, over SDL2: the system keyboard
// and mouse fed by one SDL event router into per-device event buffers, SDL
// joysticks read as the standard joystick state, and force-feedback effects
// over SDL haptic. The test seam (platform/dinput/seam.h) scripts every device.
//
// Scan codes are DirectInput's key numbers (DIK_ values); extended keys carry
// bit 0x80, so the keyboard state has 256 entries.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

inline bool DI_SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && a.Data4[0] == b.Data4[0] &&
           a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] && a.Data4[3] == b.Data4[3] &&
           a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] && a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

// Results. DI_BUFFEROVERFLOW shares its value with S_FALSE.
constexpr HRESULT DI_OK = 0;
constexpr HRESULT DI_NOTATTACHED = 1;
constexpr HRESULT DI_BUFFEROVERFLOW = 1;
constexpr HRESULT DI_PROPNOEFFECT = 1;
constexpr HRESULT DI_NOEFFECT = 1;
constexpr HRESULT DI_POLLEDDEVICE = 2;
constexpr HRESULT DI_DOWNLOADSKIPPED = 3;
constexpr HRESULT DI_EFFECTRESTARTED = 4;
constexpr HRESULT DI_TRUNCATED = 8;
constexpr HRESULT DI_TRUNCATEDANDRESTARTED = 0xC;
constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = static_cast<HRESULT>(0x8007047Eu);
constexpr HRESULT DIERR_BETADIRECTINPUTVERSION = static_cast<HRESULT>(0x80070481u);
constexpr HRESULT DIERR_BADDRIVERVER = static_cast<HRESULT>(0x80070077u);
constexpr HRESULT DIERR_DEVICENOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT DIERR_NOTFOUND = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT DIERR_OBJECTNOTFOUND = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT DIERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DIERR_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT DIERR_GENERIC = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DIERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DIERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT DIERR_NOTINITIALIZED = static_cast<HRESULT>(0x80070015u);
constexpr HRESULT DIERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x800704DFu);
constexpr HRESULT DIERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT DIERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x80070005u);  // E_ACCESSDENIED
constexpr HRESULT DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001Eu);
constexpr HRESULT DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AAu);
constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000Cu);
constexpr HRESULT DIERR_PENDING = static_cast<HRESULT>(0x8000000Au);  // E_PENDING
constexpr HRESULT DIERR_DEVICEFULL = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT DIERR_MOREDATA = static_cast<HRESULT>(0x80040202u);
constexpr HRESULT DIERR_NOTDOWNLOADED = static_cast<HRESULT>(0x80040203u);
constexpr HRESULT DIERR_HASEFFECTS = static_cast<HRESULT>(0x80040204u);
constexpr HRESULT DIERR_NOTEXCLUSIVEACQUIRED = static_cast<HRESULT>(0x80040205u);
constexpr HRESULT DIERR_INCOMPLETEEFFECT = static_cast<HRESULT>(0x80040206u);
constexpr HRESULT DIERR_NOTBUFFERED = static_cast<HRESULT>(0x80040207u);
constexpr HRESULT DIERR_EFFECTPLAYING = static_cast<HRESULT>(0x80040208u);

// Enumeration.
constexpr BOOL DIENUM_STOP = 0;
constexpr BOOL DIENUM_CONTINUE = 1;
constexpr DWORD DI8DEVCLASS_ALL = 0;
constexpr DWORD DI8DEVCLASS_GAMECTRL = 4;
constexpr DWORD DIEDFL_ALLDEVICES = 0;
constexpr DWORD DIEDFL_ATTACHEDONLY = 1;
constexpr DWORD DIDFT_ALL = 0;
constexpr DWORD DIEFT_ALL = 0;
constexpr DWORD DIEFT_CONSTANTFORCE = 1;
constexpr DWORD DIEFT_PERIODIC = 3;

// Cooperative levels.
constexpr DWORD DISCL_EXCLUSIVE = 0x1;
constexpr DWORD DISCL_NONEXCLUSIVE = 0x2;
constexpr DWORD DISCL_FOREGROUND = 0x4;
constexpr DWORD DISCL_BACKGROUND = 0x8;
constexpr DWORD DISCL_NOWINKEY = 0x10;

// Device capability flags.
constexpr DWORD DIDC_ATTACHED = 0x1;
constexpr DWORD DIDC_POLLEDDEVICE = 0x2;
constexpr DWORD DIDC_EMULATED = 0x4;
constexpr DWORD DIDC_POLLEDDATAFORMAT = 0x8;
constexpr DWORD DIDC_FORCEFEEDBACK = 0x100;
constexpr DWORD DIDC_FFATTACK = 0x200;
constexpr DWORD DIDC_FFFADE = 0x400;
constexpr DWORD DIDC_SATURATION = 0x800;
constexpr DWORD DIDC_POSNEGCOEFFICIENTS = 0x1000;
constexpr DWORD DIDC_POSNEGSATURATION = 0x2000;
constexpr DWORD DIDC_DEADBAND = 0x4000;
constexpr DWORD DIDC_STARTDELAY = 0x8000;
constexpr DWORD DIDC_ALIAS = 0x10000;
constexpr DWORD DIDC_PHANTOM = 0x20000;
constexpr DWORD DIDC_HIDDEN = 0x40000;

struct DIDEVCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDevType;
    DWORD dwAxes;
    DWORD dwButtons;
    DWORD dwPOVs;
    DWORD dwFFSamplePeriod;
    DWORD dwFFMinTimeResolution;
    DWORD dwFirmwareRevision;
    DWORD dwHardwareRevision;
    DWORD dwFFDriverVersion;
};

// Device and object type GUIDs (our own values; they never leave the process).
extern const GUID GUID_SysKeyboard;
extern const GUID GUID_SysMouse;
extern const GUID GUID_XAxis;
extern const GUID GUID_YAxis;
extern const GUID GUID_ZAxis;
extern const GUID GUID_RxAxis;
extern const GUID GUID_RyAxis;
extern const GUID GUID_RzAxis;
extern const GUID GUID_Slider;
extern const GUID GUID_Button;
extern const GUID GUID_Key;
extern const GUID GUID_POV;
extern const GUID GUID_ConstantForce;
extern const GUID GUID_Sine;
extern const GUID GUID_Triangle;
extern const GUID GUID_SawtoothUp;
extern const GUID GUID_SawtoothDown;
extern const GUID IID_IDirectInput8A;

// Data formats: which state record a device reports.
struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwDataSize;  // bytes of the immediate state
};
extern const DIDATAFORMAT c_dfDIKeyboard;  // 256 bytes, one per scan code
extern const DIDATAFORMAT c_dfDIMouse2;    // DIMOUSESTATE2, 20 bytes
extern const DIDATAFORMAT c_dfDIJoystick;  // DIJOYSTATE, 80 bytes

struct DIMOUSESTATE2 {
    LONG lX, lY, lZ;
    BYTE rgbButtons[8];
};
static_assert(sizeof(DIMOUSESTATE2) == 20);

struct DIJOYSTATE {
    LONG lX, lY, lZ;
    LONG lRx, lRy, lRz;
    LONG rglSlider[2];
    DWORD rgdwPOV[4];  // hundredths of a degree clockwise from north; 0xFFFFFFFF centred
    BYTE rgbButtons[32];
};
static_assert(sizeof(DIJOYSTATE) == 80);

// Offsets of the objects inside the state records.
constexpr DWORD DIMOFS_X = 0;
constexpr DWORD DIMOFS_Y = 4;
constexpr DWORD DIMOFS_Z = 8;
constexpr DWORD DIMOFS_BUTTON0 = 12;
constexpr DWORD DIMOFS_BUTTON7 = 19;
constexpr DWORD DIJOFS_X = 0;
constexpr DWORD DIJOFS_Y = 4;
constexpr DWORD DIJOFS_Z = 8;
constexpr DWORD DIJOFS_RX = 12;
constexpr DWORD DIJOFS_RY = 16;
constexpr DWORD DIJOFS_RZ = 20;
constexpr DWORD DIJOFS_SLIDER(int n) { return 24 + 4 * static_cast<DWORD>(n); }
constexpr DWORD DIJOFS_POV(int n) { return 32 + 4 * static_cast<DWORD>(n); }
constexpr DWORD DIJOFS_BUTTON(int n) { return 48 + static_cast<DWORD>(n); }

// One buffered event: the object's offset (scan code, mouse axis or button) and its data.
struct DIDEVICEOBJECTDATA {
    DWORD dwOfs;
    DWORD dwData;
    DWORD dwTimeStamp;
    DWORD dwSequence;
    uintptr_t uAppData;
};
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Properties.
using DIPROPID = uint32_t;
constexpr DIPROPID DIPROP_BUFFERSIZE = 1;
constexpr DIPROPID DIPROP_RANGE = 4;
constexpr DIPROPID DIPROP_DEADZONE = 5;
constexpr DIPROPID DIPROP_SATURATION = 6;
constexpr DIPROPID DIPROP_AUTOCENTER = 9;
constexpr DWORD DIPH_DEVICE = 0;
constexpr DWORD DIPH_BYOFFSET = 1;
constexpr DWORD DIPROPAUTOCENTER_OFF = 0;
constexpr DWORD DIPROPAUTOCENTER_ON = 1;

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};
struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
};
struct DIPROPRANGE {
    DIPROPHEADER diph;
    LONG lMin;
    LONG lMax;
};

// Device and object descriptions handed to the enumeration callbacks. Every one
// starts with its size word followed by the GUID that names it.
struct DIDEVICEINSTANCE {
    DWORD dwSize;
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType;
    char tszInstanceName[260];
    char tszProductName[260];
};
struct DIDEVICEOBJECTINSTANCE {
    DWORD dwSize;
    GUID guidType;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
    uint16_t tszName[260];  // UTF-16
};
struct DIEFFECTINFO {
    DWORD dwSize;
    GUID guid;
    DWORD dwEffType;
    DWORD dwStaticParams;
    DWORD dwDynamicParams;
    char tszName[260];
};

using LPDIENUMDEVICESCALLBACK = BOOL (*)(const DIDEVICEINSTANCE* instance, void* ref);
using LPDIENUMDEVICEOBJECTSCALLBACK = BOOL (*)(const DIDEVICEOBJECTINSTANCE* object, void* ref);
using LPDIENUMEFFECTSCALLBACK = BOOL (*)(const DIEFFECTINFO* info, void* ref);

// Force-feedback effects.
constexpr DWORD DI_FFNOMINALMAX = 10000;
constexpr DWORD DI_DEGREES = 100;
constexpr DWORD DI_SECONDS = 1000000;
constexpr DWORD DIEB_NOTRIGGER = 0xFFFFFFFFu;
constexpr DWORD DIEFF_OBJECTIDS = 0x1;
constexpr DWORD DIEFF_OBJECTOFFSETS = 0x2;
constexpr DWORD DIEFF_CARTESIAN = 0x10;
constexpr DWORD DIEFF_POLAR = 0x20;
constexpr DWORD DIEFF_SPHERICAL = 0x40;
constexpr DWORD DIEP_DURATION = 0x1;
constexpr DWORD DIEP_GAIN = 0x4;
constexpr DWORD DIEP_DIRECTION = 0x40;
constexpr DWORD DIEP_ENVELOPE = 0x80;
constexpr DWORD DIEP_TYPESPECIFICPARAMS = 0x100;
constexpr DWORD DIEP_START = 0x20000000;

struct DIENVELOPE {
    DWORD dwSize;
    DWORD dwAttackLevel;
    DWORD dwAttackTime;  // microseconds
    DWORD dwFadeLevel;
    DWORD dwFadeTime;
};
struct DICONSTANTFORCE {
    LONG lMagnitude;
};
struct DIPERIODIC {
    DWORD dwMagnitude;
    LONG lOffset;
    DWORD dwPhase;
    DWORD dwPeriod;  // microseconds
};
struct DIEFFECT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDuration;  // microseconds, INFINITE for ever
    DWORD dwSamplePeriod;
    DWORD dwGain;
    DWORD dwTriggerButton;
    DWORD dwTriggerRepeatInterval;
    DWORD cAxes;
    DWORD* rgdwAxes;
    LONG* rglDirection;
    DIENVELOPE* lpEnvelope;
    DWORD cbTypeSpecificParams;
    void* lpvTypeSpecificParams;
    DWORD dwStartDelay;
};

struct IDirectInputEffect {
    HRESULT SetParameters(const DIEFFECT* effect, DWORD flags);
    HRESULT Start(DWORD iterations, DWORD flags);
    HRESULT Stop();
    uint32_t Release();

    struct Impl;
    Impl* impl;
};

struct IDirectInputDevice8 {
    HRESULT GetCapabilities(DIDEVCAPS* caps);
    HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACK callback, void* ref, DWORD flags);
    HRESULT GetObjectInfo(DIDEVICEOBJECTINSTANCE* info, DWORD obj, DWORD how);
    HRESULT SetProperty(DIPROPID property, const DIPROPHEADER* header);
    HRESULT Acquire();
    HRESULT Unacquire();
    // The immediate state in the device's data format.
    HRESULT GetDeviceState(DWORD size, void* data);
    // Takes up to *count buffered events, oldest first; *count becomes the number
    // taken. A null data pointer removes them without copying (a flush).
    HRESULT GetDeviceData(DWORD objectDataSize, DIDEVICEOBJECTDATA* data, DWORD* count, DWORD flags);
    HRESULT SetDataFormat(const DIDATAFORMAT* format);
    HRESULT SetCooperativeLevel(HWND window, DWORD flags);
    HRESULT Poll();
    HRESULT CreateEffect(const GUID& effectGuid, const DIEFFECT* effect, IDirectInputEffect** out, void* outer);
    HRESULT EnumEffects(LPDIENUMEFFECTSCALLBACK callback, void* ref, DWORD effectType);
    uint32_t Release();

    struct Impl;
    Impl* impl;
};

struct IDirectInput8 {
    HRESULT CreateDevice(const GUID& guid, IDirectInputDevice8** out, void* outer);
    HRESULT EnumDevices(DWORD deviceClass, LPDIENUMDEVICESCALLBACK callback, void* ref, DWORD flags);
    // DI_OK when the device is attached, DI_NOTATTACHED or DIERR_DEVICENOTREG when not.
    HRESULT GetDeviceStatus(const GUID& guid);
    uint32_t Release();

    struct Impl;
    Impl* impl;
};

HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, const GUID& iid, void** out, void* outer);

// Beyond DirectInput, for the keyboard-layout stand-in: the UTF-8 text SDL's
// text input gave for the last press of a key, "" when none came.
const char* DInput_KeyText(DWORD scanCode);
