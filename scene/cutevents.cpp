#include "scene/cutevents.h"

#include "base/general.h"
#include "base/log.h"
#include "scene/geometry.h"
#include "scene/jobs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "script/context.h"
#include "script/tasks.h"
#include "script/values.h"

J3D_FrameList g_J3DFrameList;

namespace {

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

// "CutEvent" with "frame" and a frame number.
void SendFrame(int32_t object, int32_t frame) {
    if (!g_SEContext) return;
    ScriptValue a{}, b{};
    SV_AssignString(&a, "frame");
    SV_AssignInt(&b, frame);
    SE_RunWithValues(0, 0, object, "CutEvent", 1, 2, &a, &b);
    SV_Release(&a);
    SV_Release(&b);
}

// The path of a live instance's cut, found again after every script call.
J3D_CutPath* PathNow(uint32_t id, Inst3D** inst, J3D_Cut** cut, int32_t cutId, int32_t pathNr) {
    *inst = B3D_InstFind(id);
    *cut = nullptr;
    if (!*inst || (*inst)->cutId != cutId || (*inst)->pathNr != pathNr) return nullptr;
    *cut = J3D_CutIsLoaded(cutId);
    if (!*cut || !(*cut)->paths || pathNr < 0 || pathNr >= (*cut)->pathCount) return nullptr;
    return &(*cut)->paths[pathNr];
}

// The hook for one instance. Every script call may free the instance, its
// cut or anything else: after each the instance and its path are looked up
// again and the walk stops for this instance when either is gone.
void RunOne(uint32_t id) {
    Inst3D* inst = B3D_InstFind(id);
    if (!inst) return;
    if (inst->cutId && !(inst->jobFlags & JOB_STOPPED)) {
        if (J3D_Cut* cut = J3D_FindCut(inst->cutId)) {
            const int32_t cutId = inst->cutId, pathNr = inst->pathNr;
            const int32_t previous = B3D_ClockDiff(inst->jobStamp, inst->jobOrigin);
            inst->jobStamp = GameClock();
            const int32_t now = B3D_ClockDiff(inst->jobStamp, inst->jobOrigin);
            J3D_CutPath* path = PathNow(id, &inst, &cut, cutId, pathNr);
            if (path && path->noteCount > 0) {
                // Frames of 33 ms: t mod 33 == 1 (truncating).
                if (inst->storyObject) {
                    const int64_t start = previous > 1 ? previous : 1;
                    int64_t t = start + (34 - start % 33) % 33;
                    for (; t < now; t += 33) {
                        const int32_t object = inst->storyObject;
                        SendFrame(object, static_cast<int32_t>(t / 33 + 1));
                        path = PathNow(id, &inst, &cut, cutId, pathNr);
                        if (!path || !inst->storyObject) break;
                    }
                }
                // Notes in (previous, now], up to the job's end time. A note
                // runs with the note list as it is then, so the count is read
                // again after each.
                for (int32_t i = 0; path && i < path->noteCount; ++i) {
                    const int32_t n = path->notes[i].time;
                    if (n > previous && n <= now && n <= inst->jobTo) {
                        J3D_DoNodeTrackCommand(inst, path, i);
                        path = PathNow(id, &inst, &cut, cutId, pathNr);
                    }
                }
            }
            inst = B3D_InstFind(id);
            if (!inst) return;
            inst->jobFlags &= ~JOB_EVENT_MINUS_ONE;
            cut = J3D_CutIsLoaded(inst->cutId);
            if (cut && (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED)) J3D_JobStep(inst, cut, now);
        }
    }
    if ((inst->jobFlags & JOB_DRIVES_BOUND) && g_J3DFrameList.count < J3D_FRAME_LIST_MAX) {
        g_J3DFrameList.insts[g_J3DFrameList.count] = inst;
        g_J3DFrameList.ids[g_J3DFrameList.count] = inst->id;
        ++g_J3DFrameList.count;
    }
}

}  // namespace

void J3D_CollectTreeIds(const Inst3D* inst, std::vector<uint32_t>* ids) {
    for (const Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) J3D_CollectTreeIds(c, ids);
    ids->push_back(inst->id);
}

void J3D_CutEventRunIds(const std::vector<uint32_t>& ids) {
    for (uint32_t id : ids) RunOne(id);
}

void J3D_CutEventRun(Inst3D* inst) {
    if (!inst) return;
    std::vector<uint32_t> ids;
    J3D_CollectTreeIds(inst, &ids);
    J3D_CutEventRunIds(ids);
}

int32_t J3D_JobStartInstPlain(Inst3D* inst, int32_t pathIndex, J3D_Cut* cut) {
    return J3D_JobStartInst(inst, 0, pathIndex, cut, 0, 0);
}
