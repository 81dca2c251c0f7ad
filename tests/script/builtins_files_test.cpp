#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/strings.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/builtins_files.h"
#include "script/lookup.h"
#include "script/tasks.h"
#include "script/textpages.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/syscall_runner.h"
#include "system/userpaths.h"

using testing::HasSubstr;

namespace {

using R = SysCallRunner;

// One call of a built-in function as the dispatch makes it: the arguments
// under their count on the calling task's stack. Hands the answer over.
ScriptValue Answer(SysCallRunner& r, SE_BuiltinFn fn, std::vector<ScriptValue> args = {}) {
    SE_Task* task = r.task();
    auto argc = static_cast<int32_t>(args.size());
    ScriptValue* top = task->stackEnd + task->sp - (argc + 1);
    for (int32_t i = 0; i < argc; ++i) top[1 + i] = args[static_cast<size_t>(i)];
    top[0] = R::Int(argc);
    task->sp -= argc + 1;
    task->answered = 0;
    task->pendingArgc = static_cast<uint16_t>(argc);
    task->pendingArgs = top + 1;
    EXPECT_EQ(fn(r.ctx(), 1, task, argc, top + 1), 1);
    EXPECT_EQ(task->answered, 1);
    for (int32_t i = 0; i <= argc; ++i) SV_Release(&top[i]);
    task->sp += argc + 1;
    ScriptValue answer{};
    SV_Move(&task->callResult, &answer);
    return answer;
}

// The answer's display text ("5", "\"abc\"", "{...}").
std::string Call(SysCallRunner& r, SE_BuiltinFn fn, std::vector<ScriptValue> args = {}) {
    ScriptValue a = Answer(r, fn, std::move(args));
    std::string s = R::Display(a);
    SV_Release(&a);
    return s;
}

std::string Contents(const ScriptValue& v) {
    return v.tag == VARTYPE_DSTRING && v.dstring ? std::string(v.dstring->text, v.dstring->length) : "<not a text>";
}

class FileCallsTest : public testing::Test {
protected:
    TempGameFolder game;
    SysCallRunner r;
};

TEST_F(FileCallsTest, OpenAndCloseHandles) {
    std::string handle = Call(r, SE_FOpen, {R::Text("out.txt"), R::Text("w")});
    EXPECT_NE(handle, "0");
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->fileTable), 1u);
    EXPECT_EQ(Call(r, SE_FClose, {R::Int(std::stoi(handle))}), "0");
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->fileTable), 0u);
    LogCapture capture;
    EXPECT_EQ(Call(r, SE_FClose, {R::Int(std::stoi(handle))}), "0");
    EXPECT_EQ(Call(r, SE_FOpen, {R::Text("missing.txt"), R::Text("rb")}), "0");
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("SE_FClose: tried to close nonexisting filehandle " + handle));
    EXPECT_THAT(log, HasSubstr("SE_FOpen: can't open file missing.txt"));
    // A file left open goes with the story.
    EXPECT_NE(Call(r, SE_FOpen, {R::Text("out.txt"), R::Text("r")}), "0");
}

TEST_F(FileCallsTest, FilesReadWithTheirZeroBytesAndWriteBackUnchanged) {
    const std::string binary("a\0b\0\xff", 5);
    game.WriteBytes("data.bin", std::vector<uint8_t>(binary.begin(), binary.end()));
    ScriptValue whole = Answer(r, SE_ReadFile, {R::Text("data.bin")});
    EXPECT_EQ(Contents(whole), binary);
    EXPECT_EQ(Call(r, SE_WriteFile, {R::Text("copy.bin"), R::Ref(whole)}), "5");
    EXPECT_EQ(game.Read("copy.bin"), game.Read("data.bin"));
    SV_Release(&whole);

    ScriptValue filled = Answer(r, SE_ReadFile, {R::Text("data.bin"), R::Int(0), R::Int(0x120)});
    EXPECT_EQ(Contents(filled), std::string("a b \xff", 5));
    SV_Release(&filled);

    LogCapture capture;
    EXPECT_EQ(Call(r, SE_ReadFile, {R::Text("nothing.bin")}), "0");
    EXPECT_EQ(Call(r, SE_WriteFile, {R::Text("empty.txt"), R::Text("")}), "0");
    EXPECT_EQ(Call(r, SE_WriteFile, {R::Text("no/such/folder/x.txt"), R::Text("x")}), "0");
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("SE_ReadFile: Can't load file nothing.bin"));
    EXPECT_THAT(log, HasSubstr("SE_WriteFile: Error in writing to file empty.txt"));
    EXPECT_THAT(log, HasSubstr("SE_WriteFile: Can't open file no/such/folder/x.txt"));
}

TEST_F(FileCallsTest, PackedSiblingIsReadWhenThePackedOptionIsOn) {
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    ASSERT_TRUE(session.State()->startFlags & QEL_START_PACKED);
    game.Write("data/info.txt", "plain");
    game.WritePacked("data/info.pck", {'p', 'a', 'c', 'k', 'e', 'd'}, 0x5a);
    game.Write("data/only.txt", "only plain");
    ASSERT_TRUE(r.Load(".string \"data\\\\info.txt\"\n"));
    const std::string block(r.ctx()->staticStrings, r.ctx()->staticSize);
    ScriptValue name{};
    SV_AssignStaticString(&name, 1);
    EXPECT_EQ(Call(r, SE_ReadFile, {name}), "\"packed\"");
    EXPECT_EQ(std::string(r.ctx()->staticStrings, r.ctx()->staticSize), block);  // the story's text is untouched
    EXPECT_EQ(Call(r, SE_ReadFile, {R::Text("data\\only.txt")}), "\"only plain\"");
    EXPECT_EQ(Call(r, SE_ReadFile, {R::Text("a.b")}), "0");
    session.State()->startFlags &= ~QEL_START_PACKED;
    EXPECT_EQ(Call(r, SE_ReadFile, {R::Text("data/info.txt")}), "\"plain\"");
}

TEST_F(FileCallsTest, SizesTimesDeletesAndMoves) {
    game.Write("f.txt", "12345");
    game.Write("sub/keep", "");
    EXPECT_EQ(Call(r, SE_FSize, {R::Text("f.txt")}), "5");
    EXPECT_EQ(Call(r, SE_FSize, {R::Text("sub")}), "-2");
    EXPECT_EQ(Call(r, SE_FSize, {R::Text("none.txt")}), "-1");
    int32_t now = static_cast<int32_t>(std::time(nullptr));
    ScriptValue t = Answer(r, SE_FTime, {R::Text("f.txt")});
    EXPECT_NEAR(t.i, now, 60);
    EXPECT_EQ(Call(r, SE_FTime, {R::Text("none.txt")}), "0");
    EXPECT_EQ(Call(r, SE_MoveFile, {R::Text("f.txt"), R::Text("g.txt")}), "1");
    EXPECT_FALSE(game.Exists("f.txt"));
    EXPECT_EQ(Call(r, SE_ChangeDir, {R::Text("sub")}), "1");
    EXPECT_EQ(Call(r, SE_ChangeDir, {R::Text("nowhere")}), "0");
    EXPECT_EQ(Call(r, SE_DeleteFile, {R::Text("g.txt")}), "1");
    EXPECT_EQ(Call(r, SE_DeleteFile, {R::Text("g.txt")}), "0");
    EXPECT_EQ(Call(r, SE_MoveFile, {R::Text("g.txt"), R::Text("h.txt")}), "0");
}

std::vector<std::string> Names(ScriptValue& list) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < SV_ArraySize(&list); ++i) names.push_back(SV_GetString(SV_ArrayRead(&list, i)));
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FileCallsTest, DirectoryListings) {
    game.Write("saves/a.sav", "a");
    game.Write("saves/b.sav", "b");
    game.Write("saves/c.txt", "c");
    game.Write("empty/.hidden", "");
    ScriptValue list = Answer(r, SE_GetDir, {R::Text("saves"), R::Text("*.sav")});
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.sav", "b.sav"}));
    SV_Release(&list);
    list = Answer(r, SE_GetDir, {R::Text("saves")});
    EXPECT_EQ(Names(list), (std::vector<std::string>{".", "..", "a.sav", "b.sav", "c.txt"}));
    SV_Release(&list);
    LogCapture capture;
    EXPECT_EQ(Call(r, SE_GetDir, {R::Text("empty"), R::Text("*.sav")}), "0");
    EXPECT_EQ(Call(r, SE_GetDir, {R::Text("missing")}), "0");
    capture.Take();
}

// The user folder: a made folder, a file written there, listed, sized, removed.
TEST_F(FileCallsTest, UserFolderCalls) {
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    const std::string folder = "persist-calls-" + std::to_string(getpid());
    const std::string file = folder + "\\slot.dat";
    EXPECT_EQ(Call(r, SE_MakeDir, {R::Text(folder.c_str())}), "1");
    EXPECT_EQ(Call(r, SE_WriteFile, {R::Text(file.c_str()), R::Text("saved"), R::Int(1)}), "5");
    EXPECT_FALSE(game.Exists(folder));
    ScriptValue list = Answer(r, SE_GetDir, {R::Text(folder.c_str()), R::Text("*.dat"), R::Int(1)});
    EXPECT_EQ(Names(list), std::vector<std::string>{"slot.dat"});
    SV_Release(&list);
    EXPECT_EQ(Call(r, SE_FSize, {R::Text(file.c_str()), R::Int(1)}), "5");
    EXPECT_EQ(Call(r, SE_ReadFile, {R::Text(file.c_str()), R::Int(1)}), "\"saved\"");
    EXPECT_EQ(Call(r, SE_DeleteFile, {R::Text(file.c_str()), R::Int(1)}), "1");
    char* resolved = Qel_ResolvePath(folder.c_str(), 1);
    char* disk = Qel_DiskPath(resolved);
    EXPECT_TRUE(std::filesystem::is_directory(disk));
    std::filesystem::remove_all(disk);
    Qel_StrFree(disk);
    Qel_StrFree(resolved);
}

TEST_F(FileCallsTest, ClockTexts) {
    EXPECT_EQ(Call(r, SE_CTime, {R::Int(0)}), "\"Thu Jan  1 00:00:00 1970\"");
    EXPECT_EQ(Call(r, SE_TimeString, {R::Text("%Y-%m-%d %H:%M:%S"), R::Int(86400 + 3723)}), "\"1970-01-02 01:02:03\"");
    EXPECT_EQ(Call(r, SE_TimeString, {R::Text(std::string(60, 'x').c_str()), R::Int(0)}), "\"\"");
    EXPECT_EQ(Call(r, SE_TimeString, {R::Int(5)}), "\"\"");
    ScriptValue now = Answer(r, SE_Time);
    EXPECT_NEAR(now.i, static_cast<int32_t>(std::time(nullptr)), 5);
    ScriptValue text = Answer(r, SE_CTime);
    EXPECT_EQ(SV_GetStringLength(&text), 24);
    SV_Release(&text);
    text = Answer(r, SE_TimeString, {R::Text("%Y")});
    EXPECT_EQ(SV_GetStringLength(&text), 4);
    SV_Release(&text);
}

const char* kStory = R"(
.func "Make" need 2
    pushw 5
    new
    ret
.object 5
.var "V" int 1
.var "X" zero
)";

class MarkupCallsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runner.Load(kStory));
        ASSERT_EQ(runner.Start(0, "Make"), 1);
        ASSERT_EQ(runner.answers.size(), 1u);
        instance = SB_FindObject(runner.ctx(), runner.answers[0].n);
        ASSERT_NE(instance, nullptr);
    }
    ScriptValue Object() const {
        ScriptValue v{};
        SV_AssignObject(&v, instance);
        return v;
    }

    StoryRunner runner;
    SysCallRunner r{runner.ctx()};
    StoryInstance* instance = nullptr;
};

TEST_F(MarkupCallsTest, ValuesToMarkupAndBack) {
    ScriptValue list = R::Array({R::Int(1), R::Text("a<b"), R::Float(2.5)});
    std::string text = Call(r, SE_XMLExportValue, {list});
    EXPECT_EQ(text,
              "\"<sval type=\"array\" size=\"3\"><sval type=\"int\" val=\"1\" /><sval type=\"string\" "
              "val=\"a&lt;b\" /><sval type=\"float\" val=\"2.5\" /></sval>\"");
    ScriptValue markup = Answer(r, SE_XMLExportValue, {R::Array({R::Int(1), R::Text("a<b"), R::Float(2.5)})});
    EXPECT_EQ(Call(r, SE_XMLImportValue, {R::Ref(markup)}), "{1,\"a<b\",2.5}");
    EXPECT_EQ(Call(r, SE_XMLImport, {markup}),
              "{\"ROOT\",0,{\"sval\",[\"type\":\"array\",\"size\":3],"
              "{\"sval\",[\"type\":\"int\",\"val\":1]},"
              "{\"sval\",[\"type\":\"string\",\"val\":\"a<b\"]},"
              "{\"sval\",[\"type\":\"float\",\"val\":\"2.5\"]}}}");
    LogCapture capture;
    EXPECT_EQ(Call(r, SE_XMLImportValue, {R::Text("<open></shut>")}), "0");
    EXPECT_EQ(Call(r, SE_XMLImport, {R::Int(3)}), "0");
    capture.Take();
}

TEST_F(MarkupCallsTest, ObjectsToMarkupAndBack) {
    SV_AssignString(&instance->variables[1], "before");
    ScriptValue exported = Answer(r, SE_XMLExportObject, {Object()});
    EXPECT_EQ(Contents(exported), "<obj id=\"" + std::to_string(instance->id) +
                                      "\"><var name=\"V\"><sval type=\"int\" val=\"1\" /></var>"
                                      "<var name=\"X\"><sval type=\"string\" val=\"before\" /></var></obj>");
    SV_AssignInt(&instance->variables[0], 99);
    SV_AssignInt(&instance->variables[1], 0);
    EXPECT_EQ(Call(r, SE_XMLImportObject, {R::Int(instance->id), exported}), "0");
    EXPECT_EQ(R::Display(instance->variables[0]), "1");
    EXPECT_EQ(R::Display(instance->variables[1]), "\"before\"");

    EXPECT_EQ(Call(r, SE_XMLImportObject,
                   {Object(), R::Text("<obj><var name=\"Nope\"><sval type=\"int\" val=\"5\" /></var>"
                                      "<var><sval type=\"int\" val=\"6\" /></var>"
                                      "<var name=\"X\">\n  <sval type=\"int\" val=\"7\" /></var></obj>")}),
              "0");
    EXPECT_EQ(R::Display(instance->variables[1]), "7");
    EXPECT_EQ(Call(r, SE_XMLImportObject,
                   {Object(), R::Text("<other><var name=\"X\"><sval type=\"int\" val=\"8\" /></var></other>")}),
              "0");
    EXPECT_EQ(R::Display(instance->variables[1]), "7");
    EXPECT_EQ(Call(r, SE_XMLExportObject, {R::Int(12345)}), "0");
    EXPECT_EQ(Call(r, SE_XMLExportObject, {R::Text("5")}), "0");
    EXPECT_THAT(Call(r, SE_XMLExportObject, {R::Int(5)}), HasSubstr("<obj id=\"5\">"));
}

TEST_F(MarkupCallsTest, TextPagesFromMarkup) {
    EXPECT_EQ(Call(r, SE_XMLImportText,
                   {R::Text("<language id=\"44\"><page id=\"300017\"><t id=\"3\">Hi (remark)there</t></page>"
                            "</language>")}),
              "1");
    const ScriptValue* text = SB_FindTextInTable(runner.ctx()->languages[44], 17, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(SV_GetString(text), "Hi there");
    LogCapture capture;
    EXPECT_EQ(Call(r, SE_XMLImportText, {R::Text("<language id=\"44\"></page>")}), "0");
    capture.Take();
}

}  // namespace
