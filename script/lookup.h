// Lookups into the loaded story shared by the interpreter, the built-in calls
// and the game modules: objects by id, functions by name, debug addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/context.h"

// An object (id >= 0) or an instance (id < 0), or null.
StoryInstance* SB_FindObject(SE_Context* ctx, int32_t id);
// 1 when the object of that id or its super chain has a function named `name`.
int SB_ObjectFunctionExists(int32_t id, const char* name);
// 1 for an OBJECT value of a live instance or an INTEGER id that is found.
int SB_IsLiveObject(const ScriptValue* v);

// The function whose code start is the largest not above `position`, over the
// own tables of every object; its object in *owner. Null when none.
const StoryFunction* SB_FindFunctionAt(SE_Context* ctx, uint32_t position, const StoryObject** owner);

// Printable script position "#id(class)[pos]obj.name", cut to size bytes.
char* SE_GetDebugAddress(SE_Context* ctx, char* buffer, size_t size, uint32_t position, const StoryInstance* object);
// Debug address of a task (size 50); empty without a task.
char* SE_GetTaskDebugAddress(char* buffer, const SE_Task* task, SE_Context* ctx);
// Debug address of the scheduler's current task ("invalid address" without one).
const char* SE_GetCurrentDebugAddress();
// The position text that leads script error messages: the current task's debug
// address, or an empty text when no task runs.
const char* SE_PositionText();
