#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/general.h"
#include "base/table.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/story.h"

using testing::HasSubstr;

namespace {

const char* kStory = R"(
    end
.var "Log" zero
.func "Wait" need 8          ; answers what the later call answered, plus its argument
    c0
    sys "T_Later"
    getl 5
    add
    ret
.func "Never" need 8
    c0
    sys "T_Never"
    ret
.func "Now" need 8
    c0
    sys "T_Now"
    ret
.func "WaitThenZero" need 8
    c0
    sys "T_Later"
    pop
    c0
    sys "T_Zero"
    ret
.func "WaitTwice" need 8
    c0
    sys "T_Later"
    pop
    c0
    sys "T_Now"
    ret
.func "Append" need 8        ; Log = Log * 10 + argument
    getg 0
    c10
    mul
    getl 5
    add
    setg 0
    ret
.func "Str" need 2
    pushs "story text"
    ret
.func "Arr" need 4
    c1
    c2
    c2
    mkarray
    ret
.func "Outer" need 8
    c0
    calla inner "Inner"
    ret
.func "ZeroShort" need 8      ; the answer of a handler that returns 0, plus 1
    c0
    sys "T_Zero"
    c1
    add
    ret
.func "ZeroLong" need 8
    c0
    sysl "T_Zero"
    c1
    add
    ret
.func "Inner" need 8
inner: c0
    sys "T_Never"
    ret
)";

TEST(Tasks, AllocTaskRoundsTheStack) {
    StoryRunner r;
    struct Case {
        uint32_t asked, size;
    };
    for (Case c : {Case{33, 64}, Case{32, 32}, Case{0, 32}, Case{100, 128}}) {
        SE_Task* t = SE_AllocTask(r.ctx(), c.asked);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->stackSize, c.size) << c.asked;
        EXPECT_EQ(t->sp, 0);
        EXPECT_EQ(SE_FindTask(r.ctx(), t->id), t);
        SE_RemoveTask(r.ctx(), t);
    }
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
}

TEST(Tasks, AllocTaskRefusesAStackFarBeyondTheLimit) {
    StoryRunner r;
    LogCapture log;
    for (uint32_t asked : {0xFFFFFFE0u, 0xFFFFFFE7u, 4 * SE_STACK_LIMIT + 1}) {
        EXPECT_EQ(SE_AllocTask(r.ctx(), asked), nullptr) << asked;
        EXPECT_TRUE(log.Contains("SE_AllocTask(" + std::to_string(asked) + ") stack beyond the limit")) << log.Text();
    }
    EXPECT_EQ(RunBookedBytes(r.ctx()), 0);
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
}

TEST(Tasks, StartFailuresTellTheCallerZero) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    LogCapture capture;
    EXPECT_EQ(r.Start(0, "Nothing", {}, SE_RETURN_STRING, 7), 0);
    EXPECT_EQ(r.Start(55, "Wait", {}, SE_RETURN_VALUE, 8), 0);
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("SE_Run(0, Nothing) Unknown function!"));
    EXPECT_THAT(log, HasSubstr("SE_Run(55, Wait) Unknown object!"));
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].kind, 1);
    EXPECT_EQ(r.answers[0].callerNumber, 7u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].callerNumber, 8u);
}

TEST(Tasks, ResultsReachTheCallerByKind) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Str", {}, SE_RETURN_STRING, 1);
    r.Start(0, "Now", {}, SE_RETURN_STRING, 2);  // an integer result: a null text
    r.Start(0, "Arr", {}, SE_RETURN_VALUE, 3);
    r.Start(0, "Str", {}, SE_RETURN_INT, 4);  // a text result: integer 0
    ASSERT_EQ(r.answers.size(), 4u);
    EXPECT_EQ(r.answers[0].text, "story text");
    EXPECT_TRUE(r.answers[1].nullText);
    EXPECT_EQ(r.answers[2].text, "{2,1}");
    EXPECT_EQ(r.answers[3].kind, 1);
    EXPECT_EQ(r.answers[3].n, 0);
}

TEST(Tasks, LaterAnswersWakeTasksAtTheHeadOfTheReadyList) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    for (int32_t i = 1; i <= 3; ++i) r.Start(0, "Wait", {i}, SE_RETURN_INT, static_cast<uint32_t>(i));
    ASSERT_EQ(r.later.size(), 3u);
    EXPECT_EQ(r.Waiting().size(), 3u);
    EXPECT_TRUE(r.answers.empty());
    // Answers through the script engine's own callback: task 2 first, then 3.
    SE_CallerReturnInt(SE_OWN_MODULE, 20, r.later[1]);
    SE_CallerReturnInt(SE_OWN_MODULE, 30, r.later[2]);
    ASSERT_EQ(r.Ready().size(), 2u);
    EXPECT_EQ(r.Ready()[0]->id, r.later[2]);
    EXPECT_EQ(r.Ready()[1]->id, r.later[1]);
    SE_RunAllTasks();
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 33);
    EXPECT_EQ(r.answers[1].n, 22);
    EXPECT_EQ(r.Waiting().size(), 1u);
    // An answer for a task that no longer exists is dropped.
    SE_ReturnIntCallback(r.later[1], 5);
    SE_RunAllTasks();
    EXPECT_EQ(r.answers.size(), 2u);
}

TEST(Tasks, ATaskWokenDuringThePassRunsInTheNextPass) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Wait", {1}, SE_RETURN_INT, 1);      // B
    r.Start(0, "WaitTwice", {}, SE_RETURN_INT, 2);  // A
    uint32_t b = r.later.at(0), a = r.later.at(1);
    SE_ReturnIntCallback(a, 0);
    // A's second call answers B; A then ends.
    r.handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        SE_ReturnIntCallback(b, 100);
        SE_TaskReturnInt(task, 0);
        return 1;
    };
    SE_RunAllTasks();
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].callerNumber, 2u);
    ASSERT_EQ(r.Ready().size(), 1u);
    SE_RunAllTasks();
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[1].callerNumber, 1u);
    EXPECT_EQ(r.answers[1].n, 101);
}

TEST(Tasks, RemovingTellsAnIntegerCallerZeroAndAValueCallerNothing) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Never", {}, SE_RETURN_INT, 1);
    r.Start(0, "Never", {}, SE_RETURN_VALUE, 2);
    std::vector<SE_Task*> waiting = r.Waiting();
    ASSERT_EQ(waiting.size(), 2u);
    SE_KillTask(r.ctx(), waiting[0]->id);
    SE_KillTask(r.ctx(), waiting[1]->id);
    SE_KillTask(r.ctx(), 12345);
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].callerNumber, 1u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_TRUE(r.Waiting().empty());
}

TEST(Tasks, AHandlerAnsweringZeroEndsThePass) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.handler = [&](SE_Task* task, int32_t call, int32_t, ScriptValue*) {
        if (call == 1) {
            r.later.push_back(task->id);
            return 1;
        }
        SE_KillTask(r.ctx(), task->id);  // "T_Zero": as a kill of the calling task does
        return 0;
    };
    r.Start(0, "WaitThenZero", {}, SE_RETURN_INT, 1);  // X
    r.Start(0, "Wait", {2}, SE_RETURN_INT, 2);         // Y
    SE_ReturnIntCallback(r.later.at(1), 0);
    SE_ReturnIntCallback(r.later.at(0), 0);  // X first
    SE_RunAllTasks();
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].callerNumber, 1u);  // X was removed; the pass ended there
    EXPECT_EQ(r.Ready().size(), 1u);
    SE_RunAllTasks();
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[1].callerNumber, 2u);
    EXPECT_EQ(r.answers[1].n, 2);
}

TEST(Tasks, AHandlerReturningZeroStopsTheTaskForThisTurnOnly) {
    struct Case {
        const char* function;
        bool answered;  // the handler answers before it returns 0
    };
    for (Case c :
         {Case{"ZeroShort", true}, Case{"ZeroLong", true}, Case{"ZeroShort", false}, Case{"ZeroLong", false}}) {
        SCOPED_TRACE(std::string(c.function) + (c.answered ? " answered" : " unanswered"));
        StoryRunner r;
        ASSERT_TRUE(r.Load(kStory));
        r.handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
            if (c.answered) SE_TaskReturnInt(task, 7);
            return 0;
        };
        LogCapture log;
        r.Start(0, c.function, {}, SE_RETURN_INT, 1);
        EXPECT_TRUE(r.answers.empty());
        ASSERT_EQ((c.answered ? r.Ready() : r.Waiting()).size(), 1u);
        if (!c.answered) SE_ReturnIntCallback((r.Waiting()[0])->id, 7);
        SE_RunAllTasks();  // on after the call, which is not made again
        EXPECT_EQ(r.calls.size(), 1u);
        EXPECT_EQ(r.Only(), "8");
        EXPECT_FALSE(log.Contains("ILLEGAL")) << log.Text();
        EXPECT_TRUE(r.Ready().empty());
    }
}

TEST(Tasks, HandlerThatRemovesItsOwnTask) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        SE_RemoveTask(r.ctx(), task);
        return 1;  // and still non-zero
    };
    r.Start(0, "Now", {}, SE_RETURN_INT, 9);
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
    EXPECT_TRUE(r.Ready().empty());
}

TEST(Tasks, ATaskStartedByAHandlerKillsTheCaller) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    uint32_t outer = 0;
    r.handler = [&](SE_Task* task, int32_t call, int32_t, ScriptValue*) {
        if (call == 1) {  // "T_Later" of the outer task: start a task that kills it
            outer = task->id;
            r.Start(0, "Now", {}, SE_RETURN_INT, 2);
            return 1;
        }
        SE_KillTask(r.ctx(), outer);  // "T_Now" of the inner task
        SE_TaskReturnInt(task, 5);
        return 1;
    };
    r.Start(0, "Wait", {1}, SE_RETURN_INT, 1);
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].callerNumber, 1u);  // the outer task was removed
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].callerNumber, 2u);
    EXPECT_EQ(r.answers[1].n, 5);
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
    EXPECT_TRUE(r.Waiting().empty());
}

TEST(Tasks, AHandlerStartsATaskThatRunsAtOnceAtTheTail) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.handler = [&](SE_Task* task, int32_t call, int32_t, ScriptValue*) {
        if (call == 1) {
            r.Start(0, "Append", {7}, SE_RETURN_INT, 2);
            SE_TaskReturnInt(task, 1);
        } else {
            SE_TaskReturnInt(task, 0);
        }
        return 1;
    };
    r.Start(0, "Wait", {3}, SE_RETURN_INT, 1);
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].callerNumber, 2u);  // the started task ended first
    EXPECT_EQ(r.answers[0].n, 7);
    EXPECT_EQ(r.answers[1].callerNumber, 1u);
    EXPECT_EQ(r.answers[1].n, 4);
}

TEST(Tasks, ValueCallbackCopiesTheValue) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Wait", {0}, SE_RETURN_VALUE, 1);
    ScriptValue v{};
    SV_AssignInt(&v, 41);
    SE_CallerReturnValue(SE_OWN_MODULE, &v, r.later[0]);
    EXPECT_EQ(StoryRunner::Text(&v), "41");  // left as it was
    SE_RunAllTasks();
    EXPECT_EQ(r.Only(), "41");
}

TEST(Tasks, StackGrowthKeepsTheStackAnchoredAtItsEnd) {
    StoryRunner r;
    SystemState state{};
    state.debugFlags = 4;
    SE_Task* t = SE_AllocTask(r.ctx(), 64);
    ASSERT_NE(t, nullptr);
    t->sp = -2;
    SV_AssignInt(&t->stackEnd[-1], 1);
    SV_AssignInt(&t->stackEnd[-2], 2);
    g_SystemState = &state;
    LogCapture capture;
    EXPECT_EQ(SE_GrowTaskStack(r.ctx(), t, 100), 1);
    std::string log = capture.Take();
    g_SystemState = nullptr;
    EXPECT_EQ(t->stackSize, 128u);
    EXPECT_EQ(t->stackEnd[-1].i, 1);
    EXPECT_EQ(t->stackEnd[-2].i, 2);
    EXPECT_THAT(log, HasSubstr("Stack size of task " + std::to_string(t->id) + " increased to 128"));
    // At the limit nothing grows.
    t->position = 0x1234;
    capture.Take();
    SE_GrowTaskStack(r.ctx(), t, SE_STACK_LIMIT);
    EXPECT_EQ(t->stackSize, SE_STACK_LIMIT);
    EXPECT_EQ(SE_GrowTaskStack(r.ctx(), t, SE_STACK_LIMIT + 100), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("Stack overflow, program offset 00001234"));
    SE_RemoveTask(r.ctx(), t);
}

TEST(Tasks, StackNeedAndDumps) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Outer", {}, SE_RETURN_INT, 1);
    ASSERT_EQ(r.Waiting().size(), 1u);
    SE_Task* t = r.Waiting()[0];
    // Inner: need 8 + 5 slots from its ADDRESS to the end + 5; Outer: 8 + 2 + 5.
    EXPECT_EQ(SE_TaskStackNeed(t), 18u);

    LogCapture capture;
    SE_StackDump(t);
    SE_CallStackDump(t, r.ctx());
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("   -1: Int 0\n   -2: Adr 00000000\n   -3: Obj #0\n   -4: Int 0\n   -5: Adr "));
    EXPECT_THAT(log, HasSubstr("   -7: Int 0\n"));
    EXPECT_THAT(log, HasSubstr("#0[0].Outer()\n"));
    EXPECT_THAT(log, HasSubstr("#0[0].Inner()\n"));
}

TEST(Tasks, DeletingAnInstanceRemovesItsWaitingTasks) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(R"(
    end
.func "Make" need 4
    pushw 10
    new
    ret
.func "Kill" need 4
    getl 4
    delete
    c1
    ret
.object 10
.func "Sleep" need 4
    c0
    sys "T_Never"
    ret
)"));
    r.Start(0, "Make", {}, SE_RETURN_INT, 1);
    int32_t id = r.answers.at(0).n;
    ASSERT_LT(id, 0);
    r.Start(id, "Sleep", {}, SE_RETURN_INT, 2);
    r.Start(10, "Sleep", {}, SE_RETURN_INT, 3);
    ASSERT_EQ(r.Waiting().size(), 2u);
    r.Start(0, "Kill", {id}, SE_RETURN_INT, 4);
    ASSERT_EQ(r.answers.size(), 3u);
    EXPECT_EQ(r.answers[1].callerNumber, 2u);  // the instance's task, told 0
    EXPECT_EQ(r.answers[1].n, 0);
    EXPECT_EQ(r.answers[2].callerNumber, 4u);
    EXPECT_EQ(r.answers[2].n, 1);
    ASSERT_EQ(r.Waiting().size(), 1u);
    EXPECT_EQ(r.Waiting()[0]->object->id, 10);
}

TEST(Tasks, AHandlerMayFreeTheStoryOfItsOwnTask) {
    const char* kOld = R"(
.func "Old" need 8
    pushds "held"
    c0
    sys "T_Later"
    pop
    c0
    sys "T_Now"         ; frees the story, or starts Inner, which does
    ret
.func "Inner" need 8
    c0
    sys "T_Text"        ; frees the story
    ret
)";
    const char* kNew = R"(
.func "New" need 8
    c0
    sys "T_Zero"        ; stops for this turn
    ret
)";
    struct Case {
        bool nested;      // a task started by the handler frees the story
        int32_t returns;  // what the handler that frees the story returns
    };
    for (Case c : {Case{false, 1}, Case{false, 0}, Case{true, 1}, Case{true, 0}}) {
        SCOPED_TRACE(std::string(c.nested ? "nested" : "direct") + " returning " + std::to_string(c.returns));
        StoryRunner r;
        ASSERT_TRUE(r.Load(kOld));
        const std::vector<uint8_t> next = AssembleStory(kNew);
        r.handler = [&](SE_Task* task, int32_t call, int32_t, ScriptValue*) -> int32_t {
            switch (call) {
                case 1: r.later.push_back(task->id); return 1;
                case 3: SE_TaskReturnInt(task, 5); return 0;
                case 0:
                    if (c.nested) {
                        r.Start(0, "Inner", {}, SE_RETURN_INT, 3);
                        SE_TaskReturnInt(task, 0);  // its task is gone: the answer is dropped
                        return 1;
                    }
                    break;
                default: break;
            }
            SB_FreeLocation(r.ctx());
            EXPECT_EQ(LoadStoryImage(r.ctx(), next, "next"), 1);
            r.Start(0, "New", {}, SE_RETURN_INT, 2);
            return c.returns;
        };
        r.Start(0, "Old", {}, SE_RETURN_INT, 1);
        SE_ReturnIntCallback(r.later.at(0), 0);
        SE_RunAllTasks();
        // The old tasks went without a word; the new story's task waits for the next pass.
        EXPECT_TRUE(r.answers.empty());
        ASSERT_EQ(r.Ready().size(), 1u);
        SE_RunAllTasks();
        EXPECT_EQ(r.Only(), "5");
        EXPECT_EQ(r.answers[0].callerNumber, 2u);
        EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
        EXPECT_EQ(Qel_TableGetCount(r.ctx()->stringTable), 0u);
        EXPECT_EQ(r.ctx()->runDepth, 0);
    }
}

TEST(Tasks, FreeingTheStoryDropsTasksWithoutCallbacks) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kStory));
    r.Start(0, "Never", {}, SE_RETURN_INT, 1);
    uint32_t id = r.Waiting().at(0)->id;
    SB_FreeLocation(r.ctx());
    EXPECT_TRUE(r.answers.empty());
    EXPECT_EQ(SE_FindTask(r.ctx(), id), nullptr);
    SE_RunAllTasks();
    SE_CallerReturnInt(r.module(), 1, 1);  // no story: nothing is called
    EXPECT_TRUE(r.answers.empty());
    EXPECT_EQ(RunBookedBytes(r.ctx()), 0);
}

}  // namespace
