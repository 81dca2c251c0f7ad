#include "support/syscall_runner.h"

#include <gtest/gtest.h>

#include "script/arrays.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/script_run.h"
#include "support/story.h"

SysCallRunner::SysCallRunner() : SysCallRunner(SE_Create()) { ownsContext_ = true; }

SysCallRunner::SysCallRunner(SE_Context* ctx) : ctx_(ctx), ownsContext_(false) {
    task_ = SE_AllocTask(ctx_, 64);
    taskId_ = task_->id;
    task_->state = SE_TASK_READY;
    SE_ListAddTail(&ctx_->ready, &task_->link);
    ctx_->currentTask = task_;
}

SysCallRunner::~SysCallRunner() {
    for (ScriptValue& v : held_) SV_Release(&v);
    if (SE_FindTask(ctx_, taskId_) == task_) SE_RemoveTask(ctx_, task_);
    if (!ownsContext_) return;
    SB_FreeLocation(ctx_);
    DestroyContext(ctx_);
}

bool SysCallRunner::Load(const std::string& text) {
    std::vector<uint8_t> image = AssembleStory(text);
    return !image.empty() && LoadStoryImage(ctx_, image, "builtins") == 1;
}

bool SysCallRunner::taskAlive() const { return SE_FindTask(ctx_, taskId_) == task_; }

ScriptValue SysCallRunner::Int(int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return v;
}

ScriptValue SysCallRunner::Text(const char* text) {
    ScriptValue v{};
    SV_AssignString(&v, text);
    return v;
}

ScriptValue SysCallRunner::Float(double d) {
    ScriptValue v{};
    SV_AssignFloat(&v, d);
    return v;
}

ScriptValue SysCallRunner::Ref(const ScriptValue& v) {
    ScriptValue copy{};
    SV_Copy(&v, &copy);
    return copy;
}

ScriptValue SysCallRunner::Array(std::vector<ScriptValue> elements) {
    ScriptValue a{};
    SV_ArrayAlloc(&a, static_cast<int32_t>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
        SV_ArrayWrite(&a, static_cast<int32_t>(i), &elements[i]);
        SV_Release(&elements[i]);
    }
    return a;
}

ScriptValue SysCallRunner::IntArray(const std::vector<int32_t>& elements) {
    std::vector<ScriptValue> values;
    for (int32_t n : elements) values.push_back(Int(n));
    return Array(std::move(values));
}

ScriptValue& SysCallRunner::Hold(ScriptValue v) {
    held_.push_back(v);
    return held_.back();
}

std::string SysCallRunner::Display(const ScriptValue& v) {
    ScriptValue cell{};
    std::string s = SV_ToString(&cell, &v);
    SV_Release(&cell);
    return s;
}

ScriptValue SysCallRunner::Run(int32_t call, std::vector<ScriptValue>& args) {
    // The frame as the interpreter leaves it: the count on top, argument 0 below it.
    int32_t argc = static_cast<int32_t>(args.size());
    ScriptValue* top = task_->stackEnd + task_->sp - (argc + 1);
    for (int32_t i = 0; i < argc; ++i) top[1 + i] = args[static_cast<size_t>(i)];
    top[0] = Int(argc);
    task_->sp -= argc + 1;
    task_->answered = 0;
    task_->pendingArgc = static_cast<uint16_t>(argc);
    task_->pendingArgs = top + 1;
    lastResult = SE_SysCall(ctx_, 1, task_, call, argc, top + 1);
    ScriptValue answer{};
    lastAnswered = false;
    if (SE_FindTask(ctx_, taskId_) != task_) return answer;  // the call removed the task
    lastAnswered = task_->answered != 0;
    for (int32_t i = 0; i <= argc; ++i) SV_Release(&top[i]);
    task_->sp += argc + 1;
    if (task_->answered) SV_Move(&task_->callResult, &answer);
    return answer;
}

ScriptValue SysCallRunner::Answer(const char* name, std::vector<ScriptValue> args) {
    int32_t module = 0, call = -1;
    EXPECT_TRUE(SE_FindCallName(ctx_, name, &module, &call)) << name;
    EXPECT_EQ(module, 1) << name;
    return Run(call, args);
}

std::string SysCallRunner::CallNumber(int32_t call, std::vector<ScriptValue> args) {
    ScriptValue answer = Run(call, args);
    if (!lastAnswered) return "<no answer>";
    std::string text = Display(answer);
    SV_Release(&answer);
    return text;
}

std::string SysCallRunner::Call(const char* name, std::vector<ScriptValue> args) {
    int32_t module = 0, call = -1;
    EXPECT_TRUE(SE_FindCallName(ctx_, name, &module, &call)) << name;
    EXPECT_EQ(module, 1) << name;
    return CallNumber(call, std::move(args));
}
