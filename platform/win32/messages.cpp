#include "platform/win32/messages.h"

#include <SDL.h>

#include <cstring>
#include <deque>

#include "platform/win32/signals.h"
#include "platform/win32/window.h"
#include "platform/win32/x11.h"

namespace {

// The game has one window; a few slots leave room for a test or dialog window.
struct WindowSlot {
    bool used;
    HWND handle;
    SDL_Window* sdl;
    uint32_t sdlId;
    WNDPROC proc;
};

}  // namespace

static WindowSlot s_windows[4];
// Handles are never reused, so a stale one names no window.
static uintptr_t s_lastHandle = 0;
static std::deque<MSG> s_queue;
static uint32_t s_lastError = 0;
static char s_lastErrorText[256];
static POINT s_cursor{0, 0};
static Win32CursorSeam s_cursorSeam{};
static uint32_t s_mciEventType = 0;
static bool s_closePending = false;
// Windows destroyed from outside whose WM_DESTROY is still to be queued.
static HWND s_destroyed[4];

constexpr uint32_t ERROR_GEN_FAILURE = 31;

static bool EventsReady() { return SDL_WasInit(SDL_INIT_EVENTS) != 0; }

static WindowSlot* SlotOf(HWND hwnd) {
    for (auto& w : s_windows)
        if (hwnd && w.used && w.handle == hwnd) return &w;
    return nullptr;
}

static HWND FirstWindow() {
    for (auto& w : s_windows)
        if (w.used) return w.handle;
    return nullptr;
}

static bool AnyScreenWindow() {
    for (auto& w : s_windows)
        if (w.used && w.sdl) return true;
    return false;
}

static HWND WindowFromSDL(uint32_t sdlId) {
    for (auto& w : s_windows)
        if (w.used && w.sdl && w.sdlId == sdlId) return w.handle;
    return nullptr;
}

static void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = EventsReady() ? SDL_GetTicks() : 0;
    msg.pt = s_cursor;
    s_queue.push_back(msg);
}

static void FailFromSDL() {
    std::strncpy(s_lastErrorText, SDL_GetError(), sizeof s_lastErrorText - 1);
    s_lastErrorText[sizeof s_lastErrorText - 1] = 0;
    s_lastError = ERROR_GEN_FAILURE;
}

HWND Win32_AttachWindow(SDL_Window* window, WNDPROC proc) {
    for (auto& w : s_windows) {
        if (w.used) continue;
        HWND handle = reinterpret_cast<HWND>(++s_lastHandle);
        w = WindowSlot{true, handle, window, window ? SDL_GetWindowID(window) : 0, proc};
        // These drivers never report focus, so the window would stay inactive and
        // the pump would wait for an activation that never comes.
        const char* driver = window ? SDL_GetCurrentVideoDriver() : nullptr;
        if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
            Post(handle, WM_ACTIVATEAPP, 1, 0);
            Post(handle, WM_ACTIVATE, WA_ACTIVE, 0);
        }
        if (s_closePending) {
            s_closePending = false;
            Post(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return handle;
    }
    return nullptr;
}

void Win32_DetachWindow(HWND hwnd) {
    WindowSlot* slot = SlotOf(hwnd);
    if (!slot) return;
    std::erase_if(s_queue, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    *slot = WindowSlot{};
}

BOOL IsWindow(HWND hwnd) { return SlotOf(hwnd) != nullptr; }

void Win32_SetErrorFromSDL() { FailFromSDL(); }

SDL_Window* Win32_GetSDLWindow(HWND hwnd) {
    WindowSlot* slot = SlotOf(hwnd);
    return slot ? slot->sdl : nullptr;
}

// Virtual-key code of an SDL key; 0 for keys the game has no code for.
static WPARAM VirtualKey(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + (key - SDLK_F1);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (key - SDLK_KP_1);
    switch (key) {
        case SDLK_BACKSPACE: return VK_BACK;
        case SDLK_TAB: return VK_TAB;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT: return VK_MENU;
        case SDLK_PAUSE: return VK_PAUSE;
        case SDLK_CAPSLOCK: return VK_CAPITAL;
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_PAGEUP: return VK_PRIOR;
        case SDLK_PAGEDOWN: return VK_NEXT;
        case SDLK_END: return VK_END;
        case SDLK_HOME: return VK_HOME;
        case SDLK_LEFT: return VK_LEFT;
        case SDLK_UP: return VK_UP;
        case SDLK_RIGHT: return VK_RIGHT;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_PRINTSCREEN: return VK_SNAPSHOT;
        case SDLK_INSERT: return VK_INSERT;
        case SDLK_DELETE: return VK_DELETE;
        case SDLK_HELP: return VK_HELP;
        case SDLK_KP_0: return VK_NUMPAD0;
        case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
        case SDLK_KP_PLUS: return VK_ADD;
        case SDLK_KP_MINUS: return VK_SUBTRACT;
        case SDLK_KP_PERIOD: return VK_DECIMAL;
        case SDLK_KP_DIVIDE: return VK_DIVIDE;
        case SDLK_NUMLOCKCLEAR: return VK_NUMLOCK;
        case SDLK_SCROLLLOCK: return VK_SCROLL;
        // Punctuation keys of a US layout.
        case SDLK_SEMICOLON: return 0xBA;
        case SDLK_EQUALS: return 0xBB;
        case SDLK_COMMA: return 0xBC;
        case SDLK_MINUS: return 0xBD;
        case SDLK_PERIOD: return 0xBE;
        case SDLK_SLASH: return 0xBF;
        case SDLK_BACKQUOTE: return 0xC0;
        case SDLK_LEFTBRACKET: return 0xDB;
        case SDLK_BACKSLASH: return 0xDC;
        case SDLK_RIGHTBRACKET: return 0xDD;
        case SDLK_QUOTE: return 0xDE;
        default: return 0;
    }
}

static LPARAM PointParam(int x, int y) {
    return static_cast<LPARAM>((static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF));
}

// Text input arrives as UTF-8; the window's characters are single code-page
// bytes, so code points beyond Latin-1 become '?', as the code-page conversion does.
static int PostText(HWND hwnd, const char* text) {
    int posted = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t cp = *p++;
        int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (extra) cp &= 0x3F >> extra;
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) cp = (cp << 6) | (*p++ & 0x3F);
        if (extra > 0 || (cp >= 0x80 && cp < 0xA0)) cp = '?';
        Post(hwnd, WM_CHAR, cp <= 0xFF ? cp : '?', 1);
        ++posted;
    }
    return posted;
}

int Win32_TranslateSDLEvent(const SDL_Event& e) {
    if (e.type == SDL_QUIT) {
        // SDL's quit is a stop asked from outside the game (SIGINT, SIGTERM, the
        // desktop's last window closed): it takes the window's close path, as
        // Alt+F4 does. WM_QUIT stays the program's own message. Without a window
        // yet, the close waits for the first one.
        HWND hwnd = FirstWindow();
        if (!hwnd) {
            s_closePending = true;
            return 0;
        }
        Post(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 1;
    }
    if (s_mciEventType != 0 && e.type == s_mciEventType) {
        HWND hwnd = WindowFromSDL(e.user.windowID);
        if (!hwnd) hwnd = FirstWindow();
        Post(hwnd, MM_MCINOTIFY, static_cast<WPARAM>(e.user.code),
             static_cast<LPARAM>(reinterpret_cast<uintptr_t>(e.user.data1)));
        return 1;
    }
    if (HWND gone = Win32_X11DestroyedWindow(e)) {
        Win32_NoteWindowDestroyed(gone);
        return 1;
    }
    switch (e.type) {
        case SDL_WINDOWEVENT: {
            HWND hwnd = WindowFromSDL(e.window.windowID);
            if (!hwnd) return 0;
            switch (e.window.event) {
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    Post(hwnd, WM_ACTIVATEAPP, 1, 0);
                    Post(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
                    return 2;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    Post(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
                    Post(hwnd, WM_ACTIVATEAPP, 0, 0);
                    return 2;
                case SDL_WINDOWEVENT_MINIMIZED: Post(hwnd, WM_ACTIVATE, WA_INACTIVE | (1u << 16), 0); return 1;
                case SDL_WINDOWEVENT_CLOSE: Post(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0); return 1;
                default: return 0;
            }
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            HWND hwnd = WindowFromSDL(e.key.windowID);
            if (!hwnd) hwnd = FirstWindow();
            WPARAM vk = VirtualKey(e.key.keysym.sym);
            if (!hwnd || vk == 0) return 0;
            bool down = e.type == SDL_KEYDOWN;
            bool alt = (e.key.keysym.mod & KMOD_ALT) != 0 && vk != VK_MENU;
            // Alt+F4 closes and Alt+Space opens the system menu, as the system's
            // default key handling turns them into system commands.
            if (alt && down && vk == VK_F1 + 3) {
                Post(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                return 1;
            }
            if (alt && down && vk == VK_SPACE) {
                Post(hwnd, WM_SYSCOMMAND, SC_KEYMENU, ' ');
                return 1;
            }
            LPARAM lp = 1 | (static_cast<LPARAM>(e.key.keysym.scancode & 0xFF) << 16);
            if (e.key.repeat) lp |= LPARAM{1} << 30;
            UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
            Post(hwnd, msg, vk, lp);
            return 1;
        }
        case SDL_TEXTINPUT: {
            HWND hwnd = WindowFromSDL(e.text.windowID);
            if (!hwnd) hwnd = FirstWindow();
            return hwnd ? PostText(hwnd, e.text.text) : 0;
        }
        case SDL_MOUSEMOTION: {
            HWND hwnd = WindowFromSDL(e.motion.windowID);
            if (!hwnd) return 0;
            s_cursor = POINT{e.motion.x, e.motion.y};
            // Every movement over the window asks it for its cursor first.
            Post(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                 static_cast<LPARAM>(HTCLIENT | (static_cast<LPARAM>(WM_MOUSEMOVE) << 16)));
            return 1;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            HWND hwnd = WindowFromSDL(e.button.windowID);
            if (!hwnd) return 0;
            bool down = e.type == SDL_MOUSEBUTTONDOWN;
            UINT msg;
            if (e.button.button == SDL_BUTTON_LEFT)
                msg = !down                                                ? WM_LBUTTONUP
                      : (e.button.clicks >= 2 && e.button.clicks % 2 == 0) ? WM_LBUTTONDBLCLK
                                                                           : WM_LBUTTONDOWN;
            else if (e.button.button == SDL_BUTTON_RIGHT) msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
            else return 0;
            Post(hwnd, msg, 0, PointParam(e.button.x, e.button.y));
            return 1;
        }
        default: return 0;
    }
}

void Win32_DeliverStopSignal() {
    if (!Win32_TakeStopSignal()) return;
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    if (EventsReady() && SDL_PushEvent(&quit) == 1) return;
    Win32_TranslateSDLEvent(quit);
}

void Win32_NoteWindowDestroyed(HWND hwnd) {
    for (HWND& slot : s_destroyed)
        if (!slot || slot == hwnd) {
            slot = hwnd;
            return;
        }
}

static void QueueDestroyed() {
    for (HWND& slot : s_destroyed) {
        if (slot && IsWindow(slot)) Post(slot, WM_DESTROY, 0, 0);
        slot = nullptr;
    }
}

static void PumpSDL() {
    Win32_DeliverStopSignal();
    QueueDestroyed();
    if (!EventsReady()) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) Win32_TranslateSDLEvent(e);
    QueueDestroyed();
}

int PeekMessageA(MSG* msg, HWND /*hwnd*/, UINT /*filterMin*/, UINT /*filterMax*/, UINT removeFlags) {
    if (s_queue.empty()) PumpSDL();
    if (s_queue.empty()) return 0;
    *msg = s_queue.front();
    if (removeFlags & PM_REMOVE) s_queue.pop_front();
    return 1;
}

int GetMessageA(MSG* msg, HWND /*hwnd*/, UINT /*filterMin*/, UINT /*filterMax*/) {
    for (;;) {
        if (s_queue.empty()) PumpSDL();
        if (!s_queue.empty()) {
            *msg = s_queue.front();
            s_queue.pop_front();
            return msg->message == WM_QUIT ? 0 : 1;
        }
        // Without an event source, or without a window on screen that could
        // receive one, nothing can ever arrive: fail instead of waiting for ever.
        if (!EventsReady() || !AnyScreenWindow()) {
            s_lastError = ERROR_INVALID_WINDOW_HANDLE;
            return -1;
        }
        // Woken now and then, so that a stop signal is seen while nothing else happens.
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 100)) Win32_TranslateSDLEvent(e);
    }
}

int TranslateMessage(const MSG* msg) {
    if (msg->message != WM_KEYDOWN) return 0;
    // Text input carries the printable characters; the control keys that have a
    // character of their own get it here.
    switch (msg->wParam) {
        case VK_RETURN:
        case VK_ESCAPE:
        case VK_TAB:
        case VK_BACK: break;
        default: return 0;
    }
    MSG ch = *msg;
    ch.message = WM_CHAR;
    ch.wParam = msg->wParam == VK_RETURN ? 13 : msg->wParam == VK_ESCAPE ? 27 : msg->wParam;
    s_queue.push_front(ch);
    return 1;
}

LRESULT DispatchMessageA(const MSG* msg) {
    WindowSlot* slot = SlotOf(msg->hwnd);
    if (!slot || !slot->proc) return 0;
    return slot->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

int PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Post(hwnd, message, wParam, lParam);
    return 1;
}

void PostQuitMessage(int exitCode) { Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

uint32_t GetLastError() { return s_lastError; }
void SetLastError(uint32_t code) { s_lastError = code; }

uint32_t FormatMessageA(uint32_t code, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return 0;
    const char* text = code == ERROR_INVALID_WINDOW_HANDLE ? "Invalid window handle."
                       : code == ERROR_GEN_FAILURE         ? s_lastErrorText
                       : code == 0                         ? "The operation completed successfully."
                                                           : "Unknown error.";
    std::strncpy(buffer, text, size - 1);
    buffer[size - 1] = 0;
    return static_cast<uint32_t>(std::strlen(buffer));
}

int GetCursorPos(POINT* point) {
    *point = s_cursor;
    return 1;
}

int SetCursorPos(int x, int y) {
    s_cursor = POINT{x, y};
    ++s_cursorSeam.setCursorPosCalls;
    SDL_Window* window = Win32_GetSDLWindow(FirstWindow());
    if (window && SDL_WasInit(SDL_INIT_VIDEO)) SDL_WarpMouseInWindow(window, x, y);
    return 1;
}

void* SetCursor(void* cursor) {
    static int s_systemCursor;
    void* previous = s_cursorSeam.hidden ? nullptr : &s_systemCursor;
    s_cursorSeam.hidden = cursor == nullptr;
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(cursor ? SDL_ENABLE : SDL_DISABLE);
    return previous;
}

void Win32_PostMciNotify(WPARAM flags, uint32_t deviceId) {
    if (EventsReady()) {
        if (s_mciEventType == 0) {
            uint32_t type = SDL_RegisterEvents(1);
            if (type != static_cast<uint32_t>(-1)) s_mciEventType = type;
        }
        if (s_mciEventType != 0) {
            SDL_Event e{};
            e.type = s_mciEventType;
            WindowSlot* slot = SlotOf(FirstWindow());
            e.user.windowID = slot ? slot->sdlId : 0;
            e.user.code = static_cast<int32_t>(flags);
            e.user.data1 = reinterpret_cast<void*>(static_cast<uintptr_t>(deviceId));
            if (SDL_PushEvent(&e) == 1) return;
        }
    }
    Post(FirstWindow(), MM_MCINOTIFY, flags, static_cast<LPARAM>(deviceId));
}

Win32CursorSeam* Win32_GetCursorSeam() { return &s_cursorSeam; }

void Win32_ResetMessages() {
    s_queue.clear();
    // Events SDL still holds would become messages at the next pump.
    if (EventsReady()) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    s_cursorSeam = Win32CursorSeam{};
    s_cursor = POINT{0, 0};
    s_lastError = 0;
    s_closePending = false;
    for (HWND& slot : s_destroyed) slot = nullptr;
}
