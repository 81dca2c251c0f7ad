#include "program/main.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "program/exit.h"
#include "program/gameloop.h"
#include "program/startup.h"
#include "script/savegame.h"
#include "system/keys.h"
#include "system/window.h"

ProgramState* g_ProgramState = nullptr;
ProgramOptions g_ProgramOptions = {};

namespace {
constexpr uint32_t PROFILING_BENCHMARK = 0x10;
constexpr uint32_t PROFILING_DUMP_BODIES = 0x1000;

enum OptionId {
    OPT_PROFI,
    OPT_NOABOUT,
    OPT_LOCATION,
    OPT_INTRO,
    OPT_OBJ,
    OPT_PAR,
    OPT_TUTORIAL,
    OPT_GALEDIT,
    OPT_LOAD,
    OPT_CUTCAPTURE,
    OPT_BODY,
    OPT_CUT,
    OPT_PLOTSCENE,
    OPT_EFFECT,
    OPT_BENCHMARK,
};

struct OptionRow {
    const char* word;
    bool takesValue;
};

// In table order: an argument matches only its own option.
constexpr OptionRow s_options[] = {
    {"profi", false}, {"noabout", false}, {"location", true},  {"intro", true},   {"obj", true},
    {"par", true},    {"tutorial", true}, {"galedit", true},   {"load", true},    {"cutcapture", false},
    {"body", true},   {"cut", true},      {"plotscene", true}, {"effect", false}, {"benchmark", false},
};

int MatchOption(const char* arg) {
    if (arg[0] != '/' && arg[0] != '-') return -1;
    for (int i = 0; i < static_cast<int>(std::size(s_options)); ++i)
        if (Qel_StrICmp(arg + 1, s_options[i].word) == 0) return i;
    return -1;
}

int32_t ReadInt(const char* text) {
    int32_t n = 0;
    return std::sscanf(text, "%d", &n) == 1 ? n : 0;
}
}  // namespace

ProgramState* P_InitGlobals(ProgramState* ps) {
    ps->ruzoModule = 0;
    ps->result.tag = VARTYPE_UNDEFINED;
    ps->result.bits = 0;
    ps->requestBits = 0;
    ps->lastKey = 0;
    ps->stringParameter = nullptr;
    ps->storyName = nullptr;
    ps->startMode = 0;
    ps->startScene = 0;
    ps->loadFlag = 0;
    ps->benchmarkScene = 0;
    ps->benchmarkRunning = 0;
    ps->benchmarkFrames = 0;
    ps->callerTable = Qel_TableCreate();
    g_CockpitSystem = nullptr;
    return ps;
}

void P_SetStoryName(const char* name) {
    ProgramState* ps = g_ProgramState;
    if (ps) ps->storyName = Qel_StrReassign(ps->storyName, name);
}

void P_FreeOptions(ProgramOptions* o) {
    for (char** name : {&o->gameStory, &o->introStory, &o->missionStory, &o->galaxyEditorStory, &o->bodyViewer,
                        &o->cutViewer, &o->plotSceneViewer, &o->loadStory})
        *name = Qel_StrFree(*name);
    *o = {};
    SB_SetLoadGameStory(nullptr);
    o->firstMode = -1;
}

void P_ParseOptions(int argc, char** argv, ProgramOptions* o) {
    P_FreeOptions(o);
    o->gameStory = Qel_StrDup("trevanstory");
    o->introStory = Qel_StrDup("trevanintro");
    o->missionStory = Qel_StrDup("trevantutorial");
    o->galaxyEditorStory = Qel_StrDup("trevangaledit");
    for (int i = 1; i < argc; ++i) {
        const int id = MatchOption(argv[i]);
        if (id < 0) continue;
        // A value option standing last has no value and is ignored. The value
        // is still looked at as an option in its own turn.
        const char* value = nullptr;
        if (s_options[id].takesValue) {
            if (i + 1 >= argc || !argv[i + 1]) continue;
            value = argv[i + 1];
        }
        switch (id) {
            case OPT_PROFI: o->profiling = true; break;
            case OPT_NOABOUT: o->noStartDialog = true; break;
            case OPT_LOCATION: o->gameStory = Qel_StrReassign(o->gameStory, value); break;
            case OPT_INTRO: o->introStory = Qel_StrReassign(o->introStory, value); break;
            case OPT_OBJ: o->firstMode = ReadInt(value); break;
            case OPT_PAR: o->firstScene = ReadInt(value); break;
            case OPT_TUTORIAL: o->missionStory = Qel_StrReassign(o->missionStory, value); break;
            case OPT_GALEDIT: o->galaxyEditorStory = Qel_StrReassign(o->galaxyEditorStory, value); break;
            case OPT_LOAD: o->loadStory = Qel_StrReassign(o->loadStory, value); break;
            case OPT_CUTCAPTURE: o->cutCapture = true; break;
            case OPT_BODY:
                o->bodyViewer = Qel_StrReassign(o->bodyViewer, value);
                o->noStartDialog = true;
                break;
            case OPT_CUT:
                o->cutViewer = Qel_StrReassign(o->cutViewer, value);
                o->noStartDialog = true;
                break;
            case OPT_PLOTSCENE:
                o->plotSceneViewer = Qel_StrReassign(o->plotSceneViewer, value);
                o->noStartDialog = true;
                break;
            case OPT_EFFECT:
                o->effectViewer = true;
                o->noStartDialog = true;
                break;
            case OPT_BENCHMARK: o->benchmark = true; break;
        }
    }
    // A save game loads this story in place of the one it names.
    SB_SetLoadGameStory(o->loadStory);
}

void P_ChooseFirstRun() {
    ProgramState* ps = g_ProgramState;
    const uint32_t prof = g_SystemState->SysProfilingFlags;
    P_SetStoryName(g_ProgramOptions.introStory);
    if (prof & PROFILING_BENCHMARK) {
        ps->startMode = P_MODE_INTRO;
        ps->startScene = 6628;
    } else if (prof & PROFILING_DUMP_BODIES) {
        ps->startMode = P_MODE_BODY_DUMP;
        ps->startScene = 0;
    } else {
        ps->startMode = P_MODE_INTRO;
        ps->startScene = 6005;
    }
    if (g_ProgramOptions.firstMode >= 0) {
        ps->startMode = g_ProgramOptions.firstMode;
        ps->startScene = g_ProgramOptions.firstScene;
    }
}

int P_ChooseNextRun(int r) {
    ProgramState* ps = g_ProgramState;
    const ProgramOptions& o = g_ProgramOptions;
    auto run = [ps](const char* story, int32_t mode, int32_t scene) {
        if (story) P_SetStoryName(story);
        ps->startMode = mode;
        ps->startScene = scene;
    };
    // Scene number of the menu's string parameter; 6000 without one.
    auto menuScene = [ps]() {
        int32_t scene = 6000;
        if (!ps->stringParameter || std::sscanf(ps->stringParameter, "%d", &scene) != 1) scene = 6000;
        return scene;
    };
    const bool benchmark = g_SystemState->SysProfilingFlags & PROFILING_BENCHMARK;

    switch (r) {
        case 1:
            Qel_DPrintf(0, "main() starting normal game game %d\n", r);
            run(o.gameStory, P_MODE_GAME, -1);
            return P_RUN_ON;
        case 90:
            Qel_DPrintf(0, "main() starting custom game game %d\n", r);
            run(o.gameStory, P_MODE_GAME, -2);
            return P_RUN_ON;
        case 11:
        case 12:
        case 13:
        case 21:
        case 22:
        case 23:
        case 31:
        case 32:
        case 33:
        case 99:
            Qel_DPrintf(0, "main() starting mission game %d\n", r);
            run(o.missionStory, P_MODE_GAME, r);
            return P_RUN_ON;
        case 8:
            Qel_DPrintf(0, "main() starting galaxy editor\n");
            run(o.galaxyEditorStory, P_MODE_GAME, -2);
            return P_RUN_ON;
        case 2:
            Qel_DPrintf(0, "main() starting demo\n");
            run(o.introStory, P_MODE_BODY_VIEWER, 0);
            return P_RUN_ON;
        case 5:
            Qel_DPrintf(0, "main() starting Replay!\n");
            run(o.introStory, P_MODE_REPLAY, 0);
            return P_RUN_ON;
        case 7: {
            int32_t scene = menuScene();
            Qel_DPrintf(0, "main() menu returned value %d, starting intro with scene %d\n", r, scene);
            run(o.introStory, P_MODE_INTRO, scene);
            return P_RUN_ON;
        }
        case 9: {
            int32_t scene = menuScene();
            Qel_DPrintf(0, "main() menu returned value %d, starting intro3 with scene %d\n", r, scene);
            run(o.introStory, o.cutCapture ? P_MODE_CUT_CAPTURE : P_MODE_INTRO, scene);
            return P_RUN_ON;
        }
        case 10: run(nullptr, P_MODE_INTRO, 6700); return P_RUN_ON;
        case 4:
        case 6: {
            int32_t scene = r == 4 ? 9000 : 4000;
            Qel_DPrintf(0, "main() menu returned value %d, starting demo2 with scene %d\n", r, scene);
            run(o.introStory, P_MODE_CUT_VIEWER, scene);
            return P_RUN_ON;
        }
        case 89:
            Qel_DPrintf(0, "main() starting effect demo\n");
            run(o.introStory, P_MODE_EFFECT_VIEWER, 0);
            return P_RUN_ON;
        case -3: run(o.introStory, P_MODE_INTRO, 6004); return P_RUN_ON;
        case -2:
            if (benchmark) return 36;
            run(o.introStory, P_MODE_MENU, 950);
            return P_RUN_ON;
        case 3: return 0;
        default: break;
    }
    const bool viewer = o.bodyViewer || o.cutViewer || o.plotSceneViewer || o.effectViewer;
    if (viewer && o.firstMode != -1) return 0;
    if (benchmark) return 36;
    if (r >= P_LOAD_RESULT_BASE) {
        Qel_DPrintf(0, "main() Trying to load savegame #%d\n", r - P_LOAD_RESULT_BASE);
        ps->loadFlag = 1;
        ps->startScene = r - P_LOAD_RESULT_BASE;
        return P_RUN_ON;
    }
    run(o.introStory, P_MODE_MENU, 950);
    return P_RUN_ON;
}

void P_StartModeLoop() {
    for (;;) {
        while (S_ProcessMessages(), S_GetKey() != 0) {}
        Qel_DPrintf(4, "intro vor Startmenue\n");
        Qel_DPrintf(4, "main() running story %s\n", g_ProgramState->storyName ? g_ProgramState->storyName : "");
        const int reason = P_ChooseNextRun(CL_GameLoop());
        if (reason != P_RUN_ON) P_Exit(reason);
    }
}

int P_Main(int argc, char** argv) {
    P_MarkProgramStart();
    P_StartUp(argc, argv);
    P_ChooseFirstRun();
    P_StartModeLoop();
}
