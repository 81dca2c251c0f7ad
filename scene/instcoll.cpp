#include "scene/instcoll.h"

#include <algorithm>
#include <cstdlib>

#include "base/fixmath.h"
#include "base/log.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/collision.h"
#include "scene/geometry.h"
#include "scene/ids.h"
#include "scene/lists.h"
#include "scene/smallops.h"
#include "scene/state.h"

namespace {

// The debug mask of the per-test trace line.
constexpr uint32_t kTraceMask = 0x2000;

// Body axes (x, y, z) are the model's (y, x, z): index i of one is index
// kSwap[i] of the other, both ways.
constexpr int kSwap[3] = {1, 0, 2};

// An instance's placement as the library takes it: v -> T + s * R * v.
struct Placement {
    float R[3][3];
    float T[3];
    float s;
};

void Place(const Inst3D* inst, Placement& p) {
    // The engine's rows are the axes (world = x * row 0 + y * row 1 + z * row
    // 2), so the library's column-vector matrix is the transpose, in the
    // exchanged axes on both sides.
    const int32_t* m = inst->worldMatrix.m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) p.R[i][j] = float(m[kSwap[j] * 4 + kSwap[i]]) / 65536.0f;
    const int32_t w[3] = {inst->worldPos.x, inst->worldPos.y, inst->worldPos.z};
    for (int i = 0; i < 3; ++i) p.T[i] = float(w[kSwap[i]]);
    p.s = float(inst->scale.x);
}

void Centroid(float out[3], const CollTri& t) {
    for (int i = 0; i < 3; ++i) out[i] = (t.p1[i] + t.p2[i] + t.p3[i]) / 3.0f;
}

// A model point scaled into the instance's own frame, in the body's axes.
void SetContact(Inst3D* inst, const float c[3]) {
    const double s = inst->scale.x;
    for (int i = 0; i < 3; ++i) inst->contact[i] = B3D_FloatToInt(s * double(c[kSwap[i]]));
}

void ClearContact(Inst3D* inst) {
    inst->contact[0] = inst->contact[1] = inst->contact[2] = 0;
    inst->hitInst = nullptr;
}

int32_t Clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The child's contact carried into its parent's frame: the child's place
// (scaled by the parent's scale when it follows it) plus the child's turn.
void ContactFromChild(Inst3D* parent, const Inst3D* child) {
    const QelVector c{child->contact[0], child->contact[1], child->contact[2], 0};
    QelVector turned;
    Qel_MatMulVec(&child->matrix, &c, &turned);
    int32_t pos[3] = {child->pos.x, child->pos.y, child->pos.z};
    if (child->flags & INST_SCALED_CHILD)
        for (int32_t& p : pos) p = B3D_FixMul(p, parent->scale.x);
    parent->contact[0] = Clamp32(int64_t(pos[0]) + turned.x);
    parent->contact[1] = Clamp32(int64_t(pos[1]) + turned.y);
    parent->contact[2] = Clamp32(int64_t(pos[2]) + turned.z);
}

// The largest absolute coordinate difference of two world positions.
int64_t Chebyshev(const Inst3D* a, const Inst3D* b) {
    const int64_t d[3] = {int64_t(a->worldPos.x) - b->worldPos.x, int64_t(a->worldPos.y) - b->worldPos.y,
                          int64_t(a->worldPos.z) - b->worldPos.z};
    return std::max({std::llabs(d[0]), std::llabs(d[1]), std::llabs(d[2])});
}

// An instance whose model may be collided: model bit set, collision on.
bool Collidable(const Inst3D* inst) {
    return (inst->flags & INST_COLLISION_MODEL) && !(inst->flags & INST_COLLISION_OFF);
}

// A built model of these triangles (model axes), null when the library
// refuses it (it logs why).
CollModel* BuildModel(const float (*tris)[3][3], int32_t count) {
    CollModel* model = Coll_NewBox();
    if (!model) return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const int r = Coll_AddTri(model, tris[i][0], tris[i][1], tris[i][2], i);
        if (r != COLL_OK) {
            Qel_DPrintf(0, "ERROR: Coll add tri: %d\n", r);
            Coll_FreeModel(model);
            return nullptr;
        }
    }
    if (Coll_EndModel(model) != COLL_OK) {
        Coll_FreeModel(model);
        return nullptr;
    }
    return model;
}

bool PartLeftOut(const BodyPart* part) { return (part->flags & BPART_NO_COLLISION) == BPART_NO_COLLISION; }

bool GroupLeftOut(const Body3D* body, const BodyGroup& group) {
    const int32_t m = group.material;
    return body->materials && m >= 0 && m < body->materialCount && (body->materials[m].flags & BMAT_NO_COLLISION);
}

bool AnyGroupCollides(const Body3D* body, const BodyLevel* level) {
    for (int32_t p = 0; p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        if (!part || PartLeftOut(part)) continue;
        for (int32_t g = 0; g < part->groupCount; ++g)
            if (!GroupLeftOut(body, part->groups[g])) return true;
    }
    return false;
}

// The model of one detail level: every triangle of the parts and groups that
// collide (all of them with `everything`). Null when nothing could be built.
CollModel* BuildFromLevel(const Body3D* body, const BodyLevel* level, bool everything) {
    CollModel* model = Coll_NewBox();
    if (!model) return nullptr;
    int32_t id = 0;
    for (int32_t p = 0; p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        if (!part || (!everything && PartLeftOut(part))) continue;
        for (int32_t g = 0; g < part->groupCount; ++g) {
            const BodyGroup& group = part->groups[g];
            if (!everything && GroupLeftOut(body, group)) {
                Qel_DPrintf(0, "Ignoring body %d part %d material %d for collision\n", body->id, p, g);
                continue;
            }
            for (int32_t t = 0; t < group.triCount; ++t) {
                float v[3][3];
                bool inside = true;
                for (int k = 0; k < 3 && inside; ++k) {
                    const int32_t i = group.tris[t].v[k];
                    inside = i >= 0 && i < level->pointCount;
                    if (!inside) break;
                    const BodyPoint& pt = level->points[i];
                    const int16_t xyz[3] = {pt.x, pt.y, pt.z};
                    for (int c = 0; c < 3; ++c) v[k][c] = float(xyz[kSwap[c]]) / 16384.0f;
                }
                if (!inside) continue;  // a triangle pointing past the points has no place
                const int r = Coll_AddTri(model, v[0], v[1], v[2], id++);
                if (r != COLL_OK) {
                    Qel_DPrintf(0, "ERROR: Coll add tri: %d\n", r);
                    Coll_FreeModel(model);
                    return nullptr;
                }
            }
        }
    }
    if (Coll_EndModel(model) != COLL_OK) {
        Coll_FreeModel(model);
        return nullptr;
    }
    return model;
}

// The body an instance's built models go to; null without one.
Body3D* InstBody(const Inst3D* inst) { return inst ? B3D_GetBody(inst->bodyId) : nullptr; }

}  // namespace

int32_t B3D_CollBuildModel(Inst3D* inst, int32_t level) {
    Body3D* body = InstBody(inst);
    if (!body || (inst->flags & INST_COLLISION_OFF)) return 0;
    const int32_t word = B3D_BodyGetCollWord(inst->bodyId);
    if (word == B3D_COLLWORD_NEVER) return 0;
    if (word >= 0) level = word & B3D_COLLWORD_LEVEL_MASK;
    if (body->levelCount <= 0 || !body->levels) return 0;
    level = std::clamp<int32_t>(level, 0, body->levelCount - 1);
    const BodyLevel* lv = body->levels[level];
    if (!lv) return 0;

    if (!body->collModel) {
        const bool everything = (word >= 0 && (word & B3D_COLLWORD_EVERYTHING)) || (lv->flags & BLEVEL_COLL_EVERYTHING);
        if (!everything && !AnyGroupCollides(body, lv)) {
            // Nothing of this body collides: never look again.
            if (!B3D_BodyClearCollWord(inst->bodyId)) inst->flags |= INST_COLLISION_OFF;
            return 0;
        }
        body->collModel = BuildFromLevel(body, lv, everything);
        if (!body->collModel) return 0;
        // Recorded with the model, so that it names the level the model
        // really holds when later instances ask for another.
        body->collLevel = level;
    }
    inst->flags |= INST_COLLISION_MODEL;
    inst->collLevel = level;
    return 1;
}

int32_t B3D_CollBuildModelSimple(Inst3D* inst, int32_t a, int32_t b, int32_t c) {
    Body3D* body = InstBody(inst);
    if (!body) return 0;
    if (!body->collModel) {
        const float x = float(a) / 65536.0f, y = float(b) / 65536.0f, z = float(c) / 65536.0f;
        const float tris[2][3][3] = {{{0, x, -z}, {0, -x, -z}, {0, 0, z}}, {{y, 0, z}, {-y, 0, z}, {0, 0, -z}}};
        body->collModel = BuildModel(tris, 2);
        if (!body->collModel) return 0;
    }
    inst->flags |= INST_COLLISION_MODEL;
    return 1;
}

int32_t B3D_CollBuildModelOcta(Inst3D* inst, int32_t a, int32_t b, int32_t c) {
    Body3D* body = InstBody(inst);
    if (!body) return 0;
    if (!body->collModel) {
        const float x = float(a) / 65536.0f, y = float(b) / 65536.0f, z = float(c) / 65536.0f;
        float tris[8][3][3] = {};
        for (int i = 0; i < 8; ++i) {
            tris[i][0][0] = (i & 1) ? -x : x;
            tris[i][1][1] = (i & 2) ? -y : y;
            tris[i][2][2] = (i & 4) ? -z : z;
        }
        body->collModel = BuildModel(tris, 8);
        if (!body->collModel) return 0;
    }
    inst->flags |= INST_COLLISION_MODEL;
    return 1;
}

int32_t B3D_InstCollide(Inst3D* a, Body3D* bodyA, Inst3D* b, Body3D* bodyB, uint32_t mode, int32_t maxContacts,
                        float depthLimit, float* bestDepth) {
    const Inst3D* insts[2] = {a, b};
    const Body3D* bodies[2] = {bodyA, bodyB};
    for (int i = 0; i < 2; ++i) {
        if (!bodies[i] || !bodies[i]->collModel) {
            Qel_DPrintf(0, "ERROR. Collisioncheck on Body without collision box!\nBody Nr: %d\n",
                        bodies[i] ? bodies[i]->id : insts[i]->bodyId);
            return 0;
        }
    }
    Placement pa, pb;
    Place(a, pa);
    Place(b, pb);
    if (Coll_Detect(mode, maxContacts, depthLimit, bestDepth, pa.R, pa.T, pa.s, bodyA->collModel, pb.R, pb.T, pb.s,
                    bodyB->collModel) != COLL_OK)
        return 0;
    return g_CollState.contacts > 0 ? 1 : 0;
}

int32_t B3D_CheckCollision(Inst3D* a, Inst3D* b, int32_t radiusA, int32_t radiusB, Inst3D** hitA, Inst3D** hitB) {
    if (!a || !b) return 0;
    const int64_t d = Chebyshev(a, b);
    if (radiusA <= 0) radiusA = B3D_InstGetTotalSize(a);
    if (radiusB <= 0) radiusB = B3D_InstGetTotalSize(b);
    if (int64_t(radiusA) + radiusB <= d) return 0;

    if (Collidable(a) && Collidable(b)) {
        Body3D* bodyA = B3D_GetBody(a->bodyId);
        Body3D* bodyB = B3D_GetBody(b->bodyId);
        if (!bodyA || !bodyB) return 0;
        Qel_DPrintf(kTraceMask, "B3D_CheckCollision: Checking OBB Collision of bodies\n");
        if (B3D_InstCollide(a, bodyA, b, bodyB, COLL_FIRST_CONTACT, 1, 0, nullptr)) {
            SetContact(a, g_CollState.point1);
            SetContact(b, g_CollState.point2);
            if (hitA) *hitA = a;
            if (hitB) *hitB = b;
            return 1;
        }
    }
    for (Inst3D* c = B3D_First<Inst3D>(&b->children); c; c = B3D_Next(c)) {
        if (B3D_CheckCollision(a, c, radiusA, 0, hitA, hitB) > 0) {
            ContactFromChild(b, c);
            return 1;
        }
    }
    for (Inst3D* c = B3D_First<Inst3D>(&a->children); c; c = B3D_Next(c)) {
        if (B3D_CheckCollision(c, b, 0, radiusB, hitA, hitB) > 0) {
            ContactFromChild(a, c);
            return 1;
        }
    }
    return 0;
}

int32_t B3D_CheckCollisionPair(Inst3D* a, Inst3D* b, int32_t radiusA, int32_t radiusB) {
    if (!a || !b) return 0;
    ClearContact(a);
    ClearContact(b);
    return B3D_CheckCollision(a, b, radiusA, radiusB, &a->hitInst, &b->hitInst);
}

int32_t B3D_CheckCollisionPairAuto(Inst3D* a, Inst3D* b) { return B3D_CheckCollisionPair(a, b, 0, 0); }

Inst3D* B3D_CheckCollisionTree(Inst3D* a, Body3D* bodyA, Inst3D* t, int32_t range, int32_t radiusT) {
    if (!a || !t) return nullptr;
    const int64_t d = Chebyshev(a, t);
    if (radiusT <= 0) radiusT = B3D_InstGetTotalSize(t);
    if (int64_t(radiusT) + range <= d) return nullptr;

    Inst3D* hit = nullptr;
    Body3D* bodyT = Collidable(t) ? B3D_GetBody(t->bodyId) : nullptr;
    // The limit and the best depth are in A's model units; a model shrunk to
    // nothing hits nothing.
    const float scale = float(a->scale.x);
    if (bodyT && scale != 0.0f) {
        float best = float(a->contact[2]) / scale;
        if (B3D_InstCollide(a, bodyA, t, bodyT, COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT, 8, float(range) / scale,
                            &best) &&
            g_CollState.tri2) {
            a->contact[2] = B3D_FloatToInt(double(best) * double(scale));
            float c[3];
            Centroid(c, *g_CollState.tri2);
            SetContact(t, c);
            hit = t;
        }
    }
    for (Inst3D* c = B3D_First<Inst3D>(&t->children); c; c = B3D_Next(c)) {
        if (Inst3D* h = B3D_CheckCollisionTree(a, bodyA, c, range, 0)) {
            hit = h;
            ContactFromChild(t, c);
        }
    }
    return hit;
}

int32_t B3D_CheckCollisionHier(Inst3D* a, Inst3D* b, int32_t range, int32_t radiusB) {
    if (!a || !b) return 0;
    ClearContact(a);
    ClearContact(b);
    if (!(a->flags & INST_COLLISION_MODEL)) return 0;
    Body3D* bodyA = B3D_GetBody(a->bodyId);
    if (!bodyA) return 0;
    a->contact[2] = 0x7fffffff;  // the best depth so far
    Inst3D* hit = B3D_CheckCollisionTree(a, bodyA, b, range, radiusB);
    if (!hit) return 0;
    a->hitInst = a;
    b->hitInst = hit;
    return 1;
}

int32_t B3D_CollUpdateInst(int32_t forced, Inst3D* b, Inst3D* e, Inst3D* t) {
    if (!b || !e || !t) return 0;
    if ((t->flags & INST_COLLISION_OFF) && !forced) return 0;
    // The cached radius is read as it is: a stale one (-1) fails the line
    // step below whatever the positions.
    const int32_t radius = t->totalRadius;
    if (B3D_VecDistance(&b->worldPos, &t->pos) < radius && !forced) return 0;
    if (B3D_PointLineDistance(&b->worldPos, &e->worldPos, &t->pos) >= radius) return 0;
    if (b->size <= 0) b->size = 1;
    const int32_t length = B3D_VecDistance(&e->worldPos, &b->worldPos);
    B3D_CollBuildModelSimple(b, 1, 1, length / 2);
    return B3D_CheckCollisionPairAuto(b, t) > 0 ? 1 : 0;
}
