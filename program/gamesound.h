// Game sound (SFX_, CD_: engine-call module 5): the sound-effect table
// "Sounds.txt", 32 prioritised playback channels over the sound layer's
// channels, effects positioned at 3D instances relative to the listener
// camera, music-module slots, compact-disc tracks, the volumes, and the save
// section that answers, after a load, every task that waited on a sound.
#pragma once

#include <cstdint>

struct QelFile;
struct QelSample;
struct Inst3D;

constexpr int SFX_CHANNELS = 32;
constexpr int SFX_GROUPS = 13;
constexpr int SFX_MOD_SLOTS = 11;  // slots 1..10; 0 is never used

// Effect flags of "Sounds.txt".
constexpr uint32_t SFX_LOOP = 0x1;
constexpr uint32_t SFX_ONE_MEM_BLOCK = 0x2;
constexpr uint32_t SFX_INTERPOLATE = 0x4;
constexpr uint32_t SFX_DSIK = 0x8;
constexpr uint32_t SFX_TOBECONTINUED = 0x10;
constexpr uint32_t SFX_3DCONTROL = 0x20;
constexpr uint32_t SFX_AUTOFREE = 0x40;
constexpr uint32_t SFX_LOAD_FAILED = 0x80;  // set at run time: never loaded again

// SoundState music-type bits.
constexpr uint32_t SFX_MUSIC_CD = 0x80;
constexpr uint32_t SFX_MUSIC_STREAM = 0x40;
constexpr uint32_t SFX_MUSIC_SOUNDTRACK = 0x800;

struct SfxChannel {
    int32_t module;  // engine-call module waiting for the end (0 = none)
    int32_t handle;
    int32_t endTime;   // real-time clock, 0 for a looping sound
    int32_t sampleId;  // 0 = none
    int16_t priority;  // 0 = free
    uint16_t flags;    // bit 0 looping
};

struct SfxLoadedSample {
    SfxLoadedSample* next;
    SfxLoadedSample* prev;
    QelSample* sample;
    int32_t id;
    uint32_t flags;
};

struct SoundEffectEntry {
    int16_t priority;
    int32_t volume;  // 0..255, negative = 255
    uint32_t flags;
    int32_t distance;  // full-volume radius in raw position units, 0 = 50000
    int32_t pitchMin, pitchMax;
    int32_t volumeVariation;
    QelSample* sample;
};

struct SfxState {
    SfxLoadedSample* first;  // loaded-sample list
    SfxChannel* channels[SFX_CHANNELS];
    SfxChannel* dummy;
    char* modNames[SFX_MOD_SLOTS];
    int16_t currentMod;
    int16_t modAttributes[SFX_MOD_SLOTS];
    int32_t panningState;
    int32_t flags;
    int16_t language;
    int32_t cdModule, cdHandle, cdTrack;  // the pending compact-disc request
    int32_t moduleNumber;
};
// Null before SFX_Init and after SFX_Exit.
extern SfxState* g_SfxState;

// The effect table: 13 groups of rows (null = no group).
extern SoundEffectEntry* g_SfxGroups[SFX_GROUPS];
extern int32_t g_SfxGroupCounts[SFX_GROUPS];

// What the module asks of the sound layer's channels; tests replace it to
// make a buffer play, stop or refuse to start without timing.
struct SfxSoundLink {
    // 1 while the channel's sound goes on (no buffer, marked, or playing).
    int (*goesOn)(int channel);
    // The sound layer's start; -1 on failure.
    int (*start)(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume, uint32_t pan);
    // The sample's next part; 1 when there is one.
    int (*continueSample)(QelSample* sample);
};
extern SfxSoundLink g_SfxSoundLink;

SfxState* SFX_Init();
// The sound-effect table "Sounds.txt"; last step of start-up.
void SFX_InitSounds();
// Per frame, after the message pump.
void SFX_VBI();
int SFX_PlaySound(int32_t callerModule, int32_t handle, int32_t effectId, int32_t volume);
int SFX_PlaySound3D(int32_t callerModule, int32_t handle, int32_t effectId, Inst3D* instance);
int SFX_PlayEffect(int32_t effectId);
int SFX_PlayEffect3D(Inst3D* instance, int32_t effectId);
// The channel, or -1 when nothing was started on a channel.
int SFX_PlaySample(int32_t callerModule, int32_t handle, int32_t sampleId, int32_t playLength, int32_t pitch,
                   int32_t volume, int32_t priority, int32_t pan);
int SFX_IntPlaySample(int channel, int32_t callerModule, int32_t handle, int32_t id, QelSample* sample, int32_t length,
                      uint32_t frequency, int32_t volume, int32_t priority, int32_t pan);
// Loads a sample with the given effect flags unless it is loaded; 1 when it is.
int SFX_LoadSample(int32_t sampleId, uint32_t flags);
int SFX_FindSample(int32_t sampleId);
int SFX_StopSample(int32_t sampleId);
int SFX_StopSoundChannel(int channel, int32_t sampleId);
void SFX_StopSampleChannels(int32_t sampleId);
int SFX_FreeSample(int32_t sampleId);
// The effect row of an id, or null (negative ids are in no group).
SoundEffectEntry* SFX_FindEffect(int32_t effectId);
uint32_t P_SoundGetFlags(int32_t effectId);
int32_t P_SoundGetVolume(int32_t effectId);
// End of a story: stops and frees every loaded effect.
void SFX_ReleaseSounds();
// Location reset: frees the loaded samples.
void SFX_IntFreeSample(int flag);
void SFX_FreeAllSamples();
void SFX_Exit();
int SFX_SaveGame(QelFile* file);
int SFX_LoadGame(QelFile* file);
// The engine-call handler of module 5.
int32_t SFX_SysCall(int32_t callerModule, struct SE_Task* task, int32_t call, int32_t argc, struct ScriptValue* args);
const char* const* SFX_GetCallNames();
// The compact-disc track-finished notice of the sound layer.
void SFX_CDFinished();
