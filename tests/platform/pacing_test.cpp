// Frame pacing where the swap does not wait for the display's refresh: the
// computation of the waits (never timed), and what a device on the offscreen
// driver chooses.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/pacing.h"
#include "platform/d3d9/seam.h"
#include "support/window_support.h"

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kPeriod = 16666666;  // 60 Hz

// Presents as fast as the frames come: each frame takes workNs, then waits
// what the pacer says. Answers when the last of `frames` presents is shown.
int64_t RunFrames(D3D9FramePacer* pacer, int frames, int64_t workNs) {
    int64_t now = 0;
    for (int i = 0; i < frames; ++i) {
        now += workNs;
        now += D3D9_PaceDelay(pacer, now);
    }
    return now;
}

TEST(FramePacer, AWindowWithoutARefreshWaitIsBoundedToTheRefreshRate) {
    for (int64_t work : {int64_t{0}, 1 * kMs, 10 * kMs}) {
        SCOPED_TRACE(work);
        D3D9FramePacer pacer;
        pacer.periodNs = kPeriod;
        const int64_t first = RunFrames(&pacer, 1, work);
        // 61 presents take at least 60 periods: no more than 60 a second.
        EXPECT_GE(RunFrames(&pacer, 60, work) - first, 60 * kPeriod - 60);
    }
}

TEST(FramePacer, SlowFramesAreNotDelayedAndALateOneDoesNotBurst) {
    D3D9FramePacer pacer;
    pacer.periodNs = kPeriod;
    EXPECT_EQ(D3D9_PaceDelay(&pacer, 0), 0);
    EXPECT_EQ(D3D9_PaceDelay(&pacer, 20 * kMs), 0);         // a slow frame: shown at once
    EXPECT_EQ(D3D9_PaceDelay(&pacer, 21 * kMs), 12333332);  // the cadence holds: 2 periods from the start
    EXPECT_EQ(D3D9_PaceDelay(&pacer, 500 * kMs), 0);        // a stall
    // ... restarts the cadence from the stall instead of catching up.
    EXPECT_EQ(D3D9_PaceDelay(&pacer, 500 * kMs), kPeriod);
    D3D9FramePacer off;
    EXPECT_EQ(D3D9_PaceDelay(&off, 5), 0);
}

TEST(FramePacer, ASwapThatKeepsReturningAtOnceIsPacedAfterAll) {
    D3D9FramePacer pacer;
    pacer.periodNs = kPeriod;
    pacer.swapWaits = true;
    // A swap that waits: a period between presents, nothing added.
    EXPECT_EQ(RunFrames(&pacer, 20, kPeriod), 20 * kPeriod);
    EXPECT_TRUE(pacer.swapWaits);
    // One that comes back at once is trusted a few frames, then paced.
    int quick = 0;
    while (pacer.swapWaits && quick < 100) {
        EXPECT_EQ(D3D9_PaceDelay(&pacer, 20 * kPeriod + ++quick), 0);
    }
    EXPECT_LT(quick, 20);
    const int64_t start = 20 * kPeriod + quick;
    int64_t now = start;
    for (int i = 0; i < 10; ++i) now += D3D9_PaceDelay(&pacer, now);
    EXPECT_GE(now - start, 9 * kPeriod);
}

TEST(FramePacer, PeriodFromTheDisplaysRate) {
    EXPECT_EQ(D3D9_RefreshPeriodNs(60), kPeriod);
    EXPECT_EQ(D3D9_RefreshPeriodNs(144), 6944444);
    EXPECT_EQ(D3D9_RefreshPeriodNs(0), kPeriod);  // the display tells none
}

// The offscreen driver shows nothing, so its swap never waits: a device asked
// to wait for the refresh paces itself; one asked to present at once does not.
TEST(FramePacer, AnOffscreenDeviceAskedToWaitPacesItself) {
    ASSERT_STREQ(SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "offscreen", "offscreen");
    D3D9_ResetSeam();
    g_D3D9FramePacing = true;
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    HWND window = OpenScreenWindow(DefWindowProcA, 64, 48);
    ASSERT_NE(window, nullptr);
    for (UINT interval : {D3DPRESENT_INTERVAL_ONE, D3DPRESENT_INTERVAL_IMMEDIATE}) {
        SCOPED_TRACE(interval);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = 64;
        pp.BackBufferHeight = 48;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.PresentationInterval = interval;
        IDirect3DDevice9* device = nullptr;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
        EXPECT_EQ(g_D3D9Seam.pacingPeriodNs, interval == D3DPRESENT_INTERVAL_ONE ? kPeriod : 0);
        EXPECT_FALSE(g_D3D9Seam.pacingSwapWaits);
        EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        EXPECT_EQ(device->Release(), 0u);
    }
    g_D3D9FramePacing = false;
    DestroyWindow(window);
    EXPECT_EQ(d3d->Release(), 0u);
}

}  // namespace
