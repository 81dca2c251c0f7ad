// The script engine's built-in calls for texts, strings, arrays and tables,
// the process command line and the calls that do nothing (module 1).
// Each has the shape of SE_BuiltinFn (script/builtins.h).
#pragma once

#include "script/builtins.h"

// Texts of the text pages.
int32_t SE_ReadText(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ExistsText(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GetLanguage(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_FreeText(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// Text files and the text save file; {page,id} references in texts.
int32_t SE_LoadText(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_LoadTextPage(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ConvertFormatString(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_SaveAllTexts(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_LoadAllTexts(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Strings.
int32_t SE_StringLen(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringNumChars(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringNextCharPos(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringPrevCharPos(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringReadChar(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringWriteChar(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringStr(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringChr(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringRChr(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringSub(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringToInt(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// Leading blanks, an optional sign, then decimal digits up to the first other
// byte; saturated to 32 bits; 0 for null.
int32_t SE_TextToInt(const char* s);
int32_t SE_StringSplit(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringSubst(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_strcmp(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_stricmp(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringCat(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_StringMul(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Arrays.
int32_t SE_ArrayAlloc(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArraySize(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayRead(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayWrite(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayCopy(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayClone(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArraySubClone(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayInsert(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayAppend(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayRemove(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ArrayResize(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// Sort a's elements first..last by the keys of a second array: (a, keys, first, last [, descending]).
int32_t SE_QSortByName(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_QSortByInt(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Tables.
int32_t SE_TableAlloc(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableSize(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableNew(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableAdd(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableFind(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableExists(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableNext(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableRemove(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableKeys(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableData(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_TableRandomKey(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// Calls kept for old stories: no effect, answer 0.
int32_t SE_Assert(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Trace(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_SetProfiling(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_SignData(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_UpdateLocation(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
// No effect and no answer: the calling task is left waiting.
int32_t SE_AutoDoc(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
