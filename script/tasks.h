// Tasks and the scheduler: story functions run as cooperative tasks on their
// own value stacks; modules start them by name, answer their engine calls at
// once or later, and the frame loop runs every ready task once per pass.
#pragma once

#include <cstdint>

#include "script/context.h"

// A stack never grows once it holds this many slots.
constexpr uint32_t SE_STACK_LIMIT = 16384;

// Return kinds of a started function: what its caller module is told.
enum : int16_t {
    SE_RETURN_INT = 1,
    SE_RETURN_STRING = 2,
    SE_RETURN_VALUE = 3,  // any other value: a ScriptValue
};

// Task states.
enum : int16_t {
    SE_TASK_READY = 1,
    SE_TASK_WAITING = 2,
};

// A new task with an id from the task table and a zeroed stack of 32 slots,
// or `slots` rounded up to a multiple of 32; in no list yet. Null without memory.
SE_Task* SE_AllocTask(SE_Context* ctx, uint32_t slots);

// Starts a function of a story object (or instance) by name as a new task and
// runs it at once until it waits or ends. 1 started, 0 not (the caller
// module's ReturnInt is then told 0). SE_Run takes `argc` 32-bit integers,
// SE_RunWithValues `argc` pointers to ScriptValue (copied).
int SE_Run(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name, int16_t returnKind,
           int32_t argc, ...);
int SE_RunWithValues(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                     int16_t returnKind, int32_t argc, ...);
// The array forms behind both (argument 0 first).
int SE_RunIntArgs(SE_Context* ctx, int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                  int16_t returnKind, int32_t argc, const int32_t* args);
int SE_RunValueArgs(SE_Context* ctx, int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                    int16_t returnKind, int32_t argc, const ScriptValue* const* args);

// One pass of the scheduler over the ready list of the global context.
void SE_RunAllTasks();

// The task returned to position 0: its result (the top value) goes to the
// caller module, then the task is freed.
void SE_EndTask(SE_Context* ctx, SE_Task* task);
// Removes a task without a result (a caller expecting an integer is told 0).
void SE_RemoveTask(SE_Context* ctx, SE_Task* task);
// SE_RemoveTask of the task with that id, if there is one.
void SE_KillTask(SE_Context* ctx, uint32_t id);
// The task of an id, or null.
SE_Task* SE_FindTask(SE_Context* ctx, uint32_t id);
// Removes every task, ready ones first, whose current object is `object`.
void SE_RemoveObjectTasks(SE_Context* ctx, const StoryInstance* object);

// Answers to the pending engine call of a task: each sets the answered flag,
// replaces the call result and wakes a waiting task.
void SE_TaskReturnInt(SE_Task* task, int32_t n);
void SE_TaskReturnIntEx(SE_Task* task, SE_Context* ctx, int32_t n);
void SE_TaskReturnString(SE_Task* task, const char* text, SE_Context* ctx);
// The value is moved into the call result; the source is left undefined.
void SE_TaskReturnValue(SE_Task* task, ScriptValue* value, SE_Context* ctx);
// A waiting task gets its call result in place of the call's count and
// arguments and goes to the head of the ready list; other states: nothing.
void SE_TaskWakeUp(SE_Context* ctx, SE_Task* task);

// The script engine's own result callbacks (its module record): the caller
// number is the id of the task that waits for the answer.
void SE_ReturnIntCallback(uint32_t taskId, int32_t n);
void SE_ReturnStringCallback(uint32_t taskId, const char* text);
void SE_ReturnValueCallback(uint32_t taskId, ScriptValue* value);

// Grows a task's stack to hold `needed` slots (kept anchored at its end).
// 0 when it cannot grow (the limit is reached or memory is out), after a log line.
int SE_GrowTaskStack(SE_Context* ctx, SE_Task* task, uint32_t needed);

// Slots a task restored from a save game needs, over all its frames.
uint32_t SE_TaskStackNeed(const SE_Task* task);

// Debug dumps of a task into the log.
void SE_CallStackDump(SE_Task* task, SE_Context* ctx);
void SE_StackDump(SE_Task* task);

// Reads the text file numbered pageId / 1000 into text page 0 of that
// language. 1 when it was read, 0 when not.
int SE_LoadTextsOfPage(SE_Context* ctx, int32_t pageId);

// Frees a removed task once no run holds it any more (the interpreter calls
// it when its outermost run of the task returns).
void SE_FinishRemovedTask(SE_Context* ctx, SE_Task* task);
// Drops a task of a story that goes away, telling nobody: its values at once,
// its stack and record once no run holds it. The caller has taken it out of
// the task table and the lists.
void SE_DiscardTask(SE_Context* ctx, SE_Task* task);

// Runs of tasks nest on the native stack when a task launches another; past
// this depth a launched task is left to the scheduler instead.
constexpr int32_t SE_MAX_NESTED_RUNS = 256;

// Function look-ups over the loaded story's tables.
// By name text in the own tables of `cls`, then up its super chain.
const StoryFunction* SE_FindFunctionByName(const SE_Context* ctx, const StoryObject* cls, const char* name,
                                           const StoryObject** owner);
// By name text in the global object's own table.
const StoryFunction* SE_FindGlobalFunction(const SE_Context* ctx, const char* name);
// The function with the largest code start not above `position`, over the own
// tables of the object's class and its super chain.
const StoryFunction* SE_FindFunctionContaining(const StoryInstance* object, uint32_t position,
                                               const StoryObject** owner);

// The current object's id of a task's object field (0 without one).
inline int32_t SE_TaskObjectId(const SE_Task* task) { return task && task->object ? task->object->id : 0; }
