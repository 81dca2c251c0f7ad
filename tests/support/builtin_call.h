// Test helpers for the built-in calls of module 1: calls one call function
// directly, as the dispatch does, on a task of its own, and builds argument
// values compactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/builtins.h"
#include "script/context.h"

class BuiltinCaller {
public:
    explicit BuiltinCaller(SE_Context* ctx);  // a task from the context's task table
    ~BuiltinCaller();                         // removes the task
    BuiltinCaller(const BuiltinCaller&) = delete;
    BuiltinCaller& operator=(const BuiltinCaller&) = delete;

    // The arguments are moved into a call frame (the count slot before
    // argument 0) and released after the call; the answer is moved out (the
    // caller releases it). A call that does not answer is a test failure.
    ScriptValue Call(SE_BuiltinFn fn, std::vector<ScriptValue> args);
    // The INTEGER answer (a test failure for another tag).
    int32_t Int(SE_BuiltinFn fn, std::vector<ScriptValue> args);
    // The text of a STRING or DSTRING answer (a test failure for another tag).
    std::string Text(SE_BuiltinFn fn, std::vector<ScriptValue> args);
    // The display text of the answer.
    std::string Display(SE_BuiltinFn fn, std::vector<ScriptValue> args);

    SE_Context* ctx;
    SE_Task* task;
};

ScriptValue VInt(int32_t n);
ScriptValue VFloat(double d);
ScriptValue VText(const char* text);                    // a DSTRING
ScriptValue VInts(const std::vector<int32_t>& values);  // an ARRAY of INTEGERs
ScriptValue VMatrix(const int32_t m[3][3]);             // an ARRAY of three row ARRAYs
// A new reference to a value (an ARRAY argument that the test reads back).
ScriptValue Share(const ScriptValue* v);
// Display text of a value.
std::string DisplayOf(const ScriptValue* v);
