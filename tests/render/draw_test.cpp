// One textured triangle through the part declarations on GL: the plain form
// and its two small forms give the same picture, through either state manager.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "render/mesh.h"
#include "render/statemanager.h"
#include "support/small_device.h"

namespace {

class DeclarationDrawTest : public SmallDevicePicture {};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(DeclarationDrawTest);

TEST_P(DeclarationDrawTest, SmallFormsDrawThePlainFormsPicture) {
    // The triangle in declaration 1: clip-space positions (identity transforms),
    // coordinates across a 2 x 2 texture of four colours, normals for the
    // small forms to carry.
    struct V {
        float x, y, z, u, v, nx, ny, nz;
    };
    const V corners[3] = {
        {-0.9f, -0.9f, 0.5f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f},
        {0.0f, 0.9f, 0.5f, 0.5f, 0.0f, 0.6f, 0.0f, 0.8f},
        {0.9f, -0.9f, 0.5f, 1.0f, 1.0f, -0.6f, 0.0f, 0.8f},
    };
    ID3DXMesh* plain = nullptr;
    ASSERT_EQ(D3DXCreateMesh(1, 3, D3DXMESH_MANAGED, S3D_DeclarationElements[1], device, &plain), D3D_OK);
    void* p = nullptr;
    plain->LockVertexBuffer(0, &p);
    std::memcpy(p, corners, sizeof corners);
    plain->UnlockVertexBuffer();
    plain->LockIndexBuffer(0, &p);
    const uint16_t idx[3] = {0, 1, 2};
    std::memcpy(p, idx, sizeof idx);
    plain->UnlockIndexBuffer();

    // Each form's buffers and declaration are made and released in turn, so a
    // new one may take the address of the last one.
    CStateManagerInterface* m = S_3DCreateStateManager(device);
    ASSERT_NE(m, nullptr);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    texture->LockRect(0, &lr, nullptr, 0);
    const uint32_t texels[2][2] = {{0xFFFF0000, 0xFF00FF00}, {0xFF0000FF, 0xFFFFFF00}};
    for (int y = 0; y < 2; ++y) std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, texels[y], 8);
    texture->UnlockRect(0);
    m->SetTexture(0, texture);
    m->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    m->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    m->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    m->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    m->SetRenderState(D3DRS_ZENABLE, 0);

    std::vector<std::vector<uint32_t>> pictures;
    for (int declaration : {1, 3, 7}) {
        SCOPED_TRACE(declaration);
        ID3DXMesh* mesh = nullptr;
        ASSERT_EQ(plain->CloneMesh(D3DXMESH_MANAGED, S3D_DeclarationElements[declaration], device, &mesh), D3D_OK);
        EXPECT_EQ(mesh->GetNumBytesPerVertex(), S3D_DeclarationVertexSize[declaration]);
        IDirect3DVertexDeclaration9* decl = nullptr;
        ASSERT_EQ(device->CreateVertexDeclaration(S3D_DeclarationElements[declaration], &decl), D3D_OK);
        IDirect3DVertexBuffer9* vb = nullptr;
        IDirect3DIndexBuffer9* ib = nullptr;
        mesh->GetVertexBuffer(&vb);
        mesh->GetIndexBuffer(&ib);
        m->SetVertexDeclaration(decl);
        m->SetStreamSource(0, vb, 0, mesh->GetNumBytesPerVertex());
        m->SetIndices(ib);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(0, 0, 0, 0), 1.0f, 0);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3D_OK);
        pictures.push_back(Picture());
        // Released while bound, as the engine does: the device unbinds them.
        vb->Release();
        ib->Release();
        decl->Release();
        mesh->Release();
    }
    m->SetTexture(0, nullptr);
    texture->Release();
    plain->Release();
    m->Release();

    // The plain picture: a textured triangle over the cleared target.
    const std::vector<uint32_t>& first = pictures[0];
    int covered = 0;
    for (uint32_t px : first) covered += px != 0;
    EXPECT_GT(covered, 64 * 48 * 3 / 10);
    EXPECT_LT(covered, 64 * 48 * 6 / 10);
    EXPECT_EQ(first[2 * 64 + 2], 0u);                         // a corner outside
    EXPECT_EQ(first[40 * 64 + 8] & 0xFF000000, 0xFF000000u);  // inside, bottom left: opaque texels
    uint32_t bottomLeft = first[40 * 64 + 8], bottomRight = first[40 * 64 + 55];
    EXPECT_GT(bottomLeft & 0xFF, 0x80u);          // blue texel of the bottom row
    EXPECT_GT((bottomRight >> 8) & 0xFF, 0x80u);  // yellow texel
    EXPECT_GT((bottomRight >> 16) & 0xFF, 0x80u);
    // The small forms: the same picture within the rounding of their types.
    for (size_t k = 1; k < pictures.size(); ++k) {
        int differing = 0;
        for (size_t i = 0; i < first.size(); ++i) {
            for (int shift = 0; shift < 32; shift += 8) {
                int a = static_cast<int>((first[i] >> shift) & 0xFF),
                    b = static_cast<int>((pictures[k][i] >> shift) & 0xFF);
                if (std::abs(a - b) > 4) {
                    ++differing;
                    break;
                }
            }
        }
        EXPECT_LE(differing, covered / 50) << "declaration " << (k == 1 ? 3 : 7);
    }
}

}  // namespace
