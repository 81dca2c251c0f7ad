#include "platform/win32/msgbox.h"

#include <SDL.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/win32/dialog.h"
#include "platform/win32/messages.h"
#include "platform/win32/signals.h"

namespace {

Win32MessageBoxSeam s_seam;
std::string s_error;
int s_lastStop = 0;
constexpr uint32_t kErrorGenFailure = 31;  // ERROR_GEN_FAILURE

int Failure(const char* why) {
    s_error = why;
    SetLastError(kErrorGenFailure);
    return 0;
}

// Nobody could see a box under these drivers, and the call must not wait for a click.
bool Headless() {
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

// The button that closing the box (or a stop) stands for.
int EscapeButton(UINT buttons) { return buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK; }

int Record(const char* text, const char* caption, UINT type, int answer, int stop) {
    s_lastStop = stop;
    // Kept for tests and headless runs; a player's boxes are not hoarded.
    if (s_seam.capture || s_seam.view || Headless())
        s_seam.shown.push_back(Win32MessageBox{text, caption, type, answer, stop});
    return answer;
}

// ---------------------------------------------------------------- the box as a dialog

constexpr int kTextId = 100;
constexpr int kMargin = 16, kButtonWidth = 96, kButtonHeight = 28, kLineHeight = 19;
// The view's font is about this wide on average; lines wrap at the box's width.
constexpr int kCharWidth = 8, kMaxChars = 72;

INT_PTR BoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return 0;
    switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case IDYES:
        case IDNO: EndDialog(dialog, LOWORD(wParam)); return 1;
        default: return 0;
    }
}

// The button pressed in the view; -1 when no dialog window could be made.
int ShowInView(HWND owner, const char* text, const char* caption, UINT buttons) {
    int longest = 0, lines = 0;
    for (const char* line = text; *line;) {
        const char* end = std::strchr(line, '\n');
        const int length = static_cast<int>(end ? end - line : std::strlen(line));
        longest = std::max(longest, std::min(length, kMaxChars));
        lines += std::max(1, (length + kMaxChars - 1) / kMaxChars);
        if (!end) break;
        line = end + 1;  // a line end closing the text starts no line of its own
    }
    lines = std::max(lines, 1);
    const int width = std::max(longest * kCharWidth, 2 * kButtonWidth + kMargin) + 2 * kMargin;
    const int textHeight = lines * kLineHeight;
    const int buttonTop = kMargin + textHeight + kMargin;
    const int height = buttonTop + kButtonHeight + kMargin;

    std::vector<DlgControlTemplate> controls;
    controls.push_back({kTextId, DlgKind::Static, kMargin, kMargin, width - 2 * kMargin, textHeight, text});
    const auto button = [&](int id, DlgKind kind, const char* label, int slot) {
        controls.push_back({id, kind, width - kMargin - (slot + 1) * kButtonWidth - slot * kMargin / 2, buttonTop,
                            kButtonWidth, kButtonHeight, label});
    };
    if (buttons == MB_YESNO) {
        button(IDNO, DlgKind::Button, "No", 0);
        button(IDYES, DlgKind::DefaultButton, "Yes", 1);
    } else if (buttons == MB_OKCANCEL) {
        button(IDCANCEL, DlgKind::Button, "Cancel", 0);
        button(IDOK, DlgKind::DefaultButton, "OK", 1);
    } else {
        button(IDOK, DlgKind::DefaultButton, "OK", 0);
    }
    const DlgTemplate box{0, width, height, caption, controls, EscapeButton(buttons)};
    return static_cast<int>(Win32_RunDialogInView(&box, owner, BoxProc, 0));
}

// SDL's box: for when no dialog window can be made. It waits for its click.
int ShowWithSDL(const char* text, const char* caption, UINT type) {
    const UINT buttons = type & 0xF;
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    switch (type & 0xF0) {
        case MB_ICONERROR: flags = SDL_MESSAGEBOX_ERROR; break;
        case MB_ICONEXCLAMATION: flags = SDL_MESSAGEBOX_WARNING; break;
        default: break;
    }
    SDL_MessageBoxButtonData okCancel[] = {{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDOK, "OK"},
                                           {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDCANCEL, "Cancel"}};
    SDL_MessageBoxButtonData yesNo[] = {{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"},
                                        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"}};
    SDL_MessageBoxData box{};
    box.flags = flags;
    box.title = caption;
    box.message = text;
    if (buttons == MB_YESNO) {
        box.numbuttons = 2;
        box.buttons = yesNo;
    } else if (buttons == MB_OKCANCEL) {
        box.numbuttons = 2;
        box.buttons = okCancel;
    } else {
        if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) != 0) return Failure(SDL_GetError());
        return IDOK;
    }
    int pressed = 0;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) return Failure(SDL_GetError());
    // Closing the box without a button counts as its escape button.
    if (pressed < 0) pressed = EscapeButton(buttons);
    return pressed;
}

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    const UINT buttons = type & 0xF;
    s_lastStop = 0;
    if (s_seam.capture || (Headless() && !s_seam.view)) {
        if (s_seam.stopSignal) {
            if (!Win32_StopSignal()) raise(s_seam.stopSignal);
            return Record(text, caption, type, EscapeButton(buttons), s_seam.stopSignal);
        }
        if (s_seam.answer == 0) {
            Record(text, caption, type, 0, 0);
            return Failure("The message box could not be shown.");
        }
        const int answer = s_seam.answer == IDOK && buttons == MB_YESNO ? IDYES : s_seam.answer;
        return Record(text, caption, type, answer, 0);
    }
    if (const int signal = Win32_StopSignal()) return Record(text, caption, type, EscapeButton(buttons), signal);

    int pressed = ShowInView(owner, text, caption, buttons);
    if (pressed >= 0) return Record(text, caption, type, pressed, Win32_LastDialogStop());
    pressed = ShowWithSDL(text, caption, type);
    return Record(text, caption, type, pressed, 0);
}

const char* Win32_MessageBoxError() { return s_error.c_str(); }

int Win32_MessageBoxStop() { return s_lastStop; }

Win32MessageBoxSeam& Win32_MessageBoxSeamReset() {
    s_seam = Win32MessageBoxSeam{};
    s_seam.capture = true;
    s_error.clear();
    s_lastStop = 0;
    return s_seam;
}

Win32MessageBoxSeam& Win32_MessageBoxSeam() { return s_seam; }

void Win32_MessageBoxSeamDisable() {
    s_seam = Win32MessageBoxSeam{};
    s_error.clear();
    s_lastStop = 0;
}
