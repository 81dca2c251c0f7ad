#include "space/takes.h"

#include <algorithm>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/memory.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/instcoll.h"
#include "scene/lists.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
constexpr int32_t kPlainPath = -1;
constexpr int32_t kPlayerShipCut = 9999;
constexpr int32_t kPlayerOwnShip = 124;
constexpr int32_t kSubstituteBody = 99999;
constexpr int32_t kDefaultRange = 300000;
constexpr int32_t kSpotRange = 1000000;
// The take whose cut was made for a player's ship of one size: whatever ship
// the player flies is scaled to that size in it.
constexpr int32_t kScaledShipTake = 2109;
constexpr int64_t kScaledShipSize = 8000;

bool IsLightNumber(int32_t n) { return n >= 1000 && n <= 3999; }
bool IsCutNumber(int32_t n) { return (n >= 4000 && n <= 9999) || (n >= 50000 && n <= 79999); }
bool IsShipCut(int32_t n) { return (n >= 4000 && n <= 9998) || (n >= 50000 && n <= 79999); }

// A light type of the scene engine's table; a number beyond the table reads
// as a type of all zeros, so the defaults apply.
B3DLightType LightType(int32_t index) {
    if (!g_B3DState || index < 0 || index >= B3D_LIGHT_TYPES) return B3DLightType{};
    return g_B3DState->lightTypes[index];
}

struct LightState {
    bool ambientTaken = false;
    Inst3D* first = nullptr;
};

Inst3D* NewLight(int32_t number, LightState* lights) {
    Inst3D* light = B3D_LightAlloc();
    if (!light) return nullptr;
    const B3DLightType type = LightType(number % 1000);
    light->lightRange = type.words[1] ? type.words[1] : kDefaultRange;
    light->lightAtten[0] = QEL_FIX_ONE;
    light->lightAtten[1] = 0;
    light->lightAtten[2] = 8 * QEL_FIX_ONE;
    light->lightColor[0] = type.red;
    light->lightColor[1] = type.green;
    light->lightColor[2] = type.blue;
    if (type.kind == 1) light->flags |= INST_DIRECTIONAL_LIGHT;
    else if (type.kind == 2) light->flags |= INST_POINT_LIGHT;
    else if (type.kind == 3) light->flags |= INST_SPOT_LIGHT;
    if (type.value > 0 && !lights->ambientTaken) {
        lights->ambientTaken = true;
        light->flags |= INST_LIGHT_VALUE;
        light->lightValue = type.value;
    }
    if (type.switchWord > 0) light->flags |= INST_LIGHT_SECOND;
    if (number >= 3000) {
        light->flags |= INST_SPOT_LIGHT;
        light->lightAtten[0] = QEL_FIX_ONE;
        light->lightAtten[1] = 10 * QEL_FIX_ONE;
        light->lightAtten[2] = 0;
        light->lightRange = kSpotRange;
        Qel_MatIdentity(&light->matrix);
    }
    if (type.words[0] >= 0) {
        light->flags |= INST_MARKED;
        light->markValue = type.words[0];
    }
    if (number >= 2000 && number <= 2999) {
        light->flags |= INST_MARKED;
        light->markValue = 0;
    }
    S_3DUpdateLight(light);
    if (!lights->first) lights->first = light;
    return light;
}

void Hide(Inst3D* inst) {
    inst->flags |= INST_HIDDEN;
    for (B3DListNode* n = B3D_ListFirst(&inst->children); n; n = B3D_ListNext(n)) Hide(reinterpret_cast<Inst3D*>(n));
}

void ShowMarked(Inst3D* inst) {
    for (B3DListNode* n = B3D_ListFirst(&inst->children); n; n = B3D_ListNext(n)) {
        auto* child = reinterpret_cast<Inst3D*>(n);
        if (child->flags & INST_MARKED) B3D_InstSetShown(child, 1);
        else ShowMarked(child);
    }
}

Scene3D* SpaceScene(const SA_Take* take) {
    const SectorSpace* sector = take->sector ? O_Sector(take->sector) : nullptr;
    return sector ? sector->spaceScene : nullptr;
}

// The cut id the story gives the player's ship ("GetPlayerShipCutID"), 0
// when it gives none.
int32_t PlayerShipCut() {
    SpaceRoot* root = g_SpaceRoot;
    if (!root) return 0;
    root->answerArrived = 0;
    SA_RunStory(0, "GetPlayerShipCutID", 0, nullptr);
    return root->answerArrived && root->result.tag == VARTYPE_INTEGER ? root->result.i : 0;
}

// A new object of the type in the take's sector, following its path.
SectorObject* NewPathObject(SA_Take* take, int32_t typeCode, const J3D_CutPath& path) {
    SectorObject* o = O_AllocObject(typeCode);
    if (!o) return nullptr;
    if (o->mainType == SA_MT_MISSILE && o->instance) {
        if (const TypeRecord* t = O_GetTypeRecord(o)) B3D_InstSetBody(o->instance, t->field[SA_TF_BODY]);
        B3D_CollBuildModel(o->instance, 0);
    }
    o->flags |= SA_FLAG_HANGS_ON;
    if (take->sector) O_SetContainer(o, take->sector);
    if ((path.flags & ST_PATH_HIDDEN) && o->instance) Hide(o->instance);
    return o;
}

// The player's ship in the take made for a ship of one size: its tree scaled
// to that size, its marked parts shown.
void FitPlayerShip(SectorObject* o) {
    const int32_t size = O_GetRadius(o);
    if (!o->instance || size <= 0) return;
    const auto f = static_cast<int32_t>(std::min<int64_t>((kScaledShipSize << 16) / size, INT32_MAX));
    B3D_InstSetScaleRecursive(o->instance, f, f, f);
    ShowMarked(o->instance);
}

}  // namespace

int32_t ST_LoadCut(SA_Take* take, int32_t cutId, int32_t /*tag*/) {
    J3D_Cut* cut = take && g_B3DState && cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut) return 0;
    take->cutId = cutId;
    Qel_DPrintf(0, "ST_LoadCut() cut %d loaded\n", cutId);
    const int32_t n = cut->paths ? cut->pathCount : 0;
    if (n > 0)
        take->slots = static_cast<SA_TakeSlot*>(Int_AllocMem(sizeof(SA_TakeSlot) * static_cast<size_t>(n), kMemFlags));
    take->slotCount = take->slots ? n : 0;
    LightState lights;
    SpaceRoot* root = g_SpaceRoot;
    for (int32_t i = 0; i < take->slotCount; ++i) {
        const J3D_CutPath& path = cut->paths[i];
        SA_TakeSlot& slot = take->slots[i];
        int32_t number = path.reference;
        if (number == kPlainPath) {
            if (Inst3D* inst = B3D_AllocInst()) {
                if (Scene3D* scene = SpaceScene(take)) B3D_InstAddToScene(inst, scene);
                slot = SA_TakeSlot{inst, inst->id, nullptr};
            }
            continue;
        }
        if (IsLightNumber(number)) {
            if (Inst3D* light = NewLight(number, &lights)) {
                if (Scene3D* scene = SpaceScene(take)) B3D_InstAddToScene(light, scene);
                slot = SA_TakeSlot{light, light->id, nullptr};
            }
            continue;
        }
        const bool objects = !(path.flags & ST_PATH_NO_OBJECT);
        if (objects && IsCutNumber(number)) {
            const bool playerShip = number == kPlayerShipCut;
            if (playerShip) {
                const int32_t answer = PlayerShipCut();
                if (IsShipCut(answer)) number = answer;
            }
            const int32_t type = SA_ObjectTypeFromCut(number);
            if (!type) continue;
            if (SectorObject* o = NewPathObject(take, type, path)) {
                Qel_DPrintf(4, "S_StartTakeIndex() new SectorObject %d for cut %d\n", static_cast<int32_t>(o->id),
                            number);
                if (playerShip && cutId == kScaledShipTake) FitPlayerShip(o);
                slot = SA_TakeSlot{o->instance, o->instance ? o->instance->id : 0, o};
            }
            continue;
        }
        int32_t type = 0;
        if (number == kPlayerOwnShip) {
            const SectorObject* player = root ? root->game.playerObject : nullptr;
            if (player && player->instance) number = player->instance->bodyId;
            if (player && player->cutId) type = SA_ObjectTypeFromCut(player->cutId);
        } else if (number == kSubstituteBody && root) {
            number = root->game.takeReplaceBody;
        }
        if (!objects) type = 0;
        else if (!type) type = SA_ObjectTypeFromBody(number);
        if (type) {
            if (SectorObject* o = NewPathObject(take, type, path)) {
                Qel_DPrintf(4, "S_StartTakeIndex() new SectorObject %d for body %d\n", static_cast<int32_t>(o->id),
                            number);
                slot = SA_TakeSlot{o->instance, o->instance ? o->instance->id : 0, o};
            }
            continue;
        }
        Inst3D* inst = B3D_AllocInst();
        if (!inst) continue;
        B3D_InstSetBody(inst, number);
        B3D_CollBuildModel(inst, 0);
        const int32_t father = path.value2;
        Inst3D* fatherInst = father >= 0 && father < i && take->slots[father].inst &&
                                     B3D_InstFind(take->slots[father].instId) == take->slots[father].inst
                                 ? take->slots[father].inst
                                 : nullptr;
        if (father >= 0 && !fatherInst)
            Qel_DPrintf(0, "S_LoadCut(%d) Couldn't find father %d for path %d!\n", cutId, father, i);
        if (fatherInst) B3D_InstAddToInst(inst, fatherInst);
        else if (Scene3D* scene = SpaceScene(take)) B3D_InstAddToScene(inst, scene);
        if (path.flags & ST_PATH_HIDDEN) Hide(inst);
        slot = SA_TakeSlot{inst, inst->id, nullptr};
    }
    if (!lights.ambientTaken && lights.first) lights.first->flags |= INST_LIGHT_VALUE;
    take->flags = 1;
    return 1;
}
