#include "scene/recorder.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "scene/geometry.h"
#include "scene/idnames.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/texdraw.h"

namespace {

struct B3DRecorder {
    QelFile* file;
    QelTable* scenes;
    QelTable* insts;
    QelTable* cameras;
    QelTable* generators;
    int32_t bodyNames;  // dynamic counts when the name block was last written
    int32_t cutNames;
    uint32_t frame;  // marks the copies visited in the frame being written
    int32_t failed;  // a write did not reach the file
};

struct RecSceneCopy {
    uint32_t flags;
    int32_t scale;
    char* name;
    uint32_t frame;
};

struct RecInstCopy {
    int32_t parent;
    int32_t scene;
    int32_t pos[3];
    int32_t matrix[9];
    int32_t velocity[3];
    int32_t detailValue;
    int32_t detailBase;
    int32_t flags;
    int32_t flags2;
    int32_t bodyId;
    int32_t size;
    int32_t scale[3];
    int32_t detailSwitch;
    int32_t usedSize;
    int32_t color[3];
    int32_t atten[3];
    int32_t overrideEffect;
    int32_t range;
    int32_t words[2];
    char* name;
    uint32_t mask;
    uint32_t frame;
};

struct RecCameraCopy {
    int32_t scene;
    int32_t pos[3];
    int32_t matrix[9];
    int32_t priority;
    int32_t flags;
    int32_t roll;
    int32_t viewport[4];
    int32_t focus;
    int32_t background[3];
    int32_t ones[3];
    int32_t matrix2[9];
    int32_t aspect[2];
    char* name;
    uint32_t mask;
    uint32_t frame;
};

struct RecGeneratorCopy {
    int32_t desc;
    int32_t pos[3];
    int32_t matrix[9];
    int32_t intensity;
    int32_t time;
    int32_t prevPos[3];
    int32_t prevDir[3];
    int32_t quat[4];
    int32_t scene;
    int32_t emitterCount;
    int32_t* lastSpawn;  // emitterCount words, pool R
    uint32_t mask;
    uint32_t frame;
};

B3DRecorder* s_recorder = nullptr;

// ------------------------------------------------------------------ writing

void Put(B3DRecorder* r, const void* bytes, size_t n) {
    if (r->failed || n == 0) return;
    if (Qel_fwriteBlock(r->file, 1, n, bytes) != n) r->failed = 1;
}

void PutU32(B3DRecorder* r, uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v)};
    Put(r, b, 4);
}

void PutTag(B3DRecorder* r, const char* tag) { Put(r, tag, 4); }

void PutWords(B3DRecorder* r, const int32_t* w, int32_t n) {
    for (int32_t i = 0; i < n; ++i) PutU32(r, static_cast<uint32_t>(w[i]));
}

void PutString(B3DRecorder* r, const char* s) {
    const size_t n = s ? std::strlen(s) : 0;
    PutU32(r, static_cast<uint32_t>(n));
    Put(r, s, n);
}

// Every frame reaches the file whole: a recording that is never stopped
// reads up to its last frame, and a full disk shows in the frame it hits.
void Flush(B3DRecorder* r) {
    if (r->failed) return;
    QelFile* f = r->file;
    int ok;
    if (f->flags & QEL_FILE_GZIP) ok = gzflush(static_cast<gzFile>(f->stream), Z_SYNC_FLUSH) == Z_OK;
    else ok = !(f->flags & QEL_FILE_CATALOG) && std::fflush(static_cast<FILE*>(f->stream)) == 0;
    if (!ok) r->failed = 1;
}

// ------------------------------------------------------------------ change detection

// The nine used words of a matrix, row by row.
void Rows(const QelMatrix& m, int32_t out[9]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i * 3 + j] = m.m[i * 4 + j];
}

// One field group: the current values and where the copy keeps them.
struct Group {
    uint32_t bit;
    int32_t n;
    int32_t cur[12];
    int32_t* copy;
};

template <class... V>
Group G(uint32_t bit, int32_t* copy, V... values) {
    Group g{bit, static_cast<int32_t>(sizeof...(V)), {static_cast<int32_t>(values)...}, copy};
    return g;
}

Group GA(uint32_t bit, int32_t* copy, const int32_t* values, int32_t n) {
    Group g{bit, n, {}, copy};
    std::memcpy(g.cur, values, sizeof(int32_t) * static_cast<size_t>(n));
    return g;
}

uint32_t Compare(const Group* groups, size_t count) {
    uint32_t mask = 0;
    for (size_t i = 0; i < count; ++i)
        if (std::memcmp(groups[i].cur, groups[i].copy, sizeof(int32_t) * static_cast<size_t>(groups[i].n)) != 0)
            mask |= groups[i].bit;
    return mask;
}

void WriteGroups(B3DRecorder* r, const Group* groups, size_t count, uint32_t mask) {
    for (size_t i = 0; i < count; ++i) {
        const Group& g = groups[i];
        if (!(mask & g.bit)) continue;
        std::memcpy(g.copy, g.cur, sizeof(int32_t) * static_cast<size_t>(g.n));
        PutWords(r, g.cur, g.n);
    }
}

bool NamesDiffer(const char* a, const char* b) {
    if (!a || !b) return a != b;
    return std::strcmp(a, b) != 0;
}

void WriteName(B3DRecorder* r, char** copy, const char* current) {
    *copy = Qel_StrReassign(*copy, current);
    PutString(r, current);
}

template <class Copy>
Copy* NewCopy(QelTable* table, uint32_t id) {
    auto* c = static_cast<Copy*>(B3D_ReAllocMemR(static_cast<int32_t>(sizeof(Copy))));
    if (!c) return nullptr;
    if (!Qel_TableSet(table, id, reinterpret_cast<uintptr_t>(c))) {
        B3D_FreeMemR(static_cast<int32_t>(sizeof(Copy)), c);
        return nullptr;
    }
    return c;
}

void FreeCopy(RecSceneCopy* c) {
    Qel_StrFree(c->name);
    B3D_FreeMemR(sizeof(RecSceneCopy), c);
}
void FreeCopy(RecInstCopy* c) {
    Qel_StrFree(c->name);
    B3D_FreeMemR(sizeof(RecInstCopy), c);
}
void FreeCopy(RecCameraCopy* c) {
    Qel_StrFree(c->name);
    B3D_FreeMemR(sizeof(RecCameraCopy), c);
}
void FreeCopy(RecGeneratorCopy* c) {
    if (c->lastSpawn) B3D_FreeMemR(c->emitterCount * static_cast<int32_t>(sizeof(int32_t)), c->lastSpawn);
    B3D_FreeMemR(sizeof(RecGeneratorCopy), c);
}

uint32_t SceneId(const Scene3D* s) { return s ? s->id : 0; }

// ------------------------------------------------------------------ records

void RecordScene(B3DRecorder* r, Scene3D* scene) {
    auto* c = reinterpret_cast<RecSceneCopy*>(Qel_TableGet(r->scenes, scene->id));
    uint32_t mask = 0;
    if (!c) {
        mask = B3D_REC_FIRST;
        c = NewCopy<RecSceneCopy>(r->scenes, scene->id);
        if (!c) {
            PutTag(r, "RSCE");
            PutU32(r, scene->id);
            PutU32(r, mask);
            return;
        }
    }
    c->frame = r->frame;
    const auto scale = static_cast<int32_t>(scene->systemScale * 65536.0f);
    const Group groups[] = {G(B3D_RSCE_FLAGS, reinterpret_cast<int32_t*>(&c->flags), scene->flags),
                            G(B3D_RSCE_SCALE, &c->scale, scale)};
    mask |= Compare(groups, 2);
    if (NamesDiffer(scene->name, c->name)) mask |= B3D_RSCE_NAME;
    PutTag(r, "RSCE");
    PutU32(r, scene->id);
    PutU32(r, mask);
    WriteGroups(r, groups, 2, mask);
    if (mask & B3D_RSCE_NAME) WriteName(r, &c->name, scene->name);
}

void RecordInstWith(B3DRecorder* r, Inst3D* inst) {
    // The view position against each camera of the scene; the last one's stays.
    if (inst->scene)
        for (Camera3D* cam = B3D_First<Camera3D>(&inst->scene->cameras); cam; cam = B3D_Next(cam))
            B3D_InstPointToLocal(&cam->inst, inst);
    auto* c = reinterpret_cast<RecInstCopy*>(Qel_TableGet(r->insts, inst->id));
    uint32_t mask = 0;
    if (!c) {
        mask = (inst->flags & INST_LIGHT) ? B3D_REC_FIRST | B3D_REC_LIGHT : B3D_REC_FIRST;
        c = NewCopy<RecInstCopy>(r->insts, inst->id);
    }
    if (c) {
        c->frame = r->frame;
        int32_t m[9];
        Rows(inst->matrix, m);
        const Group groups[] = {
            G(B3D_RINS_PARENT, &c->parent, inst->parent ? inst->parent->id : 0u),
            G(B3D_RINS_SCENE, &c->scene, SceneId(inst->scene)),
            G(B3D_RINS_POS, c->pos, inst->pos.x, inst->pos.y, inst->pos.z),
            GA(B3D_RINS_MATRIX, c->matrix, m, 9),
            GA(B3D_RINS_VELOCITY, c->velocity, inst->velocity, 3),
            G(B3D_RINS_DETAIL, &c->detailValue, inst->detailValue),
            G(B3D_RINS_DETAIL_BASE, &c->detailBase, inst->detailBase),
            G(B3D_RINS_FLAGS, &c->flags, inst->flags),
            G(B3D_RINS_FLAGS2, &c->flags2, inst->flags2),
            G(B3D_RINS_BODY, &c->bodyId, inst->bodyId),
            G(B3D_RINS_SIZE, &c->size, inst->size),
            G(B3D_RINS_SCALE, c->scale, inst->scale.x, inst->scale.y, inst->scale.z),
            G(B3D_RINS_DETAIL_SWITCH, &c->detailSwitch, inst->detailSwitch),
            G(B3D_RINS_USED_SIZE, &c->usedSize, inst->usedSize),
            G(B3D_RINS_COLOR, c->color, static_cast<int16_t>(inst->lightColor[0]),
              static_cast<int16_t>(inst->lightColor[1]), static_cast<int16_t>(inst->lightColor[2])),
            GA(B3D_RINS_ATTEN, c->atten, inst->lightAtten, 3),
            G(B3D_RINS_EFFECT, &c->overrideEffect, inst->overrideEffect),
            G(B3D_RINS_RANGE, &c->range, inst->lightRange),
            GA(B3D_RINS_WORDS, c->words, inst->extraWords, 2),
        };
        constexpr size_t count = sizeof groups / sizeof groups[0];
        mask |= Compare(groups, count);
        if (mask & B3D_RINS_BODY) mask |= B3D_RINS_SIZE;  // the size always follows a new body
        if (NamesDiffer(inst->name, c->name)) mask |= B3D_RINS_NAME;
        if (mask) {
            PutTag(r, "RINS");
            PutU32(r, inst->id);
            PutU32(r, mask);
            WriteGroups(r, groups, count, mask);
            if (mask & B3D_RINS_NAME) WriteName(r, &c->name, inst->name);
            c->mask = mask;
        }
    }
    for (Inst3D* child = B3D_First<Inst3D>(&inst->children); child; child = B3D_Next(child)) RecordInstWith(r, child);
}

void RecordCameraWith(B3DRecorder* r, Camera3D* cam) {
    Inst3D* inst = &cam->inst;
    auto* c = reinterpret_cast<RecCameraCopy*>(Qel_TableGet(r->cameras, inst->id));
    uint32_t mask = 0;
    if (!c) {
        // The priority always comes with the first record, even when it is 0.
        mask = B3D_REC_FIRST | B3D_RCAM_PRIORITY;
        c = NewCopy<RecCameraCopy>(r->cameras, inst->id);
        if (!c) return;
    }
    c->frame = r->frame;
    int32_t m[9], m2[9], viewport[4];
    Rows(inst->matrix, m);
    Rows(inst->worldMatrix, m2);
    B3D_CameraGetViewPort(cam, viewport);
    const Group groups[] = {
        G(B3D_RCAM_SCENE, &c->scene, SceneId(inst->scene)),
        G(B3D_RCAM_POS, c->pos, inst->pos.x, inst->pos.y, inst->pos.z),
        GA(B3D_RCAM_MATRIX, c->matrix, m, 9),
        G(B3D_RCAM_PRIORITY, &c->priority, cam->priority),
        G(B3D_RCAM_FLAGS, &c->flags, cam->camFlags),
        G(B3D_RCAM_ROLL, &c->roll, cam->roll),
        GA(B3D_RCAM_VIEWPORT, c->viewport, viewport, 4),
        G(B3D_RCAM_FOCUS, &c->focus, cam->focus),
        GA(B3D_RCAM_BACKGROUND, c->background, cam->background, 3),
        GA(B3D_RCAM_ONES, c->ones, cam->ones, 3),
        GA(B3D_RCAM_MATRIX2, c->matrix2, m2, 9),
        GA(B3D_RCAM_ASPECT, c->aspect, cam->aspect, 2),
    };
    constexpr size_t count = sizeof groups / sizeof groups[0];
    mask |= Compare(groups, count);
    if (NamesDiffer(inst->name, c->name)) mask |= B3D_RCAM_NAME;
    if (!mask) return;
    PutTag(r, "RCAM");
    PutU32(r, inst->id);
    PutU32(r, mask);
    WriteGroups(r, groups, count, mask);
    if (mask & B3D_RCAM_NAME) WriteName(r, &c->name, inst->name);
    c->mask = mask;
}

int32_t EmitterCount(const ParticleGenerator* g) {
    if (!g->emitters || g->desc < 0 || g->desc >= 100) return 0;
    const int32_t n = g_B3DState->particleDescs[g->desc].emitterCount;
    return n > 0 ? n : 0;
}

void RecordGenerator(B3DRecorder* r, ParticleGenerator* g) {
    auto* c = reinterpret_cast<RecGeneratorCopy*>(Qel_TableGet(r->generators, g->id));
    uint32_t mask = 0;
    if (!c) {
        mask = B3D_REC_FIRST;
        c = NewCopy<RecGeneratorCopy>(r->generators, g->id);
        if (!c) {
            PutTag(r, "RPGE");
            PutU32(r, g->id);
            PutU32(r, mask);
            return;
        }
    }
    c->frame = r->frame;
    int32_t m[9];
    Rows(g->matrix, m);
    const Group groups[] = {
        G(B3D_RPGE_DESC, &c->desc, g->desc),
        G(B3D_RPGE_POS, c->pos, g->offset.x, g->offset.y, g->offset.z),
        GA(B3D_RPGE_MATRIX, c->matrix, m, 9),
        G(B3D_RPGE_INTENSITY, &c->intensity, g->intensity),
        G(B3D_RPGE_TIME, &c->time, g->prevTime),
        G(B3D_RPGE_PREV_POS, c->prevPos, g->prevPos.x, g->prevPos.y, g->prevPos.z),
        G(B3D_RPGE_PREV_DIR, c->prevDir, g->prevVelocity.x, g->prevVelocity.y, g->prevVelocity.z),
        G(B3D_RPGE_PREV_QUAT, c->quat, g->prevOrientation.w, g->prevOrientation.x, g->prevOrientation.y,
          g->prevOrientation.z),
        G(B3D_RPGE_SCENE, &c->scene, SceneId(g->scene)),
    };
    constexpr size_t count = sizeof groups / sizeof groups[0];
    mask |= Compare(groups, count);
    const int32_t emitters = EmitterCount(g);
    bool emittersDiffer = emitters != c->emitterCount;
    for (int32_t i = 0; !emittersDiffer && i < emitters; ++i)
        emittersDiffer = g->emitters[i].lastSpawn != c->lastSpawn[i];
    if (emittersDiffer) mask |= B3D_RPGE_EMITTERS;
    PutTag(r, "RPGE");
    PutU32(r, g->id);
    PutU32(r, mask);
    WriteGroups(r, groups, count, mask);
    if (mask & B3D_RPGE_EMITTERS) {
        PutU32(r, static_cast<uint32_t>(emitters));
        for (int32_t i = 0; i < emitters; ++i) PutU32(r, static_cast<uint32_t>(g->emitters[i].lastSpawn));
        if (c->emitterCount != emitters) {
            if (c->lastSpawn) B3D_FreeMemR(c->emitterCount * static_cast<int32_t>(sizeof(int32_t)), c->lastSpawn);
            c->emitterCount = 0;
            c->lastSpawn = nullptr;
            if (emitters > 0) {
                c->lastSpawn = static_cast<int32_t*>(B3D_ReAllocMemR(emitters * static_cast<int32_t>(sizeof(int32_t))));
                if (c->lastSpawn) c->emitterCount = emitters;
            }
        }
        for (int32_t i = 0; i < c->emitterCount; ++i) c->lastSpawn[i] = g->emitters[i].lastSpawn;
    }
    c->mask = mask;
}

// Writes the deletion record of every copy not visited this frame (its object
// was freed, left its scene, or its scene or camera was switched off) and
// drops it; every copy when all is set.
template <class Copy>
void DropCopies(B3DRecorder* r, QelTable* table, const char* tag, bool all) {
    for (uint32_t k = Qel_TableNext(table, 0); k;) {
        const uint32_t next = Qel_TableNext(table, k);
        auto* c = reinterpret_cast<Copy*>(Qel_TableGet(table, k));
        if (all || c->frame != r->frame) {
            if (!all) {
                PutTag(r, tag);
                PutU32(r, k);
                PutU32(r, B3D_REC_DELETED);
            }
            Qel_TableRemove(table, k);
            FreeCopy(c);
        }
        k = next;
    }
}

void WriteTexRecord(void* recorder, const uint8_t* bytes, size_t size);

// Ends the recording: "REND" when it closes in order, nothing more after a
// failed write; the copies, the file and the recorder go.
void Finish(B3DRecorder* r, bool orderly) {
    if (orderly) PutTag(r, "REND");
    DropCopies<RecSceneCopy>(r, r->scenes, "RSCE", true);
    DropCopies<RecInstCopy>(r, r->insts, "RINS", true);
    DropCopies<RecCameraCopy>(r, r->cameras, "RCAM", true);
    DropCopies<RecGeneratorCopy>(r, r->generators, "RPGE", true);
    for (QelTable* t : {r->scenes, r->insts, r->cameras, r->generators}) Qel_TableFree(t);
    const bool closed = Qel_fclose(r->file) == 0;
    if (orderly && (r->failed || !closed)) Qel_ErrPrintf("B3D_ExitRecording() Write failed, recording incomplete\n");
    B3D_FreeMemR(sizeof(B3DRecorder), r);
    s_recorder = nullptr;
    B3D_TexSetRecordWriter(nullptr, nullptr);
    B3D_ClearEngineFlags(B3D_ENGINE_RECORDING);
}

// A failed write ends the recording at once, so it never goes on into a file
// that silently misses frames.
bool StopIfFailed(B3DRecorder* r) {
    if (!r->failed) return false;
    Qel_ErrPrintf("B3D_RecordFrame() Write failed, recording stopped\n");
    Finish(r, false);
    return true;
}

void WriteTexRecord(void* recorder, const uint8_t* bytes, size_t size) {
    auto* r = static_cast<B3DRecorder*>(recorder);
    if (!r || r != s_recorder) return;
    Put(r, bytes, size);
    StopIfFailed(r);
}

int32_t RealClock() { return g_SystemState ? g_SystemState->realClock : 0; }

void RecordNameBlock(B3DRecorder* r) {
    if (!r->failed && !B3D_RecordNames(r->file, B3DNameRule::Modulo)) r->failed = 1;
    r->bodyNames = g_B3DState->bodyIds.dynamicCount;
    r->cutNames = g_B3DState->cutIds.dynamicCount;
}

}  // namespace

int32_t B3D_InitRecording(const char* name) {
    if (!g_B3DState || !name) return 0;
    if (s_recorder) B3D_ExitRecording();
    auto* r = static_cast<B3DRecorder*>(B3D_ReAllocMemR(sizeof(B3DRecorder)));
    if (!r) {
        Qel_BannerPrintf("B3D_InitRecording() Unable to alloc Record struct\n");
        return 0;
    }
    char* fileName = Qel_Format(nullptr, "%s.rec", name);
    r->file = fileName ? Qel_fcopen(fileName, "wb", 0) : nullptr;
    Qel_StrFree(fileName);
    if (!r->file) {
        Qel_BannerPrintf("B3D_InitRecording() Unable to open file\n");
        B3D_FreeMemR(sizeof(B3DRecorder), r);
        return 0;
    }
    Qel_DPrintf(0, "B3D_InitRecording() Start Recording\n");
    r->scenes = Qel_TableCreate();
    r->insts = Qel_TableCreate();
    r->cameras = Qel_TableCreate();
    r->generators = Qel_TableCreate();
    r->frame = 1;
    B3D_SetEngineFlags(B3D_ENGINE_RECORDING);
    s_recorder = r;
    B3D_TexSetRecordWriter(&WriteTexRecord, r);
    PutTag(r, "RECO");
    PutU32(r, 1);
    PutU32(r, static_cast<uint32_t>(std::time(nullptr)));
    PutTag(r, "RNAM");
    RecordNameBlock(r);
    PutTag(r, "RFRA");
    PutU32(r, static_cast<uint32_t>(RealClock()));
    Flush(r);
    if (!r->scenes || !r->insts || !r->cameras || !r->generators) r->failed = 1;
    return StopIfFailed(r) ? 0 : 1;
}

void B3D_RecordInst(Inst3D* inst) {
    if (s_recorder && inst) RecordInstWith(s_recorder, inst);
}

void B3D_RecordCamera(Camera3D* camera) {
    if (s_recorder && camera) RecordCameraWith(s_recorder, camera);
}

void B3D_RecordFrame() {
    B3DRecorder* r = s_recorder;
    if (!r || !g_B3DState) return;
    ++r->frame;
    PutTag(r, "RFRA");
    PutU32(r, static_cast<uint32_t>(RealClock()));
    if (g_B3DState->bodyIds.dynamicCount != r->bodyNames || g_B3DState->cutIds.dynamicCount != r->cutNames) {
        PutTag(r, "RNAM");
        RecordNameBlock(r);
    }
    for (Scene3D* scene = B3D_First<Scene3D>(&g_B3DState->scenes); scene; scene = B3D_Next(scene)) {
        if (!(scene->flags & SCENE_ENABLED) || scene == g_B3DState->lensFlareScene) continue;
        RecordScene(r, scene);
        for (Inst3D* inst = B3D_First<Inst3D>(&scene->insts); inst; inst = B3D_Next(inst)) RecordInstWith(r, inst);
        for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam))
            if (cam->camFlags & CAM_ACTIVE) RecordCameraWith(r, cam);
    }
    DropCopies<RecSceneCopy>(r, r->scenes, "RSCE", false);
    DropCopies<RecInstCopy>(r, r->insts, "RINS", false);
    DropCopies<RecCameraCopy>(r, r->cameras, "RCAM", false);
    for (auto* g = B3D_First<ParticleGenerator>(&g_B3DState->generators); g; g = B3D_Next(g)) RecordGenerator(r, g);
    DropCopies<RecGeneratorCopy>(r, r->generators, "RPGE", false);
    Flush(r);
    StopIfFailed(r);
}

void B3D_ExitRecording() {
    if (s_recorder) {
        Qel_DPrintf(0, "B3D_ExitRecording() Stopping Recording\n");
        Finish(s_recorder, true);
    }
    if (g_B3DState) B3D_ClearEngineFlags(B3D_ENGINE_RECORDING);
    B3D_TexSetRecordWriter(nullptr, nullptr);
}

int32_t B3D_CallInitRecording(const char* name) {
    if (!g_B3DState || (B3D_GetEngineFlags() & (B3D_ENGINE_RECORDING | B3D_ENGINE_REPLAYING))) return 0;
    return B3D_InitRecording(name);
}

int32_t B3D_CallExitRecording() {
    if (g_B3DState && (B3D_GetEngineFlags() & B3D_ENGINE_RECORDING)) B3D_ExitRecording();
    return 0;
}
