// Program start-up: every module started in its fixed order. A step that fails
// ends the program through P_Exit with its exit reason.
#pragma once

#include <cstdint>

struct AppDescriptor;

// The program's own constant descriptor handed to InitGeneral.
const AppDescriptor* P_AppDescriptor();

// Runs start-up from the banner to the sound-effect table (everything before
// the first story is chosen). Returns only when every step succeeded.
void P_StartUp(int argc, char** argv);

// The viewer options, once the scene engine exists: body, cut, plot-scene and
// effect viewer each set the first run's start mode (a later one wins) and
// start scene.
void P_StartViewers();

// The memory-flush hook installed at start-up: releases the scene engine's
// cached data, then the texture cache's.
void P_MemoryFlushHook();

// Start-up steps that can fail, each ending with its exit reason.
enum P_StartupStep : int {
    P_STEP_NONE = 0,
    P_STEP_INIT_GENERAL,    // 5
    P_STEP_SCRIPT_ENGINE,   // 12
    P_STEP_CONFIG_STORY,    // 1
    P_STEP_START_DIALOG,    // 0: cancelled
    P_STEP_VIDEO,           // 7
    P_STEP_SCENE_ENGINE,    // 30
    P_STEP_INPUT,           // 6
    P_STEP_AUDIO,           // 2
    P_STEP_PROGRAM_MODULE,  // 9
    P_STEP_GAME_SOUND,      // 20
    P_STEP_SCREENS,         // 1
    P_STEP_RENDERER,        // 7
    P_STEP_MATERIALS,       // 7
};

// Test seam: the step named here fails as if its call had answered failure
// (the call itself is not made).
extern P_StartupStep g_StartupFailStep;
