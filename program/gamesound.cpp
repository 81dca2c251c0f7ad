#include "program/gamesound.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/sample.h"
#include "base/strings.h"
#include "base/vrmfile.h"
#include "program/movies.h"
#include "base/standin_calls.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/typesfiles.h"
#include "script/builtins_args.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/cdaudio.h"
#include "system/clock.h"
#include "system/sound.h"

SfxState* g_SfxState = nullptr;
SoundEffectEntry* g_SfxGroups[SFX_GROUPS] = {};
int32_t g_SfxGroupCounts[SFX_GROUPS] = {};

namespace {

constexpr uint32_t kMem = 9u << 24;
constexpr uint32_t kDebug = 0x800;

int GoesOn(int c) {
    const SoundChannel& ch = S_SoundChannels[c];
    return !ch.buffer || (ch.flags & SOUND_CHANNEL_3D_PENDING) || S_ChannelIsPlaying(c);
}
}  // namespace

SfxSoundLink g_SfxSoundLink = {GoesOn, S_StartSoundEffect, Qel_ContinueSoundEffect};

namespace {

const char* const s_names[] = {"SFX_LoadSample",
                               "SFX_PlaySample",
                               "SFX_PlaySound",
                               "SFX_PlaySound3D",
                               "SFX_LoadMOD",
                               "SFX_PlayMOD",
                               "SFX_StopMOD",
                               "SFX_FreeMOD",
                               "SFX_SetFXVolume",
                               "SFX_SetMODVolume",
                               "SFX_GetSampleLenInK",
                               "SFX_StopSample",
                               "SFX_FindSample",
                               "SFX_FreeSample",
                               "SFX_SetMasterVolume",
                               "SFX_GetMasterVolume",
                               "SFX_SetMODAttributes",
                               "SFX_ReadMODAttributes",
                               "SFX_GetSampleSec",
                               "SFX_GetSampleMilliSec",
                               "SFX_SetChannelInfo",
                               "SFX_ExportPrivateInfo",
                               "SFX_SetPanningState",
                               "SFX_GetPanningState",
                               "CD_Stop",
                               "CD_PlayTrack",
                               "CD_SetVolume",
                               "CD_GetNumTracks",
                               "CD_GetTrackLength",
                               "SFX_GetMODVolume",
                               "SFX_GetFXVolume",
                               "SFX_GetVoiceVolume",
                               "SFX_GetFlags",
                               "SFX_SetFlags",
                               "SFX_GetLanguage",
                               "SFX_SetLanguage",
                               "SFX_GetVoiceLanguage",
                               "SFX_SetVoiceVolume",
                               "SFX_SetMusicType",
                               "SFX_SetEAXRoom",
                               nullptr};

const VRMNameValue kFlagNames[] = {{"SFX_LOOP", 0x1},
                                   {"SFX_ONE_MEM_BLOCK", 0x2},
                                   {"SFX_INTERPOLATE", 0x4},
                                   {"SFX_DSIK", 0x8},
                                   {"SFX_TOBECONTINUED", 0x10},
                                   {"SFX_3DCONTROL", 0x20},
                                   {"SFX_AUTOFREE", 0x40},
                                   {"NULL", 0},
                                   {"", 0}};

uint32_t SoundFlags() { return g_SoundState ? g_SoundState->flags : 0; }
bool SoundPresent() { return SoundFlags() & SOUND_FLAG_RUNNING; }
bool EffectsOff() { return SoundFlags() & SOUND_FLAG_OFF; }
bool AudioOff() { return SoundFlags() & SOUND_FLAG_NO_CD; }
bool EffectsPlay() { return SoundPresent() && !EffectsOff(); }
int32_t Now() { return g_SystemState ? g_SystemState->realClock : 0; }
int32_t Later(int32_t ms) { return S_ClockAdvance(Now(), ms); }

// A waiting caller told its answer; module 0 is nobody.
void Reply(int32_t module, int32_t handle, int32_t value) {
    if (module) SE_CallerReturnInt(module, value, static_cast<uint32_t>(handle));
}

void AnswerAndClear(SfxChannel* c, int32_t value) {
    int32_t module = c->module, handle = c->handle;
    c->module = c->handle = 0;
    Reply(module, handle, value);
}

SfxLoadedSample* FindLoaded(int32_t id) {
    if (!g_SfxState) return nullptr;
    for (SfxLoadedSample* n = g_SfxState->first; n; n = n->next)
        if (n->id == id && n->sample) return n;
    return nullptr;
}

// Loads a sample file by id into the loaded list; null when it cannot be had.
QelSample* LoadSample(int32_t id, uint32_t flags) {
    if (!g_SfxState || EffectsOff()) return nullptr;
    char* name = id >= 0 ? Qel_Format(nullptr, "S\\%03d", id) : Qel_Format(nullptr, "T\\%06d", -id);
    QelSample* s = name ? Qel_OpenSoundFX(name, flags) : nullptr;
    Qel_StrFree(name);
    if (!s) return nullptr;
    auto* n = Int_AllocRecord<SfxLoadedSample>(kMem);
    if (!n) {
        Qel_ErrPrintf("out of memory for sample\n");
        Qel_FreeSample(s);
        return nullptr;
    }
    n->sample = s;
    n->id = id;
    n->flags = flags;
    n->next = g_SfxState->first;
    if (n->next) n->next->prev = n;
    g_SfxState->first = n;
    return s;
}

bool AutoFrees(int32_t id) {
    if (id < 0) return true;
    SfxLoadedSample* n = FindLoaded(id);
    return n && (n->flags & SFX_AUTOFREE);
}

void StopBuffer(int channel) {
    if (!EffectsOff()) Qel_StopSoundEffect(channel);
}

void FreeMods() {
    for (int i = 1; i < SFX_MOD_SLOTS; ++i) g_SfxState->modNames[i] = Qel_StrFree(g_SfxState->modNames[i]);
}

}  // namespace

// ---------------------------------------------------------------- start and end

SfxState* SFX_Init() {
    StandIn_Record("SFX_Init");
    if (StandIn_Fails("SFX_Init")) return nullptr;
    auto* s = Int_AllocRecord<SfxState>(kMem);
    if (!s) return nullptr;
    g_SfxState = s;
    for (int i = 0; i <= SFX_CHANNELS; ++i) {
        auto* c = Int_AllocRecord<SfxChannel>(kMem);
        if (!c) {
            SFX_Exit();
            return nullptr;
        }
        if (i < SFX_CHANNELS) s->channels[i] = c;
        else s->dummy = c;
    }
    SystemState* sys = g_SystemState;
    if (sys && g_SoundState && !AudioOff()) {
        S_SetMainVolume(static_cast<uint32_t>(sys->masterVolume));
        if (g_SoundState->flags & SFX_MUSIC_CD)
            S_SetCDVolume(static_cast<uint32_t>(sys->masterVolume * sys->modVolume / 255));
    }
    s->language = static_cast<int16_t>(sys ? sys->languageId : 0);
    s->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, SFX_SysCall, s_names, nullptr, nullptr, nullptr) : 0;
    if (g_SoundState) g_SoundState->notify = SFX_CDFinished;
    s->cdModule = s->cdHandle = s->cdTrack = 0;
    return s;
}

void SFX_Exit() {
    StandIn_Record("SFX_Exit");
    SfxState* s = g_SfxState;
    if (!s) return;
    while (SfxLoadedSample* n = s->first) {
        s->first = n->next;
        Qel_FreeSample(n->sample);
        Int_FreeRecord(n, kMem);
    }
    for (int g = 0; g < SFX_GROUPS; ++g)
        for (int r = 0; r < g_SfxGroupCounts[g]; ++r)
            if (g_SfxGroups[g]) g_SfxGroups[g][r].sample = nullptr;
    FreeMods();
    for (SfxChannel*& c : s->channels) {
        Int_FreeRecord(c, kMem);
        c = nullptr;
    }
    Int_FreeRecord(s->dummy, kMem);
    if (g_SoundState && g_SoundState->notify == SFX_CDFinished) g_SoundState->notify = nullptr;
    Int_FreeRecord(s, kMem);
    g_SfxState = nullptr;
}

void SFX_FreeAllSamples() {
    StandIn_Record("SFX_FreeAllSamples");
    for (int g = 0; g < SFX_GROUPS; ++g) {
        if (g_SfxGroups[g])
            Int_FreeMem(g_SfxGroups[g], sizeof(SoundEffectEntry) * static_cast<size_t>(g_SfxGroupCounts[g]), kMem);
        g_SfxGroups[g] = nullptr;
        g_SfxGroupCounts[g] = 0;
    }
}

void SFX_InitSounds() {
    StandIn_Record("SFX_InitSounds");
    SFX_FreeAllSamples();
    VRMFile* r = B3DB_OpenTypesFile("Sounds");
    if (!r) {
        Qel_ErrPrintf("SFX_InitSounds() no Sounds file, no sound effects\n");
        return;
    }
    int32_t version = r->ReadInt();
    if (version < 1) {
        Qel_ErrPrintf("SFX_InitSounds() Sounds.txt version %d is invalid\n", version);
        Qel_CloseFileBuffer(r);
        return;
    }
    while (!r->error && r->cursor < r->base + r->size) {
        int32_t g = r->ReadInt();
        if (r->error) break;
        int32_t group = g / 100;
        if (group < 0 || group >= SFX_GROUPS) continue;
        int32_t n = r->ReadInt();
        // Each row takes at least seven bytes: a count the file cannot hold is
        // as bad as a negative one.
        if (r->error || n < 0 || n > (r->base + r->size - r->cursor) / 7) break;
        if (g_SfxGroups[group]) {
            Int_FreeMem(g_SfxGroups[group], sizeof(SoundEffectEntry) * static_cast<size_t>(g_SfxGroupCounts[group]),
                        kMem);
            g_SfxGroups[group] = nullptr;
            g_SfxGroupCounts[group] = 0;
        }
        auto* rows = n ? static_cast<SoundEffectEntry*>(Int_AllocMem(sizeof(SoundEffectEntry) * n, kMem)) : nullptr;
        if (n && !rows) break;
        for (int32_t i = 0; i < n; ++i) {
            SoundEffectEntry& e = rows[i];
            e = SoundEffectEntry{};
            e.priority = r->ReadShort();
            e.volume = r->ReadInt();
            e.flags = r->ReadFlags32(kFlagNames);
            e.pitchMin = r->ReadInt();
            e.pitchMax = r->ReadInt();
            e.volumeVariation = r->ReadInt();
            e.distance = r->ReadInt();
        }
        g_SfxGroups[group] = rows;
        g_SfxGroupCounts[group] = n;
    }
    Qel_CloseFileBuffer(r);
}

// ---------------------------------------------------------------- the table

SoundEffectEntry* SFX_FindEffect(int32_t effectId) {
    if (effectId < 0) return nullptr;
    int32_t g = effectId / 100, row = effectId - 100 * g;
    if (g >= SFX_GROUPS || !g_SfxGroups[g] || row >= g_SfxGroupCounts[g]) return nullptr;
    return &g_SfxGroups[g][row];
}

uint32_t P_SoundGetFlags(int32_t effectId) {
    SoundEffectEntry* e = SFX_FindEffect(effectId);
    if (!e) {
        Qel_DPrintf(0, "P_SoundGetFlags() unknown effect: %d\n", effectId);
        return 0;
    }
    return e->flags;
}

int32_t P_SoundGetVolume(int32_t effectId) {
    SoundEffectEntry* e = SFX_FindEffect(effectId);
    if (!e) {
        Qel_DPrintf(0, "P_SoundGetVolume() unknown effect: %d\n", effectId);
        return 0;
    }
    return e->volume;
}

// ---------------------------------------------------------------- playing

int SFX_IntPlaySample(int channel, int32_t callerModule, int32_t handle, int32_t id, QelSample* sample, int32_t length,
                      uint32_t frequency, int32_t volume, int32_t priority, int32_t pan) {
    SfxChannel* c = g_SfxState->channels[channel];
    c->flags = 0;
    if (length >= 0) {
        uint32_t frame = sample && sample->bytesPerSample ? sample->bytesPerSample : 1;
        int64_t ms = frequency ? static_cast<int64_t>(length / frame) * 1000 / frequency : 0;
        c->endTime = S_ClockAdvance(Now(), static_cast<int32_t>(ms % S_CLOCK_SPAN));
    } else {
        c->endTime = 0;
        c->flags = 1;
        Qel_DPrintf(kDebug, "IntPlaySample(%d): vor Qel_Start: Loop-Sample\n", channel);
    }
    if (priority == 0) {
        Qel_DPrintf(0, "SFX: Pri 0 not allowed!\n");
        priority = 1;
    }
    c->priority = static_cast<int16_t>(priority);
    c->module = callerModule;
    c->handle = handle;
    c->sampleId = id;
    if (EffectsPlay() && g_SfxSoundLink.start(sample, channel, length < 0, frequency, static_cast<uint32_t>(volume),
                                              static_cast<uint32_t>(pan)) != -1)
        return channel;
    Qel_DPrintf(0, "SFX_IntPlaySample(%d, %d) failed Qel_StartSoundEffect()\n", id, channel);
    c->priority = 0;
    c->flags = 0;
    c->endTime = 0;
    AnswerAndClear(c, 0);
    return -1;
}

int SFX_PlaySample(int32_t callerModule, int32_t handle, int32_t sampleId, int32_t playLength, int32_t pitch,
                   int32_t volume, int32_t priority, int32_t pan) {
    SfxState* s = g_SfxState;
    if (!s) {
        Reply(callerModule, handle, 0);
        return -1;
    }
    int best = -1, freeCh = -1, lowest = 32767;
    for (int i = 0; i < SFX_CHANNELS; ++i) {
        SfxChannel* c = s->channels[i];
        if (c->priority == 0) {
            if (best < 0 && c->sampleId == sampleId) best = i;
            if (freeCh < 0) freeCh = i;
        }
        if (c->priority < lowest) lowest = c->priority;
    }
    int ch = -1;
    if (best >= 0) {
        ch = best;
        Qel_DPrintf(kDebug, "SFX_PlaySample(id=%d) using BEST channel %d!\n", sampleId, ch);
    } else if (freeCh >= 0) {
        ch = freeCh;
        Qel_DPrintf(kDebug, "SFX_PlaySample(id=%d) using FREE channel %d!\n", sampleId, ch);
    } else if (priority >= lowest) {
        int32_t nearest = 0;
        for (int i = 0; i < SFX_CHANNELS; ++i) {
            SfxChannel* c = s->channels[i];
            if (c->priority != lowest) continue;
            // A looping sound never ends by itself: it is the farthest.
            int32_t remaining = (c->flags & 1) ? S_CLOCK_SPAN / 2 : S_ClockDiff(c->endTime, Now());
            if (ch < 0 || remaining < nearest) {
                ch = i;
                nearest = remaining;
            }
        }
        SfxChannel* c = s->channels[ch];
        Qel_DPrintf(0, "SFX_PlaySample(id=%d) using LOWER PRI[%d] channel %d with sample %d!\n", sampleId, lowest, ch,
                    c->sampleId);
        int32_t oldId = c->sampleId;
        int32_t module = c->module, oldHandle = c->handle;
        c->module = c->handle = 0;
        c->priority = 0;
        Reply(module, oldHandle, 1);
        if (AutoFrees(oldId)) {
            StopBuffer(ch);
            SFX_FreeSample(oldId);
        }
    }
    if (ch < 0) {
        SfxChannel* d = s->dummy;
        Qel_DPrintf(0, "SFX_PlaySample(id=%d) unable to find a channel, using dummy\n", sampleId);
        if (d->priority) {
            Qel_DPrintf(0, "SFX_PlaySample(id=%d) replying dummy sample %d\n", sampleId, d->sampleId);
            AnswerAndClear(d, 1);
        }
        d->module = callerModule;
        d->handle = handle;
        d->sampleId = sampleId;
        d->priority = static_cast<int16_t>(priority ? priority : 1);
        d->endTime = Later(500);
        return -1;
    }
    SfxLoadedSample* node = FindLoaded(sampleId);
    QelSample* sample = node ? node->sample : nullptr;
    if (!sample && !EffectsOff()) {
        sample = LoadSample(sampleId, P_SoundGetFlags(sampleId));
        if (sample) Qel_SetSampleVolume(sample, static_cast<uint32_t>(P_SoundGetVolume(sampleId)));
    }
    SfxChannel* c = s->channels[ch];
    if (sample) {
        uint32_t frequency = sample->frequency;
        if (pitch) frequency = static_cast<uint32_t>(frequency * std::pow(2.0, pitch / 100.0));
        int32_t length = playLength ? playLength : static_cast<int32_t>(sample->length);
        return SFX_IntPlaySample(ch, callerModule, handle, sampleId, sample, length, frequency, volume, priority, pan);
    }
    if (EffectsPlay()) {
        Qel_DPrintf(2, "ERROR: Sample %d couldn't be played\n", sampleId);
        Reply(callerModule, handle, 0);
        return -1;
    }
    // No device or effects off: a silent stand-in answers the caller later.
    c->endTime = Later(500);
    c->flags = 0;
    c->priority = static_cast<int16_t>(priority ? priority : 1);
    c->module = callerModule;
    c->handle = handle;
    c->sampleId = sampleId;
    return ch;
}

namespace {

// Steps 1 and 2 of both effect calls: the row with its sample loaded, or null
// after the caller was answered 0.
SoundEffectEntry* PrepareEffect(int32_t callerModule, int32_t handle, int32_t effectId, bool threeD) {
    SoundEffectEntry* e = SFX_FindEffect(effectId);
    if (!e) {
        if (threeD) Qel_DPrintf(0, "SFX_PlaySound3D() unknown effect: %d\n", effectId);
        else Qel_DPrintf(0, "SFX_PlaySound() unknown effect: %d, channel: %d\n", effectId, -1);
        Reply(callerModule, handle, 0);
        return nullptr;
    }
    if (!e->sample && !EffectsOff()) {
        if (e->flags & SFX_LOAD_FAILED) {
            Reply(callerModule, handle, 0);
            return nullptr;
        }
        SfxLoadedSample* n = FindLoaded(effectId);
        e->sample = n ? n->sample : LoadSample(effectId, e->flags);
        if (!e->sample) {
            Qel_DPrintf(0, threeD ? "SFX_PlaySound3D(%d) loading failed!\n" : "SFX_PlaySound(%d) loading failed!\n",
                        effectId);
            e->flags |= SFX_LOAD_FAILED;
            Reply(callerModule, handle, 0);
            return nullptr;
        }
        if (threeD) Qel_DPrintf(kDebug, "SFX_PlaySound3D(%d) Loading sound effect\n", effectId);
        else Qel_DPrintf(kDebug, "SFX_PlaySound(%d,%d) Loading sound effect\n", effectId, -1);
    }
    return e;
}

int32_t VaryVolume(const SoundEffectEntry* e, int32_t volume) {
    int32_t v = e->volumeVariation;
    if (v > 0) {
        int32_t d = Qel_LongRandom(2 * v + 1) - v;
        if (d < 0) volume += d * volume / 100;
        if (volume < 0) volume = 0;
    }
    return volume;
}

int32_t PitchOf(const SoundEffectEntry* e) {
    int32_t p = e->pitchMin;
    if (e->pitchMax > e->pitchMin) p += Qel_LongRandom(e->pitchMax - e->pitchMin + 1);
    return p;
}

}  // namespace

int SFX_PlaySound(int32_t callerModule, int32_t handle, int32_t effectId, int32_t volume) {
    SoundEffectEntry* e = PrepareEffect(callerModule, handle, effectId, false);
    if (!e) return 0;
    if (volume < 0) volume = e->volume >= 0 ? e->volume : 255;
    volume = VaryVolume(e, volume);
    int32_t pitch = PitchOf(e);
    int32_t length = 0;
    if (e->flags & SFX_LOOP) {
        length = -1;
        Qel_DPrintf(kDebug, "SFX_PlaySound(%d,%d) Loopsound started!\n", effectId, -1);
    }
    int32_t priority = (e->flags & SFX_3DCONTROL) ? 255 : e->priority;
    SFX_PlaySample(callerModule, handle, effectId, length, pitch, volume, priority, 64);
    return 1;
}

int SFX_PlaySound3D(int32_t callerModule, int32_t handle, int32_t effectId, Inst3D* instance) {
    SoundEffectEntry* e = PrepareEffect(callerModule, handle, effectId, true);
    if (!e) return 0;
    int32_t volume = VaryVolume(e, e->volume >= 0 ? e->volume : 255);
    int32_t pitch = PitchOf(e);
    int32_t length = 0;
    if (e->flags & SFX_LOOP) {
        length = -1;
        Qel_DPrintf(kDebug, "SFX_PlaySound3D(%d) starts a looping sound!!\n", effectId);
    }
    const Camera3D* listener = nullptr;
    if (instance && instance->scene)
        for (const Camera3D* cam = B3D_First<Camera3D>(&instance->scene->cameras); cam; cam = B3D_Next(cam))
            if (cam->camFlags & CAM_LISTENER) {
                listener = cam;
                break;
            }
    // A positioned effect keeps its row's priority, listener or not.
    if (!listener) {
        SFX_PlaySample(callerModule, handle, effectId, length, pitch, volume, e->priority, 64);
        return 1;
    }
    int32_t pan = 64;
    if (&listener->inst != instance) {
        const QelVector& a = instance->worldPos;
        const QelVector& b = listener->inst.worldPos;
        int64_t d[3] = {static_cast<int64_t>(a.x) - b.x, static_cast<int64_t>(a.y) - b.y,
                        static_cast<int64_t>(a.z) - b.z};
        if (d[0] || d[1] || d[2]) {
            double len = std::sqrt(static_cast<double>(d[0]) * d[0] + static_cast<double>(d[1]) * d[1] +
                                   static_cast<double>(d[2]) * d[2]);
            int64_t dot = 0;
            for (int i = 0; i < 3; ++i) {
                int64_t unit = static_cast<int64_t>(d[i] * 65536.0 / len);
                dot += unit * listener->inst.worldMatrix.m[i] >> 16;
            }
            pan = 64 + static_cast<int32_t>(dot >> 11);
        }
        int64_t r = e->distance ? e->distance : 50000;
        int64_t dist = 0;
        for (int64_t v : d) dist = std::max<int64_t>(dist, v < 0 ? -v : v);
        int64_t divisor = 4 * r;
        int64_t v3 = divisor ? static_cast<int64_t>(volume) * (5 * r - dist) / divisor : 0;
        if (v3 > 255) v3 = 255;
        if (v3 > volume) v3 = volume;
        if (v3 < 1) {
            Reply(callerModule, handle, 0);
            return 0;
        }
        volume = static_cast<int32_t>(v3);
    }
    SFX_PlaySample(callerModule, handle, effectId, length, pitch, volume, e->priority, pan);
    return 1;
}

int SFX_PlayEffect(int32_t effectId) { return SFX_PlaySound(0, 0, effectId, -1); }
int SFX_PlayEffect3D(Inst3D* instance, int32_t effectId) { return SFX_PlaySound3D(0, 0, effectId, instance); }

// ---------------------------------------------------------------- stopping and freeing

int SFX_LoadSample(int32_t sampleId, uint32_t flags) {
    if (FindLoaded(sampleId)) return 1;
    return LoadSample(sampleId, flags) ? 1 : 0;
}

int SFX_FindSample(int32_t sampleId) {
    if (!g_SfxState) return 0;
    for (SfxChannel* c : g_SfxState->channels)
        if (c->priority && c->sampleId == sampleId) return 1;
    return 0;
}

void SFX_StopSampleChannels(int32_t sampleId) {
    if (!g_SfxState) return;
    for (int i = 0; i < SFX_CHANNELS; ++i) {
        SfxChannel* c = g_SfxState->channels[i];
        if (c->sampleId != sampleId) continue;
        bool busy = c->priority != 0;
        c->priority = 0;
        AnswerAndClear(c, 1);
        if (busy && !EffectsOff()) Qel_StopAndFreeSoundEffect(i);
        c->sampleId = 0;
    }
}

int SFX_FreeSample(int32_t sampleId) {
    SfxState* s = g_SfxState;
    QelSample* sample = nullptr;
    for (SfxLoadedSample* n = s ? s->first : nullptr; n;) {
        SfxLoadedSample* next = n->next;
        if (n->id == sampleId) {
            if (n->prev) n->prev->next = n->next;
            else s->first = n->next;
            if (n->next) n->next->prev = n->prev;
            if (n->sample && n->sample != sample) {
                // A channel that still holds the buffer lets go of it first.
                for (int i = 0; i < SFX_CHANNELS; ++i)
                    if (S_SoundChannels[i].sample == n->sample->descriptor && n->sample->descriptor)
                        Qel_StopAndFreeSoundEffect(i);
                Qel_FreeSample(n->sample);
                sample = n->sample;
            }
            Int_FreeRecord(n, kMem);
        }
        n = next;
    }
    if (SoundEffectEntry* e = SFX_FindEffect(sampleId)) e->sample = nullptr;
    if (!sample) {
        Qel_DPrintf(0, "Failed freeing sample %d\n", sampleId);
        return 0;
    }
    return 1;
}

int SFX_StopSoundChannel(int channel, int32_t sampleId) {
    SfxChannel* c = g_SfxState && channel >= 0 && channel < SFX_CHANNELS ? g_SfxState->channels[channel] : nullptr;
    if (!c || c->sampleId != sampleId || !c->priority) {
        Qel_DPrintf(0,
                    "SFX_StopSoundChannel() failed stopping sample %d channel %d\nSFX_Channel[%d]->SR_ID=%d "
                    "SR_Pri=%d\n",
                    sampleId, channel, channel, c ? c->sampleId : 0, c ? c->priority : 0);
        return 0;
    }
    c->priority = 0;
    StopBuffer(channel);
    AnswerAndClear(c, 1);
    if (AutoFrees(sampleId)) {
        SFX_StopSampleChannels(sampleId);
        SFX_FreeSample(sampleId);
    }
    return 1;
}

int SFX_StopSample(int32_t sampleId) {
    if (g_SfxState)
        for (int i = 0; i < SFX_CHANNELS; ++i) {
            SfxChannel* c = g_SfxState->channels[i];
            if (c->priority && c->sampleId == sampleId) return SFX_StopSoundChannel(i, sampleId);
        }
    Qel_DPrintf(0, "SFX_StopSample() failed stopping sample %d\n", sampleId);
    return 0;
}

void SFX_ReleaseSounds() {
    StandIn_Record("SFX_ReleaseSounds");
    if (!g_SfxState) return;
    for (int g = 0; g < SFX_GROUPS; ++g)
        for (int r = 0; r < g_SfxGroupCounts[g]; ++r) {
            if (!g_SfxGroups[g] || !g_SfxGroups[g][r].sample) continue;
            int32_t id = g * 100 + r;
            SFX_StopSampleChannels(id);
            SFX_FreeSample(id);
            g_SfxGroups[g][r].sample = nullptr;
        }
}

void SFX_IntFreeSample(int) {
    StandIn_Record("SFX_IntFreeSample");
    if (!g_SfxState) return;
    while (SfxLoadedSample* n = g_SfxState->first) {
        int32_t id = n->id;
        SFX_StopSampleChannels(id);
        if (!SFX_FreeSample(id)) break;
    }
}

// ---------------------------------------------------------------- per frame

void SFX_VBI() {
    StandIn_Record("SFX_VBI");
    SfxState* s = g_SfxState;
    if (!s) return;
    for (int i = 0; i < SFX_CHANNELS; ++i) {
        SfxChannel* c = s->channels[i];
        if (!c->priority || (c->flags & 1)) continue;
        int32_t remaining = S_ClockDiff(c->endTime, Now());
        int finished = 0;
        if (remaining > 0) {
            if (!EffectsPlay() || g_SfxSoundLink.goesOn(i)) continue;
            finished = 1;
        }
        Qel_DPrintf(kDebug, "SFX_Vbi() stopping channel %d, remaining time %d, isfinished=%d\n", i, remaining,
                    finished);
        SfxLoadedSample* node = FindLoaded(c->sampleId);
        bool continueFailed = false;
        if (node && (node->flags & SFX_TOBECONTINUED)) {
            Qel_DPrintf(kDebug, "SFX_VBI -> Continue\n");
            if (g_SfxSoundLink.continueSample(node->sample)) {
                Qel_DPrintf(kDebug, "SFX_VBI -> IntPlay\n");
                QelSample* sm = node->sample;
                SFX_IntPlaySample(i, c->module, c->handle, c->sampleId, sm, static_cast<int32_t>(sm->length),
                                  sm->frequency, sm->volume, c->priority, 64);
                continue;
            }
            continueFailed = true;
        }
        c->priority = 0;
        int32_t id = c->sampleId;
        AnswerAndClear(c, 1);
        if (id < 0 || continueFailed || (node && (node->flags & SFX_AUTOFREE))) {
            StopBuffer(i);
            SFX_FreeSample(id);
            c->sampleId = 0;
            SFX_StopSampleChannels(id);
        }
        if (s->dummy->priority) {
            s->dummy->priority = 0;
            AnswerAndClear(s->dummy, 1);
        }
    }
    // The dummy's caller is not left waiting when no channel ends.
    if (s->dummy->priority && S_ClockDiff(s->dummy->endTime, Now()) <= 0) {
        s->dummy->priority = 0;
        AnswerAndClear(s->dummy, 1);
    }
}

void SFX_CDFinished() {
    Qel_DPrintf(0, "SFX: CD track finished callback \n");
    SfxState* s = g_SfxState;
    if (!s) return;
    int32_t module = s->cdModule, handle = s->cdHandle;
    s->cdModule = s->cdHandle = s->cdTrack = 0;
    Reply(module, handle, 1);
}

// ---------------------------------------------------------------- save section

namespace {
void PutWord(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
uint32_t GetWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}
}  // namespace

int SFX_SaveGame(QelFile* file) {
    uint8_t buf[400];
    std::memcpy(buf, "SFX ", 4);
    for (int c = 0; c <= SFX_CHANNELS; ++c) {
        const SfxChannel* ch = g_SfxState ? (c < SFX_CHANNELS ? g_SfxState->channels[c] : g_SfxState->dummy) : nullptr;
        PutWord(buf + 4 + 12 * c, static_cast<uint32_t>(static_cast<int32_t>(ch ? ch->priority : 0)));
        PutWord(buf + 8 + 12 * c, static_cast<uint32_t>(ch ? ch->module : 0));
        PutWord(buf + 12 + 12 * c, static_cast<uint32_t>(ch ? ch->handle : 0));
    }
    // A section cut short must fail the save.
    for (int i = 0; i < 100; ++i)
        if (Qel_fwriteBlock(file, 4, 1, buf + 4 * i) != 1) return 0;
    return 1;
}

int SFX_LoadGame(QelFile* file) {
    uint8_t buf[400];
    if (Qel_fread(file, 1, 4, buf) != 4 || std::memcmp(buf, "SFX ", 4) != 0) {
        Qel_DPrintf(0, "SFX_LoadGame: Wrong SFX cookie\n");
        return 0;
    }
    if (Qel_fread(file, 1, 396, buf + 4) != 396) {
        Qel_DPrintf(0, "SFX_LoadGame: section cut short\n");
        return 0;
    }
    SE_Context* ctx = g_SEContext;
    for (int c = 0; c <= SFX_CHANNELS; ++c) {
        int32_t priority = static_cast<int32_t>(GetWord(buf + 4 + 12 * c));
        int32_t module = static_cast<int32_t>(GetWord(buf + 8 + 12 * c));
        int32_t handle = static_cast<int32_t>(GetWord(buf + 12 + 12 * c));
        if (!priority || !module) continue;
        if (!ctx || module < 1 || module >= ctx->nextModule || !ctx->modules[module].handler) {
            Qel_DPrintf(0, "SFX_LoadGame: channel %d waits on unknown module %d, skipped\n", c, module);
            continue;
        }
        Reply(module, handle, 1);
    }
    return 1;
}

// ---------------------------------------------------------------- engine calls

const char* const* SFX_GetCallNames() { return s_names; }

namespace {

int32_t Now(SE_Task* task, int32_t n) { return SE_AnswerInt(g_SEContext, task, n); }
int32_t Soon(int32_t module, SE_Task* task, int32_t n) {
    Reply(module, static_cast<int32_t>(task->id), n);
    return 1;
}

char* ModSlot(int32_t slot) { return slot >= 1 && slot < SFX_MOD_SLOTS ? g_SfxState->modNames[slot] : nullptr; }

uint32_t SampleMs(int32_t id) {
    SfxLoadedSample* n = FindLoaded(id);
    if (!n || !n->sample->frequency) return 0;
    // Timed by sample frames: a 16-bit sample has two bytes per frame.
    uint32_t frames = n->sample->length / (n->sample->bytesPerSample ? n->sample->bytesPerSample : 1);
    return static_cast<uint32_t>(static_cast<uint64_t>(frames) * 1000 / n->sample->frequency);
}

void ApplyMusicVolume() {
    SystemState* sys = g_SystemState;
    if (!sys || !g_SoundState) return;
    if (g_SoundState->flags & SFX_MUSIC_SOUNDTRACK) MOV_ApplyVolume(0x80, sys->modVolume);
    if (g_SoundState->flags & SFX_MUSIC_CD)
        S_SetCDVolume(static_cast<uint32_t>(sys->masterVolume * sys->modVolume / 255));
}

}  // namespace

int32_t SFX_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (!task) return 0;
    SfxState* s = g_SfxState;
    SystemState* sys = g_SystemState;
    auto arg = [&](int i) { return SE_ArgInt(args, argc, i); };
    const int32_t handle = static_cast<int32_t>(task->id);
    if (!s || call < 0 || call >= 40) {
        const char* where = SE_GetCurrentDebugAddress();
        Qel_DPrintf(0, "SFX_SysCall: (%s) Undefined System Call %d\n", where ? where : "invalid address", call);
        return Now(task, 0);
    }
    switch (call) {
        case 0: {
            int32_t id = arg(0);
            QelSample* sm = FindLoaded(id) ? FindLoaded(id)->sample : LoadSample(id, P_SoundGetFlags(id));
            if (sm) Qel_SetSampleVolume(sm, static_cast<uint32_t>(P_SoundGetVolume(id)));
            return Soon(callerModule, task, sm ? 1 : 0);
        }
        case 1: SFX_PlaySample(callerModule, handle, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5)); return 1;
        case 2: SFX_PlaySound(callerModule, handle, arg(0), argc > 1 ? arg(1) : -1); return 1;
        case 3: {
            Inst3D* inst = g_B3DState ? B3D_InstFind(static_cast<uint32_t>(arg(1))) : nullptr;
            if (!inst) return Now(task, 0);
            SFX_PlaySound3D(callerModule, handle, arg(0), inst);
            return 1;
        }
        case 4: {
            int slot = 1;
            while (slot < SFX_MOD_SLOTS && s->modNames[slot]) ++slot;
            if (slot >= SFX_MOD_SLOTS) {
                Qel_DPrintf(0, "to many mods loaded\n");
                return Soon(callerModule, task, 0);
            }
            const char* name = SE_ArgText(args, argc, 0);
            s->modNames[slot] = Qel_StrDup(name ? name : "");
            if (!s->modNames[slot]) {
                Qel_DPrintf(0, "MOD: OOM\n");
                return Soon(callerModule, task, 0);
            }
            s->modAttributes[slot] = 0;
            return Soon(callerModule, task, slot);
        }
        case 5:
            if (AudioOff()) return Soon(callerModule, task, 0);
            if (!ModSlot(arg(0))) {
                Qel_DPrintf(0, "MOD: error mod not found\n");
                return Soon(callerModule, task, 0);
            }
            s->currentMod = static_cast<int16_t>(arg(0));
            return Soon(callerModule, task, 1);
        case 6:
            if (AudioOff()) return Now(task, 0);
            s->currentMod = 0;
            return Now(task, 1);
        case 7:
            if (!ModSlot(arg(0))) {
                Qel_DPrintf(0, "MOD: error mod not found\n");
                return Now(task, 0);
            }
            s->modNames[arg(0)] = Qel_StrFree(s->modNames[arg(0)]);
            if (s->currentMod == arg(0)) s->currentMod = 0;
            return Now(task, 1);
        case 8:
            if (AudioOff() || !sys) return Now(task, 0);
            sys->fxVolume = arg(0);
            if (g_SoundState) g_SoundState->volume = static_cast<uint32_t>(arg(0));
            return Now(task, 1);
        case 9:
            if (!sys) return Now(task, 0);
            sys->modVolume = arg(0);
            ApplyMusicVolume();
            return Now(task, 1);
        case 10: {
            SfxLoadedSample* n = FindLoaded(arg(0));
            return Now(task, n ? static_cast<int32_t>(n->sample->length / 1024) : 0);
        }
        case 11: return Now(task, SFX_StopSample(arg(0)));
        case 12: return Now(task, SFX_FindSample(arg(0)));
        case 13: return Now(task, SFX_FreeSample(arg(0)));
        case 14:
            if (AudioOff() || !sys) return Now(task, 0);
            sys->masterVolume = arg(0);
            S_SetMainVolume(static_cast<uint32_t>(arg(0)));
            ApplyMusicVolume();
            return Now(task, 1);
        case 15: return Now(task, AudioOff() || !sys ? 0 : sys->masterVolume);
        case 16:
            if (AudioOff()) return Soon(callerModule, task, 0);
            if (!ModSlot(arg(0))) {
                Qel_DPrintf(0, "MOD: error mod not found\n");
                return Soon(callerModule, task, 0);
            }
            s->modAttributes[arg(0)] = static_cast<int16_t>(arg(1));
            return Soon(callerModule, task, 1);
        case 17:
            if (AudioOff()) return Soon(callerModule, task, 0);
            if (!ModSlot(arg(0))) {
                Qel_DPrintf(0, "MOD: error mod not found\n");
                return Soon(callerModule, task, 0);
            }
            return Soon(callerModule, task, s->modAttributes[arg(0)]);
        case 18: return Soon(callerModule, task, static_cast<int32_t>(SampleMs(arg(0)) / 1000));
        case 19: return Soon(callerModule, task, static_cast<int32_t>(SampleMs(arg(0)) % 1000));
        case 20: return Soon(callerModule, task, 0);
        case 21:
            switch (arg(0)) {
                case 0x4b1: return Now(task, 0);
                case 0x4b4: return Now(task, 10);
                case 0x4b5: {
                    int n = 0;
                    for (int i = 1; i < SFX_MOD_SLOTS; ++i) n += s->modNames[i] != nullptr;
                    return Now(task, n);
                }
                case 0x4b6: {
                    int n = 0;
                    for (SfxLoadedSample* l = s->first; l; l = l->next) ++n;
                    return Now(task, n);
                }
                default: Qel_DPrintf(0, "SFX_ExportPrivateInfo(): Wrong EXP_ID: %04x\n", arg(0)); return Now(task, 0);
            }
        case 22: s->panningState = arg(0); return Soon(callerModule, task, 1);
        case 23: return Soon(callerModule, task, s->panningState);
        case 24: {
            int32_t m = s->cdModule, h = s->cdHandle;
            s->cdModule = s->cdHandle = s->cdTrack = 0;
            Reply(m, h, 1);
            S_CDStop();
            return Soon(callerModule, task, 1);
        }
        case 25: {
            if (!g_SoundState || !(g_SoundState->flags & SFX_MUSIC_CD)) return Soon(callerModule, task, 0);
            int32_t m = s->cdModule, h = s->cdHandle;
            s->cdModule = s->cdHandle = s->cdTrack = 0;
            Reply(m, h, 1);
            if (!S_CDPlayTrack(arg(0))) return Soon(callerModule, task, 0);
            s->cdModule = callerModule;
            s->cdHandle = handle;
            s->cdTrack = arg(0);
            return 1;
        }
        case 26: S_SetCDVolume(static_cast<uint32_t>(arg(0))); return Now(task, 1);
        case 27: return Now(task, static_cast<int32_t>(S_CDGetTrackCount()));
        case 28: return Now(task, static_cast<int32_t>(S_CDGetTrackLength(arg(0))));
        case 29: return Now(task, sys ? sys->modVolume : 0);
        case 30: return Now(task, sys ? sys->fxVolume : 0);
        case 31: return Now(task, sys ? sys->voiceVolume : 0);
        case 32: return Now(task, s->flags);
        case 33: s->flags = arg(0); return Now(task, 0);
        case 34: return Now(task, s->language);
        case 35: s->language = static_cast<int16_t>(arg(0)); return Now(task, 0);
        case 36: {
            int32_t l = arg(0);
            return Now(task, l == 7 || l == 33 || l == 44 || l == 49 ? l : 0);
        }
        case 37:
            if (sys) sys->voiceVolume = arg(0);
            MOV_ApplyVolume(0x100, arg(0));
            return Now(task, 0);
        case 38:
            if (g_SoundState) {
                g_SoundState->flags &= ~0x8c0u;
                if (arg(0) == 1) g_SoundState->flags |= SFX_MUSIC_CD;
                else if (arg(0) == 2) g_SoundState->flags |= SFX_MUSIC_STREAM;
                else if (arg(0) == 3) g_SoundState->flags |= SFX_MUSIC_SOUNDTRACK;
            }
            return Now(task, 0);
        case 39: S_SFXSetEAXRoom(arg(1), arg(0)); return Now(task, 0);
    }
    return Now(task, 0);
}
