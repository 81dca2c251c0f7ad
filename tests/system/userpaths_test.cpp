#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/strings.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "system/userpaths.h"

namespace fs = std::filesystem;

namespace {

std::string Take(char* s) {
    std::string out = s ? s : "<null>";
    Qel_StrFree(s);
    return out;
}

// Points the personal folder at a fresh folder inside the game folder for one
// test and forgets the kept user-data folder before and after.
class UserPaths : public testing::Test {
protected:
    void SetUp() override {
        const char* old = getenv("XDG_DATA_HOME");
        hadXdg_ = old != nullptr;
        if (old) oldXdg_ = old;
        personal_ = game_.Path() + "/personal";
        setenv("XDG_DATA_HOME", personal_.c_str(), 1);
        Qel_ForgetUserDataDir();
        session_ = std::make_unique<GeneralSession>();
        ASSERT_NE(session_->State(), nullptr);
    }
    void TearDown() override {
        session_.reset();
        Qel_ForgetUserDataDir();
        if (hadXdg_) setenv("XDG_DATA_HOME", oldXdg_.c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
    }
    std::string UserDir() const { return personal_ + "/Veldrim/TrevanTest"; }

    TempGameFolder game_;
    std::unique_ptr<GeneralSession> session_;
    std::string personal_, oldXdg_;
    bool hadXdg_ = false;
};

std::vector<std::string> List(const char* pattern, const char* folder, int user = 0) {
    std::vector<std::string> names;
    QelDirListing* d = Qel_OpenDir(pattern, folder, user);
    if (!d) return {"<null>"};
    while (const char* n = Qel_NextDirEntry(d)) names.push_back(n);
    Qel_CloseDir(d);
    return names;
}

}  // namespace

TEST_F(UserPaths, ResolveWithoutTheFlagCopiesWithBackslashes) {
    EXPECT_EQ(Take(Qel_ResolvePath("types/TShips.txt", 0)), "types\\TShips.txt");
    EXPECT_EQ(Take(Qel_ResolvePath("a\\b", 0)), "a\\b");
}

TEST_F(UserPaths, UserFolderIsMadeOnFirstUseAndKept) {
    std::string dir = personal_ + "\\Veldrim\\TrevanTest";
    for (char& c : dir) c = c == '/' ? '\\' : c;
    EXPECT_EQ(Take(Qel_ResolvePath("save/Qel01.sav", 1)), dir + "\\save\\Qel01.sav");
    EXPECT_TRUE(fs::is_directory(UserDir()));

    // Kept: removing the folder does not make later calls recreate it.
    fs::remove_all(personal_);
    EXPECT_EQ(Take(Qel_ResolvePath("x", 1)), dir + "\\x");
    EXPECT_FALSE(fs::exists(personal_));
}

TEST_F(UserPaths, NoPersonalFolderMeansTheCurrentFolder) {
    const char* home = getenv("HOME");
    std::string oldHome = home ? home : "";
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    Qel_ForgetUserDataDir();
    EXPECT_EQ(Take(Qel_GetUserDataDir()), ".");
    EXPECT_EQ(Take(Qel_ResolvePath("name.txt", 1)), ".\\name.txt");
    if (home) setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(UserPaths, FilesUnderTheUserFolder) {
    QelFile* f = Qel_fopen("settings.txt", "wb", 1);
    ASSERT_NE(f, nullptr);
    Qel_fprintf(f, "hello");
    Qel_fclose(f);
    EXPECT_TRUE(fs::exists(UserDir() + "/settings.txt"));
    EXPECT_EQ(Qel_fsize(1, "settings.txt"), 5);
    EXPECT_EQ(Qel_MakeDir("save", 1), 1);
    EXPECT_EQ(Qel_MakeDir("save", 1), 0);  // already there
    EXPECT_TRUE(fs::is_directory(UserDir() + "/save"));
    EXPECT_EQ(Qel_RenameFile("settings.txt", "SAVE\\moved.txt", 1), 1);
    EXPECT_TRUE(fs::exists(UserDir() + "/save/moved.txt"));
}

TEST_F(UserPaths, DiskPathFoldsCaseComponentByComponent) {
    game_.Write("Data/Types/TShips.txt", "x");
    EXPECT_EQ(Take(Qel_DiskPath("data\\TYPES\\tships.TXT")), "Data/Types/TShips.txt");
    EXPECT_EQ(Take(Qel_DiskPath("DATA/new/file.txt")), "Data/new/file.txt");
    EXPECT_EQ(Take(Qel_DiskPath("./data/../DATA")), "./Data/../Data");
    std::string abs = game_.Path() + "/DATA/types";
    EXPECT_EQ(Take(Qel_DiskPath(abs.c_str())), game_.Path() + "/Data/Types");
    // The exact name is tried first, so a user's path keeps its case.
    game_.Write("data/x.txt", "y");
    EXPECT_EQ(Take(Qel_DiskPath("data/x.txt")), "data/x.txt");
    EXPECT_EQ(Qel_FileExists("DATA\\TYPES"), 1);
    EXPECT_EQ(Qel_FileExists("missing"), 0);
}

TEST_F(UserPaths, WildcardRules) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "noext", true},   {"*.*", ".", true},
        {"*.txt", "A.TXT", true}, {"*.txt", "a.txt.bak", false},
        {"a?c", "abc", true},     {"a?c", "ac", false},
        {"*", ".hidden", true},   {"save*.sav", "Save01.sav", true},
        {"name.*", "name", true}, {"*.sav", "x.savx", false},
        {"*a*b", "xxaxxb", true}, {"", "x", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Qel_WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST_F(UserPaths, Listings) {
    game_.Write("Scripts/b.xml", "");
    game_.Write("Scripts/A.XML", "");
    game_.Write("Scripts/readme", "");
    fs::create_directories("Scripts/sub");
    EXPECT_EQ(List(nullptr, "scripts"), (std::vector<std::string>{".", "..", "A.XML", "b.xml", "readme", "sub"}));
    EXPECT_EQ(List("*.xml", "SCRIPTS"), (std::vector<std::string>{"A.XML", "b.xml"}));
    EXPECT_EQ(List("scripts\\*.xml", nullptr), (std::vector<std::string>{"A.XML", "b.xml"}));

    LogCapture capture;
    EXPECT_EQ(List("*.none", "scripts"), std::vector<std::string>{"<null>"});
    EXPECT_EQ(List("*.*", "no_such_folder"), std::vector<std::string>{"<null>"});
    std::string log = capture.Take();
    EXPECT_NE(log.find("error opening dir: scripts\\*.none\n"), std::string::npos) << log;

    // The file layer's names for the same listing.
    QelDirListing* d = Qel_OpenDir("*.xml", "scripts", 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(Qel_FindNext(d), "A.XML");
    EXPECT_STREQ(Qel_FindNext(d), "b.xml");
    EXPECT_EQ(Qel_FindNext(d), nullptr);
    EXPECT_EQ(Qel_FindNext(d), nullptr);
    Qel_FindClose(d);
    Qel_CloseDir(nullptr);
}

TEST_F(UserPaths, ListingTheUserFolder) {
    ASSERT_EQ(Qel_MakeDir("save", 1), 1);
    QelFile* f = Qel_fopen("save\\Qel01.sav", "wb", 1);
    ASSERT_NE(f, nullptr);
    Qel_fclose(f);
    EXPECT_EQ(List("*.sav", "save", 1), std::vector<std::string>{"Qel01.sav"});
    int64_t before = Int_GetMemUsed();
    List("*.*", "save", 1);
    EXPECT_EQ(Int_GetMemUsed(), before);
}
