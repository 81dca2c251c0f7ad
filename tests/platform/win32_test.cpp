#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/com.h"
#include "platform/win32/debug.h"
#include "platform/win32/memory.h"
#include "platform/win32/process.h"
#include "platform/win32/window.h"
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
