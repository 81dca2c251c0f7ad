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

// One material group of a part's renderer record: its mesh, buffers,
// declaration and counts (the effect fields come with part drawing).
struct D3DPartMaterial {
    ID3DXMesh* mesh;
    IDirect3DVertexBuffer9* vertexBuffer;
    IDirect3DIndexBuffer9* indexBuffer;
    int32_t declaration;  // the small declaration chosen, 0 = none
    uint32_t vertexCount;
    uint32_t faceCount;
    uint32_t vertexBytes;
    uint32_t indexBytes;
    uint8_t ownBuffers;  // buffers of its own instead of a mesh's
};

// The renderer's record of a part: one draw entry per material group.
struct D3DPartMesh {
    void* part;
    int32_t useCount;
    int32_t groupCount;
    D3DPartMaterial* groups;
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

// Releases the buffers of every group of the record and the group array
// (allocated with Int_AllocMem under the renderer's memory tag 6).
void S_3DFreePart(D3DPartMesh* part);
