#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/builtins_text.h"
#include "script/loader.h"
#include "support/builtin_call.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/story.h"

using testing::HasSubstr;
using testing::Not;

namespace {

// Points the system settings at a record of the test's own while it lives.
class TestSystemState {
public:
    TestSystemState() : saved_(g_SystemState) { g_SystemState = &state; }
    ~TestSystemState() { g_SystemState = saved_; }
    SystemState state{};

private:
    SystemState* saved_;
};

// --- formatted text ---

TEST(TextCalls, SPrintfFormatsTheValuesAfterTheFormat) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(call.Text(SE_SPrintf, {VText("%d-%s|%5.1f"), VInt(5), VText("ab"), VFloat(2.25)}), "5-ab|  2.2");
    EXPECT_EQ(call.Text(SE_SPrintf, {VText("%d %s")}), "0 <invalid>");
    EXPECT_EQ(call.Text(SE_SPrintf, {VInt(3)}), "");  // no format
    EXPECT_EQ(call.Text(SE_SPrintf, {}), "");
    // The scratch buffer is given back.
    EXPECT_EQ(ctx->memBytes[13], 0);
}

TEST(TextCalls, VSPrintfTakesTheArrayElements) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(call.Text(SE_VSPrintf, {VText("%d+%d=%a"), VInts({1, 2, 3})}), "1+2=3");
    ScriptValue untouched{};
    SV_ArrayAlloc(&untouched, 2);  // elements not made yet
    EXPECT_EQ(call.Text(SE_VSPrintf, {VText("%d,%d,%d"), untouched}), "0,0,0");
    EXPECT_EQ(call.Text(SE_VSPrintf, {VText("%d,%s"), VInt(7)}), "0,<invalid>");
    EXPECT_EQ(call.Text(SE_VSPrintf, {VText("%d")}), "0");
}

TEST(TextCalls, FPrintfWritesToAnOpenHandle) {
    TempGameFolder folder;
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    QelFile* f = Qel_fopen("out.txt", "wb", 0);
    ASSERT_NE(f, nullptr);
    uint32_t handle = Qel_TableAdd(ctx->fileTable, reinterpret_cast<uintptr_t>(f));
    EXPECT_EQ(call.Int(SE_FPrintf, {VInt(static_cast<int32_t>(handle)), VText("n=%03d\n"), VInt(7)}), 6);
    Qel_TableRemove(ctx->fileTable, handle);
    Qel_fclose(f);
    std::vector<uint8_t> bytes = folder.Read("out.txt");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "n=007\n");

    LogCapture capture;
    EXPECT_EQ(call.Int(SE_FPrintf, {VInt(static_cast<int32_t>(handle)), VText("x%d"), VInt(1)}), 0);
    EXPECT_THAT(capture.Take(),
                HasSubstr("SE_FPrintf(x%d): trying to write to nonexisting filehandle " + std::to_string(handle)));
}

TEST(TextCalls, DprintfLogsTaskAndGameClock) {
    TestSystemState sys;
    sys.state.gameClock = 12045;
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    LogCapture capture;
    EXPECT_EQ(call.Int(SE_Dprintf, {VText("hit %d"), VInt(3)}), 0);
    EXPECT_EQ(call.Int(SE_XDprintf, {VText("again")}), 0);
    std::string log = capture.Take();
    std::string id = std::to_string(call.task->id);
    EXPECT_THAT(log, HasSubstr(id + ":12.045: hit 3"));
    EXPECT_THAT(log, HasSubstr(id + ":12.045: again"));
}

TEST(TextCalls, DMprintfLogsOnlyWhenEveryMaskBitIsSet) {
    TestSystemState sys;
    sys.state.debugFlags = 0x4;
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    LogCapture capture;
    EXPECT_EQ(call.Int(SE_DMprintf, {VInt(0x4), VText("shown %d\n"), VInt(1)}), 0);
    EXPECT_EQ(call.Int(SE_XDMprintf, {VInt(0x6), VText("hidden\n")}), 0);
    EXPECT_EQ(call.Int(SE_DMprintf, {VInt(0), VText("always %s\n"), VText("x")}), 0);
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("shown 1"));
    EXPECT_THAT(log, HasSubstr("always x"));
    EXPECT_THAT(log, Not(HasSubstr("hidden")));
}

// --- codecs ---

TEST(TextCalls, Codecs) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(call.Text(SE_StringXMLEscape, {VText("a<\"b\">&c")}), "a&lt;&quot;b&quot;&gt;&amp;c");
    EXPECT_EQ(call.Text(SE_StringXMLEncode, {VText("a<b\n\x05%u00e9")}), "a&lt;b&#10;&#05;\xc3\xa9");
    EXPECT_EQ(call.Text(SE_StringXMLQueryDecode, {VText("a+b%41%%")}), "a bA%");
    EXPECT_EQ(call.Text(SE_StringXMLQueryToUTF8, {VText("%u00e9+\xe9")}), "\xc3\xa9 \xc3\xa9");
    EXPECT_EQ(call.Text(SE_StringXMLEncode, {VInt(5)}), "");
    EXPECT_EQ(ctx->memBytes[13], 0);
}

// --- regular expressions ---

class RegexCalls : public testing::Test {
protected:
    int32_t Comp(const char* pattern) { return call.Int(SE_RegComp, {VText(pattern)}); }
    int32_t Exec(int32_t id, ScriptValue s) { return call.Int(SE_RegExec, {VInt(id), s}); }
    std::string Sub(int32_t id, const char* tmpl) { return call.Text(SE_RegSub, {VInt(id), VText(tmpl)}); }
    std::string Global(int32_t id, const char* s, const char* tmpl) {
        return call.Text(SE_RegSubGlobal, {VInt(id), VText(s), VText(tmpl)});
    }
    ScriptTestContext ctx;
    BuiltinCaller call{ctx.get()};
};

TEST_F(RegexCalls, MatchAndSubstitute) {
    int32_t id = Comp("a(b+)c");
    ASSERT_GT(id, 0);
    EXPECT_EQ(Exec(id, VText("xabbcx")), 1);
    // The subject was a DSTRING released with the call's arguments: the
    // expression reads its own copy.
    EXPECT_EQ(Sub(id, "[&|\\1|\\&]"), "[abbc|bb|&]");
    EXPECT_EQ(Sub(id, "\\2<"), "<");       // a group that took no part
    EXPECT_EQ(Sub(id, "end\\"), "end\\");  // a template ending in '\'
    // A failed search leaves the last match.
    EXPECT_EQ(Exec(id, VText("zzz")), 0);
    EXPECT_EQ(Sub(id, "&"), "abbc");
    EXPECT_EQ(call.Int(SE_RegFree, {VInt(id)}), 0);
    EXPECT_EQ(Qel_TableGetCount(ctx->regexpTable), 0u);
}

TEST_F(RegexCalls, SubstituteBeforeAnyMatchIsEmpty) {
    int32_t id = Comp("q");
    EXPECT_EQ(Sub(id, "<&>"), "<>");
    call.Int(SE_RegFree, {VInt(id)});
}

TEST_F(RegexCalls, GlobalSubstitution) {
    int32_t id = Comp("a(b+)c");
    EXPECT_EQ(Global(id, "abc-abbc-ac", "<\\1>"), "<b><bb>");
    EXPECT_EQ(Sub(id, "&"), "abbc");  // the last match of the global run
    EXPECT_EQ(Global(id, "none", "<&>"), "");
    call.Int(SE_RegFree, {VInt(id)});

    // An expression that matches the empty text moves on one byte each time.
    id = Comp("x*");
    EXPECT_EQ(Global(id, "axxb", "[&]"), "[][xx][][]");
    call.Int(SE_RegFree, {VInt(id)});
}

TEST_F(RegexCalls, UnknownIdsAndBadPatterns) {
    LogCapture capture;
    EXPECT_EQ(Comp("a("), 0);
    EXPECT_EQ(call.Int(SE_RegComp, {VInt(1)}), 0);
    capture.Take();
    EXPECT_EQ(Exec(77, VText("a")), 0);
    EXPECT_EQ(Sub(77, "&"), "");
    EXPECT_EQ(Global(77, "a", "&"), "");
    EXPECT_EQ(call.Int(SE_RegFree, {VInt(77)}), 0);
    int32_t id = Comp("a");
    EXPECT_EQ(Exec(id, VInt(3)), 0);  // no text
    call.Int(SE_RegFree, {VInt(id)});
    EXPECT_EQ(Exec(id, VText("a")), 0);  // freed
}

TEST_F(RegexCalls, FreedWithTheStory) {
    int32_t id = Comp("b+");
    ASSERT_GT(id, 0);
    EXPECT_EQ(Exec(id, VText("abbb")), 1);
    // The story's end frees what the script left (the leak checker watches).
    SB_FreeLocation(ctx.get());
    call.task = nullptr;  // freed with the story
    EXPECT_EQ(Qel_TableGetCount(ctx->regexpTable), 0u);
}

}  // namespace

// --- end to end: calls linked by name from an assembled story ---

namespace {

const char* kTextStory = R"(
    end
.func "Fmt" need 8
    pushw 7
    pushs "ab"
    pushs "%s=%03d"
    c3
    sys "SE_SPrintf"
    ret
.func "Encode" need 8
    pushs "a<b"
    c1
    sys "SE_StringXMLEncode"
    ret
.func "Re" need 16
    pushs "a(b+)c"
    c1
    sys "SE_RegComp"
    pushds "xabbcx"
    getl 2
    c2
    sys "SE_RegExec"
    pop
    pushs "<\\1>"
    getl 2
    c2
    sys "SE_RegSub"
    setl 2
    pop
    ret
)";

TEST(TextStory, CallsByName) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kTextStory));
    for (auto [fn, expected] : {std::pair{"Fmt", "\"ab=007\""}, {"Encode", "\"a&lt;b\""}, {"Re", "\"<bb>\""}}) {
        r.answers.clear();
        EXPECT_EQ(r.Start(0, fn, {}, 3), 1);
        EXPECT_EQ(r.Only(), expected) << fn;
    }
    // The expression "Re" left compiled is freed with the story.
    EXPECT_EQ(Qel_TableGetCount(r.ctx()->regexpTable), 1u);
}

}  // namespace
