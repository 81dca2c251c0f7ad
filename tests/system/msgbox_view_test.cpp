// Message boxes as the player sees them: drawn by the dialog view (its window
// hidden under the offscreen driver) and ended by the player, a stop signal or
// the close of the game's window, never left waiting for a click that cannot come.
#include <gtest/gtest.h>

#include <SDL.h>
#include <signal.h>

#include <string>

#include "platform/d3d9/d3d9.h"
#include "platform/win32/dialog.h"
#include "platform/win32/msgbox.h"
#include "platform/win32/signals.h"
#include "support/logcapture.h"
#include "support/videosupport.h"
#include "support/window_support.h"
#include "system/keys.h"

namespace {

constexpr int kBoxText = 100;  // the box's text control

LRESULT GameProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

class MessageBoxView : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        ASSERT_TRUE(D3D9_LoadDriver());
        Win32_DialogSeamReset();
        Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
        boxes.capture = false;
        boxes.view = true;
    }
    void TearDown() override {
        Win32_DialogSeamReset();
        Win32_MessageBoxSeamDisable();
        VideoTestBase::TearDown();
    }
};

TEST_F(MessageBoxView, ThePlayerReadsTheTextAndAnswers) {
    std::string text;
    Win32_DialogSeam().eachFrame = [&](HWND box) {
        text = Win32_DialogControl(box, kBoxText)->text;
        EXPECT_EQ(Win32_DialogCaption(box), "Screenshots");
        Win32_DialogClick(box, IDNO);
    };
    EXPECT_EQ(MessageBoxA(nullptr, "Create the folder?", "Screenshots", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
    EXPECT_EQ(text, "Create the folder?");
    EXPECT_EQ(Win32_MessageBoxStop(), 0);
}

// The box at a fatal error waited for its click whatever happened: now a stop
// signal ends it, the box logs the signal, and whoever showed it goes on.
TEST_F(MessageBoxView, AStopSignalEndsTheBox) {
    Win32_InstallStopSignals();
    int frames = 0;
    Win32_DialogSeam().eachFrame = [&](HWND) {
        if (++frames == 2) raise(SIGTERM);
    };
    LogCapture log;
    S_SystemMessage("Error opening SystemBase.\n");
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(Win32_MessageBoxStop(), SIGTERM);
    EXPECT_TRUE(log.Contains("SIGTERM received: the program ends\n"));
    // Asked for after the stop, a box is not shown at all.
    EXPECT_EQ(MessageBoxA(nullptr, "again", "caption", MB_OK), IDOK);
    EXPECT_EQ(frames, 2);
}

// The game's window closed while a box is up: the box ends, and the close
// reaches the game's window for the program's own end.
TEST_F(MessageBoxView, TheCloseOfTheGamesWindowEndsTheBoxAndThenTheGame) {
    HWND game = OpenScreenWindow(GameProc, 160, 120);
    ASSERT_NE(game, nullptr);
    const Uint32 gameId = SDL_GetWindowID(Win32_GetSDLWindow(game));
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    Win32_DialogSeam().eachFrame = [&](HWND) {
        SDL_Event close{};
        close.type = SDL_WINDOWEVENT;
        close.window.windowID = gameId;
        close.window.event = SDL_WINDOWEVENT_CLOSE;
        SDL_PushEvent(&close);
    };
    EXPECT_EQ(MessageBoxA(nullptr, "Error", "caption", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(Win32_MessageBoxStop(), WIN32_DIALOG_QUIT);
    Win32_DialogSeam().eachFrame = nullptr;
    bool closed = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        closed = closed || (msg.hwnd == game && msg.message == WM_SYSCOMMAND && msg.wParam == SC_CLOSE);
    EXPECT_TRUE(closed);
    DestroyWindow(game);
}

}  // namespace
