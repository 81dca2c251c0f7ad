// Part meshes and vertex declarations: the ten declarations of the renderer,
// the build of one D3DX mesh per polygon part (fill, tangent repair, clean and
// vertex-cache order, the smallest declaration the device offers) and the
// release of buffers with the renderer's byte total.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

// Until the scene engine's part records come, the least the mesh build reads
// of an engine part, as plain input records.
struct S3DPartVertex {   // 24 bytes
    int16_t x, y, z;     // 1/16384
    int16_t nx, ny, nz;  // 1/16384
    int32_t u, v;        // 16.16
};
struct S3DPartTriangle {  // 16 bytes
    uint32_t v[3];
    uint32_t fourth;
};
struct S3DPartTangent {  // 16 bytes
    uint32_t first;
    int16_t tangent[3];   // 1/16384
    int16_t binormal[3];  // 1/16384
};
struct S3DPartSource {
    uint32_t flags;  // 0x2 tangent frame; the build sets 0x400 and 0x800
    uint32_t vertexCount;
    const S3DPartVertex* vertices;
    uint32_t triangleCount;  // the part's polygon count
    const S3DPartTriangle* triangles;
    const S3DPartTangent* tangents;  // null without a tangent array
};

constexpr uint32_t PART_TANGENT_FRAME = 0x2;
constexpr uint32_t PART_WRAPS = 0x400;  // a texture coordinate outside 0..1
constexpr uint32_t PART_TANGENT_REPAIR = 0x800;
constexpr uint32_t MATERIAL_TANGENT_A = 0x10000000;  // zero tangents are repaired
constexpr uint32_t MATERIAL_TANGENT_B = 0x20000000;

// Effect parameter handles a draw entry caches, in this order.
enum S3DPartHandle : int {
    PH_mWorld,
    PH_mWorldIT,
    PH_mWorldViewProjection,
    PH_mViewInverse,
    PH_LightDir_Dir0,
    PH_LightDir_Color0,
    PH_LightAmbientIntensity,
    PH_DiffuseTexture,
    PH_BumpTexture,
    PH_SpecularTexture,
    PH_LightMapTexture,
    PH_CubeMapTexture,
    PH_NormalizeTex0,
    PH_NormalizeTex1,
    PH_POW_Tex,
    PH_Derive_ZTex,
    PH_varsk_LightingTex,
    PH_thuun_LightingTex,
    PH_drasz_LightingTex,
    PH_ossyl_LightingTex,
    PH_zevra_LightingTex,
    PH_meluq_LightingTex,
    PH_quorin_LightingTex,
    PH_solen_LightingTex,
    PH_asteroid_LightingTex,
    PH_Race_Lighting,
    PH_nNumLightPoint,
    PH_TexMatrix,
    PH_FogClip,
    PH_ZEnable,
    PH_ZWriteEnable,
    PH_DetailTexture,
    PH_DetailMapBlendWeight,
    PH_EnableFog,
    PH_Brightness,
    PH_Contrast,
    PH_Saturation,
    PH_Hue,
    PH_AlphaBlendEnable,
    PH_ALPHATESTENABLE,
    PH_SrcBlend,
    PH_DestBlend,
    PH_SrcBlendAlpha,
    PH_DestBlendAlpha,
    PH_AlphaValue,
    PH_ColorWriteEnable,
    PH_EnableGlow,
    PH_SeparateAlphaBlend,
    PH_COUNT
};
// Their names, by the enumeration above.
extern const char* const S3D_PartHandleNames[PH_COUNT];
constexpr int S3D_POINT_LIGHTS = 10;

// One material group of a part's renderer record: its mesh, buffers,
// declaration and counts, and what part drawing keeps between draws.
struct D3DPartMaterial {
    ID3DXMesh* mesh;
    IDirect3DVertexBuffer9* vertexBuffer;
    IDirect3DIndexBuffer9* indexBuffer;
    int32_t declaration;  // the declaration in use (1 or 5 as built, a small one after conversion), 0 = none
    uint32_t vertexCount;
    uint32_t faceCount;
    uint32_t vertexBytes;
    uint32_t indexBytes;
    uint8_t ownBuffers;  // buffers of its own instead of a mesh's
    // --- the part's group
    int32_t material;       // negative: an animated material
    int32_t triangleCount;  // of the group
    int32_t textureRef;     // the texture this entry holds a reference on, 0 for none
    // --- part drawing: parameter blocks with their effects, cached handles
    D3DXHANDLE block;
    ID3DXEffect* blockEffect;
    D3DXHANDLE depthBlock;
    ID3DXEffect* depthEffect;
    D3DXHANDLE handles[PH_COUNT];
    D3DXHANDLE lightPoint[S3D_POINT_LIGHTS][3];  // "position", "color", "atten"
    D3DXHANDLE depthHandles[2];                  // g_mWorldViewProjection, t_DiffuseTexture
    int32_t blockValid;
    int32_t blended;
};

// The renderer's record of a part: one draw entry per material group, and a
// matrix buffer of one 4x4 float matrix per entry of its level's count.
struct D3DPartMesh {
    void* part;
    int32_t useCount;
    int32_t groupCount;
    D3DPartMaterial* groups;
    float* matrices;
    int32_t matrixCount;
};

// The renderer's mesh globals.
struct S3DMeshState {
    IDirect3DVertexDeclaration9* declarations[11];  // 1..10
    IDirect3DVertexDeclaration9* quadDeclaration;
    uint8_t smallFormats;        // a small declaration pair exists
    uint32_t tangentVertexSize;  // bytes of a vertex with tangent frame as drawn
    uint32_t triangleDebugMask;  // the mask of the per-triangle log lines
    const char* bodyName;        // the body whose parts are being built
};
extern S3DMeshState g_S3DMesh;

// Elements and vertex sizes of declarations 1-10 (index 0 unused) and of the quad.
extern const D3DVERTEXELEMENT9* const S3D_DeclarationElements[11];
extern const uint32_t S3D_DeclarationVertexSize[11];
extern const D3DVERTEXELEMENT9 S3D_QuadDeclaration[3];

bool S_3DCreateVertexDeclarations();
void S_3DReleaseVertexDeclarations();

int S_3D_FillMesh_VB(S3DPartSource* part, const int32_t* remap, uint32_t materialFlags, ID3DXMesh* mesh);
int S_3D_FillMesh_IB(const S3DPartSource* part, const int32_t* remap, ID3DXMesh* mesh);
int S_3D_FixTangentFrame(const S3DPartSource* part, const S3DPartTriangle* triangles, const int32_t* remap,
                         ID3DXMesh* mesh);
int S_3DConvertAndOptimizeMesh(D3DPartMaterial* partMesh);
int S_3D_UpdatePart3DMeshInfo(D3DPartMaterial* partMesh, ID3DXMesh* newMesh);
int S_3D_ConvertToSmallMesh(D3DPartMaterial* partMesh, uint32_t partFlags);

// Releases the texture references and buffers of every group of the record,
// deletes its parameter blocks and frees the group array (allocated with
// Int_AllocMem under the renderer's memory tag 6).
void S_3DFreePart(D3DPartMesh* part);

// A group's parameter blocks and handles belong to an effect and are kept
// from draw to draw under its address. Part drawing notes each record that
// keeps any (S_3DFreePart takes the note back); an effect's one free path
// calls S_3DForgetEffect before the effect goes, which deletes every noted
// group's blocks on it and clears their effect and handles, so that an effect
// made later at the same address is never taken for the freed one.
void S_3DNotePartBlocks(D3DPartMesh* part);
void S_3DForgetEffect(ID3DXEffect* effect);
// Deletes a group's normal (depth-only) parameter block on its effect and
// clears the block, its effect and the handles taken with it.
void S_3DDropPartBlock(D3DPartMaterial& group);
void S_3DDropPartDepthBlock(D3DPartMaterial& group);
