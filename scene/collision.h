// The collision library: triangle models organised into binary trees of
// oriented bounding boxes, and the contact test between two placed models.
// Every number is single precision. One collision state serves all calls, so
// one collide runs at a time (main thread only).
#pragma once

#include <cstdint>

// Result codes of every operation.
constexpr int COLL_OK = 0;
constexpr int COLL_ERR_MEMORY = 1;     // out of memory while building
constexpr int COLL_ERR_NOT_BUILT = 3;  // a model is not built
constexpr int COLL_ERR_ORDER = 4;      // operation out of order
constexpr int COLL_ERR_EMPTY = 5;      // the model has no triangles

// Build states of a model.
constexpr uint32_t COLL_STATE_NEW = 0;
constexpr uint32_t COLL_STATE_BEGUN = 1;
constexpr uint32_t COLL_STATE_BUILT = 3;

// Coll_Collide's flag: stop at the first contact.
constexpr int COLL_FIRST_CONTACT = 2;
// Mode word bits (Coll_Detect).
constexpr uint32_t COLL_MODE_NEAREST = 0x4;      // keep the nearest contact along model 1's z axis
constexpr uint32_t COLL_MODE_DEPTH_LIMIT = 0x8;  // refuse contacts beyond the depth limit

struct CollTri {
    int32_t id;  // given by the caller
    float p1[3];
    float p2[3];
    float p3[3];
};

// A tree node. R's columns are the box axes in the parent box's frame (the
// root's in the model frame), the first the axis of largest spread; T is the
// centre in the parent's frame, d the half-sizes along the axes.
struct CollBox {
    float R[3][3];
    float T[3];
    float d[3];
    CollBox* P;  // children, null in a leaf
    CollBox* N;
    CollTri* tri;  // the triangle of a leaf

    bool IsLeaf() const { return P == nullptr; }
};

// The model handle. The boxes live in one array with room for 2n boxes for n
// triangles, the root first.
struct CollModel {
    CollBox* boxes;
    uint32_t boxCapacity;
    CollTri* tris;
    int32_t triCount;
    int32_t triCapacity;  // grows by doubling, starting at 1
    uint32_t buildState;  // COLL_STATE_*
};

// The one collision state. The counters are reset by each collide; the
// contact fields describe the last accepted contact.
struct CollState {
    int32_t boxTests;
    int32_t triTests;
    int32_t contacts;
    uint32_t mode;        // COLL_MODE_* bits, set by Coll_Detect
    int32_t maxContacts;  // used with COLL_MODE_NEAREST
    int32_t depthLimit;   // used with COLL_MODE_DEPTH_LIMIT
    float* bestDepth;     // the caller's best depth, used with COLL_MODE_NEAREST
    // Centroid of model 1's touching triangle, in model 1's frame.
    float point1[3];
    // Centroid of model 2's touching triangle in model 2's frame; with a mode
    // bit, (0, 0, depth) in model 1's frame.
    float point2[3];
    // Where the plane of model 2's triangle crosses model 1's z axis, clamped
    // to the triangle's z range (model 1's frame).
    float depth;
    // The two triangles of the last accepted contact of the last collide
    // (null when it found none).
    const CollTri* tri1;
    const CollTri* tri2;
    // Model 2 in model 1's frame: v1 = scale * R * v2 + T.
    float R[3][3];
    float T[3];
    float scale;
};
extern CollState g_CollState;

// A new, zeroed model, already begun; null when out of memory. A non-zero
// result is logged as "ERROR: Coll new box: %d\n".
CollModel* Coll_NewBox();
// Frees any boxes and triangles and begins the model afresh; COLL_ERR_ORDER
// (and nothing changed) when it is begun already.
int Coll_BeginModel(CollModel* model);
// Appends a triangle; COLL_ERR_ORDER on a built model, COLL_ERR_MEMORY when
// the triangle array cannot grow. The caller logs failures.
int Coll_AddTri(CollModel* model, const float p1[3], const float p2[3], const float p3[3], int32_t id);
// Builds the box tree; COLL_ERR_EMPTY without triangles, COLL_ERR_ORDER on a
// built model, COLL_ERR_MEMORY (model left begun, partial tree freed) when
// memory runs out. A non-zero result is logged as "ERROR: Coll EndModel: %d\n".
int Coll_EndModel(CollModel* model);
// Frees boxes, triangles and the handle; null does nothing.
void Coll_FreeModel(CollModel* model);

// Does model 2 touch model 1? Each point v of a model is placed at T + s*R*v.
// flag COLL_FIRST_CONTACT stops at the first contact; the contacts found are
// read from g_CollState afterwards. A model placed with scale 0 (or a scale
// that is not finite) never collides. COLL_ERR_NOT_BUILT unless both are built.
int Coll_Collide(const float R1[3][3], const float T1[3], float s1, CollModel* model1, const float R2[3][3],
                 const float T2[3], float s2, CollModel* model2, int flag);
// Stores the mode word, the maximum of contacts, the depth limit (as an
// integer) and the best-depth pointer, then collides with the mode bits
// COLL_MODE_NEAREST and COLL_MODE_DEPTH_LIMIT taken out of the flag. A
// non-zero result is logged as "ERROR: Coll detect %d\n".
int Coll_Detect(uint32_t mode, int32_t maxContacts, float depthLimit, float* bestDepth, const float R1[3][3],
                const float T1[3], float s1, CollModel* model1, const float R2[3][3], const float T2[3], float s2,
                CollModel* model2);

// Bytes the library holds (models, triangles, boxes), for the renderer's
// statistics line.
int64_t Coll_GetMemUsed();
