#include "program/pcalls.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/display.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "base/random.h"
#include "base/strings.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "cockpit/steering.h"
#include "program/exit.h"
#include "program/gameloop.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "render/partdraw.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "script/builtins_args.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/utility.h"
#include "system/clock.h"
#include "system/input.h"
#include "system/surfaces.h"
#include "system/userpaths.h"
#include "system/video.h"
#include "system/keys.h"
#include "system/timer.h"
#include "system/window.h"

PState* g_PState = nullptr;
EBM* g_ScreenViews[2] = {};
EBM* g_LogoBitmap = nullptr;

namespace {
const char* const s_pCallNames[] = {"P_LoadLocation",
                                    "P_Leave",
                                    "P_PrepareInterruption",
                                    "P_SetEngineFlags",
                                    "P_ClearEngineFlags",
                                    "P_GetSysFlags",
                                    "P_SetSysFlags",
                                    "P_GetSysD3DFlags",
                                    "P_SetSysD3DFlags",
                                    "P_GetSysD3DFlags2",
                                    "P_SetSysD3DFlags2",
                                    "P_GetSysProfilingFlags",
                                    "P_SetSysProfilingFlags",
                                    "P_ViewEBMFullscreen",
                                    "P_ViewLoadingScreen",
                                    "P_InitLoadingScreen",
                                    "P_ShowNextLoadingScreen",
                                    "P_ClearScreen",
                                    "P_GetLocalizedKey",
                                    "P_GetKeyName",
                                    "P_GetJoySensitivity",
                                    "P_SetJoySensitivity",
                                    "P_GetJoyDeadzone",
                                    "P_SetJoyDeadzone",
                                    "P_GetSysIORequirements",
                                    "P_SetSysIORequirements",
                                    nullptr};

// The key codes of the pause step.
constexpr uint16_t KEY_QUIT = 81;
constexpr uint16_t KEY_PAUSE = 80;
constexpr uint16_t KEY_PAUSE2 = 437;
}  // namespace

PState* P_Init() {
    Qel_DPrintf(0, "INIT: P_Init(); Anfang!\n");
    auto* state = Int_AllocRecord<PState>(0);
    if (!state) return nullptr;
    state->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, P_SysCall, s_pCallNames, nullptr, nullptr, nullptr) : 0;
    g_PState = state;
    Qel_DPrintf(0, "INIT: P_Init(); Ende!\n");
    return state;
}

void P_FreeState() {
    if (g_PState) Int_FreeRecord(g_PState, 0);
    g_PState = nullptr;
}

const char* const* P_GetCallNames() { return s_pCallNames; }

namespace {

// The input record's flags that follow the input flags word.
constexpr uint32_t IO_COPIED_BITS = 0x80 | 0x20 | 0x800000;

int32_t Undefined(SE_Task* task, int32_t call) {
    (void)call;
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    const char* where = SE_GetCurrentDebugAddress();
    Qel_DPrintf(0, "P_SysCall (%s): Undefined System Call %d\n", where ? where : "invalid address",
                static_cast<int>(task->id));
    return 1;
}

}  // namespace

int32_t P_SysCall(int32_t, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (!task) return 0;
    auto arg = [&](int i) { return SE_ArgInt(args, argc, i); };
    auto answer = [&](int32_t n) { return SE_AnswerInt(g_SEContext, task, n); };
    auto text = [&](const char* t) { return t ? SE_AnswerText(g_SEContext, task, t) : answer(0); };
    SystemState* sys = g_SystemState;
    // The flag words answer 0 while there is no system record.
    auto word = [&](uint32_t SystemState::*field) { return answer(sys ? static_cast<int32_t>(sys->*field) : 0); };
    auto setWord = [&](uint32_t SystemState::*field) {
        if (sys) sys->*field = static_cast<uint32_t>(arg(0));
        return answer(arg(0));
    };
    switch (call) {
        case 0:
            // The story is loaded by the game loop; the calling task stops for this turn.
            answer(1);
            return 0;
        case 1: P_Exit(static_cast<uint16_t>(arg(0)));
        case 2: MOV_StopPlayingMovies(); return answer(0);
        case 5: return word(&SystemState::SysFlags);
        case 6: return setWord(&SystemState::SysFlags);
        case 7: return word(&SystemState::VideoD3DFlags);
        case 8: return setWord(&SystemState::VideoD3DFlags);
        case 9: return word(&SystemState::VideoD3DFlags2);
        case 10: {
            const int32_t done = setWord(&SystemState::VideoD3DFlags2);
            S_3DUpdatePartDrawSettings();  // bloom on or off
            return done;
        }
        case 11: return word(&SystemState::SysProfilingFlags);
        case 12: return setWord(&SystemState::SysProfilingFlags);
        case 13: return answer(P_ViewEBMFullscreen(SE_ArgText(args, argc, 0), arg(1)));
        case 14: return answer(P_ViewLoadingScreen(arg(1), SE_ArgText(args, argc, 0)));
        case 15: P_InitLoadingScreen(); return answer(0);
        case 16: P_ShowNextLoadingScreen(); return answer(0);
        case 17: P_ClearScreen(); return answer(0);
        case 18: return text(S_IOLastKeyChar());
        case 19: return text(S_IOKeyComboName(static_cast<uint32_t>(arg(0))));
        case 20: return answer(S_GetJoystickSensitivity());
        case 21: S_SetJoystickSensitivity(arg(0)); return answer(0);
        case 22: return answer(S_GetJoystickDeadzone());
        case 23: S_SetJoystickDeadzone(arg(0)); return answer(0);
        case 24: return word(&SystemState::inputFlags);
        case 25: {
            const auto flags = static_cast<uint32_t>(arg(0));
            if (sys) sys->inputFlags = flags;
            if (g_InputState) g_InputState->flags = (g_InputState->flags & ~IO_COPIED_BITS) | (flags & IO_COPIED_BITS);
            return answer(0);
        }
        default: return Undefined(task, call);
    }
}

void P_SetLocationState(int flag) {
    if (g_TimerBase) Timer_ClearAll();
    if (g_SEContext) SB_FreeLocation(g_SEContext);
    if (g_SfxState) SFX_IntFreeSample(flag);
    if (g_B3DState) B3D_ReplayFreeAll();
    if (g_MovieModule) {
        MOV_FreeAllMovies();
        MOV_FreeVoices();
    }
}

int P_LoadLocation(const char* name) {
    // The name may be the loaded story's own, which the reset frees.
    const std::string story = name ? name : "";
    P_SetLocationState(0);
    if (!g_SEContext || !name || !SB_LoadLocation(g_SEContext, story.c_str())) {
        Qel_DPrintf(0, "Error in SE_LoadLocation\n");
        return 0;
    }
    return 1;
}

void P_IdleFrame() {
    Timer_Update();
    S_ProcessMessages();
    SFX_VBI();
    SE_RunAllTasks();
    MOV_CheckFinished();
}

int P_RunInitScript(const char* name) {
    if (!name) P_Exit(1);
    ScriptValue arg{};
    SV_AssignDString(&arg, name, static_cast<int32_t>(std::strlen(name)));
    SE_RunWithValues(0, 0, 0, "_Init", 1, 1, &arg);
    SV_Release(&arg);
    P_IdleFrame();
    return 1;
}

namespace {
void FreeLoadingNames();
EBM* LoadPicture(const char* name);
EBM* BackBuffer();

constexpr uint32_t kDeviceSurfaces = 0x20;
constexpr uint32_t kTwoViews = 0x2000000;
// The views P_LoadScreens generated itself; the device's own surfaces belong to the device.
bool s_viewsGenerated = false;

void FreeGeneratedViews() {
    if (s_viewsGenerated)
        for (EBM*& view : g_ScreenViews)
            if (view) FreeILBM(view);
    s_viewsGenerated = false;
    for (EBM*& view : g_ScreenViews) view = nullptr;
}

// The first or both views: the device's surfaces or bitmaps of the screen's size.
bool MakeViews() {
    const VideoRecord* vr = g_VideoRecord;
    const SystemState* sys = g_SystemState;
    if (!vr || !sys) return false;
    const int count = (vr->flags & kTwoViews) ? 2 : 1;
    const bool own = !(vr->flags & kDeviceSurfaces);
    s_viewsGenerated = own;
    for (int i = 0; i < count; ++i) {
        g_ScreenViews[i] = own ? GenerateEbm(static_cast<int16_t>(sys->width), static_cast<int16_t>(sys->height),
                                             static_cast<int16_t>(sys->depth), EBM_CHUNKY | EBM_NOSHADOW)
                               : Qel_GetVideoSurface(i);
        if (!g_ScreenViews[i]) {
            FreeGeneratedViews();
            return false;
        }
    }
    return true;
}

// The start picture for the screen's size.
const char* StartPicture(int width, int height) {
    if (width == 1280 && height == 1024) return "true\\load1280";
    if (width >= 1024) return "true\\load1024";
    if (width == 800) return "true\\load800";
    return "true\\load640";
}
}  // namespace

int P_LoadScreens() {
    StandIn_Record("P_LoadScreens");
    FreeGeneratedViews();
    if (!Qel_EnsureDisplayBuffer() || !MakeViews()) return 0;
    Qel_DPrintf(0, "nach generating EBMs\n");
    // Without its start picture the game starts on a black screen.
    if (EBM* picture = LoadPicture(StartPicture(g_SystemState->width, g_SystemState->height))) {
        if (EBM* screen = BackBuffer()) W_RectStretch(screen, picture, nullptr, nullptr);
        Qel_UpdateScreen();
        FreeILBM(picture);
    }
    return 1;
}

void P_FreeScreens() {
    StandIn_Record("P_FreeScreens");
    FreeLoadingNames();
    FreeGeneratedViews();
    if (g_LogoBitmap) FreeILBM(g_LogoBitmap);
    g_LogoBitmap = nullptr;
}

void P_ResetViews() {
    if (g_B3DState) B3D_SetBackgroundInfo(g_ScreenViews[0]);
    SA_RefreshAfterDeviceReset();
}

namespace {

// The application's picture path.
constexpr const char* kPicturePath = "L\\%s";
constexpr const char* kLoadingFolder = "loadscr";
constexpr int32_t kClockWrap = 32400000;
constexpr int32_t kClockHalf = 16200000;

// The image-load flags adjusted to the screen depth.
uint32_t PictureFlags() {
    const SystemState* sys = g_SystemState;
    uint32_t flags = sys->textureFlags;
    if (sys->depth < 24) flags = (flags | 0x100) & ~0x200u;
    else if (sys->depth < 32) flags = (flags | 0x200) & ~0x100u;
    else flags = (flags & ~0x300u) | 0x2000;
    if (!(flags & 0x4000)) flags |= 0x8000000;
    return flags;
}

// A picture of the picture folder, or null. A picture that only loads as the
// dummy texture counts as missing: no dummy is stretched over the screen.
EBM* LoadPicture(const char* name) {
    if (!name || !g_SystemState) return nullptr;
    char path[512];
    std::snprintf(path, sizeof path, kPicturePath, name);
    EBM* picture = S_LoadTexture(path, PictureFlags(), 0, 1);
    if (picture && (picture->flags & EBM_DUMMY)) {
        FreeILBM(picture);
        return nullptr;
    }
    return picture;
}

EBM* BackBuffer() { return g_VideoRecord ? g_VideoRecord->BackBufferEBM : nullptr; }

// Stretches the picture into the rectangle of the back buffer (null: all of it).
void Stretch(EBM* picture, const RECT* dst) {
    EBM* screen = BackBuffer();
    if (screen && picture) W_RectStretch(screen, picture, nullptr, dst);
}

// ms from now to the due time, folded into half the clock's range.
int32_t MsUntil(int32_t due) {
    int32_t diff = due - (g_SystemState ? g_SystemState->realClock : 0);
    if (diff > kClockHalf) diff -= kClockWrap;
    if (diff < -kClockHalf) diff += kClockWrap;
    return diff;
}

bool MouseHeld() { return g_InputState && (g_InputState->mouseButtons || g_InputState->mouseHeld); }

struct LoadingScreens {
    QelTable* names;  // 1, 2, 3 ... -> heap picture names
    int32_t count;
    int32_t next;
    int32_t dueTime;  // real clock (ms)
    int32_t active;
};
LoadingScreens s_loading{};

void FreeLoadingNames() {
    if (!s_loading.names) return;
    for (int32_t key = 1; key <= s_loading.count; ++key)
        Qel_StrFree(reinterpret_cast<char*>(Qel_TableGet(s_loading.names, static_cast<uint32_t>(key))));
    Qel_TableFree(s_loading.names);
    s_loading.names = nullptr;
    s_loading.count = 0;
}

bool IsJpegName(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 5 && strcasecmp(name + n - 4, ".jpg") == 0;
}

}  // namespace

void P_ClearScreen() {
    EBM* view = g_ScreenViews[0];
    EBM* screen = BackBuffer();
    if (!view || !screen) return;
    const int w = view->width, h = view->height;
    if (w <= 0 || h <= 0) {
        Qel_DPrintf(0, "Qel_RectFill(%d, %d, %d, %d) invalid rectangle size!\n", 0, 0, w, h);
        return;
    }
    if (w > screen->width || h > screen->height) {
        Qel_DPrintf(0, "Qel_RectFill(%d, %d, %d, %d) filling outside size (%d, %d)\n", 0, 0, w, h, screen->width,
                    screen->height);
        return;
    }
    W_RectFill(view, 0, 0, static_cast<int16_t>(w), static_cast<int16_t>(h), 0);
}

int P_ViewEBMFullscreen(const char* name, int seconds) {
    if (!name || !g_SystemState) return 0;
    char path[512];
    std::snprintf(path, sizeof path, g_SystemState->depth <= 8 ? "h256/%s" : "true/%s", name);
    EBM* picture = LoadPicture(path);
    if (!picture) return 0;
    Stretch(picture, nullptr);
    Qel_UpdateScreen();
    S_ResetTimeDeltas();
    const int64_t wait = static_cast<int64_t>(seconds) * 1000;
    int64_t waited = 0;
    while (waited < wait && !MouseHeld()) {
        const int32_t before = g_SystemState->realClock;
        S_ProcessMessages();
        S_ReadSystemClock();
        int32_t step = g_SystemState->realClock - before;
        if (step < 0) step += kClockWrap;
        waited += step;
    }
    FreeILBM(picture);
    return 1;
}

void P_InitLoadingScreen() {
    s_loading.dueTime = g_SystemState ? g_SystemState->realClock : 0;
    s_loading.next = 0;
    s_loading.active = 1;
    FreeLoadingNames();
    s_loading.names = Qel_TableCreate();
    if (!s_loading.names) return;
    // The names are loaded through the picture path, so the listing looks there.
    char folder[64];
    std::snprintf(folder, sizeof folder, kPicturePath, kLoadingFolder);
    if (QelDirListing* dir = Qel_OpenDir("*.*", folder, 0)) {
        while (const char* file = Qel_NextDirEntry(dir)) {
            if (!IsJpegName(file)) continue;
            const std::string entry = std::string(kLoadingFolder) + "\\" + file;
            char* copy = Qel_StrDup(entry.c_str());
            if (!copy) continue;
            if (!Qel_TableSet(s_loading.names, static_cast<uint32_t>(s_loading.count + 1),
                              reinterpret_cast<uintptr_t>(copy))) {
                Qel_StrFree(copy);
                continue;
            }
            ++s_loading.count;
        }
        Qel_CloseDir(dir);
    }
    if (s_loading.count >= 2) s_loading.next = Qel_LongRandom(s_loading.count);
}

int P_ViewLoadingScreen(int32_t dueTime, const char* name) {
    S_GetTimeDelta();
    S_GetRealTimeDelta();
    if (MsUntil(dueTime) > 0) return 0;
    EBM* picture = LoadPicture(name);
    if (!picture) picture = LoadPicture("true/LoadScrDefault");
    EBM* top = LoadPicture("true/LoadScrTOP");
    EBM* bottom = LoadPicture("true/LoadScrBOT");
    Stretch(picture, nullptr);
    if (EBM* screen = BackBuffer(); screen && top && bottom) {
        const LONG band = screen->height * 10 / 128;
        const RECT topBand{0, 0, screen->width, band};
        const RECT bottomBand{0, screen->height - band, screen->width, screen->height};
        Stretch(top, &topBand);
        Stretch(bottom, &bottomBand);
    }
    Qel_UpdateScreen();
    for (EBM* e : {picture, top, bottom})
        if (e) FreeILBM(e);
    return 1;
}

void P_ShowNextLoadingScreen() {
    if (s_loading.next >= s_loading.count) s_loading.next = 0;
    const char* name =
        s_loading.names
            ? reinterpret_cast<const char*>(Qel_TableGet(s_loading.names, static_cast<uint32_t>(s_loading.next + 1)))
            : nullptr;
    if (!P_ViewLoadingScreen(s_loading.dueTime, name)) return;
    s_loading.dueTime = ((g_SystemState ? g_SystemState->realClock : 0) + 2000) % kClockWrap;
    if (++s_loading.next >= s_loading.count) s_loading.next = 0;
    s_loading.active = 0;
}

int P_Pause() {
    ProgramState* ps = g_ProgramState;
    uint16_t key = S_GetKey();
    if (ps->requestBits & P_REQUEST_PAUSE) {
        if (key == KEY_QUIT) return 0;
        // Holding the key that paused does not unpause: wait for another one.
        while (key == 0 || key == ps->lastKey) {
            ps->lastKey = key;
            S_ProcessMessages();
            key = S_GetKey();
        }
        ps->requestBits &= ~P_REQUEST_PAUSE;
        S_GetTimeDelta();
        S_GetRealTimeDelta();
        SE_Run(0, 0, P_MODE_GAME, "NotifyPause", 1, 1, 0);
        return 1;
    }
    if (!(g_KeyHandled && key == 0)) {
        P_RunStoryFunction(P_MODE_GAME, "Input", 1, key);
        g_LastInputResult = ps->result.tag == VARTYPE_INTEGER ? ps->result.i : 0;
        if (g_LastInputResult == -1) {
            g_StopFlag = 1;
            return 0;
        }
    }
    int32_t result = g_LastInputResult;

    // Before the story made its control cockpit there is no ship: the
    // steering still reports the keys.
    SectorObject* ship = INS_SteeredShip();
    g_KeyHandled = 0;

    if (result != 0) {
        STS_Set(ship, result == 2 ? 0 : 1);
        return 1;
    }
    if (key == KEY_PAUSE || key == KEY_PAUSE2) {
        ps->requestBits |= P_REQUEST_PAUSE;
        MOV_StopPlayingMovies();
    }
    ps->lastKey = key;
    STS_Set(ship, 1);
    return 1;
}
