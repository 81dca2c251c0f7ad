// STAND-IN: see standin_devices.h. Weak, so the real definitions win as soon
// as they are linked in.
#include "system/standin_devices.h"

#include "program/standin_calls.h"

#define STANDIN __attribute__((weak))

namespace {
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
