#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/command_line.h"
#include "script/arrays.h"
#include "script/builtins.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "script/textpages.h"
#include "support/logcapture.h"
#include "support/syscall_runner.h"
#include "support/script_run.h"

using testing::HasSubstr;

namespace {

using B = SysCallRunner;

// One call with its arguments, the display text of its answer and, when not
// empty, a text the log must hold.
struct CallCase {
    const char* name;
    std::vector<ScriptValue> (*args)();
    std::string answer;
    std::string log = "";
};

#define ARGS(...) []() { return std::vector<ScriptValue>{__VA_ARGS__}; }

void RunCases(B& b, std::vector<CallCase> cases) {
    for (CallCase& c : cases) {
        LogCapture capture;
        std::string answer = b.Call(c.name, c.args());
        std::string log = capture.Take();
        EXPECT_EQ(answer, c.answer) << c.name << " " << testing::PrintToString(c.answer);
        if (!c.log.empty()) {
            EXPECT_THAT(log, HasSubstr(c.log)) << c.name;
        }
        EXPECT_EQ(b.lastResult, 1) << c.name;
    }
}

TEST(BuiltinDispatch, TableFollowsTheCallNames) {
    const char* const* names = SE_GetCallNames();
    const SE_BuiltinEntry* table = SE_GetBuiltins();
    for (int32_t i = 0; i < SE_BUILTIN_COUNT; ++i) EXPECT_STREQ(table[i].name, names[i]) << i;
    EXPECT_EQ(names[SE_BUILTIN_COUNT], nullptr);
}

TEST(BuiltinDispatch, UndefinedCallNumbersAnswerZero) {
    B b;
    for (int32_t call : {149, 511, -1}) {
        LogCapture capture;
        EXPECT_EQ(b.CallNumber(call), "0");
        EXPECT_THAT(capture.Take(), HasSubstr("SE_SysCall: (" + std::string(SE_PositionText()) +
                                              ") Undefined System Call " + std::to_string(call) + "\n"));
    }
    // 148 (SE_UpdateLocation) has no effect and says nothing.
    LogCapture capture;
    EXPECT_EQ(b.CallNumber(148, {B::Int(3)}), "0");
    EXPECT_EQ(capture.Take(), "");
}

TEST(BuiltinDispatch, AutoDocLeavesTheTaskUnanswered) {
    B b;
    EXPECT_EQ(b.Call("SE_AutoDoc", {B::Int(1)}), "<no answer>");
    EXPECT_EQ(b.lastResult, 1);
}

TEST(BuiltinStrings, LengthsAndCharacterPositions) {
    B b;
    RunCases(b, {
                    {"SE_StringLen", ARGS(B::Text("abc")), "3"},
                    {"SE_StringLen", ARGS(B::Int(5)), "0"},
                    {"SE_StringNumChars", ARGS(B::Text("a\xC3\xA9\xE2\x82\xAC")), "3"},
                    {"SE_StringNumChars", ARGS(B::Text("a\x1BRb")), "2"},
                    {"SE_StringNumChars", ARGS(B::Int(5)), "0"},
                    {"SE_StringNextCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(0)), "1"},
                    {"SE_StringNextCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(1)), "3"},
                    {"SE_StringNextCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(3)), "3"},
                    {"SE_StringNextCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(99)), "3"},
                    {"SE_StringNextCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(-4)), "0"},
                    {"SE_StringNextCharPos", ARGS(B::Int(5), B::Int(0)), "0"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(3)), "1"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(2)), "1"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(1)), "0"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(0)), "0"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(50)), "1"},
                    {"SE_StringPrevCharPos", ARGS(B::Text("a\xC3\xA9"), B::Int(-2)), "0"},
                });
}

TEST(BuiltinStrings, ReadAndWriteBytes) {
    B b;
    std::string where = SE_PositionText();
    RunCases(b, {
                    {"SE_StringReadChar", ARGS(B::Text("abc"), B::Int(1)), "98"},
                    {"SE_StringReadChar", ARGS(B::Text("abc")), "97"},
                    {"SE_StringReadChar", ARGS(B::Text("\xFF")), "255"},
                    {"SE_StringReadChar", ARGS(B::Text("abc"), B::Int(3)), "0",
                     "SE_StringReadChar(abc,3) " + where + " invalid offset 3!\n"},
                    {"SE_StringReadChar", ARGS(B::Text("abc"), B::Int(-1)), "0", "invalid offset -1!"},
                    {"SE_StringReadChar", ARGS(B::Int(7)), "0"},
                    {"SE_StringWriteChar", ARGS(B::Text("abc"), B::Int('X'), B::Int(1)), "\"aXc\""},
                    {"SE_StringWriteChar", ARGS(B::Text("abc"), B::Int('X')), "\"Xbc\""},
                    {"SE_StringWriteChar", ARGS(B::Text("abc"), B::Int('X'), B::Int(3)), "\"abc\"",
                     "SE_StringWriteChar(abc,3,X) " + where + " invalid offset 3!\n"},
                    {"SE_StringWriteChar", ARGS(B::Int(1), B::Int('X')), "\"\""},
                });
}

TEST(BuiltinStrings, SearchAndCut) {
    B b;
    RunCases(b, {
                    {"SE_StringStr", ARGS(B::Text("hello"), B::Text("ll")), "2"},
                    {"SE_StringStr", ARGS(B::Text("hello"), B::Text("z")), "-1"},
                    {"SE_StringStr", ARGS(B::Text("hello"), B::Text("")), "0"},
                    {"SE_StringStr", ARGS(B::Int(1), B::Text("a")), "-1"},
                    {"SE_StringStr", ARGS(B::Text("a"), B::Int(1)), "-1"},
                    {"SE_StringChr", ARGS(B::Text("abcabc"), B::Int('c')), "2"},
                    {"SE_StringChr", ARGS(B::Text("abcabc"), B::Int('c'), B::Int(3)), "5"},
                    {"SE_StringChr", ARGS(B::Text("abc"), B::Int('c'), B::Int(3)), "-1"},
                    {"SE_StringChr", ARGS(B::Text("abc"), B::Int('a'), B::Int(-70000)), "0"},
                    {"SE_StringChr", ARGS(B::Text("abc"), B::Int(0)), "-1"},
                    {"SE_StringChr", ARGS(B::Int(3), B::Int('a')), "-1"},
                    {"SE_StringRChr", ARGS(B::Text("abcabc"), B::Int('a')), "3"},
                    {"SE_StringRChr", ARGS(B::Text("abc"), B::Int('z')), "-1"},
                    {"SE_StringRChr", ARGS(B::Int(3), B::Int('a')), "-1"},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(1), B::Int(3)), "\"ell\""},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(1)), "\"ello\""},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(1), B::Int(-1)), "\"ello\""},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(2), B::Int(0x7FFFFFFF)), "\"llo\""},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(5)), "\"\""},
                    {"SE_StringSub", ARGS(B::Text("hello"), B::Int(-1), B::Int(2)), "\"\""},
                    {"SE_StringSub", ARGS(B::Text("a\xC3\xA9z"), B::Int(0), B::Int(2)), "\"a\xC3\xA9\""},
                    {"SE_StringSub", ARGS(B::Int(5), B::Int(0)), "\"\""},
                    {"SE_StringToInt", ARGS(B::Text("  -42xyz")), "-42"},
                    {"SE_StringToInt", ARGS(B::Text("+7")), "7"},
                    {"SE_StringToInt", ARGS(B::Text("x1")), "0"},
                    {"SE_StringToInt", ARGS(B::Text("99999999999")), "2147483647"},
                    {"SE_StringToInt", ARGS(B::Text("-99999999999")), "-2147483648"},
                    {"SE_StringToInt", ARGS(B::Int(5)), "0"},
                });
}

TEST(BuiltinStrings, SplitAndSubstitute) {
    B b;
    RunCases(b, {
                    {"SE_StringSplit", ARGS(B::Text("a,b,,c"), B::Text(",")), "{\"a\",\"b\",\"\",\"c\"}"},
                    {"SE_StringSplit", ARGS(B::Text(",a,"), B::Text(",")), "{\"\",\"a\",\"\"}"},
                    {"SE_StringSplit", ARGS(B::Text("a--b"), B::Text("--")), "{\"a\",\"b\"}"},
                    {"SE_StringSplit", ARGS(B::Text("aaa"), B::Text("aa")), "{\"\",\"a\"}"},
                    {"SE_StringSplit", ARGS(B::Text("abc"), B::Text(",")), "{\"abc\"}"},
                    // An empty separator ends at once with the whole text.
                    {"SE_StringSplit", ARGS(B::Text("abc"), B::Text("")), "{\"abc\"}"},
                    {"SE_StringSplit", ARGS(B::Text("abc"), B::Int(0)), "{\"abc\"}"},
                    {"SE_StringSplit", ARGS(B::Int(4), B::Text(",")), "0"},
                    {"SE_StringSubst", ARGS(B::Text("a.b.c"), B::Text("."), B::Text("--")), "\"a--b--c\""},
                    {"SE_StringSubst", ARGS(B::Text("aaa"), B::Text("aa"), B::Text("b")), "\"ba\""},
                    {"SE_StringSubst", ARGS(B::Text("abcabc"), B::Text("abc"), B::Text("")), "\"\""},
                    {"SE_StringSubst", ARGS(B::Text("abc"), B::Text("x"), B::Text("y")), "\"abc\""},
                    {"SE_StringSubst", ARGS(B::Text("abc"), B::Text(""), B::Text("y")), "\"abc\""},
                    {"SE_StringSubst", ARGS(B::Text("abc"), B::Int(1), B::Text("y")), "\"abc\""},
                    {"SE_StringSubst", ARGS(B::Text("abc"), B::Text("b"), B::Int(1)), "\"abc\""},
                    {"SE_StringSubst", ARGS(B::Int(9), B::Text("b"), B::Text("c")), "9"},
                });
}

TEST(BuiltinStrings, SubstitutionSizedByItsMatches) {
    // Every byte replaced by a much longer text: the buffer must hold them all.
    B b;
    std::string s(3000, 'x');
    std::string with(40, 'y');
    ScriptValue answer = b.Answer("SE_StringSubst", {B::Text(s.c_str()), B::Text("x"), B::Text(with.c_str())});
    ASSERT_NE(SV_GetString(&answer), nullptr);
    EXPECT_EQ(std::strlen(SV_GetString(&answer)), s.size() * with.size());
    SV_Release(&answer);
    EXPECT_EQ(b.ctx()->memBytes[SE_MEMCAT_TEXT], 0);  // scratch buffers are given back
}

TEST(BuiltinStrings, ComparisonsAndTheRest) {
    B b;
    g_Win32CommandLineSeam.text = "trevan -window";
    RunCases(b, {
                    {"SE_strcmp", ARGS(B::Text("a"), B::Text("b")), "-1"},
                    {"SE_strcmp", ARGS(B::Text("b"), B::Text("a")), "1"},
                    {"SE_strcmp", ARGS(B::Text("a"), B::Text("a")), "0"},
                    {"SE_strcmp", ARGS(B::Text("\xE9"), B::Text("a")), "1"},
                    {"SE_strcmp", ARGS(B::Text("a"), B::Int(1)), "2"},
                    {"SE_strcmp", ARGS(B::Int(1), B::Text("a")), "-2"},
                    {"SE_stricmp", ARGS(B::Text("ABC"), B::Text("abc")), "0"},
                    {"SE_stricmp", ARGS(B::Text("a"), B::Text("B")), "-1"},
                    {"SE_stricmp", ARGS(B::Text("a"), B::Int(1)), "2"},
                    {"SE_stricmp", ARGS(B::Int(1), B::Text("a")), "-2"},
                    {"SE_StringCat", ARGS(B::Int(1)), "\"trevan -window\""},
                    {"SE_StringMul", ARGS(B::Text("abc"), B::Int(0), B::Int(3)), "96"},
                    {"SE_StringMul", ARGS(B::Text("abc"), B::Int(0)), "0"},
                    {"SE_StringMul", ARGS(B::Text("abc"), B::Int(2), B::Int(1)), "0"},
                    {"SE_StringMul", ARGS(B::Text("abc"), B::Int(-9), B::Int(99)), "96"},
                    {"SE_StringMul", ARGS(B::Int(1), B::Int(0), B::Int(3)), "0"},
                    {"SE_Assert", ARGS(B::Int(0)), "0"},
                    {"SE_Trace", ARGS(), "0"},
                    {"SE_SetProfiling", ARGS(B::Int(1)), "0"},
                    {"SE_SignData", ARGS(B::Text("x")), "0"},
                    {"SE_UpdateLocation", ARGS(), "0"},
                });
    g_Win32CommandLineSeam.text = nullptr;
    EXPECT_NE(b.Call("SE_StringCat"), "\"\"");  // the real command line of this test
}

class BuiltinArrays : public testing::Test {
protected:
    B b;
    ScriptValue& Held(std::vector<int32_t> values) { return b.Hold(B::IntArray(values)); }
    static std::string Show(const ScriptValue& v) { return B::Display(v); }
};

TEST_F(BuiltinArrays, AllocSizeReadWrite) {
    ScriptValue& a = Held({1, 2, 3});
    EXPECT_EQ(b.Call("SE_ArrayAlloc", {B::Int(3)}), "{   3*0}");
    EXPECT_EQ(b.Call("SE_ArrayAlloc", {B::Int(-1)}), "0");
    EXPECT_EQ(b.Call("SE_ArraySize", {B::Ref(a)}), "3");
    EXPECT_EQ(b.Call("SE_ArraySize", {B::Int(3)}), "-1");
    EXPECT_EQ(b.Call("SE_ArrayRead", {B::Ref(a), B::Int(1)}), "2");
    LogCapture capture;
    EXPECT_EQ(b.Call("SE_ArrayRead", {B::Ref(a), B::Int(3)}), "0");
    EXPECT_THAT(capture.Take(), HasSubstr("array index out of bounds [0..2]"));
    EXPECT_EQ(b.Call("SE_ArrayWrite", {B::Ref(a), B::Int(1), B::Text("x")}), "0");
    EXPECT_EQ(Show(a), "{1,\"x\",3}");
    // A missing value argument writes INTEGER 0 and never reads past the frame.
    EXPECT_EQ(b.Call("SE_ArrayWrite", {B::Ref(a), B::Int(1)}), "0");
    EXPECT_EQ(Show(a), "{1,0,3}");
}

TEST_F(BuiltinArrays, CopyClampsItsRanges) {
    struct Case {
        int32_t di, si, end;
        std::string dst;
    };
    for (const Case& c : std::vector<Case>{
             {1, 0, -1, "{0,1,2,3}"},
             {0, 1, 2, "{2,0,0,0}"},
             {0, 0, 99, "{1,2,3,0}"},
             {-2, 0, 3, "{3,0,0,0}"},  // the pairs below 0 are stepped over together
             {0, -1, 3, "{0,1,2,3}"},
             {INT32_MIN, 0, 3, "{0,0,0,0}"},  // ends at once
             {0, INT32_MIN + 1, -1, "{0,0,0,0}"},
             {3, 0, -1, "{0,0,0,1}"},
         }) {
        ScriptValue& dst = Held({0, 0, 0, 0});
        ScriptValue& src = Held({1, 2, 3});
        LogCapture capture;
        EXPECT_EQ(b.Call("SE_ArrayCopy", {B::Ref(dst), B::Int(c.di), B::Ref(src), B::Int(c.si), B::Int(c.end)}), "0");
        EXPECT_EQ(capture.Take(), "") << c.di << "," << c.si;
        EXPECT_EQ(Show(dst), c.dst) << c.di << "," << c.si << "," << c.end;
    }
    ScriptValue& same = Held({1, 2, 3});
    b.Call("SE_ArrayCopy", {B::Ref(same), B::Int(1), B::Ref(same), B::Int(0), B::Int(2)});
    EXPECT_EQ(Show(same), "{1,1,1}");
}

TEST_F(BuiltinArrays, ClonesAreCopies) {
    ScriptValue& a = Held({1, 2, 3});
    ScriptValue& clone = b.Hold(b.Answer("SE_ArrayClone", {B::Ref(a)}));
    EXPECT_EQ(Show(clone), "{1,2,3}");
    SV_ArrayWriteInt(&clone, 0, 9);
    EXPECT_EQ(Show(a), "{1,2,3}");
    EXPECT_EQ(b.Call("SE_ArrayClone", {B::Int(2)}), "0");
    ScriptValue& lazy = b.Hold(ScriptValue{});
    SV_ArrayAlloc(&lazy, 4);
    EXPECT_EQ(b.Call("SE_ArrayClone", {B::Ref(lazy)}), "{   4*0}");
    EXPECT_EQ(b.Call("SE_ArraySubClone", {B::Ref(a), B::Int(1), B::Int(-1)}), "{2,3}");
    EXPECT_EQ(b.Call("SE_ArraySubClone", {B::Ref(a), B::Int(1), B::Int(2)}), "{2}");
    EXPECT_EQ(b.Call("SE_ArraySubClone", {B::Ref(a), B::Int(2), B::Int(2)}), "0");
    EXPECT_EQ(b.Call("SE_ArraySubClone", {B::Ref(a), B::Int(-5), B::Int(2)}), "{1,2}");
    EXPECT_EQ(b.Call("SE_ArraySubClone", {B::Ref(a), B::Int(INT32_MIN), B::Int(99)}), "{1,2,3}");
}

TEST_F(BuiltinArrays, InsertAppendRemoveResizeSort) {
    ScriptValue& a = Held({1, 2, 3});
    b.Call("SE_ArrayInsert", {B::Ref(a), B::Int(0), B::Int(9)});
    b.Call("SE_ArrayAppend", {B::Ref(a), B::Int(4)});
    EXPECT_EQ(Show(a), "{9,1,2,3,4}");
    b.Call("SE_ArrayRemove", {B::Ref(a), B::Int(1)});
    EXPECT_EQ(Show(a), "{9,2,3,4}");
    b.Call("SE_ArrayResize", {B::Ref(a), B::Int(2)});
    EXPECT_EQ(Show(a), "{9,2}");

    ScriptValue& items = b.Hold(B::Array({B::Text("x"), B::Text("y"), B::Text("z")}));
    ScriptValue& ints = Held({3, 1, 2});
    ScriptValue& names = b.Hold(B::Array({B::Text("b"), B::Text("C"), B::Text("a")}));
    EXPECT_EQ(b.Call("SE_QSortByInt", {B::Ref(items), B::Ref(ints), B::Int(0), B::Int(2)}), "0");
    EXPECT_EQ(Show(items), "{\"y\",\"z\",\"x\"}");
    // The keys stay in place: now y, z, x hold 3, 1, 2.
    b.Call("SE_QSortByInt", {B::Ref(items), B::Ref(ints), B::Int(0), B::Int(2), B::Int(1)});
    EXPECT_EQ(Show(items), "{\"y\",\"x\",\"z\"}");
    b.Call("SE_QSortByName", {B::Ref(items), B::Ref(names), B::Int(0), B::Int(2)});
    EXPECT_EQ(Show(items), "{\"z\",\"y\",\"x\"}");
    // A range outside the arrays sorts nothing.
    b.Call("SE_QSortByName", {B::Ref(items), B::Ref(names), B::Int(1), B::Int(7)});
    EXPECT_EQ(Show(items), "{\"z\",\"y\",\"x\"}");
}

TEST(BuiltinTables, AddFindIterateRemove) {
    B b;
    ScriptValue& t = b.Hold(b.Answer("SE_TableAlloc"));
    EXPECT_EQ(B::Display(t), "[]");
    EXPECT_EQ(b.Call("SE_TableRandomKey", {B::Ref(t)}), "0");
    EXPECT_EQ(b.Call("SE_TableNext", {B::Ref(t)}), "0");
    std::string fresh = b.Call("SE_TableNew", {B::Ref(t), B::Text("fresh")});
    EXPECT_NE(fresh, "0");
    EXPECT_EQ(b.Call("SE_TableAdd", {B::Ref(t), B::Text("k"), B::Int(5)}), "1");
    EXPECT_EQ(b.Call("SE_TableAdd", {B::Ref(t), B::Text("solo")}), "1");
    EXPECT_EQ(b.Call("SE_TableSize", {B::Ref(t)}), "3");
    EXPECT_EQ(b.Call("SE_TableFind", {B::Ref(t), B::Text("k")}), "5");
    EXPECT_EQ(b.Call("SE_TableFind", {B::Ref(t), B::Text("solo")}), "\"solo\"");
    EXPECT_EQ(b.Call("SE_TableFind", {B::Ref(t), B::Int(std::stoi(fresh))}), "\"fresh\"");
    EXPECT_EQ(b.Call("SE_TableFind", {B::Ref(t), B::Text("none")}), "0");
    EXPECT_EQ(b.Call("SE_TableExists", {B::Ref(t), B::Text("k")}), "1");
    EXPECT_EQ(b.Call("SE_TableExists", {B::Ref(t), B::Text("none")}), "0");

    // The walk by SE_TableNext meets every key once, in the order of SE_TableKeys.
    std::vector<std::string> walked;
    ScriptValue key = b.Answer("SE_TableNext", {B::Ref(t), B::Int(0)});
    while (!SV_IsFalse(&key) && walked.size() < 10) {
        walked.push_back(B::Display(key));
        ScriptValue next = b.Answer("SE_TableNext", {B::Ref(t), key});
        key = next;
    }
    SV_Release(&key);
    ASSERT_EQ(walked.size(), 3u);
    EXPECT_EQ(b.Call("SE_TableKeys", {B::Ref(t)}), "{" + walked[0] + "," + walked[1] + "," + walked[2] + "}");
    std::string data = b.Call("SE_TableData", {B::Ref(t)});
    for (const char* d : {"5", "\"solo\"", "\"fresh\""}) EXPECT_THAT(data, HasSubstr(d));
    std::set<std::string> keys(walked.begin(), walked.end());
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(keys.count(b.Call("SE_TableRandomKey", {B::Ref(t)})));

    EXPECT_EQ(b.Call("SE_TableRemove", {B::Ref(t), B::Text("k")}), "5");
    EXPECT_EQ(b.Call("SE_TableRemove", {B::Ref(t), B::Text("k")}), "0");
    EXPECT_EQ(b.Call("SE_TableSize", {B::Ref(t)}), "2");
    EXPECT_EQ(b.Call("SE_TableSize", {B::Int(4)}), "0");
}

class BuiltinTexts : public testing::Test {
protected:
    void SetUp() override {
        Merge(0, 0, 5, "five");
        Merge(0, 3, 7, "seven");
        Merge(44, 3, 7, "sieben");
    }
    void Merge(int32_t language, int32_t page, int32_t id, const char* text) {
        SB_TextImport rec{nullptr, nullptr, id, static_cast<uint32_t>(std::strlen(text)), text};
        SB_TextImportList list{&rec, &rec};
        ASSERT_EQ(SB_MergeTextPage(b.ctx(), language, page, &list), 1);
    }
    B b;
};

TEST_F(BuiltinTexts, ReadAndExists) {
    RunCases(b, {
                    {"SE_GetLanguage", ARGS(), "0"},
                    {"SE_ReadText", ARGS(B::Int(5)), "\"five\""},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(7)), "\"seven\""},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(44), B::Int(7)), "\"sieben\""},
                    {"SE_ReadText", ARGS(B::Int(9)), "\"ReadText9\"", "TextID 9 not found"},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(8)), "\"ReadText3-8\""},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(44), B::Int(8)), "\"ReadText3-44-8\""},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(999), B::Int(7)), "\"ReadText3-999-7\"",
                     "language 999 not found"},
                    {"SE_ReadText", ARGS(B::Int(3), B::Int(-1), B::Int(7)), "\"ReadText3--1-7\""},
                    {"SE_ExistsText", ARGS(B::Int(5)), "\"five\""},
                    {"SE_ExistsText", ARGS(B::Int(3), B::Int(44), B::Int(7)), "\"sieben\""},
                    {"SE_ExistsText", ARGS(B::Int(9)), "0"},
                    {"SE_ExistsText", ARGS(B::Int(3), B::Int(45), B::Int(7)), "0"},
                    // Language ids outside the table are not found.
                    {"SE_ExistsText", ARGS(B::Int(3), B::Int(999), B::Int(7)), "0"},
                    {"SE_ExistsText", ARGS(B::Int(3), B::Int(-1), B::Int(7)), "0"},
                    {"SE_ExistsText", ARGS(B::Int(3), B::Int(INT32_MIN), B::Int(7)), "0"},
                    {"SE_FreeText", ARGS(), "0"},
                    {"SE_ExistsText", ARGS(B::Int(5)), "0"},
                });
}

// Every call name links to module 1 from a story and is answered (SE_AutoDoc
// leaves its task waiting).
TEST(BuiltinStory, EveryCallIsReachableByName) {
    StoryRunner r;
    std::string story = "    end\n";
    const char* const* names = SE_GetCallNames();
    for (int32_t i = 0; i < SE_BUILTIN_COUNT; ++i)
        story += ".func \"C" + std::to_string(i) + "\" need 4\n    c0\n    sys \"" + names[i] + "\"\n    ret\n";
    ASSERT_TRUE(r.Load(story));
    for (int32_t i = 0; i < SE_BUILTIN_COUNT; ++i) {
        r.answers.clear();
        LogCapture capture;
        EXPECT_EQ(r.Start(0, ("C" + std::to_string(i)).c_str(), {}, 1, uint32_t(i)), 1);
        std::string log = capture.Take();
        EXPECT_THAT(log, testing::Not(HasSubstr("Unknown System Call"))) << names[i];
        if (std::strcmp(names[i], "SE_AutoDoc") == 0) {
            EXPECT_TRUE(r.answers.empty());
            EXPECT_EQ(r.Waiting().size(), 1u);
        } else {
            ASSERT_EQ(r.answers.size(), 1u) << names[i];
            EXPECT_EQ(r.answers[0].callerNumber, uint32_t(i));
        }
    }
}

}  // namespace
