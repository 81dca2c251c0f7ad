// The renderer on the spy device, without GL, for code that adds bodies to
// the renderer and takes them out again: a renderer record over a new spy
// device with the vertex declarations made. It is the renderer while it
// lives; the one before comes back after.
#pragma once

#include "platform/d3d9/spy.h"
#include "render/mesh.h"
#include "system/adapters.h"
#include "system/video.h"

class SpyRenderer {
public:
    SpyRenderer() : spy(new D3D9SpyDevice()), saved_(g_RendererState) {
        record.device = spy;
        renderer.device = &record;
        g_RendererState = &renderer;
        made = S_3DCreateVertexDeclarations();
        declarations = spy->liveObjects;
    }
    ~SpyRenderer() {
        g_RendererState = &renderer;
        S_3DReleaseVertexDeclarations();
        spy->Release();
        g_RendererState = saved_;
    }
    SpyRenderer(const SpyRenderer&) = delete;
    SpyRenderer& operator=(const SpyRenderer&) = delete;

    // Device objects made since the declarations, and buffer bytes: 0 once
    // every geometry made through it is gone.
    int LiveObjects() const { return spy->liveObjects - declarations; }

    D3D9SpyDevice* spy;
    D3DDeviceRecord record{};
    RendererState renderer{};
    bool made = false;  // the declarations were made
    int declarations = 0;

private:
    RendererState* saved_;
};
