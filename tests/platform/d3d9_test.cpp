// The Direct3D 9 stand-in on a real GL context (Mesa's software rasteriser
// under SDL's offscreen driver): enumeration, device life, clear and present
// read back from the window, locks, copies, reset rules and the seam.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/program.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "support/window_support.h"

namespace {

class D3D9Test : public ::testing::Test {
protected:
    void SetUp() override {
        D3D9_ResetSeam();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = OpenScreenWindow(DefWindowProcA, 64, 48);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        device = nullptr;
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        EXPECT_EQ(D3D9_LiveDeviceCount(), 0);
        if (window) DestroyWindow(window);
        if (d3d) {
            EXPECT_EQ(d3d->Release(), 0u);
        }
        D3D9_ResetSeam();
    }

    D3DPRESENT_PARAMETERS Params(UINT w = 64, UINT h = 48) {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = w;
        pp.BackBufferHeight = h;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.EnableAutoDepthStencil = 1;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        return pp;
    }

    void Create(D3DPRESENT_PARAMETERS pp) {
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
    }

    // Reads the window's picture through the front-buffer copy.
    uint32_t WindowPixel(int x, int y) {
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(device->CreateOffscreenPlainSurface(64, 48, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &s, nullptr), D3D_OK);
        EXPECT_EQ(device->GetFrontBufferData(0, s), D3D_OK);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
        s->UnlockRect();
        s->Release();
        return v;
    }

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    HWND window = nullptr;
};

TEST_F(D3D9Test, OffscreenDisplayGivesOneAdapterWithTheDesktopMode) {
    ASSERT_GE(d3d->GetAdapterCount(), 1u);
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
    // The offscreen driver lists one 0x0 mode: the desktop mode stands in for it.
    ASSERT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), 1u);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, desktop.Width);
    EXPECT_EQ(mode.Height, desktop.Height);
    EXPECT_EQ(d3d->GetAdapterModeCount(0, D3DFMT_A8R8G8B8), 0u);
    EXPECT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 1, &mode), D3DERR_INVALIDCALL);

    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.MaxTextureWidth, 8192u);
    EXPECT_EQ(caps.PixelShaderVersion, D3DPS_VERSION(3, 0));
    EXPECT_NE(caps.LineCaps & D3DLINECAPS_ZTEST, 0u);
    D3DADAPTER_IDENTIFIER9 id{};
    ASSERT_EQ(d3d->GetAdapterIdentifier(0, 0, &id), D3D_OK);
    EXPECT_GT(std::strlen(id.Description), 0u);
    EXPECT_EQ(d3d->GetAdapterMonitor(0), 1u);
    EXPECT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &caps), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->GetAdapterIdentifier(7, 0, &id), D3DERR_INVALIDCALL);
}

TEST_F(D3D9Test, FormatChecksFollowTheFullScreenRules) {
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, 0), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, 0), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, 1), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, 0), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_P8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                     D3DFMT_D24S8),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                     D3DFMT_D15S1),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D16), D3D_OK);
    // llvmpipe offers up to 4 samples.
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DMULTISAMPLE_4_SAMPLES, nullptr),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DMULTISAMPLE_8_SAMPLES, nullptr),
              D3DERR_NOTAVAILABLE);
}

TEST_F(D3D9Test, ClearAndPresentReachTheWindowUpright) {
    Create(Params());
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
    // A red band over the top 8 rows: it must stay at the top of the window.
    D3DRECT top{0, 0, 64, 8};
    ASSERT_EQ(device->Clear(1, &top, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(WindowPixel(10, 2) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(WindowPixel(10, 40) & 0xFFFFFF, 0x0000FFu);

    // The back buffer reads back in memory order too.
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t first, last;
    std::memcpy(&first, lr.pBits, 4);
    std::memcpy(&last, static_cast<uint8_t*>(lr.pBits) + 47 * lr.Pitch, 4);
    EXPECT_EQ(first & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(last & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(back->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    back->UnlockRect();
    EXPECT_EQ(back->Release(), 0u);
}

TEST_F(D3D9Test, CpuWritesToTheBackBufferArePresented) {
    Create(Params());
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(back->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            uint32_t v = y < 24 ? 0xFF00FF00u : 0xFFFFFFFFu;
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &v, 4);
        }
    ASSERT_EQ(back->UnlockRect(), D3D_OK);
    back->Release();
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(WindowPixel(5, 5) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(WindowPixel(5, 40) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(D3D9Test, GammaRampIsAppliedAtPresent) {
    Create(Params());
    D3DGAMMARAMP ramp{};
    for (int i = 0; i < 256; ++i) {
        ramp.red[i] = static_cast<WORD>((255 - i) * 257);
        ramp.green[i] = static_cast<WORD>(i * 257);
        ramp.blue[i] = 0;
    }
    device->SetGammaRamp(0, 0, &ramp);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 128, 200), 1.0f, 0);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(WindowPixel(1, 1) & 0xFFFFFF, 0xFF8000u);
}

TEST_F(D3D9Test, MultisampledBackBufferIsResolvedAtPresent) {
    D3DPRESENT_PARAMETERS pp = Params();
    pp.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    pp.Flags = 0;
    Create(pp);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(back->LockRect(&lr, nullptr, 0), D3DERR_INVALIDCALL);
    back->Release();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, D3DCOLOR_XRGB(10, 20, 30), 1.0f,
                  0);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(WindowPixel(3, 3) & 0xFFFFFF, 0x0A141Eu);
}

TEST_F(D3D9Test, ResetFailsWhileDefaultPoolObjectsLive) {
    Create(Params());
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DPRESENT_PARAMETERS pp = Params(32, 16);
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);  // the back buffer is still held
    EXPECT_EQ(back->Release(), 0u);
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(
        device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
        D3D_OK);
    IDirect3DTexture9* managed = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);  // a default-pool texture lives
    target->Release();
    ASSERT_EQ(device->Reset(&pp), D3D_OK);  // managed textures survive a reset
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 32u);
    EXPECT_EQ(desc.Height, 16u);
    back->Release();
    EXPECT_EQ(managed->GetLevelCount(), 5u);
    managed->Release();
}

TEST_F(D3D9Test, SeamMakesCallsFailOrReportALostDevice) {
    g_D3D9Seam.createDevice = {D3DERR_NOTAVAILABLE};
    D3DPRESENT_PARAMETERS pp = Params();
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0, &pp, &device), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device, nullptr);
    Create(Params());
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
    g_D3D9Seam.reset = {D3DERR_INVALIDCALL};
    g_D3D9Seam.getBackBuffer = {D3DERR_INVALIDCALL};
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    pp = Params();
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
    IDirect3DSurface9* back = reinterpret_cast<IDirect3DSurface9*>(1);
    EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3DERR_INVALIDCALL);
    EXPECT_EQ(back, nullptr);
    EXPECT_EQ(g_D3D9Seam.presentCount, 2);
}

TEST_F(D3D9Test, TexturesKeepRowsAndCopyOnTheDevice) {
    Create(Params());
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &tex, nullptr),
              D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            uint32_t v = 0xFF000000u | static_cast<uint32_t>(y * 40) << 16 | static_cast<uint32_t>(x * 30);
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &v, 4);
        }
    ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(tex->GetSurfaceLevel(0, &level), D3D_OK);
    IDirect3DBaseTexture9* container = nullptr;
    ASSERT_EQ(level->GetContainer(&container), D3D_OK);
    EXPECT_EQ(container, static_cast<IDirect3DBaseTexture9*>(tex));
    container->Release();

    // Copy the texture level onto the back buffer at (10, 20) and read it back.
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    RECT dst{10, 20, 18, 24};
    ASSERT_EQ(device->StretchRect(level, nullptr, back, &dst, D3DTEXF_NONE), D3D_OK);
    IDirect3DSurface9* copy = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(64, 48, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr), D3D_OK);
    ASSERT_EQ(device->GetRenderTargetData(back, copy), D3D_OK);
    ASSERT_EQ(copy->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t v;
    std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + 23 * lr.Pitch + 17 * 4, 4);
    EXPECT_EQ(v & 0xFFFFFF, (3u * 40) << 16 | 7u * 30);
    copy->UnlockRect();
    copy->Release();

    // A colour fill on a default-pool plain surface reads back through a lock.
    IDirect3DSurface9* plain = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &plain, nullptr), D3D_OK);
    RECT one{1, 2, 2, 3};
    ASSERT_EQ(device->ColorFill(plain, &one, D3DCOLOR_XRGB(0, 255, 0)), D3D_OK);
    ASSERT_EQ(plain->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint16_t px;
    std::memcpy(&px, static_cast<uint8_t*>(lr.pBits) + 2 * lr.Pitch + 2, 2);
    EXPECT_EQ(px, 0x07E0);
    plain->UnlockRect();
    plain->Release();

    // Default-pool textures without the dynamic usage cannot be locked.
    IDirect3DTexture9* fixed = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &fixed, nullptr), D3D_OK);
    EXPECT_EQ(fixed->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
    fixed->Release();

    level->Release();
    back->Release();
    tex->Release();
}

TEST_F(D3D9Test, StatesAreRecordedWithDirect3DDefaults) {
    Create(Params());
    DWORD v = 0;
    ASSERT_EQ(device->GetRenderState(D3DRS_ZENABLE, &v), D3D_OK);
    EXPECT_EQ(v, D3DZB_TRUE);
    ASSERT_EQ(device->GetRenderState(D3DRS_CULLMODE, &v), D3D_OK);
    EXPECT_EQ(v, D3DCULL_CCW);
    ASSERT_EQ(device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1), D3D_OK);
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, 1u);
    ASSERT_EQ(device->GetTextureStageState(1, D3DTSS_COLOROP, &v), D3D_OK);
    EXPECT_EQ(v, D3DTOP_DISABLE);
    ASSERT_EQ(device->GetSamplerState(3, D3DSAMP_ADDRESSU, &v), D3D_OK);
    EXPECT_EQ(v, D3DTADDRESS_WRAP);
    EXPECT_EQ(device->SetRenderState(999, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(16, D3DSAMP_MINFILTER, 1), D3DERR_INVALIDCALL);

    // A texture that goes away is unbound.
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    device->SetTexture(2, tex);
    tex->Release();
    IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(1);
    ASSERT_EQ(device->GetTexture(2, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
}

TEST_F(D3D9Test, ShaderProfileFollowsTheCaps) {
    Create(Params());
    EXPECT_STREQ(D3DXGetPixelShaderProfile(device), "ps_3_0");
    UINT w = 256, h = 256, levels = 1;
    D3DFORMAT f = D3DFMT_G16R16;
    ASSERT_EQ(D3DXCheckTextureRequirements(device, &w, &h, &levels, 0, &f, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_EQ(f, D3DFMT_G16R16);
    // Without G16R16 the nearest usable format is taken.
    g_D3D9Seam.checkDeviceFormat = [](UINT, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT format) {
        return format == D3DFMT_G16R16 || format == D3DFMT_A2B10G10R10 ? D3DERR_NOTAVAILABLE : D3D_OK;
    };
    ASSERT_EQ(D3DXCheckTextureRequirements(device, &w, &h, &levels, 0, &f, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_EQ(f, D3DFMT_A2R10G10B10);
}

// The capabilities of a seamed adapter: the vertex-shader version follows the
// way vertices are processed; lights and the software switch are recorded.
TEST_F(D3D9Test, VertexProcessingDecidesTheVertexShaderVersion) {
    ASSERT_EQ(d3d->Release(), 0u);
    g_D3D9Seam.adaptersSeamed = true;
    D3D9SeamAdapter a;
    a.caps = D3D9_DefaultCaps();
    a.caps.VertexShaderVersion = D3DVS_VERSION(1, 0);
    a.caps.MaxActiveLights = 16;
    a.softwareVertexShaderVersion = D3DVS_VERSION(2, 0);
    a.desktop = {64, 48, 60, D3DFMT_X8R8G8B8};
    g_D3D9Seam.adapters.push_back(a);
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.Caps2 & D3DCAPS2_FULLSCREENGAMMA, static_cast<DWORD>(D3DCAPS2_FULLSCREENGAMMA));
    EXPECT_EQ(caps.MaxActiveLights, 16u);

    struct Case {
        DWORD behaviour;
        HRESULT switchResult;  // SetSoftwareVertexProcessing(TRUE)
        DWORD before, after;   // vertex-shader versions before and after the switch
    } cases[] = {
        {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DERR_INVALIDCALL, D3DVS_VERSION(1, 0), D3DVS_VERSION(1, 0)},
        {D3DCREATE_MIXED_VERTEXPROCESSING, D3D_OK, D3DVS_VERSION(1, 0), D3DVS_VERSION(2, 0)},
        {D3DCREATE_SOFTWARE_VERTEXPROCESSING, D3DERR_INVALIDCALL, D3DVS_VERSION(2, 0), D3DVS_VERSION(2, 0)},
    };
    for (const Case& c : cases) {
        D3DPRESENT_PARAMETERS pp = Params();
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, c.behaviour, &pp, &device), D3D_OK);
        ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
        EXPECT_EQ(caps.VertexShaderVersion, c.before) << c.behaviour;
        EXPECT_EQ(device->SetSoftwareVertexProcessing(1), c.switchResult) << c.behaviour;
        ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
        EXPECT_EQ(caps.VertexShaderVersion, c.after) << c.behaviour;
        device->SetSoftwareVertexProcessing(0);
        ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
        EXPECT_EQ(caps.VertexShaderVersion, c.before) << c.behaviour;

        BOOL on = 1;
        EXPECT_EQ(device->GetLightEnable(3, &on), D3DERR_INVALIDCALL);  // never set
        ASSERT_EQ(device->LightEnable(3, 0), D3D_OK);
        ASSERT_EQ(device->GetLightEnable(3, &on), D3D_OK);
        EXPECT_EQ(on, 0);
        EXPECT_EQ(device->Release(), 0u);
        device = nullptr;
    }
}

// ---------------------------------------------------------------- drawing

// Draws into an A8R8G8B8 render target of the window's size and reads it back.
class D3D9DrawTest : public D3D9Test {
protected:
    void SetUp() override {
        D3D9Test::SetUp();
        Create(Params());
        ASSERT_EQ(device->CreateRenderTarget(64, 48, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &target, nullptr),
                  D3D_OK);
        ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
        // Stage 0 passes the diffuse colour, as the fade rectangle sets it.
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetRenderState(D3DRS_ZENABLE, 0);
    }
    void TearDown() override {
        if (target) {
            EXPECT_EQ(target->Release(), 0u);
        }
        D3D9Test::TearDown();
    }

    struct ScreenVertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
        float u, v;
    };
    static constexpr DWORD kScreenFVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    // A pre-transformed rectangle in one colour, as a strip.
    HRESULT Rect(float x0, float y0, float x1, float y1, D3DCOLOR colour) {
        ScreenVertex v[4] = {{x0, y0, 0.5f, 1.0f, colour, 0.0f, 0.0f},
                             {x1, y0, 0.5f, 1.0f, colour, 1.0f, 0.0f},
                             {x0, y1, 0.5f, 1.0f, colour, 0.0f, 1.0f},
                             {x1, y1, 0.5f, 1.0f, colour, 1.0f, 1.0f}};
        device->SetFVF(kScreenFVF);
        return device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
    }

    uint32_t Pixel(int x, int y) {
        IDirect3DSurface9* copy = nullptr;
        EXPECT_EQ(device->CreateOffscreenPlainSurface(64, 48, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr),
                  D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(target, copy), D3D_OK);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(copy->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
        copy->UnlockRect();
        copy->Release();
        return v;
    }

    IDirect3DSurface9* target = nullptr;
};

// Each channel within the tolerance.
::testing::AssertionResult Near(uint32_t got, uint32_t want, int tolerance = 2) {
    for (int shift = 0; shift < 32; shift += 8) {
        int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
        if (std::abs(a - b) > tolerance)
            return ::testing::AssertionFailure() << std::hex << got << " is not near " << want;
    }
    return ::testing::AssertionSuccess();
}

// The blend of one channel by Direct3D's rules (a small oracle for the table).
float Factor(DWORD f, int channel, const float* s, const float* d, const float* k) {
    switch (f) {
        case D3DBLEND_ZERO: return 0.0f;
        case D3DBLEND_ONE: return 1.0f;
        case D3DBLEND_SRCCOLOR: return s[channel];
        case D3DBLEND_INVSRCCOLOR: return 1.0f - s[channel];
        case D3DBLEND_SRCALPHA: return s[3];
        case D3DBLEND_INVSRCALPHA: return 1.0f - s[3];
        case D3DBLEND_DESTALPHA: return d[3];
        case D3DBLEND_INVDESTALPHA: return 1.0f - d[3];
        case D3DBLEND_DESTCOLOR: return d[channel];
        case D3DBLEND_INVDESTCOLOR: return 1.0f - d[channel];
        case D3DBLEND_SRCALPHASAT: return channel == 3 ? 1.0f : std::min(s[3], 1.0f - d[3]);
        case D3DBLEND_BLENDFACTOR: return k[channel];
        default: return 1.0f - k[channel];
    }
}

TEST_F(D3D9DrawTest, BlendFactorPairsOverAKnownColour) {
    const D3DCOLOR dst = D3DCOLOR_ARGB(0x80, 0x40, 0x80, 0xC0), src = D3DCOLOR_ARGB(0x40, 0xFF, 0x80, 0x00);
    const D3DCOLOR factor = D3DCOLOR_ARGB(0x80, 0x20, 0x80, 0xFF);
    struct {
        DWORD src, dst, op;
        DWORD srcAlpha, dstAlpha, opAlpha;  // srcAlpha 0: no separate alpha
    } cases[] = {
        {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_INVDESTALPHA, D3DBLEND_DESTALPHA, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_INVSRCCOLOR, D3DBLEND_INVDESTCOLOR, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_BLENDFACTOR, D3DBLEND_INVBLENDFACTOR, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_SRCALPHASAT, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0, 0, 0},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT, 0, 0, 0},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_SUBTRACT, 0, 0, 0},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MAX, 0, 0, 0},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MIN, 0, 0, 0},
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD},
        {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT},
    };
    auto split = [](D3DCOLOR c, float* out) {
        out[0] = ((c >> 16) & 0xFF) / 255.0f;
        out[1] = ((c >> 8) & 0xFF) / 255.0f;
        out[2] = (c & 0xFF) / 255.0f;
        out[3] = (c >> 24) / 255.0f;
    };
    float s[4], d[4], k[4];
    split(src, s);
    split(dst, d);
    split(factor, k);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_BLENDFACTOR, factor);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.src << "," << c.dst << " op " << c.op << " alpha " << c.srcAlpha);
        device->SetRenderState(D3DRS_SRCBLEND, c.src);
        device->SetRenderState(D3DRS_DESTBLEND, c.dst);
        device->SetRenderState(D3DRS_BLENDOP, c.op);
        device->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, c.srcAlpha != 0);
        device->SetRenderState(D3DRS_SRCBLENDALPHA, c.srcAlpha);
        device->SetRenderState(D3DRS_DESTBLENDALPHA, c.dstAlpha);
        device->SetRenderState(D3DRS_BLENDOPALPHA, c.opAlpha);
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, dst, 1.0f, 0), D3D_OK);
        ASSERT_EQ(Rect(0, 0, 64, 48, src), D3D_OK);
        uint32_t want = 0;
        for (int ch = 0; ch < 4; ++ch) {
            bool alpha = ch == 3 && c.srcAlpha;
            DWORD fs = alpha ? c.srcAlpha : c.src, fd = alpha ? c.dstAlpha : c.dst, op = alpha ? c.opAlpha : c.op;
            float a = s[ch] * Factor(fs, ch, s, d, k), b = d[ch] * Factor(fd, ch, s, d, k);
            float v = op == D3DBLENDOP_ADD           ? a + b
                      : op == D3DBLENDOP_SUBTRACT    ? a - b
                      : op == D3DBLENDOP_REVSUBTRACT ? b - a
                      : op == D3DBLENDOP_MIN         ? std::min(s[ch], d[ch])
                                                     : std::max(s[ch], d[ch]);
            auto byte = static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
            int shift = ch == 3 ? 24 : 16 - 8 * ch;
            want |= byte << shift;
        }
        EXPECT_TRUE(Near(Pixel(20, 20), want));
    }
}

TEST_F(D3D9DrawTest, CullingFollowsDirect3DsWinding) {
    // (10,10) (50,10) (10,40) runs clockwise on the screen; the reverse order does not.
    ScreenVertex cw[3] = {
        {10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {50, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {10, 40, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    ScreenVertex ccw[3] = {cw[0], cw[2], cw[1]};
    struct {
        ScreenVertex* triangle;
        DWORD cull;
        bool drawn;
    } cases[] = {
        {cw, D3DCULL_CCW, true},   {cw, D3DCULL_CW, false}, {cw, D3DCULL_NONE, true},
        {ccw, D3DCULL_CCW, false}, {ccw, D3DCULL_CW, true}, {ccw, D3DCULL_NONE, true},
    };
    device->SetFVF(kScreenFVF);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.triangle == cw ? "clockwise" : "counter-clockwise") << " cull " << c.cull);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0);
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, c.triangle, sizeof(ScreenVertex)), D3D_OK);
        EXPECT_EQ(Pixel(15, 15) & 0xFFFFFF, c.drawn ? 0xFFFFFFu : 0x0000FFu);
    }
}

TEST_F(D3D9DrawTest, AlphaTestAgainstTheReference) {
    // Texel alpha 89 on the left, 90 on the right; the test keeps alpha >= 90.
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
    uint32_t texels[2] = {D3DCOLOR_ARGB(89, 255, 0, 0), D3DCOLOR_ARGB(90, 0, 255, 0)};
    std::memcpy(lr.pBits, texels, 8);
    tex->UnlockRect(0);
    device->SetTexture(0, tex);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_ALPHAREF, 90);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0);
    ASSERT_EQ(Rect(0, 0, 64, 48, 0xFFFFFFFF), D3D_OK);
    EXPECT_EQ(Pixel(10, 20) & 0xFFFFFF, 0x0000FFu);  // 89 fails the test
    EXPECT_EQ(Pixel(50, 20), D3DCOLOR_ARGB(90, 0, 255, 0));
    // A reference of 89 lets both through.
    device->SetRenderState(D3DRS_ALPHAREF, 89);
    ASSERT_EQ(Rect(0, 0, 64, 48, 0xFFFFFFFF), D3D_OK);
    EXPECT_EQ(Pixel(10, 20), D3DCOLOR_ARGB(89, 255, 0, 0));
    device->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(D3D9DrawTest, ColourWriteMaskSevenKeepsTheTargetsAlpha) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(0x40, 0, 0, 0), 1.0f, 0);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
    ASSERT_EQ(Rect(0, 0, 64, 48, D3DCOLOR_ARGB(0xFF, 0x10, 0x20, 0x30)), D3D_OK);
    EXPECT_EQ(Pixel(30, 30), D3DCOLOR_ARGB(0x40, 0x10, 0x20, 0x30));
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    ASSERT_EQ(Rect(0, 0, 64, 48, D3DCOLOR_ARGB(0xFF, 0x10, 0x20, 0x30)), D3D_OK);
    EXPECT_EQ(Pixel(30, 30), D3DCOLOR_ARGB(0xFF, 0x10, 0x20, 0x30));
}

TEST_F(D3D9DrawTest, FadeRectangleDrawsHalfTransparentBlack) {
    // The fade rectangle's set-up: no shaders, stage 0 selecting the diffuse
    // colour, stage 1 off, pre-transformed vertices with a colour.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZENABLE, 0);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 255, 255), 1.0f, 0);
    ASSERT_EQ(Rect(0, 0, 32, 48, 0x80000000), D3D_OK);
    EXPECT_TRUE(Near(Pixel(10, 10) & 0xFFFFFF, 0x7F7F7F, 1));
    EXPECT_EQ(Pixel(50, 10) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(D3D9DrawTest, DepthTestAndWrite) {
    auto at = [&](float z, D3DCOLOR colour) {
        ScreenVertex v[4] = {{0, 0, z, 1, colour, 0, 0},
                             {64, 0, z, 1, colour, 0, 0},
                             {0, 48, z, 1, colour, 0, 0},
                             {64, 48, z, 1, colour, 0, 0}};
        device->SetFVF(kScreenFVF);
        return device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
    };
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(at(0.25f, D3DCOLOR_XRGB(255, 0, 0)), D3D_OK);
    ASSERT_EQ(at(0.75f, D3DCOLOR_XRGB(0, 255, 0)), D3D_OK);  // behind: hidden
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0xFF0000u);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
    ASSERT_EQ(at(0.75f, D3DCOLOR_XRGB(0, 255, 0)), D3D_OK);
    ASSERT_EQ(at(0.5f, D3DCOLOR_XRGB(0, 0, 255)), D3D_OK);  // the depth is still 0.25
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0x0000FFu);
}

// The depth test follows the depth surface: a draw without one turns the test
// off, and setting the surface back turns it on again, though no Z state
// changed in between.
TEST_F(D3D9DrawTest, DepthTestComesBackWithTheDepthSurface) {
    auto at = [&](float z, D3DCOLOR colour) {
        ScreenVertex v[4] = {{0, 0, z, 1, colour, 0, 0},
                             {64, 0, z, 1, colour, 0, 0},
                             {0, 48, z, 1, colour, 0, 0},
                             {64, 48, z, 1, colour, 0, 0}};
        device->SetFVF(kScreenFVF);
        return device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
    };
    device->SetRenderState(D3DRS_ZENABLE, 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(at(0.25f, D3DCOLOR_XRGB(255, 0, 0)), D3D_OK);
    IDirect3DSurface9* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);
    ASSERT_EQ(device->SetDepthStencilSurface(nullptr), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(at(0.75f, D3DCOLOR_XRGB(0, 0, 255)), D3D_OK);  // no depth buffer: drawn
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0x0000FFu);
    ASSERT_EQ(device->SetDepthStencilSurface(depth), D3D_OK);
    depth->Release();
    ASSERT_EQ(at(0.75f, D3DCOLOR_XRGB(0, 255, 0)), D3D_OK);  // behind the 0.25 in the buffer: hidden
    EXPECT_EQ(Pixel(5, 5) & 0xFFFFFF, 0x0000FFu);
}

// Every capability the caps claim, drawn: render targets, stencil, points,
// flag-word vertices with a specular colour and eight coordinate sets, and
// eight texture stages.
TEST_F(D3D9DrawTest, CapsClaimOnlyWhatTheDeviceDraws) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device->GetDeviceCaps(&caps), D3D_OK);
    // Render targets: as many as claimed are taken, the next index is refused.
    ASSERT_GE(caps.NumSimultaneousRTs, 1u);
    for (DWORD i = 0; i < caps.NumSimultaneousRTs; ++i) EXPECT_EQ(device->SetRenderTarget(i, target), D3D_OK);
    EXPECT_EQ(device->SetRenderTarget(caps.NumSimultaneousRTs, target), D3DERR_INVALIDCALL);
    // Neither clip planes nor two-sided stencil are drawn, so none is claimed.
    EXPECT_EQ(caps.MaxUserClipPlanes, 0u);
    EXPECT_EQ(caps.StencilCaps & D3DSTENCILCAPS_TWOSIDED, 0u);
    // Points are as big as claimed: one pixel.
    EXPECT_EQ(caps.MaxPointSize, 1.0f);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ScreenVertex point = {20, 20, 0.5f, 1, 0xFFFFFFFF, 0, 0};
    device->SetFVF(kScreenFVF);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof point), D3D_OK);
    int lit = 0;
    for (int y = 18; y < 23; ++y)
        for (int x = 18; x < 23; ++x) lit += (Pixel(x, y) & 0xFFFFFF) != 0;
    EXPECT_EQ(lit, 1);

    // One 1 x 1 texture per stage, each a small colour of its own.
    ASSERT_EQ(caps.MaxTextureBlendStages, 8u);
    ASSERT_EQ(caps.MaxSimultaneousTextures, 8u);
    ASSERT_NE(caps.TextureOpCaps & D3DTEXOPCAPS_ADD, 0u);
    ASSERT_EQ(caps.FVFCaps & 0xFFFF, 8u);
    std::vector<IDirect3DTexture9*> textures;
    for (DWORD i = 0; i < caps.MaxSimultaneousTextures; ++i) {
        IDirect3DTexture9* t = nullptr;
        ASSERT_EQ(device->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
        // Texel 0 is the stage's colour; texel 1 is black.
        uint32_t texels[2] = {D3DCOLOR_ARGB(255, 16, 8 * (i % 2), 4), 0xFF000000u};
        std::memcpy(lr.pBits, texels, sizeof texels);
        t->UnlockRect(0);
        textures.push_back(t);
        device->SetTexture(i, t);
        device->SetSamplerState(i, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetTextureStageState(i, D3DTSS_COLOROP, i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_ADD);
        device->SetTextureStageState(i, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(i, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->SetTextureStageState(i, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(i, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        device->SetTextureStageState(i, D3DTSS_TEXCOORDINDEX, i);
    }
    // Flag-word vertices with a specular colour and eight coordinate sets of
    // every size: set i reads texel 0 (u 0.25) for every stage but the last,
    // whose set of one float reads the black texel (u 0.75).
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | (8 << D3DFVF_TEXCOUNT_SHIFT) |
                      D3DFVF_TEXCOORDSIZE3(1) | D3DFVF_TEXCOORDSIZE4(2) | D3DFVF_TEXCOORDSIZE1(7);
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR diffuse, specular;
        float t0[2], t1[3], t2[4], t3[2], t4[2], t5[2], t6[2], t7[1];
    };
    auto quad = [&](std::array<Vertex, 4>* v) {
        const float corners[4][2] = {{0, 0}, {64, 0}, {0, 48}, {64, 48}};
        for (int k = 0; k < 4; ++k) {
            Vertex& q = (*v)[static_cast<size_t>(k)];
            q = {corners[k][0],
                 corners[k][1],
                 0.5f,
                 1.0f,
                 0xFFFFFFFF,
                 D3DCOLOR_XRGB(0, 0, 200),
                 {0.25f, 0.5f},
                 {0.25f, 0.5f, 9.0f},
                 {0.25f, 0.5f, 9.0f, 9.0f},
                 {0.25f, 0.5f},
                 {0.25f, 0.5f},
                 {0.25f, 0.5f},
                 {0.25f, 0.5f},
                 {0.75f}};
        }
    };
    std::array<Vertex, 4> v{};
    quad(&v);
    device->SetFVF(fvf);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(Vertex)), D3D_OK);
    // Seven stages add 16, 8 (every other one) and 4; the last adds black.
    EXPECT_TRUE(Near(Pixel(30, 20) & 0xFFFFFF, D3DCOLOR_XRGB(7 * 16, 3 * 8, 7 * 4) & 0xFFFFFF, 1));
    // The stages stop at the first disabled one.
    device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(Vertex)), D3D_OK);
    EXPECT_TRUE(Near(Pixel(30, 20) & 0xFFFFFF, D3DCOLOR_XRGB(32, 8, 8) & 0xFFFFFF, 1));
    // The specular colour is read where it lies: after the diffuse one.
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_SPECULAR);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v.data(), sizeof(Vertex)), D3D_OK);
    EXPECT_TRUE(Near(Pixel(30, 20) & 0xFFFFFF, D3DCOLOR_XRGB(16, 0, 204) & 0xFFFFFF, 1));
    for (DWORD i = 0; i < textures.size(); ++i) {
        device->SetTexture(i, nullptr);
        textures[i]->Release();
    }
}

// The device keeps GL bindings from draw to draw; an object released and a
// new one made in its place (the same GL name, the same address) is never
// taken for the old one.
TEST_F(D3D9DrawTest, NewObjectsInReleasedPlacesAreBoundAfresh) {
    auto texture = [&](D3DCOLOR colour) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
        std::memcpy(lr.pBits, &colour, 4);
        t->UnlockRect(0);
        return t;
    };
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    for (D3DCOLOR colour : {D3DCOLOR_XRGB(255, 0, 0), D3DCOLOR_XRGB(0, 255, 0), D3DCOLOR_XRGB(0, 0, 255)}) {
        IDirect3DTexture9* t = texture(colour);
        device->SetTexture(0, t);
        ASSERT_EQ(Rect(0, 0, 64, 48, 0xFFFFFFFF), D3D_OK);
        EXPECT_EQ(Pixel(30, 20) & 0xFFFFFF, colour & 0xFFFFFF);
        t->Release();  // unbinds it from the device too
    }
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);

    // Vertex buffers: each quad in a buffer of its own, released after its draw.
    device->SetFVF(kScreenFVF);
    for (D3DCOLOR colour : {D3DCOLOR_XRGB(255, 0, 0), D3DCOLOR_XRGB(0, 255, 0), D3DCOLOR_XRGB(0, 0, 255)}) {
        IDirect3DVertexBuffer9* vb = nullptr;
        ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(ScreenVertex), 0, kScreenFVF, D3DPOOL_MANAGED, &vb, nullptr),
                  D3D_OK);
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
        ScreenVertex v[4] = {{0, 0, 0.5f, 1, colour, 0, 0},
                             {64, 0, 0.5f, 1, colour, 0, 0},
                             {0, 48, 0.5f, 1, colour, 0, 0},
                             {64, 48, 0.5f, 1, colour, 0, 0}};
        std::memcpy(p, v, sizeof v);
        vb->Unlock();
        device->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
        ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Pixel(30, 20) & 0xFFFFFF, colour & 0xFFFFFF);
        vb->Release();
    }

    // Programs: the alpha test of the prelude reaches a new program made in
    // the place of a released one.
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_NEVER);
    for (int round = 0; round < 3; ++round) {
        IDirect3DVertexShader9* vs = nullptr;
        IDirect3DPixelShader9* ps = nullptr;
        std::string errors;
        ASSERT_EQ(D3D9_CreateProgram(device,
                                     "layout(location = 0) in vec4 a_Position;\n"
                                     "void main() { gl_Position = d3d_ClipToGL(vec4(a_Position.xy * 2.0 - 1.0, 0.5, "
                                     "1.0)); }\n",
                                     "out vec4 colour;\nvoid main() { d3d_AlphaTest(1.0); colour = vec4(1.0); }\n",
                                     nullptr, &vs, &ps, &errors),
                  D3D_OK)
            << errors;
        device->SetVertexShader(vs);
        device->SetPixelShader(ps);
        const float tri[] = {0, 0, 0, 2, 0, 0, 0, 2, 0};
        device->SetFVF(D3DFVF_XYZ);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 12), D3D_OK);
        EXPECT_EQ(Pixel(4, 4) & 0xFFFFFF, 0u) << "round " << round;  // every fragment fails the test
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        vs->Release();
    }
}

// A reset gives new back and depth buffers, maybe under the GL names of the
// old ones: the draws after it still reach them, depth test included.
TEST_F(D3D9DrawTest, DrawsAfterAResetReachTheNewBuffers) {
    auto backPixel = [&]() {
        IDirect3DSurface9 *back = nullptr, *copy = nullptr;
        EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
        EXPECT_EQ(device->CreateOffscreenPlainSurface(64, 48, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr),
                  D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(back, copy), D3D_OK);
        D3DLOCKED_RECT lr{};
        uint32_t v = 0;
        if (copy->LockRect(&lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + 20 * lr.Pitch + 30 * 4, 4);
            copy->UnlockRect();
        }
        copy->Release();
        back->Release();
        return v & 0xFFFFFF;
    };
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    ASSERT_EQ(device->SetRenderTarget(0, back), D3D_OK);
    back->Release();
    ASSERT_EQ(Rect(0, 0, 64, 48, D3DCOLOR_XRGB(255, 0, 0)), D3D_OK);
    EXPECT_EQ(backPixel(), 0xFF0000u);
    target->Release();
    target = nullptr;
    for (int round = 0; round < 2; ++round) {
        D3DPRESENT_PARAMETERS pp = Params();
        ASSERT_EQ(device->Reset(&pp), D3D_OK);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0);
        ScreenVertex v[4] = {{0, 0, 0.75f, 1, 0xFF00FF00, 0, 0},
                             {64, 0, 0.75f, 1, 0xFF00FF00, 0, 0},
                             {0, 48, 0.75f, 1, 0xFF00FF00, 0, 0},
                             {64, 48, 0.75f, 1, 0xFF00FF00, 0, 0}};
        device->SetFVF(kScreenFVF);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)), D3D_OK);
        EXPECT_EQ(backPixel(), 0u) << "round " << round;  // behind the cleared depth
        ASSERT_EQ(Rect(0, 0, 64, 48, D3DCOLOR_XRGB(0, 0, 255)), D3D_OK);
        EXPECT_EQ(backPixel(), 0x0000FFu) << "round " << round;
    }
}

TEST_F(D3D9DrawTest, StencilMasksLaterDraws) {
    device->SetRenderState(D3DRS_STENCILENABLE, 1);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    ASSERT_EQ(Rect(0, 0, 32, 48, D3DCOLOR_XRGB(255, 0, 0)), D3D_OK);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    ASSERT_EQ(Rect(0, 0, 64, 48, D3DCOLOR_XRGB(0, 255, 0)), D3D_OK);
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Pixel(50, 10) & 0xFFFFFF, 0u);
}

TEST_F(D3D9DrawTest, SamplerStatesAddressAndFilter) {
    // Two texels, red and green; the rectangle runs u from 0 to 2.
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
    uint32_t texels[2] = {0xFFFF0000u, 0xFF00FF00u};
    std::memcpy(lr.pBits, texels, 8);
    tex->UnlockRect(0);
    device->SetTexture(0, tex);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    struct {
        DWORD address, filter;
        int x;
        uint32_t want;
    } cases[] = {
        {D3DTADDRESS_WRAP, D3DTEXF_POINT, 40, 0xFF0000},    // u 1.25: the first texel again
        {D3DTADDRESS_CLAMP, D3DTEXF_POINT, 40, 0x00FF00},   // the last texel
        {D3DTADDRESS_MIRROR, D3DTEXF_POINT, 40, 0x00FF00},  // mirrored: the second texel first
        {D3DTADDRESS_BORDER, D3DTEXF_POINT, 40, 0x0000FF},  // the border colour
        {D3DTADDRESS_CLAMP, D3DTEXF_LINEAR, 16, 0x808000},  // u 0.5: halfway between the texels
    };
    device->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0xFF0000FF);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "address " << c.address << " filter " << c.filter);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, c.address);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, c.filter);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, c.filter);
        ScreenVertex v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0.5f},
                             {64, 0, 0.5f, 1, 0xFFFFFFFF, 2, 0.5f},
                             {0, 48, 0.5f, 1, 0xFFFFFFFF, 0, 0.5f},
                             {64, 48, 0.5f, 1, 0xFFFFFFFF, 2, 0.5f}};
        device->SetFVF(kScreenFVF);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)), D3D_OK);
        EXPECT_TRUE(Near(Pixel(c.x, 20) & 0xFFFFFF, c.want, 2));
    }
    device->SetTexture(0, nullptr);
    tex->Release();
}

TEST_F(D3D9DrawTest, PixelCentresLieOnWholeCoordinates) {
    // Direct3D 9 covers the pixels whose centres (whole numbers) lie inside:
    // 0.25 .. 3.25 holds the centres 1, 2 and 3.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    ASSERT_EQ(Rect(0.25f, 0.25f, 3.25f, 3.25f, 0xFFFFFFFF), D3D_OK);
    for (int i = 0; i <= 4; ++i) {
        bool inside = i >= 1 && i <= 3;
        EXPECT_EQ(Pixel(i, 2) & 0xFFFFFF, inside ? 0xFFFFFFu : 0u) << "column " << i;
        EXPECT_EQ(Pixel(2, i) & 0xFFFFFF, inside ? 0xFFFFFFu : 0u) << "row " << i;
    }
}

TEST_F(D3D9DrawTest, DeclarationTypesReachTheProgramDecoded) {
    // One colour element of each type over a pre-transformed quad.
    struct {
        BYTE type;
        uint8_t bytes[16];
        uint32_t want;
    } cases[] = {
        {D3DDECLTYPE_D3DCOLOR, {0x00, 0x40, 0xFF, 0x80}, D3DCOLOR_ARGB(0x80, 0xFF, 0x40, 0x00)},
        {D3DDECLTYPE_UBYTE4N, {0x10, 0x20, 0x30, 0x40}, D3DCOLOR_ARGB(0x40, 0x10, 0x20, 0x30)},
        // 0.25, 0.5, 1.0, 0.75 as 16-bit floats.
        {D3DDECLTYPE_FLOAT16_4, {0x00, 0x34, 0x00, 0x38, 0x00, 0x3C, 0x00, 0x3A}, D3DCOLOR_ARGB(191, 64, 128, 255)},
        // 511, 255, 128 in the 10-bit fields, the 2-bit field 0: w reads 0.
        {D3DDECLTYPE_DEC3N, {0xFF, 0xFD, 0x03, 0x08}, D3DCOLOR_ARGB(0, 255, 127, 64)},
        {D3DDECLTYPE_USHORT4N, {0xFF, 0xFF, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF}, D3DCOLOR_ARGB(255, 255, 128, 0)},
    };
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_POSITIONT, 0},
                                        {0, 16, c.type, 0, D3DDECLUSAGE_COLOR, 0},
                                        D3DDECL_END()};
        IDirect3DVertexDeclaration9* decl = nullptr;
        ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), D3D_OK);
        uint8_t vertices[4][32] = {};
        const float corners[4][2] = {{0, 0}, {64, 0}, {0, 48}, {64, 48}};
        for (int i = 0; i < 4; ++i) {
            float p[4] = {corners[i][0], corners[i][1], 0.5f, 1.0f};
            std::memcpy(vertices[i], p, 16);
            std::memcpy(vertices[i] + 16, c.bytes, 16);
        }
        device->SetVertexDeclaration(decl);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, 32), D3D_OK);
        EXPECT_TRUE(Near(Pixel(30, 20), c.want, 1));
        device->SetVertexDeclaration(nullptr);
        decl->Release();
    }
}

TEST_F(D3D9DrawTest, BuffersLockDescribeAndDraw) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kScreenFVF,
                                         D3DPOOL_DEFAULT, &vb, nullptr),
              D3D_OK);
    D3DVERTEXBUFFER_DESC vd{};
    ASSERT_EQ(vb->GetDesc(&vd), D3D_OK);
    EXPECT_EQ(vd.Size, 4 * sizeof(ScreenVertex));
    EXPECT_EQ(vd.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(vd.Usage, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY);
    EXPECT_EQ(vd.FVF, kScreenFVF);
    EXPECT_EQ(vd.Type, D3DRTYPE_VERTEXBUFFER);
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 4, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    D3DINDEXBUFFER_DESC id{};
    ASSERT_EQ(ib->GetDesc(&id), D3D_OK);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    EXPECT_EQ(id.Size, 24u);
    IDirect3DIndexBuffer9* refused = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(8, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &refused, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(refused, nullptr);

    auto fill = [&](D3DCOLOR colour, DWORD flags) {
        void* p = nullptr;
        EXPECT_EQ(vb->Lock(0, 0, &p, flags), D3D_OK);
        ScreenVertex v[4] = {{0, 0, 0.5f, 1, colour, 0, 0},
                             {64, 0, 0.5f, 1, colour, 0, 0},
                             {0, 48, 0.5f, 1, colour, 0, 0},
                             {64, 48, 0.5f, 1, colour, 0, 0}};
        std::memcpy(p, v, sizeof v);
        EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3DERR_INVALIDCALL);  // already locked
        vb->Unlock();
    };
    void* p = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    uint32_t indices[6] = {0, 1, 2, 2, 1, 3};
    std::memcpy(p, indices, sizeof indices);
    ib->Unlock();
    EXPECT_EQ(vb->Lock(60, 100, &p, 0), D3DERR_INVALIDCALL);  // past the end

    device->SetFVF(kScreenFVF);
    device->SetStreamSource(0, vb, 0, sizeof(ScreenVertex));
    device->SetIndices(ib);
    fill(D3DCOLOR_XRGB(255, 0, 0), 0);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(Pixel(40, 30) & 0xFFFFFF, 0xFF0000u);
    // A discarding lock hands out fresh storage; the strip draws what was written.
    ASSERT_EQ(vb->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
    uint8_t zero[sizeof(ScreenVertex)] = {};
    EXPECT_EQ(std::memcmp(p, zero, sizeof zero), 0);
    vb->Unlock();
    fill(D3DCOLOR_XRGB(0, 255, 0), D3DLOCK_DISCARD);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(Pixel(40, 30) & 0xFFFFFF, 0x00FF00u);
    // Draws that would read past the buffer are refused.
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 5, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 1, 2), D3DERR_INVALIDCALL);

    // A reset refuses while a default-pool buffer lives.
    D3DPRESENT_PARAMETERS pp = Params();
    target->Release();
    target = nullptr;
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
    vb->Release();
    EXPECT_EQ(device->Reset(&pp), D3D_OK);
    IDirect3DIndexBuffer9* bound = nullptr;
    ASSERT_EQ(device->GetIndices(&bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);  // a reset sets the state back
    ib->Release();
}

TEST_F(D3D9DrawTest, DrawsRefuseWhatTheyCannotDraw) {
    ScreenVertex v[3] = {};
    device->SetFVF(0);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    device->SetFVF(kScreenFVF);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no stream
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0, v, sizeof(ScreenVertex)), D3D_OK);
    EXPECT_EQ(device->DrawPrimitiveUP(99, 1, v, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    // A declaration names only types the capabilities offer.
    D3DVERTEXELEMENT9 udec3[] = {{0, 0, D3DDECLTYPE_UDEC3, 0, D3DDECLUSAGE_NORMAL, 0}, D3DDECL_END()};
    IDirect3DVertexDeclaration9* decl = nullptr;
    EXPECT_EQ(device->CreateVertexDeclaration(udec3, &decl), D3DERR_INVALIDCALL);
    D3DVERTEXELEMENT9 bad[] = {{0, 0, 40, 0, D3DDECLUSAGE_NORMAL, 0}, D3DDECL_END()};
    EXPECT_EQ(device->CreateVertexDeclaration(bad, &decl), D3DERR_INVALIDCALL);
}

TEST_F(D3D9DrawTest, SeamDecidesCreationFlagsDeclarationTypesAndVideoMemory) {
    D3DDEVICE_CREATION_PARAMETERS cp{};
    ASSERT_EQ(device->GetCreationParameters(&cp), D3D_OK);
    EXPECT_EQ(cp.BehaviorFlags, static_cast<DWORD>(D3DCREATE_HARDWARE_VERTEXPROCESSING));
    g_D3D9Seam.behaviorSeamed = true;
    g_D3D9Seam.behaviorFlags = D3DCREATE_PUREDEVICE | D3DCREATE_HARDWARE_VERTEXPROCESSING;
    ASSERT_EQ(device->GetCreationParameters(&cp), D3D_OK);
    EXPECT_EQ(cp.BehaviorFlags, g_D3D9Seam.behaviorFlags);
    g_D3D9Seam.getCreationParameters = {E_FAIL};
    EXPECT_EQ(device->GetCreationParameters(&cp), E_FAIL);

    g_D3D9Seam.videoMemoryMB = 512;
    EXPECT_EQ(device->GetAvailableTextureMem(), 512u << 20);
    g_D3D9Seam.videoMemoryMB = -2;  // the driver tells nothing: the documented default
    EXPECT_EQ(device->GetAvailableTextureMem(), 256u << 20);

    D3DCAPS9 caps{};
    g_D3D9Seam.declTypes = D3DDTCAPS_FLOAT16_4;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeclTypes, static_cast<DWORD>(D3DDTCAPS_FLOAT16_4));
}

TEST(D3D9Errors, NamesAndCreationRules) {
    EXPECT_STREQ(DXGetErrorString9A(D3DERR_DEVICELOST), "D3DERR_DEVICELOST");
    EXPECT_STREQ(DXGetErrorString9A(D3D_OK), "S_OK");
    EXPECT_STREQ(DXGetErrorString9A(0x1234), "Unknown");
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    g_D3D9Seam.failCreate = true;
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    D3D9_ResetSeam();
}

}  // namespace
