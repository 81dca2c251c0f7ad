#include "system/window.h"

#include "base/general.h"
#include "base/log.h"
#include "program/exit.h"
#include "platform/win32/signals.h"
#include "platform/win32/window.h"
#include "system/entry.h"

InputState* g_InputState = nullptr;
KeyRing S_KeyRing = {{}, -1, -1, 0};
WindowLinks S_WindowLinks = {};

// The cursor position before the last mouse message.
static int32_t s_oldCursorX = 0;
static int32_t s_oldCursorY = 0;

static int16_t NextKeyIndex(int16_t index) { return index >= 3 ? 0 : static_cast<int16_t>(index + 1); }

void S_KeyRingStore(int32_t deviceKey, int32_t code, int32_t kind) {
    KeyRing& ring = S_KeyRing;
    ring.writeIndex = NextKeyIndex(ring.writeIndex);
    ring.entries[ring.writeIndex] = KeyRingEntry{deviceKey, code, kind};
    // Write and read index meet both when the ring is empty and when it is full:
    // the unread count tells them apart, and a fifth key pushes the oldest out.
    if (ring.unread < 4) ++ring.unread;
    else ring.readIndex = NextKeyIndex(ring.readIndex);
}

const KeyRingEntry* S_KeyRingNext(bool newestOnly) {
    KeyRing& ring = S_KeyRing;
    if (ring.unread == 0) return nullptr;
    if (newestOnly) {
        ring.readIndex = ring.writeIndex;
        ring.unread = 0;
    } else {
        ring.readIndex = NextKeyIndex(ring.readIndex);
        --ring.unread;
    }
    return &ring.entries[ring.readIndex];
}

const KeyRingEntry* S_KeyRingCurrent() {
    return S_KeyRing.readIndex < 0 ? nullptr : &S_KeyRing.entries[S_KeyRing.readIndex];
}

void S_KeyRingClear() { S_KeyRing = KeyRing{{}, -1, -1, 0}; }

static void SyncAcquire(int unacquire) {
    if (S_WindowLinks.syncAcquire) S_WindowLinks.syncAcquire(unacquire);
}

static int16_t Clamp16(int32_t v, int32_t hi) { return static_cast<int16_t>(v < 0 ? 0 : v > hi ? hi : v); }

// Digits, letters, the numeric keypad, space, backspace, tab, enter and escape
// arrive as characters too; storing their key-down as well would read them twice.
static bool KeyArrivesAsCharacter(WPARAM vk) {
    return vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_SPACE ||
           (vk >= 0x30 && vk <= 0x6F);
}

static LRESULT SetCursorMessage(InputState* in) {
    ApplicationRecord& app = g_ApplicationRecord;
    int32_t width = 0, height = 0;
    uint32_t displayFlags = 0;
    if (!S_WindowLinks.screen || !S_WindowLinks.screen(&width, &height, &displayFlags) || !app.active) return 1;
    in->mouseTime = g_SystemState ? static_cast<uint32_t>(g_SystemState->gameClock) : 0;
    POINT pos{};
    GetCursorPos(&pos);
    s_oldCursorX = in->mouseX;
    s_oldCursorY = in->mouseY;
    int32_t dx, dy, x, y;
    if (in->active) {
        // Captured: the system cursor sits at the screen centre and each message
        // measures how far it moved away from there.
        dx = pos.x - width / 2;
        dy = pos.y - height / 2;
        x = in->mouseX + dx;
        y = in->mouseY + dy;
    } else {
        x = pos.x;
        y = pos.y;
        dx = x - s_oldCursorX;
        dy = y - s_oldCursorY;
    }
    in->mouseX = Clamp16(x, width);
    in->mouseY = Clamp16(y, height);
    in->mouseDX = static_cast<int16_t>(dx);
    in->mouseDY = static_cast<int16_t>(dy);
    if (in->active) {
        SetCursor(nullptr);
        if (dx != 0 || dy != 0) SetCursorPos(width / 2, height / 2);
    }
    return 1;
}

// Button messages; the non-client ones count only while the game holds the cursor.
static bool ButtonMessage(InputState* in, UINT message) {
    switch (message) {
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONUP:
        case WM_NCLBUTTONDBLCLK:
        case WM_NCRBUTTONDOWN:
        case WM_NCRBUTTONUP: {
            int32_t width = 0, height = 0;
            uint32_t displayFlags = 0;
            bool display = S_WindowLinks.screen && S_WindowLinks.screen(&width, &height, &displayFlags);
            if (!g_ApplicationRecord.active || !in->active || !display || (displayFlags & 0x8000000)) return false;
            message -= WM_NCLBUTTONDOWN - WM_LBUTTONDOWN;
            break;
        }
        default: break;
    }
    switch (message) {
        case WM_LBUTTONDOWN: in->clickLeft = in->buttonLeft = 1; return true;
        case WM_LBUTTONUP: in->clickLeft = in->buttonLeft = 0; return true;
        case WM_LBUTTONDBLCLK: in->doubleClick = 1; return true;
        case WM_RBUTTONDOWN: in->clickRight = in->buttonRight = 1; return true;
        case WM_RBUTTONUP: in->clickRight = in->buttonRight = 0; return true;
        default: return false;
    }
}

LRESULT S_WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ApplicationRecord& app = g_ApplicationRecord;
    if (app.mainWindow && hwnd != app.mainWindow) return DefWindowProcA(hwnd, message, wParam, lParam);

    InputState scratch;
    InputState* in = g_InputState;
    if (!in) {
        scratch = InputState{};
        in = &scratch;
    }

    switch (message) {
        case WM_ACTIVATEAPP:
            Qel_DPrintf(0, "WM_ACTIVATEAPP %d\n", static_cast<int>(wParam));
            SyncAcquire(wParam == 0);
            return 0;
        case WM_ACTIVATE:
            Qel_DPrintf(0, "WM_ACTIVATE: Active=%d, Minimized=%d\n", LOWORD(wParam), HIWORD(wParam));
            SyncAcquire(LOWORD(wParam) == 0);
            if (LOWORD(wParam) == 0) {
                in->active = 0;
                app.active = 0;
                if (S_WindowLinks.stopPlayingMovies) S_WindowLinks.stopPlayingMovies();
                return 0;
            }
            app.active = 1;
            in->active = 1;
            return 0;
        case WM_NCHITTEST: Qel_DPrintf(4, "WM_NCHITTEST %d\n", static_cast<int>(wParam)); return HTCLIENT;
        case WM_SYSCOMMAND:
            // The game window is never moved, sized, given a menu, a screen saver
            // or a monitor power-down.
            switch (wParam & 0xFFF0) {
                case SC_SIZE: Qel_DPrintf(0x80000, "SC_SIZE\n"); return 1;
                case SC_MOVE: Qel_DPrintf(0x80000, "SC_MOVE\n"); return 1;
                case SC_MAXIMIZE: Qel_DPrintf(0x80000, "SC_MAXIMIZE\n"); return 1;
                case SC_KEYMENU: Qel_DPrintf(0x80000, "SC_KEYMENU\n"); return 1;
                case SC_SCREENSAVE: Qel_DPrintf(0x80000, "SC_SCREENSAVE\n"); return 1;
                case SC_MONITORPOWER: Qel_DPrintf(0x80000, "SC_MONITORPOWER\n"); return 1;
                case SC_CLOSE: P_Exit(0);
                default: break;
            }
            break;
        case WM_DESTROY:
            // Destroyed from outside, not closed: nothing can be drawn any
            // more, and the program ends as at a close.
            Qel_ErrPrintf("S_WindowProc() the window was destroyed from outside\n");
            P_Exit(0);
        case MM_MCINOTIFY: {
            // Device id 0 is never an open device, so an unset id matches nothing.
            uint32_t device = static_cast<uint32_t>(lParam);
            if (device != 0 && (device == app.cdDeviceId || device == app.musicDeviceId)) {
                Qel_DPrintf(4, "got MM_MCINOTIFY\n");
                if (wParam == MCI_NOTIFY_SUCCESSFUL && S_WindowLinks.cdTrackDone) S_WindowLinks.cdTrackDone();
            } else {
                Qel_ErrPrintf("unknown MM_MCINOTIFY\n");
            }
            break;
        }
        default: break;
    }

    if (!app.directInput || !app.keyboardDevice) {
        switch (message) {
            case WM_KEYDOWN:
                in->keySeen = 1;
                if (!KeyArrivesAsCharacter(wParam)) S_KeyRingStore(0, static_cast<int32_t>(wParam), KEY_KIND_VIRTUAL);
                return 0;
            case WM_CHAR:
            case WM_SYSCHAR: S_KeyRingStore(0, static_cast<int32_t>(wParam), KEY_KIND_CHAR); return 0;
            default: break;
        }
    }

    if (app.directInput && app.mouseDevice) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_SETCURSOR) return SetCursorMessage(in);
    if (ButtonMessage(in, message)) return 0;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void S_LogStopSignal() {
    if (const int signal = Win32_TakeStopSignalToLog())
        Qel_DPrintf(0, "%s received: the program ends\n", Win32_SignalName(signal));
}

static void LogGetMessageFailure() {
    char text[256];
    FormatMessageA(GetLastError(), text, sizeof text);
    Qel_ErrPrintf("GetMessage() %s\n", text);
}

// Handles every queued message. A quit either ends the program or is ignored.
// Returns false when the queue failed.
static bool DrainMessages(bool quitEnds) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        int result = GetMessageA(&msg, nullptr, 0, 0);
        if (result == 0) {
            if (quitEnds) P_Exit(0);
            Qel_ErrPrintf("GetMessage() WM_QUIT message received, ignoring\n");
            continue;
        }
        if (result == -1) {
            LogGetMessageFailure();
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void S_ProcessMessages() {
    if (S_WindowLinks.pollInput) S_WindowLinks.pollInput();
    ApplicationRecord& app = g_ApplicationRecord;
    if (app.active || (g_InputState && (g_InputState->flags & INPUT_PUMP_WHILE_INACTIVE))) {
        DrainMessages(false);
        return;
    }
    // Inactive: the game pauses here until the window is active again.
    for (;;) {
        MSG msg;
        int result = GetMessageA(&msg, nullptr, 0, 0);
        if (result == 0) P_Exit(0);
        if (result == -1) {
            // A queue that fails would fail again at once: give the frame back
            // rather than spin here.
            LogGetMessageFailure();
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (!app.active) continue;
        if (!DrainMessages(true) || app.active) return;
    }
}

HWND S_AttachMainWindow() {
    HWND hwnd = Win32_CreateMessageWindow(S_WindowProc);
    g_ApplicationRecord.mainWindow = hwnd;
    return hwnd;
}

void S_DetachMainWindow() {
    if (g_ApplicationRecord.mainWindow) DestroyWindow(g_ApplicationRecord.mainWindow);
    g_ApplicationRecord.mainWindow = nullptr;
    g_ApplicationRecord.active = 0;
}
