// Particle and scene buffers: the live particles of a scene written each
// frame into one dynamic buffer in batches by material and kind, instances
// that share a small body transformed into a scene buffer, and the drawing of
// both.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct Scene3D;
struct Camera3D;
struct Inst3D;
struct BodyPart;
struct BodyGroup;
struct B3DSceneBufferGroup;
struct B3DSceneBufferItem;
struct B3DSceneBufferDraw;

constexpr int32_t S3D_PARTICLE_MAX = 10000;
constexpr int32_t S3D_PARTICLE_VERTEX_BYTES = 32;  // declaration 9
constexpr int32_t S3D_PARTICLE_BUFFER_BYTES = S3D_PARTICLE_MAX * 6 * S3D_PARTICLE_VERTEX_BYTES;
constexpr int32_t S3D_PARTICLE_BATCHES = 100;
constexpr int32_t S3D_SCENE_VERTEX_BYTES = 24;  // declaration 10

// A scene's particle buffer; batches are first particle, count, material, kind.
struct ParticleBuffer {
    IDirect3DVertexBuffer9* vertexBuffer;
    int32_t bufferBytes;
    int32_t batches[S3D_PARTICLE_BATCHES][4];
    int32_t batchCount;
    int32_t particleCount;
};

// One particle vertex as written (declaration 9).
struct S3DParticleVertex {
    float x, y, z;
    float offsetX, offsetY;  // view-space corner offset of a camera-facing particle, else 0
    float u, v;
    uint32_t colour;  // D3DCOLOR
};
static_assert(sizeof(S3DParticleVertex) == S3D_PARTICLE_VERTEX_BYTES);

// Fills the scene's particle buffer for its particle camera; 1, or 0 on failure.
int S_3DUpdateParticleSystems(Scene3D* scene, Camera3D* camera);
// Appends the triangles of one material group of an instance's part to the
// item's scene buffer, transformed by the renderer's matrices as
// S_3DSetInstMatrix left them. The group's capacity is its instance count.
// texMatrix is the instance's texture-animation entry for the part (2 x 3
// 16.16 words, m00 m01 m10 m11 m20 m21) or null. 1, or 0 on failure.
int S_3DUpdateSceneBuffer(const B3DSceneBufferGroup* owner, B3DSceneBufferItem* record, const Inst3D* instance,
                          const BodyPart* part, const BodyGroup* triangles, const int32_t* texMatrix);

// Releases a scene's particle buffer: the vertex buffer, its bytes off the
// renderer's total, the record.
void S_3DFreeBuffer(Scene3D* scene);
// Releases what an item's scene buffer holds (vertex buffer with its bytes, the
// system-memory copy); the record itself stays with the item.
void S_3DFreeMeshBuffers(B3DSceneBufferItem* item);
// The scene engine's names for the two releases.
inline void S_3DReleaseParticles(Scene3D* scene) { S_3DFreeBuffer(scene); }
inline void S_3DReleaseSceneBufferItem(B3DSceneBufferItem* item) { S_3DFreeMeshBuffers(item); }

// Draws a scene buffer; 1 when drawn or nothing to draw, 0 on failure.
int S_3DRenderSceneBuffer(const B3DSceneBufferDraw* record, Scene3D* scene, const B3DSceneBufferGroup* group,
                          Camera3D* camera);
// Draws a scene's particle batches; 1 when drawn or nothing to draw, 0 on failure.
int S_3DRenderParticleSystems(Scene3D* scene);
