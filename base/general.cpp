#include "base/general.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/catalog.h"
#include "base/file.h"
#include "base/fixmath.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/strings.h"
#include "platform/win32/timer.h"
#include "program/exit.h"
#include "system/clock.h"
#include "system/settings.h"
#include "system/userpaths.h"

SystemState* g_SystemState = nullptr;
int32_t g_IgnoreJoystick[33];

// Catalog numbers run from 01 to 99.
constexpr int MAX_CATALOG_NUMBER = 99;

// The exit reason start-up reports when InitGeneral fails.
constexpr int EXIT_REASON_INIT_GENERAL = 5;

// The seed of runs with a fixed frame step.
constexpr uint32_t kFixedStepSeed = 1;

static void FreeState(SystemState* s) {
    Qel_StrFree(s->captureFolder);
    Int_FreeRecord(s, 0);
    g_SystemState = nullptr;
    Int_ReleaseKeptMem();
}

// "lang.dat": the language id as decimal text at its start.
static void ReadLanguageFile(SystemState* s) {
    auto* text = static_cast<const char*>(Qel_LoadFile("lang.dat"));
    if (!text) return;
    size_t size = g_QelLastFileSize;
    int64_t id = 0;
    size_t i = 0;
    for (; i < size && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i) id = id * 10 + (text[i] - '0');
    if (i > 0) {
        Qel_DPrintf(0, "Found lang.dat with ID %d\n", int(id));
        s->languageId = int32_t(id);
    }
    Int_FreeMem(const_cast<char*>(text), size, 0);
}

// "-o": the header of the log file, then every log line is appended to it.
static void OpenLogFile(SystemState* s, const char* name, int argc, char** argv) {
    QelFile* f = Qel_fopen(name, "wb", 0);
    if (!f) {
        Qel_ErrPrintf("INIT:unable to write to file: %s\n", name);
        P_Exit(1);
    }
    Qel_fprintf(f, " * Ausgabe\n * Version: %s, %s\n * Aufruf: %s", __DATE__, __TIME__, argv[0] ? argv[0] : "");
    for (int i = 1; i < argc; ++i) Qel_fprintf(f, " %s", argv[i] ? argv[i] : "");
    Qel_fprintf(f, "\n *\n");
    Qel_fclose(f);

    // The log sink opens the file by this name: keep the path the file was
    // created under ("null" stays the name of standard error).
    char* path = strcmp(name, "null") == 0 ? Qel_StrReassign(nullptr, name) : Qel_DiskPath(name);
    if (!path) {
        printf("OOM: InitGeneral\n");
        P_Exit(3);
    }
    Qel_StrFree(s->logFileName);
    s->logFileName = path;
}

// Options that take a value read the next argument; the walk still visits
// that argument as an option of its own.
static void ParseOptions(SystemState* s, const AppDescriptor* app, int argc, char** argv) {
    const bool videoOptions = !(app->flags & 1) || (app->flags & 2);
    for (int i = 1; i < argc && i <= 0xFFFF; ++i) {
        const char* a = argv[i];
        if (!a) continue;
        auto is = [&](const char* opt) { return strcasecmp(a, opt) == 0; };
        const char* value = (i + 1 < argc) ? argv[i + 1] : nullptr;
        auto number = [&]() { return value ? atoi(value) : 0; };
        auto needsValue = [&]() {
            if (value) return true;
            Qel_ErrPrintf("InitGeneral: option %s without a value ignored\n", a);
            return false;
        };

        if (is("-s")) {
            s->soundFlags = (s->soundFlags & ~1u) | 4;
            printf("Sound effects disabled\n");
        } else if (is("-m")) {
            s->soundFlags = (s->soundFlags & ~2u) | 8;
            printf("Music disabled\n");
        } else if (is("-language")) {
            if (needsValue()) s->languageId = number();
        } else if (is("-o")) {
            if (needsValue()) OpenLogFile(s, value, argc, argv);
        } else if (is("-w")) {
            if (needsValue()) {
                char* disk = Qel_DiskPath(value);
                if (!disk || chdir(disk) != 0) Qel_ErrPrintf("InitGeneral: cannot change to folder %s\n", value);
                Qel_StrFree(disk);
            }
        } else if (is("+d")) {
        } else if (is("+r")) {
            s->startFlags &= ~QEL_START_PACKED;
        } else if (is("-ignorejoy")) {
            if (needsValue()) {
                int n = number();
                if (n >= 1 && n <= 32) g_IgnoreJoystick[n] = 1;
            }
        } else if (videoOptions) {
            if (is("-y")) {
                if (needsValue()) s->height = uint16_t(number());
            } else if (is("-x")) {
                if (needsValue()) s->width = uint16_t(number());
            } else if (is("-z")) {
                if (needsValue()) s->depth = uint16_t(number());
            } else if (is("-hicol")) {
                s->depth = 16;
            } else if (is("-truecol")) {
                s->depth = 24;
            } else if (is("-3")) {
                s->videoFlags |= 0x2000000;
            } else if (is("-window")) {
                s->videoFlags |= 0x8000000;
            } else if (is("-fullscreen")) {
                s->videoFlags &= ~0x8000000u;
            } else if (is("-double")) {
                s->videoFlags |= 0x20;
            } else if (is("-mipmap")) {
                s->textureFlags &= ~0x2000000u;
            } else if (is("+mipmap")) {
                s->textureFlags |= 0x2000000;
            } else if (is("-ramp")) {
                s->videoFlags |= 0x4000000;
            } else if (is("-rgb")) {
                s->videoFlags &= ~0x4000000u;
            } else if (is("-fontscale")) {
                if (needsValue()) s->fontScale = number();
            } else if (is("-generaterdf")) {
                s->SysProfilingFlags |= 0x400;
            } else if (is("-convertbodies")) {
                s->SysProfilingFlags |= 0x800;
            } else if (is("-dumpusedbodies")) {
                s->SysProfilingFlags |= 0x1000;
            } else if (is("-managed")) {
                s->deviceFlags |= 8;
            }
        }
    }
}

// Counts the catalogs "template(k)" that open, k = 1, 2, ...
static int CountCatalogs(const char* tmpl, int letter, bool secondary) {
    int k = 1;
    for (; k <= MAX_CATALOG_NUMBER; ++k) {
        char name[256];
        if (secondary) snprintf(name, sizeof name, tmpl, letter, k);
        else snprintf(name, sizeof name, tmpl, k);
        QelFile* f = Qel_fopen(name, "rb", 0);
        if (!f) break;
        Qel_fclose(f);
    }
    return k - 1;
}

static bool OpenCatalogs(SystemState* s, const AppDescriptor* app) {
    s->startFlags &= ~QEL_START_CATALOGS;
    int primary = app->primaryCatalog ? CountCatalogs(app->primaryCatalog, 0, false) : 0;
    Qel_DPrintf(1, "%d Primaer Catalogs!\n", primary);
    int secondary = 0;
    if (app->secondaryCatalog && s->secondaryCatalogLetter) {
        secondary = CountCatalogs(app->secondaryCatalog, s->secondaryCatalogLetter, true);
        Qel_DPrintf(1, "%d Sekundaer Catalogs!\n", secondary);
    }
    int slots = primary + secondary + 1;
    s->catalogs = static_cast<QelCatalog**>(Int_AllocMem(size_t(slots) * sizeof(QelCatalog*), 0));
    if (!s->catalogs) return false;
    s->catalogSlotCount = uint16_t(slots);

    char name[256];
    for (int k = 1; k <= primary; ++k) {
        snprintf(name, sizeof name, app->primaryCatalog, k);
        if (!Qel_LoadCatalog(k - 1, name, 1)) {
            Qel_ErrPrintf("error opening prim. Catalog: %d\n", k);
            return false;
        }
    }
    for (int k = 1; k <= secondary; ++k) {
        snprintf(name, sizeof name, app->secondaryCatalog, int(s->secondaryCatalogLetter), k);
        if (!Qel_LoadCatalog(primary + k - 1, name, 0)) {
            Qel_ErrPrintf("error opening sec. Catalog: %d\n", k);
            return false;
        }
    }
    s->startFlags |= QEL_START_CATALOGS;
    return true;
}

SystemState* InitGeneral(int argc, const AppDescriptor* app, char** argv) {
    Int_QueryPageSize();
    if (!app) return nullptr;
    if (!argv) argc = 0;
    auto* s = Int_AllocRecord<SystemState>(0);
    if (!s) return nullptr;
    g_SystemState = s;

    s->soundFlags = 3;
    s->startFlags = QEL_START_CATALOGS;
    s->argc = argc;
    s->argv = argv;
    s->app = app;
    s->gameTimeScale = 0x10000;
    s->Num3DSounds = 6;
    s->lowerFpsLimit = 10.0;
    s->upperFpsLimit = 25.0;
    s->furtherWord = 50;
    s->languageId = 44;
    s->fontScale = 1;
    if (app->captureFolder) {
        s->captureFolder = Qel_StrReassign(nullptr, app->captureFolder);
        if (!s->captureFolder) {
            FreeState(s);
            return nullptr;
        }
    }

    ReadLanguageFile(s);

    s->startFlags |= QEL_START_PACKED;
    if (!S_InitSystemSettings()) {
        FreeState(s);
        return nullptr;
    }
    s->physicalMemoryMB = S_GetPhysicalMemoryMB();
    s->videoMemoryMB = S_GetVideoMemoryMB();
    s->debugFlags = 0;

    ParseOptions(s, app, argc, argv);

    // The engine's own generator: every story draws from it, so each run draws
    // anew. A run with a fixed frame step (a test's) repeats itself instead:
    // the same seed draws the same dust, turns and AI decisions every time.
    Qel_SeedRandom(S_FixedFrameStep() != 0 ? kFixedStepSeed : static_cast<uint32_t>(Win32_Time()));
    Qel_InitMathTables();

    if ((s->startFlags & QEL_START_CATALOGS) && !OpenCatalogs(s, app)) {
        ExitGeneral(EXIT_REASON_INIT_GENERAL);
        return nullptr;
    }

    s->gameTimeScale = 0x10000;
    s->furtherWord = 50;
    return s;
}

void ExitGeneral(int exitCode) {
    SystemState* s = g_SystemState;
    if (!s) return;
    S_ExitSystemSettings(exitCode);
    s->captureFolder = Qel_StrFree(s->captureFolder);
    s->modName = Qel_StrFree(s->modName);
    Qel_FreeCatalogs();
    // Lines logged from here on go to standard error.
    char* log = s->logFileName;
    s->logFileName = nullptr;
    Qel_StrFree(log);
    Int_FreeRecord(s, 0);
    g_SystemState = nullptr;
    Int_ReleaseKeptMem();
}

int Qel_MeasureMemSpeed() {
    constexpr size_t BLOCK = 1040;
    auto* block = static_cast<uint8_t*>(Int_AllocMem(BLOCK, 0));
    if (!block) return 0;
    S_GetTimeDelta();
    for (int pass = 0; pass < 1024; ++pass) memset(block, pass, 1024);
    int32_t delta = S_GetTimeDelta();
    Int_FreeMem(block, BLOCK, 0);
    return delta == 0 ? 100 : 5000 / delta;
}

int Qel_OpenModCatalog() {
    SystemState* s = g_SystemState;
    if (!s || !s->modName || !s->app || !s->app->modCatalog || !s->catalogSlotCount) return 0;
    char* name = Qel_Format(nullptr, s->app->modCatalog, s->modName);
    if (!name) return 0;
    int r = Qel_LoadCatalog(s->catalogSlotCount - 1, name, 1);
    Qel_StrFree(name);
    return r;
}
