// Window messages over SDL2: the window handle, the message record and codes,
// the queue calls (PeekMessageA, GetMessageA, TranslateMessage, DispatchMessageA),
// the cursor calls, and the translation of SDL events into window messages.
// Windows come from platform/win32/window.h; tests post synthetic messages or
// call a window procedure directly.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

struct SDL_Window;
union SDL_Event;

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// Shared with the other stand-ins that declare them (same guard, same layout).

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    uint32_t time;
    POINT pt;
};

// Message codes.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ACTIVATEAPP = 0x001C;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
constexpr UINT WM_NCLBUTTONUP = 0x00A2;
constexpr UINT WM_NCLBUTTONDBLCLK = 0x00A3;
constexpr UINT WM_NCRBUTTONDOWN = 0x00A4;
constexpr UINT WM_NCRBUTTONUP = 0x00A5;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT MM_MCINOTIFY = 0x03B9;

// WM_ACTIVATE low words.
constexpr WPARAM WA_INACTIVE = 0;
constexpr WPARAM WA_ACTIVE = 1;

// WM_SYSCOMMAND commands (compared after masking with 0xFFF0).
constexpr WPARAM SC_SIZE = 0xF000;
constexpr WPARAM SC_MOVE = 0xF010;
constexpr WPARAM SC_MINIMIZE = 0xF020;
constexpr WPARAM SC_MAXIMIZE = 0xF030;
constexpr WPARAM SC_CLOSE = 0xF060;
constexpr WPARAM SC_KEYMENU = 0xF100;
constexpr WPARAM SC_SCREENSAVE = 0xF140;
constexpr WPARAM SC_MONITORPOWER = 0xF170;

constexpr LRESULT HTCLIENT = 1;
constexpr WPARAM MCI_NOTIFY_SUCCESSFUL = 0x0001;
constexpr WPARAM MCI_NOTIFY_SUPERSEDED = 0x0002;
constexpr WPARAM MCI_NOTIFY_ABORTED = 0x0004;
constexpr WPARAM MCI_NOTIFY_FAILURE = 0x0008;

// Virtual-key codes (letters and digits are their upper-case ASCII codes).
constexpr WPARAM VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
                 VK_PAUSE = 0x13, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
                 VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
                 VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_HELP = 0x2F, VK_NUMPAD0 = 0x60,
                 VK_MULTIPLY = 0x6A, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F,
                 VK_F1 = 0x70, VK_F12 = 0x7B, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91;

// Error codes reported through GetLastError.
constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;

inline uint16_t LOWORD(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
inline uint16_t HIWORD(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

// For the window stand-in (platform/win32/window.h): gives an SDL window, or
// none, a handle of its own with its window procedure. Under a driver that
// never gives focus (offscreen, dummy), one activation is queued so an SDL
// window starts active. Detaching drops the window's queued messages; the SDL
// window stays the caller's.
HWND Win32_AttachWindow(SDL_Window* window, WNDPROC proc);
void Win32_DetachWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// Makes SDL's last error the text of the next GetLastError (ERROR_GEN_FAILURE).
void Win32_SetErrorFromSDL();

// Queue calls. PeekMessageA never removes here (only PM_NOREMOVE is used).
int PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// 0 for WM_QUIT, -1 on failure (no message can ever arrive), else non-zero.
int GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
int TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

uint32_t GetLastError();
void SetLastError(uint32_t code);
// The system's text for an error code, written into buffer; returns its length.
uint32_t FormatMessageA(uint32_t code, char* buffer, uint32_t size);

// Cursor: the position is in window coordinates (the game's window is its screen).
int GetCursorPos(POINT* point);
int SetCursorPos(int x, int y);
// Null hides the cursor; anything else shows the system cursor.
void* SetCursor(void* cursor);

// Compact-disc notices: the sound layer posts them as an SDL user event, which
// reaches the window procedure as MM_MCINOTIFY (wParam flags, lParam device id).
void Win32_PostMciNotify(WPARAM flags, uint32_t deviceId);

// Turns one SDL event into window messages on the queue; 0 when it gives none.
int Win32_TranslateSDLEvent(const SDL_Event& event);
// Turns a stop signal received since the last call (platform/win32/signals.h)
// into SDL's quit, which the pump takes as the window's close and a dialog as
// its end. Every loop that waits for events calls it.
void Win32_DeliverStopSignal();
// A window the desktop destroyed from outside (not closed): WM_DESTROY is
// queued for it at the next pump. Safe to call from inside the display
// library's error handler.
void Win32_NoteWindowDestroyed(HWND hwnd);

// Test seam: what the cursor calls did, and a way to empty the queue.
struct Win32CursorSeam {
    int setCursorPosCalls;
    bool hidden;
};
Win32CursorSeam* Win32_GetCursorSeam();
// Empties the message queue and SDL's event queue behind it.
void Win32_ResetMessages();
