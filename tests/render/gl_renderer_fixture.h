// The renderer on a real 64 x 64 GL device: device record, state manager,
// matrices, bloom targets, a game folder for effect files, the scene engine's
// named entries; the picture is drawn into a render target of its own that
// stands for the back buffer. The device is made for the state manager kind of
// the parameter (INSTANTIATE_FOR_BOTH_STATE_MANAGERS).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/spy_effect.h"
#include "render/statemanager.h"
#include "render/targets.h"
#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/state_managers.h"
#include "support/window_support.h"
#include "system/adapters.h"
#include "system/video.h"

class GLRendererTest : public ::testing::TestWithParam<StateManagerKind> {
protected:
    static constexpr int kSize = 64;

    static std::string ShippedEffect(const char* name) {
        const char* root = std::getenv("TREVAN_SOURCE_DIR");
        std::ifstream in(std::string(root ? root : ".") + "/data/effects/" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void SetUp() override {
        D3D9_ResetSeam();
        savedRenderer_ = g_RendererState;
        savedScene_ = g_B3DState;
        session = std::make_unique<GeneralSession>();
        ASSERT_NE(session->State(), nullptr);
        session->State()->width = kSize;
        session->State()->height = kSize;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = OpenScreenWindow(DefWindowProcA, kSize, kSize);
        ASSERT_NE(window, nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kSize;
        pp.BackBufferHeight = kSize;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.EnableAutoDepthStencil = 1;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, DeviceBehaviour(GetParam()), &pp, &device), D3D_OK);
        record_.device = device;
        record_.presentParams = pp;
        record_.sm2Detected = 1;
        record_.vertexShaders = 1;  // as start-up finds them on a hardware device
        record_.vertexProcessingMode = 1;
        std::snprintf(record_.shaderFolder, sizeof record_.shaderFolder, "3_0");
        renderer_.device = &record_;
        renderer_.stateManager = S_3DCreateStateManager(device);
        g_RendererState = &renderer_;
        ASSERT_EQ(S_3DAllocMatrices(), 1);
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        ASSERT_EQ(
            device->CreateRenderTarget(kSize, kSize, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &target, nullptr),
            D3D_OK);
        ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
        ASSERT_EQ(device->GetDepthStencilSurface(&depth), D3D_OK);
    }
    void TearDown() override {
        for (const char* name : effectNames)
            if (B3DNamedEntry* e = B3D_FindEffectByName(name)) {
                S_3DFreeShaderDefinition(e);
                B3D_FreeNamedEntry(e);
            }
        S_3DClose();
        S_3DReleaseVertexDeclarations();
        S_3DFreeMatrices();
        if (depth) depth->Release();
        if (target) target->Release();
        if (renderer_.stateManager) renderer_.stateManager->Release();
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        if (window) DestroyWindow(window);
        if (d3d) d3d->Release();
        B3D_FreeStore();
        g_B3DState = savedScene_;
        g_RendererState = savedRenderer_;
        session.reset();
        D3D9_ResetSeam();
    }

    // The named effect loaded from `text` in the game folder, behind a spy in
    // the fixture's room: each call first frees the one before through the
    // entry's free path, so that every effect it makes has the same address.
    SpyEffect* LoadAt(const char* name, const std::string& text) {
        if (B3DNamedEntry* e = B3D_FindEffectByName(name)) {
            S_3DFreeShaderDefinition(e);
            B3D_FreeNamedEntry(e);
        }
        game.Write(std::string("shader_src/3_0/") + name + ".fx", text);
        SysShaderDefinition* d = S_3DGetShader(name, 0);
        if (!d) return nullptr;
        d->effect[0] = SpyEffect::PlaceAt(effectRoom.bytes, d->effect[0]);
        return static_cast<SpyEffect*>(d->effect[0]);
    }

    // The pixels of a surface (0xAARRGGBB, top row first).
    std::vector<uint32_t> Picture(IDirect3DSurface9* surface) {
        D3DSURFACE_DESC d{};
        surface->GetDesc(&d);
        IDirect3DSurface9* copy = nullptr;
        EXPECT_EQ(device->CreateOffscreenPlainSurface(d.Width, d.Height, d.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr),
                  D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(surface, copy), D3D_OK);
        D3DLOCKED_RECT lr{};
        copy->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        std::vector<uint32_t> out(d.Width * d.Height);
        for (UINT y = 0; y < d.Height; ++y)
            std::memcpy(&out[y * d.Width], static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, d.Width * 4);
        copy->UnlockRect();
        copy->Release();
        return out;
    }
    uint32_t Pixel(int x, int y) { return Picture(target)[y * kSize + x] & 0xFFFFFF; }
    IDirect3DSurface9* CurrentDepth() {
        IDirect3DSurface9* s = nullptr;
        if (SUCCEEDED(device->GetDepthStencilSurface(&s)) && s) s->Release();
        return s;
    }
    IDirect3DSurface9* CurrentTarget() {
        IDirect3DSurface9* s = nullptr;
        if (SUCCEEDED(device->GetRenderTarget(0, &s)) && s) s->Release();
        return s;
    }

    TempGameFolder game;
    std::unique_ptr<GeneralSession> session;
    IDirect3D9* d3d = nullptr;
    HWND window = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    std::vector<const char*> effectNames = {"bloom", "particles"};
    SpyEffectStorage effectRoom;  // outlives TearDown's free of the effects

private:
    D3DDeviceRecord record_{};
    RendererState renderer_{};
    RendererState* savedRenderer_ = nullptr;
    B3DState* savedScene_ = nullptr;
};
