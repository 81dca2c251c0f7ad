// The sound device: DirectSound with its primary buffer and 3D listener, 32
// numbered channels each with its own buffer (and 3D buffer for 3D samples),
// volume, pan and frequency conversions, deferred 3D settings committed once
// per frame, and the EAX reverb rooms.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

class IDirectSound8;
class IDirectSoundBuffer8;
class IDirectSound3DBuffer8;
class IDirectSound3DListener8;
class IKsPropertySet;
struct EAXLISTENERPROPERTIES;

struct QelSample;
struct QelSampleDesc;

// Memory tag of the sound records and sample data.
constexpr uint32_t SOUND_MEM_TAG = 14;

// SoundState flag bits.
constexpr uint32_t SOUND_FLAG_RUNNING = 0x1;
constexpr uint32_t SOUND_FLAG_OFF = 0x4;
constexpr uint32_t SOUND_FLAG_NO_CD = 0x8;  // no compact-disc search
constexpr uint32_t SOUND_FLAG_MIDI_VOLUME = 0x40;
constexpr uint32_t SOUND_FLAG_SEARCH_CD = 0x80;
constexpr uint32_t SOUND_FLAG_EAX = 0x200;
constexpr uint32_t SOUND_FLAG_DS_CREATED = 0x400;

using S_SoundNotifyFn = void (*)();

struct SoundState {
    uint32_t flags;
    uint32_t volume;         // effect volume 0..256
    S_SoundNotifyFn notify;  // compact-disc completion routine of the game-sound module
    void* extra;             // 4-byte block
};
extern SoundState* g_SoundState;

constexpr int S_SOUND_CHANNELS = 32;
constexpr uint32_t SOUND_CHANNEL_3D_PENDING = 0x1;

struct SoundChannel {
    QelSampleDesc* sample;
    IDirectSoundBuffer8* buffer;
    IDirectSound3DBuffer8* buffer3D;
    uint32_t flags;
};
extern SoundChannel S_SoundChannels[S_SOUND_CHANNELS];

// Device objects.
struct SoundDevice {
    IDirectSound8* directSound;
    IDirectSoundBuffer8* primary;
    IDirectSound3DListener8* listener;
    LONG savedPrimaryVolume;
    IDirectSoundBuffer8* eaxBuffer;  // 4-byte carrier of the EAX property set
    IDirectSound3DBuffer8* eaxBuffer3D;
    IKsPropertySet* eaxPropertySet;
    int32_t eaxScenario;
    int32_t eaxLocation;
};
extern SoundDevice S_SoundDevice;

// audioFlags carries SOUND_FLAG_RUNNING when sound is wanted; a device that
// cannot be made clears it (a silent run). 0 only when the record cannot be
// allocated or the primary buffer cannot be made or played.
SoundState* S_InitDS3D(uint32_t audioFlags);
void S_CloseAudio();
// True while the device runs with a 3D listener, so 3D samples can be heard.
bool S_Sound3DAvailable();
const char* S_DSErrorText(HRESULT result);

int Int_SoundBufferAlloc(int channel, QelSampleDesc* descriptor);
void Int_SoundBufferFree(int channel);
void Int_StopSoundEffect(int channel);
void Int_StopSoundEffectA(int channel);
int S_StartSoundEffect(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume, uint32_t pan);
int S_PlaySound3D(int channel);
int S_ChannelIsPlaying(int channel);

int S_SetSound3DInfo(int channel, uint32_t outsideConeAngle, uint32_t insideConeAngle, int32_t coneX, int32_t coneY,
                     int32_t coneZ, int32_t minDistance, uint32_t volume);
int S_SetSound3DPosition(int32_t x, int32_t y, int32_t z, int channel);
int S_SetSound3DVelocity(int channel, int32_t x, int32_t y, int32_t z);
int S_SetSound3DOrientation(int channel, int32_t x, int32_t y, int32_t z);
int S_SetSound3DVolume(uint32_t volume, int channel);
int S_SetListener3DPosition();
int S_SetListener3DVelocity();
int S_SetListener3DOrientation();
int S_Sound3DCommitDeferred();
void S_SetMainVolume(uint32_t volume);

int S_InitEAXUnified();
int Int_InitEAXListener();
// The listener record of a room; scenario and location are script numbers.
EAXLISTENERPROPERTIES S_SFX_GetEAXListenerProperties(int32_t location, int32_t scenario);
int S_SFXSetEAXRoom(int32_t location, int32_t scenario);

// Conversions to hundredths of a decibel and DirectSound pan, as applied here.
int32_t S_ChannelVolumeToDB(uint32_t stateVolume, uint32_t volume);
int32_t S_3DVolumeToDB(uint32_t stateVolume, uint32_t volume);
int32_t S_PanToDS(uint32_t pan);
int32_t S_MainVolumeToDB(uint32_t volume);
