// The Direct3D 9 stand-in on a real GL context (Mesa's software rasteriser
// under SDL's offscreen driver): enumeration, device life, clear and present
// read back from the window, locks, copies, reset rules and the seam.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"

namespace {

class D3D9Test : public ::testing::Test {
protected:
    void SetUp() override {
        D3D9_ResetSeam();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = SDL_CreateWindow("d3d9 test", 0, 0, 64, 48, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        device = nullptr;
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        EXPECT_EQ(D3D9_LiveDeviceCount(), 0);
        if (window) SDL_DestroyWindow(window);
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
    SDL_Window* window = nullptr;
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
