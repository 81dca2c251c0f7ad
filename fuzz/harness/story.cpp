#include "fuzz/harness/story.h"

#include <cstring>
#include <string>

#include "script/modules.h"
#include "script/tasks.h"
#include "script/values.h"
#include "tools/lib/storyasm.h"

namespace {

std::vector<uint32_t> s_later;

const char* const kCallNames[] = {"F_Now", "F_Later", "F_Text", nullptr};

int32_t Handler(int32_t /*callerModule*/, SE_Task* task, int32_t call, int32_t /*argc*/, ScriptValue* /*args*/) {
    switch (call) {
        case 0: SE_TaskReturnInt(task, 0); return 1;
        case 1: s_later.push_back(task->id); return 1;
        default: SE_TaskReturnString(task, "text", g_SEContext); return 1;
    }
}

// Built-in calls that write, move or delete files or change the working
// folder: a fuzzed story could name any path with them, so they answer 0.
const char* const kRefusedCalls[] = {"SE_FOpen",    "SE_FPrintf",          "SE_WriteFile", "SE_DeleteFile",
                                     "SE_MoveFile", "SE_MakeDir",          "SE_ChangeDir", "SE_SaveAllTexts",
                                     "SE_SignData", "SE_ExportPrivateInfo"};

SE_ModuleHandler s_builtins = nullptr;

int32_t GuardedBuiltins(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    const char* const* names = SE_GetCallNames();
    for (const char* refused : kRefusedCalls) {
        if (call >= 0 && call < SE_CALL_NAME_COUNT && std::strcmp(names[call], refused) == 0) {
            SE_TaskReturnInt(task, 0);
            return 1;
        }
    }
    return s_builtins(callerModule, task, call, argc, args);
}

}  // namespace

SE_Context* Fuzz_ScriptContext() {
    static SE_Context* ctx = nullptr;
    if (!ctx) {
        ctx = SE_Create();
        s_builtins = ctx->modules[ctx->ownModule].handler;
        ctx->modules[ctx->ownModule].handler = GuardedBuiltins;
        SB_RegisterEngineModule(ctx, Handler, kCallNames, nullptr, nullptr, nullptr);
    }
    g_SEContext = ctx;
    return ctx;
}

void Fuzz_AnswerLater() {
    std::vector<uint32_t> ids;
    ids.swap(s_later);
    for (uint32_t id : ids)
        if (SE_Task* t = SE_FindTask(g_SEContext, id)) SE_TaskReturnIntEx(t, g_SEContext, 1);
}

void Fuzz_ForgetLater() { s_later.clear(); }

const char* const kFuzzStoryText = R"(
.ctime 1000
.var "G" int 7
.var "S" string "text"
.var "F" float 2.5
.var "A" array
.var "Z" zero
.func "Main" need 8
    pushf 1.5
    pushds "dynamic"
    setg 1
    pop
    c0
    callal inner, "Inner"
    setl 2
    pop
    ret
.func "Inner" need 4
inner: pushw 5
    new
    setg 4
    pop
    c0
    sysl "F_Later"
    ret
.func "Loop" need 4
    c0
top: c1
    add
    dup
    pushw 100
    lt
    jnf top
    ret
.func "Text" need 4
    c0
    sysl "F_Text"
    ret
.object 5
.var "V" int 3
.func "Get" need 2
    getv 0
    ret
)";

std::vector<uint8_t> Fuzz_StoryImage(const std::string& text) {
    std::vector<uint8_t> image;
    std::string error;
    if (!StoryAsm_Build(text, image, &error)) image.clear();
    return image;
}

void Fuzz_CallBuiltin(Fuzz_BuiltinFn fn, std::vector<ScriptValue> args) {
    SE_Context* ctx = g_SEContext;
    SE_Task* task = SE_AllocTask(ctx, 32);
    std::vector<ScriptValue> frame(args.size() + 1);
    SV_AssignInt(&frame[0], static_cast<int32_t>(args.size()));
    for (size_t i = 0; i < args.size(); ++i) frame[i + 1] = args[i];
    if (task) fn(ctx, 1, task, static_cast<int32_t>(args.size()), frame.data() + 1);
    for (ScriptValue& v : frame) SV_Release(&v);
    if (task) SE_RemoveTask(ctx, task);
}
