// The loaded 3D model: a body with its materials and geometry levels, each
// level with points, optional bones and bone weights, and parts whose groups
// hold the triangles of one material each. Point positions and normals hold a
// quarter of their 16.16 value so that they fit 16 bits.
#pragma once

#include <cstdint>

#include "scene/lists.h"

struct FXEffectBlock;
struct TC_TextureInfo;
struct BodyLevel;
struct CollModel;

// Body flags.
constexpr uint8_t BODY_BUMP_EFFECT = 0x04;  // an effect material with flag 0x2000
constexpr uint8_t BODY_MATERIAL6 = 0x10;    // materials of version 6
constexpr uint8_t BODY_KEEPD3D = 0x20;      // the renderer keeps its geometry without instances
constexpr uint8_t BODY_DUMMY = 0x40;

// Material flags.
constexpr uint32_t BMAT_FLAG_02 = 0x02;
constexpr uint32_t BMAT_FLAG_08 = 0x08;
constexpr uint32_t BMAT_FLAG_10 = 0x10;
constexpr uint32_t BMAT_ALPHA_TEST_BLEND = 0x1;
constexpr uint32_t BMAT_ALPHA_BLEND = 0x2;
constexpr uint32_t BMAT_BUMP = 0x2000;
constexpr uint32_t BMAT_TEXTURES56 = 0x8000;
constexpr uint32_t BMAT_EFFECT = 0x2000000;
constexpr uint32_t BMAT_TEXANIM = 0x8000000;

// Level flags.
constexpr uint32_t BLEVEL_UV2 = 0x20;

// Part flags.
constexpr uint32_t BPART_LOADED = 0x20;
constexpr uint32_t BPART_HAS_GROUPS = 0x40000;
constexpr uint32_t BPART_PRECALC = 0x10000000;

// Largest counts the readers accept.
constexpr int32_t B3D_MAX_MATERIALS = 100;  // material indices of a part; a text body holds 99 materials
constexpr int32_t B3D_MAX_PARTS = 200;
constexpr int32_t B3D_MAX_POLYS = 200000;
constexpr int32_t B3D_MAX_TRIANGLES = 200000;  // per material of a part
constexpr int32_t B3D_MAX_TEXT_WEIGHTS = 10;   // pairs per point of a text body

struct BodyMaterial {
    uint16_t id;
    int16_t baseTexture;  // below 0: a texture animation
    uint16_t colour[9];   // colour and lighting words
    uint16_t derivedIndex;
    uint16_t words[2];
    int16_t texture5;
    uint16_t value5;
    int16_t texture6;
    uint16_t value6;
    uint16_t words2[2];
    uint32_t flags;
    uint16_t value1;
    int16_t texture2;
    uint16_t value2;
    int16_t texture3;
    uint16_t value3;
    int16_t texture4;
    uint16_t value4;
    FXEffectBlock* effect;  // owned; null without effect parameters
    // Texture animation, derived from the effect parameters.
    int32_t startU, startV, endU, endV;  // 16.16
    int32_t duration;                    // ms
    int32_t originU, originV;            // 16.16
    int32_t rotation;                    // the parameter times 1000
};

struct BodyPoint {
    int16_t x, y, z;
    int16_t nx, ny, nz;
    int32_t u, v;  // 16.16
    uint32_t word;
};

struct BodyWeight {
    int32_t bone;
    int32_t weight;  // 16.16
};

struct BodyTriangle {
    int32_t v[3];  // point indices of the level
    uint16_t word;
};

struct BodyPrecalcVertex {
    int32_t value;
    int16_t x, y, z;
    int16_t nx, ny, nz;
};

struct BodyGroup {
    int32_t triCount;
    BodyTriangle* tris;
    int32_t material;  // the group word: the material index
    int32_t precalcCount;
    BodyPrecalcVertex* precalc;
};

struct BodyPart {
    int16_t groupCount;
    BodyGroup* groups;
    int32_t groupCapacity;
    int32_t centre[4];  // 16.16
    int32_t radius;
    int32_t boxCentre[3];  // "BCenter"
    int32_t boxSize[3];    // "BSize", half extents
    uint32_t flags;
    BodyLevel* level;
    void* rendererPart;  // the renderer's D3DPartMesh while the part has geometry
};

struct Body3D;

struct BodyLevel {
    int32_t pointCount;
    int16_t partCount;
    BodyPoint* points;
    int32_t* uv2;  // two 16.16 values per point, null when absent
    BodyPart** parts;
    int32_t visDistance;
    uint32_t flags;
    int32_t switchDistance;
    int32_t extent[4];
    int32_t boneCount;
    char** boneNames;
    int16_t* weightCounts;  // per point
    int32_t maxWeights;
    BodyWeight* weights;  // maxWeights pairs per point
    Body3D* body;
    void* rendererBody;     // the renderer's D3DBody while the level has geometry
    int32_t matrixEntries;  // matrices in each part's matrix buffer
};

struct Body3D {
    B3DListNode link;
    int32_t id;
    BodyLevel** levels;
    int16_t levelCount;
    // Sound values.
    int16_t soundValue;
    uint32_t soundFlags;
    int32_t soundInts[2];
    int32_t soundFixed[3];
    int32_t soundInts2[2];
    int16_t soundShorts[2];
    char* name;  // owned
    uint8_t flags;
    int32_t materialCount;
    BodyMaterial* materials;
    int32_t lastUse;  // game ms
    void* rendererBody;
    CollModel* collModel;  // owned; null until the first instance needs one
    int32_t collLevel;     // the detail level the collision model is built from
};

// The "Materials" definition of a number, null when there is none.
const TC_TextureInfo* B3D_MaterialDefinition(int32_t number);

// Releases a body and everything it owns: out of the body table and list.
void B3D_FreeBody(Body3D* body);
// Links a loaded body at the end of the body list and enters it in the body
// table under its id + 1.
void B3D_LinkBody(Body3D* body);
// A new zeroed level of a body (null on failure) and the per-body level array.
BodyLevel* B3D_AllocBodyLevel(Body3D* body);
BodyPart* B3D_AllocBodyPart(BodyLevel* level);
// Moves a pool-B heap block into a larger (or smaller) one, the grown part
// zeroed; null on failure (the old block is kept).
void* B3D_GrowMemB(void* block, int32_t oldSize, int32_t newSize);
// Room for one more group in a part; null on failure.
BodyGroup* B3D_PartAddGroup(BodyPart* part, int32_t material);
