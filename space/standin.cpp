// STANDIN: see standin.h.
#include "space/standin.h"

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
