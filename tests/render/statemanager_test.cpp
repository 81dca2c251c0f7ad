// The effect state managers against the spy device: what reaches the device;
// and the caching one told by the GL device of what it destroys.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "platform/d3d9/spy.h"
#include "render/device.h"
#include "support/small_device.h"
#include "system/adapters.h"

namespace {

template <class T>
T* Fake(uintptr_t n) {
    return reinterpret_cast<T*>(n * 16);
}

struct Manager {
    explicit Manager(bool pure) : spy(new D3D9SpyDevice()) {
        if (pure) spy->creation.BehaviorFlags |= D3DCREATE_PUREDEVICE;
        m = S_3DCreateStateManager(spy);
        spy->calls.clear();
    }
    ~Manager() {
        if (m) {
            EXPECT_EQ(m->Release(), 0u);
        }
        EXPECT_EQ(spy->Release(), 0u);
    }
    D3D9SpyDevice* spy;
    CStateManagerInterface* m = nullptr;
};

struct Case {
    const char* what;
    bool pure;
    std::function<void(CStateManagerInterface*, D3D9SpyDevice*)> run;
    const char* call;  // the device calls counted
    int reached;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(StateManager, WhatReachesTheDevice) {
    const Case cases[] = {
        {"a repeated render state is dropped, a new value is not", true,
         [](auto* m, auto*) {
             m->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
             m->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
             m->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
         },
         "SetRenderState", 2},
        {"the forwarding kind forwards every repeat", false,
         [](auto* m, auto*) {
             for (int i = 0; i < 2; ++i) {
                 m->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
                 m->SetTexture(3, Fake<IDirect3DBaseTexture9>(1));
                 m->SetStreamSource(0, Fake<IDirect3DVertexBuffer9>(1), 0, 32);
                 float c[4] = {1, 2, 3, 4};
                 m->SetVertexShaderConstantF(0, c, 1);
                 m->SetVertexDeclaration(Fake<IDirect3DVertexDeclaration9>(1));
             }
         },
         "Set", 10},
        {"a texture of stage 3 is cached", true,
         [](auto* m, auto*) {
             m->SetTexture(3, Fake<IDirect3DBaseTexture9>(1));
             m->SetTexture(3, Fake<IDirect3DBaseTexture9>(1));
         },
         "SetTexture", 1},
        {"textures of stages 10 and above never are", true,
         [](auto* m, auto*) {
             m->SetTexture(12, Fake<IDirect3DBaseTexture9>(1));
             m->SetTexture(12, Fake<IDirect3DBaseTexture9>(1));
         },
         "SetTexture", 2},
        {"a first null texture matches the fresh device", true, [](auto* m, auto*) { m->SetTexture(0, nullptr); },
         "SetTexture", 0},
        {"sampler states of samplers 10 and above are not cached", true,
         [](auto* m, auto*) {
             for (int i = 0; i < 2; ++i) {
                 m->SetSamplerState(2, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
                 m->SetSamplerState(12, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
                 m->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
             }
         },
         "Set", 4},
        {"one stream is cached", true,
         [](auto* m, auto*) {
             m->SetStreamSource(0, Fake<IDirect3DVertexBuffer9>(1), 0, 32);
             m->SetStreamSource(1, Fake<IDirect3DVertexBuffer9>(2), 0, 24);
             m->SetStreamSource(0, Fake<IDirect3DVertexBuffer9>(1), 0, 32);
         },
         "SetStreamSource", 3},
        {"declaration, indices and shaders are cached", true,
         [](auto* m, auto*) {
             for (int i = 0; i < 2; ++i) {
                 m->SetVertexDeclaration(Fake<IDirect3DVertexDeclaration9>(1));
                 m->SetIndices(Fake<IDirect3DIndexBuffer9>(1));
                 m->SetVertexShader(Fake<IDirect3DVertexShader9>(1));
                 m->SetPixelShader(Fake<IDirect3DPixelShader9>(1));
             }
         },
         "Set", 4},
        {"a single bool constant is cached", true,
         [](auto* m, auto*) {
             BOOL one[1] = {1};
             m->SetVertexShaderConstantB(2, one, 1);
             m->SetVertexShaderConstantB(2, one, 1);
         },
         "SetVertexShaderConstantB", 1},
        {"two bool constants always reach the device", true,
         [](auto* m, auto*) {
             BOOL two[2] = {1, 1};
             m->SetVertexShaderConstantB(2, two, 2);
             m->SetVertexShaderConstantB(2, two, 2);
         },
         "SetVertexShaderConstantB", 2},
        {"a bool call of no registers compares nothing and reaches the device", true,
         [](auto* m, auto*) {
             m->SetVertexShaderConstantB(2, nullptr, 0);
             m->SetVertexShaderConstantB(2, nullptr, 0);
         },
         "SetVertexShaderConstantB", 2},
        {"a float constant holding NaN is always sent", true,
         [](auto* m, auto*) {
             float c[4] = {1, kNaN, 0, 0};
             m->SetPixelShaderConstantF(4, c, 1);
             m->SetPixelShaderConstantF(4, c, 1);
         },
         "SetPixelShaderConstantF", 2},
        {"+0 equals -0", true,
         [](auto* m, auto*) {
             float a[4] = {1, 0.0f, 0, 0}, b[4] = {1, -0.0f, 0, 0};
             m->SetVertexShaderConstantF(7, a, 1);
             m->SetVertexShaderConstantF(7, b, 1);
         },
         "SetVertexShaderConstantF", 1},
        {"all-zero constants on a fresh cache are dropped", true,
         [](auto* m, auto*) {
             float z[8] = {};
             m->SetVertexShaderConstantF(0, z, 2);
         },
         "SetVertexShaderConstantF", 0},
        {"a start register of 256 or more is forwarded uncached", true,
         [](auto* m, auto*) {
             float c[4] = {1, 2, 3, 4};
             m->SetPixelShaderConstantF(300, c, 1);
             m->SetPixelShaderConstantF(300, c, 1);
         },
         "SetPixelShaderConstantF", 2},
        {"a range running past register 255 is forwarded whole and uncached", true,
         [](auto* m, auto*) {
             float c[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
             m->SetVertexShaderConstantF(254, c, 4);
             m->SetVertexShaderConstantF(254, c, 4);
             m->SetVertexShaderConstantF(254, c, 2);  // the cache never took 254 and 255
         },
         "SetVertexShaderConstantF", 3},
        {"the three state maps are written before the call, even when it fails", true,
         [](auto* m, auto* spy) {
             spy->fail["SetRenderState"] = {E_FAIL};
             spy->fail["SetSamplerState"] = {E_FAIL};
             spy->fail["SetTextureStageState"] = {E_FAIL};
             for (int i = 0; i < 2; ++i) {
                 m->SetRenderState(D3DRS_ZENABLE, 0);
                 m->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
                 m->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
             }
         },
         "Set", 3},
        {"the other caches take a value only after success", true,
         [](auto* m, auto* spy) {
             spy->fail["SetTexture"] = {E_FAIL};
             spy->fail["SetStreamSource"] = {E_FAIL};
             spy->fail["SetVertexShaderConstantF"] = {E_FAIL};
             spy->fail["SetVertexShaderConstantB"] = {E_FAIL};
             spy->fail["SetIndices"] = {E_FAIL};
             float c[4] = {1, 2, 3, 4};
             BOOL b[1] = {1};
             for (int i = 0; i < 2; ++i) {
                 m->SetTexture(3, Fake<IDirect3DBaseTexture9>(1));
                 m->SetStreamSource(0, Fake<IDirect3DVertexBuffer9>(1), 0, 32);
                 m->SetVertexShaderConstantF(0, c, 1);
                 m->SetVertexShaderConstantB(0, b, 1);
                 m->SetIndices(Fake<IDirect3DIndexBuffer9>(1));
             }
         },
         "Set", 10},
        {"after a reset a render state set before reaches the device again", true,
         [](auto* m, auto* spy) {
             m->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
             m->SetTexture(0, Fake<IDirect3DBaseTexture9>(1));
             m->ResetCachedState();
             spy->calls.clear();
             m->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
             m->SetTexture(0, nullptr);  // the cache holds null again: dropped
         },
         "Set", 1},
        {"an object gone from its address is forgotten, so a new one made there reaches the device", true,
         [](auto* m, auto*) {
             const auto setAll = [m] {
                 m->SetTexture(2, Fake<IDirect3DBaseTexture9>(1));
                 m->SetVertexDeclaration(Fake<IDirect3DVertexDeclaration9>(2));
                 m->SetIndices(Fake<IDirect3DIndexBuffer9>(3));
                 m->SetVertexShader(Fake<IDirect3DVertexShader9>(4));
                 m->SetPixelShader(Fake<IDirect3DPixelShader9>(5));
                 m->SetStreamSource(0, Fake<IDirect3DVertexBuffer9>(6), 0, 32);
             };
             setAll();
             for (uintptr_t n = 1; n <= 6; ++n) D3D9_TellReleased(Fake<void>(n));  // as the device destroys them
             setAll();
             D3D9_TellReleased(Fake<void>(7));  // nothing of the manager's
             setAll();
         },
         "Set", 12},
        {"a reset unbinds the textures of stages 0-9 on the device", false,
         [](auto* m, auto*) { m->ResetCachedState(); }, "SetTexture(", 10},
        {"transforms, lights and the rest are never cached", true,
         [](auto* m, auto*) {
             D3DMATRIX mat{};
             D3DLIGHT9 light{};
             D3DMATERIAL9 material{};
             int ints[4] = {};
             for (int i = 0; i < 2; ++i) {
                 m->SetTransform(D3DTS_WORLD, &mat);
                 m->SetLight(0, &light);
                 m->LightEnable(0, 1);
                 m->SetMaterial(&material);
                 m->SetNPatchMode(0.0f);
                 m->SetFVF(D3DFVF_XYZRHW);
                 m->SetVertexShaderConstantI(0, ints, 1);
             }
         },
         "", 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Manager mgr(c.pure);
        ASSERT_NE(mgr.m, nullptr);
        c.run(mgr.m, mgr.spy);
        EXPECT_EQ(mgr.spy->Count(c.call), c.reached);
    }
}

TEST(StateManager, FailuresAreReturnedAndKept) {
    Manager mgr(true);
    auto* base = static_cast<CBaseStateManager*>(mgr.m);
    mgr.spy->fail["SetTexture"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(mgr.m->SetTexture(1, Fake<IDirect3DBaseTexture9>(3)), D3DERR_INVALIDCALL);
    EXPECT_EQ(base->LastResult(), D3DERR_INVALIDCALL);
    mgr.spy->fail["SetRenderState"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(mgr.m->SetRenderState(D3DRS_ZENABLE, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(base->LastResult(), D3DERR_INVALIDCALL);  // the state maps leave it alone
    EXPECT_EQ(mgr.m->SetTexture(1, Fake<IDirect3DBaseTexture9>(3)), D3D_OK);
    EXPECT_EQ(base->LastResult(), D3D_OK);
}

TEST(StateManager, CreationFollowsTheDevice) {
    auto* spy = new D3D9SpyDevice();
    spy->fail["GetCreationParameters"] = {E_FAIL};
    EXPECT_EQ(S_3DCreateStateManager(spy), nullptr);
    EXPECT_EQ(S_3DCreateStateManager(static_cast<IDirect3DDevice9*>(nullptr)), nullptr);
    CStateManagerInterface* plain = S_3DCreateStateManager(spy);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(dynamic_cast<CPureDeviceStateManager*>(plain), nullptr);
    EXPECT_EQ(spy->refs, 2);  // the manager holds the device
    spy->creation.BehaviorFlags |= D3DCREATE_PUREDEVICE;
    CStateManagerInterface* pure = S_3DCreateStateManager(spy);
    ASSERT_NE(pure, nullptr);
    EXPECT_NE(dynamic_cast<CPureDeviceStateManager*>(pure), nullptr);

    // QueryInterface answers the two interfaces it has and nothing else.
    void* out = nullptr;
    EXPECT_EQ(pure->QueryInterface(IID_ID3DXEffectStateManager, &out), S_OK);
    EXPECT_EQ(out, static_cast<ID3DXEffectStateManager*>(pure));
    EXPECT_EQ(pure->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(pure->Release(), 2u);
    GUID other = IID_ID3DXEffectStateManager;
    other.Data4[7] ^= 1;
    out = &other;
    EXPECT_EQ(pure->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(pure->Release(), 1u);
    EXPECT_EQ(pure->Release(), 0u);
    EXPECT_EQ(plain->Release(), 0u);
    EXPECT_EQ(spy->Release(), 0u);
}

TEST(StateManager, DefaultRenderStatesResetTheCacheFirst) {
    Manager mgr(true);
    RendererState renderer{};
    RendererState* saved = g_RendererState;
    g_RendererState = &renderer;
    renderer.stateManager = mgr.m;
    mgr.m->SetRenderState(D3DRS_ALPHAREF, 90);
    mgr.spy->calls.clear();
    S_3DSetDefaultRenderStates();
    g_RendererState = saved;
    std::vector<std::string> expected;
    for (int stage = 0; stage < 10; ++stage) expected.push_back("SetTexture(" + std::to_string(stage) + ",(nil))");
    const std::pair<DWORD, DWORD> states[] = {{D3DRS_ALPHABLENDENABLE, 0},
                                              {D3DRS_SEPARATEALPHABLENDENABLE, 0},
                                              {D3DRS_BLENDOP, D3DBLENDOP_ADD},
                                              {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
                                              {D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
                                              {D3DRS_ALPHAREF, 90},
                                              {D3DRS_LIGHTING, 0},
                                              {D3DRS_COLORVERTEX, 0},
                                              {D3DRS_COLORWRITEENABLE, 7},
                                              {D3DRS_CULLMODE, D3DCULL_CCW},
                                              {D3DRS_ALPHATESTENABLE, 0}};
    for (auto [s, v] : states)
        expected.push_back("SetRenderState(" + std::to_string(s) + "," + std::to_string(v) + ")");
    EXPECT_EQ(mgr.spy->calls, expected);
}

// The GL device tells what it destroys, by the pointers the engine holds: a
// caching manager on it forgets a buffer, declaration or texture as it goes.
class StateManagerOnGL : public SmallDeviceTest {
protected:
    static void Record(void* told, const void* object) { static_cast<std::set<const void*>*>(told)->insert(object); }
    void SetUp() override {
        behaviour |= D3DCREATE_PUREDEVICE;
        SmallDeviceTest::SetUp();
        D3D9_AddReleaseListener(Record, &told);
    }
    void TearDown() override {
        D3D9_RemoveReleaseListener(Record, &told);
        SmallDeviceTest::TearDown();
    }
    std::set<const void*> told;
};

TEST_F(StateManagerOnGL, DestroyedObjectsAreToldByTheirInterfacePointers) {
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(96, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &declaration), D3D_OK);
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    CStateManagerInterface* m = S_3DCreateStateManager(device);
    ASSERT_NE(dynamic_cast<CPureDeviceStateManager*>(m), nullptr);
    m->SetStreamSource(0, vb, 0, 12);
    m->SetIndices(ib);
    m->SetVertexDeclaration(declaration);
    m->SetTexture(1, texture);
    const std::set<const void*> objects = {vb, ib, declaration, static_cast<IDirect3DBaseTexture9*>(texture)};
    vb->Release();
    ib->Release();
    declaration->Release();
    texture->Release();
    EXPECT_EQ(told, objects);
    m->Release();
}

}  // namespace
