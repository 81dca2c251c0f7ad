// Test helpers for the script engine's built-in calls: one call made the way
// the interpreter makes it (arguments on a task's stack under their count),
// with values built by the test.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "script/context.h"

class SysCallRunner {
public:
    SysCallRunner();  // a context made by SE_Create and one task in the ready list
    // Works in a context the test keeps (a story runner's); adds its task there.
    explicit SysCallRunner(SE_Context* ctx);
    ~SysCallRunner();  // releases held values and the task, and the context it made

    // Assembles and loads a story into the context (a test failure on error).
    bool Load(const std::string& text);
    SysCallRunner(const SysCallRunner&) = delete;
    SysCallRunner& operator=(const SysCallRunner&) = delete;

    SE_Context* ctx() const { return ctx_; }
    // The calling task; gone once a call removed it (taskAlive()).
    SE_Task* task() const { return task_; }
    bool taskAlive() const;

    // New values; whoever receives them owns one reference.
    static ScriptValue Int(int32_t n);
    static ScriptValue Text(const char* text);
    static ScriptValue Float(double d);
    static ScriptValue Ref(const ScriptValue& v);                 // one more reference to v
    static ScriptValue Array(std::vector<ScriptValue> elements);  // elements moved in
    static ScriptValue IntArray(const std::vector<int32_t>& elements);
    // Keeps a value until the caller is destroyed; the reference stays valid.
    ScriptValue& Hold(ScriptValue v);

    // Calls `name` (looked up in module 1's names) with the arguments, which
    // the call frame takes over. The answer's display text ("5", "\"abc\"",
    // "{1,2}"), or "<no answer>".
    std::string Call(const char* name, std::vector<ScriptValue> args = {});
    // As Call, by call number.
    std::string CallNumber(int32_t call, std::vector<ScriptValue> args = {});
    // As Call, handing the answer over (undefined when there was none).
    ScriptValue Answer(const char* name, std::vector<ScriptValue> args = {});
    int32_t lastResult = 0;     // what SE_SysCall returned
    bool lastAnswered = false;  // the task was answered (and still exists)

    static std::string Display(const ScriptValue& v);

private:
    ScriptValue Run(int32_t call, std::vector<ScriptValue>& args);
    SE_Context* ctx_;
    bool ownsContext_;
    SE_Task* task_;
    uint32_t taskId_;
    std::deque<ScriptValue> held_;
};
