// The scene engine's engine calls: the call-name table (a name's index is its
// call number) and the handler that maps each call onto the scene engine and
// answers the calling task, at once or, for the path jobs and takes it starts,
// later through the caller module with a reply code.
#pragma once

#include <cstdint>

struct SE_Task;
struct ScriptValue;

// Calls 0 to 156; a call number at or above it answers INTEGER 0.
constexpr int32_t B3D_CALL_COUNT = 157;

// The 157 call names in call-number order, ended by a null entry.
const char* const* B3D_GetCallNames();

// The handler of the scene engine's module: answers the task (INTEGER 0 for an
// unknown call or an id without a record) and returns 1 in every case. Each
// argument is read only when the call was given it; a missing one reads as 0
// (a missing text as none).
int32_t B3D_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
