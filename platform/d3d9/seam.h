// Test seam of the Direct3D 9 stand-in: lets a test decide what the platform
// reports (adapters, identifiers, capabilities, modes, format checks) and make
// device calls fail or report a lost device. Default-constructed = the real system.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/d3d9/d3d9.h"

struct D3D9SeamAdapter {
    D3DADAPTER_IDENTIFIER9 identifier{};
    HRESULT capsResult = D3D_OK;  // GetDeviceCaps(HAL) answer
    D3DCAPS9 caps{};
    // The vertex-shader version a device of this adapter reports while it
    // processes vertices in software (a software device, or a mixed one
    // switched to software).
    DWORD softwareVertexShaderVersion = D3DVS_VERSION(3, 0);
    HRESULT desktopResult = D3D_OK;  // GetAdapterDisplayMode answer
    D3DDISPLAYMODE desktop{};
    // Full-screen modes per format, in enumeration order.
    std::vector<std::pair<D3DFORMAT, std::vector<D3DDISPLAYMODE>>> modes;
};

struct D3D9Seam {
    bool failCreate = false;  // Direct3DCreate9 answers null
    // When set, these adapters replace the SDL displays for enumeration, caps and
    // checks; devices are still real GL devices on the given window.
    bool adaptersSeamed = false;
    std::vector<D3D9SeamAdapter> adapters;

    // Answers of the Check* calls; unset = the stand-in's own rules.
    std::function<HRESULT(UINT adapter, D3DFORMAT display, D3DFORMAT back, BOOL windowed)> checkDeviceType;
    std::function<HRESULT(UINT adapter, D3DFORMAT display, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)>
        checkDeviceFormat;
    std::function<HRESULT(UINT adapter, D3DFORMAT display, D3DFORMAT target, D3DFORMAT depth)> checkDepthStencilMatch;
    std::function<HRESULT(UINT adapter, D3DFORMAT format, BOOL windowed, D3DMULTISAMPLE_TYPE samples)> checkMultiSample;

    // Each call takes the front answer when its queue is not empty, else works
    // normally. D3D_OK in a queue means "behave normally this time".
    std::deque<HRESULT> createDevice;
    std::deque<HRESULT> present;
    std::deque<HRESULT> testCooperativeLevel;
    std::deque<HRESULT> reset;
    std::deque<HRESULT> getBackBuffer;
    std::deque<HRESULT> getCreationParameters;
    std::deque<HRESULT> createTexture;
    std::deque<HRESULT> createCubeTexture;

    // What GetCreationParameters reports as behaviour flags when set (the
    // pure-device flag decides the kind of effect state manager).
    bool behaviorSeamed = false;
    DWORD behaviorFlags = 0;
    // The declaration types the capabilities offer when >= 0 (D3DDTCAPS_ bits).
    int64_t declTypes = -1;
    // The video memory in MB the driver is taken to tell when > 0; -2 = the
    // driver tells nothing (the documented default is used).
    int videoMemoryMB = 0;

    // What the last device set up chose: the period it paces to (0 = none) and
    // whether it takes the swap to wait for the refresh itself.
    int64_t pacingPeriodNs = 0;
    bool pacingSwapWaits = false;

    // Counters for tests.
    int presentCount = 0;
    int resetCount = 0;
    // BeginScene inside a scene or EndScene outside one (both refused).
    int unpairedSceneCalls = 0;
};

extern D3D9Seam g_D3D9Seam;

// Devices asked to wait for the refresh pace their swaps where the swap does
// not wait. Test programs count frames, not time, and turn this off once at
// their start (a seam reset leaves it alone); a pacing test turns it back on.
extern bool g_D3D9FramePacing;

// Back to the real system.
void D3D9_ResetSeam();

// Live objects of the stand-in, for leak checks in tests.
int D3D9_LiveDeviceCount();
int D3D9_LiveResourceCount();

// The capabilities the stand-in reports for a GL 3.3 device (what a test starts
// from when it seams an adapter).
D3DCAPS9 D3D9_DefaultCaps();
