#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/com.h"
#include "platform/win32/debug.h"
#include "platform/win32/dialog.h"
#include "platform/win32/memory.h"
#include "platform/win32/msgbox.h"
#include "platform/win32/process.h"
#include "platform/win32/signals.h"
#include "platform/win32/window.h"
#include "platform/win32/x11.h"
#include "support/window_support.h"

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

class Win32Memory : public testing::Test {
protected:
    void SetUp() override { g_Win32MemorySeam = {}; }
    void TearDown() override { g_Win32MemorySeam = {}; }
};

TEST_F(Win32Memory, ReserveCommitDecommitRelease) {
    size_t regions = Win32_ReservationCount();
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 4 * kPage, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(Win32_ReservationCount(), regions + 1);

    // Committing rounds to whole pages and answers the first page's address.
    EXPECT_EQ(VirtualAlloc(base + 10, kPage, MEM_COMMIT, PAGE_READWRITE), base);
    base[0] = 1;
    base[2 * kPage - 1] = 2;
    // Dropped pages come back zeroed.
    EXPECT_EQ(VirtualFree(base + kPage, kPage, MEM_DECOMMIT), 1);
    EXPECT_EQ(VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_READWRITE), base + kPage);
    EXPECT_EQ(base[2 * kPage - 1], 0);
    EXPECT_EQ(base[0], 1);

    // Nothing outside the region, and release takes the region's start and size 0.
    EXPECT_EQ(VirtualAlloc(base + 3 * kPage, 2 * kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(VirtualFree(base + 3 * kPage, 2 * kPage, MEM_DECOMMIT), 0);
    EXPECT_EQ(VirtualFree(base + kPage, 0, MEM_RELEASE), 0);
    EXPECT_EQ(VirtualFree(base, kPage, MEM_RELEASE), 0);
    EXPECT_EQ(VirtualFree(base, 0, MEM_RELEASE), 1);
    EXPECT_EQ(Win32_ReservationCount(), regions);
    EXPECT_EQ(VirtualFree(base, 0, MEM_RELEASE), 0);  // not twice
}

TEST_F(Win32Memory, CommitWithoutAddressReservesToo) {
    auto* p = static_cast<char*>(VirtualAlloc(nullptr, 100, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(p, nullptr);
    p[kPage - 1] = 5;  // the whole page is usable
    EXPECT_EQ(VirtualFree(p, 0, MEM_RELEASE), 1);
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
    int local;
    EXPECT_EQ(VirtualAlloc(&local, 4, MEM_COMMIT, PAGE_READWRITE), nullptr);  // not ours
}

TEST_F(Win32Memory, SeamFailsTheNextCalls) {
    g_Win32MemorySeam.failVirtualAllocs = 1;
    EXPECT_EQ(VirtualAlloc(nullptr, 10, MEM_COMMIT, PAGE_READWRITE), nullptr);
    void* p = VirtualAlloc(nullptr, 10, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(p, nullptr);
    g_Win32MemorySeam.failVirtualFrees = 1;
    EXPECT_EQ(VirtualFree(p, 0, MEM_RELEASE), 0);
    EXPECT_EQ(VirtualFree(p, 0, MEM_RELEASE), 1);
    g_Win32MemorySeam.failHeapAllocs = 1;
    EXPECT_EQ(Win32_HeapAlloc(8), nullptr);
    void* h = Win32_HeapAlloc(8);
    EXPECT_NE(h, nullptr);
    Win32_HeapFree(h);
}

TEST_F(Win32Memory, PageSizeAndStatus) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwPageSize, kPage);
    g_Win32MemorySeam.pageSize = 8192;
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwPageSize, 8192u);

    MEMORYSTATUS s{};
    GlobalMemoryStatus(&s);
    EXPECT_EQ(s.dwLength, sizeof(MEMORYSTATUS));
    EXPECT_GT(s.dwTotalPhys, 0u);
    EXPECT_LE(s.dwAvailPhys, s.dwTotalPhys);
    EXPECT_GE(s.dwTotalPageFile, s.dwTotalPhys);
    EXPECT_GE(s.dwAvailPageFile, s.dwAvailPhys);
}

TEST(Win32Debug, SeamDecidesDebuggerPresence) {
    int real = IsDebuggerPresent();
    EXPECT_TRUE(real == 0 || real == 1);
    g_Win32DebugSeam.debuggerPresent = 1;
    EXPECT_EQ(IsDebuggerPresent(), 1);
    // The debugger stand-in writes standard error itself; no log line is involved.
    testing::internal::CaptureStderr();
    OutputDebugStringA("to the debugger\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to the debugger\n");
    g_Win32DebugSeam = {};
}

TEST(Win32Process, PriorityClassesAreCheckedAndRecorded) {
    g_Win32ProcessSeam = {};
    g_Win32ProcessSeam.intercept = true;
    EXPECT_EQ(SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS), 1);
    EXPECT_EQ(g_Win32ProcessSeam.lastClass, IDLE_PRIORITY_CLASS);
    EXPECT_EQ(SetPriorityClass(GetCurrentProcess(), 0x12345), 0);
    EXPECT_EQ(SetPriorityClass(nullptr, HIGH_PRIORITY_CLASS), 0);
    g_Win32ProcessSeam.failCalls = 1;
    EXPECT_EQ(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS), 0);
    EXPECT_EQ(g_Win32ProcessSeam.calls, 1);
    g_Win32ProcessSeam = {};
}

// Windows made from a registered class: an SDL window behind an opaque handle,
// whose messages reach the class's procedure; a destroyed handle names nothing,
// and is never handed out again.
std::vector<UINT> g_seen;
LRESULT RecordingProc(HWND, UINT message, WPARAM, LPARAM) {
    g_seen.push_back(message);
    return 0;
}

TEST(Win32Window, ClassWindowsTakeTheirMessagesUntilDestroyed) {
    g_seen.clear();
    HWND window = OpenScreenWindow(RecordingProc, 200, 100);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(Win32_GetSDLWindow(window), nullptr);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 200);
    EXPECT_EQ(client.bottom - client.top, 100);
    PostMessageA(window, WM_CHAR, 'x', 0);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    EXPECT_NE(std::find(g_seen.begin(), g_seen.end(), WM_CHAR), g_seen.end());

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(Win32_GetSDLWindow(window), nullptr);
    HWND next = Win32_CreateMessageWindow(RecordingProc);
    EXPECT_NE(next, window);
    DestroyWindow(next);

    EXPECT_EQ(CreateWindowExA(0, "no such class", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
}

// The first SIGINT or SIGTERM becomes the window's close at the next look at
// the queue, once; a box asked for after it is not shown.
TEST(Win32StopSignals, ASignalBecomesTheWindowsCloseOnce) {
    g_seen.clear();
    Win32_DialogSeamReset();
    HWND window = Win32_CreateMessageWindow(RecordingProc);
    Win32_InstallStopSignals();
    MSG msg{};
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 0);
    raise(SIGINT);
    EXPECT_EQ(Win32_StopSignal(), SIGINT);
    EXPECT_STREQ(Win32_SignalName(SIGINT), "SIGINT");
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 1);
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_EQ(msg.message, WM_SYSCOMMAND);
    EXPECT_EQ(msg.wParam, SC_CLOSE);
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 0);

    Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
    boxes.capture = false;
    boxes.view = true;
    EXPECT_EQ(MessageBoxA(nullptr, "sure?", "caption", MB_YESNO), IDNO);
    EXPECT_EQ(Win32_MessageBoxStop(), SIGINT);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].stop, SIGINT);
    EXPECT_EQ(Win32_DialogSeam().shown, 0);  // never drawn
    DestroyWindow(window);
}

// In case the orderly exit hangs: the second stop signal ends the process.
TEST(Win32StopSignals, TheSecondSignalEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            Win32_InstallStopSignals();
            raise(SIGTERM);
            if (Win32_StopSignal() != SIGTERM) _exit(3);
            raise(SIGTERM);
            _exit(4);
        },
        testing::KilledBySignal(SIGTERM), "");
}

// A window the desktop destroys from outside: the display library's errors
// about it are kept from its own handler, which would end the process, and
// the window gets WM_DESTROY; so does its destroy notice.
TEST(Win32X11, AWindowDestroyedFromOutsideGetsWmDestroy) {
    g_seen.clear();
    HWND window = Win32_CreateMessageWindow(RecordingProc);
    constexpr unsigned long kXid = 0x4a00007;
    Win32_WatchX11WindowId(window, kXid);
    XErrorEvent error{};
    error.type = 0;
    error.error_code = BadDrawable;
    error.resourceid = kXid;
    EXPECT_EQ(Win32_X11ErrorHandler(nullptr, &error), 0);
    error.error_code = BadWindow;  // as closing it draws more
    EXPECT_EQ(Win32_X11ErrorHandler(nullptr, &error), 0);
    MSG msg{};
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 1);
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_EQ(msg.message, WM_DESTROY);
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 0);

    SDL_SysWMmsg notice{};
    notice.subsystem = SDL_SYSWM_X11;
    notice.msg.x11.event.type = DestroyNotify;
    notice.msg.x11.event.xdestroywindow.window = kXid;
    SDL_Event event{};
    event.type = SDL_SYSWMEVENT;
    event.syswm.msg = &notice;
    EXPECT_EQ(Win32_X11DestroyedWindow(event), window);
    notice.msg.x11.event.xdestroywindow.window = kXid + 1;
    EXPECT_EQ(Win32_X11DestroyedWindow(event), nullptr);

    // Errors about other windows are the library's: here there is no handler of its own.
    error.resourceid = kXid + 1;
    error.error_code = BadDrawable;
    EXPECT_EQ(Win32_X11ErrorHandler(nullptr, &error), 1);
    DestroyWindow(window);

    // The server gives the gone window's id to a new window of ours: its errors are the new one's.
    HWND next = Win32_CreateMessageWindow(RecordingProc);
    Win32_WatchX11WindowId(next, kXid);
    error.resourceid = kXid;
    EXPECT_EQ(Win32_X11ErrorHandler(nullptr, &error), 0);
    ASSERT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), 1);
    EXPECT_EQ(msg.hwnd, next);
    EXPECT_EQ(msg.message, WM_DESTROY);
    notice.msg.x11.event.xdestroywindow.window = kXid;
    EXPECT_EQ(Win32_X11DestroyedWindow(event), next);
    DestroyWindow(next);
}

// A test's own xdg-open on PATH stands for the desktop's opener.
class Win32Opener : public testing::Test {
protected:
    void SetUp() override {
        const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
        folder_ = std::string(scratch ? scratch : "/tmp") + "/opener";
        mkdir(folder_.c_str(), 0755);
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", folder_.c_str(), 1);
        Win32_DialogSeamReset().launch = true;
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        unlink((folder_ + "/xdg-open").c_str());
        Win32_DialogSeamReset();
    }
    void Opener(int status) {
        const std::string file = folder_ + "/xdg-open";
        std::ofstream(file) << "#!/bin/sh\nexit " << status << "\n";
        chmod(file.c_str(), 0755);
    }
    std::string folder_, oldPath_;
};

// The opener's answer is what counts: one that fails or is missing fails the call.
TEST_F(Win32Opener, TheOpenersAnswerDecides) {
    EXPECT_LE(ShellExecuteA(nullptr, "open", "https://example.org/", nullptr, nullptr, SW_SHOW), 32);
    Opener(3);  // no browser
    EXPECT_LE(ShellExecuteA(nullptr, "open", "https://example.org/", nullptr, nullptr, SW_SHOW), 32);
    Opener(0);
    EXPECT_GT(ShellExecuteA(nullptr, "open", "https://example.org/", nullptr, nullptr, SW_SHOW), 32);
    EXPECT_TRUE(Win32_DialogSeam().opened.empty());
}

TEST(Win32Com, ClassesAreCreatedByTheirRegisteredFactory) {
    static const GUID kClass{0x7e57c1a5u, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    static int made;
    made = 0;
    Win32_RegisterClass(kClass, [](const GUID&, void** out) -> HRESULT {
        ++made;
        *out = &made;
        return S_OK;
    });
    void* obj = &obj;
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, kClass, &obj), S_OK);
    EXPECT_EQ(obj, &made);
    EXPECT_EQ(CoCreateInstance(kClass, &obj, CLSCTX_INPROC_SERVER, kClass, &obj), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, kClass, nullptr), E_INVALIDARG);
    EXPECT_EQ(made, 1);
    // Registering again replaces the factory; a null factory forgets the class.
    Win32_RegisterClass(kClass, [](const GUID&, void**) -> HRESULT { return E_NOINTERFACE; });
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, kClass, &obj), E_NOINTERFACE);
    Win32_RegisterClass(kClass, nullptr);
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, kClass, &obj), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
