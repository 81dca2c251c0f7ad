// STAND-IN: see standin_devices.h. Weak, so the real definitions win as soon
// as they are linked in.
#include "system/standin_devices.h"

#include "base/log.h"
#include "base/memory.h"
#include "program/standin_calls.h"
#include "system/window.h"

#define STANDIN __attribute__((weak))

namespace {
struct SoundStateStandIn {
    uint32_t flags;
};
SoundStateStandIn* s_sound = nullptr;
InputState* s_input = nullptr;   // the record made here (tests may put their own)

int Answer(const char* call) {
    StandIn_Record(call);
    return StandIn_Fails(call) ? 0 : 1;
}
}  // namespace

STANDIN int S_EnumDevices() { return Answer("S_EnumDevices"); }
STANDIN int S_ChooseAdapter() { return Answer("S_ChooseAdapter"); }
// No settings are stored yet: start-up goes on with the defaults.
STANDIN int S_LoadRegistrySettings() {
    StandIn_Record("S_LoadRegistrySettings");
    return 0;
}
STANDIN int S_SaveRegistrySettings() { return Answer("S_SaveRegistrySettings"); }

STANDIN const char* S_TextureQualityName(int quality) {
    switch (quality) {
        case 0: return "low";
        case 1: return "medium";
        case 2: return "high";
        default: return "not defined";
    }
}
STANDIN const char* S_ShaderQualityName(int quality) { return S_TextureQualityName(quality); }

STANDIN int S_RunStartDialog() { return Answer("S_RunStartDialog"); }

STANDIN InputState* S_InitIO(uint32_t) {
    if (!Answer("S_InitIO")) return nullptr;
    if (!s_input) s_input = Int_AllocRecord<InputState>(0);
    g_InputState = s_input;
    return s_input;
}

STANDIN void S_CloseIO() {
    StandIn_Record("S_CloseIO");
    if (!s_input) return;
    if (g_InputState == s_input) g_InputState = nullptr;
    Int_FreeRecord(s_input, 0);
    s_input = nullptr;
}

// The key ring's characters as they are; the real key reading maps them to
// the engine's key codes.
STANDIN uint16_t S_GetKey() {
    const KeyRingEntry* e = S_KeyRingNext(false);
    return e ? static_cast<uint16_t>(e->code) : 0;
}

STANDIN void S_SystemMessage(const char* text) {
    StandIn_Record("S_SystemMessage");
    Qel_DPrintf(0, "%s\n", text);
}

STANDIN SoundState* S_InitDS3D(uint32_t) {
    if (!Answer("S_InitDS3D")) return nullptr;
    if (!s_sound) s_sound = Int_AllocRecord<SoundStateStandIn>(0);
    return reinterpret_cast<SoundState*>(s_sound);
}

STANDIN void S_CloseAudio() {
    StandIn_Record("S_CloseAudio");
    if (s_sound) Int_FreeRecord(s_sound, 0);
    s_sound = nullptr;
}

SoundState* StandIn_SoundState() { return reinterpret_cast<SoundState*>(s_sound); }
