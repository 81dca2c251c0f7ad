#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/table.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/opcodes.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"

using testing::HasSubstr;
using testing::Not;

namespace {

int32_t s_lastCaller = -1;
int32_t s_lastCall = -1;

int32_t AnswerSeven(int32_t callerModule, SE_Task* task, int32_t call, int32_t, ScriptValue*) {
    s_lastCaller = callerModule;
    s_lastCall = call;
    SE_TaskReturnInt(task, 7);
    return 1;
}

const char* const kOtherNames[] = {"X_One", "T_Now", nullptr};
const char* const kDeadNames[] = {"D_Dead", nullptr};

TEST(Modules, CreateRegistersTheScriptEngineAsModuleOne) {
    SE_Context* ctx = SE_Create();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(g_SEContext, ctx);
    EXPECT_EQ(ctx->ownModule, 1);
    EXPECT_EQ(ctx->nextModule, 2);
    EXPECT_EQ(ctx->modules[1].handler, &SE_ModuleSysCall);
    EXPECT_EQ(ctx->modules[1].ReturnInt, &SE_ReturnIntCallback);
    EXPECT_EQ(ctx->modules[1].callNames, SE_GetCallNames());
    EXPECT_EQ(ctx->modules[0].callNames, nullptr);
    const char* const* names = SE_GetCallNames();
    int n = 0;
    while (names[n]) ++n;
    EXPECT_EQ(n, SE_CALL_NAME_COUNT);
    EXPECT_STREQ(names[0], "SE_XMLImportText");
    EXPECT_STREQ(names[51], "SE_Run");
    EXPECT_STREQ(names[141], "SE_StringCat");
    EXPECT_STREQ(names[148], "SE_UpdateLocation");
    for (QelTable* t : {ctx->taskTable, ctx->instanceTable, ctx->fileTable, ctx->patchTable, ctx->regexpTable,
                        ctx->stringTable, ctx->arrayTable, ctx->tableTable})
        EXPECT_NE(t, nullptr);
    DestroyContext(ctx);
}

TEST(Modules, NumbersFollowRegistrationAndTheRecordsRunOut) {
    SE_Context* ctx = SE_Create();
    for (int32_t k = 2; k <= 10; ++k) EXPECT_EQ(SB_RegisterEngineModuleShort(ctx, AnswerSeven, kOtherNames), k);
    EXPECT_EQ(ctx->nextModule, 11);
    for (int32_t k = 11; k <= 31; ++k) EXPECT_EQ(SB_RegisterEngineModuleShort(ctx, AnswerSeven, kOtherNames), k);
    LogCapture capture;
    EXPECT_EQ(SB_RegisterEngineModuleShort(ctx, AnswerSeven, kOtherNames), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("no free module record"));
    EXPECT_EQ(ctx->nextModule, 32);
    DestroyContext(ctx);
}

TEST(Modules, ANameInTwoModulesLinksToTheLowerNumber) {
    StoryRunner r;  // module 2 has "T_Now"
    int32_t other = SB_RegisterEngineModuleShort(r.ctx(), AnswerSeven, kOtherNames);
    EXPECT_EQ(other, 3);
    int32_t m = 0, c = 0;
    ASSERT_EQ(SE_FindCallName(r.ctx(), "T_Now", &m, &c), 1);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(c, 0);
    ASSERT_EQ(SE_FindCallName(r.ctx(), "X_One", &m, &c), 1);
    EXPECT_EQ(m, 3);
    ASSERT_EQ(SE_FindCallName(r.ctx(), "SE_KillTask", &m, &c), 1);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(c, 50);
    EXPECT_EQ(SE_FindCallName(r.ctx(), "SP_Speak", &m, &c), 0);
}

const char* kStory = R"(
.func "CallX" need 4
    c3
    c1
    sys "X_One"
    ret
.func "CallDead" need 4
    c0
    sys "D_Dead"
    ret
.func "Builtin" need 4
    c0
    sys "SE_GetTaskID"
    ret
)";

TEST(Modules, HandlersGetTheEngineAsCallerAndTheirCallNumber) {
    StoryRunner r;
    SB_RegisterEngineModuleShort(r.ctx(), AnswerSeven, kOtherNames);
    ASSERT_TRUE(r.Load(kStory));
    s_lastCaller = s_lastCall = -1;
    r.Start(0, "CallX");
    EXPECT_EQ(r.Only(), "7");
    EXPECT_EQ(s_lastCaller, 1);
    EXPECT_EQ(s_lastCall, 0);
}

TEST(Modules, UnknownNamesAreLookedUpAgainAfterARegistration) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    LogCapture capture;
    r.Start(0, "CallX");
    EXPECT_THAT(capture.Take(), HasSubstr("Unknown System Call: X_One"));
    SB_RegisterEngineModuleShort(r.ctx(), AnswerSeven, kOtherNames);
    r.Start(0, "CallX");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].n, 7);
}

TEST(Modules, AModuleWithoutHandlerRefusesItsCalls) {
    StoryRunner r;
    SB_RegisterEngineModuleShort(r.ctx(), nullptr, kDeadNames);
    ASSERT_TRUE(r.Load(kStory));
    LogCapture capture;
    r.Start(0, "CallDead");
    r.Start(0, "CallDead");  // linked now: refused by number
    std::string log = capture.Take();
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].n, 0);
    size_t first = log.find("Illegal System Call not known by engine: D_Dead");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("Illegal System Call not known by engine: D_Dead", first + 1), std::string::npos);
}

TEST(Modules, LinksDoNotOutliveTheLoadedCode) {
    StoryRunner r;
    SB_RegisterEngineModuleShort(r.ctx(), AnswerSeven, kOtherNames);
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "CallX");
    const StoryFunction* fn = SE_FindGlobalFunction(r.ctx(), "CallX");
    EXPECT_NE(r.ctx()->code[fn->position + 3] & 0x8000, 0);
    SB_FreeLocation(r.ctx());
    ASSERT_TRUE(r.Load(kStory));
    fn = SE_FindGlobalFunction(r.ctx(), "CallX");
    EXPECT_EQ(r.ctx()->code[fn->position + 2], SE_OP_SYS);
    EXPECT_EQ(r.ctx()->code[fn->position + 3] & 0x8000, 0);
    r.Start(0, "CallX");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[1].n, 7);
}

TEST(Modules, BuiltInCallsReachTheEngineModule) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    LogCapture capture;
    r.Start(0, "Builtin");
    EXPECT_THAT(capture.Take(), Not(HasSubstr("System Call")));
    // SE_GetTaskID answers the id of the task, never 0.
    EXPECT_NE(r.Only(), "0");
}

TEST(Modules, CallerAnswersOnlyWhileAStoryIsLoaded) {
    StoryRunner r;
    SE_CallerReturnInt(r.module(), 5, 9);
    SE_CallerReturnString(r.module(), "t", 9);
    EXPECT_TRUE(r.answers.empty());
    ASSERT_TRUE(r.Load(kStory));
    SE_CallerReturnInt(r.module(), 5, 9);
    SE_CallerReturnString(r.module(), "t", 10);
    ScriptValue v{};
    SV_AssignInt(&v, 3);
    SE_CallerReturnValue(r.module(), &v, 11);
    SE_CallerReturnInt(40, 1, 1);  // no such record: nothing
    ASSERT_EQ(r.answers.size(), 3u);
    EXPECT_EQ(r.answers[0].n, 5);
    EXPECT_EQ(r.answers[0].callerNumber, 9u);
    EXPECT_EQ(r.answers[1].text, "t");
    EXPECT_EQ(r.answers[2].text, "3");
}

}  // namespace
