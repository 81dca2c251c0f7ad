// The program's own engine calls, full-screen pictures and loading screens
// (drawn on the headless device and read back from its back buffer), and the
// pause rules of the input step.
#include "program/pcalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "base/memory.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/shell.h"
#include "base/standin_calls.h"
#include "render/device.h"
#include "render/partdraw.h"
#include "render/postprocess.h"
#include "scene/state.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "support/script_run.h"
#include "support/surfacesupport.h"
#include "support/syscall_runner.h"
#include "support/videosupport.h"
#include "system/input.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/keys.h"
#include "system/settings.h"
#include "system/video.h"
#include "system/window.h"

namespace {

// One call of the module: the display text of its answer ("<no answer>" when
// the task was not answered), and the handler's result in *result.
std::string PCall(StoryRunner& runner, int32_t call, std::vector<ScriptValue> args = {}, int32_t* result = nullptr) {
    SysCallRunner caller(runner.ctx());
    SE_Task* task = caller.task();
    task->answered = 0;
    task->callResult = ScriptValue{};
    const int32_t r = P_SysCall(runner.module(), task, call, static_cast<int32_t>(args.size()), args.data());
    if (result) *result = r;
    for (ScriptValue& v : args) SV_Release(&v);
    return task->answered ? SysCallRunner::Display(task->callResult) : "<no answer>";
}

class ProgramCalls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runner_.Load(kNopStory));
        savedInput_ = g_InputState;
        g_InputState = &input_;
    }
    void TearDown() override { g_InputState = savedInput_; }
    std::string Call(int32_t call, std::vector<ScriptValue> args = {}) { return PCall(runner_, call, std::move(args)); }
    static ScriptValue Int(int32_t n) { return SysCallRunner::Int(n); }

    TempGameFolder folder_;
    GeneralSession general_;
    StoryRunner runner_;
    InputState input_{};
    InputState* savedInput_ = nullptr;
};

TEST_F(ProgramCalls, FlagWordsAnswerWhatTheyStore) {
    struct Case {
        int32_t get, set;
        uint32_t SystemState::*field;
    };
    const Case cases[] = {{5, 6, &SystemState::SysFlags},
                          {7, 8, &SystemState::VideoD3DFlags},
                          {9, 10, &SystemState::VideoD3DFlags2},
                          {11, 12, &SystemState::SysProfilingFlags}};
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.set, {Int(0x12345)}), "74565") << c.set;
        EXPECT_EQ(g_SystemState->*c.field, 0x12345u);
        EXPECT_EQ(Call(c.get), "74565") << c.get;
        g_SystemState->*c.field = 0x100;
        EXPECT_EQ(Call(c.get), "256") << c.get;
    }
}

TEST_F(ProgramCalls, TheVideoFlagsTurnPartDrawingsBloomOnAndOff) {
    D3DDeviceRecord record{};
    record.sm2Detected = 1;
    RendererState renderer{};
    renderer.device = &record;
    RendererState* savedRenderer = g_RendererState;
    const S3DPartDrawSettings savedSettings = g_S3DPartDraw;
    g_RendererState = &renderer;
    EXPECT_EQ(Call(10, {Int(static_cast<int32_t>(S3D_OPTION_BLOOM))}), "128");
    EXPECT_EQ(g_S3DPartDraw.bloom, 1);
    EXPECT_EQ(Call(10, {Int(0)}), "0");
    EXPECT_EQ(g_S3DPartDraw.bloom, 0);
    g_S3DPartDraw = savedSettings;
    g_RendererState = savedRenderer;
}

TEST_F(ProgramCalls, InputRequirementsReachTheInputRecord) {
    input_.flags = 0x80 | 0x800000 | 0x1000;
    EXPECT_EQ(Call(25, {Int(0x20 | 0x4)}), "0");
    EXPECT_EQ(g_SystemState->inputFlags, 0x24u);
    EXPECT_EQ(input_.flags, 0x20u | 0x1000u);  // 0x20 set, 0x80 and 0x800000 cleared, others kept
    EXPECT_EQ(Call(24), "36");
    EXPECT_EQ(Call(25, {Int(0x800080)}), "0");
    EXPECT_EQ(input_.flags, 0x800080u | 0x1000u);
}

TEST_F(ProgramCalls, KeyNamesAndJoystickValues) {
    const char* name = S_IOKeyComboName(30);
    const std::string expected = name ? "\"" + std::string(name) + "\"" : "0";
    EXPECT_EQ(Call(19, {Int(30)}), expected);
    // A code without a name answers 0.
    EXPECT_EQ(Call(19, {Int(0x7fffffff)}), S_IOKeyComboName(0x7fffffff) ? "?" : "0");
    const char* last = S_IOLastKeyChar();
    EXPECT_EQ(Call(18), last ? "\"" + std::string(last) + "\"" : "0");

    EXPECT_EQ(Call(21, {Int(7)}), "0");
    EXPECT_EQ(Call(20), "7");
    EXPECT_EQ(Call(23, {Int(15)}), "0");
    EXPECT_EQ(Call(22), "15");
    EXPECT_EQ(S_GetJoystickDeadzone(), 15);
}

TEST_F(ProgramCalls, UndefinedCallsAnswerZeroWithTheirLine) {
    for (int32_t call : {3, 4, 26, 1000}) {
        LogCapture log;
        EXPECT_EQ(Call(call, {Int(1)}), "0") << call;
        EXPECT_TRUE(log.Contains("P_SysCall (")) << call;
        EXPECT_TRUE(log.Contains("): Undefined System Call ")) << call;
    }
    // The story is loaded by the game loop: the caller stops for this turn.
    int32_t result = -1;
    EXPECT_EQ(PCall(runner_, 0, {}, &result), "1");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(PCall(runner_, 2, {}, &result), "0");
    EXPECT_EQ(result, 1);
}

// Pictures on the headless device. Colours are those of small JPEG files, so
// they are compared within a tolerance.
constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF,
                   kYellow = 0xFFFFFF00, kCyan = 0xFF00FFFF;

class Pictures : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        ASSERT_TRUE(OpenVideo(640, 480));
        savedInput_ = g_InputState;
        g_InputState = &input_;
    }
    void TearDown() override {
        g_InputState = savedInput_;
        g_TextureDummies = {};
        P_FreeScreens();
        StandIn_ClearCalls();
        S_3DFreeLookupTextures();
        if (g_VideoRecord) Qel_CloseVideo(1);
        CloseVideo();
        VideoTestBase::TearDown();
    }
    void Picture(const std::string& name, uint32_t colour) const {
        folder_.WriteBytes("L/" + name + ".jpg", Jpeg(16, 16, std::vector<uint32_t>(16 * 16, colour)));
    }
    static EBM* Screen() { return g_VideoRecord->BackBufferEBM; }
    // 1 when the pixel is the colour within a tolerance.
    static bool Is(int x, int y, uint32_t colour) { return Near(PixelAt(Screen(), x, y), colour); }
    static bool Near(uint32_t got, uint32_t colour) {
        for (int s = 0; s < 24; s += 8)
            if (std::abs(static_cast<int>((got >> s) & 0xFF) - static_cast<int>((colour >> s) & 0xFF)) > 24)
                return false;
        return true;
    }
    static uint32_t Centre() { return PixelAt(Screen(), 320, 240) & 0xFFFFFF; }
    // Lets the real clock reach the next due time.
    static void Later() { g_SystemState->realClock = (g_SystemState->realClock + 2000) % 32400000; }

    TempGameFolder folder_;
    InputState input_{};
    InputState* savedInput_ = nullptr;
};

TEST_F(Pictures, LoadingScreensShowTheListedPicturesInTurn) {
    Picture("true/LoadScrDefault", kWhite);
    // No listed picture: the default is shown, without bars while one is missing.
    P_InitLoadingScreen();
    P_ShowNextLoadingScreen();
    EXPECT_TRUE(Is(320, 240, kWhite));
    EXPECT_TRUE(Is(320, 2, kWhite));

    // One picture is shown every time, and only once the due time came.
    Picture("loadscr/one", kRed);
    Picture("true/LoadScrTOP", kYellow);
    Picture("true/LoadScrBOT", kCyan);
    P_InitLoadingScreen();
    for (int i = 0; i < 2; ++i) {
        P_ShowNextLoadingScreen();
        EXPECT_TRUE(Is(320, 240, kRed)) << i;
        // The bars take a band of 10/128 of the height at the top and the bottom.
        const int h = Screen()->height, band = h * 10 / 128;
        EXPECT_TRUE(Is(320, 2, kYellow));
        EXPECT_TRUE(Is(320, band - 2, kYellow));
        EXPECT_TRUE(Is(320, band + 2, kRed));
        EXPECT_TRUE(Is(320, h - band - 2, kRed));
        EXPECT_TRUE(Is(320, h - band + 2, kCyan));
        EXPECT_TRUE(Is(320, h - 2, kCyan));
        Qel_RectFill(0, 0, Screen()->width, h, 0, Screen());
        P_ShowNextLoadingScreen();  // not yet due
        EXPECT_TRUE(Is(320, 240, 0));
        Later();
    }

    // Three pictures come in turn from a random start; only ".jpg" files count.
    Picture("loadscr/two", kGreen);
    Picture("loadscr/three", kBlue);
    folder_.WriteBytes("L/loadscr/notes.txt", {'x'});
    folder_.WriteBytes("L/loadscr/.jpg", Jpeg(16, 16, std::vector<uint32_t>(16 * 16, kYellow)));
    P_InitLoadingScreen();
    std::vector<uint32_t> shown;
    for (int i = 0; i < 4; ++i) {
        P_ShowNextLoadingScreen();
        shown.push_back(Centre());
        Later();
    }
    const std::set<uint32_t> distinct(shown.begin(), shown.begin() + 3);
    EXPECT_EQ(distinct.size(), 3u);
    EXPECT_EQ(shown[3], shown[0]);
    for (uint32_t c : shown) EXPECT_TRUE(Near(c, kRed) || Near(c, kGreen) || Near(c, kBlue)) << std::hex << c;
}

TEST_F(Pictures, AFullScreenPictureEndsEarlyOnAMouseButton) {
    LogCapture log;
    EXPECT_EQ(P_ViewEBMFullscreen("nothere", 0), 0);
    // A picture that only loads as the dummy texture counts as missing.
    std::unique_ptr<EBM, void (*)(EBM*)> dummy(MakeBitmap(Layout::Bits32, 1, 1), FreeILBM);
    g_TextureDummies = {dummy.get(), dummy.get(), dummy.get()};
    const int refs = dummy->refCount;
    EXPECT_EQ(P_ViewEBMFullscreen("nothere", 0), 0);
    EXPECT_EQ(dummy->refCount, refs);
    EXPECT_EQ(P_ViewLoadingScreen(g_SystemState->realClock, "nothere"), 1);  // nothing to stretch
    g_TextureDummies = {};

    Picture("true/title", kGreen);
    input_.mouseHeld = 1;
    input_.mouseButtons = 1;
    EXPECT_EQ(P_ViewEBMFullscreen("title", 3), 1);  // the button is held: no wait
    EXPECT_TRUE(Is(320, 240, kGreen));
    input_.mouseHeld = input_.mouseButtons = 0;
    EXPECT_EQ(P_ViewEBMFullscreen("title", 0), 1);
}

TEST_F(Pictures, TheLetterboxBlacksTheBarsAndPutsTheLogoTopRight) {
    Picture("true/white", kWhite);
    Picture("true/logo", kRed);
    ASSERT_EQ(P_ViewEBMFullscreen("white", 0), 1);
    // The logo loads as the pictures do.
    const SystemState* sys = g_SystemState;
    uint32_t flags = sys->textureFlags;
    if (sys->depth < 24) flags = (flags | 0x100) & ~0x200u;
    else if (sys->depth < 32) flags = (flags | 0x200) & ~0x100u;
    else flags = (flags & ~0x300u) | 0x2000;
    if (!(flags & 0x4000)) flags |= 0x8000000;
    g_LogoBitmap = S_LoadTexture("L\\true\\logo", flags, 0, 1);
    ASSERT_NE(g_LogoBitmap, nullptr);

    ProgramState state{};
    ProgramState* saved = g_ProgramState;
    g_ProgramState = &state;
    SysCallRunner caller;
    Ruzo_SysCall(0, caller.task(), 9, 0, nullptr);  // "Ruzo_BlitRuzoLogo"
    g_ProgramState = saved;

    // Bars of an eighth of the height each; the 16 x 16 logo scaled to the
    // top bar's height less 2, its right edge on the last column.
    const int w = Screen()->width, h = Screen()->height, bar = h / 8, logo = bar - 2;
    const uint32_t black = 0xFF000000;
    EXPECT_TRUE(Is(100, 0, black));
    EXPECT_TRUE(Is(100, bar - 1, black));
    EXPECT_TRUE(Is(100, bar, kWhite));
    EXPECT_TRUE(Is(w / 2, h / 2, kWhite));
    EXPECT_TRUE(Is(100, h - bar - 1, kWhite));
    EXPECT_TRUE(Is(100, h - bar, black));
    EXPECT_TRUE(Is(100, h - 1, black));
    EXPECT_TRUE(Is(w - 1, 0, kRed));
    EXPECT_TRUE(Is(w - logo, logo - 1, kRed));
    EXPECT_TRUE(Is(w - logo - 1, logo / 2, black));
    EXPECT_TRUE(Is(w - 1, logo, black));
}

TEST_F(Pictures, ClearingTheScreenChecksTheViewsSize) {
    std::unique_ptr<EBM, void (*)(EBM*)> view(MakeBitmap(Layout::Bits32, 8, 8), FreeILBM);
    g_ScreenViews[0] = view.get();
    FillRaw(view.get(), 0xFFFFFF);
    P_ClearScreen();
    EXPECT_EQ(PixelAt(view.get(), 7, 7) & 0xFFFFFF, 0u);
    struct Case {
        int16_t w, h;
        const char* line;
    };
    const Case cases[] = {{0, 8, "Qel_RectFill(0, 0, 0, 8) invalid rectangle size!\n"},
                          {8, -1, "Qel_RectFill(0, 0, 8, -1) invalid rectangle size!\n"},
                          {2000, 8, "Qel_RectFill(0, 0, 2000, 8) filling outside size ("}};
    for (const Case& c : cases) {
        EBM fake = *view;
        fake.width = c.w;
        fake.height = c.h;
        g_ScreenViews[0] = &fake;
        LogCapture log;
        P_ClearScreen();
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
    g_ScreenViews[0] = nullptr;
}

// The video display's flags for the views, restored afterwards.
class ViewFlags {
public:
    explicit ViewFlags(uint32_t set, uint32_t clear) : saved_(g_VideoRecord->flags) {
        g_VideoRecord->flags = (saved_ | set) & ~clear;
    }
    ~ViewFlags() { g_VideoRecord->flags = saved_; }

private:
    uint32_t saved_;
};

TEST_F(Pictures, ScreenViewsAreGeneratedOrTheDevicesOwn) {
    ASSERT_EQ(Qel_EnsureDisplayBuffer(), 1);  // kept by the video record
    const int64_t used = Int_GetMemUsed();
    const int16_t width = Screen()->width;
    for (const bool two : {false, true}) {
        ViewFlags flags(two ? 0x2000000 : 0, two ? 0x20 : 0x2000020);
        LogCapture log;
        ASSERT_EQ(P_LoadScreens(), 1);
        EXPECT_TRUE(log.Contains("nach generating EBMs\n")) << log.Text();
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            EBM* view = g_ScreenViews[i];
            if (i == 1 && !two) {
                EXPECT_EQ(view, nullptr);
                continue;
            }
            ASSERT_NE(view, nullptr);
            EXPECT_NE(view, Qel_GetVideoSurface(0));
            EXPECT_NE(view, Qel_GetVideoSurface(1));
            EXPECT_EQ(view->width, Screen()->width);
            EXPECT_EQ(view->height, Screen()->height);
            EXPECT_EQ(view->bytesPerPixel, 4);
        }
        if (two) {
            EXPECT_NE(g_ScreenViews[0], g_ScreenViews[1]);
        }
        P_FreeScreens();
        EXPECT_EQ(g_ScreenViews[0], nullptr);
        EXPECT_EQ(g_ScreenViews[1], nullptr);
        EXPECT_EQ(Int_GetMemUsed(), used);  // the generated views are freed
    }

    // Flag 0x20: the device's surfaces, which stay the device's.
    for (const bool two : {false, true}) {
        ViewFlags flags(two ? 0x2000020 : 0x20, two ? 0 : 0x2000000);
        ASSERT_EQ(P_LoadScreens(), 1);
        EXPECT_EQ(Int_GetMemUsed(), used);
        EXPECT_EQ(g_ScreenViews[0], Qel_GetVideoSurface(0));
        EXPECT_EQ(g_ScreenViews[1], two ? Qel_GetVideoSurface(1) : nullptr);
        P_FreeScreens();
        EXPECT_EQ(g_ScreenViews[0], nullptr);
        EXPECT_EQ(Screen()->width, width);
    }

    // The logo goes with the screens.
    Picture("true/logo", kRed);
    g_LogoBitmap = S_LoadTexture("L\\true\\logo", 0x2000, 0, 1);
    ASSERT_NE(g_LogoBitmap, nullptr);
    P_FreeScreens();
    EXPECT_EQ(g_LogoBitmap, nullptr);
    EXPECT_EQ(Int_GetMemUsed(), used);
}

TEST_F(Pictures, TheStartPictureFitsTheScreenSize) {
    struct Case {
        uint16_t w, h;
        const char* picture;
        uint32_t colour;
    };
    const Case cases[] = {{1280, 1024, "load1280", kRed},  {1280, 960, "load1024", kGreen},
                          {1024, 768, "load1024", kGreen}, {1600, 1200, "load1024", kGreen},
                          {800, 600, "load800", kBlue},    {640, 480, "load640", kYellow},
                          {720, 576, "load640", kYellow},  {1000, 800, "load640", kYellow}};
    for (const Case& c : cases) Picture(std::string("true/") + c.picture, c.colour);
    ViewFlags flags(0x20, 0);  // the device's surfaces: nothing is generated at these sizes
    SystemState* sys = g_SystemState;
    const uint16_t w = sys->width, h = sys->height;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        sys->width = c.w;
        sys->height = c.h;
        Qel_RectFill(0, 0, Screen()->width, Screen()->height, 0, Screen());
        ASSERT_EQ(P_LoadScreens(), 1);
        // Stretched over the whole back buffer.
        EXPECT_TRUE(Is(1, 1, c.colour));
        EXPECT_TRUE(Is(320, 240, c.colour));
        EXPECT_TRUE(Is(Screen()->width - 2, Screen()->height - 2, c.colour));
        P_FreeScreens();
    }
    sys->width = w;
    sys->height = h;
}

TEST_F(Pictures, AMissingStartPictureIsNoFailure) {
    ViewFlags flags(0x20, 0);
    Qel_RectFill(0, 0, Screen()->width, Screen()->height, 0x00FF00, Screen());
    ASSERT_EQ(P_LoadScreens(), 1);
    EXPECT_TRUE(Is(320, 240, kGreen));
    EXPECT_EQ(g_ScreenViews[0], Screen());
    // A picture that only loads as the dummy texture is missing too: no dummy
    // is stretched over the screen.
    std::unique_ptr<EBM, void (*)(EBM*)> dummy(MakeBitmap(Layout::Bits32, 1, 1), FreeILBM);
    FillRaw(dummy.get(), 0xFF0000);
    g_TextureDummies = {dummy.get(), dummy.get(), dummy.get()};
    const int refs = dummy->refCount;
    ASSERT_EQ(P_LoadScreens(), 1);
    EXPECT_EQ(dummy->refCount, refs);
    EXPECT_TRUE(Is(320, 240, kGreen));
    g_TextureDummies = {};
}

TEST(ResetViews, TheSceneEngineGetsTheFirstViewAndItsSizes) {
    auto scene = std::make_unique<B3DState>();
    SpaceRoot space{};
    B3DState* savedScene = g_B3DState;
    SpaceRoot* savedSpace = g_SpaceRoot;
    g_B3DState = scene.get();
    g_SpaceRoot = &space;
    StandIn_ClearCalls();
    struct Case {
        int16_t width;
        int32_t half, scaled;  // scaled: 1.25 x half, rounded
    };
    const Case cases[] = {{640, 320, 400}, {1366, 683, 854}, {1025, 512, 640}, {802, 401, 501}, {6, 3, 4}};
    for (const Case& c : cases) {
        EBM view{};
        view.width = c.width;
        g_ScreenViews[0] = &view;
        P_ResetViews();
        EXPECT_EQ(scene->backgroundRecord, &view);
        EXPECT_EQ(scene->backgroundHalf, c.half) << c.width;
        EXPECT_EQ(scene->backgroundScaled, c.scaled) << c.width;
    }
    g_ScreenViews[0] = nullptr;
    StandIn_ClearCalls();
    g_B3DState = savedScene;
    g_SpaceRoot = savedSpace;
}

}  // namespace

namespace {

// Object 2100 notes each "Input" key (answering `InputResult`) and each "NotifyPause".
const char* const kPauseStory = R"(
.object 2100
.var "InputResult" int 0
.func "Input" need 4
    getl 4
    pushds "Input"
    c2
    sys "Test_Note"
    pop
    getv 0
    ret
.func "NotifyPause" need 4
    getl 4
    pushds "NotifyPause"
    c2
    sys "Test_Note"
    pop
    c0
    ret
)";

using Notes = std::vector<std::string>;

class PauseStep : public ::testing::Test {
protected:
    void SetUp() override {
        WriteStory(session_.Folder(), "trevanstory", kPauseStory);
        RegisterTestModule();
        ASSERT_EQ(P_LoadLocation("trevanstory"), 1);
        S_KeyRingClear();
        TestNotes().clear();
        StandIn_ClearCalls();
        // Every key of the ring in turn, not only the newest, and keys from the
        // window's messages (upper-case P and Q only come that way).
        g_InputState->flags &= ~INPUT_SINGLE_KEY;
        keyboard_ = g_ApplicationRecord.keyboardDevice;
        g_ApplicationRecord.keyboardDevice = nullptr;
    }
    void TearDown() override {
        g_ApplicationRecord.keyboardDevice = keyboard_;
        S_KeyRingClear();
        INS_FreeCockpitSystem();
    }
    // Typed characters, as the window's messages bring them.
    static void Keys(std::initializer_list<char> keys) {
        for (char k : keys) S_KeyRingStore(0, k, KEY_KIND_CHAR);
    }
    ProgramSession session_;
    IDirectInputDevice8* keyboard_ = nullptr;
};

TEST_F(PauseStep, ThePausingKeyDoesNotUnpauseAnotherKeyDoes) {
    Keys({'P'});
    EXPECT_EQ(P_Pause(), 1);
    EXPECT_NE(g_ProgramState->requestBits & P_REQUEST_PAUSE, 0u);
    EXPECT_EQ(g_ProgramState->lastKey, 'P');
    // Still holding P, then another key.
    Keys({'P', 'P', 'x', 'y'});
    EXPECT_EQ(P_Pause(), 1);
    EXPECT_EQ(g_ProgramState->requestBits & P_REQUEST_PAUSE, 0u);
    EXPECT_EQ(TestNotes(), (Notes{"Input 80", "NotifyPause 0"}));
    EXPECT_EQ(S_GetKey(), 'y');  // the unpausing key is used up

    // Q ends the story while paused.
    g_ProgramState->requestBits |= P_REQUEST_PAUSE;
    Keys({'Q'});
    EXPECT_EQ(P_Pause(), 0);
    EXPECT_EQ(TestNotes().size(), 2u);
}

TEST_F(PauseStep, TheActiveControlCockpitsShipIsSteered) {
    ASSERT_NE(INS_NewCockpitSystem(), nullptr);
    SectorObject* cockpitShip = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    SectorObject* refShip = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    const uint32_t id = INS_AddCockpit(g_CockpitSystem);
    Cockpit* cockpit = INS_TableGet(g_CockpitSystem, id);
    cockpit->cockpitRefObject = cockpitShip;
    cockpit->refObject = refShip;
    cockpit->viewMode = 4 | 1;  // the cockpit's own ship is steered
    g_CockpitSystem->activeControl = static_cast<int32_t>(id);
    // The throttle lever pulled fully back asks for full reverse.
    g_InputState->flags |= INPUT_RUDDER | INPUT_RUDDER_RANGED;
    g_InputState->rudder = 65535;
    Keys({'a'});
    EXPECT_EQ(P_Pause(), 1);
    EXPECT_EQ(cockpitShip->desiredSpeed, -5000);
    EXPECT_EQ(refShip->desiredSpeed, 0);
    cockpit->viewMode = 1;
    g_StopFlag = 0;
    EXPECT_EQ(P_Pause(), 1);
    EXPECT_EQ(refShip->desiredSpeed, -5000);
    // The steering handled this frame's keys: without a key the last "Input"
    // result is used, and 2 steers with keys, buttons and axes off.
    refShip->desiredSpeed = 0;
    g_KeyHandled = 1;
    g_LastInputResult = 2;
    TestNotes().clear();
    EXPECT_EQ(P_Pause(), 1);
    EXPECT_TRUE(TestNotes().empty());
    EXPECT_EQ(g_KeyHandled, 0);
    EXPECT_EQ(refShip->desiredSpeed, 0);
    g_InputState->flags &= ~(INPUT_RUDDER | INPUT_RUDDER_RANGED);
    for (SectorObject* o : {cockpitShip, refShip}) O_DeleteSectorObject(o);
}

}  // namespace
