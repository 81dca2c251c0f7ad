#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program/main.h"
#include "support/program.h"

namespace {

class OptionsTest : public testing::Test {
protected:
    ~OptionsTest() override { P_FreeOptions(&options_); }
    const ProgramOptions& Parse(std::vector<std::string> args) {
        ProgramArgs a(std::move(args));
        P_ParseOptions(a.argc(), a.argv(), &options_);
        return options_;
    }
    ProgramOptions options_{};
};

TEST_F(OptionsTest, DefaultsWithoutOptions) {
    const ProgramOptions& o = Parse({"-window", "unknown"});
    EXPECT_STREQ(o.gameStory, "trevanstory");
    EXPECT_STREQ(o.introStory, "trevanintro");
    EXPECT_STREQ(o.missionStory, "trevantutorial");
    EXPECT_STREQ(o.galaxyEditorStory, "trevangaledit");
    EXPECT_EQ(o.firstMode, -1);
    EXPECT_EQ(o.firstScene, 0);
    EXPECT_FALSE(o.noStartDialog);
    EXPECT_FALSE(o.profiling);
    EXPECT_EQ(o.loadStory, nullptr);
}

struct FlagCase {
    const char* arg;
    bool ProgramOptions::*flag;
    bool noStartDialog;
};

TEST_F(OptionsTest, FlagOptionsWithSlashOrDashInAnyCase) {
    const FlagCase cases[] = {
        {"-profi", &ProgramOptions::profiling, false},       {"/PROFI", &ProgramOptions::profiling, false},
        {"-noabout", &ProgramOptions::noStartDialog, true},  {"/NoAbout", &ProgramOptions::noStartDialog, true},
        {"-cutcapture", &ProgramOptions::cutCapture, false}, {"/CUTCAPTURE", &ProgramOptions::cutCapture, false},
        {"-effect", &ProgramOptions::effectViewer, true},    {"/Effect", &ProgramOptions::effectViewer, true},
    };
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(c.arg);
        const ProgramOptions& o = Parse({c.arg});
        EXPECT_TRUE(o.*c.flag);
        EXPECT_EQ(o.noStartDialog, c.noStartDialog);
    }
    // Neither a prefix nor a longer word matches.
    EXPECT_FALSE(Parse({"-prof"}).profiling);
    EXPECT_FALSE(Parse({"-profile"}).profiling);
    EXPECT_FALSE(Parse({"profi"}).profiling);
}

struct NameCase {
    const char* option;
    char* ProgramOptions::*name;
    bool noStartDialog;
};

TEST_F(OptionsTest, NameOptionsTakeTheNextArgument) {
    const NameCase cases[] = {
        {"location", &ProgramOptions::gameStory, false},    {"intro", &ProgramOptions::introStory, false},
        {"tutorial", &ProgramOptions::missionStory, false}, {"galedit", &ProgramOptions::galaxyEditorStory, false},
        {"load", &ProgramOptions::loadStory, false},        {"body", &ProgramOptions::bodyViewer, true},
        {"cut", &ProgramOptions::cutViewer, true},          {"plotscene", &ProgramOptions::plotSceneViewer, true},
    };
    for (const NameCase& c : cases) {
        for (const char* prefix : {"-", "/"}) {
            SCOPED_TRACE(std::string(prefix) + c.option);
            const ProgramOptions& o = Parse({std::string(prefix) + c.option, "Some\\Name.txt"});
            ASSERT_NE(o.*c.name, nullptr);
            EXPECT_STREQ(o.*c.name, "Some\\Name.txt");
            EXPECT_EQ(o.noStartDialog, c.noStartDialog);
        }
    }
}

TEST_F(OptionsTest, NumbersOfObjAndPar) {
    const ProgramOptions& o = Parse({"-obj", "5", "/par", "77"});
    EXPECT_EQ(o.firstMode, 5);
    EXPECT_EQ(o.firstScene, 77);
    EXPECT_EQ(Parse({"-obj", "-1"}).firstMode, -1);
    EXPECT_EQ(Parse({"-obj", "12abc"}).firstMode, 12);
    EXPECT_EQ(Parse({"-par", "none"}).firstScene, 0);
}

TEST_F(OptionsTest, AValueOptionGivenLastIsIgnored) {
    const ProgramOptions& o = Parse({"-intro", "myintro", "-location"});
    EXPECT_STREQ(o.introStory, "myintro");
    EXPECT_STREQ(o.gameStory, "trevanstory");
    const ProgramOptions& viewer = Parse({"-body"});
    EXPECT_EQ(viewer.bodyViewer, nullptr);
    EXPECT_FALSE(viewer.noStartDialog);
}

TEST_F(OptionsTest, AValueIsStillLookedAtAsAnOption) {
    // "-noabout" is the value of "-location" and an option in its own turn.
    const ProgramOptions& o = Parse({"-location", "-noabout"});
    EXPECT_STREQ(o.gameStory, "-noabout");
    EXPECT_TRUE(o.noStartDialog);
}

TEST_F(OptionsTest, ALaterOptionReplacesAnEarlierOne) {
    const ProgramOptions& o = Parse({"-intro", "first", "-INTRO", "second", "-obj", "3", "-obj", "4"});
    EXPECT_STREQ(o.introStory, "second");
    EXPECT_EQ(o.firstMode, 4);
}

}  // namespace
