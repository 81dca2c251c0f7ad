#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "base/catalog.h"
#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

std::string LoadText(const char* name) {
    auto* p = static_cast<char*>(Qel_LoadFile(name));
    if (!p) return "<null>";
    std::string s(p, g_QelLastFileSize);
    Int_FreeMem(p, g_QelLastFileSize, 0);
    return s;
}

// A catalog index written from raw text, with an empty data file.
void WriteIndex(const TempGameFolder& game, const std::string& name, const std::string& text) {
    std::string error;
    ASSERT_TRUE(Tool_WriteCatalogIndex(game.Path() + "/" + name, text, &error)) << error;
    std::string dat = name;
    dat[dat.size() - 3] = 'd';
    game.Write(dat, "");
}

}  // namespace

TEST(InitGeneral, StartValues) {
    TempGameFolder game;
    GeneralSession session;
    SystemState* s = session.State();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(g_SystemState, s);
    EXPECT_EQ(s->soundFlags, 3u | 0x100u);  // the settings start adds 0x100
    EXPECT_EQ(s->startFlags, QEL_START_CATALOGS | QEL_START_PACKED);
    EXPECT_EQ(s->languageId, 44);
    EXPECT_EQ(s->gameTimeScale, 0x10000);
    EXPECT_EQ(s->Num3DSounds, 6);
    EXPECT_EQ(s->lowerFpsLimit, 10.0);
    EXPECT_EQ(s->upperFpsLimit, 25.0);
    EXPECT_EQ(s->furtherWord, 50);
    EXPECT_EQ(s->fontScale, 1);
    EXPECT_STREQ(s->captureFolder, "screenshots");
    EXPECT_EQ(s->argc, 1);
    EXPECT_EQ(s->catalogSlotCount, 1);  // no catalogs: the mod slot only
}

struct OptionCase {
    const char* label;
    std::vector<std::string> args;
    void (*check)(const SystemState*);
};

class Options : public testing::TestWithParam<OptionCase> {};

TEST_P(Options, Apply) {
    TempGameFolder game;
    testing::internal::CaptureStdout();
    LogCapture capture;
    GeneralSession session(GetParam().args);
    capture.Take();
    testing::internal::GetCapturedStdout();
    ASSERT_NE(session.State(), nullptr);
    GetParam().check(session.State());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Options,
    testing::Values(
        OptionCase{"size",
                   {"-x", "800", "-y", "600", "-z", "32"},
                   [](const SystemState* s) {
                       EXPECT_EQ(s->width, 800);
                       EXPECT_EQ(s->height, 600);
                       EXPECT_EQ(s->depth, 32);
                   }},
        OptionCase{"any_case", {"-HICOL"}, [](const SystemState* s) { EXPECT_EQ(s->depth, 16); }},
        OptionCase{"truecol", {"-truecol"}, [](const SystemState* s) { EXPECT_EQ(s->depth, 24); }},
        OptionCase{
            "video",
            {"-3", "-window", "-double", "-ramp"},
            [](const SystemState* s) { EXPECT_EQ(s->videoFlags, 0x100u | 0x2000000 | 0x8000000 | 0x20 | 0x4000000); }},
        OptionCase{"video_off",
                   {"-window", "-ramp", "-fullscreen", "-rgb"},
                   [](const SystemState* s) { EXPECT_EQ(s->videoFlags, 0x100u); }},
        OptionCase{"mipmap", {"+mipmap"}, [](const SystemState* s) { EXPECT_EQ(s->textureFlags, 0x2000000u); }},
        OptionCase{"no_mipmap", {"+mipmap", "-mipmap"}, [](const SystemState* s) { EXPECT_EQ(s->textureFlags, 0u); }},
        OptionCase{"sound", {"-s", "-m"}, [](const SystemState* s) { EXPECT_EQ(s->soundFlags, 0x100u | 4u | 8u); }},
        OptionCase{"language", {"-language", "49"}, [](const SystemState* s) { EXPECT_EQ(s->languageId, 49); }},
        OptionCase{"fontscale", {"-fontscale", "2"}, [](const SystemState* s) { EXPECT_EQ(s->fontScale, 2); }},
        OptionCase{"tools",
                   {"-generaterdf", "-convertbodies", "-dumpusedbodies"},
                   [](const SystemState* s) { EXPECT_EQ(s->SysProfilingFlags & 0x1C00u, 0x1C00u); }},
        OptionCase{"managed", {"-managed"}, [](const SystemState* s) { EXPECT_EQ(s->deviceFlags, 8u); }},
        OptionCase{
            "no_packed", {"+r", "+d"}, [](const SystemState* s) { EXPECT_EQ(s->startFlags & QEL_START_PACKED, 0u); }},
        // The settings start has set the default width, 1024.
        OptionCase{"unknown", {"-bogus", "800"}, [](const SystemState* s) { EXPECT_EQ(s->width, 1024); }},
        OptionCase{"value_last", {"-x"}, [](const SystemState* s) { EXPECT_EQ(s->width, 1024); }},
        OptionCase{"no_number", {"-x", "wide"}, [](const SystemState* s) { EXPECT_EQ(s->width, 0); }}),
    [](const testing::TestParamInfo<OptionCase>& i) { return std::string(i.param.label); });

TEST(InitGeneral, SoundOptionsAnnounceThemselves) {
    TempGameFolder game;
    testing::internal::CaptureStdout();
    GeneralSession session({"-s", "-m"});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Sound effects disabled\nMusic disabled\n");
}

TEST(InitGeneral, ValueOptionAtTheEndIsLoggedAndIgnored) {
    TempGameFolder game;
    LogCapture capture;
    GeneralSession session({"-language"});
    std::string log = capture.Take();
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(session.State()->languageId, 44);
    EXPECT_NE(log.find("option -language without a value ignored"), std::string::npos) << log;
}

TEST(InitGeneral, VideoOptionsNeedTheDescriptorsConsent) {
    TempGameFolder game;
    AppDescriptor app = *TestAppDescriptor();
    app.flags = 1;  // bit 0 set, bit 1 clear: the video options are not taken
    {
        GeneralSession session({"-x", "800", "-window", "-language", "7"}, &app);
        EXPECT_EQ(session.State()->width, 1024);  // the settings' default
        EXPECT_EQ(session.State()->videoFlags, 0x100u);
        EXPECT_EQ(session.State()->languageId, 7);
    }
    app.flags = 3;
    GeneralSession session({"-x", "800"}, &app);
    EXPECT_EQ(session.State()->width, 800);
}

TEST(InitGeneral, IgnoreJoystickTable) {
    TempGameFolder game;
    memset(g_IgnoreJoystick, 0, sizeof g_IgnoreJoystick);
    GeneralSession session({"-ignorejoy", "0", "-ignorejoy", "33", "-ignorejoy", "32", "-ignorejoy", "1"});
    for (int i = 0; i < 33; ++i) EXPECT_EQ(g_IgnoreJoystick[i], (i == 1 || i == 32) ? 1 : 0) << i;
    memset(g_IgnoreJoystick, 0, sizeof g_IgnoreJoystick);
}

struct LangCase {
    const char* text;
    int id;
};

TEST(InitGeneral, LanguageFile) {
    for (LangCase c : {LangCase{"49\r\n", 49}, LangCase{"7", 7}, LangCase{"abc", 44}, LangCase{"", 44},
                       LangCase{"33 and more", 33}}) {
        TempGameFolder game;
        game.Write("lang.dat", c.text);
        GeneralSession session;
        ASSERT_NE(session.State(), nullptr);
        EXPECT_EQ(session.State()->languageId, c.id) << c.text;
    }
    // The option wins over the file.
    TempGameFolder game;
    game.Write("LANG.DAT", "49");
    GeneralSession session({"-language", "33"});
    EXPECT_EQ(session.State()->languageId, 33);
}

TEST(InitGeneral, LogFileOption) {
    TempGameFolder game;
    {
        GeneralSession session({"-o", "Trace.log", "-s"});
        ASSERT_NE(session.State(), nullptr);
        Qel_ErrPrintf("a line for the log\n");
    }
    std::vector<uint8_t> bytes = game.Read("Trace.log");
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind(" * Ausgabe\n * Version: ", 0), 0u) << text;
    EXPECT_NE(text.find(" * Aufruf: trevan -o Trace.log -s\n *\n"), std::string::npos) << text;
    EXPECT_NE(text.find("a line for the log\n"), std::string::npos) << text;
}

TEST(InitGeneralDeathTest, LogFileThatCannotBeCreatedEndsTheProgram) {
    TempGameFolder game;
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(GeneralSession session({"-o", "no/such/folder/log.txt"}), testing::ExitedWithCode(1),
                "INIT:unable to write to file: no/such/folder/log.txt");
}

TEST(InitGeneral, WorkingFolderOption) {
    TempGameFolder game;
    std::filesystem::create_directories("Sub/Game");
    game.Write("Sub/Game/lang.dat", "50");
    GeneralSession session({"-w", "sub/game"});
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(std::filesystem::current_path().filename(), "Game");
}

TEST(InitGeneral, PrimaryCatalogsAreCountedAndLoaded) {
    TempGameFolder game;
    game.WriteCatalog("01.cat", Members({{"a.txt", "one"}, {"shared.txt", "from 01"}}));
    game.WriteCatalog("02.cat", Members({{"b.txt", "two"}, {"shared.txt", "from 02"}}));
    game.WriteCatalog("04.cat", Members({{"c.txt", "four"}}));
    LogCapture capture;
    GeneralSession session;
    capture.Take();
    SystemState* s = session.State();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->catalogSlotCount, 3);
    ASSERT_NE(s->catalogs[0], nullptr);
    ASSERT_NE(s->catalogs[1], nullptr);
    EXPECT_EQ(s->catalogs[2], nullptr);
    EXPECT_EQ(s->catalogs[0]->kind, QEL_CATALOG_PRIMARY);
    EXPECT_STREQ(s->catalogs[1]->dataFileName, "02.dat");
    EXPECT_EQ(LoadText("shared.txt"), "from 02");
    EXPECT_EQ(s->currentCatalog, 1);
    EXPECT_EQ(LoadText("a.txt"), "one");
    EXPECT_EQ(s->currentCatalog, 0);
    EXPECT_EQ(LoadText("c.txt"), "<null>");
}

TEST(LoadCatalog, IndexLinesOffsetsAndOrder) {
    TempGameFolder game;
    GeneralSession session;
    SystemState* s = session.State();
    ASSERT_NE(s, nullptr);
    // Header, members in index order, comments, blank-led and empty lines, and
    // every kind of line end.
    std::string index =
        "zz.txt 5\r\n"
        "Zeta/Last.TXT 3\n"
        "#comment 4\r"
        " blank 9\n\r"
        "\n"
        "alpha\\first.txt\t2\r\n"
        "with blank.txt 4";
    WriteIndex(game, "07.cat", index);
    ASSERT_EQ(Qel_LoadCatalog(0, "07.cat", 0), 1);
    QelCatalog* cat = s->catalogs[0];
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(cat->kind, QEL_CATALOG_SECONDARY);
    ASSERT_EQ(cat->count, 3u);
    // Sorted by name; offsets follow the index order.
    EXPECT_STREQ(cat->entries[0].name, "alpha\\first.txt");
    EXPECT_EQ(cat->entries[0].offset, 3u);
    EXPECT_EQ(cat->entries[0].size, 2u);
    EXPECT_STREQ(cat->entries[1].name, "with blank.txt");
    EXPECT_EQ(cat->entries[1].offset, 5u);
    EXPECT_STREQ(cat->entries[2].name, "zeta\\last.txt");
    EXPECT_EQ(cat->entries[2].offset, 0u);
    EXPECT_STREQ(cat->dataFileName, "07.dat");
    EXPECT_EQ(Qel_CatalogFind("ZZ.TXT"), nullptr);  // the header line is no member
    EXPECT_NE(Qel_CatalogFind("Zeta/last.txt"), nullptr);
}

TEST(LoadCatalog, BlanksAfterTheSizeAreTolerated) {
    TempGameFolder game;
    GeneralSession session;
    SystemState* s = session.State();
    ASSERT_NE(s, nullptr);
    WriteIndex(game, "01.cat", "header\na.txt 5 \nb.txt\t3\t \t\r\nc d.txt 2  \n");
    ASSERT_EQ(Qel_LoadCatalog(0, "01.cat", 1), 1);
    QelCatalog* cat = s->catalogs[0];
    ASSERT_EQ(cat->count, 3u);
    EXPECT_STREQ(cat->entries[0].name, "a.txt");
    EXPECT_EQ(cat->entries[0].size, 5u);
    EXPECT_STREQ(cat->entries[1].name, "b.txt");
    EXPECT_EQ(cat->entries[1].offset, 5u);
    EXPECT_EQ(cat->entries[1].size, 3u);
    EXPECT_STREQ(cat->entries[2].name, "c d.txt");
    EXPECT_EQ(cat->entries[2].offset, 8u);
    EXPECT_EQ(cat->entries[2].size, 2u);
}

struct BadIndexCase {
    const char* label;
    const char* name;
    std::string text;
    const char* message;
};

class BadIndex : public testing::TestWithParam<BadIndexCase> {};

TEST_P(BadIndex, IsRejectedAndTheStateSurvives) {
    const BadIndexCase& c = GetParam();
    TempGameFolder game;
    GeneralSession session;
    SystemState* s = session.State();
    ASSERT_NE(s, nullptr);
    WriteIndex(game, c.name, c.text);
    int64_t before = Int_GetMemUsed();
    LogCapture capture;
    EXPECT_EQ(Qel_LoadCatalog(0, c.name, 1), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    EXPECT_EQ(g_SystemState, s);
    EXPECT_EQ(s->catalogs[0], nullptr);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

static std::string ManyEntries(int n) {
    std::string t = "header\n";
    for (int i = 0; i < n; ++i) t += "f" + std::to_string(i) + " 0\n";
    return t;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadIndex,
    testing::Values(BadIndexCase{"no_separator", "01.cat", "h\nnoseparator\n", "has no name and size"},
                    BadIndexCase{"no_size", "01.cat", "h\nname \n", "has no name and size"},
                    BadIndexCase{"only_blanks_after_name", "01.cat", "h\nname \t \n", "has no name and size"},
                    BadIndexCase{"bad_size", "01.cat", "h\nname 12x\n", "has no name and size"},
                    BadIndexCase{"size_overflow", "01.cat", "h\nname 99999999999\n", "has no name and size"},
                    BadIndexCase{"too_large", "01.cat", "h\na 4000000000\nb 4000000000\n", "exceed 4 GB"},
                    BadIndexCase{"too_many", "01.cat", ManyEntries(65536), "at most 65535"},
                    BadIndexCase{"short_name", "cat", "h\na 1\n", "Catalogname entspricht nicht den konventionen!"},
                    BadIndexCase{"no_extension", "catalog", "h\na 1\n",
                                 "Catalogname entspricht nicht den konventionen!"}),
    [](const testing::TestParamInfo<BadIndexCase>& i) { return std::string(i.param.label); });

TEST(LoadCatalog, MissingIndexAndBadSlot) {
    TempGameFolder game;
    GeneralSession session;
    EXPECT_EQ(Qel_LoadCatalog(0, "09.cat", 1), 0);
    LogCapture capture;
    EXPECT_EQ(Qel_LoadCatalog(5, "09.cat", 1), 0);
    EXPECT_EQ(Qel_LoadCatalog(-1, "09.cat", 1), 0);
    capture.Take();
}

TEST(LoadCatalog, MaximumEntryCount) {
    TempGameFolder game;
    GeneralSession session;
    WriteIndex(game, "01.cat", ManyEntries(65535));
    ASSERT_EQ(Qel_LoadCatalog(0, "01.cat", 1), 1);
    EXPECT_EQ(session.State()->catalogs[0]->count, 65535u);
}

TEST(InitGeneral, CorruptCatalogFailsCleanly) {
    TempGameFolder game;
    game.WriteCatalog("01.cat", Members({{"a.txt", "one"}}));
    WriteIndex(game, "02.cat", "header\nbroken line without size\n");
    int64_t before = Int_GetMemUsed();
    LogCapture capture;
    GeneralSession session;
    std::string log = capture.Take();
    EXPECT_EQ(session.State(), nullptr);
    EXPECT_EQ(g_SystemState, nullptr);
    EXPECT_NE(log.find("error opening prim. Catalog: 2\n"), std::string::npos) << log;
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(InitGeneral, ExitGeneralFreesEverything) {
    TempGameFolder game;
    game.WriteCatalog("01.cat", Members({{"a.txt", "one"}, {"b.txt", "two"}}));
    game.WriteCatalog("mods/Big.cat", Members({{"a.txt", "modded"}}));
    int64_t before = Int_GetMemUsed();
    {
        testing::internal::CaptureStdout();
        GeneralSession session({"-o", "log.txt", "-s"});
        testing::internal::GetCapturedStdout();
        SystemState* s = session.State();
        ASSERT_NE(s, nullptr);
        s->modName = Qel_StrReassign(nullptr, "big");
        EXPECT_EQ(Qel_OpenModCatalog(), 1);
        EXPECT_EQ(LoadText("A.TXT"), "modded");
        EXPECT_EQ(LoadText("b.txt"), "two");
    }
    EXPECT_EQ(g_SystemState, nullptr);
    EXPECT_EQ(Int_GetMemUsed(), before);
    ExitGeneral(0);  // harmless without a SystemState
}

TEST(InitGeneral, ModCatalog) {
    TempGameFolder game;
    GeneralSession session;
    EXPECT_EQ(Qel_OpenModCatalog(), 0);  // no mod name
    session.State()->modName = Qel_StrReassign(nullptr, "missing");
    EXPECT_EQ(Qel_OpenModCatalog(), 0);
}

TEST(InitGeneral, MemorySpeed) {
    TempGameFolder game;
    GeneralSession session;
    EXPECT_GT(Qel_MeasureMemSpeed(), 0);
}
