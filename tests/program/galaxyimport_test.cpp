#include "program/galaxyimport.h"

#include <gtest/gtest.h>

#include <string>

#include "base/markup.h"
#include "base/strings.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

class GalaxyImport : public ::testing::Test {
protected:
    // Five types of every main type; ships 0 and 1 are named.
    void SetUp() override {
        for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m) SA_AppendTypeRecords(m, 5);
        SA_GetTypeRecord(7, 0)->name = Qel_StrReassign(nullptr, "scout");
        SA_GetTypeRecord(7, 1)->name = Qel_StrReassign(nullptr, "freighter");
    }
    void TearDown() override { SA_FreeObjectDB(); }
    // The display text of the import of the markup. With type, the markup's
    // first element is converted (not the parser's top) and its answer kept.
    std::string Import(const std::string& markup, int32_t version = 5, int32_t* type = nullptr) {
        XmlNode* root = Qel_XmlParseString(markup.c_str());
        EXPECT_NE(root, nullptr) << markup;
        if (!root) return "";
        ScriptValue out{};
        XmlNode* node = type ? root->element->children.head : root;
        const int32_t t = P_AssignGalaxy(&out, node, version);
        if (type) *type = t;
        std::string text = StoryRunner::Text(&out);
        SV_Release(&out);
        Qel_XmlFreeNode(root);
        return text;
    }
    StoryRunner runner_;  // the script context the arrays live in
};

TEST_F(GalaxyImport, EachTypeBuildsItsEntriesInOrder) {
    struct Case {
        const char* markup;
        int32_t version;
        const char* expected;
    };
    const Case cases[] = {
        {R"(<sector t="1" x="1" y="2" r="3" id="4" si="5" m="6" p="7" f="8"/>)", 5, "{1,1,2,3,4,5,6,7,8}"},
        {R"(<background t="2" s="3" ne="4" st="5"/>)", 5, "{2,3,4,5}"},
        {R"(<sun t="3" x="1" y="2" z="3" s="4" c="16744512" f="6"/>)", 5, "{3,1,2,3,4,16744512,6}"},
        // Before version 4 a sun's colour is three bytes, high to low.
        {R"(<sun t="3" x="1" y="2" z="3" s="4" c="16744512" f="6"/>)", 3, "{3,1,2,3,255,128,64,4,6}"},
        {R"(<planet t="4" x="1" y="2" z="3" s="4" c="5" fn="6" f="7"/>)", 3, "{4,1,2,3,4,6,7}"},
        {R"(<planet t="4" x="1" y="2" z="3" s="4" c="5" fn="6" f="7"/>)", 4, "{4,1,2,3,4,5,6,7}"},
        {R"(<ship t="7" x="1" y="2" z="3" s="freighter" r="5" id="6" n="7" f="8"/>)", 5, "{7,1,2,3,1,5,6,7,8}"},
        {R"(<ware t="9" x="1" s="2" id="3" f="4"/>)", 5, "{9,1,0,0,2,3,1,4}"},
        {R"(<ware t="8" s="2" i="3" n="9"/>)", 5, "{8,2,3}"},
        {R"(<ware t="12" s="2" n="-4"/>)", 5, "{12,2,1}"},
        {R"(<asteroid t="17" x="1" y="2" z="3" s="4" at="5" aa="6" b="7" id="8" n="9" f="10"/>)", 5,
         "{17,1,2,3,4,5,6,1,0,7,0,8,9,10}"},
        {R"(<debris t="28" s="4"/>)", 5, "{28,0,0,0,4,0,0,0,0,0,0,0,-1,0}"},
        {R"(<gate t="18" x="1" s="2" r="3" gi="4" gx="5" gy="6" gt="7" g="8" id="9" n="10" f="11"/>)", 5,
         "{18,1,0,0,2,3,4,5,6,7,1,0,0,8,9,10,11}"},
        {R"(<special t="20" x="1" s="2" a="3" id="4" n="5" v="6" f="7"/>)", 5, "{20,1,0,0,2,3,0,0,4,5,6,7}"},
        {R"(<special t="20" x="1" s="2" a="3" id="4" n="5" v="6" f="7"/>)", 4, "{20,1,0,0,2,3,0,0,4,5,7}"},
        {R"(<o t="21" x="1" id="2" si="3" o="4" b="5" fn="6" ff="7" h="8" n="-9" sh="10" hu="11" v="12" d0="13" )"
         R"(d7="14" d9="99" fc="1" f="15"/>)",
         5, "{21,1,0,0,2,3,4,5,6,7,8,0,10,11,12,13,0,0,0,0,0,0,14,15}"},
        {R"(<o t="24" s="3" e="Hello"/>)", 5, "{24,3,\"Hello\"}"},
        {R"(<o t="24" s="3"/>)", 5, "{24,3,0}"},
        {R"(<o t="26" s="3" v="7"/>)", 5, "{26,3,7}"},
        {R"(<o t="26" s="3" v="7" e="x"/>)", 5, "{26,3,\"x\"}"},
        // Defaults, and types without an array.
        {R"(<o/>)", 5, "0"},
        {R"(<o t="19" x="1"/>)", 5, "0"},
        {R"(<Sector/>)", 5, "0"},
        {R"(<SECTOR t="1"/>)", 5, "{1,0,0,0,0,10000000,0,-1,0}"},
        {R"(<gate t="18"/>)", 5, "{18,0,0,0,0,0,-1,-1,-1,-1,0,0,0,0,0,-1,0}"},
        // A subtype number is read as far as it goes and must name a type.
        {R"(<o t="2" s="3abc" ne="x7"/>)", 5, "{2,3,0,0}"},
        {R"(<o t="2" s="-12abc" ne="x7"/>)", 5, "{2,0,0,0}"},
        {R"(<o t="2" s="5"/>)", 5, "{2,0,0,0}"},
    };
    for (const Case& c : cases) EXPECT_EQ(Import(c.markup, c.version), c.expected) << c.markup;
}

TEST_F(GalaxyImport, TheSubtypeNameIsLookedUpUnderTheTypeReadSoFar) {
    EXPECT_EQ(Import(R"(<ship t="7" s="scout"/>)"), "{7,0,0,0,0,0,0,-1,0}");
    // "s" before "t": looked up under type -99, no valid main type.
    LogCapture log;
    EXPECT_EQ(Import(R"(<ship s="scout" t="7"/>)"), "{7,0,0,0,0,0,0,-1,0}");
    EXPECT_TRUE(log.Contains("SA_GetSubTypeByName(-99, 'scout') Invalid maintype\n"));
}

TEST_F(GalaxyImport, DocksShipsAndSectorsTakeTheirChildren) {
    int32_t type = 0;
    EXPECT_EQ(
        Import(R"(<dock t="5" s="2"><container t="23" s="1"/><container t="23" s="1"><o t="26" s="1"/></container>)"
               R"(</dock>)",
               5, &type),
        "{5,0,0,0,2,0,0,0,0,0,0,-1,0,1,0,1,{{26,1,0}}}");
    EXPECT_EQ(type, 5);
    EXPECT_EQ(Import(R"(<container t="23" s="4"><o t="24" s="1"/></container>)", 5, &type), "{{24,1,0}}");
    EXPECT_EQ(type, -8);
    // Every dummy subtype gives its own code.
    std::string children, expected = "{7,0,0,0,0,0,0,-1,0";
    const int codes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int s = 1; s <= 10; ++s) {
        children += "<container t=\"23\" s=\"" + std::to_string(s) + "\"/>";
        expected += "," + std::to_string(codes[s - 1]) + ",0";
    }
    EXPECT_EQ(Import("<ship t=\"7\">" + children + "</ship>"), expected + "}");

    // A child that is no dummy follows without a code.
    LogCapture log;
    EXPECT_EQ(Import(R"(<factory><o t="6"><planet t="4"/></o></factory>)"),
              "0");  // an unknown element name
    EXPECT_TRUE(log.Contains("P_AssignGalaxy() unknown atype factory\n"));
    EXPECT_EQ(Import(R"(<o t="6"><!-- c --><planet t="4"/>text</o>)"),
              "{6,0,0,0,0,0,0,0,0,0,0,-1,0,{4,0,0,0,0,0,0,0}}");
    EXPECT_TRUE(log.Contains("P_AssignGalaxy() Wrong container dummy type 4 in type 6 found!\n"));

    EXPECT_EQ(Import(R"(<sector t="1"><sun t="3"/><o t="24" s="1" e="a"/></sector>)"),
              "{1,0,0,0,0,10000000,0,-1,0,{3,0,0,0,0,0,0},{24,1,\"a\"}}");
}

TEST_F(GalaxyImport, TheUniverseChecksItsVersion) {
    int32_t type = -1;
    EXPECT_EQ(Import(R"(<universe><sector t="1"/><o t="24" s="2"/></universe>)"),
              "{{1,0,0,0,0,10000000,0,-1,0},{24,2,0}}");
    EXPECT_EQ(Import(R"(<universe><sector t="1"/><o t="24" s="2"/></universe>)", 5, &type),
              "{{1,0,0,0,0,10000000,0,-1,0},{24,2,0}}");
    EXPECT_EQ(type, 0);
    EXPECT_EQ(Import("<universe> </universe>"), "0");
    for (int32_t version : {0, 6}) {
        LogCapture log;
        EXPECT_EQ(Import(R"(<universe><sector t="1"/></universe>)", version), "0");
        EXPECT_TRUE(log.Contains("P_AssignGalaxy() Unknown format version " + std::to_string(version) +
                                 "! Current version is 5\n"));
    }
}

TEST_F(GalaxyImport, BadInputIsLoggedAndSkipped) {
    LogCapture log;
    // Unknown attributes, also ones that do not begin with a lower-case letter.
    EXPECT_EQ(Import(R"(<o t="24" q="1" Xs="2" s="3"/>)"), "{24,3,0}");
    EXPECT_TRUE(log.Contains("P_AssignGalaxy() Unknown XMLAttr found: q='1'\n"));
    EXPECT_TRUE(log.Contains("P_AssignGalaxy() Unknown XMLAttr found: Xs='2'\n"));
    // A nebula with a bad size gets the default sizes.
    EXPECT_EQ(Import(R"(<o t="21" si="9" o="4"/>)"), "{21,0,0,0,0,5000000,7500000,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0}");
    EXPECT_TRUE(log.Contains("Invalid nebula size: inner=9 outer=4\n"));
    // A container dummy with a subtype outside 1..10 is skipped.
    for (const char* s : {"0", "11", "-1"}) {
        log.Take();
        EXPECT_EQ(
            Import(std::string(R"(<dock t="5"><container t="23" s=")") + s + R"("/><container t="23" s="6"/></dock>)"),
            "{5,0,0,0,0,0,0,0,0,0,0,-1,0,6,0}")
            << s;
        EXPECT_TRUE(log.Contains("P_AssignGalaxy() Invalid container dummy subtype " + std::string(s))) << log.Text();
    }
    // Script-supplied nesting is bounded.
    std::string deep;
    for (int i = 0; i < GALAXY_MAX_DEPTH + 8; ++i) deep += R"(<container t="23" s="5">)";
    for (int i = 0; i < GALAXY_MAX_DEPTH + 8; ++i) deep += "</container>";
    log.Take();
    const std::string text = Import("<universe>" + deep + "</universe>");
    EXPECT_TRUE(log.Contains("nested deeper than 64 levels\n"));
    EXPECT_EQ(text.substr(0, 4), "{{{{");
}

}  // namespace
