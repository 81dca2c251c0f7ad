// Built-in calls of module 1 over formatted text, the XML and query text
// codecs and compiled regular expressions. Each has the shape of a built-in
// call (script/builtins.h) and answers the task before it returns.
#pragma once

#include "script/builtins.h"

// Formatted text (script/format.h formats): 20, 21, 104, 114-117.
int32_t SE_SPrintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_VSPrintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_FPrintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DMprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XDMprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Dprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_XDprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Text codecs: 93-96.
int32_t SE_StringXMLEncode(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringXMLEscape(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringXMLQueryDecode(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringXMLQueryToUTF8(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Regular expressions: 88-92. Compiled expressions live in the context's
// expression table under the id handed to the script.
int32_t SE_RegComp(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RegExec(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RegSub(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RegSubGlobal(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RegFree(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
