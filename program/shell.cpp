#include "program/shell.h"

#include <algorithm>
#include <cstring>

#include "base/angles.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/markup.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/controlmatrix.h"
#include "program/galaxyimport.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/movies.h"
#include "program/pcalls.h"
#include "program/savegame.h"
#include "script/builtins_args.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/settings.h"
#include "system/video.h"

namespace {
const char* const s_ruzoCallNames[] = {"Ruzo_GetScene",
                                       "Ruzo_GetSpace",
                                       "Ruzo_SetGalaxy",
                                       "Ruzo_Save",
                                       "Ruzo_Load",
                                       "Ruzo_LoadSaveNames",
                                       "Ruzo_CaptureFrame",
                                       "Ruzo_GraphicSettings",
                                       "Ruzo_SoundSettings",
                                       "Ruzo_BlitRuzoLogo",
                                       "Ruzo_XMLImportGalaxy",
                                       "Ruzo_SetPause",
                                       "Ruzo_SetStringParameter",
                                       "Ruzo_GetStringParameter",
                                       "Ruzo_SetInputModeMask",
                                       "Ruzo_GetInputModeMask",
                                       "Ruzo_GetScreenDebugLine",
                                       "Ruzo_SetScreenDebugLine",
                                       "Ruzo_StartBenchmarkScene",
                                       "Ruzo_StopBenchmarkScene",
                                       "Ruzo_SetGameState",
                                       "Ruzo_GetGameState",
                                       "Ruzo_GetModName",
                                       "Ruzo_GetSaveDevices",
                                       "Ruzo_GetDefaultProfile",
                                       "Ruzo_SetDefaultProfile",
                                       "Ruzo_GetControlMatrix",
                                       "Ruzo_SetControlMatrix",
                                       "Ruzo_IsStartModeAvailable",
                                       "Ruzo_SetStartModeAvailable",
                                       "Ruzo_SaveStringToRegistry",
                                       "Ruzo_ReadStringFromRegistry",
                                       "Ruzo_SaveIntToRegistry",
                                       "Ruzo_ReadIntFromRegistry",
                                       nullptr};

// Call numbers that are served (the others log the undefined-call line).
enum : int32_t {
    RUZO_SAVE = 3,
    RUZO_LOAD = 4,
    RUZO_LOAD_SAVE_NAMES = 5,
    RUZO_CAPTURE_FRAME = 6,
    RUZO_BLIT_LOGO = 9,
    RUZO_XML_IMPORT_GALAXY = 10,
    RUZO_SET_PAUSE = 11,
    RUZO_SET_STRING_PARAMETER = 12,
    RUZO_GET_STRING_PARAMETER = 13,
    RUZO_SET_INPUT_MODE_MASK = 14,
    RUZO_GET_INPUT_MODE_MASK = 15,
    RUZO_GET_SCREEN_DEBUG_LINE = 16,
    RUZO_SET_SCREEN_DEBUG_LINE = 17,
    RUZO_START_BENCHMARK_SCENE = 18,
    RUZO_STOP_BENCHMARK_SCENE = 19,
    RUZO_SET_GAME_STATE = 20,
    RUZO_GET_GAME_STATE = 21,
    RUZO_GET_MOD_NAME = 22,
    RUZO_GET_SAVE_DEVICES = 23,
    RUZO_GET_DEFAULT_PROFILE = 24,
    RUZO_SET_DEFAULT_PROFILE = 25,
    RUZO_GET_CONTROL_MATRIX = 26,
    RUZO_SET_CONTROL_MATRIX = 27,
    RUZO_IS_START_MODE_AVAILABLE = 28,
    RUZO_SET_START_MODE_AVAILABLE = 29,
    RUZO_SAVE_STRING_TO_REGISTRY = 30,
    RUZO_READ_STRING_FROM_REGISTRY = 31,
    RUZO_SAVE_INT_TO_REGISTRY = 32,
    RUZO_READ_INT_FROM_REGISTRY = 33,
};

constexpr int32_t kDebugLines = 6;
constexpr size_t kDebugLineSize = 256;
constexpr uint32_t kAlwaysAvailable = 0x3f;
constexpr uint32_t kProfilingBenchmark = 0x10;
constexpr uint32_t kProfilingBenchmarkScene = 0x2000;

void StartBenchmarkScene(int32_t scene) {
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    // A row outside the table would be written by every frame.
    if (!(sys->SysProfilingFlags & kProfilingBenchmark) || scene < 0 || scene >= P_BENCHMARK_SCENES) return;
    ps->benchmarkStartTime = static_cast<uint32_t>(sys->gameClock);
    ps->benchmarkFrames = 0;
    ps->benchmarkScene = scene;
    ps->benchmarkRunning = 1;
    sys->SysProfilingFlags |= kProfilingBenchmarkScene;
}

void StopBenchmarkScene() {
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    if (!(sys->SysProfilingFlags & kProfilingBenchmark)) return;
    if (ps->benchmarkScene < 0 || ps->benchmarkScene >= P_BENCHMARK_SCENES) return;
    P_BenchmarkRow& row = g_BenchmarkTable[ps->benchmarkScene];
    if (!ps->benchmarkRunning) {
        row = P_BenchmarkRow{};
        return;
    }
    const int32_t elapsed = Qel_AngleDiff(sys->gameClock, static_cast<int32_t>(ps->benchmarkStartTime));
    const auto fixed = static_cast<int32_t>((static_cast<int64_t>(elapsed) * 65536) / 1000);
    const double seconds = fixed * (1.0 / 65536.0);
    // A scene stopped at once has no rate, not an infinite one.
    row.average = seconds > 0.0 ? static_cast<float>(ps->benchmarkFrames / seconds) : 0.0f;
    ps->benchmarkRunning = 0;
    sys->SysProfilingFlags &= ~kProfilingBenchmarkScene;
}

// The letterbox: black bars over the top and bottom eighth of the screen, the
// logo (when loaded) in the top bar at its right edge.
void BlitLogo() {
    EBM* screen = g_VideoRecord ? g_VideoRecord->BackBufferEBM : nullptr;
    if (!screen) return;
    const int16_t w = screen->width, h = screen->height;
    const auto bar = static_cast<int16_t>(h / 8);
    Qel_RectFill(0, 0, w, bar, 0, screen);
    Qel_RectFill(0, static_cast<int16_t>(h - bar), w, bar, 0, screen);
    EBM* logo = g_LogoBitmap;
    const int32_t logoHeight = bar - 2;
    if (!logo || logo->height <= 0 || logo->width <= 0 || logoHeight <= 0) return;
    const int32_t logoWidth = logo->width * logoHeight / logo->height;
    const RECT src = {0, 0, logo->width, logo->height};
    const RECT dst = {w - logoWidth, 0, w, logoHeight};
    Qel_BlitDispatch(logo, screen, &src, &dst);
}

// Results for other callers would go to a record kept under the caller's
// number in the caller table; none is ever entered, so they are dropped.
bool ForCallerZero(const ProgramState* ps, uint32_t callerNumber) {
    if (callerNumber == 0) return true;
    if (ps->callerTable) Qel_TableGet(ps->callerTable, callerNumber);
    return false;
}
}  // namespace

const char* const* Ruzo_GetSysCallNames() { return s_ruzoCallNames; }

int32_t Ruzo_SysCall(int32_t, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (!task) return 0;
    SE_Context* ctx = g_SEContext;
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    // Missing arguments read as 0 and missing texts as empty texts.
    auto arg = [&](int i) { return SE_ArgInt(args, argc, i); };
    auto text = [&](int i) {
        const char* t = SE_ArgText(args, argc, i);
        return t ? t : "";
    };
    auto answer = [&](int32_t n) { return SE_AnswerInt(ctx, task, n); };
    auto answerText = [&](const char* t) { return t ? SE_AnswerText(ctx, task, t) : answer(0); };
    if (!ps || !sys) return answer(0);

    switch (call) {
        case RUZO_SAVE: {
            if (arg(0) < 0) return answer(0);
            ps->requestBits |= P_REQUEST_SAVE;
            ps->requestedSlot = arg(0);
            ps->saveName1 = Qel_StrReassign(ps->saveName1, text(1));
            ps->saveName2 = Qel_StrReassign(ps->saveName2, text(2));
            ps->saveValue = static_cast<uint32_t>(arg(3));
            ps->extraValue = static_cast<uint32_t>(arg(4));
            return answer(1);
        }
        case RUZO_LOAD: {
            // The loop's result 100 x (extra + 1) + slot must name this slot:
            // slot 99 is the temporary file, and larger values another slot.
            if (arg(0) < 0 || arg(0) >= P_SAVE_LIST_SLOTS || arg(1) < 0) return answer(0);
            ps->requestBits |= P_REQUEST_LOAD;
            ps->requestedSlot = arg(0);
            ps->extraValue = static_cast<uint32_t>(arg(1));
            return answer(1);
        }
        case RUZO_LOAD_SAVE_NAMES: {
            ScriptValue list{};
            P_ReadSaveHeader(&list);
            return SE_AnswerMove(ctx, task, &list);
        }
        case RUZO_CAPTURE_FRAME: g_FrameCaptureRequest = 1; return answer(0);
        case RUZO_BLIT_LOGO: BlitLogo(); return answer(0);
        case RUZO_XML_IMPORT_GALAXY: {
            XmlNode* tree = Qel_XmlParseString(text(0));
            if (!tree) return answer(0);
            ScriptValue galaxy{};
            P_AssignGalaxy(&galaxy, tree, arg(1));
            Qel_XmlFreeNode(tree);
            return SE_AnswerMove(ctx, task, &galaxy);
        }
        case RUZO_SET_PAUSE:
            ps->requestBits |= P_REQUEST_PAUSE;
            MOV_StopPlayingMovies();
            return answer(0);
        case RUZO_SET_STRING_PARAMETER:
            ps->stringParameter = Qel_StrReassign(ps->stringParameter, text(0));
            return answer(0);
        case RUZO_GET_STRING_PARAMETER: return answerText(ps->stringParameter);
        case RUZO_SET_INPUT_MODE_MASK: sys->inputModeMask = static_cast<uint32_t>(arg(0)); return answer(0);
        case RUZO_GET_INPUT_MODE_MASK: return answer(static_cast<int32_t>(sys->inputModeMask));
        case RUZO_GET_SCREEN_DEBUG_LINE:
            return arg(0) >= 0 && arg(0) < kDebugLines ? answerText(sys->screenDebugLines[arg(0)]) : answer(0);
        case RUZO_SET_SCREEN_DEBUG_LINE:
            if (arg(0) >= 0 && arg(0) < kDebugLines) {
                char* line = sys->screenDebugLines[arg(0)];
                std::strncpy(line, text(1), kDebugLineSize - 1);
                line[kDebugLineSize - 1] = 0;
            }
            return answer(0);
        case RUZO_START_BENCHMARK_SCENE: StartBenchmarkScene(arg(0)); return answer(0);
        case RUZO_STOP_BENCHMARK_SCENE: StopBenchmarkScene(); return answer(0);
        case RUZO_SET_GAME_STATE: sys->gameState = arg(0); return answer(0);
        case RUZO_GET_GAME_STATE: return answer(sys->gameState);
        case RUZO_GET_MOD_NAME: return answerText(sys->modName);
        case RUZO_GET_SAVE_DEVICES: return answer(0);
        case RUZO_GET_DEFAULT_PROFILE: return answerText(sys->defaultProfile[0] ? sys->defaultProfile : nullptr);
        case RUZO_SET_DEFAULT_PROFILE:
            std::strncpy(sys->defaultProfile, text(0), sizeof sys->defaultProfile - 1);
            sys->defaultProfile[sizeof sys->defaultProfile - 1] = 0;
            return answer(0);
        case RUZO_GET_CONTROL_MATRIX: return answer(STS_GetControlMatrix(arg(0), arg(1), arg(2)));
        case RUZO_SET_CONTROL_MATRIX: STS_SetControlMatrix(arg(0), arg(1), arg(2), arg(3)); return answer(0);
        case RUZO_IS_START_MODE_AVAILABLE: {
            sys->startModeMask |= kAlwaysAvailable;
            const auto mask = static_cast<uint32_t>(arg(0));
            return answer((sys->startModeMask & mask) == mask ? 1 : 0);
        }
        case RUZO_SET_START_MODE_AVAILABLE: {
            const auto mask = static_cast<uint32_t>(arg(0));
            if (arg(1)) sys->startModeMask |= mask;
            else sys->startModeMask &= ~mask;
            sys->startModeMask |= kAlwaysAvailable;
            return answer(0);
        }
        case RUZO_SAVE_STRING_TO_REGISTRY: return answer(S_RegSaveStringValue(text(0), text(1)));
        case RUZO_READ_STRING_FROM_REGISTRY: {
            char* value = S_RegReadStringValue(text(0));
            answerText(value);
            Qel_StrFree(value);
            return 1;
        }
        case RUZO_SAVE_INT_TO_REGISTRY: return answer(S_RegSaveIntValue(text(0), arg(1)));
        case RUZO_READ_INT_FROM_REGISTRY: return answer(S_RegReadIntValue(text(0)));
        default: {
            Qel_DPrintf(0, "Undefined Ruzo Syscall %d called!\n", call);
            return answer(0);
        }
    }
}

void Ruzo_ReturnInt(uint32_t callerNumber, int32_t n) {
    ProgramState* ps = g_ProgramState;
    if (!ps || !ForCallerZero(ps, callerNumber)) return;
    SV_Release(&ps->result);
    SV_AssignInt(&ps->result, n);
    ps->answered = 1;
}

void Ruzo_ReturnString(uint32_t callerNumber, const char* text) {
    ProgramState* ps = g_ProgramState;
    if (!ps || !ForCallerZero(ps, callerNumber)) return;
    SV_Release(&ps->result);
    if (text) SV_AssignDString(&ps->result, text, static_cast<int32_t>(std::strlen(text)));
    else SV_AssignInt(&ps->result, 0);
    ps->answered = 1;
}
