#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/savegame.h"
#include "script/tables.h"
#include "script/tasks.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/story.h"

using testing::HasSubstr;

namespace {

// The story of the golden state: Main keeps a FLOAT local and calls Inner,
// which makes an instance of class 5 and waits in an engine call.
//   0 pushf 1.5 | 5 c0 | 6 callal | 11 setl 2 | 13 pop | 14 ret
//  15 pushw 5 | 17 new | 18 setg 1 | 20 pop | 21 c0 | 22 sysl | 25 ret
const char* kStory = R"(
.ctime 1000
.var "G" int 7
.var "H" int 0
.var "K" int 0
.func "Main" need 8
    pushf 1.5
    c0
    callal inner, "Inner"
    setl 2
    pop
    ret
.func "Inner" need 4
inner: pushw 5
    new
    setg 1
    pop
    c0
    sysl "T_Later"
    ret
.object 5
.var "V" int 3
)";

// The same story recompiled: two words more at the start of each function,
// and Inner asks for a larger stack. The patch record moves the old
// positions: 0.. by 2, 15.. (Inner) by 4.
std::string Recompiled(const char* patch, int32_t innerNeed = 40) {
    return std::string(".ctime 2000\n") + patch + R"(
.var "G" int 7
.var "H" int 0
.var "K" int 0
.func "Main" need 8
    c0
    pop
    pushf 1.5
    c0
    callal inner, "Inner"
    setl 2
    pop
    ret
.func "Inner" need )" +
           std::to_string(innerNeed) + R"(
inner: c0
    pop
    pushw 5
    new
    setg 1
    pop
    c0
    sysl "T_Later"
    ret
.object 5
.var "V" int 3
)";
}

// Expected bytes, written by hand: big-endian words, cookies, value records.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& C(const char* four) {
        b.insert(b.end(), four, four + 4);
        return *this;
    }
    Bytes& W(int64_t v) {
        auto u = static_cast<uint32_t>(v);
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(u >> s));
        return *this;
    }
    Bytes& Text(const char* s) {
        b.insert(b.end(), s, s + std::strlen(s) + 1);
        return *this;
    }
    Bytes& V(uint8_t tag, int64_t word) {
        b.push_back(tag);
        return W(word);
    }
    Bytes& T(uint8_t tag) {
        b.push_back(tag);
        return *this;
    }
    // "STOR", the header with the given next keys (instance, array, table,
    // task, string) and compile time, and the story name "test".
    Bytes& Header(uint32_t ctime, uint32_t inst, uint32_t arr, uint32_t tab, uint32_t task, uint32_t str) {
        C("STOR").W(3).W(0).W(4).W(0).W(0).W(ctime).W(inst).W(arr).W(tab).W(task).W(str).W(0);
        for (int i = 0; i < 6; ++i) W(0);
        return Text("test");
    }
};

std::vector<uint8_t> ReadGz(const char* name) {
    std::vector<uint8_t> out;
    QelFile* f = Qel_fcopen(name, "rb", 0);
    EXPECT_NE(f, nullptr);
    if (!f) return out;
    uint8_t chunk[4096];
    for (size_t got; (got = Qel_fread(f, 1, sizeof chunk, chunk)) > 0;) out.insert(out.end(), chunk, chunk + got);
    Qel_fclose(f);
    return out;
}

void WriteGz(const char* name, const std::vector<uint8_t>& bytes) {
    QelFile* f = Qel_fcopen(name, "wb", 0);
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
        EXPECT_EQ(Qel_fwriteBlock(f, 1, bytes.size(), bytes.data()), bytes.size());
    }
    Qel_fclose(f);
}

// The section of the current context, decompressed.
std::vector<uint8_t> Save(const char* name = "save.gz") {
    QelFile* f = Qel_fcopen(name, "wb", 0);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(SB_SaveGame(f), 1);
    Qel_fclose(f);
    return ReadGz(name);
}

int Load(const char* name = "save.gz") {
    QelFile* f = Qel_fcopen(name, "rb", 0);
    EXPECT_NE(f, nullptr);
    int r = SB_LoadGame(f);
    Qel_fclose(f);
    return r;
}

int LoadBytes(const std::vector<uint8_t>& bytes) {
    WriteGz("section.gz", bytes);
    return Load("section.gz");
}

// A context of its own, current while it lives; the one before comes back after.
class FreshContext {
public:
    FreshContext() : prev_(g_SEContext), ctx_(SE_Create()) {}
    ~FreshContext() {
        g_SEContext = ctx_;
        SB_FreeLocation(ctx_);
        DestroyContext(ctx_);
        g_SEContext = prev_;
    }
    FreshContext(const FreshContext&) = delete;
    FreshContext& operator=(const FreshContext&) = delete;
    SE_Context* get() const { return ctx_; }
    SE_Context* operator->() const { return ctx_; }

private:
    SE_Context* prev_;
    SE_Context* ctx_;
};

std::string Show(const ScriptValue* v) { return StoryRunner::Text(v); }

uint32_t Count(QelTable* t) { return Qel_TableGetCount(t); }

std::vector<SE_Task*> Tasks(const SE_TaskList& list) {
    std::vector<SE_Task*> out;
    for (SE_ListNode* n = list.head.succ; SE_ListIsTask(n); n = n->succ) out.push_back(SE_ListTask(n));
    return out;
}

class SaveGameTest : public testing::Test {
protected:
    void SetUp() override {
        game.WriteBytes("L/test.obj", AssembleStory(kStory));
        ASSERT_TRUE(runner.Load(kStory));
    }

    // The golden state: two dynamic strings, an untouched and a filled array,
    // a table with an integer and a string key, one instance, and the task
    // waiting in Inner with ADDRESS, OBJECT and FLOAT values on its stack.
    void BuildGolden() {
        SE_Context* ctx = runner.ctx();
        ASSERT_EQ(runner.Start(0, "Main"), 1);
        ASSERT_EQ(runner.Waiting().size(), 1u);
        StoryInstance* inst = SB_FindObject(ctx, -3);
        ASSERT_NE(inst, nullptr);
        ScriptValue s1{}, s2{}, untouched{}, filled{}, table{}, obj{}, four{}, tenth{};
        SV_AssignString(&s1, "ab");
        SV_AssignString(&s2, "xyz");
        SV_ArrayAlloc(&untouched, 3);
        SV_ArrayAlloc(&filled, 2);
        SV_ArrayWriteInt(&filled, 0, 1);
        SV_AssignFloat(&tenth, 0.1);
        SV_ArrayWrite(&filled, 1, &tenth);
        SV_TableAlloc(&table);
        SV_AssignInt(&four, 4);
        SV_TableAdd(&table, &four, &filled);
        SV_AssignObject(&obj, inst);
        SV_TableAdd(&table, &s2, &obj);
        ScriptValue* globals = ctx->objects[0].variables;
        SV_Copy(&s1, &globals[0]);
        SV_Move(&untouched, &globals[1]);
        SV_Move(&table, &globals[2]);
        SV_Copy(&s1, &inst->variables[0]);
        for (ScriptValue* v : {&s1, &s2, &filled, &obj, &tenth}) SV_Release(v);
        ASSERT_EQ(s1.tag, 0);
    }

    TempGameFolder game;
    StoryRunner runner;
};

std::vector<uint8_t> GoldenBytes() {
    Bytes e;
    e.Header(1000, 2, 3, 2, 2, 3);
    e.C("STRG").W(2).W(2).W(2).Text("ab").W(3).W(3).Text("xyz");
    e.C("ARRA").W(2).W(2).W(-3).W(3).W(3).W(2).W(2);
    e.C("TABL").W(1).W(2);
    e.C("INST").W(1).W(-3);
    e.C("ARRA").W(2).W(2).W(3).V(1, 1).V(10, 6553);
    e.C("TABL").W(1).W(2).W(1).W(2).V(1, 4).V(3, 3).V(9, 3).V(7, -3);
    e.C("OBJE").W(2).W(0).W(3).V(9, 2).V(3, 2).V(4, 2).W(5).W(1).V(1, 3);
    e.C("INST").W(1).W(-3).W(5).W(1).V(9, 2);
    e.C("TASK").W(1).C("task");
    e.W(2).W(25).W(2).W(0).W(0).W(0).W(-8).W(32).W(0).W(0).W(1).W(2);
    e.V(1, 0).V(7, 0).V(13, 11).V(1, 0).V(10, 98304).V(7, -1).V(13, 0).V(1, 0);
    return e.b;
}

TEST_F(SaveGameTest, GoldenStateSavesToTheExpectedBytes) {
    BuildGolden();
    EXPECT_EQ(Save(), GoldenBytes());
}

TEST_F(SaveGameTest, LoadIntoAFreshContextSavesTheSameBytesAndTheTaskRunsOn) {
    BuildGolden();
    std::vector<uint8_t> first = Save();
    FreshContext fresh;
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(Save("again.gz"), first);

    SE_Context* ctx = fresh.get();
    EXPECT_EQ(ctx->flags & SE_FLAG_OTHER_COMPILE, 0u);
    ScriptValue* globals = ctx->objects[0].variables;
    EXPECT_EQ(Show(&globals[0]), "\"ab\"");
    EXPECT_EQ(globals[1].array->SAR_Size, -3);
    EXPECT_EQ(globals[1].array->elements, nullptr);  // still untouched: no storage
    EXPECT_EQ(Show(&globals[2]), "[4:{1,0.0999908},\"xyz\":<object -3>]");
    StoryInstance* inst = SB_FindObject(ctx, -3);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->refCount, 1u);
    EXPECT_EQ(globals[0].dstring, inst->variables[0].dstring);
    EXPECT_EQ(globals[0].dstring->refCount, 2);

    std::vector<SE_Task*> waiting = Tasks(ctx->waiting);
    ASSERT_EQ(waiting.size(), 1u);
    SE_Task* task = waiting[0];
    EXPECT_EQ(task->position, 25u);
    EXPECT_EQ(task->stackEnd[task->sp + 2].u, 11u);
    // Answered, Inner returns into Main, which returns and ends the task.
    SE_TaskReturnIntEx(task, ctx, 9);
    SE_RunAllTasks();
    EXPECT_EQ(Count(ctx->taskTable), 0u);
    EXPECT_EQ(Count(ctx->instanceTable), 1u);  // resumed after its "new"
}

TEST_F(SaveGameTest, RecompiledStoryMovesPositionsThroughThePatchTable) {
    BuildGolden();
    Save();
    game.WriteBytes("L/test.obj", AssembleStory(Recompiled(".patch 1000 0:2 15:19").c_str()));
    FreshContext fresh;
    LogCapture capture;
    ASSERT_EQ(Load(), 1);
    EXPECT_THAT(capture.Take(),
                HasSubstr("Compile Time of save game 1000 different from story file compile time 2000!"));
    SE_Context* ctx = fresh.get();
    EXPECT_EQ(ctx->flags & SE_FLAG_OTHER_COMPILE, SE_FLAG_OTHER_COMPILE);
    std::vector<SE_Task*> waiting = Tasks(ctx->waiting);
    ASSERT_EQ(waiting.size(), 1u);
    SE_Task* task = waiting[0];
    EXPECT_EQ(task->position, 29u);                  // after the long engine call at 26
    EXPECT_EQ(task->stackEnd[task->sp + 2].u, 13u);  // after the long call at 8
    EXPECT_EQ(task->stackEnd[task->sp + 6].u, 0u);   // the end of the task stays 0
    EXPECT_EQ(task->stackSize, 64u);                 // grown to Inner's larger need
    SE_TaskReturnIntEx(task, ctx, 9);
    SE_RunAllTasks();
    EXPECT_EQ(Count(ctx->taskTable), 0u);
}

TEST_F(SaveGameTest, FailedRelinkingOrUnknownCompileTimeFailsTheLoadAndLeavesNothing) {
    BuildGolden();
    Save();
    struct Case {
        std::string story;
        const char* message;
    };
    const Case cases[] = {
        {Recompiled(".patch 1000 0:2 15:0"), "Error patching loaded save game!"},   // PC's pair leads to 0
        {Recompiled(".patch 1000 0:0 15:19"), "Error patching loaded save game!"},  // the return address's
        {Recompiled(".patch 1000 0:2 15:20"), "Error patching loaded save game!"},  // not after an engine call
        {Recompiled(".patch 999 0:2 15:19"), "Unknown compile time - no entry in patch table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story.substr(0, 40));
        game.WriteBytes("L/test.obj", AssembleStory(c.story));
        FreshContext fresh;
        SE_Context* ctx = fresh.get();
        LogCapture capture;
        EXPECT_EQ(Load(), 0);
        EXPECT_THAT(capture.Take(), HasSubstr(c.message));
        for (QelTable* t : {ctx->stringTable, ctx->arrayTable, ctx->tableTable, ctx->instanceTable, ctx->taskTable})
            EXPECT_EQ(Count(t), 0u);
        EXPECT_EQ(Show(&ctx->objects[0].variables[0]), "7");  // the story's own value again
        EXPECT_TRUE(SE_ListIsEmpty(&ctx->waiting));
    }
}

// A section cut anywhere fails, and whatever it made before the cut is gone:
// the context holds the bare story (or nothing, before the story is named).
TEST_F(SaveGameTest, SectionCutShortAnywhereFailsWithoutLeavingRecords) {
    BuildGolden();
    std::vector<uint8_t> bytes = Save();
    int64_t bare;
    {
        FreshContext reference;
        ASSERT_EQ(SB_LoadLocation(reference.get(), "test"), 1);
        bare = RunBookedBytes(reference.get());
    }
    LogCapture capture;
    for (size_t n = 0; n < bytes.size(); ++n) {
        SCOPED_TRACE(n);
        FreshContext fresh;
        SE_Context* ctx = fresh.get();
        EXPECT_EQ(LoadBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n))), 0);
        EXPECT_EQ(RunBookedBytes(ctx), ctx->storyName ? bare : 0);
        for (QelTable* t : {ctx->stringTable, ctx->arrayTable, ctx->tableTable, ctx->instanceTable, ctx->taskTable})
            EXPECT_EQ(Count(t), 0u);
    }
    capture.Take();
}

// Value records one by one: FLOAT as 16.16 fixed point (saturated, NaN 0),
// OBJECT null as -1, QUAD as its low word.
TEST_F(SaveGameTest, ValueRecordsOfPlainValues) {
    struct Case {
        double f;
        int32_t word;
        double back;
    };
    const Case floats[] = {
        {1.5, 98304, 1.5},
        {0.1, 6553, 6553 / 65536.0},
        {-2.25, -147456, -2.25},
        {1e10, INT32_MAX, INT32_MAX / 65536.0},
        {-1e10, INT32_MIN, -32768.0},
        {NAN, 0, 0.0},
    };
    for (const Case& c : floats) {
        SCOPED_TRACE(c.f);
        ScriptValue v{}, back{};
        SV_AssignFloat(&v, c.f);
        QelFile* f = Qel_fcopen("value.gz", "wb", 0);
        EXPECT_EQ(SB_SaveStoryValue(f, &v), 1);
        Qel_fclose(f);
        EXPECT_EQ(ReadGz("value.gz"), Bytes().V(10, c.word).b);
        f = Qel_fcopen("value.gz", "rb", 0);
        EXPECT_EQ(SB_LoadStoryValue(runner.ctx(), &back, f), 1);
        Qel_fclose(f);
        EXPECT_EQ(back.tag, VARTYPE_FLOAT);
        EXPECT_EQ(back.f, c.back);
    }
    ScriptValue null{}, quad{}, back{};
    SV_AssignObject(&null, nullptr);
    SV_AssignQuad(&quad, -5);
    QelFile* f = Qel_fcopen("value.gz", "wb", 0);
    SB_SaveStoryValue(f, &null);
    SB_SaveStoryValue(f, &quad);
    Qel_fclose(f);
    EXPECT_EQ(ReadGz("value.gz"), Bytes().V(7, -1).V(14, -5).b);
    f = Qel_fcopen("value.gz", "rb", 0);
    EXPECT_EQ(SB_LoadStoryValue(runner.ctx(), &back, f), 1);
    EXPECT_EQ(Show(&back), "<object null>");
    EXPECT_EQ(SB_LoadStoryValue(runner.ctx(), &back, f), 1);
    EXPECT_EQ(Show(&back), "-5");
    EXPECT_EQ(SB_LoadStoryValue(runner.ctx(), &back, f), 0);  // the stream has ended
    Qel_fclose(f);
    SV_Release(&back);
}

// Sections made by hand for the story of these tests (objects 0 and 5).
Bytes Section(uint32_t strings = 0) {
    Bytes e;
    e.Header(1000, 1, 1, 1, 1, strings);
    return e;
}

TEST_F(SaveGameTest, MalformedSectionsFailInsteadOfReadingOnOutOfStep) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    Bytes version;
    version.C("STOR").W(2);
    for (int i = 0; i < 17; ++i) version.W(0);
    Bytes unknownArray = Section();
    unknownArray.C("STRG").W(0).C("ARRA").W(1).W(2).W(1).W(1).C("TABL").W(0).C("INST").W(0);
    unknownArray.C("ARRA").W(1).W(7).V(1, 5);
    Bytes unknownTable = Section();
    unknownTable.C("STRG").W(0).C("ARRA").W(0).C("TABL").W(1).W(2).C("INST").W(0).C("ARRA").W(0);
    unknownTable.C("TABL").W(1).W(3).W(0).W(1).V(1, 1).V(1, 2);
    Bytes cookie = Section();
    cookie.C("STRG").W(0).C("ARRX");
    Bytes deepStack = Section();
    deepStack.C("STRG").W(0).C("ARRA").W(0).C("TABL").W(0).C("INST").W(0).C("ARRA").W(0).C("TABL").W(0);
    deepStack.C("OBJE").W(0).C("INST").W(0).C("TASK").W(1).C("task");
    deepStack.W(2).W(0).W(0).W(0).W(0).W(-1).W(-33).W(32).W(0).W(0).W(1).W(1);
    Bytes unknownTag = Section();
    unknownTag.C("STRG").W(0).C("ARRA").W(1).W(2).W(1).W(1).C("TABL").W(0).C("INST").W(0);
    unknownTag.C("ARRA").W(1).W(2).T(42);
    Bytes badClass = Section();
    badClass.C("STRG").W(0).C("ARRA").W(0).C("TABL").W(0).C("INST").W(1).W(-2).C("ARRA").W(0).C("TABL").W(0);
    badClass.C("OBJE").W(0).C("INST").W(1).W(-2).W(9).W(0);
    Bytes missingContents = Section();
    missingContents.C("STRG").W(0).C("ARRA").W(0).C("TABL").W(0).C("INST").W(1).W(-2).C("ARRA").W(0);
    missingContents.C("TABL").W(0).C("OBJE").W(0).C("INST").W(0);
    // Found by fuzzing the save section: array heads that claim gigabytes
    // of storage between them, taken before any element is read.
    Bytes storage = Section();
    storage.C("STRG").W(0).C("ARRA").W(2).W(1).W(0).W(1).W(2).W(0).W(1 << 24);
    const Case cases[] = {
        {"version", version.b, "SB_LoadGame(): unknown savegame version 2"},
        {"array storage", storage.b, "SB_LoadGame: array storage out of range 16777216"},
        {"unknown array", unknownArray.b, "SB_LoadGame() Unable to find array id=7"},
        {"unknown table", unknownTable.b, "SB_LoadGame() Unable to find array id=3"},
        {"cookie", cookie.b, "SB_LoadGame: Wrong ARRA cookie"},
        {"deep stack", deepStack.b, "SB_LoadGame: stack deeper than its size in task 2"},
        {"unknown tag", unknownTag.b, "SB_LoadGame: unknown value type 42"},
        {"class", badClass.b, "SB_LoadGame: Can't find class 9 of instance -2"},
        {"no instance contents", missingContents.b, "SB_LoadGame: no variables saved for instance -2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FreshContext fresh;
        LogCapture capture;
        EXPECT_EQ(LoadBytes(c.bytes), 0);
        EXPECT_THAT(capture.Take(), HasSubstr(c.message));
        for (QelTable* t : {fresh->stringTable, fresh->arrayTable, fresh->instanceTable, fresh->taskTable})
            EXPECT_EQ(Count(t), 0u);
    }
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when unread.
int64_t StatusBytes(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
    return -1;
}

// Found by a 110-byte save: an array head that declares four million cells
// and then ends. The load gives up, and taking back what it made must not
// cost more than the storage the head was granted.
TEST_F(SaveGameTest, AnArrayHeadAtTheEndOfTheFileCostsNoMoreThanItsStorage) {
    constexpr int32_t kCells = 4194303;
    Bytes e = Section();
    e.C("STRG").W(0).C("ARRA").W(1).W(2).W(kCells).W(kCells);
    FreshContext fresh;
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts from now
    const int64_t before = StatusBytes("VmRSS");
    if (before < 0 || StatusBytes("VmHWM") > before + (int64_t{1} << 20)) GTEST_SKIP() << "no peak to read";
    LogCapture capture;
    EXPECT_EQ(LoadBytes(e.b), 0);
    const int64_t grown = StatusBytes("VmHWM") - before;
    EXPECT_LT(grown, int64_t{kCells} * 16 + (int64_t{48} << 20)) << "bytes at the peak over the array's storage";
    EXPECT_EQ(Count(fresh->arrayTable), 0u);
}

// TASK values: counted when they name a task read before; elsewhere they
// read back unresolved, keeping the id. A task in an unknown state is read
// and dropped, and a string only it held goes with the load's leftovers.
TEST_F(SaveGameTest, TaskValuesStatesAndUnreferencedStrings) {
    Bytes e = Section(5);
    e.C("STRG").W(2).W(2).W(4).Text("kept").W(3).W(4).Text("gone");
    e.C("ARRA").W(0).C("TABL").W(0).C("INST").W(0).C("ARRA").W(0).C("TABL").W(0);
    e.C("OBJE").W(2).W(0).W(3).V(5, 2).V(9, 2).V(1, 0).W(5).W(1).V(1, 3);
    e.C("INST").W(0).C("TASK").W(3);
    e.C("task").W(2).W(0).W(0).W(0).W(0).W(-1).W(-1).W(32).W(0).W(0).W(1).W(2).V(1, 0);
    e.C("task").W(4).W(0).W(0).W(0).W(0).W(-1).W(-1).W(32).W(0).W(0).W(1).W(7).V(9, 3);
    e.C("task").W(5).W(0).W(0).W(0).W(0).W(0).W(-2).W(32).W(0).W(0).W(1).W(1).V(5, 2).V(1, 0);
    FreshContext fresh;
    SE_Context* ctx = fresh.get();
    LogCapture capture;
    int loaded = LoadBytes(e.b);
    std::string log = capture.Take();
    ASSERT_EQ(loaded, 1) << log;
    EXPECT_THAT(log, HasSubstr("SB_LoadGame: task in unknown state 7, ignoring!"));
    ScriptValue* globals = ctx->objects[0].variables;
    EXPECT_EQ(globals[0].tag, 18);  // named task 2 before it was read
    EXPECT_EQ(globals[0].u, 2u);
    EXPECT_EQ(Show(&globals[1]), "\"kept\"");
    EXPECT_EQ(Count(ctx->stringTable), 1u);  // "gone" was only on the dropped task
    SE_Task* two = SE_FindTask(ctx, 2);
    SE_Task* five = SE_FindTask(ctx, 5);
    ASSERT_TRUE(two && five);
    EXPECT_EQ(SE_FindTask(ctx, 4), nullptr);
    EXPECT_EQ(two->refCount, 1);
    EXPECT_EQ(five->stackEnd[five->sp].task, two);  // the top cell
    EXPECT_EQ(five->object, &ctx->objects[0]);
    EXPECT_EQ(Tasks(ctx->waiting), std::vector<SE_Task*>{two});
    EXPECT_EQ(Tasks(ctx->ready), std::vector<SE_Task*>{five});
    SV_Release(&globals[0]);  // the unresolved cell is an invalid tag now
}

// The story changed since the save: a new object is skipped, values beyond
// a class's variables are read and dropped.
TEST_F(SaveGameTest, NewObjectsAreSkippedAndSurplusVariablesDropped) {
    game.WriteBytes("L/test.obj", AssembleStory(R"(
.ctime 1000
.var "G" int 7
.object 4
.var "W" int 1
.object 5
.var "V" int 3
)"));
    Bytes e = Section(3);
    e.C("STRG").W(1).W(2).W(1).Text("s");
    e.C("ARRA").W(0).C("TABL").W(0).C("INST").W(1).W(-2).C("ARRA").W(0).C("TABL").W(0);
    e.C("OBJE").W(2).W(0).W(2).V(1, 10).V(9, 2).W(5).W(2).V(1, 20).V(9, 2);
    e.C("INST").W(1).W(-2).W(5).W(3).V(1, 30).V(9, 2).V(7, -2);
    e.C("TASK").W(0);
    FreshContext fresh;
    SE_Context* ctx = fresh.get();
    LogCapture capture;
    ASSERT_EQ(LoadBytes(e.b), 1);
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("Num static objects in savegame (2) different from num objects in current story (3)"));
    EXPECT_THAT(log, HasSubstr("skipping object 4 in current story, must be new!"));
    EXPECT_EQ(Show(&ctx->objects[0].variables[0]), "10");
    EXPECT_EQ(Show(&ctx->objects[1].variables[0]), "1");  // object 4 keeps its initial value
    EXPECT_EQ(Show(&ctx->objects[2].variables[0]), "20");
    StoryInstance* inst = SB_FindObject(ctx, -2);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(Show(&inst->variables[0]), "30");
    EXPECT_EQ(Count(ctx->stringTable), 0u);  // held only by dropped values
    EXPECT_EQ(inst->refCount, 0u);           // the dropped OBJECT let go of it
}

// An id the running program already uses (a string held outside the script
// state) does not take that string's place: the loaded one gets a fresh key.
TEST_F(SaveGameTest, SavedIdTakenByAHeldStringGetsAFreshKey) {
    BuildGolden();
    Save();
    FreshContext fresh;
    ScriptValue held{};
    SV_AssignString(&held, "held");
    ASSERT_EQ(held.dstring->id, 2u);
    ASSERT_EQ(Load(), 1);
    SE_Context* ctx = fresh.get();
    EXPECT_EQ(Show(&held), "\"held\"");
    EXPECT_EQ(reinterpret_cast<SV_DString*>(Qel_TableGet(ctx->stringTable, 2)), held.dstring);
    const ScriptValue& g = ctx->objects[0].variables[0];
    EXPECT_EQ(Show(&g), "\"ab\"");
    EXPECT_NE(g.dstring->id, 2u);
    EXPECT_EQ(reinterpret_cast<SV_DString*>(Qel_TableGet(ctx->stringTable, g.dstring->id)), g.dstring);
    SV_Release(&held);
}

TEST_F(SaveGameTest, LoadOverrideReadsAnotherStory) {
    BuildGolden();
    Save();
    game.WriteBytes("L/other.obj", AssembleStory(kStory));
    SB_SetLoadGameStory("other");
    FreshContext fresh;
    EXPECT_EQ(Load(), 1);
    SB_SetLoadGameStory(nullptr);
    EXPECT_STREQ(fresh->storyName, "other");
}

// A table's display text with its entries in sorted order: a table that grew
// while it was read back may list them in another order.
std::string Entries(ScriptValue* table) {
    std::vector<std::string> entries;
    for (ScriptValue* k = SV_TableNextKey(nullptr, table); k; k = SV_TableNextKey(k, table))
        entries.push_back(Show(k) + ":" + Show(SV_TableEntryData(k)));
    std::sort(entries.begin(), entries.end());
    std::string all;
    for (const std::string& e : entries) all += e + ";";
    return all;
}

TEST_F(SaveGameTest, LargerStateReadsBackValueByValue) {
    SE_Context* ctx = runner.ctx();
    ScriptValue* globals = ctx->objects[0].variables;
    ScriptValue shared{}, table{}, list{}, v{}, key{};
    SV_AssignString(&shared, "shared text");
    SV_TableAlloc(&table);
    SV_ArrayAlloc(&list, 20);
    for (int32_t i = 0; i < 60; ++i) {
        SV_AssignInt(&key, i * 7);
        if (i % 3 == 0) SV_AssignString(&v, ("text " + std::to_string(i)).c_str());
        else if (i % 3 == 1) SV_AssignFloat(&v, i / 4.0);
        else SV_Copy(&shared, &v);
        SV_TableAdd(&table, &key, &v);
        if (i % 5 == 0) {
            SV_AssignString(&key, ("key" + std::to_string(i)).c_str());
            SV_TableAdd(&table, &key, &list);
        }
    }
    for (int32_t i = 0; i < 20; ++i) {
        SV_ArrayAlloc(&v, i % 4);
        if (i % 2) SV_ArrayWrite(&v, 0, &shared);
        SV_ArrayWrite(&list, i, &v);
    }
    SV_AssignQuad(&v, -12345);
    SV_ArrayWrite(&list, 3, &v);
    SV_Move(&table, &globals[0]);
    SV_Move(&list, &globals[1]);
    SV_Copy(&shared, &globals[2]);
    for (ScriptValue* c : {&shared, &v, &key}) SV_Release(c);
    std::string entries = Entries(&globals[0]);
    std::string array = Show(&globals[1]);
    LogCapture capture;
    std::vector<uint8_t> first = Save();
    capture.Take();

    FreshContext fresh;
    ASSERT_EQ(Load(), 1);
    ScriptValue* loaded = fresh->objects[0].variables;
    EXPECT_EQ(Entries(&loaded[0]), entries);
    EXPECT_EQ(Show(&loaded[1]), array);
    // The global, 20 table data, 9 arrays (element 3's array gave way to the QUAD).
    EXPECT_EQ(loaded[2].dstring->refCount, 1 + 20 + 9);
    EXPECT_EQ(Count(fresh->stringTable), 1u + 20u + 12u);  // shared, data texts, keys
    EXPECT_EQ(Count(fresh->arrayTable), 1u + 19u);
}

TEST_F(SaveGameTest, SaveReportsRecordsWithoutReferencesAndIdsWithoutRecords) {
    ScriptValue orphan{};
    SV_AssignString(&orphan, "orphan");
    orphan.dstring->refCount = 0;
    LogCapture capture;
    Save();
    EXPECT_THAT(capture.Take(), HasSubstr("SB_SaveGame() Saving string with RefCount 0 <orphan>"));
    {
        FreshContext fresh;
        ASSERT_EQ(Load(), 1);
        EXPECT_EQ(Count(fresh->stringTable), 0u);  // nothing refers to it: dropped
    }
    orphan.dstring->refCount = 1;
    SV_Release(&orphan);

    Qel_TableSet(runner.ctx()->arrayTable, 99, 0);
    QelFile* f = Qel_fcopen("broken.gz", "wb", 0);
    capture.Take();
    EXPECT_EQ(SB_SaveGame(f), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("SB_SaveGame() Can't find array id=99!"));
    Qel_fclose(f);
    Qel_TableRemove(runner.ctx()->arrayTable, 99);
}

}  // namespace
