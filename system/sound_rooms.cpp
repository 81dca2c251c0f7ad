// The EAX reverb rooms: the 26 standard environments and the game's own rooms
// per scenario and location, as EAX listener records. The standard
// environments are taken from OpenAL's EFX reverb presets (turned back into
// the EAX record: gains to hundredths of a decibel, density to a room size).
#include <AL/efx-presets.h>

#include <cmath>

#include "base/log.h"
#include "platform/dsound/dsound.h"
#include "system/sound.h"

namespace {

const EFXEAXREVERBPROPERTIES kEfxPresets[26] = {
    EFX_REVERB_PRESET_GENERIC,    EFX_REVERB_PRESET_PADDEDCELL,    EFX_REVERB_PRESET_ROOM,
    EFX_REVERB_PRESET_BATHROOM,   EFX_REVERB_PRESET_LIVINGROOM,    EFX_REVERB_PRESET_STONEROOM,
    EFX_REVERB_PRESET_AUDITORIUM, EFX_REVERB_PRESET_CONCERTHALL,   EFX_REVERB_PRESET_CAVE,
    EFX_REVERB_PRESET_ARENA,      EFX_REVERB_PRESET_HANGAR,        EFX_REVERB_PRESET_CARPETEDHALLWAY,
    EFX_REVERB_PRESET_HALLWAY,    EFX_REVERB_PRESET_STONECORRIDOR, EFX_REVERB_PRESET_ALLEY,
    EFX_REVERB_PRESET_FOREST,     EFX_REVERB_PRESET_CITY,          EFX_REVERB_PRESET_MOUNTAINS,
    EFX_REVERB_PRESET_QUARRY,     EFX_REVERB_PRESET_PLAIN,         EFX_REVERB_PRESET_PARKINGLOT,
    EFX_REVERB_PRESET_SEWERPIPE,  EFX_REVERB_PRESET_UNDERWATER,    EFX_REVERB_PRESET_DRUGGED,
    EFX_REVERB_PRESET_DIZZY,      EFX_REVERB_PRESET_PSYCHOTIC,
};
// Room sizes of the environments whose density is saturated (1.0) and so
// does not tell the size.
const float kSizes[26] = {7.5f,  1.4f, 1.9f,  1.4f, 2.5f,   11.6f, 21.6f, 19.6f, 14.6f, 36.2f, 50.3f, 1.9f, 1.8f,
                          13.5f, 7.5f, 38.0f, 7.5f, 100.0f, 17.5f, 42.5f, 8.3f,  1.7f,  1.8f,  1.9f,  1.8f, 1.0f};

enum Env {
    GENERIC,
    PADDEDCELL,
    ROOM,
    BATHROOM,
    LIVINGROOM,
    STONEROOM,
    AUDITORIUM,
    CONCERTHALL,
    CAVE,
    ARENA,
    HANGAR,
    CARPETEDHALLWAY,
    HALLWAY,
    STONECORRIDOR,
    ALLEY,
    FOREST,
    CITY,
    MOUNTAINS,
    QUARRY,
    PLAIN,
    PARKINGLOT,
    SEWERPIPE,
    UNDERWATER,
    DRUGGED,
    DIZZY,
    PSYCHOTIC
};

int32_t Mb(float gain) { return gain > 0 ? static_cast<int32_t>(std::lround(2000.0 * std::log10(gain))) : -10000; }

EAXLISTENERPROPERTIES FromEfx(int env) {
    const EFXEAXREVERBPROPERTIES& e = kEfxPresets[env];
    EAXLISTENERPROPERTIES r{};
    r.ulEnvironment = static_cast<uint32_t>(env);
    r.flEnvironmentSize = e.flDensity < 1.0f ? static_cast<float>(std::cbrt(16.0 * e.flDensity)) : kSizes[env];
    r.flEnvironmentDiffusion = e.flDiffusion;
    r.lRoom = Mb(e.flGain);
    r.lRoomHF = Mb(e.flGainHF);
    r.lRoomLF = Mb(e.flGainLF);
    r.flDecayTime = e.flDecayTime;
    r.flDecayHFRatio = e.flDecayHFRatio;
    r.flDecayLFRatio = e.flDecayLFRatio;
    r.lReflections = Mb(e.flReflectionsGain);
    r.flReflectionsDelay = e.flReflectionsDelay;
    r.vReflectionsPan = {e.flReflectionsPan[0], e.flReflectionsPan[1], -e.flReflectionsPan[2]};
    r.lReverb = Mb(e.flLateReverbGain);
    r.flReverbDelay = e.flLateReverbDelay;
    r.vReverbPan = {e.flLateReverbPan[0], e.flLateReverbPan[1], -e.flLateReverbPan[2]};
    r.flEchoTime = e.flEchoTime;
    r.flEchoDepth = e.flEchoDepth;
    r.flModulationTime = e.flModulationTime;
    r.flModulationDepth = e.flModulationDepth;
    r.flAirAbsorptionHF = static_cast<float>(Mb(e.flAirAbsorptionGainHF));
    r.flHFReference = e.flHFReference;
    r.flLFReference = e.flLFReference;
    r.flRoomRolloffFactor = e.flRoomRolloffFactor;
    // Decay time, reflections and reverb scale with the size; the HF limit as the preset says.
    r.ulFlags = 0x1F | (e.iDecayHFLimit ? EAXLISTENERFLAGS_DECAYHFLIMIT : 0);
    return r;
}

// A game room: a standard environment marked as the game's own (26).
EAXLISTENERPROPERTIES Custom(int env) {
    EAXLISTENERPROPERTIES r = FromEfx(env);
    r.ulEnvironment = 26;
    return r;
}

struct Scenario {
    int count;
    int envs[9];
};
// Scenarios 0-4 share one table of 9 locations each; 5 has no rooms.
const Scenario kScenarios[14] = {
    {9, {ARENA, HANGAR, HALLWAY, STONECORRIDOR, ROOM, STONEROOM, ARENA, CAVE, CONCERTHALL}},
    {9, {HANGAR, ARENA, HALLWAY, CARPETEDHALLWAY, ROOM, LIVINGROOM, STONEROOM, AUDITORIUM, GENERIC}},
    {9, {CAVE, STONECORRIDOR, QUARRY, MOUNTAINS, SEWERPIPE, HALLWAY, STONEROOM, ARENA, GENERIC}},
    {9, {CITY, ALLEY, PARKINGLOT, PLAIN, FOREST, HANGAR, HALLWAY, ROOM, GENERIC}},
    {9, {UNDERWATER, SEWERPIPE, CAVE, STONECORRIDOR, HALLWAY, HANGAR, ROOM, PADDEDCELL, GENERIC}},
    {0, {}},
    {5, {HANGAR, HALLWAY, ROOM, STONEROOM, ARENA}},
    {6, {AUDITORIUM, CONCERTHALL, LIVINGROOM, ROOM, CARPETEDHALLWAY, HALLWAY}},
    {5, {CAVE, QUARRY, MOUNTAINS, PLAIN, FOREST}},
    {3, {CITY, ALLEY, PARKINGLOT}},
    {8, {HANGAR, ARENA, AUDITORIUM, CONCERTHALL, STONEROOM, STONECORRIDOR, HALLWAY, ROOM}},
    {6, {DRUGGED, DIZZY, PSYCHOTIC, UNDERWATER, SEWERPIPE, PADDEDCELL}},
    {3, {HANGAR, HALLWAY, ARENA}},
    {26, {}},
};

EAXLISTENERPROPERTIES GameRoom(uint32_t scenario, uint32_t location) {
    EAXLISTENERPROPERTIES r = Custom(kScenarios[scenario].envs[location]);
    if (scenario == 0 && location == 0) {
        r.flEnvironmentSize = 8.3f;
        r.flEnvironmentDiffusion = 0.81f;
        r.lRoom = -1000;
        r.lRoomHF = -1100;
        r.lRoomLF = -1500;
        r.flDecayTime = 3.14f;
        r.flDecayHFRatio = 0.79f;
        r.flDecayLFRatio = 0.62f;
        r.lReflections = -1300;
        r.flReflectionsDelay = 0.056f;
        r.lReverb = -500;
        r.flReverbDelay = 0.024f;
        r.flHFReference = 5168.6f;
        r.flLFReference = 139.5f;
        r.ulFlags = 0x20;
    } else if (scenario == 12 && location == 2) {
        r.flEnvironmentSize = 36.2f;
        r.flEnvironmentDiffusion = 0.7f;
        r.lRoom = -1200;
        r.lRoomHF = -698;
        r.flDecayTime = 1.51f;
        r.lReverb = 200;
        r.flReverbDelay = 0.03f;
        r.ulFlags = 0;
    }
    return r;
}

}  // namespace

EAXLISTENERPROPERTIES S_SFX_GetEAXListenerProperties(int32_t location, int32_t scenario) {
    // Script numbers: anything negative is out of range like anything too large.
    uint32_t s = static_cast<uint32_t>(scenario);
    uint32_t l = static_cast<uint32_t>(location);
    if (s >= 14 || kScenarios[s].count == 0) return FromEfx(GENERIC);
    uint32_t count = static_cast<uint32_t>(kScenarios[s].count);
    if (l >= count) {
        Qel_DPrintf(0, "S_SFX_GetEAXListenerProperties() scenarionr=%d locationnr=%d out of range!\n", scenario,
                    location);
        l = 0;
    }
    if (s == 13) return FromEfx(static_cast<int>(l));
    return GameRoom(s, l);
}
