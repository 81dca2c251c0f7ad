// Bodies built from polygons: a text body's polygons become triangles over
// shared working vertices with smoothed normals, sorted into one triangle
// array per material of the part; and the derived geometry of parts and
// levels that both body readers compute.
#pragma once

#include <cstdint>

#include "scene/bodyrecord.h"

// One polygon as the body reader hands it over.
struct B3DPoly {
    int32_t n;            // 3 or 4 corners
    int32_t v[4];         // point indices; replaced by working vertex indices
    int32_t tex[2][8];    // per corner k: words 2k and 2k + 1 of each set
    int32_t material;     // material id
    uint16_t triWord;     // copied into every triangle
    int32_t smoothGroup;  // 0: flat
};

struct B3DWorkVertex {
    int32_t pos[4];  // 16.16
    int32_t tex[4];  // u of set 1, u of set 2, v of set 1, v of set 2
    int32_t normal[4];
    int32_t smoothGroup;
    int32_t spare[3];
};

struct B3DWeightRecord {
    int32_t count;
    BodyWeight pairs[B3D_MAX_TEXT_WEIGHTS];
};

// The working arrays of the body being read.
struct B3DPolyWork {
    const int32_t* points;  // source points: four 16.16 words each
    int32_t pointCount;
    const B3DWeightRecord* pointWeights;  // null without bone weights
    B3DWorkVertex* vertices;
    B3DWeightRecord* weights;  // parallel to vertices when there are weights
    int32_t count;
    int32_t capacity;
    BodyTriangle* tris[B3D_MAX_MATERIALS];  // per material index
    int32_t triCount[B3D_MAX_MATERIALS];
};
extern B3DPolyWork g_B3DPolyWork;

// Frees the working arrays and clears the counts.
void B3D_PolyWorkFree();

// Adds one polygon: 1, or 0 when a triangle array cannot be allocated, or -1
// when the material's triangle array has no room for the polygon's triangles
// (the polygon is then dropped). Flags 2 masks the first and third texture
// words of every corner to their low 16 bits. The part's groups are its
// material table: a new material id appends a group.
int32_t B3D_AddPolyToBody(B3DPoly* poly, uint32_t flags, BodyPart* part);

void B3D_PartCenter(BodyPart* part);
void B3D_PartBoundingBox(BodyLevel* level, BodyPart* part);
int32_t B3D_PartRadius(BodyPart* part);
int32_t* B3D_LevelExtent(BodyLevel* level, int32_t* out);
void B3D_PointNormalFromTriangle(BodyLevel* level, int32_t a, int32_t b, int32_t c);
void B3D_VecNormalizeScaled(int32_t* x, int32_t* y, int32_t* z);
// The corner angle (16-bit angle units) between two 16.16 edges; zeroAngle
// when the product of their lengths is 0.
int32_t B3D_CornerAngle(const int32_t* e1, const int32_t* e2);
