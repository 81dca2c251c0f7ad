// Our D3DX mesh and math subset: meshes over device buffers (cleaned and
// optimised with meshoptimizer) and the vector and matrix helpers the
// renderer uses. Included by d3dx9.h.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

// ---------------------------------------------------------------- math
struct D3DXVECTOR2 {
    float x, y;
};
struct D3DXVECTOR3 {
    float x, y, z;
};
struct D3DXVECTOR4 {
    float x, y, z, w;
};
using D3DXMATRIX = D3DMATRIX;

// Normalises; a zero vector stays zero (never NaN). Returns out.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
float D3DXVec3Length(const D3DXVECTOR3* v);
// (x, y, z, 1) times the matrix, divided by w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) times the matrix.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
// Null (out untouched) when the matrix cannot be inverted; determinant optional.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
// 16-bit floats, rounded to nearest even.
uint16_t* D3DXFloat32To16Array(uint16_t* out, const float* in, UINT count);
float* D3DXFloat16To32Array(float* out, const uint16_t* in, UINT count);

// ---------------------------------------------------------------- buffers
class ID3DXBuffer : public IUnknown {
public:
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer);

// ---------------------------------------------------------------- meshes
constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_DONOTCLIP = 0x002;
constexpr DWORD D3DXMESH_POINTS = 0x004;
constexpr DWORD D3DXMESH_RTPATCHES = 0x008;
constexpr DWORD D3DXMESH_NPATCHES = 0x4000;
constexpr DWORD D3DXMESH_VB_SYSTEMMEM = 0x010;
constexpr DWORD D3DXMESH_VB_MANAGED = 0x020;
constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
constexpr DWORD D3DXMESH_VB_DYNAMIC = 0x080;
constexpr DWORD D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000;
constexpr DWORD D3DXMESH_IB_SYSTEMMEM = 0x100;
constexpr DWORD D3DXMESH_IB_MANAGED = 0x200;
constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
constexpr DWORD D3DXMESH_IB_DYNAMIC = 0x800;
constexpr DWORD D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000;
constexpr DWORD D3DXMESH_USEHWONLY = 0x2000;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;
constexpr DWORD D3DXMESH_WRITEONLY = 0x440;
constexpr DWORD D3DXMESH_DYNAMIC = 0x880;
constexpr DWORD D3DXMESH_SOFTWAREPROCESSING = 0x18000;

constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;
constexpr DWORD D3DXMESHOPT_STRIPREORDER = 0x08000000;
constexpr DWORD D3DXMESHOPT_IGNOREVERTS = 0x10000000;
constexpr DWORD D3DXMESHOPT_DONOTSPLIT = 0x20000000;

using D3DXCLEANTYPE = DWORD;
constexpr D3DXCLEANTYPE D3DXCLEAN_BACKFACING = 0x1;
constexpr D3DXCLEANTYPE D3DXCLEAN_BOWTIES = 0x2;
constexpr D3DXCLEANTYPE D3DXCLEAN_SKINNING = D3DXCLEAN_BACKFACING;
constexpr D3DXCLEANTYPE D3DXCLEAN_OPTIMIZATION = D3DXCLEAN_BACKFACING;
constexpr D3DXCLEANTYPE D3DXCLEAN_SIMPLIFICATION = D3DXCLEAN_BACKFACING | D3DXCLEAN_BOWTIES;

constexpr UINT MAX_FVF_DECL_SIZE = MAXD3DDECLLENGTH + 1;

// Bytes of one vertex of stream 0 of a declaration.
UINT D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* declaration, DWORD stream);

class ID3DXMesh : public IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    virtual DWORD GetOptions() = 0;
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE]) = 0;
    virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) = 0;
    virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer) = 0;
    virtual HRESULT LockVertexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    // One attribute word per face (the material group).
    virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;
    // Three words per face: the face across each edge, 0xFFFFFFFF for none.
    // Vertices whose positions lie within epsilon of each other count as one.
    virtual HRESULT GenerateAdjacency(float epsilon, DWORD* adjacency) = 0;
    // Null point representatives: every vertex stands for itself.
    virtual HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) = 0;
    virtual HRESULT CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                              ID3DXMesh** clone) = 0;
    // Reorders faces (and with it the vertices) for the vertex cache; the
    // remaps give the old face and vertex of each new one.
    virtual HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                    ID3DXBuffer** vertexRemap) = 0;
};

HRESULT D3DXCreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, const D3DVERTEXELEMENT9* declaration,
                       IDirect3DDevice9* device, ID3DXMesh** mesh);
// Splits what would trouble later processing: bowtie vertices (one vertex
// shared by fans of faces that touch only there) and vertices shared by faces
// back to back. The adjacency in is required; the adjacency out is optional.
HRESULT D3DXCleanMesh(D3DXCLEANTYPE cleanType, ID3DXMesh* meshIn, const DWORD* adjacencyIn, ID3DXMesh** meshOut,
                      DWORD* adjacencyOut, ID3DXBuffer** errorsAndWarnings);
