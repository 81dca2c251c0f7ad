// The program's own start-up: WinMain hands it the argument vector. Holds the
// ProgramState that the game loop, the shell calls and the save container
// share, and the program-wide values that the options set.
#pragma once

#include <cstdint>

#include "script/values.h"

struct QelTable;

// Request bits of the ProgramState.
constexpr uint32_t P_REQUEST_PAUSE = 0x1;
constexpr uint32_t P_REQUEST_SAVE = 0x2;
constexpr uint32_t P_REQUEST_LOAD = 0x4;

// Start modes: the story object whose "Init", "Run", "Input" and "Stop" a run
// starts. The viewers' objects read the mouse themselves ("MouseInput").
constexpr int32_t P_MODE_BODY_VIEWER = 3;  // also the demo
constexpr int32_t P_MODE_CUT_VIEWER = 4;   // also the second demo
constexpr int32_t P_MODE_CUT_CAPTURE = 6;
constexpr int32_t P_MODE_REPLAY = 7;
constexpr int32_t P_MODE_MENU = 8;
constexpr int32_t P_MODE_INTRO = 9;  // intro scenes, the plot-scene viewer, benchmarks
constexpr int32_t P_MODE_BODY_DUMP = 10;
constexpr int32_t P_MODE_EFFECT_VIEWER = 11;
constexpr int32_t P_MODE_GAME = 2100;  // game, missions and the galaxy editor

// A run's result of 100 or more loads a save game: the slot is its last two
// digits, and the hundreds above the first carry the load request's extra value.
constexpr int32_t P_LOAD_RESULT_BASE = 100;
constexpr int32_t P_SAVE_SLOTS = 100;
constexpr int32_t P_LoadResult(int32_t slot, int32_t extraValue) {
    return P_LOAD_RESULT_BASE * (extraValue + 1) + slot;
}
constexpr int32_t P_SlotOfLoadScene(int32_t scene) { return scene % P_SAVE_SLOTS; }

struct ProgramState {
    int32_t ruzoModule;    // module number of the Ruzo_ module: it answers every story function we start
    uint16_t answered;     // 0 before a story function starts, 1 once its result arrived
    ScriptValue result;    // the last result for caller 0: INTEGER or DSTRING
    uint32_t requestBits;  // P_REQUEST_*
    int32_t requestedSlot;
    char* saveName1;  // owned copies given with the save request
    char* saveName2;
    uint32_t saveValue;
    uint32_t extraValue;    // fifth argument of a save, second of a load
    QelTable* callerTable;  // results for callers other than 0 (never filled)
    uint16_t lastKey;
    char* stringParameter;  // owned
    char* storyName;        // owned: the story the next CL_GameLoop runs
    int32_t startMode;      // object whose "Init", "Run", "Restart", "Input", "Stop" run
    int32_t startScene;     // their one integer argument
    uint32_t loadFlag;      // 1: the next CL_GameLoop loads slot startScene mod 100
    int32_t benchmarkScene;
    uint32_t benchmarkRunning;
    uint32_t benchmarkStartTime;
    uint32_t benchmarkFrames;
};

// The one ProgramState; null before start-up made it.
extern ProgramState* g_ProgramState;

// Program-wide values that main keeps outside the record; the options set them.
struct ProgramOptions {
    char* gameStory;          // owned; "trevanstory"
    char* introStory;         // "trevanintro"
    char* missionStory;       // "trevantutorial"
    char* galaxyEditorStory;  // "trevangaledit"
    bool noStartDialog;       // "noabout" and every viewer
    bool cutCapture;
    bool effectViewer;
    bool profiling;    // "profi": SysProfilingFlags 0x200, applied by start-up
    bool benchmark;    // "benchmark": the start dialog's "Run as Benchmark" without the dialog
    char* bodyViewer;  // owned names given to the viewers
    char* cutViewer;
    char* plotSceneViewer;
    char* loadStory;     // "load": read by the script engine's save-game loader
    int32_t firstMode;   // -1: not given ("obj" or a viewer)
    int32_t firstScene;  // "par" or a viewer; 0 by default
};

// The one set of options; the defaults until start-up parsed the command line.
extern ProgramOptions g_ProgramOptions;

// The configuration story; fixed.
constexpr const char* P_CONFIG_STORY = "trevanconfig";

// argv[0] is "WinCalled", argv[argc] is null. Never returns: every run ends
// through P_Exit.
int P_Main(int argc, char** argv);

// Clears the record (see the field list) and makes its caller table.
ProgramState* P_InitGlobals(ProgramState* ps);
// Replaces the story name by an owned copy; null clears it.
void P_SetStoryName(const char* name);

// Resets the options to their defaults (freeing owned names), then reads the
// program core's options from argv[1..argc-1]. The base library's own options
// are left to InitGeneral.
void P_ParseOptions(int argc, char** argv, ProgramOptions* options);
void P_FreeOptions(ProgramOptions* options);

// The first run's story, mode and scene from the profiling flags and the options.
void P_ChooseFirstRun();

// One step of the start-mode loop for a CL_GameLoop result: sets the next
// story, mode, scene or load request. Answers P_RUN_ON to go on, otherwise the
// exit reason that ends the program.
constexpr int P_RUN_ON = -1;
int P_ChooseNextRun(int result);

// The start-mode loop of main, after start-up; never returns.
[[noreturn]] void P_StartModeLoop();
