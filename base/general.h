// The process-wide system record and the program's constant descriptor.
// SystemState is made by InitGeneral and freed by ExitGeneral; each layer keeps
// its own group of fields here, in the groups below.
#pragma once

#include <cstdint>

struct QelCatalog;

// The constant record of the program handed to InitGeneral.
struct AppDescriptor {
    const char* appName;              // word 0: registry key and message-box caption
    uint32_t flags;                   // bit 0 / bit 1 gate the video options
    uint32_t rectTableCapacity;       // 100
    const char* saveTemplate;         // save games
    const char* primaryCatalog;       // "%02d.cat"
    const char* secondaryCatalog;     // "%02d.cat" (formatted with the letter and k)
    const char* modCatalog;           // "mods\\%s.cat"
    const char* captureFolder;        // "screenshots"
    const char* fontTemplate;         // "F\\%s"
    const char* textureTemplates[3];  // "tex\\%s", "textures\\%s", "dds\\%s"
    const char* storyTemplate;        // "L\\%s.obj"
    const char* movieTemplate;        // movies
    const char* typesTemplates[2];    // "types\\%s.txt", "types\\%s.pck"
};

// SysFlags: instance sounds play as 3D sounds (the audio start-up sets it).
constexpr uint32_t SYS_FLAG_3D_SOUND = 0x100;

struct SystemState {
    // --- general start-up ---
    uint32_t videoFlags;  // 0x2000000 "-3", 0x8000000 windowed, 0x20 double, 0x4000000 ramp
    uint32_t soundFlags;  // bit 0 effects on, bit 1 music on, 4/8 switched off by option
    uint32_t thirdFlags;
    uint16_t width, height, depth;
    uint32_t textureFlags;
    uint32_t deviceFlags;
    uint32_t SysProfilingFlags;
    uint32_t SysFlags;  // 0x100 3D sound on
    int argc;
    char** argv;
    uint32_t startFlags;  // bit 0 catalogs wanted, 0x20 packed files
    uint32_t physicalMemoryMB;
    uint32_t videoMemoryMB;
    uint32_t debugFlags;  // mask word of Qel_DPrintf
    const AppDescriptor* app;
    char* logFileName;
    QelCatalog** catalogs;
    uint16_t catalogSlotCount;
    uint16_t currentCatalog;
    char secondaryCatalogLetter;
    int32_t Num3DSounds;
    double lowerFpsLimit;  // 10.0
    double upperFpsLimit;  // 25.0
    int32_t furtherWord;   // 50
    int32_t languageId;    // 44
    int32_t fontScale;     // 1
    char* captureFolder;
    char* modName;

    // --- processor probe ---
    int32_t cpuLevel;

    // --- clocks (in record order) ---
    int32_t gameTimeScale;  // 16.16, 65536 = normal speed
    int32_t gameFrameDelta;
    int32_t gameClock;  // ms, 0 .. 32,399,999
    int32_t realFrameDelta;
    int32_t realClock;
    uint32_t frameCounter;
    int32_t averageFps;
    int32_t instantFps;

    // --- registry settings ---
    char ownerName[256];     // "RegisteredOwner" of the machine
    int32_t textureQuality;  // "VideoTextureQuality": 0 low, 1 medium, 2 high
    int32_t shaderQuality;   // "VideoShaderQuality"
    int32_t antialiasMode;   // "VideoAntialiasMode", -1 off
    int32_t filterMode;      // "VideoFilterMode", -1 off
    uint32_t VideoD3DFlags;
    uint32_t VideoD3DFlags2;
    int32_t fullscreenGamma;
    uint32_t inputFlags;
    uint32_t keyMapping[30];
    int32_t logoPictureNum;
    char logoPictureName[100];  // "" = none
    int32_t modVolume;
    int32_t fxVolume;
    int32_t voiceVolume;
    int32_t masterVolume;
    int32_t gameState;
    char defaultProfile[100];
    int32_t gameStarts;
    uint32_t d3dBaseFlags;     // base of the derived Direct3D flag words
    uint32_t d3dFlags[6];      // derived words 1 to 6, read by the renderer
    char adapterSummary[100];  // "<description> [<n> MB]    Driver [a.b.c.d]"

    // --- video device ---
    uint32_t screenFormat;  // 0x100000 16-bit screen, 0x80000 true colour
    float shaderScale;
    char shaderVersion[5];  // "1.1" ... "3.0"

    // --- input ---

    // --- sound ---
    int32_t cdReferenceTrackLength;  // ms; the drive whose disc has a track this long is chosen
    char cdDriveLetter;              // 'd' ...

    // --- capture ---
    int32_t lastCaptureNumber;  // 0 until the capture folder was scanned
    int32_t captureThirds;      // running thirds of a millisecond of the capture step
    int32_t captureStep;        // game-time step of the next captured frame (ms)

    // --- displays ---
    uint8_t showFpsLine;   // compose the statistics line at each redraw
    uint8_t presentOff;    // the screen update does not present
    char statusText[256];  // the status line the statistics are appended to
    // --- shell ---
    uint32_t inputModeMask;         // read by the steering
    uint32_t startModeMask;         // start modes the menus offer; bits 0x3f always
    char screenDebugLines[6][256];  // lines the story shows on screen
};

// The one SystemState; null outside InitGeneral .. ExitGeneral.
extern SystemState* g_SystemState;

// startFlags bits.
constexpr uint32_t QEL_START_CATALOGS = 0x1;  // catalogs wanted; clear while they are being opened
constexpr uint32_t QEL_START_PACKED = 0x20;   // packed files wanted; cleared by "+r"

// Joysticks to ignore, indexed 1..32 ("-ignorejoy n").
extern int32_t g_IgnoreJoystick[33];

// Creates the SystemState from the command line, "lang.dat" and the catalogs
// found in the game folder (the working directory); null on failure.
SystemState* InitGeneral(int argc, const AppDescriptor* app, char** argv);
// Frees everything InitGeneral and the catalogs made; safe without a SystemState.
void ExitGeneral(int exitCode);
// 5000 / milliseconds for 1024 clears of 1 KB; 100 when no time passed, 0 without memory.
int Qel_MeasureMemSpeed();
// Loads "mods\<mod name>.cat" into the last catalog slot; 1 when opened.
int Qel_OpenModCatalog();
