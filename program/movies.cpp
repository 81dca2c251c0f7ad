// STUB: see movies.h.
#include "program/movies.h"

#include "program/standin_calls.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/window.h"

int32_t g_MovieModule = 0;

namespace {
const char* const s_names[] = {nullptr};

// Also the whole module while there is no movie table: every call answers 0.
int32_t MOV_SysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

MovieTable* MOV_Init() {
    StandIn_Record("MOV_Init");
    MovieTable* table = S_InitMovies();
    if (g_SEContext)
        g_MovieModule = SB_RegisterEngineModule(g_SEContext, MOV_SysCall, s_names, nullptr, nullptr, nullptr);
    S_WindowLinks.stopPlayingMovies = MOV_StopPlayingMovies;
    return table;
}

void MOV_StopPlayingMovies() { StandIn_Record("MOV_StopPlayingMovies"); }
void MOV_CheckFinished() { StandIn_Record("MOV_CheckFinished"); }
void MOV_FreeAllMovies() { StandIn_Record("MOV_FreeAllMovies"); }
void MOV_FreeVoices() { StandIn_Record("MOV_FreeVoices"); }
void MOV_Exit() {
    StandIn_Record("MOV_Exit");
    S_FreeMovies();
    if (S_WindowLinks.stopPlayingMovies == MOV_StopPlayingMovies) S_WindowLinks.stopPlayingMovies = nullptr;
}
