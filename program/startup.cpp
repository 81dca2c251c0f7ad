#include "program/startup.h"

#include <cstdio>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/display.h"
#include "base/texcache.h"
#include "base/strings.h"
#include "cockpit/ticker.h"
#include "cockpit/effects.h"
#include "cockpit/galaxy.h"
#include "cockpit/cockpits.h"
#include "cockpit/syscall.h"
#include "program/exit.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "program/pcalls.h"
#include "program/shell.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/sound3d.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/behaviour.h"
#include "space/objects.h"
#include "space/typesdb.h"
#include "system/entry.h"
#include "system/adapters.h"
#include "system/input.h"
#include "system/keys.h"
#include "system/settings.h"
#include "system/sound.h"
#include "system/startdialog.h"
#include "system/standin_fields.h"
#include "system/timer.h"
#include "system/video.h"
#include "system/window.h"

P_StartupStep g_StartupFailStep = P_STEP_NONE;

namespace {
constexpr uint32_t PROFILING_IGNORE_SETTINGS = 0x8;
constexpr uint32_t PROFILING_SETTINGS_FOUND = 0x4;
constexpr uint32_t PROFILING_BENCHMARK = 0x10;
constexpr uint32_t PROFILING_NO_SAVE = 0x40;
constexpr uint32_t PROFILING_PROFI = 0x200;
constexpr uint32_t D3D_AUTO_QUALITY = 0x800000;
constexpr uint32_t VIDEO_KEEP_WINDOWED = 0x8000000;
constexpr uint32_t VIDEO_DEVICE_SURFACES = 0x20;
constexpr uint32_t VIDEO_TWO_VIEWS = 0x2000000;
constexpr uint64_t LOW_MEMORY = 0x10000000;  // 256 MiB

const AppDescriptor s_app = {"Trevan",
                             0,
                             100,
                             "save\\Qel%02d.sav",
                             "%02d.cat",
                             "%c%02d.cat",
                             "mods\\%s.cat",
                             "screenshots",
                             "F\\%s",
                             {"tex\\%s", "textures\\%s", "dds\\%s"},
                             "L\\%s.obj",
                             "mov\\%s",
                             {"types\\%s.txt", "types\\%s.pck"}};

constexpr uint32_t s_maskWords[16] = {0x20021, 0x40,  0x400,  0x180000, 0x8800,   0x1000,   0x40082,   0x4000,
                                      0x200,   0x100, 0x2010, 0,        0x400000, 0x800000, 0x2000000, 0x1000000};

bool Fails(P_StartupStep step) { return g_StartupFailStep == step; }

[[noreturn]] void FailStoryLoad(const char* name) {
    Qel_DPrintf(0, "Can't load story %s!\n", name);
    Qel_DPrintf(0, "%s", P_ExitReasonText(1));
    P_Exit(1);
}

// The low-memory check: physical memory, page file and both together all
// below 256 MiB end the program.
void CheckMemory() {
    uint64_t physical = 0;
    uint64_t pageFile = 0;
    S_GetMemoryTotals(&physical, &pageFile);
    if (physical >= LOW_MEMORY || pageFile >= LOW_MEMORY || physical + pageFile >= LOW_MEMORY) return;
    S_SystemMessage(g_SystemState->languageId == 49
                        ? "Ihr Computer hat nicht genügend virtuellen Speicherplatz auf Ihrer Festplatte. Bitte "
                          "stellen Sie sicher, dass etwa 300MB auf Ihrer Festplatte frei sind."
                        : "Your machine is low on virtual memory. Please free about 300MB space on your harddrive "
                          "and start Qel again!");
    P_Exit(0);
}

void LoadSettings() {
    SystemState* sys = g_SystemState;
    if (!(sys->SysProfilingFlags & PROFILING_IGNORE_SETTINGS)) {
        const uint32_t profiling = sys->SysProfilingFlags;
        const uint32_t video = sys->videoFlags;
        const uint32_t d3d2 = sys->VideoD3DFlags2;
        if (!S_LoadRegistrySettings()) {
            Qel_DPrintf(0, "Couldn't find registry settings.\nUsing defaults.\n");
            sys->SysProfilingFlags &= ~PROFILING_SETTINGS_FOUND;
        } else {
            sys->SysProfilingFlags |= PROFILING_SETTINGS_FOUND;
        }
        sys->SysProfilingFlags |= profiling & 0xf0;
        sys->videoFlags |= video & VIDEO_KEEP_WINDOWED;
        sys->VideoD3DFlags2 |= d3d2 & 0x8;
    }
    sys->VideoD3DFlags2 |= 0x8;
}

// "ships\objects\v\x.bod" names the body "v\x.bod".
const char* AfterObjects(const char* name, const char* marker) {
    const char* p = std::strstr(name, marker);
    return p ? p + std::strlen(marker) : name;
}

}  // namespace

void P_StartViewers() {
    ProgramOptions& o = g_ProgramOptions;
    SystemState* sys = g_SystemState;
    if (o.bodyViewer) {
        int32_t id = B3D_GetBodyID(AfterObjects(o.bodyViewer, "\\objects\\"));
        Qel_DPrintf(0, "Loading BodyID for bodyviewer: %d!\n", id);
        if (id > 0) {
            sys->SysProfilingFlags |= 0x3;
            o.firstMode = P_MODE_BODY_VIEWER;
            o.firstScene = id;
        }
    }
    if (o.cutViewer) {
        int32_t id = B3D_GetCutID(AfterObjects(o.cutViewer, "\\objects\\"));
        Qel_DPrintf(0, "Loading CutID for cutviewer: %d!\n", id);
        if (id > 0) {
            sys->SysProfilingFlags |= 0x3;
            o.firstMode = P_MODE_CUT_VIEWER;
            o.firstScene = id;
        }
    }
    if (o.plotSceneViewer) {
        char* text = Qel_StrDup(AfterObjects(o.plotSceneViewer, "\\objects\\cut\\"));
        int32_t scene = 6000;
        if (text) {
            const char* digits = text;
            while (*digits == '0') ++digits;
            if (char* dot = std::strchr(text, '.')) *dot = 0;
            if (std::sscanf(digits, "%d", &scene) != 1) scene = 6000;
            Qel_StrFree(text);
        }
        Qel_DPrintf(0, "Loading CutID for plotsceneviewer: %d!\n", scene);
        if (scene > 0) {
            o.firstMode = P_MODE_INTRO;
            o.firstScene = scene;
        }
    }
    if (o.effectViewer) {
        Qel_DPrintf(0, "Loading effectviewer!\n");
        o.firstMode = P_MODE_EFFECT_VIEWER;
    }
}

namespace {

void CreateScriptEngine() {
    // SE_Create makes the one script context, g_SEContext.
    if (Fails(P_STEP_SCRIPT_ENGINE) || !SE_Create()) P_Exit(12);
}

// The configuration story and the start dialog.
void RunStartDialog() {
    CreateScriptEngine();
    if (Fails(P_STEP_CONFIG_STORY) || !P_LoadLocation(P_CONFIG_STORY)) FailStoryLoad(P_CONFIG_STORY);
    SE_Run(0, 0, 0, "_Init", 1, 1, g_SystemState->languageId);
    if (Fails(P_STEP_START_DIALOG) || !S_RunStartDialog()) P_Exit(0);
    P_SetLocationState(0);
}
}  // namespace

const AppDescriptor* P_AppDescriptor() { return &s_app; }

void P_MemoryFlushHook() {
    B3D_MemoryFlush(g_B3DState);
    TC_MemoryFlush();
    Int_ReleaseKeptMem();
}

void P_StartUp(int argc, char** argv) {
    Qel_DPrintf(0, " *** %s version %d.%d (%s %s) ***\n", s_app.appName, 2, 0, __DATE__, __TIME__);

    auto* ps = Int_AllocRecord<ProgramState>(0);
    if (!ps) P_Exit(3);
    g_ProgramState = P_InitGlobals(ps);
    // The closed image library is called once here on the original platform;
    // nothing depends on it, and the stand-in library needs no such call.

    if (Fails(P_STEP_INIT_GENERAL) || !InitGeneral(argc, &s_app, argv)) P_Exit(5);
    SystemState* sys = g_SystemState;
    SystemFieldsStandIn& f = g_SysStandIn;
    sys->inputFlags |= 0x200000;
    sys->VideoD3DFlags |= 0x400;
    sys->textureFlags |= 0x10000;
    f.furtherFlags |= 0x10000;
    if (!S_DetectCPUFeatures()) Qel_DPrintf(0, "ERROR: init_math() failed! \n");
    std::memcpy(f.maskWords, s_maskWords, sizeof s_maskWords);

    P_ParseOptions(argc, argv, &g_ProgramOptions);
    if (g_ProgramOptions.profiling) sys->SysProfilingFlags |= PROFILING_PROFI;
    if (g_ProgramOptions.benchmark) sys->SysProfilingFlags |= PROFILING_BENCHMARK;
    CheckMemory();
    S_EnumDevices();
    LoadSettings();
    S_ChooseAdapter();

    if (!g_ProgramOptions.noStartDialog) RunStartDialog();
    f.dialogWord = 12;
    if (sys->modName && !Qel_OpenModCatalog()) sys->modName = Qel_StrFree(sys->modName);
    if (sys->SysProfilingFlags & PROFILING_BENCHMARK) {
        sys->VideoD3DFlags &= ~D3D_AUTO_QUALITY;
        sys->SysProfilingFlags |= PROFILING_NO_SAVE;
    }

    if (Fails(P_STEP_VIDEO) ||
        !Qel_CreateVideoDisplayList(sys->videoFlags | 0xe0, static_cast<int16_t>(sys->width),
                                    static_cast<int16_t>(sys->height), static_cast<int16_t>(sys->depth)))
        P_Exit(7);
    Qel_DPrintf(0, "nach init video\n");
    if (!g_SEContext) CreateScriptEngine();
    if (Fails(P_STEP_SCENE_ENGINE) || !B3D_Init()) P_Exit(30);
    P_StartViewers();

    if (Fails(P_STEP_INPUT) || !S_InitIO(sys->inputFlags)) P_Exit(6);
    g_InputState->flags |= 0x1000;
    sys->cdReferenceTrackLength = 531513;
    Qel_DPrintf(0, "nach init io\n");
    if (Fails(P_STEP_AUDIO) || !S_InitDS3D(sys->soundFlags)) P_Exit(2);
    // Instance sounds (the ships' engines) play only under this flag: on when
    // the device came up with a listener and the settings allow 3D sounds.
    if (S_Sound3DAvailable() && sys->Num3DSounds > 0) sys->SysFlags |= SYS_FLAG_3D_SOUND;
    else sys->SysFlags &= ~SYS_FLAG_3D_SOUND;
    Qel_DPrintf(0, "nach init audio\n");
    f.memSpeed = static_cast<uint16_t>(Qel_MeasureMemSpeed());

    if (Fails(P_STEP_PROGRAM_MODULE) || !P_Init()) P_Exit(9);
    auto* timers = Int_AllocRecord<TimerBase>(0);
    if (!timers) P_Exit(3);
    g_TimerBase = Timer_Init(timers);
    if (Fails(P_STEP_GAME_SOUND) || !SFX_Init()) P_Exit(20);
    // The scene engine's 3D sounds loop on the game sound's channels.
    g_B3DSoundLink = {SFX_LoadSample,
                      [](int32_t id, int32_t volume) { return SFX_PlaySample(0, 0, id, -1, 0, volume, 255, 64); },
                      [](int channel, int32_t id) { SFX_StopSoundChannel(channel, id); }};
    // Effects play their impact and explosion sounds through it too.
    g_EOSoundLink = {SFX_PlaySound3D, SFX_FindSample};
    // ... and the space simulation its missile alarm, and the cockpit its alert sounds.
    g_SAPlaySound = SFX_PlaySound;
    g_INSAlertSounds = {[](int32_t sound) { SFX_PlaySound(0, 0, sound, -1); }, SFX_StopSampleChannels};
    if (Fails(P_STEP_SCREENS) || !P_LoadScreens()) {
        Qel_DPrintf(0, "error opening gfx resources\n");
        P_Exit(1);
    }
    MOV_Init();
    // Long body and cut loads keep a playing movie running.
    g_B3DMoviePollHook = MOV_CheckFinished;
    if (Fails(P_STEP_RENDERER) || !B3D_InitRenderer()) P_Exit(7);
    if (Fails(P_STEP_MATERIALS) || !B3DB_Init()) {
        Qel_DPrintf(0, "B3D_PrepareMaterials: Error\n");
        P_Exit(7);
    }
    const uint32_t videoFlags = g_VideoRecord ? g_VideoRecord->flags : 0;
    if (!(videoFlags & VIDEO_DEVICE_SURFACES)) {
        if (g_ScreenViews[0]) Qel_OpenDisplay(nullptr, g_ScreenViews[0], 0, 0, 0, 0);
        if ((videoFlags & VIDEO_TWO_VIEWS) && g_ScreenViews[1])
            Qel_OpenDisplay(nullptr, g_ScreenViews[1], static_cast<int16_t>(sys->width / 2), 0, 0, 0);
        Qel_DPrintf(0, "Views als Displays initialisiert\n");
    }
    B3D_SetBackgroundInfo(g_ScreenViews[0]);

    g_GalaxyGrid = Int_AllocRecord<GalaxyGrid>(0);
    if (!g_GalaxyGrid || !GS_Init(g_GalaxyGrid)) P_Exit(3);
    g_SpaceRoot = Int_AllocRecord<SpaceRoot>(0);
    if (!g_SpaceRoot) P_Exit(3);
    SA_Init(g_SpaceRoot);
    SA_LoadObjectDB(g_SpaceRoot);
    Qel_UpdateScreen();

    g_ProgramState->ruzoModule = SB_RegisterEngineModule(g_SEContext, Ruzo_SysCall, Ruzo_GetSysCallNames(),
                                                         Ruzo_ReturnInt, Ruzo_ReturnString, nullptr);
    INS_RegisterSysCalls();
    Int_SetMemoryFlushHook(P_MemoryFlushHook);
    SFX_InitSounds();
}
