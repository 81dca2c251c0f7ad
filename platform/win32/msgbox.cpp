#include "platform/win32/msgbox.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/messages.h"

static Win32MessageBoxSeam s_seam;
static std::string s_error;
constexpr uint32_t kErrorGenFailure = 31;  // ERROR_GEN_FAILURE

static int Failure(const char* why) {
    s_error = why;
    SetLastError(kErrorGenFailure);
    return 0;
}

// Nobody could see a box under these drivers, and the call must not wait for a click.
static bool Headless() {
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    UINT buttons = type & 0xF;
    if (s_seam.capture || Headless()) {
        s_seam.shown.push_back(Win32MessageBox{text, caption, type});
        if (s_seam.answer == 0) return Failure("The message box could not be shown.");
        if (s_seam.answer == IDOK && buttons == MB_YESNO) return IDYES;
        return s_seam.answer;
    }

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
    if (pressed < 0) pressed = buttons == MB_YESNO ? IDNO : IDCANCEL;
    return pressed;
}

const char* Win32_MessageBoxError() { return s_error.c_str(); }

Win32MessageBoxSeam& Win32_MessageBoxSeamReset() {
    s_seam = Win32MessageBoxSeam{};
    s_seam.capture = true;
    s_error.clear();
    return s_seam;
}

Win32MessageBoxSeam& Win32_MessageBoxSeam() { return s_seam; }

void Win32_MessageBoxSeamDisable() {
    s_seam = Win32MessageBoxSeam{};
    s_error.clear();
}
