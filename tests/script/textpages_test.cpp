#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/markup.h"
#include "base/table.h"
#include "script/memory.h"
#include "script/textpages.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

class TextPagesTest : public testing::Test {
protected:
    void TearDown() override {
        SB_FreeTexts(ctx.get());
        for (QelTable* t : ctx->languages) EXPECT_EQ(t, nullptr);
        EXPECT_EQ(ctx->memBytes[SE_MEMCAT_TEXT_PAGES], 0);
        EXPECT_EQ(ctx->memBytes[SE_MEMCAT_TEXT], 0);
    }
    // Merges {id, text} pairs into a page.
    int Merge(int32_t language, int32_t page, const std::vector<std::pair<int32_t, std::string>>& texts) {
        std::vector<SB_TextImport> recs(texts.size());
        SB_TextImportList list{nullptr, nullptr};
        for (size_t i = 0; i < texts.size(); ++i) {
            recs[i] = SB_TextImport{nullptr, list.tail, texts[i].first, static_cast<uint32_t>(texts[i].second.size()),
                                    texts[i].second.c_str()};
            if (list.tail) list.tail->next = &recs[i];
            else list.head = &recs[i];
            list.tail = &recs[i];
        }
        return SB_MergeTextPage(ctx.get(), language, page, &list);
    }
    std::string Read(int32_t language, int32_t page, int32_t id) {
        const ScriptValue* v = SB_ReadText(ctx.get(), language, page, id);
        const char* t = v ? SV_GetString(v) : nullptr;
        return t ? t : "<none>";
    }
    int Import(const char* xml) {
        XmlNode* root = Qel_XmlParseString(xml);
        EXPECT_NE(root, nullptr);
        int r = XMLImportText(ctx.get(), root);
        Qel_XmlFreeNode(root);
        return r;
    }
    ScriptTestContext ctx;
};

TEST_F(TextPagesTest, MergedTextsAreFoundSortedById) {
    ASSERT_EQ(Merge(44, 17, {{30, "thirty"}, {3, "three"}, {12, "twelve"}}), 1);
    EXPECT_EQ(Read(44, 17, 3), "three");
    EXPECT_EQ(Read(44, 17, 12), "twelve");
    EXPECT_EQ(Read(44, 17, 30), "thirty");
    ASSERT_EQ(Merge(44, 17, {{5, "five"}}), 1);
    const SB_TextEntry* e = reinterpret_cast<SB_TextPage*>(Qel_TableGet(ctx->languages[44], 17))->entries;
    EXPECT_EQ(e[0].id, 3);
    EXPECT_EQ(e[1].id, 5);
    EXPECT_EQ(e[3].id, 30);
}

TEST_F(TextPagesTest, ReplacingATextKeepsItsRecord) {
    Merge(44, 1, {{7, "old"}});
    ScriptValue held{};
    SV_Copy(SB_ReadText(ctx.get(), 44, 1, 7), &held);
    Merge(44, 1, {{7, "new text"}, {8, "other"}});
    EXPECT_STREQ(SV_GetString(&held), "new text");
    EXPECT_EQ(held.dstring, SB_ReadText(ctx.get(), 44, 1, 7)->dstring);
    SV_Release(&held);
}

TEST_F(TextPagesTest, MissingLevelsAreLogged) {
    Merge(44, 17, {{3, "three"}});
    struct Case {
        int32_t language, page, id;
        const char* log;
    } cases[] = {
        {45, 17, 3, "SB_ReadText(17,45,3) TextPageTable for language 45 not found!\n"},
        {999, 17, 3, "SB_ReadText(17,999,3) TextPageTable for language 999 not found!\n"},
        {-1, 17, 3, "SB_ReadText(17,-1,3) TextPageTable for language -1 not found!\n"},
        {44, 18, 3, "SB_ReadText(18,44,3) TextPage 18 not found!\n"},
        {44, 17, 4, "SB_ReadText(17,44,4) TextID 4 not found!\n"},
    };
    for (const Case& c : cases) {
        LogCapture capture;
        EXPECT_EQ(SB_ReadText(ctx.get(), c.language, c.page, c.id), nullptr);
        EXPECT_NE(capture.Take().find(c.log), std::string::npos) << c.log;
    }
    EXPECT_EQ(Merge(999, 1, {{1, "x"}}), 0);
    EXPECT_EQ(Merge(-3, 1, {{1, "x"}}), 0);
}

TEST_F(TextPagesTest, GetTextInTheCurrentLanguage) {
    SetStaticStrings(ctx.get(), std::string("\0static text", 13));
    Merge(0, 2, {{1, "dynamic"}, {2, "becomes static"}});
    SV_AssignStaticString(SB_ReadText(ctx.get(), 0, 2, 2), 1);
    // Without a system state the current language is 0.
    ASSERT_EQ(g_SystemState, nullptr);
    EXPECT_STREQ(SB_GetText(2, 1), "dynamic");
    EXPECT_STREQ(SB_GetText(2, 2), "static text");
    LogCapture capture;
    EXPECT_STREQ(SB_GetText(9, 1), "=TextIDNotFound=");
    EXPECT_NE(capture.Take().find("TextPage 9 not found!"), std::string::npos);
    EXPECT_EQ(SB_FindTextInTable(ctx->languages[0], 2, 1), SB_ReadText(ctx.get(), 0, 2, 1));
    capture.Take();
    EXPECT_EQ(SB_FindTextInTable(ctx->languages[0], 2, 5), nullptr);
    EXPECT_EQ(SB_FindTextInTable(ctx->languages[1], 2, 1), nullptr);
    EXPECT_EQ(capture.Take(), "");
}

TEST_F(TextPagesTest, Unescape) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a(b)c", "ac"},
        {"a\\(b", "a(b"},
        {"a\\101", "aA"},
        {"line\nbreak", "line break"},
        {"\\n\\t\\r\\b", "\n\t\r\b"},
        {"(all gone)", ""},
        {"x\\q",
         "x"
         "q"},
        {"\\0", std::string(1, '\0')},
        {"((a)b", "b"},
        {"tail\\", "tail"},
        {"a(\\101)b", "ab"},
    };
    for (const Case& c : cases) {
        std::string buf = c.in;
        int32_t n = SB_UnescapeText(static_cast<int32_t>(buf.size()), buf.data());
        EXPECT_EQ(buf.substr(0, static_cast<size_t>(n)), c.out) << c.in;
    }
}

TEST_F(TextPagesTest, XmlImport) {
    LogCapture capture;
    EXPECT_EQ(Import(R"(<language id="44">
  <page id="300005"><t id="1">Hello(a remark)World</t><t id="2">Line\nTwo</t></page>
  <page id="400000"><t id="9">big</t></page>
  <page><t id="3">no page id</t></page>
</language>
<language id="0"><page id="1"><t id="1">refused</t></page></language>
<language id="1000"><page id="1"><t id="1">refused</t></page></language>
<language><page id="1"><t id="1">refused</t></page></language>)"),
              1);
    std::string log = capture.Take();
    EXPECT_EQ(Read(44, 5, 1), "HelloWorld");
    EXPECT_EQ(Read(44, 5, 2), "Line\nTwo");
    EXPECT_EQ(Read(44, 400000, 9), "big");
    EXPECT_EQ(Read(44, 0, 3), "no page id");
    EXPECT_EQ(ctx->languages[0], nullptr);
    EXPECT_EQ(ctx->languages[1], nullptr);
}

TEST_F(TextPagesTest, XmlImportSkipsTextsWithoutIdOrText) {
    LogCapture capture;
    Import(R"(<l id="7"><p id="1"><t>no id</t><t id="4"/><t id="5">ok</t></p><p id="2"></p></l>)");
    std::string log = capture.Take();
    EXPECT_EQ(Read(7, 1, 5), "ok");
    EXPECT_NE(log.find("XMLImportTextPage(7, 1) skipped text <t> without id or text\n"), std::string::npos) << log;
    const auto* page = reinterpret_cast<SB_TextPage*>(Qel_TableGet(ctx->languages[7], 1));
    EXPECT_EQ(page->count, 1u);
    // A page without texts is still made.
    EXPECT_NE(Qel_TableGet(ctx->languages[7], 2), 0u);
}

TEST_F(TextPagesTest, XmlImportOfAnotherRootImportsNothing) {
    XmlNode* root = Qel_XmlParseString(R"(<language id="44"><page id="1"><t id="1">x</t></page></language>)");
    ASSERT_NE(root, nullptr);
    XmlNode* notRoot = root->element->children.head;
    EXPECT_EQ(XMLImportText(ctx.get(), notRoot), 1);
    for (QelTable* t : ctx->languages) EXPECT_EQ(t, nullptr);
    Qel_XmlFreeNode(root);
}

TEST_F(TextPagesTest, LongTextsKeepTheirLength) {
    std::string text(70000, 'x');
    std::string xml = "<l id=\"3\"><p id=\"1\"><t id=\"1\">" + text + "</t></p></l>";
    LogCapture capture;
    Import(xml.c_str());
    capture.Take();
    EXPECT_EQ(Read(3, 1, 1).size(), 70000u);
}

}  // namespace
