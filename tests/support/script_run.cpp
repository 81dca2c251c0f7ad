#include "script_run.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "script/loader.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/story.h"

namespace {

StoryRunner* s_runner = nullptr;

int32_t TestHandler(int32_t /*callerModule*/, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    StoryRunner* r = s_runner;
    RunCall c{task ? task->id : 0, call, argc, {}};
    for (int32_t i = 0; i < argc; ++i) c.args.push_back(StoryRunner::Text(&args[i]));
    r->calls.push_back(c);
    if (r->handler) return r->handler(task, call, argc, args);
    switch (call) {
        case 0: SE_TaskReturnInt(task, 0); return 1;                        // T_Now
        case 1: r->later.push_back(task->id); return 1;                     // T_Later: answered by the test
        case 2: return 1;                                                   // T_Never
        case 3: return 0;                                                   // T_Zero
        default: SE_TaskReturnString(task, "text", g_SEContext); return 1;  // T_Text
    }
}

void TestReturnInt(uint32_t caller, int32_t n) { s_runner->answers.push_back(RunAnswer{caller, 1, n, {}}); }

void TestReturnString(uint32_t caller, const char* text) {
    s_runner->answers.push_back(RunAnswer{caller, 2, 0, text ? text : "", text == nullptr});
}

void TestReturnValue(uint32_t caller, ScriptValue* value) {
    s_runner->answers.push_back(RunAnswer{caller, 3, 0, StoryRunner::Text(value)});
}

}  // namespace

const char* const StoryRunner::kCallNames[] = {"T_Now", "T_Later", "T_Never", "T_Zero", "T_Text", nullptr};

StoryRunner::StoryRunner() {
    ctx_ = SE_Create();
    s_runner = this;
    module_ = SB_RegisterEngineModule(ctx_, TestHandler, kCallNames, TestReturnInt, TestReturnString, TestReturnValue);
}

StoryRunner::~StoryRunner() {
    SB_FreeLocation(ctx_);
    DestroyContext(ctx_);
    if (s_runner == this) s_runner = nullptr;
}

bool StoryRunner::Load(const std::string& text) {
    std::vector<uint8_t> image = AssembleStory(text);
    if (image.empty()) return false;
    int ok = LoadStoryImage(ctx_, image, "test");
    EXPECT_EQ(ok, 1);
    return ok == 1;
}

int StoryRunner::Start(int32_t objectId, const char* name, std::vector<int32_t> args, int16_t kind, uint32_t caller) {
    return SE_RunIntArgs(ctx_, module_, caller, objectId, name, kind, static_cast<int32_t>(args.size()), args.data());
}

std::string StoryRunner::Text(const ScriptValue* v) {
    ScriptValue cell{};
    std::string s = SV_ToString(&cell, v);
    SV_Release(&cell);
    return s;
}

std::string StoryRunner::Global(uint32_t index) const {
    if (!ctx_->objects || index >= ctx_->objects[0].variableCount) return "<no global>";
    return Text(&ctx_->objects[0].variables[index]);
}

std::string StoryRunner::Only() const {
    EXPECT_EQ(answers.size(), 1u);
    if (answers.size() != 1) return "";
    const RunAnswer& a = answers[0];
    return a.kind == 1 ? std::to_string(a.n) : a.text;
}

static std::vector<SE_Task*> ListTasks(const SE_TaskList& list) {
    std::vector<SE_Task*> out;
    for (SE_ListNode* n = list.head.succ; SE_ListIsTask(n); n = n->succ) out.push_back(SE_ListTask(n));
    return out;
}

std::vector<SE_Task*> StoryRunner::Ready() const { return ListTasks(ctx_->ready); }
std::vector<SE_Task*> StoryRunner::Waiting() const { return ListTasks(ctx_->waiting); }

void DestroyContext(SE_Context* ctx) {
    SB_FreeTables(ctx);
    if (g_SEContext == ctx) g_SEContext = nullptr;
    std::free(ctx);
}

int64_t RunBookedBytes(const SE_Context* ctx) {
    int64_t sum = 0;
    for (int32_t b : ctx->memBytes) sum += b;
    return sum;
}
