// The Ruzo_ module: the shell's engine calls (module 9): saves and loads,
// the slot list, pauses, frame captures, the galaxy import, the string
// parameter, debug lines on screen, benchmark scenes, shell settings and free
// registry values; and the result callbacks through which every story
// function the shell starts answers. Every call answers at once.
#pragma once

#include <cstdint>

#include "script/context.h"

const char* const* Ruzo_GetSysCallNames();
int32_t Ruzo_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
// Results of the story functions the shell started: caller 0 lands in the
// ProgramState's result word; other callers are looked up in its caller table.
void Ruzo_ReturnInt(uint32_t callerNumber, int32_t n);
void Ruzo_ReturnString(uint32_t callerNumber, const char* text);
