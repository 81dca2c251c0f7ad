#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/memory.h"
#include "script/arrays.h"
#include "script/lookup.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/syscall_runner.h"
#include "support/script_run.h"
#include "support/signing.h"

using testing::HasSubstr;
using testing::Not;

namespace {

using B = SysCallRunner;

// Arguments are pushed last first, then their count: argument 0 lies nearest the top.
const char* kStory = R"(
    end
.var "Log" zero
.func "KillSelf" need 8
    c0
    sys "SE_GetTaskID"
    c1
    sys "SE_KillTask"
    pop
    pushw 77
    setg 0
    ret
.func "Kill" need 8
    getl 4
    c1
    sys "SE_KillTask"
    ret
.func "Doc" need 8
    c0
    sys "SE_AutoDoc"
    pushw 5
    setg 0
    ret
.func "RunHello" need 12
    c2
    c4
    pushs "Hello"
    pushw 101
    c4
    sys "SE_Run"
    pushw 1000
    add
    ret
.func "RunWho" need 12
    pushs "Who"
    getl 5
    c2
    sys "SE_Run"
    ret
.func "RunMissingObject" need 12
    pushs "Hello"
    pushw 555
    c2
    sys "SE_Run"
    pushw 1000
    add
    ret
.func "RunMissingFunction" need 12
    pushs "Nope"
    pushw 101
    c2
    sys "SE_Run"
    pushw 1000
    add
    ret
.func "RunOneArgument" need 12
    pushw 101
    c1
    sys "SE_Run"
    pushw 1000
    add
    ret
.func "NewInstance" need 4
    pushw 101
    new
    ret
.func "Callers" need 8
    c0
    sys "SE_CallerNumber"
    pushw 100
    mul
    c0
    sys "SE_CallerEngine"
    add
    ret

.object 100
.func "Hello" need 8
    getl 4
    c10
    mul
    getl 6
    add
    ret
.func "Who" need 4
    self
    ret
.func "Park" need 4
    c0
    sys "T_Never"
    ret

.object 101 super 100
.symb

.object 200
.func "Outer" need 12
    pushs "Who"
    pushw 100
    c2
    sys "SE_Run"
    pop
    self
    ret
)";

class BuiltinTaskStory : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(r.Load(kStory)); }
    // Starts a function and hands back its integer result.
    int32_t Result(int32_t object, const char* name, std::vector<int32_t> args = {}) {
        r.answers.clear();
        EXPECT_EQ(r.Start(object, name, args), 1) << name;
        EXPECT_EQ(r.answers.size(), 1u) << name;
        return r.answers.empty() ? -99999 : r.answers[0].n;
    }
    StoryRunner r;
};

TEST_F(BuiltinTaskStory, KillTaskOfItselfEndsTheTaskAtOnce) {
    EXPECT_EQ(Result(0, "KillSelf"), 0);  // the caller is told 0 for a removed task
    EXPECT_EQ(r.Global(0), "0");          // nothing after the call ran
    EXPECT_TRUE(r.Ready().empty());
    EXPECT_TRUE(r.Waiting().empty());
}

TEST_F(BuiltinTaskStory, AutoDocWaitsUntilKilled) {
    r.Start(0, "Doc");
    ASSERT_EQ(r.Waiting().size(), 1u);
    uint32_t id = r.Waiting()[0]->id;
    r.answers.clear();
    r.Start(0, "Kill", {int32_t(id)});
    EXPECT_TRUE(r.Waiting().empty());
    ASSERT_EQ(r.answers.size(), 2u);  // the killed task told 0, then the killer's own 0
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].n, 0);
    EXPECT_EQ(r.Global(0), "0");
}

TEST_F(BuiltinTaskStory, RunCallsAFunctionInsideTheTask) {
    EXPECT_EQ(Result(0, "RunHello"), 1042);
    // A function only the super class has runs with the object as self.
    EXPECT_EQ(Result(0, "RunWho", {101}), 101);
    int32_t instance = Result(0, "NewInstance");
    ASSERT_LT(instance, 0);
    EXPECT_EQ(Result(0, "RunWho", {instance}), instance);
    // The caller goes on with its own object once the function returned.
    EXPECT_EQ(Result(200, "Outer"), 200);
}

TEST_F(BuiltinTaskStory, RunFailuresLogAndAnswerZero) {
    struct Case {
        const char* function;
        std::string log;
    };
    for (const Case& c :
         {Case{"RunMissingObject", " Function Hello in undefined object 555 called!\n"},
          Case{"RunMissingFunction", " Undefined function 101(101).Nope called!\n"},
          Case{"RunOneArgument", " SE_Run() needs an object and a function name, got 1 arguments!\n"}}) {
        LogCapture capture;
        EXPECT_EQ(Result(0, c.function), 1000) << c.function;  // the task went on after the call
        EXPECT_THAT(capture.Take(), HasSubstr(c.log));
    }
}

TEST_F(BuiltinTaskStory, CallerNumberAndEngine) {
    r.answers.clear();
    r.Start(0, "Callers", {}, 1, 9);
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].n, 9 * 100 + r.module());
}

TEST_F(BuiltinTaskStory, ObjectsAndClasses) {
    int32_t instance = Result(0, "NewInstance");
    B b(r.ctx());
    ScriptValue& classValue = b.Hold(ScriptValue{});
    SV_AssignObject(&classValue, SB_FindObject(r.ctx(), 100));
    struct Case {
        const char* name;
        std::vector<ScriptValue> args;
        std::string answer;
    };
    std::vector<Case> cases = {
        {"SE_ObjectExists", {B::Int(100)}, "1"},
        {"SE_ObjectExists", {B::Int(instance)}, "1"},
        {"SE_ObjectExists", {B::Int(555)}, "0"},
        {"SE_ObjectFunctionExists", {B::Int(100), B::Text("Hello")}, "1"},
        {"SE_ObjectFunctionExists", {B::Int(100), B::Text("Nope")}, "0"},
        {"SE_ObjectFunctionExists", {B::Int(101), B::Text("Hello")}, "0"},  // no functions of its own
        {"SE_GetClass", {B::Int(instance)}, "101"},
        {"SE_GetClass", {B::Int(100)}, "100"},
        {"SE_GetClass", {B::Int(555)}, "0"},
        {"SE_GetClass", {B::Ref(classValue)}, "100"},
        {"SE_IsClass", {B::Int(instance), B::Int(100)}, "1"},
        {"SE_IsClass", {B::Int(instance), B::Int(101)}, "1"},
        {"SE_IsClass", {B::Int(100), B::Int(101)}, "0"},
        {"SE_IsClass", {B::Int(instance), B::Ref(classValue)}, "1"},
        {"SE_IsClass", {B::Int(200), B::Ref(classValue)}, "0"},
        {"SE_IsClass", {B::Int(555), B::Int(100)}, "0"},
        {"SE_GetSuperClass", {B::Int(instance)}, "100"},
        {"SE_GetSuperClass", {B::Int(100)}, "0"},
        {"SE_GetSuperClass", {B::Int(555)}, "0"},
        {"SE_GetExprType", {B::Int(1)}, "1"},
        {"SE_GetExprType", {B::Text("t")}, "9"},
        {"SE_GetExprType", {B::Float(1.5)}, "10"},
        {"SE_GetExprType", {B::IntArray({1})}, "3"},
        {"SE_GetExprType", {}, "0"},
    };
    for (Case& c : cases) EXPECT_EQ(b.Call(c.name, std::move(c.args)), c.answer) << c.name;
}

TEST_F(BuiltinTaskStory, TaskListNamesObjectsClassesAndFunctions) {
    r.Start(101, "Park");  // waits in a function that object 101 inherits from 100
    B b(r.ctx());          // its task is ready and has no object
    EXPECT_EQ(b.Call("SE_TaskList"), "{{0,101},{0,100},{\"unknown object\",'Park'}}");
}

TEST(BuiltinTasks, TaskIdsAndPositions) {
    B b;
    SE_Task* task = b.task();
    task->position = 1234;
    task->callerNumber = 17;
    task->callerModule = 4;
    std::string id = std::to_string(task->id);
    EXPECT_EQ(b.Call("SE_GetTaskID"), id);
    EXPECT_EQ(b.Call("SE_TaskExists", {B::Int(int32_t(task->id))}), "1");
    EXPECT_EQ(b.Call("SE_TaskExists", {B::Int(999)}), "0");
    EXPECT_EQ(b.Call("SE_GetTaskPC", {B::Int(int32_t(task->id))}), "1234");
    EXPECT_EQ(b.Call("SE_GetTaskPC", {B::Int(999)}), "0");
    EXPECT_EQ(b.Call("SE_CallerNumber"), "17");
    EXPECT_EQ(b.Call("SE_CallerEngine"), "4");
    // Killing another (missing) task answers 0; killing itself answers nothing.
    EXPECT_EQ(b.Call("SE_KillTask", {B::Int(999)}), "0");
    EXPECT_EQ(b.lastResult, 1);
    EXPECT_EQ(b.Call("SE_KillTask", {B::Int(int32_t(task->id))}), "<no answer>");
    EXPECT_EQ(b.lastResult, 0);
    EXPECT_FALSE(b.taskAlive());
}

TEST(BuiltinTasks, ExportPrivateInfo) {
    B b;
    struct Case {
        int32_t id;
        std::string answer;
    };
    for (const Case& c :
         {Case{402, "5000"}, Case{65536 + 402, "5000"}, Case{401, "1"}, Case{65536 + 401, "1"}, Case{403, "0"}}) {
        LogCapture capture;
        EXPECT_EQ(b.Call("SE_ExportPrivateInfo", {B::Int(c.id)}), c.answer) << c.id;
        EXPECT_EQ(capture.Take(), "");
    }
    LogCapture capture;
    EXPECT_EQ(b.Call("SE_ExportPrivateInfo", {B::Int(999)}), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("SB_ExportPrivateInfo(): Wrong EXP_ID: 03e7\n"));
}

TEST_F(BuiltinTaskStory, ExportCountsObjectsAndInstances) {
    Result(0, "NewInstance");
    B b(r.ctx());
    EXPECT_EQ(b.Call("SE_ExportPrivateInfo", {B::Int(403)}), std::to_string(r.ctx()->objectCount + 1));
}

TEST(BuiltinTasks, MemoryStatistics) {
    B b;
    ScriptValue& stats = b.Hold(b.Answer("SE_MemStatistics"));
    ASSERT_EQ(SV_ArraySize(&stats), 20);
    for (int32_t c = 0; c < 20; ++c) {
        ScriptValue* row = SV_ArrayRead(&stats, c);
        ASSERT_EQ(SV_ArraySize(row), 5);
        EXPECT_EQ(B::Display(*SV_ArrayRead(row, 0)), "\"\"");
        for (int32_t k = 1; k < 5; ++k) EXPECT_GE(SV_ArrayRead(row, k)->i, 0);
    }
    // The task and its stack are booked: category 15 holds at least one block.
    EXPECT_GE(SV_ArrayRead(SV_ArrayRead(&stats, 15), 3)->i, 1);
    EXPECT_NE(b.Call("SE_AllocatedMem"), "0");
    EXPECT_EQ(b.Call("SE_AllocatedMemGeneral"), std::to_string(int32_t(Int_GetTag0Mem())));
}

TEST(BuiltinTasks, DumpsAndDebugLines) {
    B b;
    LogCapture capture;
    EXPECT_EQ(b.Call("SE_StackDump"), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("Int 0"));  // the call's own count slot
    capture.Take();
    EXPECT_EQ(b.Call("SE_StackDump", {B::Text("not a task")}), "0");
    EXPECT_EQ(b.Call("SE_CallStackDump", {B::Int(999)}), "0");
    EXPECT_EQ(capture.Take(), "");
    capture.Take();
    EXPECT_EQ(b.Call("SE_StackDump", {B::Int(int32_t(b.task()->id))}), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("Int 1"));
    capture.Take();
    EXPECT_EQ(b.Call("SE_ShowCallStack", {B::Text("here")}), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("here " + std::string(SE_PositionText()) + "\n"));
    capture.Take();
    EXPECT_EQ(b.Call("SE_DumpValues"), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("No dump, because DEBUG disabled\n"));
}

TEST(BuiltinTasks, ToIntGetNumAndMaxOpCount) {
    B b;
    struct Case {
        ScriptValue (*value)();
        std::string answer;
    };
    for (const Case& c :
         {Case{[] { return B::Float(-2.7); }, "-2"}, Case{[] { return B::Float(2.9); }, "2"},
          Case{[] { return B::Int(7); }, "0"}, Case{[] { return B::Text(" 12z"); }, "12"},
          Case{[] { return B::Float(1e20); }, "2147483647"}, Case{[] { return B::Float(-1e20); }, "-2147483648"},
          Case{[] { return B::Float(std::nan("")); }, "0"}, Case{[] { return B::IntArray({4}); }, "0"}})
        EXPECT_EQ(b.Call("SE_ToInt", {c.value()}), c.answer);
    struct Flags {
        uint32_t flags;
        std::string answer;
    };
    for (const Flags& f : {Flags{0, "1"}, Flags{2, "0"}, Flags{6, "1"}, Flags{4, "1"}, Flags{3, "0"}}) {
        b.ctx()->flags = f.flags;
        EXPECT_EQ(b.Call("SE_GetNum"), f.answer) << f.flags;
    }
    EXPECT_EQ(b.Call("SE_SetMaxOpCount", {B::Int(100)}), "0");
}

TEST(BuiltinTasks, VerifyDataChecksTheSignature) {
    B b;
    const TestSigningKey& key = SharedSigningKey();
    std::vector<int32_t> blob(key.Blob().begin(), key.Blob().end());
    std::string data = "mission 12 unlocked";
    std::string sig = TestBase64(key.Sign(data));
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(data.c_str()), B::Text(sig.c_str()), B::IntArray(blob)}),
              "\"" + TestMd5Base64(data) + "\"");
    LogCapture capture;
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text("other"), B::Text(sig.c_str()), B::IntArray(blob)}), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("signature verification FAILED"));
    // The arguments are checked before anything is tried.
    capture.Take();
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(data.c_str()), B::Text(sig.c_str())}), "0");
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(""), B::Text(sig.c_str()), B::IntArray(blob)}), "0");
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(data.c_str()), B::Int(1), B::IntArray(blob)}), "0");
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(data.c_str()), B::Text(sig.c_str()), B::IntArray({})}), "0");
    EXPECT_EQ(b.Call("SE_VerifyData", {B::Text(data.c_str()), B::Text(sig.c_str()), B::Int(4)}), "0");
    EXPECT_EQ(capture.Take(), "");
}

}  // namespace
