// The script engine's own engine calls (module 1): one function per call,
// reached through one table indexed by call number.
#pragma once

#include <cstdint>

struct SE_Context;
struct SE_Task;
struct ScriptValue;

// A built-in call: the script context, the caller module's number, the calling
// task, the argument count and argument 0 (argument i is args[i], the count of
// the call frame args[-1]). Answers the task and returns 1; 0 only after the
// calling task was removed.
using SE_BuiltinFn = int32_t (*)(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

constexpr int32_t SE_BUILTIN_COUNT = 149;

// The dispatch table of module 1, index = call number: the call's name (the
// same as the module's call-name table) and its function. The table holds
// exactly SE_BUILTIN_COUNT entries, each with its function.
struct SE_BuiltinEntry {
    const char* name;
    SE_BuiltinFn fn;
};
const SE_BuiltinEntry* SE_GetBuiltins();
