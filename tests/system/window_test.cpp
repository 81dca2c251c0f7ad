#include <gtest/gtest.h>

#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "platform/win32/signals.h"
#include "support/logcapture.h"
#include "system/entry.h"
#include "support/window_support.h"
#include "system/window.h"

namespace {

// What the window procedure asked of the layers around it.
struct Calls {
    std::vector<int> acquire;
    int polls = 0;
    int movieStops = 0;
    int cdDone = 0;
    bool display = true;
    uint32_t displayFlags = 0;
};
Calls g_calls;

void RecordAcquire(int unacquire) { g_calls.acquire.push_back(unacquire); }
void RecordPoll() { ++g_calls.polls; }
void RecordMovieStop() { ++g_calls.movieStops; }
void RecordCdDone() { ++g_calls.cdDone; }
int Screen640x480(int32_t* w, int32_t* h, uint32_t* flags) {
    *w = 640;
    *h = 480;
    *flags = g_calls.displayFlags;
    return g_calls.display ? 1 : 0;
}

char g_fakeDevice;  // stands for a DirectInput object or device that is present
template <class T>
T* Present() {
    return reinterpret_cast<T*>(&g_fakeDevice);
}

using KeyList = std::vector<std::pair<int, int>>;

class WindowTest : public testing::Test {
protected:
    ~WindowTest() override {
        Int_FreeRecord(&input_, 0);
        Int_FreeRecord(&sys_, 0);
    }
    void SetUp() override {
        savedState_ = g_SystemState;
        g_SystemState = &sys_;
        g_ApplicationRecord = ApplicationRecord{};
        g_InputState = &input_;
        g_calls = Calls{};
        S_WindowLinks = WindowLinks{RecordAcquire, RecordPoll, RecordMovieStop, RecordCdDone, Screen640x480};
        S_KeyRingClear();
        Win32_ResetMessages();
        hwnd_ = S_AttachMainWindow();
        ASSERT_NE(hwnd_, nullptr);
    }
    void TearDown() override {
        S_DetachMainWindow();
        Win32_ResetMessages();
        S_WindowLinks = WindowLinks{};
        g_InputState = nullptr;
        g_SystemState = savedState_;
    }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return S_WindowProc(hwnd_, message, wParam, lParam);
    }
    void Activate() {
        Send(WM_ACTIVATE, WA_ACTIVE);
        g_calls.acquire.clear();
    }
    // Every unread key of the ring, oldest first, as (kind, code).
    KeyList ReadKeys() {
        KeyList keys;
        while (const KeyRingEntry* e = S_KeyRingNext(false)) keys.emplace_back(e->kind, e->code);
        return keys;
    }

    // Allocated as start-up allocates them: the program's exit frees them.
    SystemState& sys_ = *Int_AllocRecord<SystemState>(0);
    SystemState* savedState_ = nullptr;
    InputState& input_ = *Int_AllocRecord<InputState>(0);
    HWND hwnd_ = nullptr;
};

TEST_F(WindowTest, ActivationSetsFlagsAndDevices) {
    LogCapture capture;
    EXPECT_EQ(Send(WM_ACTIVATE, WA_ACTIVE), 0);
    EXPECT_EQ(g_ApplicationRecord.active, 1);
    EXPECT_EQ(input_.active, 1u);
    EXPECT_EQ(Send(WM_ACTIVATE, WA_INACTIVE | (1u << 16)), 0);
    EXPECT_EQ(g_ApplicationRecord.active, 0);
    EXPECT_EQ(input_.active, 0u);
    EXPECT_EQ(g_calls.movieStops, 1);
    EXPECT_EQ(Send(WM_ACTIVATEAPP, 0), 0);
    EXPECT_EQ(Send(WM_ACTIVATEAPP, 1), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("WM_ACTIVATE: Active=1, Minimized=0\n"), std::string::npos);
    EXPECT_NE(log.find("WM_ACTIVATE: Active=0, Minimized=1\n"), std::string::npos);
    EXPECT_NE(log.find("WM_ACTIVATEAPP 0\n"), std::string::npos);
    EXPECT_EQ(g_calls.acquire, (std::vector<int>{0, 1, 1, 0}));
}

TEST_F(WindowTest, WorksWithoutInputRecordAndIgnoresOtherWindows) {
    g_InputState = nullptr;
    Send(WM_ACTIVATE, WA_ACTIVE);
    EXPECT_EQ(g_ApplicationRecord.active, 1);
    Send(WM_CHAR, 'x');
    EXPECT_EQ(ReadKeys(), (KeyList{{KEY_KIND_CHAR, 'x'}}));

    HWND other = Win32_CreateMessageWindow(S_WindowProc);
    EXPECT_EQ(S_WindowProc(other, WM_CHAR, 'y', 0), 0);
    EXPECT_EQ(S_WindowProc(other, WM_NCHITTEST, 0, 0), 0);  // left to the default procedure
    EXPECT_TRUE(ReadKeys().empty());
    DestroyWindow(other);
}

TEST_F(WindowTest, SystemCommandsThatWouldMoveOrSleepAreSwallowed) {
    EXPECT_EQ(Send(WM_NCHITTEST), HTCLIENT);
    for (WPARAM cmd : {SC_SIZE, SC_MOVE, SC_MAXIMIZE, SC_KEYMENU, SC_SCREENSAVE, SC_MONITORPOWER})
        EXPECT_EQ(Send(WM_SYSCOMMAND, cmd | 0x2), 1) << std::hex << cmd;
    EXPECT_EQ(Send(WM_SYSCOMMAND, SC_MINIMIZE), 0);
}

TEST_F(WindowTest, CloseCommandEndsTheProgram) {
    EXPECT_EXIT(Send(WM_SYSCOMMAND, SC_CLOSE), testing::ExitedWithCode(0), "EXIT\\(0\\)");
}

// Destroyed from outside, not closed: the orderly exit, saying why.
TEST_F(WindowTest, AWindowDestroyedFromOutsideEndsTheProgramInOrder) {
    Activate();
    Win32_NoteWindowDestroyed(hwnd_);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0),
                "the window was destroyed from outside\n(.|\n)*EXIT\\(0\\)!!!");
}

TEST_F(WindowTest, KeysAndCharactersFillTheRing) {
    struct Case {
        UINT message;
        WPARAM wParam;
        KeyList stored;
    };
    const Case cases[] = {
        {WM_KEYDOWN, 'A', {}},  // arrives as WM_CHAR
        {WM_CHAR, 'a', {{KEY_KIND_CHAR, 97}}},
        {WM_SYSCHAR, 'q', {{KEY_KIND_CHAR, 'q'}}},
        {WM_KEYDOWN, VK_F1, {{KEY_KIND_VIRTUAL, 112}}},
        {WM_KEYDOWN, VK_LEFT, {{KEY_KIND_VIRTUAL, 37}}},
        {WM_KEYDOWN, VK_SPACE, {}},
        {WM_KEYDOWN, VK_BACK, {}},
        {WM_KEYDOWN, '7', {}},
        {WM_KEYDOWN, VK_DIVIDE, {}},  // keypad
        {WM_KEYDOWN, VK_ESCAPE, {}},  // arrives as WM_CHAR
        {WM_KEYDOWN, VK_F12, {{KEY_KIND_VIRTUAL, 123}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "message " << c.message << " wParam " << c.wParam);
        input_.keySeen = 0;
        EXPECT_EQ(Send(c.message, c.wParam), 0);
        EXPECT_EQ(ReadKeys(), c.stored);
        EXPECT_EQ(input_.keySeen, c.message == WM_KEYDOWN ? 1u : 0u);
    }
}

TEST_F(WindowTest, DirectInputKeyboardTakesOverTheKeys) {
    g_ApplicationRecord.directInput = Present<IDirectInput8>();
    g_ApplicationRecord.keyboardDevice = Present<IDirectInputDevice8>();
    Send(WM_KEYDOWN, VK_F1);
    Send(WM_CHAR, 'a');
    EXPECT_TRUE(ReadKeys().empty());
    EXPECT_EQ(input_.keySeen, 0u);
}

TEST_F(WindowTest, FullRingKeepsTheNewestFourKeys) {
    for (int c : {'1', '2', '3', '4', '5'}) Send(WM_CHAR, c);
    EXPECT_EQ(ReadKeys(), (KeyList{{0, '2'}, {0, '3'}, {0, '4'}, {0, '5'}}));
    EXPECT_TRUE(ReadKeys().empty());

    for (int c : {'a', 'b', 'c', 'd'}) Send(WM_CHAR, c);
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 'a'}, {0, 'b'}, {0, 'c'}, {0, 'd'}}));

    for (int c = 0; c < 11; ++c) Send(WM_CHAR, 'A' + c);
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 'H'}, {0, 'I'}, {0, 'J'}, {0, 'K'}}));

    for (int c : {'x', 'y', 'z'}) Send(WM_CHAR, c);
    const KeyRingEntry* newest = S_KeyRingNext(true);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->code, 'z');
    EXPECT_EQ(S_KeyRingCurrent(), newest);
    EXPECT_EQ(S_KeyRingNext(false), nullptr);
}

TEST_F(WindowTest, CursorIsIgnoredWithoutDisplayOrWhileInactive) {
    SetCursorPos(100, 100);
    EXPECT_EQ(Send(WM_SETCURSOR), 1);  // inactive
    Activate();
    g_calls.display = false;
    EXPECT_EQ(Send(WM_SETCURSOR), 1);
    EXPECT_EQ(input_.mouseX, 0);
    EXPECT_EQ(input_.mouseY, 0);
}

TEST_F(WindowTest, FreeCursorFollowsTheSystemCursorClamped) {
    Activate();
    input_.active = 0;  // cursor not captured
    sys_.gameClock = 4321;
    struct Case {
        int x, y;
        int16_t mouseX, mouseY, dx, dy;
    };
    const Case cases[] = {
        {100, 50, 100, 50, 100, 50},
        {110, 45, 110, 45, 10, -5},
        {-20, 500, 0, 480, -130, 455},  // left of and below the screen
        {640, 0, 640, 0, 640, -480},    // both ends included; moved from the clamped place
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        SetCursorPos(c.x, c.y);
        EXPECT_EQ(Send(WM_SETCURSOR), 1);
        EXPECT_EQ(input_.mouseX, c.mouseX);
        EXPECT_EQ(input_.mouseY, c.mouseY);
        EXPECT_EQ(input_.mouseDX, c.dx);
        EXPECT_EQ(input_.mouseDY, c.dy);
    }
    EXPECT_EQ(input_.mouseTime, 4321u);
    EXPECT_FALSE(Win32_GetCursorSeam()->hidden);
}

TEST_F(WindowTest, CapturedCursorMeasuresFromTheCentre) {
    Activate();
    input_.mouseX = 100;
    input_.mouseY = 100;
    SetCursorPos(320, 240);
    Win32_GetCursorSeam()->setCursorPosCalls = 0;
    Send(WM_SETCURSOR);
    EXPECT_EQ(input_.mouseDX, 0);
    EXPECT_EQ(input_.mouseDY, 0);
    EXPECT_EQ(Win32_GetCursorSeam()->setCursorPosCalls, 0);  // already at the centre
    EXPECT_TRUE(Win32_GetCursorSeam()->hidden);

    SetCursorPos(330, 235);
    Win32_GetCursorSeam()->setCursorPosCalls = 0;
    Send(WM_SETCURSOR);
    EXPECT_EQ(input_.mouseX, 110);
    EXPECT_EQ(input_.mouseY, 95);
    EXPECT_EQ(input_.mouseDX, 10);
    EXPECT_EQ(input_.mouseDY, -5);
    EXPECT_EQ(Win32_GetCursorSeam()->setCursorPosCalls, 1);
    POINT p{};
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 320);
    EXPECT_EQ(p.y, 240);
}

TEST_F(WindowTest, MouseButtons) {
    EXPECT_EQ(Send(WM_LBUTTONDOWN), 0);
    EXPECT_EQ(input_.clickLeft, 1u);
    EXPECT_EQ(input_.buttonLeft, 1u);
    Send(WM_LBUTTONUP);
    EXPECT_EQ(input_.clickLeft + input_.buttonLeft, 0u);
    Send(WM_LBUTTONDBLCLK);
    EXPECT_EQ(input_.doubleClick, 1u);
    Send(WM_RBUTTONDOWN);
    EXPECT_EQ(input_.clickRight + input_.buttonRight, 2u);
    Send(WM_RBUTTONUP);
    EXPECT_EQ(input_.clickRight + input_.buttonRight, 0u);

    // Non-client buttons count only while the game holds the cursor on a display
    // without flag 0x8000000.
    Send(WM_NCLBUTTONDOWN);
    EXPECT_EQ(input_.buttonLeft, 0u);
    Activate();
    Send(WM_NCLBUTTONDOWN);
    EXPECT_EQ(input_.buttonLeft, 1u);
    g_calls.displayFlags = 0x8000000;
    Send(WM_NCRBUTTONDOWN);
    EXPECT_EQ(input_.buttonRight, 0u);
    g_calls.displayFlags = 0;
    Send(WM_NCRBUTTONDOWN);
    EXPECT_EQ(input_.buttonRight, 1u);

    // A DirectInput mouse takes the buttons over.
    input_ = InputState{};
    g_ApplicationRecord.directInput = Present<IDirectInput8>();
    g_ApplicationRecord.mouseDevice = Present<IDirectInputDevice8>();
    Send(WM_LBUTTONDOWN);
    EXPECT_EQ(input_.buttonLeft, 0u);
    EXPECT_EQ(Send(WM_SETCURSOR), 0);
}

TEST_F(WindowTest, CompactDiscNotices) {
    g_ApplicationRecord.cdDeviceId = 7;
    g_ApplicationRecord.musicDeviceId = 9;
    LogCapture capture;
    sys_.debugFlags = 4;
    Send(MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 7);
    Send(MM_MCINOTIFY, MCI_NOTIFY_ABORTED, 9);
    Send(MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 8);
    std::string log = capture.Take();
    EXPECT_EQ(g_calls.cdDone, 1);
    EXPECT_NE(log.find("got MM_MCINOTIFY\n"), std::string::npos);
    EXPECT_NE(log.find("unknown MM_MCINOTIFY\n"), std::string::npos);

    S_WindowLinks.cdTrackDone = nullptr;  // no completion routine yet
    Send(MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 7);
    EXPECT_EQ(g_calls.cdDone, 1);
}

TEST_F(WindowTest, ActivePumpHandlesEveryQueuedMessageAndIgnoresQuit) {
    Activate();
    PostMessageA(hwnd_, WM_CHAR, 'a', 0);
    PostQuitMessage(0);
    PostMessageA(hwnd_, WM_KEYDOWN, VK_RETURN, 0);
    LogCapture capture;
    S_ProcessMessages();
    EXPECT_NE(capture.Take().find("GetMessage() WM_QUIT message received, ignoring\n"), std::string::npos);
    EXPECT_EQ(g_calls.polls, 1);
    // Enter is stored once, as its translated character.
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 'a'}, {0, 13}}));
    MSG msg;
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE), 0);
}

TEST_F(WindowTest, InactivePumpBlocksUntilActivated) {
    PostMessageA(hwnd_, WM_CHAR, 'a', 0);
    PostMessageA(hwnd_, WM_ACTIVATE, WA_ACTIVE, 0);
    PostMessageA(hwnd_, WM_CHAR, 'b', 0);
    S_ProcessMessages();
    EXPECT_EQ(g_ApplicationRecord.active, 1);
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 'a'}, {0, 'b'}}));
}

TEST_F(WindowTest, InactivePumpWithNothingToWaitForReturns) {
    LogCapture capture;
    S_ProcessMessages();
    EXPECT_NE(capture.Take().find("GetMessage() Invalid window handle.\n"), std::string::npos);
}

TEST_F(WindowTest, PumpWhileInactiveFlagDrainsWithoutBlocking) {
    input_.flags = INPUT_PUMP_WHILE_INACTIVE;
    PostMessageA(hwnd_, WM_CHAR, 'a', 0);
    PostQuitMessage(0);
    LogCapture capture;
    S_ProcessMessages();
    EXPECT_NE(capture.Take().find("ignoring"), std::string::npos);
    EXPECT_EQ(g_ApplicationRecord.active, 0);
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 'a'}}));
}

TEST_F(WindowTest, QuitWhileInactiveEndsTheProgram) {
    PostQuitMessage(0);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
    // Reactivated, then deactivated again before the quit: still inactive.
    Win32_ResetMessages();
    PostMessageA(hwnd_, WM_ACTIVATE, WA_ACTIVE, 0);
    PostMessageA(hwnd_, WM_ACTIVATE, WA_INACTIVE, 0);
    PostQuitMessage(0);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
}

// The real SDL window under the offscreen driver: events become messages.
class SdlWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        S_DetachMainWindow();
        hwnd_ = g_ApplicationRecord.mainWindow = OpenScreenWindow(S_WindowProc, 640, 480);
        window_ = Win32_GetSDLWindow(hwnd_);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        id_ = SDL_GetWindowID(window_);
    }
    void TearDown() override {
        S_DetachMainWindow();
        hwnd_ = nullptr;
        WindowTest::TearDown();
    }
    void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }
    void Key(SDL_Keycode key, uint16_t mod = 0) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = id_;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = key;
        e.key.keysym.mod = mod;
        Push(e);
    }

    SDL_Window* window_ = nullptr;
    uint32_t id_ = 0;
};

TEST_F(SdlWindowTest, HeadlessWindowStartsActive) {
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "offscreen");
    S_ProcessMessages();  // would block for ever without the synthesised activation
    EXPECT_EQ(g_ApplicationRecord.active, 1);
    EXPECT_EQ(input_.active, 1u);
}

TEST_F(SdlWindowTest, KeysTextAndControlCharacters) {
    S_ProcessMessages();
    Key(SDLK_F1);
    Key(SDLK_a);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = id_;
    std::snprintf(text.text.text, sizeof text.text.text, "a\xc3\xa9");  // "a", e acute
    Push(text);
    S_ProcessMessages();
    EXPECT_EQ(ReadKeys(), (KeyList{{1, 112}, {0, 'a'}, {0, 0xE9}}));
    Key(SDLK_ESCAPE);
    Key(SDLK_TAB);
    S_ProcessMessages();
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 27}, {0, 9}}));
    Key(SDLK_BACKSPACE);
    Key(SDLK_LEFT);
    S_ProcessMessages();
    EXPECT_EQ(ReadKeys(), (KeyList{{0, 8}, {1, 37}}));
}

TEST_F(SdlWindowTest, MouseMotionAndButtons) {
    S_ProcessMessages();
    input_.active = 0;
    SDL_Event move{};
    move.type = SDL_MOUSEMOTION;
    move.motion.windowID = id_;
    move.motion.x = 200;
    move.motion.y = 120;
    Push(move);
    SDL_Event button{};
    button.type = SDL_MOUSEBUTTONDOWN;
    button.button.windowID = id_;
    button.button.button = SDL_BUTTON_RIGHT;
    button.button.clicks = 1;
    Push(button);
    S_ProcessMessages();
    EXPECT_EQ(input_.mouseX, 200);
    EXPECT_EQ(input_.mouseY, 120);
    EXPECT_EQ(input_.buttonRight, 1u);
}

TEST_F(SdlWindowTest, CompactDiscNoticeArrivesAsMessage) {
    S_ProcessMessages();
    g_ApplicationRecord.cdDeviceId = 3;
    Win32_PostMciNotify(MCI_NOTIFY_SUCCESSFUL, 3);
    S_ProcessMessages();
    EXPECT_EQ(g_calls.cdDone, 1);
}

TEST_F(SdlWindowTest, FocusLossPausesAndQuitThenEnds) {
    S_ProcessMessages();
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id_;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    Push(e);
    S_ProcessMessages();
    EXPECT_EQ(g_ApplicationRecord.active, 0);
    EXPECT_EQ(g_calls.movieStops, 1);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    Push(quit);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
}

// SIGINT and SIGTERM reach SDL as its quit event: even while the game runs
// (active window, where WM_QUIT is ignored) it ends the program in order.
TEST_F(SdlWindowTest, QuitFromOutsideClosesTheActiveWindow) {
    S_ProcessMessages();
    ASSERT_EQ(g_ApplicationRecord.active, 1);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    Push(quit);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
}

// Ctrl+C and a service manager's stop take the orderly exit with a line that
// names the signal: while the game runs, and while it waits in the background.
TEST_F(SdlWindowTest, AStopSignalIsLoggedAndEndsTheProgramInOrder) {
    S_ProcessMessages();
    ASSERT_EQ(g_ApplicationRecord.active, 1);
    for (int sig : {SIGINT, SIGTERM}) {
        EXPECT_EXIT(
            {
                Win32_InstallStopSignals();
                raise(sig);
                S_ProcessMessages();
            },
            testing::ExitedWithCode(0),
            std::string(Win32_SignalName(sig)) + " received: the program ends\n(.|\n)*EXIT\\(0\\)!!!");
    }
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id_;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    Push(e);
    S_ProcessMessages();
    ASSERT_EQ(g_ApplicationRecord.active, 0);
    EXPECT_EXIT(
        {
            Win32_InstallStopSignals();
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                kill(getpid(), SIGTERM);
            }).detach();
            S_ProcessMessages();  // inactive: waits here for the window
        },
        testing::ExitedWithCode(0), "SIGTERM received: the program ends\n(.|\n)*EXIT\\(0\\)!!!");
}

TEST_F(SdlWindowTest, CloseAndAltF4EndTheProgramAltSpaceDoesNothing) {
    S_ProcessMessages();
    Key(SDLK_SPACE, KMOD_LALT);
    S_ProcessMessages();
    EXPECT_EQ(g_ApplicationRecord.active, 1);
    Key(SDLK_F4, KMOD_LALT);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id_;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    Push(e);
    EXPECT_EXIT(S_ProcessMessages(), testing::ExitedWithCode(0), "EXIT\\(0\\)");
}

}  // namespace
