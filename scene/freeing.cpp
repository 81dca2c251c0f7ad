#include "scene/freeing.h"

#include <initializer_list>

#include "base/angles.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "render/lights.h"
#include "render/startup.h"
#include "render/bodies.h"
#include "scene/bodyrecord.h"
#include "scene/cutfiles.h"
#include "scene/ids.h"
#include "scene/sound3d.h"
#include "scene/state.h"
#include "scene/takes.h"

namespace {
constexpr int32_t FIRST_EMBEDDED_BODY = 100000;

// A body embedded in a cut file goes with its cut; a path of a cut of its own
// names a cut, and catalogue bodies stay.
void FreeEmbeddedBody(const J3D_CutPath& path) {
    if (!(path.flags & PATH_CUT) && path.reference >= FIRST_EMBEDDED_BODY)
        B3D_FreeBody(static_cast<Body3D*>(B3D_FindBody(path.reference)));
}

void StopTreeSounds(Inst3D* inst) {
    B3D_InstStopSound(inst);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) StopTreeSounds(c);
}

// Nothing plays a cut that goes: its running takes stop and so do the jobs
// on its paths, each waiting caller answered, since no step of theirs could
// ever end them.
void StopPlays(const J3D_Cut* cut) {
    B3DState* s = g_B3DState;
    if (!s || Qel_TableGet(s->cutTable, cut->id) != reinterpret_cast<uintptr_t>(cut)) return;
    const auto id = static_cast<int32_t>(cut->id);
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k))
        if (auto* take = reinterpret_cast<J3D_Take*>(Qel_TableGet(s->takeTable, k)); take && take->cutId == id)
            J3D_TakeStop(take);
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k)) {
        auto* inst = reinterpret_cast<Inst3D*>(Qel_TableGet(s->instTable, k));
        if (inst && inst->cutId == id && (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED))
            J3D_JobStop(inst);
    }
}

bool HasListener(Scene3D* scene) {
    for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam))
        if ((cam->camFlags & (CAM_ACTIVE | CAM_LISTENER)) == (CAM_ACTIVE | CAM_LISTENER)) return true;
    return false;
}
}  // namespace

void J3D_FreeCut(J3D_Cut* cut) {
    if (!cut) return;
    Qel_DPrintf(0, "J3D_FreeCut() freeing cut %d\n", static_cast<int>(cut->id));
    StopPlays(cut);
    if (g_B3DState && Qel_TableGet(g_B3DState->cutTable, cut->id) == reinterpret_cast<uintptr_t>(cut))
        Qel_TableRemove(g_B3DState->cutTable, cut->id);
    for (int32_t p = 0; cut->paths && p < cut->pathCount; ++p) FreeEmbeddedBody(cut->paths[p]);
    J3D_ReleaseCutMemory(cut);
}

void J3D_FreeAllCuts() {
    if (!g_B3DState) return;
    QelTable* t = g_B3DState->cutTable;
    while (Qel_TableGetCount(t) > 0) {
        const uint32_t key = Qel_TableNext(t, 0);
        if (key == 0) {
            // The table's walk cannot name key 0; stop rather than loop forever.
            Qel_ErrPrintf("Qel_TableNext() found entry with key=0!\n");
            break;
        }
        J3D_FreeCut(reinterpret_cast<J3D_Cut*>(Qel_TableRemove(t, key)));
    }
}

void B3D_MemoryFlush(B3DState* state) {
    if (!state) return;
    B3DBodyIdTable& ids = state->bodyIds;
    if (ids.slots)
        for (int32_t s = 0; s < ids.fixedCount + ids.dynamicCount; ++s) ids.slots[s].useCount = 0;
    for (Inst3D* i = B3D_First<Inst3D>(&state->freeInsts); i; i = B3D_Next(i)) B3D_CountBodyUses(i);
    // Trees under a scene's cameras may be in the renderer as well.
    for (Scene3D* sc = B3D_First<Scene3D>(&state->scenes); sc; sc = B3D_Next(sc))
        for (const B3DList* list : {&sc->insts, &sc->cameras})
            for (Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i)) B3D_CountBodyUses(i);
    int32_t freed = 0, looked = 0;
    for (B3DListNode* n = B3D_ListFirst(&state->bodies); n;) {
        auto* body = reinterpret_cast<Body3D*>(n);
        n = B3D_ListNext(n);
        ++looked;
        const B3DBodySlot* slot = B3D_BodySlotOf(body->id);
        if (slot && slot->useCount == 0) {
            B3D_FreeBody(body);
            ++freed;
        }
    }
    Qel_DPrintf(0, "B3D_MemoryFlush(): freed %d of %d bodies\n", static_cast<int>(freed), static_cast<int>(looked));
}

void B3D_AgeBodies() {
    if (!g_B3DState) return;
    const int32_t clock = g_SystemState ? g_SystemState->gameClock : 0;
    for (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies); n;) {
        auto* body = reinterpret_cast<Body3D*>(n);
        n = B3D_ListNext(n);
        if (body->id < FIRST_EMBEDDED_BODY && body->lastUse != 0 && Qel_AngleDiff(clock, body->lastUse) > 1)
            B3D_FreeBody(body);
    }
}

void B3D_FreeAllBodies() {
    if (!g_B3DState) return;
    while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
}

int B3D_InitRenderer() {
    if (S_3DInit()) return 1;
    Qel_ErrPrintf("S_3DInit() failed\n");
    return 0;
}

void B3D_ResetBodyParts() {
    if (!g_B3DState) return;
    for (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies); n; n = B3D_ListNext(n)) {
        auto* body = reinterpret_cast<Body3D*>(n);
        for (int32_t m = 0; m < body->materialCount; ++m) {
            BodyMaterial& mat = body->materials[m];
            if (static_cast<int16_t>(mat.derivedIndex) >= 0) mat.derivedIndex = 0xFFFF;
        }
    }
}

void B3D_ScenesUpdateFlags() {
    if (!g_B3DState) return;
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc && (sc->flags & SCENE_ENABLED); sc = B3D_Next(sc)) {
        if (!HasListener(sc)) continue;
        for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i)) StopTreeSounds(i);
    }
}

void B3D_InstRemoveFromRenderer(Inst3D* inst) {
    if (!inst) return;
    // The frame's draw entries of the instance go with it.
    if (B3DState* s = g_B3DState)
        for (auto* d = B3D_First<B3DDrawItem>(&s->drawList); d;) {
            auto* next = B3D_Next(d);
            if (d->inst == inst) {
                B3D_ListRemove(B3D_Node(d));
                B3D_ListAppend(&s->drawFree, B3D_Node(d));
            }
            d = next;
        }
    if (!(inst->flags & INST_IN_RENDERER)) return;
    if (inst->flags & INST_LIGHT) {
        Qel_DPrintf(0x2000, "del light(%s)\n", inst->name ? inst->name : "");
        S_3DFreeLight(inst);
    } else {
        B3D_InstStopSound(inst);
        S_3DDeleteInst(inst);
    }
    inst->flags &= ~INST_IN_RENDERER;
}
