// STANDIN: the scene engine's engine calls and frame (B3D_, J3D_): a handler
// that answers every call with INTEGER 0, and the frame draw the game loop
// calls, recorded.
#pragma once

#include <cstdint>

#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"

struct SE_Task;
struct ScriptValue;

// The engine-call handler of module 2 and its call-name table.
int32_t B3D_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
const char* const* B3D_GetCallNames();
void B3D_DrawObjects();
void B3D_FreeTextureFormats();
