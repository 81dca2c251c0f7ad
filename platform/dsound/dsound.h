// Our DirectSound 8 subset over OpenAL Soft: the device (an OpenAL device and
// context), the primary buffer (its volume is the listener gain), secondary
// buffers (one OpenAL source each), 3D buffers and the listener with deferred
// settings (committed inside one context suspend/process), and the EAX listener
// property set (an EFX reverb in one auxiliary slot, when the device has EFX).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32/basetypes.h"
#include "platform/win32/com.h"

using DWORD_PTR = uintptr_t;

constexpr uint16_t WAVE_FORMAT_PCM = 1;

inline bool DS_GuidEqual(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// ---------------------------------------------------------------- results
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DS_NO_VIRTUALIZATION = 0x0878000A;
constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046u);
constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
constexpr HRESULT DSERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88780082u);
constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
constexpr HRESULT DSERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x887800A0u);
constexpr HRESULT DSERR_UNINITIALIZED = static_cast<HRESULT>(0x887800AAu);
constexpr HRESULT DSERR_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT DSERR_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

// ---------------------------------------------------------------- constants
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x4;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;
constexpr DWORD DSBCAPS_CTRL3D = 0x10;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x10000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x20000;

constexpr DWORD DSBPLAY_LOOPING = 0x1;
constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x2;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;

constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_CENTER = 0;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;

constexpr DWORD DS3D_IMMEDIATE = 0;
constexpr DWORD DS3D_DEFERRED = 1;
constexpr DWORD DS3DMODE_NORMAL = 0;
constexpr DWORD DS3DMODE_HEADRELATIVE = 1;
constexpr DWORD DS3DMODE_DISABLE = 2;

constexpr DWORD DSCAPS_PRIMARYMONO = 0x1;
constexpr DWORD DSCAPS_PRIMARYSTEREO = 0x2;
constexpr DWORD DSCAPS_PRIMARY8BIT = 0x4;
constexpr DWORD DSCAPS_PRIMARY16BIT = 0x8;
constexpr DWORD DSCAPS_CONTINUOUSRATE = 0x10;
constexpr DWORD DSCAPS_EMULDRIVER = 0x20;
constexpr DWORD DSCAPS_CERTIFIED = 0x40;
constexpr DWORD DSCAPS_SECONDARYMONO = 0x100;
constexpr DWORD DSCAPS_SECONDARYSTEREO = 0x200;
constexpr DWORD DSCAPS_SECONDARY8BIT = 0x400;
constexpr DWORD DSCAPS_SECONDARY16BIT = 0x800;

// Property-set support bits.
constexpr ULONG KSPROPERTY_SUPPORT_GET = 1;
constexpr ULONG KSPROPERTY_SUPPORT_SET = 2;

// ---------------------------------------------------------------- records
struct DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
};

struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    const WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
};

struct DS3DVECTOR {
    float x, y, z;
};

struct DS3DBUFFER {
    DWORD dwSize;
    DS3DVECTOR vPosition;
    DS3DVECTOR vVelocity;
    DWORD dwInsideConeAngle;
    DWORD dwOutsideConeAngle;
    DS3DVECTOR vConeOrientation;
    LONG lConeOutsideVolume;
    float flMinDistance;
    float flMaxDistance;
    DWORD dwMode;
};

// ---------------------------------------------------------------- interface ids
constexpr GUID IID_IDirectSound8 = {0xC50A7E93, 0xF395, 0x4834, {0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66}};
constexpr GUID IID_IDirectSound3DBuffer = {
    0x279AFA86, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectSound3DListener = {
    0x279AFA84, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IKsPropertySet = {0x31EFAC30, 0x515C, 0x11D0, {0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61, 0xBE, 0x93}};
// The EAX-enabled DirectSound object and the EAX listener property set.
constexpr GUID CLSID_EAXDirectSound8 = {0xCA503B60, 0xB176, 0x11D4, {0xA0, 0x94, 0xD0, 0xC0, 0xBF, 0x3A, 0x56, 0x0C}};
constexpr GUID DSPROPSETID_EAX_ListenerProperties = {
    0xC4D79F1E, 0xF1AC, 0x436B, {0xA8, 0x1D, 0xA7, 0x38, 0xE7, 0x04, 0x54, 0x69}};
constexpr ULONG DSPROPERTY_EAXLISTENER_ALLPARAMETERS = 1;

// The EAX listener record: 28 four-byte fields, 112 bytes.
struct EAXLISTENERPROPERTIES {
    uint32_t ulEnvironment;
    float flEnvironmentSize;
    float flEnvironmentDiffusion;
    int32_t lRoom;
    int32_t lRoomHF;
    int32_t lRoomLF;
    float flDecayTime;
    float flDecayHFRatio;
    float flDecayLFRatio;
    int32_t lReflections;
    float flReflectionsDelay;
    DS3DVECTOR vReflectionsPan;
    int32_t lReverb;
    float flReverbDelay;
    DS3DVECTOR vReverbPan;
    float flEchoTime;
    float flEchoDepth;
    float flModulationTime;
    float flModulationDepth;
    float flAirAbsorptionHF;
    float flHFReference;
    float flLFReference;
    float flRoomRolloffFactor;
    uint32_t ulFlags;
};
static_assert(sizeof(EAXLISTENERPROPERTIES) == 112, "the EAX listener record is 112 bytes");
constexpr uint32_t EAXLISTENERFLAGS_DECAYHFLIMIT = 0x20;

// ---------------------------------------------------------------- interfaces
class IDirectSound3DBuffer8 {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT SetAllParameters(const DS3DBUFFER* params, DWORD apply) = 0;
    virtual HRESULT SetConeAngles(DWORD inside, DWORD outside, DWORD apply) = 0;
    virtual HRESULT SetConeOrientation(float x, float y, float z, DWORD apply) = 0;
    virtual HRESULT SetConeOutsideVolume(LONG volume, DWORD apply) = 0;
    virtual HRESULT SetMaxDistance(float distance, DWORD apply) = 0;
    virtual HRESULT SetMinDistance(float distance, DWORD apply) = 0;
    virtual HRESULT SetMode(DWORD mode, DWORD apply) = 0;
    virtual HRESULT SetPosition(float x, float y, float z, DWORD apply) = 0;
    virtual HRESULT SetVelocity(float x, float y, float z, DWORD apply) = 0;
    virtual HRESULT GetAllParameters(DS3DBUFFER* params) = 0;

protected:
    virtual ~IDirectSound3DBuffer8() = default;
};
using IDirectSound3DBuffer = IDirectSound3DBuffer8;

class IDirectSound3DListener8 {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT CommitDeferredSettings() = 0;
    virtual HRESULT SetDistanceFactor(float factor, DWORD apply) = 0;
    virtual HRESULT SetDopplerFactor(float factor, DWORD apply) = 0;
    virtual HRESULT SetRolloffFactor(float factor, DWORD apply) = 0;
    virtual HRESULT SetOrientation(float frontX, float frontY, float frontZ, float topX, float topY, float topZ,
                                   DWORD apply) = 0;
    virtual HRESULT SetPosition(float x, float y, float z, DWORD apply) = 0;
    virtual HRESULT SetVelocity(float x, float y, float z, DWORD apply) = 0;

protected:
    virtual ~IDirectSound3DListener8() = default;
};
using IDirectSound3DListener = IDirectSound3DListener8;

class IKsPropertySet {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT Get(const GUID& set, ULONG id, void* instance, ULONG instanceLength, void* data, ULONG length,
                        ULONG* returned) = 0;
    virtual HRESULT Set(const GUID& set, ULONG id, void* instance, ULONG instanceLength, void* data, ULONG length) = 0;
    virtual HRESULT QuerySupport(const GUID& set, ULONG id, ULONG* support) = 0;

protected:
    virtual ~IKsPropertySet() = default;
};

class IDirectSoundBuffer8 {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // IID_IDirectSound3DBuffer, IID_IDirectSound3DListener (primary only), IID_IKsPropertySet.
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual HRESULT GetCurrentPosition(DWORD* play, DWORD* write) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) = 0;
    virtual HRESULT GetVolume(LONG* volume) = 0;
    virtual HRESULT GetPan(LONG* pan) = 0;
    virtual HRESULT GetFrequency(DWORD* frequency) = 0;
    virtual HRESULT GetStatus(DWORD* status) = 0;
    virtual HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
                         DWORD flags) = 0;
    virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
    virtual HRESULT SetCurrentPosition(DWORD position) = 0;
    virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
    virtual HRESULT SetVolume(LONG volume) = 0;
    virtual HRESULT SetPan(LONG pan) = 0;
    virtual HRESULT SetFrequency(DWORD frequency) = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) = 0;
    virtual HRESULT Restore() = 0;

protected:
    virtual ~IDirectSoundBuffer8() = default;
};
using IDirectSoundBuffer = IDirectSoundBuffer8;

class IDirectSound8 {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer8** buffer, void* outer) = 0;
    virtual HRESULT GetCaps(DSCAPS* caps) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
    // Opens the device (for an object made by class id); DSERR_ALREADYINITIALIZED after that.
    virtual HRESULT Initialize(const GUID* device) = 0;

protected:
    virtual ~IDirectSound8() = default;
};
using IDirectSound = IDirectSound8;

// Opens the default playback device (device must be null).
HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** out, void* outer);

// Makes CLSID_EAXDirectSound8 known to CoCreateInstance (platform/win32/com.h):
// it gives an uninitialised IDirectSound8 (iid IID_IDirectSound8). Repeating it
// is harmless.
void DSound_RegisterClasses();

// Gains from hundredths of a decibel, as the device applies them.
float DS_VolumeToGain(LONG hundredthsDb);
