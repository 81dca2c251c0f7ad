// Built-in calls of module 1 over files, directories, values and objects as
// markup, and the wall clock. Each has the shape of a built-in call
// (script/builtins.h) and answers the task before it returns.
#pragma once

#include "script/builtins.h"

// Markup: 0, 97-101.
int32_t SE_XMLImportText(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XMLExportObject(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XMLImportObject(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XMLExportValue(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XMLImportValue(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XMLImport(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Files and directories: 102, 103, 105-113. Open files live in the context's
// file table under the handle number handed to the script.
int32_t SE_FOpen(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_FClose(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ReadFile(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_WriteFile(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DeleteFile(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MoveFile(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_FSize(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_FTime(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetDir(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MakeDir(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ChangeDir(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Wall clock: 24, 25, 134.
int32_t SE_CTime(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TimeString(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Time(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
