// STANDIN: see standin.h.
#include "space/standin.h"

#include <cstdlib>
#include <cstring>
#include <map>

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
