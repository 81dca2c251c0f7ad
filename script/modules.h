// The script context and the engine-call module registry: modules register a
// handler, result callbacks and a call-name table and get a module number;
// story calls are linked to (module, call number) by name.
#pragma once

#include <cstdint>

#include "script/context.h"

// The number of the script engine's own module (its built-in calls).
constexpr int32_t SE_OWN_MODULE = 1;
// Call names of module 1, ended by a null entry.
constexpr int32_t SE_CALL_NAME_COUNT = 149;

// A new context built by SE_InitContext (not booked); null without memory.
SE_Context* SE_Create();
// Clears the context, makes the lists and the eight id tables, registers the
// script engine as module 1 and makes the context the value code's context.
void SE_InitContext(SE_Context* ctx);
// Frees the eight id tables of the context (when the program ends).
void SB_FreeTables(SE_Context* ctx);

// Fills the next module record; returns its number, or 0 (after a log line)
// when all records are taken. Any callback may be null.
int32_t SB_RegisterEngineModule(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames,
                                SE_ReturnIntFn returnInt, SE_ReturnStringFn returnString, SE_ReturnValueFn returnValue);
// The short form: a handler and a call-name table, no callbacks.
int32_t SB_RegisterEngineModuleShort(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames);

// The script engine's own call-name table (149 names and a null entry).
const char* const* SE_GetCallNames();

// Looks a call name up in the call-name tables of all records in number
// order, each in index order. 1 with *module and *call set, 0 when no record
// has it.
int SE_FindCallName(const SE_Context* ctx, const char* name, int32_t* module, int32_t* call);

// The handler of module 1: forwards to SE_SysCall with the global context.
int32_t SE_ModuleSysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
// The built-in calls of module 1 (script/builtins.cpp).
int32_t SE_SysCall(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);

// Later answers for whoever called a module: while a context exists and a
// story is loaded, the callback of that kind in the record of `module`.
void SE_CallerReturnInt(int32_t module, int32_t value, uint32_t callerNumber);
void SE_CallerReturnString(int32_t module, const char* text, uint32_t callerNumber);
void SE_CallerReturnValue(int32_t module, ScriptValue* value, uint32_t callerNumber);
