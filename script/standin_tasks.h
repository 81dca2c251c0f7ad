// STAND-IN for the interpreter, the tasks and the module registry while they
// are being built: the few calls the program's start-up, game loop and exit
// make, with the names and arguments they will have. Story functions are looked
// up but not run. Delete this file (and include the real headers) once
// script/interpreter.*, script/tasks.* and script/modules.* are on main.
#pragma once

#include <cstdint>

#include "script/context.h"

SE_Context* SE_Create();
int32_t SB_RegisterEngineModule(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames,
                                SE_ReturnIntFn returnInt, SE_ReturnStringFn returnString,
                                SE_ReturnValueFn returnValue);
void SB_FreeTables(SE_Context* ctx);
// SB_FreeTables, then the context record made by SE_Create.
void SE_Destroy(SE_Context* ctx);
int SE_Run(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name, int16_t returnKind,
           int32_t argc, ...);
int SE_RunWithValues(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                     int16_t returnKind, int32_t count, ...);
void SE_RunAllTasks();
void SE_TaskReturnIntEx(SE_Task* task, SE_Context* ctx, int32_t n);
void SE_TaskWakeUp(SE_Context* ctx, SE_Task* task);
void SE_CallerReturnInt(int32_t module, int32_t value, uint32_t callerNumber);
