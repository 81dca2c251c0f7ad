#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/strings.h"
#include "base/table.h"
#include "script/memory.h"
#include "script/textfiles.h"
#include "script/textpages.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/story.h"

using testing::HasSubstr;

namespace {

std::string Show(const ScriptValue* v) {
    if (!v) return "<none>";
    ScriptValue cell{};
    std::string s = SV_ToString(&cell, v);
    SV_Release(&cell);
    return s;
}

std::string Text(SE_Context* ctx, int32_t language, int32_t page, int32_t id) {
    const ScriptValue* v = SB_FindTextInTable(ctx->languages[language], page, id);
    const char* t = v ? SV_GetString(v) : nullptr;
    return t ? t : "<none>";
}

std::string Convert(const char* text) {
    char* s = SB_ConvertFormatString(text);
    std::string r = s ? s : "<null>";
    Qel_StrFree(s);
    return r;
}

class TextFilesTest : public testing::Test {
protected:
    // A context without a story keeps its texts until they are freed.
    void TearDown() override {
        g_SEContext = ctx.get();
        SB_FreeTexts(ctx.get());
    }

    TempGameFolder game;
    ScriptTestContext ctx;
};

TEST_F(TextFilesTest, TextFileLinesParse) {
    game.Write("T/44017.txt",
               "// a comment line\n"
               "# 7 \"also a comment\"\n"
               "12 \"Hello(a remark)World\"\n"
               "0 \"id zero is skipped\"\n"
               "5 no opening quote\n"
               "   10 \"indented\"\n"
               "3 \"a\\nb\\tc\\101\\\\\\\"q\\(x\\)\\r\\b\\9\"\n"
               "4 \"first \"\n"
               "     \"second\"   \"third\"\n"
               "6 \"runs to the line end\n"
               "9 \"next line\"  // trailing words\n"
               "11 \"\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 17, 44), 1);
    struct Case {
        int32_t id;
        std::string text;
    };
    const Case cases[] = {
        {12, "HelloWorld"},
        {10, "indented"},
        {3, "a\nb\tcA\\\"q(x)\r\b9"},
        {4, "first secondthird"},
        {6, "runs to the line end"},
        {9, "next line"},
        {11, ""},
        {0, "<none>"},
        {5, "<none>"},
        {7, "<none>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Text(ctx.get(), 44, 17, c.id), c.text) << c.id;
    EXPECT_EQ(reinterpret_cast<SB_TextPage*>(Qel_TableGet(ctx->languages[44], 17))->count, 7u);
}

TEST_F(TextFilesTest, RedefinedTextKeepsItsRecord) {
    game.Write("T/1002.txt", "7 \"old\"\n8 \"eight\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 2, 1), 1);
    ScriptValue held{};
    SV_Copy(SB_FindTextInTable(ctx->languages[1], 2, 7), &held);
    game.Write("T/1002.txt", "7 \"new text\"\n1 \"one\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 2, 1), 1);
    const ScriptValue* now = SB_FindTextInTable(ctx->languages[1], 2, 7);
    EXPECT_EQ(now->dstring, held.dstring);
    EXPECT_EQ(Show(&held), "\"new text\"");
    EXPECT_EQ(held.dstring->length, 8u);
    EXPECT_EQ(Text(ctx.get(), 1, 2, 1), "one");
    EXPECT_EQ(Text(ctx.get(), 1, 2, 8), "eight");
    SV_Release(&held);
}

TEST_F(TextFilesTest, MissingFileOrLanguageOutsideTheSlotsChangesNothing) {
    game.Write("T/999001.txt", "1 \"far\"\n");
    EXPECT_EQ(SB_LoadText(ctx.get(), 1, 44), 0);
    EXPECT_EQ(SB_LoadText(ctx.get(), 1, 999), 0);
    EXPECT_EQ(SB_LoadText(ctx.get(), 1, -1), 0);
    for (QelTable* t : ctx->languages) EXPECT_EQ(t, nullptr);
}

// The text save file of one text, written out by hand.
std::vector<uint8_t> OneTextFile(uint32_t slots, const char* endCookie) {
    std::vector<uint8_t> b;
    auto word = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
    };
    auto raw = [&](const char* s, size_t n) { b.insert(b.end(), s, s + n); };
    raw("TSAV", 4);
    word(slots);
    for (uint32_t i = 0; i < slots; ++i) {
        if (i != 1) {
            word(0);
            continue;
        }
        word(1);  // pages
        word(2);  // page id
        word(1);  // texts
        word(3);  // text id
        word(2);
        raw("ab", 2);
    }
    raw(endCookie, 4);
    return b;
}

TEST_F(TextFilesTest, TextSaveFileHasItsLayout) {
    game.Write("T/1002.txt", "3 \"ab\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 2, 1), 1);
    game.Write("tc/keep", "");
    ASSERT_EQ(SB_SaveAllTexts("one"), 1);
    EXPECT_EQ(game.Read("tc/one.txc"), OneTextFile(999, "/TSA"));
}

TEST_F(TextFilesTest, TextSaveFileRoundTripReplacesTheSlotsItHolds) {
    SetStaticStrings(ctx.get(), std::string("\0static text\0", 13));
    game.Write("T/1002.txt", "3 \"three\"\n4 \"four\"\n");
    game.Write("T/44000.txt", "1 \"page zero\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 2, 1), 1);
    ASSERT_EQ(SB_LoadText(ctx.get(), 0, 44), 1);
    // Texts of the story's own strings are written with their text.
    SV_AssignStaticString(SB_FindTextInTable(ctx->languages[1], 2, 4), 1);
    game.Write("tc/keep", "");
    ASSERT_EQ(SB_SaveAllTexts("all"), 1);

    ScriptTestContext other;  // current while it lives
    game.Write("T/1005.txt", "1 \"replaced with its slot\"\n");
    game.Write("T/7005.txt", "1 \"slot the file leaves alone\"\n");
    ASSERT_EQ(SB_LoadText(other.get(), 5, 1), 1);
    ASSERT_EQ(SB_LoadText(other.get(), 5, 7), 1);
    ASSERT_EQ(SB_LoadAllTexts(other.get(), "all"), 1);
    EXPECT_EQ(Text(other.get(), 1, 2, 3), "three");
    EXPECT_EQ(Text(other.get(), 1, 2, 4), "static text");
    EXPECT_EQ(Text(other.get(), 44, 0, 1), "page zero");
    EXPECT_EQ(Text(other.get(), 1, 5, 1), "<none>");
    EXPECT_EQ(Text(other.get(), 7, 5, 1), "slot the file leaves alone");
    SB_FreeTexts(other.get());
}

TEST_F(TextFilesTest, MalformedTextSaveFilesAreRefused) {
    game.Write("tc/keep", "");
    std::vector<uint8_t> cut = OneTextFile(999, "/TSA");
    cut.resize(4 + 4 + 4 + 4 + 4 + 4 + 4);  // into slot 1's page
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
        std::string kept;
    };
    std::vector<uint8_t> cookie = OneTextFile(999, "/TSA");
    cookie[0] = 'X';
    const Case cases[] = {
        {"cookie", cookie, "SB_LoadAllTexts() Wrong cookie in save file!", "old"},
        {"end cookie", OneTextFile(999, "/TSX"), "SB_LoadAllTexts() Wrong end cookie in save file!", "ab"},
        {"slots", OneTextFile(1000, "/TSA"), "1000 language slots in save file, at most 999!", "old"},
        {"cut", cut, "SB_LoadAllTexts() Wrong end cookie in save file!", "<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        game.Write("T/1002.txt", "3 \"old\"\n");
        SB_FreeTexts(ctx.get());
        ASSERT_EQ(SB_LoadText(ctx.get(), 2, 1), 1);
        game.WriteBytes("tc/bad.txc", c.bytes);
        LogCapture capture;
        EXPECT_EQ(SB_LoadAllTexts(ctx.get(), "bad"), 0);
        EXPECT_THAT(capture.Take(), HasSubstr(c.message));
        EXPECT_EQ(Text(ctx.get(), 1, 2, 3), c.kept);
    }
    LogCapture capture;
    EXPECT_EQ(SB_LoadAllTexts(ctx.get(), "missing"), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("SB_LoadAllTexts() Unable to open text save file tc\\missing.txc"));
    capture.Take();
    EXPECT_EQ(SB_SaveAllTexts("no/such/folder"), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("SB_SaveAllTexts() Unable to open text save file"));
}

TEST_F(TextFilesTest, TextReferencesExpand) {
    game.Write("T/17.txt",
               "3 \"third\"\n"
               "4 \"[{17,3}]\"\n"
               "5 \"me {17,5}\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 17, 0), 1);
    struct Case {
        const char* text;
        std::string expanded;
    };
    const Case cases[] = {
        {"a {17,3} b {0,5} c", "a third b {0,5} c"},
        {"{ 17 , 4 }!", "[third]!"},
        {"{17,99}", "=TextIDNotFound="},
        {"x}y{17,3}", "x}y{17,3}"},
        {"{no comma}", "{no comma}"},
        {"{17,3", "{17,3"},
        {"", ""},
    };
    LogCapture capture;
    for (const Case& c : cases) EXPECT_EQ(Convert(c.text), c.expanded) << c.text;
    capture.Take();
    EXPECT_EQ(Convert(nullptr), "");
    // A text that refers to itself stops at the depth limit, keeping the reference.
    std::string self;
    for (int32_t i = 0; i < SB_TEXT_REFERENCE_DEPTH; ++i) self += "me ";
    EXPECT_EQ(Convert("{17,5}"), self + "{17,5}");
}

TEST_F(TextFilesTest, TextsThatReferToThemselvesManyTimesStop) {
    const std::string chunk(1000, 'x');
    game.Write("T/17.txt", "6 \"{17,6}{17,6}{17,6}{17,6}\"\n7 \"" + chunk + "{17,7}{17,7}\"\n");
    ASSERT_EQ(SB_LoadText(ctx.get(), 17, 0), 1);
    struct Case {
        const char* text;
        std::string logged;
    };
    const Case cases[] = {
        {"{17,6}", "stopped after " + std::to_string(SB_TEXT_REFERENCE_EXPANSIONS) + " text references"},
        {"{17,7}", "references and " + std::to_string(SB_TEXT_EXPANSION_BYTES) + " bytes"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        std::string out = Convert(c.text);
        EXPECT_LE(out.size(), SB_TEXT_EXPANSION_BYTES) << c.text;
        EXPECT_TRUE(log.Contains("SB_ConvertFormatString() stopped after ")) << log.Text();
        EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
    }
}

}  // namespace
