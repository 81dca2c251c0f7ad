#include "platform/win32/x11.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>

#include <cstring>

#include "platform/win32/messages.h"

namespace {

using ErrorHandler = int (*)(Display*, XErrorEvent*);
using SetErrorHandlerFn = ErrorHandler (*)(ErrorHandler);

// Windows keep their id here after they are gone: the program's own orderly
// close of a destroyed window draws errors too.
struct Watched {
    HWND hwnd;
    unsigned long xid;
};
Watched s_watched[8];
int s_watchedCount = 0;
ErrorHandler s_previous = nullptr;
bool s_installed = false;

HWND WindowOf(unsigned long xid) {
    for (int i = 0; i < s_watchedCount; ++i)
        if (s_watched[i].xid == xid) return s_watched[i].hwnd;
    return nullptr;
}

int OnXError(Display* display, XErrorEvent* error) { return Win32_X11ErrorHandler(display, error); }

void InstallErrorHandler() {
    if (s_installed) return;
    // SDL loads the library for itself; its handler is reached through the copy already loaded.
    void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return;
    auto set = reinterpret_cast<SetErrorHandlerFn>(dlsym(library, "XSetErrorHandler"));
    if (set) {
        s_previous = set(OnXError);
        s_installed = true;
    }
    dlclose(library);
}

}  // namespace

void Win32_WatchX11WindowId(HWND hwnd, unsigned long xid) {
    if (!hwnd || !xid) return;
    // The server gives the id of a window that is gone to a new one: it is the new window's now.
    for (int i = 0; i < s_watchedCount; ++i)
        if (s_watched[i].xid == xid) {
            s_watched[i].hwnd = hwnd;
            return;
        }
    // The oldest entry goes when the table is full: it is long gone.
    if (s_watchedCount == static_cast<int>(sizeof s_watched / sizeof s_watched[0])) {
        std::memmove(s_watched, s_watched + 1, sizeof s_watched - sizeof s_watched[0]);
        --s_watchedCount;
    }
    s_watched[s_watchedCount++] = Watched{hwnd, xid};
}

void Win32_WatchX11Window(HWND hwnd, SDL_Window* window) {
    if (!window) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    InstallErrorHandler();
    // The desktop's notice that a window is gone arrives as a raw X11 event.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    Win32_WatchX11WindowId(hwnd, info.info.x11.window);
}

HWND Win32_X11DestroyedWindow(const SDL_Event& event) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg || event.syswm.msg->subsystem != SDL_SYSWM_X11) return nullptr;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    if (x.type != DestroyNotify) return nullptr;
    HWND hwnd = WindowOf(x.xdestroywindow.window);
    return hwnd && IsWindow(hwnd) ? hwnd : nullptr;
}

int Win32_X11ErrorHandler(void* display, void* errorEvent) {
    auto* error = static_cast<XErrorEvent*>(errorEvent);
    // A window that is gone: the core errors, and an extension's (the GL
    // library's drawables) about the same id.
    const bool gone =
        error && (error->error_code == BadWindow || error->error_code == BadDrawable || error->error_code >= 128);
    if (gone) {
        if (HWND hwnd = WindowOf(error->resourceid)) {
            if (IsWindow(hwnd)) Win32_NoteWindowDestroyed(hwnd);
            return 0;
        }
    }
    return s_previous ? s_previous(static_cast<Display*>(display), error) : 1;
}
