// The save-game container: a story's save and load through the game loop, the
// atomic replacement of a slot, every check of the reader, the ring of slots
// 20 to 22 and the slot list.
#include "program/savegame.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "program/gameloop.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/pcalls.h"
#include "script/arrays.h"
#include "script/context.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "system/timer.h"
#include "system/userpaths.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// The per-user folder of one test: saves of tests running side by side never meet.
class DataHome {
public:
    DataHome() {
        const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
        std::string pattern = std::string(scratch ? scratch : "/tmp") + "/savehome-XXXXXX";
        fs::create_directories(fs::path(pattern).parent_path());
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
        if (const char* old = std::getenv("XDG_DATA_HOME")) old_ = old;
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
        Qel_ForgetUserDataDir();
    }
    ~DataHome() {
        Qel_ForgetUserDataDir();
        if (old_.empty()) unsetenv("XDG_DATA_HOME");
        else setenv("XDG_DATA_HOME", old_.c_str(), 1);
        std::error_code ec;
        fs::remove_all(path_, ec);
    }

private:
    std::string path_;
    std::string old_;
};

std::string SlotFile(int32_t slot) {
    char name[64];
    P_SaveFileName(slot, name, sizeof name);
    return name;
}

// The slot's path on disk.
std::string SlotPath(int32_t slot) {
    char* resolved = Qel_ResolvePath(SlotFile(slot).c_str(), 1);
    char* disk = Qel_DiskPath(resolved);
    std::string path = disk;
    Qel_StrFree(disk);
    Qel_StrFree(resolved);
    return path;
}

bool SlotExists(int32_t slot) { return fs::exists(SlotPath(slot)); }

Bytes ReadRaw(int32_t slot) {
    std::ifstream in(SlotPath(slot), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteRaw(int32_t slot, const Bytes& bytes) {
    fs::create_directories(fs::path(SlotPath(slot)).parent_path());
    std::ofstream out(SlotPath(slot), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The decompressed stream of a slot.
Bytes ReadStream(int32_t slot) {
    Bytes bytes;
    QelFile* f = Qel_fcopen(SlotFile(slot).c_str(), "rb", 1);
    if (!f) return bytes;
    uint8_t chunk[4096];
    for (size_t n; (n = Qel_fread(f, 1, sizeof chunk, chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    Qel_fclose(f);
    return bytes;
}

void WriteStream(int32_t slot, const Bytes& bytes) {
    fs::create_directories(fs::path(SlotPath(slot)).parent_path());
    QelFile* f = Qel_fcopen(SlotFile(slot).c_str(), "wb", 1);
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) Qel_fwriteBlock(f, 1, bytes.size(), bytes.data());
    Qel_fclose(f);
}

uint32_t Word(const Bytes& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}
void PutWord(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}
void PutCookie(Bytes& b, const char* c) { b.insert(b.end(), c, c + 4); }
void PutText(Bytes& b, const std::string& t) {
    PutWord(b, static_cast<uint32_t>(t.size()));
    b.insert(b.end(), t.begin(), t.end());
    b.push_back(0);
}

// The container as the test reads it: the header fields, the timed events,
// the script section as it stands, and the module sections that follow it.
struct Section {
    std::string cookie;
    Bytes bytes;  // the whole section, cookies included
};
struct SaveImage {
    std::string ksa = "KSA3", name1, name2, story;
    uint32_t stamp = 0, value = 0, mode = 0, scene = 0;
    std::string sysb = "SYSB";
    std::vector<uint32_t> system;
    Bytes time;  // "TIME", count, records
    Bytes script;
    std::vector<Section> sections;  // "B3D ", "MOVI", "GALA", "SECT", ["INS "], ["FIX " with "SFX "], "/KSA"
};

std::string TextAt(const Bytes& b, size_t* at) {
    const uint32_t n = Word(b, *at);
    std::string t(b.begin() + static_cast<std::ptrdiff_t>(*at + 4),
                  b.begin() + static_cast<std::ptrdiff_t>(*at + 4 + n));
    *at += 4 + n + 1;
    return t;
}

std::string CookieAt(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? std::string(b.begin() + at, b.begin() + at + 4) : "";
}

// Parses a stream the container wrote; every cookie must stand where the
// order puts it.
SaveImage Parse(const Bytes& b) {
    SaveImage s;
    size_t at = 0;
    s.ksa = CookieAt(b, at);
    at += 4;
    s.name1 = TextAt(b, &at);
    s.name2 = TextAt(b, &at);
    s.story = TextAt(b, &at);
    s.stamp = Word(b, at);
    s.value = Word(b, at + 4);
    s.mode = Word(b, at + 8);
    s.scene = Word(b, at + 12);
    at += 16;
    s.sysb = CookieAt(b, at);
    const uint32_t count = Word(b, at + 4);
    at += 8;
    for (uint32_t i = 0; i < count; ++i, at += 4) s.system.push_back(Word(b, at));
    EXPECT_EQ(CookieAt(b, at), "TIME");
    const size_t timeSize = 8 + 20 * size_t{Word(b, at + 4)};
    s.time.assign(b.begin() + at, b.begin() + at + timeSize);
    at += timeSize;
    // The script section runs up to the scene section's cookie, the scene
    // section up to its end cookie before the movies' one.
    static const uint8_t kScene[4] = {'B', '3', 'D', ' '};
    static const uint8_t kSceneEnd[8] = {'/', 'B', '3', 'D', 'M', 'O', 'V', 'I'};
    auto scene = std::search(b.begin() + at, b.end(), kScene, kScene + 4);
    EXPECT_NE(scene, b.end());
    s.script.assign(b.begin() + at, scene);
    at = static_cast<size_t>(scene - b.begin());
    auto take = [&](size_t n) {
        s.sections.push_back({CookieAt(b, at), Bytes(b.begin() + at, b.begin() + at + n)});
        at += n;
    };
    auto sceneEnd = std::search(scene, b.end(), kSceneEnd, kSceneEnd + 8);
    EXPECT_NE(sceneEnd, b.end());
    take(static_cast<size_t>(sceneEnd - scene) + 4);
    EXPECT_EQ(CookieAt(b, at), "MOVI");
    const uint32_t movies = Word(b, at + 4);
    const uint32_t files = Word(b, at + 8 + 40 * movies);
    take(8 + 40 * movies + 4 + 4 * files + 4);
    EXPECT_EQ(s.sections.back().bytes.size() >= 4
                  ? CookieAt(s.sections.back().bytes, s.sections.back().bytes.size() - 4)
                  : "",
              "/MOV");
    EXPECT_EQ(CookieAt(b, at), "GALA");
    take(4 + 2880 * 32 + 4);
    EXPECT_EQ(CookieAt(b, at), "SECT");
    static const uint8_t kSpaceEnd[4] = {'/', 'S', 'E', 'C'};
    const auto spaceEnd = std::search(b.begin() + static_cast<long>(at), b.end(), kSpaceEnd, kSpaceEnd + 4);
    EXPECT_NE(spaceEnd, b.end());
    take(static_cast<size_t>(spaceEnd - b.begin()) - at + 4);
    if (CookieAt(b, at) == "INS ") {
        // The header, then per cockpit its record: the block with its entry
        // count (N) and light count (L), the entries, the lights, the end tag.
        size_t end = at + 4 + 4 + 40;
        for (uint32_t k = Word(b, at + 8); k > 0 && end + 8 + 1348 <= b.size(); --k) {
            const size_t block = end + 8;
            end = block + 1348;
            for (uint32_t n = Word(b, block + 308); n > 0; --n) end += Word(b, end) ? 20 : 4;
            end += 4 * size_t{Word(b, block + 20)} + 4;
        }
        take(end + 4 - at);
    }
    if (CookieAt(b, at) == "FIX ") take(4 + 400);
    EXPECT_EQ(CookieAt(b, at), "/KSA");
    take(4);
    EXPECT_EQ(at, b.size());
    return s;
}

Bytes Build(const SaveImage& s) {
    Bytes b;
    PutCookie(b, s.ksa.c_str());
    PutText(b, s.name1);
    PutText(b, s.name2);
    PutText(b, s.story);
    for (uint32_t w : {s.stamp, s.value, s.mode, s.scene}) PutWord(b, w);
    PutCookie(b, s.sysb.c_str());
    PutWord(b, static_cast<uint32_t>(s.system.size()));
    for (uint32_t w : s.system) PutWord(b, w);
    b.insert(b.end(), s.time.begin(), s.time.end());
    b.insert(b.end(), s.script.begin(), s.script.end());
    for (const Section& sec : s.sections) b.insert(b.end(), sec.bytes.begin(), sec.bytes.end());
    return b;
}

std::vector<std::string> Cookies(const SaveImage& s) {
    std::vector<std::string> c = {s.ksa, s.sysb, CookieAt(s.time, 0), CookieAt(s.script, 0)};
    for (const Section& sec : s.sections) c.push_back(sec.cookie);
    return c;
}

// The story saves slot 5 from "Run" and slot 6 from "Restart" (after a
// load) with the same names and value; each finished save loads slot 5.
const char* const kSavingStory = R"(
.object 9
.var "Kept" int 41
.func "Run" need 8
    pushw 77
    pushds "Beta"
    pushds "Alpha"
    pushw 5
    c4
    sys "Ruzo_Save"
    pop
    c0
    ret
.func "Restart" need 8
    pushw 77
    pushds "Beta"
    pushds "Alpha"
    pushw 6
    c4
    sys "Ruzo_Save"
    pop
    c0
    ret
.func "SaveFinished2" need 4
    pushw 5
    c1
    sys "Ruzo_Load"
    pop
    c0
    ret
.func "Input" need 1
    c0
    ret
)";

class SaveGameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(P_LoadLocation(g_ProgramState->storyName));
        g_ProgramState->startMode = P_MODE_INTRO;
        g_ProgramState->startScene = 6005;
        // As in a run; the program's shutdown frees it.
        INS_NewCockpitSystem();
    }
    void TearDown() override {
        g_QelFileFaults = QelFileFaults{};
        StandIn_Reset();
    }
    // A valid stream saved through P_Save into slot 9.
    Bytes ValidStream() {
        EXPECT_EQ(P_Save(9, "Alpha", "Beta", 77), 1);
        return ReadStream(9);
    }

    DataHome home_;
    ProgramSession session_{{}, kSavingStory};
};

TEST(SaveGameRoundTrip, AStorySavesLoadsAndSavesTheSameGame) {
    DataHome home;
    ProgramSession session({}, kSavingStory);
    ASSERT_NE(g_SfxState, nullptr);
    EXPECT_EQ(CL_GameLoop(), 105);  // saved slot 5, then asked to load it
    ASSERT_TRUE(SlotExists(5));
    ASSERT_EQ(P_ChooseNextRun(105), P_RUN_ON);
    EXPECT_EQ(CL_GameLoop(), 105);  // loaded slot 5, saved slot 6 from "Restart"
    ASSERT_TRUE(SlotExists(6));
    EXPECT_FALSE(SlotExists(P_SAVE_TEMP_SLOT));

    const Bytes first = ReadStream(5), second = ReadStream(6);
    const SaveImage a = Parse(first), b = Parse(second);
    const std::vector<std::string> order = {"KSA3", "SYSB", "TIME", Cookies(a)[3], "B3D ", "MOVI",
                                            "GALA", "SECT", "INS ", "FIX ",        "/KSA"};
    EXPECT_EQ(Cookies(a), order);
    EXPECT_EQ(Cookies(b), order);
    EXPECT_EQ(a.name1, "Alpha");
    EXPECT_EQ(a.name2, "Beta");
    EXPECT_EQ(a.story, "trevanintro");
    EXPECT_EQ(a.value, 77u);
    EXPECT_EQ(a.mode, 9u);
    EXPECT_EQ(a.scene, 6005u);
    ASSERT_EQ(a.system.size(), 6u);
    ASSERT_EQ(b.system.size(), 6u);
    // Known differences: the clocks run on between the two saves, and so do
    // the script engine's next-id counters in its header (the tasks "Restart"
    // and "Input" started after the load). Everything else is the same game.
    for (size_t i = 3; i < 6; ++i) EXPECT_EQ(a.system[i], b.system[i]) << i;
    SaveImage same = b;
    for (size_t i = 0; i < 3; ++i) same.system[i] = a.system[i];
    ASSERT_EQ(a.script.size(), b.script.size());
    int counters = 0;
    for (size_t at = 0; at + 4 <= std::min<size_t>(a.script.size(), 64); at += 4) {
        if (Word(a.script, at) == Word(b.script, at)) continue;
        EXPECT_GT(Word(b.script, at), Word(a.script, at)) << at;
        std::copy(a.script.begin() + at, a.script.begin() + at + 4, same.script.begin() + at);
        ++counters;
    }
    EXPECT_LE(counters, 2);
    ASSERT_EQ(same.sections.size(), a.sections.size());
    // A load makes the lens-flare scene, which a game's first frame draw
    // makes too; no frame drew here before the first save, so only the
    // second scene section holds it.
    ASSERT_EQ(a.sections[0].cookie, "B3D ");
    EXPECT_EQ(Word(a.sections[0].bytes, 4 + 4), 0u);  // saved scenes
    EXPECT_EQ(Word(b.sections[0].bytes, 4 + 4), 1u);
    same.sections[0] = a.sections[0];
    for (size_t i = 1; i < a.sections.size(); ++i) EXPECT_EQ(same.sections[i].bytes, a.sections[i].bytes) << i;
    EXPECT_EQ(Build(same), first);
}

TEST_F(SaveGameTest, AFailureAnywhereLeavesTheSlotAsItWas) {
    ASSERT_EQ(P_Save(5, "Old", "Game", 1), 1);
    const Bytes old = ReadRaw(5);
    ASSERT_FALSE(old.empty());
    // Where the scene and movie sections start in the stream of this save.
    ASSERT_EQ(P_Save(6, "New", "Game", 2), 1);
    const SaveImage reference = Parse(ReadStream(6));
    const int64_t sceneAt =
        4 + 3 * 5 + static_cast<int64_t>(reference.name1.size() + reference.name2.size() + reference.story.size()) +
        16 + 8 + 4 * static_cast<int64_t>(reference.system.size()) +
        static_cast<int64_t>(reference.time.size() + reference.script.size());
    const int64_t moviesAt = sceneAt + static_cast<int64_t>(reference.sections[0].bytes.size());
    const int64_t galaxyAt = moviesAt + static_cast<int64_t>(reference.sections[1].bytes.size());
    const int64_t spaceAt = galaxyAt + static_cast<int64_t>(reference.sections[2].bytes.size());
    const int64_t cockpitAt = spaceAt + static_cast<int64_t>(reference.sections[3].bytes.size());
    const int64_t soundAt = cockpitAt + static_cast<int64_t>(reference.sections[4].bytes.size());
    struct Case {
        const char* what;
        const char* failingCall;  // a stand-in told to fail
        const char* faultAt;      // a stand-in call at which the writes start failing
        int64_t budget;           // bytes still written from there (-1: no write fault)
        const char* line;
    };
    const Case cases[] = {
        {"scene", nullptr, "EO_FreeObjectEffects", sceneAt + 4, "P_Save(5,New) B3D_SaveGame failed\n"},
        {"movies", nullptr, "EO_FreeObjectEffects", moviesAt + 4, "P_Save(5, New) MOV_SaveGame failed\n"},
        {"galaxy", nullptr, "EO_FreeObjectEffects", galaxyAt + 4, "P_Save(5,New) GS_SaveGame() failed!\n"},
        {"space", nullptr, "EO_FreeObjectEffects", spaceAt + 4, "P_Save(5,New) SA_Save() failed!\n"},
        {"cockpit", nullptr, "EO_FreeObjectEffects", cockpitAt + 4, "P_Save(5,New) ID_Save() failed!\n"},
        {"sound", nullptr, "EO_FreeObjectEffects", soundAt + 4, "P_Save(5,New) SFX_SaveGame() failed!\n"},
        {"a header write", nullptr, "EO_FreeObjectEffects", 10, "P_Save(5,New): writing the header failed\n"},
    };
    static const Case* s_case = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StandIn_Reset();
        if (c.failingCall) StandIn_SetFailure(c.failingCall, true);
        s_case = &c;
        StandIn_SetHook([](const char* call) {
            if (s_case->faultAt && std::strcmp(call, s_case->faultAt) == 0)
                g_QelFileFaults.writeBudget = s_case->budget;
        });
        LogCapture log;
        EXPECT_EQ(P_Save(5, "New", "Game", 2), 0);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(ReadRaw(5), old);
        EXPECT_FALSE(SlotExists(P_SAVE_TEMP_SLOT));
        g_QelFileFaults = QelFileFaults{};
    }
    StandIn_Reset();

    {
        SCOPED_TRACE("sync");
        g_QelFileFaults.failSync = true;
        EXPECT_EQ(P_Save(5, "New", "Game", 2), 0);
        g_QelFileFaults = QelFileFaults{};
        EXPECT_EQ(ReadRaw(5), old);
    }
    {
        SCOPED_TRACE("rename");
        g_QelFileFaults.failRename = true;
        LogCapture log;
        EXPECT_EQ(P_Save(5, "New", "Game", 2), 0);
        EXPECT_TRUE(log.Contains("rename failed")) << log.Text();
        g_QelFileFaults = QelFileFaults{};
        EXPECT_EQ(ReadRaw(5), old);
        EXPECT_FALSE(SlotExists(P_SAVE_TEMP_SLOT));
    }
    {
        // A full disk: the compressed bytes only reach the file at the close.
        SCOPED_TRACE("full disk");
        ASSERT_EQ(symlink("/dev/full", SlotPath(P_SAVE_TEMP_SLOT).c_str()), 0);
        LogCapture log;
        EXPECT_EQ(P_Save(5, "New", "Game", 2), 0);
        EXPECT_TRUE(log.Contains("P_Save(5,New): writing save\\Qel99.sav failed\n")) << log.Text();
        // Where, and why.
        EXPECT_TRUE(log.Contains("File save\\Qel99.sav (" + SlotPath(P_SAVE_TEMP_SLOT) +
                                 "): cannot write: No space left on device\n"))
            << log.Text();
        EXPECT_EQ(ReadRaw(5), old);
        unlink(SlotPath(P_SAVE_TEMP_SLOT).c_str());
    }
    // And the slot still loads.
    EXPECT_EQ(P_TryLoad(5), 1);
    EXPECT_EQ(P_Save(5, "New", "Game", 2), 1);
    EXPECT_NE(ReadRaw(5), old);
}

// A save folder that cannot be written: the log says where the save was to
// go and why, before the save's own line.
TEST_F(SaveGameTest, ASaveThatCannotBeOpenedSaysWhereAndWhy) {
    const fs::path folder = fs::path(SlotPath(5)).parent_path();
    fs::remove_all(folder);
    std::ofstream(folder.string()) << "a file where the folder should be";
    LogCapture log;
    EXPECT_EQ(P_Save(5, "New", "Game", 2), 0);
    const std::string text = log.Text();
    const size_t where = text.find("File save\\Qel99.sav (" + (folder / "Qel99.sav").string() +
                                   "): cannot open it for writing: Not a directory\n");
    EXPECT_NE(where, std::string::npos) << text;
    EXPECT_GT(text.find("P_Save(5,New): opening save\\Qel99.sav failed\n"), where) << text;
    fs::remove(folder);
}

TEST_F(SaveGameTest, TheReaderChecksEveryPart) {
    const Bytes valid = ValidStream();
    const SaveImage base = Parse(valid);
    struct Case {
        const char* what;
        void (*change)(SaveImage& s);
        int loads;
        const char* line;
    };
    const Case cases[] = {
        {"as saved", [](SaveImage&) {}, 1, nullptr},
        {"name of 999", [](SaveImage& s) { s.name1.assign(999, 'n'); }, 1, nullptr},
        {"name of 1000", [](SaveImage& s) { s.name1.assign(1000, 'n'); }, 1, nullptr},
        {"name 2 of 1000", [](SaveImage& s) { s.name2.assign(1000, 'n'); }, 1, nullptr},
        {"SYSB count 1", [](SaveImage& s) { s.system.resize(1); }, 1, nullptr},
        {"without a cockpit section",
         [](SaveImage& s) { std::erase_if(s.sections, [](const Section& x) { return x.cookie == "INS "; }); }, 1,
         nullptr},
        {"without a sound section",
         [](SaveImage& s) { std::erase_if(s.sections, [](const Section& x) { return x.cookie == "FIX "; }); }, 1,
         nullptr},
        {"name of 1001", [](SaveImage& s) { s.name1.assign(1001, 'n'); }, 0, "P_Load() Invalid gamenamelen 1001\n"},
        {"name 2 of 1001", [](SaveImage& s) { s.name2.assign(1001, 'n'); }, 0, "P_Load() Invalid gamename2len 1001\n"},
        {"story name of 101", [](SaveImage& s) { s.story.assign(101, 's'); }, 0, "P_Load() Invalid storynamelen 101\n"},
        {"SYSB count 0", [](SaveImage& s) { s.system.clear(); }, 0, "P_Load: Unreasonable SystemSave length (0)\n"},
        {"SYSB count 7", [](SaveImage& s) { s.system.push_back(0); }, 0,
         "P_Load: Unreasonable SystemSave length (7)\n"},
        {"wrong KSA3", [](SaveImage& s) { s.ksa = "KSA2"; }, 0, "P_Load: Wrong KSA3 cookie\n"},
        {"wrong SYSB", [](SaveImage& s) { s.sysb = "SYSC"; }, 0, "P_Load: Wrong SYSB cookie\n"},
        {"wrong TIME", [](SaveImage& s) { s.time[0] = 'X'; }, 0, "P_Load: Wrong TIME cookie\n"},
        {"wrong scene cookie", [](SaveImage& s) { s.sections[0].bytes[0] = 'X'; }, 0, "P_Load() B3D_LoadGame failed\n"},
        {"wrong MOVI", [](SaveImage& s) { s.sections[1].bytes[0] = 'X'; }, 0, "P_Load() MOV_LoadGame() failed!\n"},
        {"wrong GALA", [](SaveImage& s) { s.sections[2].bytes[0] = 'X'; }, 0, "P_Load() GS_LoadGame() failed!\n"},
        {"wrong SECT", [](SaveImage& s) { s.sections[3].bytes[0] = 'X'; }, 0, "P_Load() SA_Load() failed!\n"},
        {"wrong /INS", [](SaveImage& s) { s.sections[4].bytes.back() = 'X'; }, 0, "P_Load() ID_Load() failed!\n"},
        {"wrong SFX ", [](SaveImage& s) { s.sections[5].bytes[4] = 'X'; }, 0, "P_Load() SFX_LoadGame() failed!\n"},
        {"missing /KSA", [](SaveImage& s) { s.sections.pop_back(); }, 0, "P_Load: Wrong /KSA cookie\n"},
        {"wrong /KSA", [](SaveImage& s) { s.sections.back().bytes[1] = 'X'; }, 0, "P_Load: Wrong /KSA cookie\n"},
        {"unknown timer module",
         [](SaveImage& s) {
             Bytes t = {'T', 'I', 'M', 'E', 0, 0, 0, 1};
             PutWord(t, 999);
             for (int i = 0; i < 4; ++i) PutWord(t, 1);
             s.time = t;
         },
         0, "P_Load: TimerDelay sanity check (TD_EngineID) failed!\n"},
        {"truncated",
         [](SaveImage& s) {
             s.sections.back().bytes.clear();
             s.sections[s.sections.size() - 2].bytes.resize(200);
         },
         0, "P_Load() SFX_LoadGame() failed!\n"},
        {"story name with ..", [](SaveImage& s) { s.story = "..\\trevanintro"; }, 0,
         "P_Load() Story name ..\\trevanintro leaves the game folder\n"},
        {"story name from the root", [](SaveImage& s) { s.story = "\\etc\\story"; }, 0,
         "P_Load() Story name \\etc\\story leaves the game folder\n"},
        {"story name on a drive", [](SaveImage& s) { s.story = "c:story"; }, 0,
         "P_Load() Story name c:story leaves the game folder\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SaveImage s = base;
        c.change(s);
        WriteStream(7, Build(s));
        LogCapture log;
        EXPECT_EQ(P_TryLoad(7), c.loads) << log.Text();
        if (c.line) {
            EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        }
        EXPECT_EQ(Timer_ListCount(&g_TimerBase->timed), 0);
    }
}

TEST_F(SaveGameTest, TheCockpitSectionIsReadWhenItsCookieComesNext) {
    g_CockpitSystem->crossHair = 7;
    const Bytes with = ValidStream();
    // A run without a cockpit system saves none.
    INS_FreeCockpitSystem();
    ASSERT_EQ(P_Save(8, "Alpha", "Beta", 77), 1);
    const std::vector<std::string> cookies = Cookies(Parse(ReadStream(8)));
    EXPECT_EQ(std::count(cookies.begin(), cookies.end(), "INS "), 0);
    EXPECT_EQ(Cookies(Parse(with)).size(), cookies.size() + 1);

    // Either loads, and the run has a new cockpit system.
    for (int32_t slot : {8, 9}) {
        SCOPED_TRACE(slot);
        INS_AddCockpit(g_CockpitSystem);
        EXPECT_EQ(P_TryLoad(slot), 1);
        ASSERT_NE(g_CockpitSystem, nullptr);
        EXPECT_EQ(Qel_TableGetCount(g_CockpitSystem->cockpits), 0u);
        // Only the section brings the cross-hair back.
        EXPECT_EQ(g_CockpitSystem->crossHair, slot == 9 ? 7 : 0);
    }
}

TEST_F(SaveGameTest, TheLoadOptionNamesTheStoryALoadReads) {
    ValidStream();
    WriteStory(session_.Folder(), "otherintro", kSavingStory);
    ProgramArgs args({"-load", "otherintro"});
    P_ParseOptions(args.argc(), args.argv(), &g_ProgramOptions);
    {
        LogCapture log;
        EXPECT_EQ(P_TryLoad(9), 1);
        EXPECT_TRUE(log.Contains("SB_LoadLocation() loading story file otherintro")) << log.Text();
    }
    // Without the option the saved story loads again.
    ProgramArgs none({});
    P_ParseOptions(none.argc(), none.argv(), &g_ProgramOptions);
    LogCapture log;
    EXPECT_EQ(P_TryLoad(9), 1);
    EXPECT_TRUE(log.Contains("SB_LoadLocation() loading story file trevanintro")) << log.Text();
}

TEST_F(SaveGameTest, RestoredClocksFoldIntoTheirSpan) {
    SaveImage s = Parse(ValidStream());
    s.system[1] = 40000000;                      // game clock
    s.system[2] = static_cast<uint32_t>(-5000);  // real clock
    s.system[4] = 49;                            // language: not restored
    WriteStream(7, Build(s));
    const int32_t language = g_SystemState->languageId;
    ASSERT_EQ(P_TryLoad(7), 1);
    // Reading the time deltas after the load moves them on by a little.
    EXPECT_NEAR(g_SystemState->gameClock, 40000000 - 32400000, 1000);
    EXPECT_NEAR(g_SystemState->realClock, 32400000 - 5000, 1000);
    EXPECT_LT(g_SystemState->realClock, 32400000);
    EXPECT_EQ(g_SystemState->languageId, language);
}

TEST_F(SaveGameTest, AGameThatCannotBeReadEndsTheProgramWithReason29) {
    // The exit releases the device: a forked child has no GL of its own, so
    // the child runs the test afresh.
    const std::string style = testing::FLAGS_gtest_death_test_style;
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            PrintMessageBoxesAtExit();
            P_Load(3);
        },
        ::testing::ExitedWithCode(29),
        "File save\\\\Qel03.sav \\(.*/save/Qel03.sav\\): cannot open it for reading: No such file or "
        "directory(.|\n)*Error loading savegame, may be corrupt!\n\nThe log \\(standard error\\) says what failed "
        "and where.");
    testing::FLAGS_gtest_death_test_style = style;
}

TEST_F(SaveGameTest, TheRingKeepsTheThreeNewest) {
    const Bytes old20 = {'2', '0'}, old21 = {'2', '1'}, old22 = {'2', '2'};
    auto isNew = [](int32_t slot) {
        const Bytes s = ReadStream(slot);
        return s.size() > 4 && CookieAt(s, 0) == "KSA3";
    };
    WriteRaw(20, old20);
    WriteRaw(22, old22);
    ASSERT_EQ(P_Save(21, "Ring", "", 0), 1);
    EXPECT_EQ(ReadRaw(20), old20);
    EXPECT_EQ(ReadRaw(21), old22);
    EXPECT_TRUE(isNew(22));

    WriteRaw(20, old20);
    WriteRaw(21, old21);
    WriteRaw(22, old22);
    ASSERT_EQ(P_Save(25, "Ring", "", 0), 1);
    EXPECT_EQ(ReadRaw(20), old21);
    EXPECT_EQ(ReadRaw(21), old22);
    EXPECT_TRUE(isNew(22));
    EXPECT_FALSE(SlotExists(23));
    EXPECT_FALSE(SlotExists(25));
}

TEST_F(SaveGameTest, TheSlotListShowsReadableHeaders) {
    ASSERT_EQ(P_Save(2, "Second", "Two", 22), 1);
    WriteRaw(4, Bytes{'f', 'o', 'r', 'e', 'i', 'g', 'n'});
    SaveImage s = Parse(ReadStream(2));
    s.name1.assign(1000, 'n');
    WriteStream(6, Build(s));
    s.name1.assign(999, 'n');
    WriteStream(8, Build(s));

    ScriptValue list{};
    EXPECT_EQ(P_ReadSaveHeader(&list), 1);
    ASSERT_EQ(list.tag, VARTYPE_ARRAY);
    ASSERT_EQ(SV_ArraySize(&list), P_SAVE_LIST_SLOTS);
    for (int32_t slot : {0, 1, 3, 4, 6, 22}) {
        const ScriptValue* e = SV_ArrayRead(&list, slot);
        EXPECT_EQ(e->tag, VARTYPE_INTEGER) << slot;
        EXPECT_EQ(e->i, 0) << slot;
    }
    ScriptValue* two = SV_ArrayRead(&list, 2);
    ASSERT_EQ(two->tag, VARTYPE_ARRAY);
    ASSERT_EQ(SV_ArraySize(two), 5);
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(two, 0)), "Second");
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(two, 1)), "Two");
    EXPECT_EQ(SV_ArrayRead(two, 2)->i, 22);
    EXPECT_EQ(static_cast<uint32_t>(SV_ArrayRead(two, 3)->i), g_SEContext->compileTime);
    EXPECT_NEAR(SV_ArrayRead(two, 4)->i, static_cast<int32_t>(time(nullptr)), 60);
    EXPECT_EQ(SV_ArrayRead(&list, 8)->tag, VARTYPE_ARRAY);
    SV_Release(&list);
}

}  // namespace
