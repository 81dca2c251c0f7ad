#include "program/exit.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/display.h"
#include "base/strings.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "cockpit/galaxy.h"
#include "cockpit/cockpits.h"
#include "program/gameloop.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "program/pcalls.h"
#include "program/startup.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/typesdb.h"
#include "system/adapters.h"
#include "system/input.h"
#include "system/settings.h"
#include "system/keys.h"
#include "system/sound.h"
#include "system/standin_fields.h"
#include "system/timer.h"
#include "system/video.h"
#include "system/window.h"

namespace {
constexpr int REASON_BENCHMARK = 36;
constexpr uint32_t PROFILING_NO_SAVE = 0x40;

const char* const s_reasonTexts[] = {
    "Ready.\n",
    "File not found.\n",
    "Error opening audio.\nMaybe you didn't setup your sound card.\nRun SETUP.EXE to configure sound.\n",
    "Out of memory.\nFurther information can be found in the manual!\n",
    "Fatal error.\n",
    "Error opening SystemBase.\n",
    "Error opening IO device.\n",
    ("Error opening video.\nCheck your display settings!\nFurther information can be found in the manual or "
     "readme.txt!\n"),
    "Wrong Arguments.\n",
    "Error opening ProgramBase.\n",
    "Error opening GUIBase.\n",
    "Error opening BOBBase.\n",
    "Error opening StoryBase.\n",
    "Error handling video display\n",
    "Error handling picture\n",
    "Menu overrides second popup\n",
    "File (maybe intentionally) not found\n",
    "Error initializing task.\n",
    "Error opening an EBM\n",
    "Error concerning Status Task\n",
    "Error initializing sound effect base\n",
    "This program requires a properly installed mouse driver\n",
    "Function need Chunky tabs\n",
    "Error initializing window base\n",
    "Error initializing input base\n",
    "Error initializing Chunkmonger engine\n",
    "Error within Chunkmonger Engine\n",
    "Error initializing MPEG engine\n",
    "Error initializing Terms\n",
    "Error loading savegame, may be corrupt!\n",
    "Error initializing B3DBase\n",
    "Error initializing NetNase\n",
    "Can't connect to the network server.\n",
    "Starting new Process...\n",
    "Error initialiting Movie replay",
    "Deleting registry settings.\n",
    "Printing benchmark results!\n",
    "Generic error (custom string is displayed instead of this text)",
};
constexpr int REASON_COUNT = sizeof(s_reasonTexts) / sizeof(s_reasonTexts[0]);

const char* OnOff(bool on) { return on ? "enabled" : "disabled"; }

// The reasons that end a run that went as asked: no failure for the log to explain.
bool IsFailure(uint16_t reason) { return reason != 0 && reason != 33 && reason != 35 && reason != REASON_BENCHMARK; }

// The reason's message; a failure's also says where the log tells what went wrong and where.
void ShowReason(uint16_t reason) {
    const char* text = P_ExitReasonText(reason);
    if (!IsFailure(reason)) {
        S_SystemMessage(text);
        return;
    }
    char place[1024];
    Qel_LogPlace(place, sizeof place);
    const size_t length = std::strlen(text);
    const char* gap = length && text[length - 1] == '\n' ? "" : "\n";
    char* message = Qel_Format(nullptr, "%s%s\nThe log (%s) says what failed and where.\n", text, gap, place);
    S_SystemMessage(message ? message : text);
    Qel_StrFree(message);
}

// The modules of a run and of the program, in the order they are given back.
void FreeModules() {
    EO_FreeExplosions();
    EO_FreeEffects();
    if (g_SpaceRoot) SA_FreeAllObjects(g_SpaceRoot);
    if (g_ProgramState) {
        INS_FreeCockpitSystem();
        P_SetLocationState(1);
    }
    P_FreeScreens();
    if (g_SpaceRoot) {
        SA_ResetObjectDB(g_SpaceRoot);
        Int_FreeRecord(g_SpaceRoot, 0);
        g_SpaceRoot = nullptr;
    }
    if (g_GalaxyGrid) {
        GS_FreeGalaxy(g_GalaxyGrid);
        Int_FreeRecord(g_GalaxyGrid, 0);
        g_GalaxyGrid = nullptr;
    }
    if (g_B3DState) {
        B3D_ResetBodyParts();
        B3D_FreeTextureFormats();
        B3D_FreeBodyTables();
    }
    if (g_SfxState) SFX_Exit();
    if (SE_Context* ctx = g_SEContext) {
        // The context record itself is a plain allocation of SE_Create.
        SB_FreeTables(ctx);
        g_SEContext = nullptr;
        std::free(ctx);
    }
    P_FreeState();
    if (g_TimerBase) {
        Timer_FreeAllNodes(g_TimerBase);
        Int_FreeRecord(g_TimerBase, 0);
        g_TimerBase = nullptr;
    }
    if (g_MovieModule) MOV_Exit();
    SFX_FreeAllSamples();
}
}  // namespace

const char* P_ExitReasonText(int reason) {
    return reason >= 0 && reason < REASON_COUNT ? s_reasonTexts[reason] : nullptr;
}

int P_ExitStatus(int reason) {
    // The reason is a 16-bit number; the process status holds 8 bits, and a
    // failure must never read as success.
    const uint16_t r = static_cast<uint16_t>(reason);
    if (r == REASON_BENCHMARK) return 0;
    return r > 255 ? 255 : r;
}

double P_WriteBenchmarkReport() {
    const SystemState* sys = g_SystemState;
    const SystemFieldsStandIn& f = g_SysStandIn;
    const uint32_t d3d = sys ? sys->VideoD3DFlags : 0;
    const uint32_t d3d2 = sys ? sys->VideoD3DFlags2 : 0;
    // Every scene the stories measured, also past an index they left out.
    int rows = 0;
    double sum = 0.0;
    for (const P_BenchmarkRow& row : g_BenchmarkTable)
        if (row.average != 0.0f) sum += row.average, ++rows;
    const double overall = rows ? sum / rows : 0.0;

    QelFile* file = Qel_fopen("qelperf.txt", "w", 0);
    if (!file) return -1.0;
    Qel_fprintf(file,
                "--------------------------\n     Trevan - Ostrala\n--------------------------\nGame version: "
                "%s\n\nGraphic card info: %s\nCPU info: %s\nSystem memory: [%d MB]\n\n\nVideo settings during "
                "benchmark:\n\tScreen resolution:\t %d x %d * [%d]\n\tusing shader profile:\t %s\n\tAntialias "
                "Mode:\t\t %s\n\tAnisotropic Mode:\t %s\n\n",
                f.gameVersion, sys ? sys->adapterSummary : "", f.processor,
                sys ? static_cast<int>(sys->physicalMemoryMB) : 0, sys ? sys->width : 0, sys ? sys->height : 0,
                sys ? sys->depth : 0, sys ? sys->shaderVersion : "", S_AntialiasName(sys ? sys->antialiasMode : -1),
                f.anisotropicName);
    Qel_fprintf(file,
                "Graphic & Shader settings\n\tTexture quality:\t%s\n\tShader quality:\t\t%s\n\tAuto Quality "
                "Control:\t%s\n\tHigh quality bumpmaps:\t%s\n\tEnvironment mapping:\t%s\n\tGlow Filter:\t\t%s\n\tShip "
                "Color Variations:\t%s\n\tmore dynamic Lights:\t%s\n\tused Vertexsize :\t%d bytes\n",
                S_TextureQualityName(sys ? sys->textureQuality : -1),
                S_ShaderQualityName(sys ? sys->shaderQuality : -1), OnOff(d3d & 0x800000), OnOff(!(d3d2 & 0x400)),
                OnOff(!(d3d2 & 0x100)), OnOff(d3d2 & 0x80), OnOff(!(d3d2 & 0x800)), OnOff(!(d3d2 & 0x1000)),
                f.vertexSize);
    Qel_fprintf(file,
                "\nFramerates\n-------------------------------------------------------------------------------"
                "-\n");
    for (int i = 0; i < P_BENCHMARK_SCENES; ++i) {
        const P_BenchmarkRow& r = g_BenchmarkTable[i];
        if (r.average == 0.0f) continue;
        const char* format = "  Scene\t %02d\t %02.1f average fps\t %02.1f minimum fps\t %02.1f maximum fps\n";
        Qel_fprintf(file, format, i, r.average, r.minimum, r.maximum);
        Qel_DPrintf(0, format, i, r.average, r.minimum, r.maximum);
    }
    Qel_fprintf(file, "\nOverall average framerate: %03.1f fps\n", overall);
    // The frames' own times: what a player feels, and what the frame rates
    // above hide (a few long frames among many short ones).
    const P_FrameFigures frames = P_GetFrameFigures();
    const char* timesFormat =
        "\nMedian frame time:\t %.2f ms over %u frames\nFirst frame after start: %d ms\n"
        "Peak memory:\t\t %u MB\n";
    Qel_fprintf(file, timesFormat, frames.medianMs, frames.frames, frames.firstFrameMs, frames.peakMemoryMB);
    Qel_DPrintf(0, timesFormat, frames.medianMs, frames.frames, frames.firstFrameMs, frames.peakMemoryMB);
    Qel_fprintf(file,
                "\n\nFrame rates are measured per scene from its first to its last frame.\n"
                "Frames during which a file was read do not count towards the minimum.\n");
    Qel_fclose(file);
    return overall;
}

void P_Shutdown(int reason) {
    const uint16_t r = static_cast<uint16_t>(reason);
    SystemState* sys = g_SystemState;
    const bool video = g_VideoRecord != nullptr;
    if (video && r == 0 && sys && !(sys->SysProfilingFlags & PROFILING_NO_SAVE)) {
        if (!S_SaveRegistrySettings()) Qel_DPrintf(0, "Couldn't save registry settings.\n");
        sys->SysProfilingFlags |= PROFILING_NO_SAVE;
    }
    if (g_B3DState) B3D_ScenesUpdateFlags();
    FreeModules();

    double overall = 0.0;
    if (r == REASON_BENCHMARK && video) overall = P_WriteBenchmarkReport();
    if (g_SoundState) S_CloseAudio();
    if (g_InputState) S_CloseIO();
    if (video) Qel_CloseVideo(1);

    if (r == REASON_BENCHMARK) {
        char* message = Qel_Format(nullptr,
                                   "Trevan - Ostrala - 3D benchmark completed.\n\nResults saved in qelperf.txt.\n"
                                   "Overall average framerate: %03.3f fps.",
                                   overall < 0.0 ? 0.0 : overall);
        if (message) {
            S_SystemMessage(message);
            Qel_StrFree(message);
        }
    } else if (r != 0 && P_ExitReasonText(r)) {
        ShowReason(r);
    }
}

void P_Exit(int reason) {
    static bool s_exiting = false;
    const uint16_t r = static_cast<uint16_t>(reason);
    const int status = P_ExitStatus(r);
    g_SysStandIn.shuttingDown[0] = 1;
    g_SysStandIn.shuttingDown[1] = 1;
    S_LogStopSignal();
    if (s_exiting) {
        // Called again while ending (a failure inside the shutdown, the window's
        // close command): end at once.
        std::fflush(nullptr);
        _exit(status);
    }
    s_exiting = true;
    P_Shutdown(r);
    // Logged while the log file is still known, so a "-o" log ends with it.
    Qel_ErrPrintf("EXIT(%d)!!!\n", r);
    if (g_SystemState) ExitGeneral(r);
    std::exit(status);
}
