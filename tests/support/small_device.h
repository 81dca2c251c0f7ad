// A 64 x 48 windowed device drawing into a render target of its own, read back
// pixel by pixel: the ground of the renderer's picture tests. SmallDevicePicture
// makes the device for the state manager kind of its parameter.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/seam.h"
#include "support/state_managers.h"
#include "support/window_support.h"

class SmallDeviceTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 64, kHeight = 48;

    void SetUp() override {
        D3D9_ResetSeam();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = OpenScreenWindow(DefWindowProcA, kWidth, kHeight);
        ASSERT_NE(window, nullptr);
        MakeDevice();
    }
    // The device on the window and its render target, set as the target.
    void MakeDevice() {
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kWidth;
        pp.BackBufferHeight = kHeight;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, behaviour, &pp, &device), D3D_OK);
        ASSERT_EQ(
            device->CreateRenderTarget(kWidth, kHeight, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &target, nullptr),
            D3D_OK);
        device->SetRenderTarget(0, target);
    }
    void TearDown() override {
        if (target) target->Release();
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        if (window) DestroyWindow(window);
        if (d3d) d3d->Release();
    }

    // The target's pixels, row by row from the top.
    std::vector<uint32_t> Picture() {
        IDirect3DSurface9* copy = nullptr;
        EXPECT_EQ(
            device->CreateOffscreenPlainSurface(kWidth, kHeight, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr),
            D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(target, copy), D3D_OK);
        D3DLOCKED_RECT lr{};
        copy->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        std::vector<uint32_t> out(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(&out[y * kWidth], static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, kWidth * 4);
        copy->UnlockRect();
        copy->Release();
        return out;
    }
    // One pixel's colour, without alpha.
    uint32_t Pixel(int x, int y) { return Picture()[y * kWidth + x] & 0xFFFFFF; }

    DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    IDirect3D9* d3d = nullptr;
    HWND window = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* target = nullptr;
};

class SmallDevicePicture : public SmallDeviceTest, public ::testing::WithParamInterface<StateManagerKind> {
protected:
    void SetUp() override {
        behaviour = DeviceBehaviour(GetParam());
        SmallDeviceTest::SetUp();
    }
};
