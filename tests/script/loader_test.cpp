#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/table.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/opcodes.h"
#include "script/story_writer.h"
#include "script/textpages.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

const char* kSample = R"(
.ctime 1234
.var "g1" int 42
.var "g2" string "hello"
.func "Main" need 2
    pushw 5
    ret
.func "Helper"
    c1
    ret
.object 10
.var "a" int 1
.var "b" float 2.5
.func "Foo" need 1
    self
    ret
.func "Bar"
    c0
    ret
.object 11 super 10 third 99
.var "c" string "sub"
.func "Foo"
    c2
    ret
.func "Baz"
    c3
    ret
.object 5
.func "Zed"
    end
.patch 0 10:12 20:25
.patch 1000 5:6
)";

class LoaderTest : public testing::Test {
protected:
    int Load(const std::string& text) {
        LogCapture capture;
        int r = LoadStoryImage(ctx.get(), AssembleStory(text));
        log = capture.Take();
        return r;
    }
    int LoadBytes(std::vector<uint8_t> image) {
        LogCapture capture;
        int r = LoadStoryImage(ctx.get(), std::move(image));
        log = capture.Take();
        return r;
    }
    const StoryFunction* Own(StoryObject* o, const char* name) {
        for (uint32_t i = 0; i < o->functionCount; ++i)
            if (FunctionName(ctx.get(), o->functions[i]) == name) return &o->functions[i];
        return nullptr;
    }
    std::vector<std::string> OwnNames(StoryObject* o) {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < o->functionCount; ++i) out.push_back(FunctionName(ctx.get(), o->functions[i]));
        return out;
    }
    ScriptTestContext ctx;
    std::string log;
};

TEST_F(LoaderTest, SampleStoryLoadsWithItsObjectsFunctionsAndVariables) {
    ASSERT_EQ(Load(kSample), 1) << log;
    EXPECT_STREQ(ctx->storyName, "test");
    EXPECT_EQ(ctx->compileTime, 1234u);
    ASSERT_EQ(ctx->objectCount, 4u);
    const int32_t ids[] = {0, 5, 10, 11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ctx->objects[i].id, ids[i]);
        EXPECT_EQ(ctx->objects[i].classObject, &ctx->objects[i]);
    }

    StoryObject* global = &ctx->objects[0];
    EXPECT_EQ(global->super, nullptr);
    EXPECT_EQ(global->superId, -1);
    EXPECT_EQ(OwnNames(global), (std::vector<std::string>{"Helper", "Main"}));
    ASSERT_EQ(global->variableCount, 2u);
    EXPECT_EQ(global->variables[0].tag, VARTYPE_INTEGER);
    EXPECT_EQ(global->variables[0].i, 42);
    EXPECT_STREQ(SV_GetString(&global->variables[1]), "hello");
    const StoryFunction* main = Own(global, "Main");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->stackNeed, 2u);
    EXPECT_EQ(ctx->code[main->position], SE_OP_PUSH16);
    EXPECT_EQ(ctx->code[main->position + 1], 5);

    StoryObject* o10 = FindStoryObject(ctx.get(), 10);
    StoryObject* o11 = FindStoryObject(ctx.get(), 11);
    StoryObject* o5 = FindStoryObject(ctx.get(), 5);
    ASSERT_TRUE(o10 && o11 && o5);
    EXPECT_EQ(o11->super, o10);
    EXPECT_EQ(o11->thirdWord, 99u);
    EXPECT_EQ(o10->variableCount, 2u);
    ASSERT_EQ(o11->variableCount, 3u);
    EXPECT_EQ(o11->firstOwnVariable, 2u);
    EXPECT_EQ(o11->variables[0].i, 1);
    EXPECT_EQ(o11->variables[1].f, 2.5);
    EXPECT_STREQ(SV_GetString(&o11->variables[2]), "sub");
    EXPECT_EQ(o5->variableCount, 0u);
    EXPECT_EQ(o5->variables, nullptr);

    // The subclass's Foo overrides its super's; Bar is inherited.
    ASSERT_EQ(o11->mergedCount, 3u);
    for (uint32_t i = 1; i < o11->mergedCount; ++i) EXPECT_LT(o11->merged[i - 1].name, o11->merged[i].name);
    for (uint32_t i = 0; i < o11->mergedCount; ++i) {
        std::string name = FunctionName(ctx.get(), o11->merged[i]);
        if (name == "Foo") EXPECT_EQ(o11->merged[i].position, Own(o11, "Foo")->position);
        else if (name == "Bar") EXPECT_EQ(o11->merged[i].position, Own(o10, "Bar")->position);
        else EXPECT_EQ(name, "Baz");
    }
    EXPECT_NE(Own(o10, "Foo")->position, Own(o11, "Foo")->position);

    // Patch records, a key of 0 stored under 1.
    EXPECT_NE(Qel_TableGet(ctx->patchTable, 1), 0u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 0, 15), 17u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 0, 22), 27u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 0, 5), 5u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 1000, 7), 8u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 77, 7), 7u);
}

TEST_F(LoaderTest, FreeLocationGivesBackEverything) {
    ASSERT_EQ(Load(kSample), 1) << log;
    EXPECT_GT(ctx->memBytes[SE_MEMCAT_OBJECTS], 0);
    EXPECT_GT(ctx->memBytes[SE_MEMCAT_CODE], 0);
    EXPECT_GT(ctx->memBytes[SE_MEMCAT_PATCH], 0);
    EXPECT_GT(ctx->memBytes[SE_MEMCAT_STORY_NAME], 0);
    LogCapture capture;
    SB_FreeLocation(ctx.get());
    std::string out = capture.Take();
    EXPECT_NE(out.find("No dump, because DEBUG disabled\n"), std::string::npos);
    EXPECT_EQ(ctx->storyName, nullptr);
    EXPECT_EQ(ctx->objects, nullptr);
    EXPECT_EQ(ctx->code, nullptr);
    EXPECT_EQ(Qel_TableGetCount(ctx->patchTable), 0u);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
    EXPECT_EQ(BookedBlocks(ctx.get()), 0);
    for (int c = 0; c < SE_MEM_CATEGORIES; ++c) EXPECT_EQ(ctx->memBytes[c], 0) << c;
}

TEST_F(LoaderTest, JunkBeforeTheStoryAtEvenOffsetsOnly) {
    std::string six = std::string(".junk 6\n") + kSample;
    EXPECT_EQ(Load(six), 1) << log;
    SB_FreeLocation(ctx.get());
    std::string five = std::string(".junk 5\n") + kSample;
    EXPECT_EQ(Load(five), 0);
    EXPECT_NE(log.find("SB_LoadLocation: test is not a valid story file\n"), std::string::npos) << log;
    EXPECT_NE(log.find("File not found.\n"), std::string::npos);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
}

TEST_F(LoaderTest, PlainAndScrambledStringsReadTheSame) {
    for (const char* mode : {".plain\n", ".scramble\n"}) {
        ASSERT_EQ(Load(std::string(mode) + kSample), 1) << log;
        EXPECT_STREQ(SV_GetString(&ctx->objects[0].variables[1]), "hello") << mode;
        EXPECT_EQ(OwnNames(&ctx->objects[0]), (std::vector<std::string>{"Helper", "Main"})) << mode;
        SB_FreeLocation(ctx.get());
    }
}

TEST_F(LoaderTest, BytesAfterTheStringChunkBelongToTheBlock) {
    StoryWriter w;
    uint32_t tail = static_cast<uint32_t>(w.strings.size());
    std::vector<uint8_t> image;
    ASSERT_TRUE(SW_Build(w, image, nullptr));
    const char more[] = "OBJ3more";  // no terminating NUL: the loader adds one
    image.insert(image.end(), more, more + 8);
    ASSERT_EQ(LoadBytes(image), 1) << log;
    EXPECT_EQ(ctx->staticSize, tail + 8);
    EXPECT_STREQ(SB_String(ctx.get(), tail), "OBJ3more");
    EXPECT_EQ(ctx->objectCount, 1u);
}

TEST_F(LoaderTest, AStoryWithoutObjectsStillHasTheGlobalObject) {
    ASSERT_EQ(Load(".noobjects\n.var \"x\" int 3\n"), 1) << log;
    ASSERT_EQ(ctx->objectCount, 1u);
    EXPECT_EQ(ctx->objects[0].id, 0);
    EXPECT_EQ(ctx->objects[0].variables[0].i, 3);
    EXPECT_EQ(SB_FindObject(ctx.get(), 0), &ctx->objects[0]);
}

TEST_F(LoaderTest, VariablesAreInheritedOnlyWithAVariableChunk) {
    ASSERT_EQ(Load(R"(
.object 1
.var "a" int 7
.var "b" int 8
.object 2 super 1
.object 3 super 1
.var2
.object 4 super 3
.var "d" int 9
)"),
              1)
        << log;
    EXPECT_EQ(FindStoryObject(ctx.get(), 2)->variableCount, 0u);
    StoryObject* o3 = FindStoryObject(ctx.get(), 3);
    ASSERT_EQ(o3->variableCount, 2u);
    EXPECT_EQ(o3->variables[1].i, 8);
    StoryObject* o4 = FindStoryObject(ctx.get(), 4);
    ASSERT_EQ(o4->variableCount, 3u);
    EXPECT_EQ(o4->variables[0].i, 7);
    EXPECT_EQ(o4->variables[2].i, 9);
}

TEST_F(LoaderTest, ASuperWithoutVariablesDoesNotMakeASubclassWritePastItsOwn) {
    // 2 has no variable chunk, so 3 counts from 0 and has one variable, while
    // 1 further up has three.
    ASSERT_EQ(Load(R"(
.object 1
.var "a" int 1
.var "b" int 2
.var "c" int 3
.object 2 super 1
.object 3 super 2
.var "d" int 4
)"),
              1)
        << log;
    StoryObject* o3 = FindStoryObject(ctx.get(), 3);
    EXPECT_EQ(o3->variableCount, 1u);
    EXPECT_EQ(o3->variables[0].tag, VARTYPE_INTEGER);
}

TEST_F(LoaderTest, SupersAreLinkedWhateverTheirIdOrder) {
    ASSERT_EQ(Load(R"(
.object 50
.func "Up"
    ret
.object 7 super 50
.func "Down"
    ret
.object 8 super 99
)"),
              1)
        << log;
    StoryObject* o7 = FindStoryObject(ctx.get(), 7);
    EXPECT_EQ(o7->super, FindStoryObject(ctx.get(), 50));
    EXPECT_EQ(o7->mergedCount, 2u);
    StoryObject* o8 = FindStoryObject(ctx.get(), 8);
    EXPECT_EQ(o8->super, nullptr);  // an unknown super id: no super
}

// A well-formed start: one code word and its function table.
std::vector<uint8_t> Start(uint32_t words = 1) {
    std::vector<uint8_t> b;
    SW_PutTag(b, STORY_TAG_CODE);
    SW_PutU32(b, words);
    for (uint32_t i = 0; i < words; ++i) SW_PutU16(b, SE_OP_RET);
    return b;
}

void Strings(std::vector<uint8_t>& b, const char* block = "\0Main\0", size_t n = 6) {
    SW_PutTag(b, STORY_TAG_PLAIN_STRINGS);
    SW_PutBytes(b, block, n);
}

void Entry(std::vector<uint8_t>& b, uint32_t id, uint32_t super) {
    SW_PutU32(b, id);
    SW_PutU32(b, super);
    SW_PutU32(b, 0);
}

struct Malformed {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

const Malformed kMalformed[] = {
    {"code count past the end",
     [] {
         std::vector<uint8_t> b;
         SW_PutTag(b, STORY_TAG_CODE);
         SW_PutU32(b, 1000);
         SW_PutU16(b, 1);
         return b;
     }},
    {"code count cut short",
     [] {
         std::vector<uint8_t> b;
         SW_PutTag(b, STORY_TAG_CODE);
         SW_PutU16(b, 0);
         return b;
     }},
    {"second code chunk",
     [] {
         auto b = Start();
         auto again = Start();
         b.insert(b.end(), again.begin(), again.end());
         return b;
     }},
    {"function count past the end",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_FUNCTIONS);
         SW_PutU32(b, 5);
         SW_PutFunction(b, StoryFunction{0, 1, 0});
         return b;
     }},
    {"variable count past the end",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_VARIABLES);
         SW_PutU32(b, 0x10000000);
         SW_PutVarDesc(b, StoryVarDesc{1, 1, 1, 0});
         return b;
     }},
    {"function outside the code",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_FUNCTIONS);
         SW_PutU32(b, 1);
         SW_PutFunction(b, StoryFunction{1, 1, 0});
         Strings(b);
         return b;
     }},
    {"stack need beyond the limit",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_FUNCTIONS);
         SW_PutU32(b, 1);
         SW_PutFunction(b, StoryFunction{0, 1, 0xFFFFFFE0});
         Strings(b);
         return b;
     }},
    {"object count past the end",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 3);
         Entry(b, 1, 0xffffffff);
         return b;
     }},
    {"fewer objects than counted before the strings",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 2);
         Entry(b, 1, 0xffffffff);
         Strings(b, "\0a long enough string block\0", 28);
         return b;
     }},
    {"object id 0",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 1);
         Entry(b, 0, 0xffffffff);
         return b;
     }},
    {"negative object id",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 1);
         Entry(b, 0xfffffffe, 0xffffffff);
         return b;
     }},
    {"two objects with one id",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 2);
         Entry(b, 4, 0xffffffff);
         Entry(b, 4, 0xffffffff);
         return b;
     }},
    {"super is the object itself",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 1);
         Entry(b, 4, 4);
         return b;
     }},
    {"super is a later object",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 2);
         Entry(b, 4, 5);
         Entry(b, 5, 4);
         return b;
     }},
    {"second function chunk in an object",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 1);
         Entry(b, 4, 0xffffffff);
         SW_PutTag(b, STORY_TAG_FUNCTIONS);
         SW_PutU32(b, 0);
         SW_PutTag(b, STORY_TAG_FUNCTIONS);
         SW_PutU32(b, 0);
         return b;
     }},
    {"second object chunk",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 0);
         SW_PutTag(b, STORY_TAG_OBJECTS);
         SW_PutU32(b, 0);
         return b;
     }},
    {"patch pairs past the end",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_PATCHES);
         SW_PutU32(b, 1);
         SW_PutU32(b, 7);
         SW_PutU32(b, 100);
         SW_PutU32(b, 1);
         SW_PutU32(b, 2);
         return b;
     }},
    {"patch count past the end",
     [] {
         auto b = Start();
         SW_PutTag(b, STORY_TAG_PATCHES);
         SW_PutU32(b, 9);
         return b;
     }},
};

class MalformedStoryTest : public testing::TestWithParam<Malformed> {
protected:
    ScriptTestContext ctx;
};

TEST_P(MalformedStoryTest, IsRefusedAndLeavesNothingBehind) {
    std::vector<uint8_t> image = GetParam().make();
    LogCapture capture;
    int r = LoadStoryImage(ctx.get(), image);
    std::string log = capture.Take();
    EXPECT_EQ(r, 0);
    EXPECT_NE(log.find("SB_LoadLocation: test is not a valid story file ("), std::string::npos) << log;
    EXPECT_EQ(ctx->storyName, nullptr);
    EXPECT_EQ(ctx->objects, nullptr);
    EXPECT_EQ(ctx->code, nullptr);
    EXPECT_EQ(Qel_TableGetCount(ctx->patchTable), 0u);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
    EXPECT_EQ(BookedBlocks(ctx.get()), 0);
}

std::string MalformedName(const testing::TestParamInfo<Malformed>& info) {
    std::string s;
    for (const char* p = info.param.name; *p; ++p) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedStoryTest, testing::ValuesIn(kMalformed), MalformedName);

TEST_F(LoaderTest, FunctionNamesOutsideTheStringsLoadAndShowAsInvalid) {
    struct Case {
        const char* what;
        uint32_t name;
        bool strings;
    };
    for (Case c : {Case{"name 0", 0, true}, Case{"past the block", 600, true}, Case{"no block", 1, false}}) {
        SCOPED_TRACE(c.what);
        auto b = Start(2);
        SW_PutTag(b, STORY_TAG_FUNCTIONS);
        SW_PutU32(b, 2);
        SW_PutFunction(b, StoryFunction{0, c.name, 0});
        SW_PutFunction(b, StoryFunction{1, c.strings ? 1u : c.name, 0});
        if (c.strings) Strings(b);
        ASSERT_EQ(LoadBytes(b), 1) << log;
        char where[128];
        SE_GetDebugAddress(ctx.get(), where, sizeof where, 0, nullptr);
        EXPECT_STREQ(where, "[000000]0.**invalid string in SE_GetDebugAddress**");
        if (c.strings) {
            SE_GetDebugAddress(ctx.get(), where, sizeof where, 1, nullptr);
            EXPECT_STREQ(where, "[000001]0.Main");
        }
    }
}

TEST_F(LoaderTest, SuperZeroIsTheGlobalObject) {
    ASSERT_EQ(Load(R"(
.var "g" int 7
.func "Everywhere"
    ret
.object 3 super 0
.var "own" int 5
.func "Here"
    ret
)"),
              1)
        << log;
    StoryObject* global = FindStoryObject(ctx.get(), 0);
    StoryObject* o3 = FindStoryObject(ctx.get(), 3);
    EXPECT_EQ(o3->super, global);
    ASSERT_EQ(o3->mergedCount, 2u);  // its own function and the global one
    // The global object's variables are not laid out below the object's own.
    ASSERT_EQ(o3->variableCount, 1u);
    EXPECT_EQ(o3->variables[0].i, 5);
    EXPECT_EQ(global->variables[0].i, 7);
}

TEST_F(LoaderTest, RefusedFileAfterObjectsWereMadeFreesThem) {
    // Everything is parsed and built; the last object has a bad super.
    std::string text = std::string(kSample) + ".object 12 super 13\n.object 13\n";
    EXPECT_EQ(Load(text), 0);
    EXPECT_NE(log.find("(super is not an earlier object)"), std::string::npos) << log;
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
}

TEST_F(LoaderTest, NotAStoryAtAll) {
    for (std::vector<uint8_t> image : {std::vector<uint8_t>{}, std::vector<uint8_t>{'S', 'T', 'O'},
                                       std::vector<uint8_t>{'x', 'S', 'T', 'O', '3', 0, 0, 0, 0}}) {
        EXPECT_EQ(LoadBytes(image), 0);
        EXPECT_NE(log.find("is not a valid story file\n"), std::string::npos);
    }
}

TEST_F(LoaderTest, FreeLocationEndsInstancesAndTasksButKeepsRecordsThatValuesHold) {
    ASSERT_EQ(Load(kSample), 1) << log;
    StoryObject* cls = FindStoryObject(ctx.get(), 11);
    // An instance as the "new" instruction makes it.
    auto* inst = SB_AllocRecord<StoryInstance>(ctx.get(), SE_MEMCAT_INSTANCES);
    inst->classObject = cls;
    inst->variables = static_cast<ScriptValue*>(
        SB_Alloc(ctx.get(), SE_MEMCAT_INSTANCES, SE_MEM_ZERO, cls->variableCount * SE_SIZE_VALUE));
    SV_AssignString(&inst->variables[0], "instance text");
    uint32_t key = Qel_TableAdd(ctx->instanceTable, reinterpret_cast<uintptr_t>(inst));
    inst->id = -static_cast<int32_t>(key) - 1;
    EXPECT_EQ(SB_FindObject(ctx.get(), inst->id), inst);
    // A task with a value on its stack.
    auto* task = SB_AllocRecord<SE_Task>(ctx.get(), SE_MEMCAT_TASKS);
    auto* stack =
        static_cast<ScriptValue*>(SB_Alloc(ctx.get(), SE_MEMCAT_TASK_STACKS, SE_MEM_ZERO, 32 * SE_SIZE_VALUE));
    task->stackSize = 32;
    task->stackEnd = stack + 32;
    task->sp = -1;
    SV_AssignString(&stack[31], "on the stack");
    task->id = Qel_TableAdd(ctx->taskTable, reinterpret_cast<uintptr_t>(task));
    SE_ListAddTail(&ctx->ready, &task->link);

    ScriptValue obj{}, tv{}, held{};
    SV_AssignObject(&obj, inst);
    SV_AssignTask(&tv, task);
    SV_AssignString(&held, "held");
    LogCapture capture;
    SB_FreeLocation(ctx.get());
    std::string out = capture.Take();
    EXPECT_NE(out.find("SB_FreeLocation() Number of unfreed StoryStrings: 1\n"), std::string::npos) << out;
    EXPECT_TRUE(SE_ListIsEmpty(&ctx->ready));
    EXPECT_EQ(SB_FindObject(ctx.get(), obj.object->id), nullptr);
    // The records live on for the values, marked as ended.
    EXPECT_EQ(obj.object->classObject, nullptr);
    EXPECT_EQ(SV_IsFalse(&obj), 1);
    EXPECT_EQ(tv.task->id, 0u);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_INSTANCES], 1);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_TASKS], 1);
    SV_Release(&obj);
    SV_Release(&tv);
    SV_Release(&held);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
    EXPECT_EQ(BookedBlocks(ctx.get()), 0);
}

TEST_F(LoaderTest, LoadLocationReadsThroughTheFileLayer) {
    TempGameFolder folder;
    std::vector<uint8_t> image = AssembleStory(kSample);
    folder.WriteBytes("L/story.obj", image);
    folder.WriteBytes("direct.obj", image);
    LogCapture capture;
    EXPECT_EQ(SB_LoadLocation(ctx.get(), "story"), 1);
    EXPECT_STREQ(ctx->storyName, "story");
    SB_FreeLocation(ctx.get());
    EXPECT_EQ(SB_LoadLocation(ctx.get(), "direct.obj"), 1);
    SB_FreeLocation(ctx.get());
    EXPECT_EQ(SB_LoadLocation(ctx.get(), "missing"), 0);
    std::string out = capture.Take();
    EXPECT_NE(out.find("SB_LoadLocation() loading story file story\n"), std::string::npos);
    EXPECT_NE(out.find("SB_LoadLocation: Cannot load file L\\missing.obj\n"), std::string::npos) << out;
    // Where the story was looked for on disk, and why it could not be read.
    EXPECT_NE(out.find("File L\\missing.obj (" + std::filesystem::current_path().string() +
                       "/L/missing.obj): cannot open it for reading: No such file or directory\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
}

TEST_F(LoaderTest, TextPagesAreFreedWithTheStory) {
    ASSERT_EQ(Load(kSample), 1) << log;
    SB_TextImport t{nullptr, nullptr, 1, 2, "hi"};
    SB_TextImportList list{&t, &t};
    ASSERT_EQ(SB_MergeTextPage(ctx.get(), 44, 3, &list), 1);
    SB_FreeLocation(ctx.get());
    EXPECT_EQ(ctx->languages[44], nullptr);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
}

}  // namespace
