// Renderer bodies: the device geometry of a body's parts, made when an instance
// enters the renderer, shared by every instance of the body through a reference
// count, kept for KEEPD3D bodies when the last instance goes and freed
// otherwise; and the textures a body's materials use, flagged and preloaded.
#pragma once

#include <cstdint>

struct Body3D;
struct BodyLevel;
struct BodyPart;
struct Inst3D;
struct D3DPartMesh;
struct D3DPartMaterial;

// One per level (sub-body) that has geometry.
struct D3DBody {
    int16_t subBodyIndex;
    uint16_t partCount;
    int32_t refCount;  // one per added instance; 0 while a KEEPD3D body has none
};

// S_3DCreatePart flag: build tangent frames.
constexpr uint32_t S3D_CREATE_TANGENTS = 0x2;
// Set on a triangle that the walk of its group gave mesh vertices.
constexpr uint16_t S3D_TRIANGLE_MAPPED = 0x100;
// Debug mask of the creation messages.
constexpr uint32_t S3D_BODY_LOG = 0x2000;

// The body cache of the scene engine (B3D_GetBody): set by the scene
// engine; while null, S_3DAddInst takes only bodies already in the body table.
extern Body3D* (*g_S3DGetBodyHook)(int32_t bodyId);

int S_3DAddInst(Inst3D* instance);
int S_3DAddBody(Body3D* body);
void S_3DLoadBodyTextures(Body3D* body);
int S_3DCreatePart(BodyLevel* subBody, BodyPart* part, D3DPartMesh* partMesh, uint32_t flags);
int S_3DDeleteInst(Inst3D* instance);
void S_3DFreeBodyParts(BodyLevel* subBody);

// The diffuse texture id of a body's material m (own or global materials).
int32_t S_3DMaterialDiffuseId(const Body3D* body, int32_t material);
