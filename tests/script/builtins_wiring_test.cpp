#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"

// End to end: the text-file, file, markup and clock calls linked by name from
// an assembled story. Arguments are pushed last first, then their count.

namespace {

void ExpectAnswers(StoryRunner& r, std::initializer_list<std::pair<const char*, const char*>> cases) {
    for (auto [fn, expected] : cases) {
        r.answers.clear();
        EXPECT_EQ(r.Start(0, fn, {}, 3), 1) << fn;
        EXPECT_EQ(r.Only(), expected) << fn;
    }
}

const char* kTextStory = R"(
    end
.func "Load" need 8
    pushl 44017
    c1
    sys "SE_LoadText"
    ret
.func "Page" need 8
    pushw 17
    c1
    sys "SE_LoadTextPage"
    ret
.func "PageIn" need 8
    pushw 44
    pushw 17
    c2
    sys "SE_LoadTextPage"
    ret
.func "Missing" need 8
    pushw 44
    pushw 18
    c2
    sys "SE_LoadTextPage"
    ret
.func "Convert" need 8
    pushs "<{17,3}|{0,3}|{17,9}>"
    c1
    sys "SE_ConvertFormatString"
    ret
.func "Save" need 8
    pushs "all"
    c1
    sys "SE_SaveAllTexts"
    ret
.func "Free" need 8
    c0
    sys "SE_FreeText"
    ret
.func "LoadAll" need 8
    pushs "all"
    c1
    sys "SE_LoadAllTexts"
    ret
.func "LoadNone" need 8
    pushs "none"
    c1
    sys "SE_LoadAllTexts"
    ret
.func "Read44" need 8
    c1
    pushw 44
    c0
    c3
    sys "SE_ReadText"
    ret
.func "Read17" need 8
    c3
    pushw 17
    c2
    sys "SE_ReadText"
    ret
)";

TEST(WiringStory, TextFileCalls) {
    TempGameFolder game;
    game.Write("T/44000.txt", "1 \"page zero\"\n");
    game.Write("T/17.txt", "3 \"three {17,4}\"\n4 \"four\"\n");
    game.Write("T/44017.txt", "3 \"drei\"\n");
    game.Write("tc/keep", "");
    StoryRunner r;
    ASSERT_TRUE(r.Load(kTextStory));
    LogCapture capture;
    ExpectAnswers(r, {
                         {"Load", "1"},  // language 44, page 0
                         {"Read44", "\"page zero\""},
                         {"Page", "1"},  // the current language
                         {"PageIn", "1"},
                         {"Missing", "0"},
                         {"Convert", "\"<three four|{0,3}|=TextIDNotFound=>\""},
                         {"Save", "1"},
                         {"Free", "0"},
                         {"Read17", "\"ReadText17-3\""},
                         {"LoadAll", "1"},
                         {"Read17", "\"three {17,4}\""},
                         {"Read44", "\"page zero\""},
                         {"LoadNone", "0"},
                     });
    std::string log = capture.Take();
    EXPECT_THAT(log, testing::HasSubstr("SB_LoadAllTexts() Unable to open text save file tc\\none.txc"));
}

const char* kFileStory = R"(
    end
.func "Write" need 8
    pushs "hello"
    pushs "f.txt"
    c2
    sys "SE_WriteFile"
    ret
.func "Read" need 8
    pushs "f.txt"
    c1
    sys "SE_ReadFile"
    ret
.func "Size" need 8
    pushs "f.txt"
    c1
    sys "SE_FSize"
    ret
.func "Move" need 8
    pushs "g.txt"
    pushs "f.txt"
    c2
    sys "SE_MoveFile"
    ret
.func "Delete" need 8
    pushs "g.txt"
    c1
    sys "SE_DeleteFile"
    ret
)";

TEST(WiringStory, FileCalls) {
    TempGameFolder game;
    StoryRunner r;
    ASSERT_TRUE(r.Load(kFileStory));
    ExpectAnswers(r, {{"Write", "5"}, {"Read", "\"hello\""}, {"Size", "5"}, {"Move", "1"}});
    EXPECT_EQ(game.Read("g.txt"), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o'}));
    ExpectAnswers(r, {{"Delete", "1"}, {"Size", "-1"}});
}

const char* kMarkupAndClockStory = R"(
    end
.func "Export" need 8
    pushw 7
    c1
    sys "SE_XMLExportValue"
    ret
.func "RoundTrip" need 8
    pushw 7
    c1
    sys "SE_XMLExportValue"
    c1
    sys "SE_XMLImportValue"
    ret
.func "CTime" need 8
    c0
    c1
    sys "SE_CTime"
    ret
)";

TEST(WiringStory, MarkupAndClockCalls) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kMarkupAndClockStory));
    ExpectAnswers(r, {{"Export", "\"<sval type=\"int\" val=\"7\" />\""},
                      {"RoundTrip", "7"},
                      {"CTime", "\"Thu Jan  1 00:00:00 1970\""}});
}

}  // namespace
