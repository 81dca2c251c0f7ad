#include "scene/savesection.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/file.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texanim.h"
#include "scene/caches.h"
#include "scene/idnames.h"
#include "scene/instcoll.h"
#include "scene/names.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/texanim.h"
#include "scene/trees.h"

namespace {

constexpr uint32_t LOG_SAVE = 0x80000000;
constexpr int32_t CAMERA_PRIORITY_MENU = 30;
constexpr int32_t CAMERA_PRIORITY_TOOLTIP = 95;

void PutWord(uint8_t* p, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u >> 24);
    p[1] = static_cast<uint8_t>(u >> 16);
    p[2] = static_cast<uint8_t>(u >> 8);
    p[3] = static_cast<uint8_t>(u);
}

int32_t GetWord(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]));
}

int32_t IdOf(const Inst3D* inst) { return inst ? static_cast<int32_t>(inst->id) : 0; }
int32_t IdOf(const Scene3D* scene) { return scene ? static_cast<int32_t>(scene->id) : 0; }
const char* NameOf(const Inst3D* inst) { return inst->name ? inst->name : ""; }

bool HasMaterials(const Inst3D* inst) { return inst->materialOverrides && inst->materialOverrideCount > 0; }

// The name's bytes with their NUL, as many as a load accepts.
int32_t NameLength(const Inst3D* inst) {
    if (!inst->name) return 0;
    return static_cast<int32_t>(std::min<size_t>(std::strlen(inst->name), B3D_LOAD_MAX_NAME - 1)) + 1;
}

// Stops at the first write that fails; everything after it is skipped.
class Writer {
public:
    explicit Writer(QelFile* file) : file_(file) {}
    bool Bytes(const void* data, size_t n) {
        if (ok_ && n && Qel_fwriteBlock(file_, 1, n, data) != n) ok_ = false;
        return ok_;
    }
    bool Tag(const char* tag) { return Bytes(tag, 4); }
    bool Words(const int32_t* words, int32_t count) {
        uint8_t raw[B3D_SAVE_INST_WORDS * 4];
        for (int32_t i = 0; i < count; ++i) PutWord(raw + 4 * i, words[i]);
        return Bytes(raw, static_cast<size_t>(count) * 4);
    }
    bool Word(int32_t w) { return Words(&w, 1); }
    void Fail() { ok_ = false; }
    bool Ok() const { return ok_; }
    QelFile* File() const { return file_; }

private:
    QelFile* file_;
    bool ok_ = true;
};

void PutTriple(int32_t* w, const QelVector& v) {
    w[0] = v.x;
    w[1] = v.y;
    w[2] = v.z;
}

void PutRows(int32_t* w, const QelMatrix& m) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) w[3 * r + c] = m.m[4 * r + c];
}

void GetTriple(const int32_t* w, QelVector& v) {
    v.x = w[0];
    v.y = w[1];
    v.z = w[2];
}

void GetRows(const int32_t* w, QelMatrix& m) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.m[4 * r + c] = w[3 * r + c];
}

// The instance record. Our Inst3D keeps its job words in another order than
// the record's: the six words before the job word hold the job's times, its
// script object and path word; the words after it the bound instance, the
// rotation state, the velocity, the job's position, the reply, the cut and
// path, and the sound. The job's matrix is not kept: the take update computes
// it again each frame.
void InstWords(const Inst3D* i, int32_t* w) {
    std::fill(w, w + B3D_SAVE_INST_WORDS, 0);
    w[0] = IdOf(i);
    w[1] = i->word0;
    w[2] = B3D_ListCount(&i->children);
    w[3] = IdOf(i->parent);
    w[4] = IdOf(i->scene);
    PutTriple(w + 5, i->pos);
    PutRows(w + 8, i->matrix);
    w[17] = i->size;
    PutTriple(w + 18, i->scale);
    for (int k = 0; k < 3; ++k) w[21 + k] = i->savedWords[k];
    w[24] = i->radius;
    w[25] = i->totalRadius;
    PutTriple(w + 26, i->worldPos);
    PutRows(w + 29, i->worldMatrix);
    PutTriple(w + 38, i->viewPos);
    PutTriple(w + 41, i->refPoint);
    PutTriple(w + 44, i->refViewPos);
    w[47] = i->detailValue;
    w[48] = i->detailBase;
    w[49] = i->detailWord;
    w[50] = static_cast<int32_t>(i->flags);
    w[51] = static_cast<int32_t>(i->flags2);
    w[52] = i->savedWords2[0];
    w[53] = i->savedWords2[1];
    w[54] = i->alphaOverride;
    w[55] = i->bodyId;
    w[56] = i->detailSwitch;
    w[57] = -1;
    w[58] = i->usedSize;
    for (int k = 0; k < 3; ++k) w[59 + k] = static_cast<int16_t>(i->lightColor[k]);
    w[64] = i->lightRange;
    for (int k = 0; k < 3; ++k) w[65 + k] = i->lightAtten[k];
    w[68] = i->lightValue;
    w[69] = i->savedHalves[0];
    w[70] = i->savedHalves[1];
    w[71] = i->savedWords3[1];
    w[72] = i->markValue;
    w[73] = i->overrideEffect;
    w[74] = HasMaterials(i) ? i->materialOverrideCount : 0;
    w[75] = i->flareSizeWeight;
    w[76] = i->flareWord;
    w[77] = i->pass;
    w[78] = NameLength(i);
    for (int k = 0; k < 4; ++k) w[79 + k] = i->colorModifier[k];
    w[83] = i->extraWords[0];
    w[84] = i->extraWords[1];
    w[85] = i->jobOrigin;
    w[86] = i->jobStamp;
    w[87] = i->jobFrom;
    w[88] = i->jobTo;
    w[89] = i->storyObject;
    w[90] = i->pathWord;
    w[91] = static_cast<int32_t>(i->jobFlags);
    w[92] = IdOf(i->boundInst);
    for (int k = 0; k < 3; ++k) w[96 + k] = i->rotAngles[k];
    w[99] = i->rotQuat.w;
    w[100] = i->rotQuat.x;
    w[101] = i->rotQuat.y;
    w[102] = i->rotQuat.z;
    for (int k = 0; k < 3; ++k) w[103 + k] = i->velocity[k];
    w[108] = i->jobPos.x;
    w[109] = i->jobPos.y;
    w[110] = i->jobPos.z;
    w[111] = i->jobPos.w;
    w[116] = i->replyModule;
    w[117] = i->replyHandle;
    w[118] = i->cutId;
    w[119] = i->pathNr;
    w[120] = i->soundId;
    w[121] = i->soundChannel;
}

// The ids a record names; resolved once every record of the load is read.
struct InstRefs {
    uint32_t parent, scene, bound, environment;
};

InstRefs TakeInstWords(Inst3D* i, const int32_t* w) {
    i->word0 = w[1];
    GetTriple(w + 5, i->pos);
    GetRows(w + 8, i->matrix);
    i->size = w[17];
    GetTriple(w + 18, i->scale);
    for (int k = 0; k < 3; ++k) i->savedWords[k] = w[21 + k];
    i->radius = w[24];
    i->totalRadius = w[25];
    GetTriple(w + 26, i->worldPos);
    GetRows(w + 29, i->worldMatrix);
    GetTriple(w + 38, i->viewPos);
    GetTriple(w + 41, i->refPoint);
    GetTriple(w + 44, i->refViewPos);
    i->detailValue = w[47];
    i->detailBase = w[48];
    i->detailWord = w[49];
    // Nothing of the saving run is in this renderer, and no sound channel of
    // it plays here.
    i->flags = static_cast<uint32_t>(w[50]) & ~INST_IN_RENDERER;
    i->flags2 = static_cast<uint32_t>(w[51]);
    i->savedWords2[0] = w[52];
    i->savedWords2[1] = w[53];
    i->alphaOverride = w[54];
    i->bodyId = w[55];
    i->detailSwitch = w[56];
    i->detailWord2 = w[57];
    i->usedSize = w[58];
    for (int k = 0; k < 3; ++k) i->lightColor[k] = static_cast<uint16_t>(w[59 + k]);
    i->lightRange = w[64];
    for (int k = 0; k < 3; ++k) i->lightAtten[k] = w[65 + k];
    i->lightValue = w[68];
    i->savedHalves[0] = static_cast<int16_t>(w[69]);
    i->savedHalves[1] = static_cast<int16_t>(w[70]);
    i->savedWords3[1] = w[71];
    i->markValue = w[72];
    i->overrideEffect = w[73];
    i->flareSizeWeight = w[75];
    i->flareWord = w[76];
    i->pass = w[77];
    for (int k = 0; k < 4; ++k) i->colorModifier[k] = w[79 + k];
    i->extraWords[0] = w[83];
    i->extraWords[1] = w[84];
    i->jobOrigin = w[85];
    i->jobStamp = w[86];
    i->jobFrom = w[87];
    i->jobTo = w[88];
    i->storyObject = w[89];
    i->pathWord = w[90];
    i->jobFlags = static_cast<uint32_t>(w[91]);
    for (int k = 0; k < 3; ++k) i->rotAngles[k] = w[96 + k];
    i->rotQuat = {w[99], w[100], w[101], w[102]};
    for (int k = 0; k < 3; ++k) i->velocity[k] = w[103 + k];
    i->jobPos = {w[108], w[109], w[110], w[111]};
    i->replyModule = w[116];
    i->replyHandle = w[117];
    i->cutId = w[118];
    i->pathNr = w[119];
    i->soundId = w[120];
    i->soundChannel = w[121];
    if (i->flags2 & INST2_SOUND_CHANNEL) {
        i->flags2 &= ~INST2_SOUND_CHANNEL;
        i->soundChannel = -1;
    }
    return {static_cast<uint32_t>(w[3]), static_cast<uint32_t>(w[4]), static_cast<uint32_t>(w[92]), 0};
}

// The camera record: ten rows of x, y, z from the camera's working words
// (the one-words, aspect and caustic texture, fog, then the motion fields:
// position, matrix and z rate; two rows spare), then the motion time.
void CameraWords(const Camera3D* c, int32_t* w) {
    std::fill(w, w + B3D_SAVE_CAMERA_WORDS, 0);
    w[0] = static_cast<int32_t>(c->camFlags);
    w[1] = c->roll;
    for (int k = 0; k < 4; ++k) w[2 + k] = c->viewport[k];
    w[6] = c->focus;
    w[7] = c->priority;
    for (int k = 0; k < 3; ++k) w[8 + k] = c->background[k];
    for (int k = 0; k < 3; ++k) w[11 + k] = c->ones[k];
    w[14] = c->aspect[0];
    w[15] = c->aspect[1];
    w[16] = c->causticTexture;
    for (int k = 0; k < 3; ++k) w[17 + k] = c->fog[k];
    PutTriple(w + 20, c->motionPos);
    PutRows(w + 23, c->motionMatrix);
    for (int k = 0; k < 3; ++k) w[32 + k] = c->zRate[k];
    w[41] = c->motionTime;
    w[45] = c->fadeValue;
    w[46] = IdOf(c->environmentSource);
}

uint32_t TakeCameraWords(Camera3D* c, const int32_t* w) {
    c->camFlags = static_cast<uint32_t>(w[0]);
    c->roll = w[1];
    for (int k = 0; k < 4; ++k) c->viewport[k] = w[2 + k];
    c->focus = w[6];
    c->priority = w[7];
    for (int k = 0; k < 3; ++k) c->background[k] = w[8 + k];
    for (int k = 0; k < 3; ++k) c->ones[k] = w[11 + k];
    c->aspect[0] = w[14];
    c->aspect[1] = w[15];
    c->causticTexture = w[16];
    for (int k = 0; k < 3; ++k) c->fog[k] = w[17 + k];
    GetTriple(w + 20, c->motionPos);
    GetRows(w + 23, c->motionMatrix);
    for (int k = 0; k < 3; ++k) c->zRate[k] = w[32 + k];
    c->motionTime = w[41];
    c->fadeValue = w[45];
    return static_cast<uint32_t>(w[46]);
}

// ------------------------------------------------------------------ saving

bool SaveTree(Writer& out, const Inst3D* inst) {
    int32_t w[B3D_SAVE_INST_WORDS];
    InstWords(inst, w);
    if (!out.Words(w, B3D_SAVE_INST_WORDS)) return false;
    if (HasMaterials(inst) && !TC_WriteMaterials(inst->materialOverrideCount, out.File(),
                                                 static_cast<const TC_Material*>(inst->materialOverrides))) {
        out.Fail();
        return false;
    }
    if (inst->flags & INST_CAMERA) {
        int32_t c[B3D_SAVE_CAMERA_WORDS];
        CameraWords(reinterpret_cast<const Camera3D*>(inst), c);
        if (!out.Words(c, B3D_SAVE_CAMERA_WORDS)) return false;
    }
    if (const int32_t n = w[78]; n > 0) {
        if (!out.Bytes(inst->name, static_cast<size_t>(n - 1))) return false;
        if (!out.Bytes("", 1)) return false;
    }
    Qel_DPrintf(LOG_SAVE, (inst->flags & INST_LIGHT) ? "Saving Light %d [%s]\n" : "Saving Inst %d [%s]\n",
                static_cast<int>(inst->id), NameOf(inst));
    for (const Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (!SaveTree(out, c)) return false;
    return true;
}

bool Saved(const Inst3D* inst) { return !(inst->flags2 & INST2_NOT_SAVED); }
bool Saved(const Scene3D* scene) { return !(scene->flags & SCENE_NOT_SAVED); }

// The system scale × 10000 × 65536 in single precision, truncated; beyond 32
// bits it is clamped (a value that is not a number gives 0).
int32_t ScaleWord(float scale, bool* clamped) {
    const float v = scale * 10000.0f * 65536.0f;
    *clamped = true;
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    *clamped = false;
    return static_cast<int32_t>(v);
}

int32_t SceneScaleWord(const Scene3D* scene) {
    bool clamped = false;
    const int32_t word = ScaleWord(scene->systemScale, &clamped);
    if (clamped)
        Qel_ErrPrintf("B3D_SaveGame: system scale %g of scene %d does not fit, saved as %d\n",
                      static_cast<double>(scene->systemScale), static_cast<int>(scene->id), static_cast<int>(word));
    return word;
}

// The float whose saved word is the given one, when there is such a float.
float ScaleOf(int32_t word) {
    const float near = static_cast<float>(static_cast<double>(word) / 655360000.0);
    for (float f : {near, std::nextafter(near, 1e30f), std::nextafter(near, -1e30f)}) {
        bool clamped = false;
        if (ScaleWord(f, &clamped) == word) return f;
    }
    return near;
}

void ListOfSaved(const B3DList* list, std::vector<const Inst3D*>& out) {
    for (const Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i))
        if (Saved(i)) out.push_back(i);
}

// ------------------------------------------------------------------ loading

struct LoadContext {
    std::vector<Inst3D*> created;  // in the order they were read
    std::vector<InstRefs> refs;
};

LoadContext* s_load = nullptr;

bool ReadWords(QelFile* file, int32_t* w, int32_t count) {
    uint8_t raw[B3D_SAVE_INST_WORDS * 4];
    const size_t n = static_cast<size_t>(count) * 4;
    if (Qel_fread(file, 1, n, raw) != n) return false;
    for (int32_t i = 0; i < count; ++i) w[i] = GetWord(raw + 4 * i);
    return true;
}

bool Cookie(QelFile* file, const char* tag, const char* message) {
    char got[4];
    if (Qel_fread(file, 1, 4, got) == 4 && std::memcmp(got, tag, 4) == 0) return true;
    Qel_BannerPrintf("%s", message);
    return false;
}

// A record that never reached the id table goes again with what it holds.
void FreeUnentered(Inst3D* inst) {
    B3D_InstFreeMaterialOverrides(inst);
    inst->name = Qel_StrFree(inst->name);
    if (inst->flags & INST_CAMERA) B3D_FreeRecordI(reinterpret_cast<Camera3D*>(inst));
    else B3D_FreeRecordI(inst);
}

bool InTree(const Inst3D* inst, const Inst3D* parent) {
    for (const Inst3D* a = parent; a; a = a->parent)
        if (a == inst) return true;
    return false;
}

// Links every record the load made, in the order they were read: under its
// parent, else into its scene, else into the list of instances in no scene;
// then every descendant takes its top instance's scene and the instances a
// record names are looked up.
void Relink(LoadContext& ctx) {
    B3DState* s = g_B3DState;
    for (size_t k = 0; k < ctx.created.size(); ++k) {
        Inst3D* inst = ctx.created[k];
        const InstRefs& r = ctx.refs[k];
        if (inst->flags & INST_LIGHT)
            Qel_DPrintf(LOG_SAVE, "Restore Light %d [%s]\n", static_cast<int>(inst->id), NameOf(inst));
        Inst3D* parent = r.parent ? B3D_InstFind(r.parent) : nullptr;
        if (r.parent && !parent) {
            Qel_ErrPrintf("B3D_LoadGame: Cant find parent %d of inst %d\n", static_cast<int>(r.parent),
                          static_cast<int>(inst->id));
        } else if (parent && InTree(inst, parent)) {
            Qel_ErrPrintf("B3D_LoadGame: Parent %d of inst %d is in its own tree\n", static_cast<int>(r.parent),
                          static_cast<int>(inst->id));
            parent = nullptr;
        }
        if (parent) {
            B3D_ListAppend(&parent->children, B3D_Node(inst));
            inst->parent = parent;
            continue;
        }
        Scene3D* scene = r.scene ? B3D_SceneFind(r.scene) : nullptr;
        if (r.scene && !scene)
            Qel_ErrPrintf("B3D_LoadGame: Cant find scene %d for inst %d\n", static_cast<int>(r.scene),
                          static_cast<int>(inst->id));
        if (scene) {
            B3D_ListAppend((inst->flags & INST_CAMERA) ? &scene->cameras : &scene->insts, B3D_Node(inst));
            inst->scene = scene;
        } else {
            B3D_ListAppend(&s->freeInsts, B3D_Node(inst));
        }
    }
    for (size_t k = 0; k < ctx.created.size(); ++k) {
        Inst3D* inst = ctx.created[k];
        const Inst3D* top = inst;
        while (top->parent) top = top->parent;
        inst->scene = top->scene;
        const InstRefs& r = ctx.refs[k];
        inst->boundInst = r.bound ? B3D_InstFind(r.bound) : nullptr;
        if (inst->flags & INST_CAMERA)
            reinterpret_cast<Camera3D*>(inst)->environmentSource =
                r.environment ? B3D_InstFind(r.environment) : nullptr;
    }
    ctx.created.clear();
    ctx.refs.clear();
}

Inst3D* LoadTree(QelFile* file, LoadContext& ctx, int32_t depth) {
    int32_t w[B3D_SAVE_INST_WORDS];
    if (!ReadWords(file, w, B3D_SAVE_INST_WORDS)) {
        Qel_ErrPrintf("B3D_LoadInst: Failed reading Inst3D\n");
        return nullptr;
    }
    if (depth >= B3D_LOAD_MAX_DEPTH) {
        Qel_ErrPrintf("B3D_LoadInst: Inst3D %d nested deeper than %d\n", static_cast<int>(w[0]), B3D_LOAD_MAX_DEPTH);
        return nullptr;
    }
    const bool camera = static_cast<uint32_t>(w[50]) & INST_CAMERA;
    Inst3D* inst = camera ? reinterpret_cast<Inst3D*>(B3D_AllocRecordI<Camera3D>()) : B3D_AllocRecordI<Inst3D>();
    if (!inst) {
        Qel_ErrPrintf("B3D_LoadInst: No MEM for Inst3D\n");
        return nullptr;
    }
    B3D_ListInit(&inst->children);
    InstRefs refs = TakeInstWords(inst, w);
    auto fail = [inst](const char* message, int32_t value) -> Inst3D* {
        Qel_ErrPrintf(message, static_cast<int>(value));
        FreeUnentered(inst);
        return nullptr;
    };
    const int32_t materials = w[74];
    if (materials < 0 || materials > B3D_LOAD_MAX_MATERIALS)
        return fail("B3D_LoadInst: Bad material count %d\n", materials);
    if (materials > 0) {
        inst->materialOverrides = TC_ReadMaterials(materials, file);
        if (!inst->materialOverrides) return fail("B3D_LoadInst: Failed reading %d materials\n", materials);
        inst->materialOverrideCount = materials;
    }
    if (camera) {
        auto* cam = reinterpret_cast<Camera3D*>(inst);
        B3D_ListInit(&cam->items);
        B3D_ListInit(&cam->facing);
        int32_t c[B3D_SAVE_CAMERA_WORDS];
        if (!ReadWords(file, c, B3D_SAVE_CAMERA_WORDS)) return fail("B3D_LoadInst: Failed reading Camera3D %d\n", w[0]);
        refs.environment = TakeCameraWords(cam, c);
    }
    const int32_t nameLength = w[78];
    if (nameLength < 0 || nameLength > B3D_LOAD_MAX_NAME) return fail("B3D_LoadInst: Bad name length %d\n", nameLength);
    if (nameLength > 0) {
        std::vector<char> bytes(static_cast<size_t>(nameLength));
        if (Qel_fread(file, 1, bytes.size(), bytes.data()) != bytes.size())
            return fail("B3D_LoadInst: Failed reading the name of Inst3D %d\n", w[0]);
        bytes.back() = '\0';
        inst->name = Qel_StrDup(bytes.data());
        if (!inst->name) {
            Qel_ErrPrintf("B3D_LoadInst: No MEM for Inst3D Name\n");
            FreeUnentered(inst);
            return nullptr;
        }
    }
    // The model belongs to the body, which this engine may not have built
    // yet; a body that gives none leaves the instance without the flag.
    if ((inst->flags & INST_COLLISION_MODEL) && !B3D_CollBuildModel(inst, inst->collLevel))
        inst->flags &= ~INST_COLLISION_MODEL;
    // An id must be new: a second record under one id would leave the first
    // unreachable.
    const auto id = static_cast<uint32_t>(w[0]);
    if (id == 0 || id > QEL_TABLE_MAX_KEY || Qel_TableGet(g_B3DState->instTable, id))
        return fail("B3D_LoadInst: Bad or used inst id %d\n", w[0]);
    if (!Qel_TableSet(g_B3DState->instTable, id, reinterpret_cast<uintptr_t>(inst)))
        return fail("B3D_LoadInst: No MEM for the id of Inst3D %d\n", w[0]);
    inst->id = id;
    ctx.created.push_back(inst);
    ctx.refs.push_back(refs);
    Qel_DPrintf(LOG_SAVE, (inst->flags & INST_LIGHT) ? "Loading Light %d [%s]\n" : "Loading Inst %d [%s]\n",
                static_cast<int>(id), NameOf(inst));
    if (inst->soundId) B3D_InstSetSound(inst, inst->soundId);
    if (camera) {
        auto* cam = reinterpret_cast<Camera3D*>(inst);
        if (const int32_t texture = cam->causticTexture; texture > 0) {
            cam->causticTexture = 0;
            B3D_CameraSetCausticAnim(cam, texture);
        }
    }
    if (inst->cutId) J3D_GetCut(inst->cutId);
    for (int32_t k = 0; k < w[2]; ++k)
        if (!LoadTree(file, ctx, depth + 1)) return nullptr;
    return inst;
}

bool LoadScene(QelFile* file, LoadContext& ctx) {
    int32_t w[B3D_SAVE_SCENE_WORDS];
    if (!ReadWords(file, w, B3D_SAVE_SCENE_WORDS)) {
        Qel_ErrPrintf("B3D_LoadGame: Failed reading Scene3D\n");
        return false;
    }
    auto* scene = B3D_AllocRecordI<Scene3D>();
    if (!scene) {
        Qel_ErrPrintf("B3D_LoadGame: No MEM for Scene3D\n");
        return false;
    }
    const auto id = static_cast<uint32_t>(w[0]);
    if (id == 0 || id > QEL_TABLE_MAX_KEY || Qel_TableGet(g_B3DState->sceneTable, id) ||
        !Qel_TableSet(g_B3DState->sceneTable, id, reinterpret_cast<uintptr_t>(scene))) {
        Qel_ErrPrintf("B3D_LoadGame: Bad or used scene id %d\n", static_cast<int>(w[0]));
        B3D_FreeRecordI(scene);
        return false;
    }
    scene->id = id;
    B3D_ListInit(&scene->insts);
    B3D_ListInit(&scene->cameras);
    B3D_ListInit(&scene->bufferGroups);
    scene->flags = static_cast<uint32_t>(w[2]);
    scene->systemScale = ScaleOf(w[4]);
    for (int k = 0; k < 3; ++k) scene->ints[k] = w[5 + k];
    B3D_ListAppend(&g_B3DState->scenes, B3D_Node(scene));
    if (!Cookie(file, "INST", "B3D_LoadGame: Wrong INST cookie in SCENE\n")) return false;
    for (int32_t k = 0; k < w[1]; ++k)
        if (!LoadTree(file, ctx, 0)) {
            Qel_ErrPrintf("B3D_LoadGame() Failed loading INST3D in SCENE3D\n");
            return false;
        }
    for (int32_t k = 0; k < w[3]; ++k)
        if (!LoadTree(file, ctx, 0)) {
            Qel_ErrPrintf("B3D_LoadGame() Failed loading CAMERA3D in SCENE3D\n");
            return false;
        }
    return true;
}

bool LoadCuts(QelFile* file) {
    int32_t count = 0;
    if (!ReadWords(file, &count, 1)) {
        Qel_ErrPrintf("B3D_LoadGame: Failed reading the cut count\n");
        return false;
    }
    for (int32_t k = 0; k < count; ++k) {
        int32_t w[B3D_SAVE_CUT_WORDS];
        if (!ReadWords(file, w, B3D_SAVE_CUT_WORDS)) {
            Qel_ErrPrintf("B3D_LoadGame: Failed reading J3D_Cut\n");
            return false;
        }
        // A placed cut is had again even when nothing else loaded it, so a
        // take started later plays it where the script put it.
        J3D_Cut* cut = J3D_GetCut(w[0]);
        if (!cut) continue;
        QelVector pos = cut->placePos;
        QelMatrix matrix = cut->placeMatrix;
        GetTriple(w + 1, pos);
        GetRows(w + 4, matrix);
        J3D_SetCutPos(cut, &pos, &matrix);
    }
    return true;
}

bool LoadTake(QelFile* file) {
    int32_t w[B3D_SAVE_TAKE_WORDS];
    if (!ReadWords(file, w, B3D_SAVE_TAKE_WORDS)) {
        Qel_ErrPrintf("B3D_LoadGame: Failed reading J3D_Take\n");
        return false;
    }
    auto* take = static_cast<J3D_Take*>(B3D_AllocMemJ(sizeof(J3D_Take), B3D_MEM_ZERO));
    if (!take) {
        Qel_ErrPrintf("B3D_LoadGame: No MEM for J3D_Take\n");
        return false;
    }
    const auto id = static_cast<uint32_t>(w[0]);
    if (id == 0 || id > QEL_TABLE_MAX_KEY || Qel_TableGet(g_B3DState->takeTable, id) ||
        !Qel_TableSet(g_B3DState->takeTable, id, reinterpret_cast<uintptr_t>(take))) {
        Qel_ErrPrintf("B3D_LoadGame: Bad or used take id %d\n", static_cast<int>(w[0]));
        B3D_FreeMemJ(sizeof(J3D_Take), take, 0);
        return false;
    }
    take->id = id;
    take->cutId = w[1];
    take->replyModule = w[2];
    take->replyHandle = w[3];
    take->scene = w[7] ? B3D_SceneFind(static_cast<uint32_t>(w[7])) : nullptr;
    take->cameraId = static_cast<uint32_t>(w[8]);
    GetTriple(w + 9, take->pos);
    GetRows(w + 12, take->matrix);
    GetTriple(w + 21, take->offset);
    take->cameraPath = w[24];
    take->state = w[25];
    const int32_t count = w[4];
    if (count < 0 || count > B3D_LOAD_MAX_TAKE_INSTS) {
        Qel_ErrPrintf("B3D_LoadGame: Bad instance count %d of J3D_Take %d\n", static_cast<int>(count),
                      static_cast<int>(id));
        return false;
    }
    if (take->cutId) J3D_GetCut(take->cutId);
    if (count == 0) return true;
    const int32_t bytes = count * static_cast<int32_t>(sizeof(Inst3D*));
    take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(bytes, B3D_MEM_ZERO));
    if (!take->insts) {
        Qel_ErrPrintf("J3D_LoadGame: No MEM for J3D_Take InstArray\n");
        return false;
    }
    take->instCount = count;
    for (int32_t k = 0; k < count; ++k) {
        int32_t instId = 0;
        if (!ReadWords(file, &instId, 1)) {
            Qel_ErrPrintf("B3D_LoadGame: Failed reading J3D_Take InstArray\n");
            return false;
        }
        take->insts[k] = instId ? B3D_InstFind(static_cast<uint32_t>(instId)) : nullptr;
    }
    return true;
}

template <class T>
T* FindRemembered(uint32_t id, T* (*find)(uint32_t), const char* message) {
    if (!id) return nullptr;
    T* found = find(id);
    if (!found) Qel_ErrPrintf(message, static_cast<int>(id));
    return found;
}

bool LoadSection(QelFile* file, LoadContext& ctx) {
    B3DState* s = g_B3DState;
    if (!Cookie(file, "B3D ", "B3D_LoadGame: Wrong B3D cookie\n")) return false;
    int32_t st[B3D_SAVE_STATE_WORDS];
    if (!ReadWords(file, st, B3D_SAVE_STATE_WORDS)) {
        Qel_ErrPrintf("B3D_LoadGame: Failed reading B3DState\n");
        return false;
    }
    s->engineFlags = static_cast<uint32_t>(st[2]);
    s->fadeValue = st[10];
    const auto flareSceneId = static_cast<uint32_t>(st[5]);
    const auto firstLightId = static_cast<uint32_t>(st[6]);
    const auto flareCheckId = static_cast<uint32_t>(st[7]);
    if (st[11] >= 0 && st[11] <= 255) B3D_SetGammaValue(st[11]);
    s->engineFlags &= ~B3D_ENGINE_RECORDING;

    if (!Cookie(file, "NAME", "B3D_LoadGame: Wrong NAME cookie\n")) return false;
    if (!B3D_ReadIdNameTables(file)) {
        Qel_ErrPrintf("B3D_LoadGame: Failed reading the id name tables\n");
        return false;
    }
    if (!Cookie(file, "INST", "B3D_LoadGame: Wrong INST cookie\n")) return false;
    for (int32_t k = 0; k < st[0]; ++k)
        if (!LoadTree(file, ctx, 0)) return false;
    if (!Cookie(file, "SCEN", "B3D_LoadGame: Wrong SCEN cookie\n")) return false;
    for (int32_t k = 0; k < st[1]; ++k)
        if (!LoadScene(file, ctx)) return false;

    Relink(ctx);
    s->lensFlareScene =
        FindRemembered<Scene3D>(flareSceneId, B3D_SceneFind, "B3D_LoadGame: Cant find LensflareScene %d\n");
    s->firstLight = FindRemembered<Inst3D>(firstLightId, B3D_InstFind, "B3D_LoadGame: Cant find FirstLight %d\n");
    s->lensFlareCheck =
        FindRemembered<Inst3D>(flareCheckId, B3D_InstFind, "B3D_LoadGame: Cant find Lensflare Check Inst %d\n");

    if (!Cookie(file, "CUT ", "B3D_LoadGame: Wrong CUT  cookie\n")) return false;
    if (!LoadCuts(file)) return false;
    if (!Cookie(file, "TAKE", "B3D_LoadGame: Wrong TAKE cookie\n")) return false;
    for (int32_t k = 0; k < st[9]; ++k)
        if (!LoadTake(file)) return false;

    B3D_EnableAllObjects3D();
    B3D_MakeLensflareScene();
    return Cookie(file, "/B3D", "B3D_LoadGame: Wrong /B3D cookie\n");
}

bool HoldsBody(const Inst3D* inst, int32_t bodyId) {
    if (inst->bodyId == bodyId) return true;
    for (const Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (HoldsBody(c, bodyId)) return true;
    return false;
}

}  // namespace

int32_t B3D_SaveGame(QelFile* file) {
    B3DState* s = g_B3DState;
    if (!s || !file) return 0;
    Writer out(file);
    out.Tag("B3D ");
    // Camera items hold instances of the frame (lens flares); they are made
    // again by the next draw.
    B3D_FreeAllCameraItems();

    std::vector<const Inst3D*> freeTrees;
    ListOfSaved(&s->freeInsts, freeTrees);
    std::vector<const Scene3D*> scenes;
    for (const Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc))
        if (Saved(sc)) scenes.push_back(sc);

    int32_t st[B3D_SAVE_STATE_WORDS] = {};
    st[0] = static_cast<int32_t>(freeTrees.size());
    st[1] = static_cast<int32_t>(scenes.size());
    st[2] = static_cast<int32_t>(s->engineFlags);
    st[3] = s->backgroundHalf;
    st[4] = s->backgroundScaled;
    st[5] = IdOf(s->lensFlareScene);
    st[6] = IdOf(s->firstLight);
    st[7] = IdOf(s->lensFlareCheck);
    st[9] = static_cast<int32_t>(Qel_TableGetCount(s->takeTable));
    st[10] = s->fadeValue;
    st[11] = s->gammaValue;
    out.Words(st, B3D_SAVE_STATE_WORDS);

    out.Tag("NAME");
    if (!out.Ok() || !B3D_RecordNames(file, B3DNameRule::Truncate)) return 0;

    out.Tag("INST");
    for (const Inst3D* i : freeTrees)
        if (!SaveTree(out, i)) return 0;

    out.Tag("SCEN");
    for (const Scene3D* sc : scenes) {
        std::vector<const Inst3D*> insts;
        ListOfSaved(&sc->insts, insts);
        const int32_t w[B3D_SAVE_SCENE_WORDS] = {IdOf(sc),
                                                 static_cast<int32_t>(insts.size()),
                                                 static_cast<int32_t>(sc->flags),
                                                 B3D_ListCount(&sc->cameras),
                                                 SceneScaleWord(sc),
                                                 sc->ints[0],
                                                 sc->ints[1],
                                                 sc->ints[2]};
        out.Words(w, B3D_SAVE_SCENE_WORDS);
        out.Tag("INST");
        for (const Inst3D* i : insts)
            if (!SaveTree(out, i)) return 0;
        for (const Inst3D* c = B3D_First<Inst3D>(&sc->cameras); c; c = B3D_Next(c))
            if (!SaveTree(out, c)) return 0;
    }

    out.Tag("CUT ");
    std::vector<const J3D_Cut*> cuts;
    for (uint32_t k = Qel_TableNext(s->cutTable, 0); k; k = Qel_TableNext(s->cutTable, k)) {
        const auto* cut = reinterpret_cast<const J3D_Cut*>(Qel_TableGet(s->cutTable, k));
        if (cut && (cut->flags & CUT_PLACED)) cuts.push_back(cut);
    }
    out.Word(static_cast<int32_t>(cuts.size()));
    for (const J3D_Cut* cut : cuts) {
        int32_t w[B3D_SAVE_CUT_WORDS];
        w[0] = static_cast<int32_t>(cut->id);
        PutTriple(w + 1, cut->placePos);
        PutRows(w + 4, cut->placeMatrix);
        out.Words(w, B3D_SAVE_CUT_WORDS);
    }

    out.Tag("TAKE");
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k)) {
        const auto* take = reinterpret_cast<const J3D_Take*>(Qel_TableGet(s->takeTable, k));
        const int32_t count = take->insts ? take->instCount : 0;
        int32_t w[B3D_SAVE_TAKE_WORDS] = {};
        w[0] = static_cast<int32_t>(take->id);
        w[1] = take->cutId;
        w[2] = take->replyModule;
        w[3] = take->replyHandle;
        w[4] = count;
        w[7] = IdOf(take->scene);
        // The lent camera is kept by id: a camera freed since is saved as 0.
        w[8] = B3D_InstFind(take->cameraId) ? static_cast<int32_t>(take->cameraId) : 0;
        PutTriple(w + 9, take->pos);
        PutRows(w + 12, take->matrix);
        PutTriple(w + 21, take->offset);
        w[24] = take->cameraPath;
        w[25] = take->state;
        out.Words(w, B3D_SAVE_TAKE_WORDS);
        for (int32_t i = 0; i < count; ++i) out.Word(IdOf(take->insts[i]));
    }
    out.Tag("/B3D");
    return out.Ok() ? 1 : 0;
}

int32_t B3D_LoadGame(QelFile* file) {
    if (!g_B3DState || !file) return 0;
    LoadContext ctx;
    LoadContext* outer = s_load;
    s_load = &ctx;
    const bool ok = LoadSection(file, ctx);
    // A failed load keeps what it rebuilt, linked where its records say.
    Relink(ctx);
    s_load = outer;
    return ok ? 1 : 0;
}

Inst3D* B3D_LoadInst(QelFile* file) {
    if (!g_B3DState || !file) return nullptr;
    if (s_load) return LoadTree(file, *s_load, 0);
    LoadContext ctx;
    Inst3D* inst = LoadTree(file, ctx, 0);
    Relink(ctx);
    return inst;
}

void B3D_FreeLoadInsts() {
    B3DState* s = g_B3DState;
    if (!s) return;
    // The ids first: a freed instance takes its subtree out of the table.
    std::vector<uint32_t> ids;
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k)) ids.push_back(k);
    for (uint32_t id : ids) {
        Inst3D* inst = B3D_InstFind(id);
        if (!inst) continue;
        if ((inst->flags2 & INST2_LOAD_INST) && !(inst->flags2 & INST2_LOAD_KEEP)) {
            Qel_DPrintf(0, "Removing load instance %d, bodyid %d\n", static_cast<int>(inst->id),
                        static_cast<int>(inst->bodyId));
            B3D_InstFree(inst);
        } else {
            inst->flags2 &= ~(INST2_LOAD_INST | INST2_LOAD_KEEP);
        }
    }
}

void B3D_CheckSavedInsts() {
    B3DState* s = g_B3DState;
    if (!s) return;
    const int32_t tooltip = B3D_GetBodyID("effects\\menugfx\\gui\\tooltip");
    Qel_DPrintf(0, "Looking for insts that shouldn't have been saved...\n");
    std::vector<Scene3D*> marked;
    for (uint32_t k = Qel_TableNext(s->sceneTable, 0); k; k = Qel_TableNext(s->sceneTable, k)) {
        auto* scene = reinterpret_cast<Scene3D*>(Qel_TableGet(s->sceneTable, k));
        Qel_DPrintf(0, "Inspecting scene... ");
        bool mark = false;
        for (const Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam)) {
            Qel_DPrintf(0, "camera priority %d ", static_cast<int>(cam->priority));
            if (cam->priority == CAMERA_PRIORITY_MENU || cam->priority == CAMERA_PRIORITY_TOOLTIP) mark = true;
        }
        // Without a tooltip body id (0, or -1 when no slot was free) no
        // instance shows it; -1 is also every instance without a body.
        if (tooltip > 0)
            for (const Inst3D* i = B3D_First<Inst3D>(&scene->insts); i && !mark; i = B3D_Next(i))
                mark = HoldsBody(i, tooltip);
        if (mark) {
            Qel_DPrintf(0, "**will free** ");
            marked.push_back(scene);
        }
        Qel_DPrintf(0, "moving on!\n");
    }
    Qel_DPrintf(0, "%d scenes marked for freeing...\n", static_cast<int>(marked.size()));
    for (Scene3D* scene : marked) B3D_SceneFree(scene);
    Qel_DPrintf(0, "Done.\n");
}
