// STANDIN: see standin.h.
#include "space/standin.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "base/file.h"
#include "base/log.h"
#include "base/standin_calls.h"
#include "script/modules.h"
#include "script/tasks.h"

SpaceRoot* g_SpaceRoot = nullptr;
TypeRecord* g_BulletTypes = nullptr;
int32_t g_BulletTypeCount = 0;
TypeRecord* g_LaserTypes = nullptr;
int32_t g_LaserTypeCount = 0;

namespace {
const char* const s_names[] = {nullptr};
// The section's one word; any value reads back.
constexpr uint8_t kSection[12] = {'S', 'E', 'C', 'T', 0, 0, 0, 1, '/', 'S', 'E', 'C'};

std::map<int32_t, const char* const*>& SubTypeNames() {
    static std::map<int32_t, const char* const*> names;
    return names;
}

int32_t SpaceStandInSysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

void SA_Init(SpaceRoot* root) {
    StandIn_Record("SA_Init");
    root->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, SpaceStandInSysCall, s_names, nullptr, nullptr, nullptr) : 0;
}

int SA_LoadObjectDB(SpaceRoot*) {
    StandIn_Record("SA_LoadObjectDB");
    return 1;
}

void SA_UpdateSpace() { StandIn_Record("SA_UpdateSpace"); }
void O_DeleteKilledChildren(SectorObject*) { StandIn_Record("O_DeleteKilledChildren"); }
void SA_FreeAllObjects(SpaceRoot*) { StandIn_Record("SA_FreeAllObjects"); }
void SA_ResetObjectDB(SpaceRoot*) { StandIn_Record("SA_ResetObjectDB"); }
void SA_RefitViews(SpaceRoot*) { StandIn_Record("SA_RefitViews"); }

int32_t SA_GetSubTypeByName(int32_t mainType, const char* text) {
    if (!text || !*text) return -1;
    if ((*text >= '0' && *text <= '9') || *text == '-' || *text == '+')
        return static_cast<int32_t>(std::strtol(text, nullptr, 10));
    auto it = SubTypeNames().find(mainType);
    if (it == SubTypeNames().end()) return -1;
    for (int32_t i = 0; it->second[i]; ++i)
        if (std::strcmp(it->second[i], text) == 0) return i;
    return -1;
}

void SA_SetSubTypeNames(int32_t mainType, const char* const* names) {
    if (names) SubTypeNames()[mainType] = names;
    else SubTypeNames().erase(mainType);
}

int SA_SaveSectors(QelFile* file) {
    StandIn_Record("SA_SaveSectors");
    if (StandIn_Fails("SA_SaveSectors")) return 0;
    return Qel_fwriteBlock(file, 1, sizeof kSection, kSection) == sizeof kSection ? 1 : 0;
}

int SA_LoadSectors(QelFile* file) {
    StandIn_Record("SA_LoadSectors");
    uint8_t got[sizeof kSection];
    if (Qel_fread(file, 1, sizeof got, got) != sizeof got || std::memcmp(got, kSection, 4) != 0 ||
        std::memcmp(got + 8, kSection + 8, 4) != 0) {
        Qel_ErrPrintf("SA_LoadSectors: Wrong SECT section\n");
        return 0;
    }
    return StandIn_Fails("SA_LoadSectors") ? 0 : 1;
}
