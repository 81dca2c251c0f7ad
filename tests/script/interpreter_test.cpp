#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/general.h"
#include "base/table.h"
#include "script/interpreter.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/modules.h"
#include "script/opcodes.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"

using testing::HasSubstr;

namespace {

// A story whose global function "F" is `body`; globals G0 = 4, G1 = "g".
std::string Story(const std::string& body) {
    return ".var \"G0\" int 4\n.var \"G1\" string \"g\"\n.func \"F\" need 16\n" + body + "\n";
}

// Runs "F" with two arguments (11, 22) and answers the value it returns.
std::string RunF(StoryRunner& r, const std::string& body) {
    if (!r.Load(Story(body))) return "<load failed>";
    r.Start(0, "F", {11, 22}, SE_RETURN_VALUE);
    return r.answers.size() == 1 ? r.answers[0].text : "<" + std::to_string(r.answers.size()) + " answers>";
}

struct ValueCase {
    const char* body;
    const char* result;
};

class InterpreterValues : public testing::TestWithParam<ValueCase> {};

TEST_P(InterpreterValues, ReturnsTheValue) {
    StoryRunner r;
    LogCapture capture;
    std::string got = RunF(r, GetParam().body);
    std::string log = capture.Take();
    EXPECT_EQ(got, GetParam().result) << GetParam().body << "\n" << log;
    EXPECT_TRUE(r.Ready().empty());
    EXPECT_EQ(log.find("ILLEGAL"), std::string::npos) << log;
}

// Frame of "F" at entry: slot 0 OBJECT, 1 ADDRESS, 2 count, 3 first argument.
const ValueCase kValueCases[] = {
    {"pushw -5\nret", "-5"},
    {"pushl 100000\nret", "100000"},
    {"pushl -2147483648\nret", "-2147483648"},
    {"c0\nret", "0"},
    {"c31\nret", "31"},
    {"pushs \"hi\"\nret", "'hi'"},
    {"pushds \"hi\"\nret", "\"hi\""},
    {"pushf 2.5\nret", "2.5"},
    {"pushf0\nret", "0"},
    {"c3\ndup\nadd\nret", "6"},
    {"c7\nc2\ndiv\nret", "3"},
    {"pushw -7\nc2\ndiv\nret", "-3"},
    {"pushw -7\nc2\nmod\nret", "-1"},
    {"c7\nc0\ndiv\nret", "0"},
    {"c1\nc2\nsub\nret", "-1"},
    {"c3\nc4\nmul\nret", "12"},
    {"pushl 65536\npushl 65536\nmul\nret", "0"},
    {"c6\nc3\nand\nret", "2"},
    {"c6\nc3\nor\nret", "7"},
    {"c6\nc3\neor\nret", "5"},
    {"c1\npushw 33\nlsh\nret", "2"},
    {"pushw -8\nc1\nrsh\nret", "-4"},
    {"c1\nc2\nlt\nret", "1"},
    {"c1\nc2\ngt\nret", "0"},
    {"c2\nc2\nle\nret", "1"},
    {"c1\nc2\nge\nret", "0"},
    {"c1\nc2\nne\nret", "1"},
    {"c2\nc2\neq\nret", "1"},
    {"c0\nc5\nlor\nret", "1"},
    {"c0\nc5\nland\nret", "0"},
    {"c5\nneg\nret", "-5"},
    {"pushf 2.5\nneg\nret", "-2.5"},
    {"c0\nnot\nret", "1"},
    {"c0\ninv\nret", "-1"},
    {"pushf 1.5\nc2\nmul\nret", "3"},
    {"pushf 1.5\nc2\nlt\nret", "1"},
    {"pushs \"ab\"\nc1\nadd\nret", "\"ab1\""},
    {"pushs \"ab\"\npushds \"cd\"\nadd\nret", "\"abcd\""},
    {"c5\npushs \"5\"\neq\nret", "5"},
    {"c1\nc2\nc3\npopn 2\nret", "1"},
    {"c1\nc2\npop\nret", "1"},
    // Arguments: slot 3 is argument 0.
    {"getl 4\nret", "11"},
    {"getl 5\nret", "22"},
    {"getl 4\ngetl 6\nsub\nret", "-11"},
    {"c9\nsetl 5\npop\ngetl 4\nret", "9"},
    // Globals.
    {"getg 0\nc1\nadd\nsetg 0\nret", "5"},
    {"getg 1\nret", "'g'"},
    // Arrays: element 0 is the value pushed last.
    {"c1\nc2\nc2\nmkarray\nret", "{2,1}"},
    {"c0\nmkarray\nret", "{}"},
    {"c0\nc7\nc8\nc2\nmkarray\nindex\nret", "8"},
    {"c0\nc0\nc2\nmkarray\nc9\nc1\ngetl 3\nstore\npop\nc1\ngetl 2\nindex\nsetl 2\npop\nret", "9"},
    {"c1\npushs \"abc\"\nindex\nret", "98"},
    {"c3\npushs \"abc\"\nindex\nret", "0"},
    // Tables: key slot 1, value slot 2.
    {"pushs \"k\"\nc5\npushs \"k\"\nc2\nmktable\nindex\nret", "5"},
    {"c0\nmktable\nret", "[]"},
    {"c0\nmktable\nc7\nc3\ngetl 3\nstore\npop\nc3\ngetl 2\nindex\nsetl 2\npop\nret", "7"},
    // Jumps.
    {"c0\njnf no\nc5\nret\nno: c7\nret", "5"},
    {"c1\njnf yes\nc5\nret\nyes: c7\nret", "7"},
    {"c0\njf yes\nc5\nret\nyes: c7\nret", "7"},
    {"jmp over\nc5\nret\nover: c6\nret", "6"},
    // Case match and indexed jump: the tested value, the cases in push order, their count.
    {"c2\nc1\nc2\nc3\nc3\ncase\njtab d0 d1 d2 d3\nd0: pushw 100\nret\nd1: pushw 101\nret\nd2: pushw 102\nret\n"
     "d3: pushw 103\nret",
     "102"},
    {"c9\nc1\nc2\nc2\ncase\njtab d0 d1 d2\nd0: pushw 100\nret\nd1: pushw 101\nret\nd2: pushw 102\nret", "100"},
    {"pushs \"b\"\npushs \"a\"\npushds \"b\"\nc2\ncase\njtab d0 d1 d2\nd0: pushw 100\nret\nd1: pushw 101\nret\n"
     "d2: pushw 102\nret",
     "102"},
    {"pushs \"5\"\nc5\nc1\ncase\nret", "0"},
    {"pushw -3\njtab d0\nd0: pushw 100\nret", "100"},
    {"self\nret", "0"},
    {"room 40\nc1\nret", "1"},
    // Runs of instructions the interpreter does in one step: the same results
    // for integers, for other values and when jumped into.
    {"getl 4\ngetl 6\nadd\nret", "33"},
    {"pushf 1.5\ngetl 1\ngetl 2\nadd\nsetl 2\npop\nret", "3"},
    {"pushs \"a\"\ngetl 1\ngetl 6\nadd\nsetl 2\npop\nret", "\"a11\""},
    {"pushf 2.5\ngetl 1\ngetl 6\nlt\njf no\nc1\nsetl 2\npop\nret\nno: c0\nsetl 2\npop\nret", "1"},
    {"pushs \"a\"\ngetl 1\ngetl 2\nlt\njf no\nc1\nsetl 2\npop\nret\nno: c2\nsetl 2\npop\nret", "1"},
    {"getl 4\npushw 30\nlt\njnf yes\nc1\nret\nyes: c2\nret", "2"},
    {"pushds \"x\"\ngetl 5\nc1\nadd\nsetl 2\npop\nret", "12"},
    {"c0\ngetl 5\ngetl 7\nsub\nsetl 2\npop\nret", "-11"},
    {"getl 4\npushw -3\nmul\nret", "-33"},
    {"c5\npushw 300\nadd\nret", "305"},
    {"pushf 0.5\nc2\nmul\nret", "1"},
    {"c3\nc2\ngt\njf no\npushw 7\nret\nno: pushw 8\nret", "7"},
    {"pushf 1.5\npushf 1.5\neq\njnf yes\npushw 7\nret\nyes: pushw 8\nret", "8"},
    {"getl 4\npushf 0.5\nmul\nret", "5.5"},
    {"getl 4\npushf 0.0\ndiv\nret", "0"},
    {"c0\npushf 1.5\npushf 2.0\nmul\nsetl 2\npop\nret", "3"},
    {"c0\npushs \"s\"\npushf 2.0\nadd\nsetl 2\npop\nret", "\"s2\""},
    {"c0\nc0\nmkarray\nsetl 2\npop\nret", "{}"},
    {"c7\nc8\nc2\nmkarray\nc1\ngetl 1\ngetl 3\nindex\nsetl 3\npop\npop\nret", "7"},
    {"c0\nc0\nc2\nmkarray\nc1\nc9\ngetl 2\ngetl 4\nstore\npop\npop\nc1\ngetl 2\nindex\nsetl 2\npop\nret", "9"},
    {"c0\nmktable\nsetg 0\npop\nc3\nc5\ngetl 2\ngetg 0\nstore\npop\ngetl 1\ngetg 0\nindex\nsetl 2\npop\nret", "5"},
    {"c0\nmktable\nsetg 0\npop\nc7\nc2\ngetg 0\nstore\npop\nc2\ngetg 0\nindex\nret", "7"},
    {"pushs \"abc\"\nc1\ngetl 2\nindex\nsetl 2\npop\nret", "98"},
    {"c0\njmp mid\ngetl 4\nmid: c2\nadd\nret", "2"},
    {"c0\nc0\nc2\nmkarray\nc9\nc1\ngetl 3\nstore\npop\nc1\ngetl 2\nindex\nsetl 2\npop\nret", "9"},
    // Counting loops: the step and the test are done together.
    {"c0\nc0\njmp t\nl: getl 2\ngetl 2\nadd\nsetl 3\npop\ngetl 1\nc1\nadd\nsetl 2\npop\n"
     "t: getl 1\npushw 10\nlt\njnf l\npop\nret",
     "45"},
    {"c0\nc0\njmp t\nl: getl 2\ngetl 2\nadd\nsetl 3\npop\ngetl 1\nc1\nadd\nsetl 2\npop\n"
     "t: getl 1\ngetl 7\nle\njnf l\npop\nret",
     "66"},
    {"c0\npushf0\njmp t\nl: getl 2\ngetl 2\nadd\nsetl 3\npop\ngetl 1\nc1\nadd\nsetl 2\npop\n"
     "t: getl 1\npushw 10\nlt\njnf l\npop\nret",
     "45"},
    // Counting down, and a step too wide for the loop's own entry.
    {"c0\npushw 10\njmp t\nl: getl 2\ngetl 2\nadd\nsetl 3\npop\ngetl 1\npushw -2\nadd\nsetl 2\npop\n"
     "t: getl 1\nc0\ngt\njnf l\npop\nret",
     "30"},
    {"c0\nc0\njmp t\nl: getl 2\ngetl 2\nadd\nsetl 3\npop\ngetl 1\npushw 40\nadd\nsetl 2\npop\n"
     "t: getl 1\npushw 200\nlt\njnf l\npop\nret",
     "400"},
    // A local and two float constants into a local; a zero divisor is the
    // operator's.
    {"c0\ngetl 5\npushf 0.5\nmul\npushf 1.25\nadd\nsetl 2\npop\nret", "6.75"},
    {"c0\ngetl 5\npushf 2.0\ndiv\npushf 0.5\nsub\nsetl 2\npop\nret", "5"},
    {"c0\ngetl 5\npushf 0.5\nmul\npushf 0.0\ndiv\nsetl 2\npop\nret", "0"},
};

INSTANTIATE_TEST_SUITE_P(Opcodes, InterpreterValues, testing::ValuesIn(kValueCases));

TEST(Interpreter, GlobalVariableIsWritten) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story("getg 0\nc1\nadd\nsetg 0\npop\nc0\nret")));
    r.Start(0, "F");
    r.Start(0, "F");
    EXPECT_EQ(r.Global(0), "6");
}

TEST(Interpreter, SuperIsLoggedAndGivesZero) {
    StoryRunner r;
    LogCapture capture;
    EXPECT_EQ(RunF(r, "super\nret"), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("SUPER instruction now illegal!"));
}

TEST(Interpreter, OperatorMessagesShowTheInstruction) {
    StoryRunner r;
    LogCapture capture;
    EXPECT_EQ(RunF(r, "c1\nc0\nmktable\nsub\nret"), "1");
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("illegal operands to SUB: 1, []"));
    EXPECT_THAT(log, HasSubstr("[000003]0.F"));
}

TEST(Interpreter, StringOffsetMessage) {
    StoryRunner r;
    LogCapture capture;
    EXPECT_EQ(RunF(r, "c3\npushs \"abc\"\nindex\nret"), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("String ('abc') invalid offset 3!"));
}

const char* kCalls = R"(
    end                 ; code position 0 stands for "no function"
.func "Fib" need 8
fib: room 8
    getl 4
    c2
    lt
    jf rec
    getl 4
    ret
rec: getl 4
    c1
    sub
    c1
    calla fib "Fib"
    getl 5
    c2
    sub
    c1
    call "Fib"
    add
    ret
.func "Sub3" need 4
sub3: getl 4
    getl 6
    sub
    ret
.func "Main" need 8
    c9
    c3
    c2
    calll "Sub3"
    ret
.func "Long" need 8
    c9
    c3
    c2
    callal sub3 "Sub3"
    ret
.func "Missing" need 8
    c9
    c1
    call "Nowhere"
    ret
.func "AtZero" need 8
    c9
    c1
    calla 0 "Nowhere"
    ret
)";

TEST(InterpreterCalls, RecursionByNameAndAddress) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kCalls));
    r.Start(0, "Fib", {20});
    EXPECT_EQ(r.Only(), "6765");
    EXPECT_TRUE(r.Ready().empty());
}

TEST(InterpreterCalls, ArgumentOrderAndTheLongForm) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kCalls));
    // Sub3(3, 9): argument 0 is the value pushed last.
    r.Start(0, "Main");
    r.Start(0, "Long");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, -6);
    EXPECT_EQ(r.answers[1].n, -6);
}

TEST(InterpreterCalls, UndefinedFunctionsGiveZero) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kCalls));
    LogCapture capture;
    r.Start(0, "Missing");
    r.Start(0, "AtZero");
    std::string log = capture.Take();
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(r.answers[1].n, 0);
    EXPECT_THAT(log, HasSubstr("Undefined function Nowhere called!"));
    EXPECT_THAT(log, HasSubstr("Undefined function Nowhere called at address 0!"));
}

TEST(InterpreterCalls, UndefinedFunctionsReleaseTheirArguments) {
    for (const char* call : {"call \"Nowhere\"", "calll \"Nowhere\"", "calla 0 \"Nowhere\"", "callal 0 \"Nowhere\""}) {
        SCOPED_TRACE(call);
        StoryRunner r;
        ASSERT_TRUE(
            r.Load(std::string(".func \"F\" need 8\n pushds \"a\"\n pushds \"b\"\n c2\n ") + call + "\n ret\n"));
        LogCapture log;
        r.Start(0, "F");
        EXPECT_EQ(r.Only(), "0");
        EXPECT_TRUE(log.Contains("Undefined function Nowhere called")) << log.Text();
        EXPECT_EQ(Qel_TableGetCount(r.ctx()->stringTable), 0u);
    }
}

// The id of the instance made first (the instance table's first key).
int32_t FirstInstance(SE_Context* ctx) {
    uint32_t key = Qel_TableNext(ctx->instanceTable, 0);
    return key ? -static_cast<int32_t>(key) - 1 : 0;
}

const char* kObjects = R"(
    end
.var "Seen" zero
.func "Main" need 8
    c5
    c1
    pushw 10
    method "Hit"
    ret
.func "CallWho" need 8
    c0
    getl 5
    method "Who"
    ret
.func "WhoAt" need 8
    c0
    getl 5
    methoda who10 "Who"
    ret
.func "Missing" need 8
    c0
    pushw 99
    method "Who"
    ret
.func "NoSuch" need 8
    c0
    pushw 12
    method "Hit"
    ret
.func "MakeAndHit" need 8
    pushw 11
    new
    c3
    c1
    getl 3
    method "Hit"
    setl 2
    pop
    ret
.func "SelfOfNew" need 8
    pushw 11
    new
    dup
    c0
    getl 2
    method "Who"
    setl 2
    pop
    eq
    ret
.func "NewBad" need 8
    pushw 77
    new
    ret
.object 10
.var2
.var "hp" int 100
.func "Hit" need 4
    getv 0
    getl 5
    sub
    setv 0
    ret
.func "Who" need 2
who10: self
    ret
.object 11 super 10
.var2
.var "extra" int 7
.func "Inherited" need 8
    c0
    pushw 10
    method "Who"
    ret
.func "Unrelated" need 8
    c0
    pushw 12
    method "Who"
    ret
.func "Suicide" need 8
    self
    delete
    c1
    setg 0
    ret
.func "Extra" need 2
    getv 1
    ret
.object 12
.func "Who" need 2
    self
    pushw 1000
    add
    ret
)";

TEST(InterpreterMethods, MethodByNameSwitchesToTheTarget) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kObjects));
    r.Start(0, "Main");
    EXPECT_EQ(r.Only(), "95");
    EXPECT_EQ(StoryRunner::Text(&static_cast<StoryObject*>(SB_FindObject(r.ctx(), 10))->variables[0]), "95");
}

TEST(InterpreterMethods, CurrentObjectRules) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kObjects));
    r.Start(11, "Inherited");  // 10 is 11's super class: the object stays 11
    r.Start(11, "Unrelated");  // 12 is unrelated: it becomes the object
    r.Start(0, "CallWho", {10});
    r.Start(0, "CallWho", {12});
    r.Start(0, "WhoAt", {11});  // at an address: always the target
    ASSERT_EQ(r.answers.size(), 5u);
    EXPECT_EQ(r.answers[0].n, 11);
    EXPECT_EQ(r.answers[1].n, 1012);
    EXPECT_EQ(r.answers[2].n, 10);
    EXPECT_EQ(r.answers[3].n, 1012);
    EXPECT_EQ(r.answers[4].n, 11);
}

TEST(InterpreterMethods, InstancesInheritVariablesAndMethods) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kObjects));
    r.Start(0, "MakeAndHit");
    EXPECT_EQ(r.Only(), "97");
    r.answers.clear();
    r.Start(0, "SelfOfNew");
    EXPECT_EQ(r.Only(), "1");
    r.answers.clear();
    // The instance made first: its own variable and an inherited method.
    int32_t id = FirstInstance(r.ctx());
    ASSERT_LT(id, 0);
    r.Start(id, "Extra");
    r.Start(id, "Who");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 7);
    EXPECT_EQ(r.answers[1].n, id);
}

TEST(InterpreterMethods, FailuresGiveZero) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kObjects));
    LogCapture capture;
    r.Start(0, "Missing");
    r.Start(0, "NoSuch");
    r.Start(0, "NewBad");
    std::string log = capture.Take();
    ASSERT_EQ(r.answers.size(), 3u);
    for (const RunAnswer& a : r.answers) EXPECT_EQ(a.n, 0);
    EXPECT_THAT(log, HasSubstr("Function Who in undefined object 99 called!"));
    EXPECT_THAT(log, HasSubstr("Undefined function 12(12).Hit called!"));
    EXPECT_THAT(log, HasSubstr("new operator: Invalid class ID 77"));
}

TEST(InterpreterMethods, DeletingTheRunningObjectEndsTheRun) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kObjects));
    r.Start(0, "MakeAndHit");
    r.answers.clear();
    int32_t id = FirstInstance(r.ctx());
    int64_t before = RunBookedBytes(r.ctx());
    r.Start(id, "Suicide");
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].n, 0);  // removed: the caller is told 0
    EXPECT_EQ(r.Global(0), "0");   // nothing after the delete ran
    EXPECT_EQ(SB_FindObject(r.ctx(), id), nullptr);
    EXPECT_TRUE(r.Ready().empty());
    EXPECT_LT(RunBookedBytes(r.ctx()), before);
}

const char* kLaunch = R"(
.var "ParentSaw" zero
.var "ChildRan" zero
.func "Fork" need 8
    launch
    dup
    jf child
    setg 0
    pop
    getg 1
    ret
child: c1
    setg 1
    pop
    pop
    pushw 9
    ret
)";

TEST(Interpreter, LaunchForksTheRunningFunction) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kLaunch));
    r.Start(0, "Fork", {5});
    // The child ran at once (its result goes nowhere), then the parent went on.
    EXPECT_EQ(r.Only(), "1");
    EXPECT_EQ(r.Global(1), "1");
    EXPECT_GT(std::stoi(r.Global(0)), 0);
    EXPECT_TRUE(r.Ready().empty());
    EXPECT_TRUE(r.Waiting().empty());
}

// Each task launches the next until the global counts to the argument.
const char* kChain = R"(
.var "Count" zero
.func "Chain" need 8
top: getg 0
    c1
    add
    setg 0
    getl 5
    lt
    jf done
    launch
    jf top              ; the child goes round again, the parent ends
done: c0
    ret
)";

TEST(Interpreter, ALongChainOfLaunchesDoesNotNestWithoutBound) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kChain));
    constexpr int32_t kLaunches = 100000;
    LogCapture log;
    r.Start(0, "Chain", {kLaunches});
    EXPECT_EQ(r.Global(0), std::to_string(SE_MAX_NESTED_RUNS));  // the first run went this deep
    EXPECT_TRUE(log.Contains("Launch: " + std::to_string(SE_MAX_NESTED_RUNS) + " runs nested, task ")) << log.Take();
    SE_RunAllTasks();  // the rest within one pass
    EXPECT_EQ(r.Global(0), std::to_string(kLaunches));
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
    EXPECT_EQ(r.ctx()->runDepth, 0);
}

// Malformed code: the task is removed with "*** ILLEGAL ***" and nothing else happens.
class InterpreterIllegal : public testing::TestWithParam<const char*> {};

TEST_P(InterpreterIllegal, RemovesTheTask) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story(GetParam())));
    LogCapture capture;
    EXPECT_EQ(r.Start(0, "F", {1}), 1);
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("*** ILLEGAL ***")) << GetParam();
    ASSERT_EQ(r.answers.size(), 1u) << GetParam();
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_TRUE(r.Ready().empty());
    EXPECT_TRUE(r.Waiting().empty());
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
}

const char* const kIllegalBodies[] = {
    ".word 0",
    ".word 96",
    ".word 0xFFFF",
    "getl 0",
    "getl 50",
    "setl 50",
    "getg 2",
    "setg -1",
    "getv 5",
    "jmp 99999",
    "c0\njf 99999",
    "c1\njnf 99999",
    "popn 10",
    "popn -1",
    "pop\npop\npop\npop\npop\npop",
    "c1\nc2\nc3\nc4\nret",
    "pushw 40\nmkarray",
    "c1\nc1\nc1\nmktable",
    "pushw 50\ncase",
    "pushw 1000\njtab t0\nt0: c0\nret",
    "pushs \"x\"\njtab t0\nt0: c0\nret",
    "pushw 40\nsys \"T_Now\"",
    "c0\ncalla 99999 \"X\"",
    "room -1",
    "c1",         // runs off the end of the code
    ".word 2 5",  // operand past the end
    "pushw 40\ncall \"F\"",
    "pushw 40\nc0\nmethod \"F\"",
    "pop\npop\npop\npop\nlaunch",
};

INSTANTIATE_TEST_SUITE_P(Malformed, InterpreterIllegal, testing::ValuesIn(kIllegalBodies));

TEST(Interpreter, IllegalShowsThePosition) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story("c1\nc2\n.word 0")));
    LogCapture capture;
    r.Start(0, "F");
    EXPECT_THAT(capture.Take(), HasSubstr("#0[000002]0.F *** ILLEGAL ***"));
}

TEST(Interpreter, PushesGrowTheStackAndOverflowEndsTheTask) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story("loop: c1\njmp loop")));
    LogCapture capture;
    r.Start(0, "F");
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("Stack overflow: in Object 0, program offset"));
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
}

#ifdef TREVAN_SANITIZE
// The fuzz targets bound every input by this budget: a loop that never
// grows the stack ends with its task, and the tasks after it run nothing.
TEST(Interpreter, StepBudgetEndsALoopingTask) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story("loop: c1\npop\njmp loop")));
    SE_SetStepBudget(1000);
    r.Start(0, "F");
    r.Start(0, "F");
    SE_SetStepBudget(-1);
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[0].n, 0);
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->taskTable), 0u);
}
#endif

// Found by fuzzing: a story that doubles a text every step asks for a
// gigabyte within thirty. Under the fuzz targets' text budget, in every build,
// the doubling that would pass it fails as out of memory, and the text stays
// as it was.
TEST(Interpreter, TextBudgetStopsATextThatDoublesEveryStep) {
    std::string body;
    for (int i = 0; i < 20; ++i) body += "getg 1\ngetg 1\nadd\nsetg 1\npop\n";
    body += "getg 1\nret";
    StoryRunner r;
    SE_SetTextBudget(1024);
    std::string text = RunF(r, body);
    SE_SetTextBudget(-1);
    EXPECT_EQ(text, '"' + std::string(512, 'g') + '"');
}

TEST(Interpreter, RoomGrowsTheStack) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(Story("room 100\nc0\nsys \"T_Never\"\nret")));
    r.Start(0, "F");
    ASSERT_EQ(r.Waiting().size(), 1u);
    SE_Task* t = r.Waiting()[0];
    EXPECT_GE(t->stackSize, 3u + 104u);
    EXPECT_EQ(t->stackSize % 32, 0u);
}

// ---- engine calls ----

const char* kSys = R"(
.func "Now" need 8
    c5
    pushw 6
    c2
    sys "T_Now"
    ret
.func "NoArgs" need 8
    c9
    c0
    sys "T_Now"
    add
    ret
.func "Long" need 8
    c5
    c1
    sysl "T_Now"
    ret
.func "Unknown" need 8
    c5
    c1
    sys "T_Nope"
    ret
.func "Text" need 8
    c0
    sys "T_Text"
    ret
.func "Bad32" need 8
    c0
    .word 54 0xC000
    ret
.func "Unregistered" need 8
    c0
    .word 54 0xA800
    ret
)";

// The code position of the first opcode `op` at or after `from`.
uint32_t FindOp(const SE_Context* ctx, uint16_t op, uint32_t from) {
    for (uint32_t p = from; p < ctx->codeWords; ++p)
        if (ctx->code[p] == op) return p;
    return 0;
}

TEST(InterpreterSys, LinksOnFirstRunAndTracesTheNumbersAfter) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kSys));
    r.handler = [](SE_Task* task, int32_t, int32_t argc, ScriptValue* args) {
        int32_t sum = 0;
        for (int32_t i = 0; i < argc; ++i) sum = sum * 10 + args[i].i;
        SE_TaskReturnInt(task, sum);
        return 1;
    };
    const StoryFunction* fn = SE_FindGlobalFunction(r.ctx(), "Now");
    uint32_t at = FindOp(r.ctx(), SE_OP_SYS, fn->position);
    EXPECT_EQ(r.ctx()->code[at + 1] & 0x8000, 0);
    r.Start(0, "Now");
    EXPECT_EQ(r.Only(), "65");  // argument 0 is 6 (pushed last), argument 1 is 5
    EXPECT_EQ(r.ctx()->code[at + 1], SE_LinkedCallWord(static_cast<uint32_t>(r.module()), 0));

    SystemState state{};
    state.debugFlags = 0x100;
    g_SystemState = &state;
    LogCapture capture;
    r.Start(0, "Now");
    std::string log = capture.Take();
    g_SystemState = nullptr;
    EXPECT_THAT(log, HasSubstr("SYSTEM: 2:0("));
    EXPECT_THAT(log, HasSubstr("SE_Run() Launching 0.Now"));
}

TEST(InterpreterSys, LongFormIsLinkedInTwoWords) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kSys));
    r.handler = [](SE_Task* task, int32_t, int32_t, ScriptValue* args) {
        SE_TaskReturnInt(task, args[0].i * 2);
        return 1;
    };
    uint32_t at = FindOp(r.ctx(), SE_OP_SYSL, SE_FindGlobalFunction(r.ctx(), "Long")->position);
    r.Start(0, "Long");
    r.Start(0, "Long");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[1].n, 10);
    EXPECT_EQ(r.ctx()->code[at + 1], 0xFFFF);
    EXPECT_EQ(r.ctx()->code[at + 2], SE_LinkedCallWord(static_cast<uint32_t>(r.module()), 0));
}

TEST(InterpreterSys, NoArgumentsAnswerInTheCountSlot) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kSys));
    r.handler = [](SE_Task* task, int32_t, int32_t argc, ScriptValue*) {
        SE_TaskReturnInt(task, 40 + argc);
        return 1;
    };
    r.Start(0, "NoArgs");
    EXPECT_EQ(r.Only(), "49");
}

TEST(InterpreterSys, UnknownAndRefusedCallsAnswerZero) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kSys));
    LogCapture capture;
    r.Start(0, "Unknown");
    r.Start(0, "Unknown");
    r.Start(0, "Bad32");
    r.Start(0, "Unregistered");
    std::string log = capture.Take();
    ASSERT_EQ(r.answers.size(), 4u);
    for (const RunAnswer& a : r.answers) EXPECT_EQ(a.n, 0);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_THAT(log, HasSubstr("Unknown System Call: T_Nope"));
    EXPECT_THAT(log, HasSubstr("Unknown System Call: uninitialized"));
    // An unknown name stays unlinked.
    uint32_t at = FindOp(r.ctx(), SE_OP_SYS, SE_FindGlobalFunction(r.ctx(), "Unknown")->position);
    EXPECT_EQ(r.ctx()->code[at + 1] & 0x8000, 0);
}

TEST(InterpreterSys, TextAnswerIsADynamicString) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kSys));
    r.handler = [](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        SE_TaskReturnString(task, "answer", g_SEContext);
        return 1;
    };
    r.Start(0, "Text", {}, SE_RETURN_VALUE);
    EXPECT_EQ(r.Only(), "\"answer\"");
}

}  // namespace
