#include "program/movies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/syscall_runner.h"

namespace {

// Movie streams scripted by the test: what was asked of them, and the frame
// results they give.
struct FakeStreams {
    std::vector<std::string> calls;
    std::map<uint32_t, std::deque<uint16_t>> frames;  // per movie; 1 (running) when empty
    std::set<uint32_t> failOpen, failPlay;
    bool failVolume = false;
    int live = 0;
    std::vector<EBM*> destinations;
    void Say(const std::string& what, uint32_t n, int64_t v) {
        calls.push_back(what + " " + std::to_string(n) + " " + std::to_string(v));
    }
};
FakeStreams* g_streams = nullptr;

MovieRecord* FakeOpen(uint32_t number, uint32_t flags) {
    if (g_streams->failOpen.count(number)) return nullptr;
    auto* r = new MovieRecord{};
    r->number = number;
    r->flags = flags;
    ++g_streams->live;
    return r;
}
void FakeFree(MovieRecord* r) {
    --g_streams->live;
    delete r;
}
int FakePlay(MovieEntry* e) {
    g_streams->Say("play", e->number, 0);
    return g_streams->failPlay.count(e->number) ? 0 : 1;
}
int FakeStop(MovieEntry* e) {
    g_streams->Say("stop", e->number, 0);
    return 1;
}
int FakeSeek(MovieEntry* e, int32_t ms) {
    g_streams->Say("seek", e->number, ms);
    return 1;
}
int FakeStopAt(MovieEntry* e, int32_t ms) {
    g_streams->Say("stopat", e->number, ms);
    return 1;
}
int FakePosition(MovieEntry*, int32_t* ms) {
    *ms = 0;
    return 1;
}
uint16_t FakeRender(MovieEntry* e, EBM* destination) {
    g_streams->destinations.push_back(destination);
    auto& q = g_streams->frames[e->number];
    if (q.empty()) return 1;
    uint16_t r = q.front();
    q.pop_front();
    return r;
}
int FakeVolume(uint32_t volume, MovieEntry* e) {
    g_streams->Say("volume", e->number, volume);
    return g_streams->failVolume ? 0 : 1;
}
int FakeRate(MovieEntry* e, double rate) {
    g_streams->Say("rate", e->number, static_cast<int64_t>(rate * 100000));
    return 1;
}

using AnswerList = std::vector<std::pair<uint32_t, int32_t>>;

class MoviesTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = g_SystemState;
        g_SystemState = &sys_;
        sys_.app = TestAppDescriptor();
        sys_.languageId = 44;
        sys_.voiceVolume = 90;
        sys_.modVolume = 80;
        sys_.debugFlags = 0x800;  // the module's progress lines
        ASSERT_TRUE(runner_.Load(kNopStory));
        savedLink_ = g_MovStreamLink;
        g_streams = &streams_;
        g_MovStreamLink = {FakeOpen,   FakeFree,     FakePlay,   FakeStop,   FakeSeek,
                           FakeStopAt, FakePosition, FakeRender, FakeVolume, FakeRate};
        ASSERT_NE(MOV_Init(), nullptr);
    }
    void TearDown() override {
        MOV_Exit();
        EXPECT_EQ(streams_.live, 0);
        g_MovStreamLink = savedLink_;
        g_streams = nullptr;
        g_SystemState = saved_;
    }
    int Module() const { return runner_.module(); }
    // Calls number `call`; "now n", "later n" (through the callback before the
    // handler returned) or "wait". Answers to other callers go to others_.
    std::string Call(int32_t call, std::vector<int32_t> args = {}) {
        SysCallRunner caller(runner_.ctx());
        std::vector<ScriptValue> values;
        for (int32_t a : args) values.push_back(SysCallRunner::Int(a));
        others_.clear();
        runner_.answers.clear();
        ++sys_.gameClock;  // a fresh log budget for each call
        SE_Task* task = caller.task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        MOV_SysCall(Module(), task, call, static_cast<int32_t>(values.size()), values.data());
        for (ScriptValue& v : values) SV_Release(&v);
        std::string later;
        for (const RunAnswer& a : runner_.answers) {
            if (a.callerNumber != task->id) {
                others_.push_back({a.callerNumber, a.n});
                continue;
            }
            EXPECT_TRUE(later.empty()) << "answered twice";
            later = "later " + std::to_string(a.n);
        }
        runner_.answers.clear();
        if (!later.empty()) return later;
        if (task->answered) return "now " + std::to_string(task->callResult.i);
        waiting_ = task->id;
        return "wait";
    }
    AnswerList Answers() {
        AnswerList a;
        for (const RunAnswer& r : runner_.answers) a.push_back({r.callerNumber, r.n});
        runner_.answers.clear();
        return a;
    }
    void Frame(uint32_t movie, uint16_t result) {
        streams_.frames[movie].push_back(result);
        ++sys_.gameClock;
        MOV_CheckFinished();
    }
    bool Called(const std::string& call) const {
        return std::find(streams_.calls.begin(), streams_.calls.end(), call) != streams_.calls.end();
    }

    SystemState sys_{};
    SystemState* saved_ = nullptr;
    TempGameFolder folder_;
    StoryRunner runner_;
    FakeStreams streams_;
    MovStreamLink savedLink_{};
    AnswerList others_;
    uint32_t waiting_ = 0;
};

TEST_F(MoviesTest, LoadPlayStopAndFreeAnswerEachCallerOnce) {
    LogCapture log;
    EXPECT_EQ(Call(0, {5, 0}), "later 1");
    EXPECT_EQ(Call(0, {5, 0}), "later 1");  // already loaded: not opened again
    EXPECT_EQ(streams_.live, 1);

    EXPECT_EQ(Call(1, {5}), "wait");
    const uint32_t first = waiting_;
    EXPECT_TRUE(Called("seek 5 0"));
    EXPECT_TRUE(Called("play 5 0"));
    EXPECT_EQ(MOV_IsPlaying(5), 1);
    Frame(5, 1);
    EXPECT_TRUE(Answers().empty());
    Frame(5, 2);
    EXPECT_EQ(Answers(), (AnswerList{{first, 1}}));
    EXPECT_TRUE(log.Contains("Finished playing movie: 5\n"));
    EXPECT_EQ(MOV_IsPlaying(5), 0);
    Frame(5, 2);  // not playing: not polled, nobody answered again
    EXPECT_TRUE(Answers().empty());

    // A new play takes over: the old caller hears 1 first.
    EXPECT_EQ(Call(1, {5}), "wait");
    const uint32_t second = waiting_;
    EXPECT_EQ(Call(5, {5, 0, 1, 500, 0, 2, 0}), "wait");
    const uint32_t third = waiting_;
    EXPECT_EQ(others_, (AnswerList{{second, 1}}));
    EXPECT_TRUE(Called("seek 5 1500"));
    EXPECT_TRUE(Called("stopat 5 2000"));
    EXPECT_TRUE(log.Contains("found old movie with same id, replying to story.\n"));

    // Stop answers the movie's caller and the stopping one.
    EXPECT_EQ(Call(3, {5}), "later 1");
    EXPECT_EQ(others_, (AnswerList{{third, 1}}));
    EXPECT_EQ(MOV_IsPlaying(5), 0);
    EXPECT_EQ(Call(3, {6}), "later 0");
    EXPECT_TRUE(log.Contains("Failed stoping movie 6\n"));

    // Free answers the waiting caller; a second free finds nothing.
    EXPECT_EQ(Call(1, {5}), "wait");
    const uint32_t fourth = waiting_;
    EXPECT_EQ(Call(2, {5}), "later 1");
    EXPECT_EQ(others_, (AnswerList{{fourth, 1}}));
    EXPECT_EQ(streams_.live, 0);
    EXPECT_EQ(Call(2, {5}), "later 0");
    EXPECT_TRUE(others_.empty());
    EXPECT_TRUE(log.Contains("Failed freeing movie 5\n"));
}

TEST_F(MoviesTest, AutomaticLoadsUseDefaultFlagsAndTheirTextures) {
    TC_TextureEntry table[100] = {};
    EBM* bitmap66 = reinterpret_cast<EBM*>(&table[99]);
    table[66].bitmap = bitmap66;
    TC_TextureEntry* savedTable = TC_TextureTable;
    const uint16_t savedCount = g_TCNumberedCount;
    TC_TextureTable = table;
    g_TCNumberedCount = 100;

    LogCapture log;
    EXPECT_EQ(Call(1, {1}), "wait");
    EXPECT_TRUE(log.Contains("MOV_PlayMovieFrom(1) Movie automatically loaded with default flags!\n"));
    const struct {
        int32_t id;
        uint32_t flags;
        bool connected;
        int32_t texture;
    } cases[] = {{1, 0, true, 66}, {2, 0, true, 61}, {3, 0, true, 66}, {4, 0, false, 0}, {3 + 100, 0, false, 0}};
    for (const auto& c : cases) {
        if (c.id != 1) {
            EXPECT_EQ(Call(0, {c.id, static_cast<int32_t>(c.flags)}), "later 1");
        }
        MovMovie* m = MOV_FindMovie(c.id);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ((m->flags & MOV_CONNECTED) != 0, c.connected) << c.id;
        EXPECT_EQ(m->textureId, c.texture) << c.id;
    }
    // A load with flags of its own is not connected.
    EXPECT_EQ(Call(0, {20, 0x40}), "later 1");
    EXPECT_EQ(MOV_FindMovie(20)->textureId, 0);
    EXPECT_EQ(MOV_FindMovie(20)->flags, 0x40u);

    // Each frame goes into the connected texture's bitmap.
    streams_.destinations.clear();
    Frame(1, 1);
    EXPECT_EQ(streams_.destinations, std::vector<EBM*>{bitmap66});
    EXPECT_EQ(Call(4, {4, 7}), "now 1");
    EXPECT_EQ(MOV_IsConnectedTo(4, 7), 1);
    EXPECT_EQ(Call(4, {77, 7}), "now 0");
    EXPECT_TRUE(log.Contains("Failed connecting movie to texture7\n"));

    // A movie that cannot be opened fails its caller.
    streams_.failOpen.insert(9);
    EXPECT_EQ(Call(1, {9}), "later 0");
    EXPECT_TRUE(log.Contains("Error opening movie stream: 9\n"));
    EXPECT_TRUE(log.Contains("Failed loading movie 9\n"));
    EXPECT_EQ(Call(0, {9, 0}), "later 0");

    // The texture layer plays movies through the module's hook.
    TC_LoadMovie(30, 12, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(MOV_IsConnectedTo(30, 12), 1);
    EXPECT_EQ(TC_MovieIsPlaying(30), 1);
    TC_ReleaseMovieTexture(30, 12);
    EXPECT_EQ(TC_MovieIsPlaying(30), 0);
    EXPECT_EQ(MOV_IsConnectedTo(30, 12), 0);

    TC_TextureTable = savedTable;
    g_TCNumberedCount = savedCount;
}

TEST_F(MoviesTest, LoopingEndedAndFailedFrames) {
    LogCapture log;
    MOV_PlayMovieFrom(Module(), 50, 8, 0, 1, 0, 0, 2, 0, 1);
    streams_.calls.clear();
    Frame(8, 2);  // a loop starts over from its start
    EXPECT_EQ(streams_.calls, (std::vector<std::string>{"seek 8 1000", "stopat 8 2000", "play 8 0"}));
    EXPECT_TRUE(Answers().empty());
    EXPECT_EQ(MOV_IsPlaying(8), 1);

    EXPECT_EQ(Call(1, {8}), "wait");
    const uint32_t caller = waiting_;
    EXPECT_EQ(others_, (AnswerList{{50, 1}}));
    Frame(8, 0);  // a failed frame: answered once, then freed
    EXPECT_EQ(Answers(), (AnswerList{{caller, 1}}));
    EXPECT_TRUE(log.Contains("FAILED playing movie: 8\n"));
    EXPECT_EQ(MOV_FindMovie(8), nullptr);
    EXPECT_EQ(Call(2, {8}), "later 0");
    EXPECT_TRUE(others_.empty());

    // A play that cannot start frees the movie and answers 0.
    streams_.failPlay.insert(10);
    EXPECT_EQ(Call(1, {10}), "later 0");
    EXPECT_EQ(MOV_FindMovie(10), nullptr);
    EXPECT_TRUE(log.Contains("MOV_PlayMovieFrom(10) Qel_MovieStatePlayFrom failed!\n"));

    // Pause, save and load stop everything that plays.
    EXPECT_EQ(Call(1, {11}), "wait");
    const uint32_t eleven = waiting_;
    MOV_StopPlayingMovies();
    EXPECT_EQ(Answers(), (AnswerList{{eleven, 1}}));
    EXPECT_EQ(MOV_IsPlaying(11), 0);
    EXPECT_TRUE(Called("stop 11 0"));
    MOV_FreeAllMovies();
    EXPECT_TRUE(Answers().empty());
}

TEST_F(MoviesTest, RateAndVolume) {
    LogCapture log;
    ASSERT_EQ(Call(0, {12, static_cast<int32_t>(MOVIE_NO_POSITION)}), "later 1");
    ASSERT_EQ(Call(0, {13, 0}), "later 1");
    ASSERT_EQ(Call(0, {14, static_cast<int32_t>(MOVIE_NO_AUDIO)}), "later 1");
    ASSERT_EQ(Call(0, {15, static_cast<int32_t>(MOV_VOICE)}), "later 1");
    ASSERT_EQ(Call(0, {16, static_cast<int32_t>(MOV_SOUNDTRACK)}), "later 1");
    // Voice and soundtrack streams take their volume from the settings.
    EXPECT_TRUE(Called("volume 15 90"));
    EXPECT_TRUE(Called("volume 16 80"));

    const struct {
        int32_t call;
        std::vector<int32_t> args;
        const char* answer;
        const char* streamCall;  // null: nothing reaches the stream
    } cases[] = {
        {7, {12, 50000}, "now 0", nullptr}, {7, {13, 50000}, "now 1", "rate 13 50000"},
        {7, {99, 1}, "now 0", nullptr},     {8, {13, 128}, "now 1", "volume 13 128"},
        {8, {14, 10}, "now 0", nullptr},    {8, {99, 10}, "now 0", nullptr},
    };
    for (const auto& c : cases) {
        streams_.calls.clear();
        EXPECT_EQ(Call(c.call, c.args), c.answer) << c.call << " " << c.args[0];
        if (c.streamCall) {
            EXPECT_EQ(streams_.calls, std::vector<std::string>{c.streamCall});
        } else {
            EXPECT_TRUE(streams_.calls.empty()) << c.call << " " << c.args[0];
        }
    }
    EXPECT_TRUE(log.Contains("ERROR:Setting rate on NOPOS stream!\n"));
    EXPECT_TRUE(log.Contains("Failed set rate movie 99\n"));
    EXPECT_TRUE(log.Contains("Failed set volume movie 14\n"));
    streams_.failVolume = true;
    EXPECT_EQ(Call(8, {13, 5}), "now 0");

    // The sound module's voice and music volumes reach only their streams.
    streams_.calls.clear();
    MOV_ApplyVolume(MOV_VOICE, 33);
    EXPECT_EQ(streams_.calls, std::vector<std::string>{"volume 15 33"});
}

const char* kVoices44 = R"(<ROOT>
  <L id="44">
    <P id="3" stream="144">
      <V id="0" s="100" l="50"/>
      <V id="7" s="500" l="20"/>
    </P>
  </L>
  <L id="0"><P id="4" stream="9"><V id="1" s="1" l="1"/></P></L>
  <L id="44"><P id="3" stream="144"><V id="9" s="900" l="90"/></P></L>
</ROOT>
)";

TEST_F(MoviesTest, VoiceFilesTimeTheSpokenLines) {
    folder_.Write("mov/00044.xml", kVoices44);
    folder_.Write("mov/00046.xml", "<ROOT><L id=\"46\"></P></ROOT>");
    LogCapture log;
    EXPECT_EQ(Call(9, {44}), "now 1");
    EXPECT_EQ(Call(9, {45}), "now 0");
    EXPECT_TRUE(log.Contains("MOV_LoadVoices(45) can't open file\n"));
    EXPECT_EQ(Call(9, {46}), "now 0");
    EXPECT_TRUE(log.Contains("MOV_LoadVoices(46) XML parse error\n"));
    EXPECT_EQ(Call(9, {1000}), "now 0");
    EXPECT_EQ(Call(9, {-1}), "now 0");

    const struct {
        int32_t language, page, voice;
        int32_t start, length;
    } lines[] = {{44, 3, 0, 100, 50},  {44, 3, 7, 500, 20}, {44, 3, 9, 900, 90},  // pages merged
                 {44, 3, 1, -1, -1},   {0, 4, 1, -1, -1},   {44, 4, 1, -1, -1},
                 {1000, 3, 0, -1, -1}, {-5, 3, 0, -1, -1}};
    for (const auto& l : lines) {
        EXPECT_EQ(Call(11, {l.language, l.page, l.voice}), "now " + std::to_string(l.start)) << l.voice;
        EXPECT_EQ(Call(12, {l.language, l.page, l.voice}), "now " + std::to_string(l.length)) << l.voice;
    }
    EXPECT_EQ(Call(13, {44, 3}), "now 144");
    EXPECT_EQ(Call(13, {44, 5}), "now -1");
    EXPECT_TRUE(log.Contains("MOV_GetVoiceStart(44,3,1) Can't find voice info\n"));
    EXPECT_TRUE(log.Contains("MOV_GetVoiceStream(44,5) Can't find voice info\n"));

    // A spoken line plays its part of the given movie.
    EXPECT_EQ(Call(6, {144, 44, 3, 7}), "wait");
    EXPECT_TRUE(Called("seek 144 500"));
    EXPECT_TRUE(Called("stopat 144 520"));
    MovMovie* m = MOV_FindMovie(144);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->voiceLanguage, 44);
    EXPECT_EQ(m->voicePage, 3);
    EXPECT_EQ(m->voiceId, 7);
    EXPECT_EQ(Call(6, {144, 44, 3, 2}), "later 0");
    EXPECT_TRUE(log.Contains("Failed loading move voice 44 3 2\n"));

    EXPECT_EQ(Call(10), "now 0");
    EXPECT_TRUE(log.Contains("MOV_FreeVoices() 1 pages with total 3 voices entries freed.\n"));
    EXPECT_EQ(Call(11, {44, 3, 0}), "now -1");
}

TEST_F(MoviesTest, SaveSectionReopensMoviesInTheCurrentLanguage) {
    folder_.Write("mov/00044.xml", kVoices44);
    folder_.Write("mov/00049.xml", "<ROOT><L id=\"49\"><P id=\"1\" stream=\"149\"/></L></ROOT>");
    sys_.languageId = 49;
    ASSERT_EQ(Call(9, {49}), "now 1");
    ASSERT_EQ(Call(0, {149, static_cast<int32_t>(MOV_VOICE)}), "later 1");
    ASSERT_EQ(Call(4, {149, 70}), "now 1");
    ASSERT_EQ(Call(1, {149}), "wait");
    const uint32_t caller = waiting_;

    QelFile* f = Qel_fopen("mov.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(MOV_SaveGame(f), 1);
    Qel_fclose(f);
    std::vector<uint8_t> golden;
    auto tag = [&](const char* t) { golden.insert(golden.end(), t, t + 4); };
    auto word = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) golden.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
    };
    tag("MOVI");
    word(1);
    for (uint32_t w : {149u, caller, static_cast<uint32_t>(Module()), 0u, static_cast<uint32_t>(-61001),
                       MOV_VOICE | MOV_CONNECTED | MOV_PLAYING, 70u, 0u, 0u, 0u})
        word(w);
    word(1);
    word(49);
    tag("/MOV");
    EXPECT_EQ(folder_.Read("mov.sav"), golden);

    // Loaded in another language: movie 144 in place of 149, not playing,
    // connected again, nobody answered; the voices of the current language.
    MOV_FreeAllMovies();
    MOV_FreeVoices();
    EXPECT_EQ(Answers(), (AnswerList{{caller, 1}}));
    sys_.languageId = 44;
    LogCapture log;
    f = Qel_fopen("mov.sav", "rb", 0);
    EXPECT_EQ(MOV_LoadGame(f), 1);
    Qel_fclose(f);
    EXPECT_EQ(MOV_FindMovie(149), nullptr);
    MovMovie* m = MOV_FindMovie(144);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->flags, MOV_VOICE | MOV_CONNECTED);
    EXPECT_EQ(m->textureId, 70);
    EXPECT_EQ(m->module, 0);
    EXPECT_TRUE(Answers().empty());
    EXPECT_TRUE(log.Contains("MOV_LoadGame() loaded voice file 44\n"));
    EXPECT_EQ(MOV_GetVoiceStart(44, 3, 0), 100);

    // A language without its file falls back to 44.
    MOV_FreeVoices();
    sys_.languageId = 7;
    f = Qel_fopen("mov.sav", "rb", 0);
    EXPECT_EQ(MOV_LoadGame(f), 1);
    Qel_fclose(f);
    EXPECT_TRUE(log.Contains("MOV_LoadGame() Can't find voiceinfo for language 7, trying default 44!\n"));
    EXPECT_TRUE(log.Contains("MOV_LoadGame() loaded default voice file 44\n"));
    EXPECT_NE(MOV_FindMovie(107), nullptr);

    folder_.Write("bad.sav", "MOVA");
    f = Qel_fopen("bad.sav", "rb", 0);
    EXPECT_EQ(MOV_LoadGame(f), 0);
    Qel_fclose(f);
    EXPECT_TRUE(log.Contains("MOV_LoadGame() Wrong MOVA cookie\n"));
    folder_.Write("bad.sav", std::string("MOVI\0\0\0\0\0\0\0\0/MOX", 16));
    f = Qel_fopen("bad.sav", "rb", 0);
    EXPECT_EQ(MOV_LoadGame(f), 0);
    Qel_fclose(f);
    EXPECT_TRUE(log.Contains("MOV_LoadGame() Wrong /MOV cookie\n"));
}

TEST_F(MoviesTest, WithoutAMovieTableTheSectionIsEmptyAndCallsAnswerZero) {
    ASSERT_EQ(Call(0, {5, 0}), "later 1");
    MovieTable* table = g_MovState->table;
    g_MovState->table = nullptr;
    EXPECT_EQ(Call(0, {6, 0}), "now 0");
    EXPECT_EQ(Call(1, {5}), "now 0");
    EXPECT_EQ(Call(11, {44, 3, 0}), "now 0");

    QelFile* f = Qel_fopen("empty.sav", "wb", 0);
    EXPECT_EQ(MOV_SaveGame(f), 1);
    Qel_fclose(f);
    EXPECT_EQ(folder_.Read("empty.sav"),
              (std::vector<uint8_t>{'M', 'O', 'V', 'I', 0, 0, 0, 0, 0, 0, 0, 0, '/', 'M', 'O', 'V'}));
    f = Qel_fopen("empty.sav", "rb", 0);
    EXPECT_EQ(MOV_LoadGame(f), 1);
    Qel_fclose(f);
    g_MovState->table = table;

    LogCapture log;
    EXPECT_EQ(Call(14), "now 0");
    EXPECT_TRUE(log.Contains("MOV_SysCall ("));
    EXPECT_TRUE(log.Contains(") : Undefined System Call 14\n"));
    for (int i = 0; i < 14; ++i) EXPECT_NE(MOV_GetCallNames()[i], nullptr) << i;
    EXPECT_EQ(MOV_GetCallNames()[14], nullptr);
    // No task: nothing to answer and nothing read.
    for (int32_t call : {0, 4, 14}) EXPECT_EQ(MOV_SysCall(Module(), nullptr, call, 0, nullptr), 0) << call;
}

}  // namespace
