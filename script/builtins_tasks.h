// The script engine's built-in calls for tasks, objects, statistics and
// debugging, and the signature check of script-supplied data (module 1).
// Each has the shape of SE_BuiltinFn (script/builtins.h); the names of the
// task calls double those of the scheduler's own functions (script/tasks.h),
// told apart by their arguments.
#pragma once

#include "script/builtins.h"
// First: the call SE_TaskList hides the list type of that name, which is then
// written "struct SE_TaskList".
#include "script/context.h"

int32_t SE_GetTaskID(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TaskExists(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// Answers 0, or nothing (and returns 0) after removing the calling task itself.
int32_t SE_KillTask(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// Calls a function of an object by name inside the calling task.
int32_t SE_Run(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ObjectExists(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ObjectFunctionExists(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetClass(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_IsClass(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetSuperClass(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetExprType(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ExportPrivateInfo(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetTaskPC(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MemStatistics(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TaskList(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StackDump(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_CallStackDump(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ShowCallStack(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_CallerNumber(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_CallerEngine(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DumpValues(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_AllocatedMem(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_AllocatedMemGeneral(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ToInt(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetNum(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_SetMaxOpCount(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_VerifyData(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Export ids of SB_ExportPrivateInfo.
constexpr int32_t SE_EXP_TASK_COUNT = 401;
constexpr int32_t SE_EXP_CONSTANT = 402;
constexpr int32_t SE_EXP_OBJECT_COUNT = 403;
// Engine figures for the export ids above; 0 (after a log line) for any other id.
int32_t SB_ExportPrivateInfo(int32_t id, SE_Context* ctx);
