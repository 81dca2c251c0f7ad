// The P_ module: the program's own engine calls (module 3), the location reset
// every story load begins with, story loading, the screen bitmaps and loading
// screens, and the input and pause step of game stories.
#pragma once

#include <cstdint>

#include "script/context.h"

struct EBM;

// The module's state: two words, the second the module number.
struct PState {
    uint32_t flags;
    int32_t moduleNumber;
};
// Null before P_Init and after the exit freed it.
extern PState* g_PState;

// Allocates the state and registers the module; null on failure.
PState* P_Init();
// Frees the state (at exit).
void P_FreeState();
const char* const* P_GetCallNames();
int32_t P_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);

// Location reset: timers, the loaded story, samples, replays, movies and
// voices, each when its module exists. flag is handed to the sample release.
void P_SetLocationState(int flag);
// P_SetLocationState(0), then the story; 1 loaded, 0 not.
int P_LoadLocation(const char* name);
// Starts the story's "_Init" with the story name, then runs one idle frame.
// A null name ends the program (exit reason 1). Answers 1.
int P_RunInitScript(const char* name);
// One idle frame: timers, messages, game sound, tasks, movies.
void P_IdleFrame();

// The screen views made by P_LoadScreens (the second only with two views);
// null until then.
extern EBM* g_ScreenViews[2];
// The logo of the letterbox ("Ruzo_BlitRuzoLogo"); null while not loaded.
extern EBM* g_LogoBitmap;

// The screen views (the device's own surfaces when the video display has
// flag 0x20, else bitmaps of the screen's size; two with flag 0x2000000),
// then the start picture for the screen's size stretched over the back
// buffer. 1 done, 0 when the views could not be had.
int P_LoadScreens();
// Frees the generated views, the logo and the loading-screen names, and
// clears the view pointers.
void P_FreeScreens();
// After the video mode was reopened: the scene engine's background view and
// its sizes, and the view data of space objects and sectors.
void P_ResetViews();
void P_ClearScreen();
int P_ViewEBMFullscreen(const char* name, int seconds);
void P_InitLoadingScreen();
int P_ViewLoadingScreen(int32_t dueTime, const char* name);
void P_ShowNextLoadingScreen();

// The input and pause step of game stories, once per frame: 1 go on, 0 end the story.
int P_Pause();
