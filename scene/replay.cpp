#include "scene/replay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "render/lights.h"
#include "render/cameras.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/geometry.h"
#include "scene/idnames.h"
#include "scene/instcoll.h"
#include "scene/particles.h"
#include "scene/recorder.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "system/clock.h"

namespace {

// The maps hold the live record's id, not its pointer: a live record the
// replay made may be freed under it (a freed scene takes its instances
// along, a script may free anything), and a lookup by id then finds nothing
// instead of a freed record.
struct B3DReplay {
    QelFile* stream;
    QelTable* insts;  // recorded id -> live id, instances and lights
    QelTable* scenes;
    QelTable* cameras;
    QelTable* generators;
    int32_t timeOffset;  // game clock minus recording clock
    int32_t nextDue;     // game clock at which the next frame is due
    int32_t args[5];
    uint32_t debugMask;
};

B3DReplay* s_replay = nullptr;

// ------------------------------------------------------------------ reading

struct In {
    QelFile* f;
    bool ok = true;

    void Bytes(void* out, size_t n) {
        if (!ok) {
            std::memset(out, 0, n);
            return;
        }
        if (n && Qel_fread(f, 1, n, out) != n) {
            ok = false;
            std::memset(out, 0, n);
        }
    }
    uint32_t U32() {
        uint8_t b[4];
        Bytes(b, 4);
        return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    }
    int32_t S32() { return static_cast<int32_t>(U32()); }
    void Words(int32_t* out, int32_t n) {
        for (int32_t i = 0; i < n; ++i) out[i] = S32();
    }
    // A length-prefixed string, read as far as the stream holds it; false for
    // length 0 (no string).
    bool Str(std::string* out) {
        out->clear();
        uint32_t n = U32();
        char chunk[4096];
        while (ok && n > 0) {
            const size_t part = std::min<size_t>(n, sizeof chunk);
            Bytes(chunk, part);
            out->append(chunk, part);
            n -= static_cast<uint32_t>(part);
        }
        return ok && !out->empty();
    }
};

bool Is(const char tag[4], const char* name) { return std::memcmp(tag, name, 4) == 0; }

void Matrix(QelMatrix* m, const int32_t rows[9]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m->m[i * 4 + j] = rows[i * 3 + j];
}

uint32_t Mapped(QelTable* map, uint32_t recorded) {
    return recorded ? static_cast<uint32_t>(Qel_TableGet(map, recorded)) : 0;
}

Scene3D* MappedScene(B3DReplay* r, uint32_t recorded) {
    const uint32_t live = Mapped(r->scenes, recorded);
    return live ? B3D_SceneFind(live) : nullptr;
}

Inst3D* MappedInst(B3DReplay* r, uint32_t recorded) {
    const uint32_t live = Mapped(r->insts, recorded);
    Inst3D* inst = live ? B3D_InstFind(live) : nullptr;
    return inst && !(inst->flags & INST_CAMERA) ? inst : nullptr;
}

Camera3D* MappedCamera(B3DReplay* r, uint32_t recorded) {
    const uint32_t live = Mapped(r->cameras, recorded);
    Inst3D* inst = live ? B3D_InstFind(live) : nullptr;
    return inst && (inst->flags & INST_CAMERA) ? reinterpret_cast<Camera3D*>(inst) : nullptr;
}

ParticleGenerator* FindGenerator(uint32_t live) { return B3D_ParticleGeneratorFind(live); }

uint32_t SceneIdOf(const Scene3D* s) { return s ? s->id : 0; }

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

// ------------------------------------------------------------------ live records

// Out of its parent and its scene, into the list of instances in no scene.
void RemoveFromParent(Inst3D* inst) {
    if (inst->scene) B3D_InstDeleteFromScene(inst);
    B3D_ListRemove(B3D_Node(inst));
    inst->parent = nullptr;
    inst->scene = nullptr;
    B3D_InstSetSceneRecursive(inst);
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(inst));
}

// ------------------------------------------------------------------ records

void ReadScene(B3DReplay* r, In& in) {
    const uint32_t id = in.U32();
    const uint32_t mask = in.U32();
    uint32_t flags = 0;
    int32_t scale = 0;
    std::string name;
    bool hasName = false;
    if (mask & B3D_RSCE_FLAGS) flags = in.U32();
    if (mask & B3D_RSCE_SCALE) scale = in.S32();
    if (mask & B3D_RSCE_NAME) hasName = in.Str(&name);
    if (!in.ok || !id) return;  // id 0 names no object
    Scene3D* scene = MappedScene(r, id);
    if (mask & B3D_REC_DELETED) {
        Qel_DPrintf(r->debugMask, " SCENE %d delete!\n", static_cast<int>(id));
        if (scene) B3D_SceneFree(scene);
        Qel_TableRemove(r->scenes, id);
        return;
    }
    if (scene) {
        Qel_DPrintf(r->debugMask, " SCENE %d (%d) found.\n", static_cast<int>(id), static_cast<int>(scene->id));
    } else {
        scene = B3D_SceneAlloc();
        if (!scene) return;
        // Unmapped, the replay could never free it.
        if (!Qel_TableSet(r->scenes, id, scene->id)) {
            B3D_SceneFree(scene);
            return;
        }
        B3D_SceneEnable(scene);
        Qel_DPrintf(r->debugMask, " SCENE %d (%d) created.\n", static_cast<int>(id), static_cast<int>(scene->id));
    }
    // Whether the scene is in the renderer and has live particles is the live scene's own state.
    constexpr uint32_t live = SCENE_ENABLED | SCENE_PARTICLES;
    if (mask & B3D_RSCE_FLAGS) scene->flags = (flags & ~live) | (scene->flags & live);
    if (mask & B3D_RSCE_SCALE) scene->systemScale = static_cast<float>(scale) / 65536.0f;
    if (mask & B3D_RSCE_NAME) scene->name = Qel_StrReassign(scene->name, hasName ? name.c_str() : nullptr);
}

struct InstFields {
    uint32_t parent, scene;
    int32_t pos[3], matrix[9], velocity[3];
    int32_t detailValue, detailBase;
    uint32_t flags, flags2;
    int32_t bodyId, size, scale[3], detailSwitch, usedSize, color[3], atten[3], overrideEffect, range, words[2];
    bool hasName;
    std::string name;
};

void ReadInst(B3DReplay* r, In& in) {
    const uint32_t id = in.U32();
    const uint32_t mask = in.U32();
    InstFields f{};
    if (mask & B3D_RINS_PARENT) f.parent = in.U32();
    if (mask & B3D_RINS_SCENE) f.scene = in.U32();
    if (mask & B3D_RINS_POS) in.Words(f.pos, 3);
    if (mask & B3D_RINS_MATRIX) in.Words(f.matrix, 9);
    if (mask & B3D_RINS_VELOCITY) in.Words(f.velocity, 3);
    if (mask & B3D_RINS_DETAIL) f.detailValue = in.S32();
    if (mask & B3D_RINS_DETAIL_BASE) f.detailBase = in.S32();
    if (mask & B3D_RINS_FLAGS) f.flags = in.U32();
    if (mask & B3D_RINS_FLAGS2) f.flags2 = in.U32();
    if (mask & B3D_RINS_BODY) f.bodyId = in.S32();
    if (mask & B3D_RINS_SIZE) f.size = in.S32();
    if (mask & B3D_RINS_SCALE) in.Words(f.scale, 3);
    if (mask & B3D_RINS_DETAIL_SWITCH) f.detailSwitch = in.S32();
    if (mask & B3D_RINS_USED_SIZE) f.usedSize = in.S32();
    if (mask & B3D_RINS_COLOR) in.Words(f.color, 3);
    if (mask & B3D_RINS_ATTEN) in.Words(f.atten, 3);
    if (mask & B3D_RINS_EFFECT) f.overrideEffect = in.S32();
    if (mask & B3D_RINS_RANGE) f.range = in.S32();
    if (mask & B3D_RINS_WORDS) in.Words(f.words, 2);
    if (mask & B3D_RINS_NAME) f.hasName = in.Str(&f.name);
    if (!in.ok || !id) return;  // id 0 names no object

    const uint32_t liveId = Mapped(r->insts, id);
    Inst3D* inst = MappedInst(r, id);
    if (mask & B3D_REC_DELETED) {
        if (inst) {
            Qel_DPrintf(r->debugMask, " INST %d delete!\n", static_cast<int>(id));
            B3D_InstFree(inst);
        } else {
            Qel_DPrintf(r->debugMask, " INST %d 3d inst didn't exist!\n", static_cast<int>(id));
        }
        Qel_TableRemove(r->insts, id);
        return;
    }
    std::string trace;
    char buf[64];
    if (inst) {
        std::snprintf(buf, sizeof buf, " INST %d (%d) found...", static_cast<int>(id), static_cast<int>(inst->id));
        trace = buf;
    } else if (liveId || !(mask & B3D_REC_FIRST)) {
        Qel_DPrintf(r->debugMask, " INST %d found, but I3D has been destroyed!\n", static_cast<int>(id));
        return;
    } else {
        const bool light = mask & B3D_REC_LIGHT;
        inst = light ? B3D_LightAlloc() : B3D_AllocInst();
        if (!inst) return;
        if (!Qel_TableSet(r->insts, id, inst->id)) {
            B3D_InstFree(inst);
            return;
        }
        std::snprintf(buf, sizeof buf, light ? " LIGHT %d (%d) created..." : " INST %d (%d) created...",
                      static_cast<int>(id), static_cast<int>(inst->id));
        trace = buf;
    }
    auto note = [&trace, &buf](const char* form, int v) {
        std::snprintf(buf, sizeof buf, form, v);
        trace += buf;
    };
    if (mask & B3D_RINS_PARENT) note("^(%d)", static_cast<int>(f.parent));
    if (mask & B3D_RINS_SCENE) note("S(%d)", static_cast<int>(f.scene));
    if (mask & B3D_RINS_POS) inst->pos = {f.pos[0], f.pos[1], f.pos[2], inst->pos.w};
    if (mask & B3D_RINS_MATRIX) Matrix(&inst->matrix, f.matrix);
    if (mask & B3D_RINS_VELOCITY) std::copy(f.velocity, f.velocity + 3, inst->velocity);
    if (mask & B3D_RINS_DETAIL) inst->detailValue = f.detailValue;
    if (mask & B3D_RINS_DETAIL_BASE) inst->detailBase = f.detailBase;
    // A camera bit on an instance record would make it freed as the larger
    // camera record.
    if (mask & B3D_RINS_FLAGS) inst->flags = (f.flags & ~INST_RECORD_KIND) | (inst->flags & INST_RECORD_KIND);
    if (mask & B3D_RINS_FLAGS2) {
        inst->flags2 = f.flags2;
        trace += "f2";
    }
    if (mask & B3D_RINS_BODY) {
        B3D_InstSetBody(inst, f.bodyId);
        note("b(%d)", f.bodyId);
    }
    if (mask & B3D_RINS_SIZE) {
        inst->size = f.size;
        inst->radius = B3D_FixMul(f.size, std::max({inst->scale.x, inst->scale.y, inst->scale.z}));
        inst->totalRadius = -1;
        note("s(%d)", f.size);
    }
    if (mask & B3D_RINS_SCALE) B3D_InstSetScale(inst, f.scale[0], f.scale[1], f.scale[2]);
    if (mask & B3D_RINS_DETAIL_SWITCH) inst->detailSwitch = f.detailSwitch;
    if (mask & B3D_RINS_USED_SIZE) {
        inst->usedSize = f.usedSize;
        note("u(%d)", f.usedSize);
    }
    if (mask & B3D_RINS_COLOR)
        for (int i = 0; i < 3; ++i) inst->lightColor[i] = static_cast<uint16_t>(f.color[i]);
    if (mask & B3D_RINS_ATTEN) std::copy(f.atten, f.atten + 3, inst->lightAtten);
    if (mask & B3D_RINS_EFFECT) inst->overrideEffect = f.overrideEffect;
    if (mask & B3D_RINS_RANGE) inst->lightRange = f.range;
    if (mask & B3D_RINS_WORDS) std::copy(f.words, f.words + 2, inst->extraWords);
    if (mask & B3D_RINS_NAME) {
        inst->name = Qel_StrReassign(inst->name, f.hasName ? f.name.c_str() : nullptr);
        trace += "[" + std::string(inst->name ? inst->name : "") + "]";
    }
    if (mask & (B3D_RINS_COLOR | B3D_RINS_ATTEN | B3D_RINS_RANGE)) S_3DUpdateLight(inst);

    // The place in the tree: under the mapped parent, else at the top of the
    // mapped scene, else in no scene.
    if (mask & (B3D_RINS_PARENT | B3D_RINS_SCENE)) {
        Inst3D* parent = (mask & B3D_RINS_PARENT) ? MappedInst(r, f.parent) : inst->parent;
        Scene3D* scene = (mask & B3D_RINS_SCENE) ? MappedScene(r, f.scene) : inst->scene;
        if (scene && inst->scene != scene) {
            Qel_DPrintf(r->debugMask, "Inst Scene change %d->%d\n", static_cast<int>(SceneIdOf(inst->scene)),
                        static_cast<int>(scene->id));
        }
        if (scene && inst->scene != scene) B3D_InstAddToScene(inst, scene);
        if (parent) {
            if (inst->parent != parent) B3D_InstAddToInst(inst, parent);
        } else if (inst->parent && (mask & B3D_RINS_PARENT)) {
            if (scene) B3D_InstAddToScene(inst, scene);
            else RemoveFromParent(inst);
        } else if (!scene && inst->scene && !inst->parent) {
            B3D_InstDeleteFromScene(inst);
        }
    }
    // A model kept by the recorded instance is the live one's too.
    if ((inst->flags & INST_COLLISION_MODEL) && !B3D_CollBuildModel(inst, inst->collLevel))
        inst->flags &= ~INST_COLLISION_MODEL;
    Qel_DPrintf(r->debugMask, "%s\n", trace.c_str());
}

void ReadCamera(B3DReplay* r, In& in) {
    const uint32_t id = in.U32();
    const uint32_t mask = in.U32();
    uint32_t sceneId = 0, flags = 0;
    int32_t pos[3]{}, matrix[9]{}, priority = 0, roll = 0, viewport[4]{}, focus = 0, background[3]{}, ones[3]{},
                                   matrix2[9]{}, aspect[2]{};
    std::string name;
    bool hasName = false;
    if (mask & B3D_RCAM_SCENE) sceneId = in.U32();
    if (mask & B3D_RCAM_POS) in.Words(pos, 3);
    if (mask & B3D_RCAM_MATRIX) in.Words(matrix, 9);
    if (mask & B3D_RCAM_PRIORITY) priority = in.S32();
    if (mask & B3D_RCAM_FLAGS) flags = in.U32();
    if (mask & B3D_RCAM_ROLL) roll = in.S32();
    if (mask & B3D_RCAM_VIEWPORT) in.Words(viewport, 4);
    if (mask & B3D_RCAM_FOCUS) focus = in.S32();
    if (mask & B3D_RCAM_BACKGROUND) in.Words(background, 3);
    if (mask & B3D_RCAM_ONES) in.Words(ones, 3);
    if (mask & B3D_RCAM_MATRIX2) in.Words(matrix2, 9);
    if (mask & B3D_RCAM_ASPECT) in.Words(aspect, 2);
    if (mask & B3D_RCAM_NAME) hasName = in.Str(&name);
    if (!in.ok || !id) return;  // id 0 names no object

    Camera3D* cam = MappedCamera(r, id);
    if (mask & B3D_REC_DELETED) {
        if (cam) {
            Qel_DPrintf(r->debugMask, " CAMERA %d delete!\n", static_cast<int>(id));
            B3D_CameraFree(cam);
        } else {
            Qel_DPrintf(r->debugMask, " CAMERA %d 3d camera didn't exist!\n", static_cast<int>(id));
        }
        Qel_TableRemove(r->cameras, id);
        return;
    }
    if (cam) {
        Qel_DPrintf(r->debugMask, "  CAMERA %d found...\n", static_cast<int>(id));
    } else {
        cam = B3D_CameraAlloc();
        if (!cam) return;
        if (!Qel_TableSet(r->cameras, id, cam->inst.id)) {
            B3D_CameraFree(cam);
            return;
        }
        Qel_DPrintf(r->debugMask, "  CAMERA %d created...\n", static_cast<int>(id));
    }
    Inst3D* inst = &cam->inst;
    if (mask & B3D_RCAM_SCENE) {
        Scene3D* scene = MappedScene(r, sceneId);
        if (scene && inst->scene != scene) B3D_SceneLinkInst(scene, cam);
        else if (!scene && inst->scene) B3D_CameraDeleteFromScene(cam);
    }
    if (mask & B3D_RCAM_POS) inst->pos = {pos[0], pos[1], pos[2], inst->pos.w};
    if (mask & B3D_RCAM_MATRIX) Matrix(&inst->matrix, matrix);
    if (mask & B3D_RCAM_PRIORITY) B3D_CameraSetPri(cam, priority);
    // Whether the camera is active in the renderer is the live camera's own state.
    if (mask & B3D_RCAM_FLAGS) cam->camFlags = (flags & ~CAM_ACTIVE) | (cam->camFlags & CAM_ACTIVE);
    if (mask & B3D_RCAM_ROLL) cam->roll = roll;
    if (mask & B3D_RCAM_VIEWPORT) {
        B3D_CameraSetViewPort(cam, viewport[0], viewport[1], viewport[2], viewport[3]);
        if (cam->camFlags & CAM_ACTIVE) S_3DSetSceneViewPort(cam);
    }
    if (mask & B3D_RCAM_FOCUS) B3D_CameraSetFocus(cam, focus);
    if (mask & B3D_RCAM_BACKGROUND) B3D_CameraSetBackgroundColor(cam, background[0], background[1], background[2]);
    if (mask & B3D_RCAM_ONES) std::copy(ones, ones + 3, cam->ones);
    if (mask & B3D_RCAM_MATRIX2) Matrix(&inst->worldMatrix, matrix2);
    if (mask & B3D_RCAM_ASPECT) B3D_CameraSetAspect(cam, aspect[0], aspect[1]);
    if (mask & B3D_RCAM_NAME) inst->name = Qel_StrReassign(inst->name, hasName ? name.c_str() : nullptr);
}

void ReadGenerator(B3DReplay* r, In& in) {
    const uint32_t id = in.U32();
    const uint32_t mask = in.U32();
    int32_t desc = 0, pos[3]{}, matrix[9]{}, intensity = 0, prevPos[3]{}, prevDir[3]{}, quat[4]{};
    uint32_t sceneId = 0, emitterCount = 0;
    if (mask & B3D_RPGE_DESC) desc = in.S32();
    if (mask & B3D_RPGE_POS) in.Words(pos, 3);
    if (mask & B3D_RPGE_MATRIX) in.Words(matrix, 9);
    if (mask & B3D_RPGE_INTENSITY) intensity = in.S32();
    if (mask & B3D_RPGE_TIME) in.S32();  // the recording session's clock
    if (mask & B3D_RPGE_PREV_POS) in.Words(prevPos, 3);
    if (mask & B3D_RPGE_PREV_DIR) in.Words(prevDir, 3);
    if (mask & B3D_RPGE_PREV_QUAT) in.Words(quat, 4);
    if (mask & B3D_RPGE_SCENE) sceneId = in.U32();
    if (mask & B3D_RPGE_EMITTERS) {
        emitterCount = in.U32();
        // Read as far as the stream holds them: the live emitters keep
        // their own times.
        for (uint32_t i = 0; in.ok && i < emitterCount; ++i) in.S32();
    }
    if (!in.ok || !id) return;  // id 0 names no object

    ParticleGenerator* g = FindGenerator(Mapped(r->generators, id));
    if (mask & B3D_REC_DELETED) {
        Qel_DPrintf(r->debugMask, " PARTICLE GENERATOR %d delete!\n", static_cast<int>(id));
        if (g) B3D_ParticleGeneratorFree(g);
        Qel_TableRemove(r->generators, id);
        return;
    }
    bool created = false;
    if (!g) {
        if (!(mask & B3D_REC_FIRST)) {
            Qel_DPrintf(0, "B3D_ReplayFrame() can't find ParticleGenerator ID %d\n", static_cast<int>(id));
            return;
        }
        g = B3D_ParticleGeneratorAlloc();
        if (!g) return;
        if (!Qel_TableSet(r->generators, id, g->id)) {
            B3D_ParticleGeneratorFree(g);
            return;
        }
        Qel_DPrintf(r->debugMask, " PARTICLEGENERATOR %d created.\n", static_cast<int>(id));
        created = true;
    }
    if ((mask & B3D_RPGE_DESC) && (desc != g->desc || !g->emitters)) B3D_ParticleGeneratorSetDesc(g, desc);
    if (mask & B3D_RPGE_POS) g->offset = {pos[0], pos[1], pos[2], g->offset.w};
    if (mask & B3D_RPGE_MATRIX) Matrix(&g->matrix, matrix);
    if (mask & B3D_RPGE_INTENSITY) g->intensity = intensity;
    if (mask & B3D_RPGE_SCENE) g->scene = MappedScene(r, sceneId);
    // A field the record does not bring stays as the previous step left it.
    const QelVector step =
        (mask & B3D_RPGE_PREV_POS) ? QelVector{prevPos[0], prevPos[1], prevPos[2], g->prevPos.w} : g->prevPos;
    const QelVector velocity =
        (mask & B3D_RPGE_PREV_DIR) ? QelVector{prevDir[0], prevDir[1], prevDir[2], g->prevVelocity.w} : g->prevVelocity;
    const QelQuat orientation =
        (mask & B3D_RPGE_PREV_QUAT) ? QelQuat{quat[0], quat[1], quat[2], quat[3]} : g->prevOrientation;
    // Particles live by the game clock, and the recorded times are another
    // session's: each record is one step of the live generator, from the
    // previous record's place at its draw to this one's now.
    const int32_t now = GameClock();
    if (!created && g->emitters && (mask & (B3D_RPGE_TIME | B3D_RPGE_PREV_POS | B3D_RPGE_PREV_QUAT))) {
        const double len =
            std::sqrt(static_cast<double>(velocity.x) * velocity.x + static_cast<double>(velocity.y) * velocity.y +
                      static_cast<double>(velocity.z) * velocity.z);
        const int32_t speed = static_cast<int32_t>(std::min(len, 2147483647.0));
        B3D_ParticleSpawn(g, &step, &orientation, &velocity, speed, 0, now);
    } else {
        if (created) g->prevTime = now;
        g->prevPos = step;
        g->prevVelocity = velocity;
        g->prevOrientation = orientation;
    }
}

void ReadTexture(In& in, const char tag[4], int32_t fields) {
    int16_t f[16]{};
    for (int32_t i = 0; i < fields && i < 16; ++i) {
        uint8_t b[2];
        in.Bytes(b, 2);
        f[i] = static_cast<int16_t>((b[0] << 8) | b[1]);
    }
    std::string text;
    if (Is(tag, "RTTX")) {
        text.resize(static_cast<uint16_t>(f[fields - 1]));
        in.Bytes(text.data(), text.size());
    }
    if (!in.ok) return;
    B3D_TexReplayRecord(tag, f, text.data(), static_cast<int32_t>(text.size()));
}

// Frees what the replay made and still lives: instances (with their
// subtrees), cameras, scenes, generators.
void FreeLive(B3DReplay* r) {
    for (uint32_t k = Qel_TableNext(r->insts, 0); k; k = Qel_TableNext(r->insts, k))
        if (Inst3D* inst = MappedInst(r, k)) B3D_InstFree(inst);
    for (uint32_t k = Qel_TableNext(r->cameras, 0); k; k = Qel_TableNext(r->cameras, k))
        if (Camera3D* cam = MappedCamera(r, k)) B3D_CameraFree(cam);
    for (uint32_t k = Qel_TableNext(r->scenes, 0); k; k = Qel_TableNext(r->scenes, k))
        if (Scene3D* scene = MappedScene(r, k)) B3D_SceneFree(scene);
    for (uint32_t k = Qel_TableNext(r->generators, 0); k; k = Qel_TableNext(r->generators, k))
        if (ParticleGenerator* g = FindGenerator(Mapped(r->generators, k))) B3D_ParticleGeneratorFree(g);
}

void EndReplay(B3DReplay* r) {
    if (g_B3DState) FreeLive(r);
    for (QelTable* t : {r->insts, r->scenes, r->cameras, r->generators}) Qel_TableFree(t);
    if (r->stream) Qel_fclose(r->stream);
    s_replay = nullptr;
    if (g_B3DState) {
        B3D_FreeRecordI(r);
        B3D_ClearEngineFlags(B3D_ENGINE_REPLAYING);
    }
}

// A failure of the start: its line framed by '=' lines, then off again.
int32_t FailStart(B3DReplay* r, const char* form, const char* name) {
    Qel_BannerPrintf(form, name);
    EndReplay(r);
    return 0;
}

}  // namespace

int32_t B3D_ReplayRecording(const char* name, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    if (!g_B3DState || !name) return 0;
    if (s_replay) B3D_ExitReplay();
    auto* r = B3D_AllocRecordI<B3DReplay>();
    if (!r) return 0;
    r->insts = Qel_TableCreate();
    r->scenes = Qel_TableCreate();
    r->cameras = Qel_TableCreate();
    r->generators = Qel_TableCreate();
    const int32_t args[5] = {a, b, c, d, e};
    std::copy(args, args + 5, r->args);
    r->debugMask = B3D_REPLAY_TRACE;
    s_replay = r;
    char* fileName = Qel_Format(nullptr, "%s.rec", name);
    r->stream = fileName ? Qel_fcopen(fileName, "rb", 0) : nullptr;
    Qel_StrFree(fileName);
    if (!r->stream || !r->insts || !r->scenes || !r->cameras || !r->generators) {
        EndReplay(r);
        return 0;
    }
    B3D_SetEngineFlags(B3D_ENGINE_REPLAYING);
    In in{r->stream};
    char tag[4];
    in.Bytes(tag, 4);
    if (!in.ok || !Is(tag, "RECO")) return FailStart(r, "B3D_ReplayRecording(%s) Wrong cookie, expected RECO\n", name);
    Qel_DPrintf(0, "B3D_ReplayRecording(%s, %d, %08x, %08x, %08x, %08x) Start\n", name, a, static_cast<unsigned>(b),
                static_cast<unsigned>(c), static_cast<unsigned>(d), static_cast<unsigned>(e));
    Qel_DPrintf(0, "B3D_ReplayRecording() Record file version %d\n", static_cast<int>(in.U32()));
    const uint32_t date = in.U32();
    const std::time_t when = static_cast<std::time_t>(date);
    std::tm utc{};
    char text[64] = "?\n";
    if (gmtime_r(&when, &utc)) std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y\n", &utc);
    Qel_DPrintf(0, "B3D_ReplayRecording() Record file date %d - %s", static_cast<int>(date), text);
    in.Bytes(tag, 4);
    if (!in.ok || !Is(tag, "RNAM")) return FailStart(r, "B3D_ReplayRecording(%s) Wrong cookie, expected RNAM\n", name);
    B3D_ReadIdNameTables(r->stream);
    in.Bytes(tag, 4);
    if (!in.ok || !Is(tag, "RFRA")) return FailStart(r, "B3D_ReplayRecording(%s) Wrong cookie, expected RFRA\n", name);
    const int32_t frameTime = in.S32();
    if (!in.ok) return FailStart(r, "B3D_ReplayRecording(%s) Wrong cookie, expected RFRA\n", name);
    Qel_DPrintf(r->debugMask, "FRAME time=%d\n", static_cast<int>(frameTime));
    r->timeOffset = S_ClockDiff(GameClock(), frameTime);
    r->nextDue = S_ClockAdvance(frameTime, r->timeOffset);
    return 1;
}

void B3D_ReplayFrame() {
    B3DReplay* r = s_replay;
    if (!r || !g_B3DState) return;
    if (S_ClockDiff(GameClock(), r->nextDue) < 0) return;
    In in{r->stream};
    for (;;) {
        char tag[4];
        in.Bytes(tag, 4);
        // Without lengths nothing after an unreadable or unknown cookie can
        // be read: the end of the stream and an unknown cookie end the replay
        // as "REND" does.
        if (!in.ok || Is(tag, "REND")) {
            B3D_ExitReplay();
            return;
        }
        if (Is(tag, "RFRA")) {
            const int32_t t = in.S32();
            if (!in.ok) {
                B3D_ExitReplay();
                return;
            }
            Qel_DPrintf(r->debugMask, "FRAME time=%d\n", static_cast<int>(t));
            r->nextDue = S_ClockAdvance(t, r->timeOffset);
            return;
        }
        const int32_t texFields = B3D_TexRecordFieldCount(tag);
        if (Is(tag, "RNAM")) {
            if (!B3D_ReadIdNameTables(r->stream)) in.ok = false;
        } else if (Is(tag, "RSCE")) {
            ReadScene(r, in);
        } else if (Is(tag, "RINS")) {
            ReadInst(r, in);
        } else if (Is(tag, "RCAM")) {
            ReadCamera(r, in);
        } else if (Is(tag, "RPGE")) {
            ReadGenerator(r, in);
        } else if (texFields > 0) {
            ReadTexture(in, tag, texFields);
        } else {
            const auto* u = reinterpret_cast<const uint8_t*>(tag);
            Qel_DPrintf(0, "Unknown cookie %02x%02x%02x%02x found.\n", u[0], u[1], u[2], u[3]);
            B3D_ExitReplay();
            return;
        }
        if (!in.ok) {
            B3D_ExitReplay();
            return;
        }
    }
}

void B3D_ExitReplay() {
    if (!s_replay) {
        if (g_B3DState) B3D_ClearEngineFlags(B3D_ENGINE_REPLAYING);
        return;
    }
    Qel_DPrintf(0, "B3D_ExitReplay() Stopping Replay\n");
    EndReplay(s_replay);
}

int32_t B3D_CallExitReplay() {
    B3D_ExitReplay();
    return 0;
}

void B3D_ReplayFreeAll() {
    StandIn_Record("B3D_ReplayFreeAll");  // the program's tests read the order of its module calls
    B3DState* s = g_B3DState;
    if (!s) return;
    // Each record through its own free, so every caller waiting on one hears of it.
    J3D_TakeFreeAll();
    B3D_ReleaseDrawItems();
    while (auto* d = B3D_First<B3DDrawItem>(&s->drawFree)) {
        B3D_ListRemove(B3D_Node(d));
        B3D_FreeRecordI(d);
    }
    for (Scene3D* scene = B3D_First<Scene3D>(&s->scenes); scene;) {
        Scene3D* next = B3D_Next(scene);
        if (scene != s->lensFlareScene) B3D_SceneFree(scene);
        scene = next;
    }
    if (s->lensFlareScene) B3D_SceneFree(s->lensFlareScene);
    while (Inst3D* inst = B3D_First<Inst3D>(&s->freeInsts)) B3D_InstFree(inst);
    s->shadowAlpha = 200;
    J3D_FreeCutEntry();
    B3D_ResetBodyParts();
}
