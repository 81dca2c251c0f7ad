// The cut event hook of the take update: per instance the path's frame events
// and notes whose time has come ("CutEvent" to the story), the job step, and
// the frame list of instances that drive a bound instance.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/records.h"

constexpr int32_t J3D_FRAME_LIST_MAX = 1024;

// The instances collected this frame that drive their bound instance.
struct J3D_FrameList {
    int32_t count;
    Inst3D* insts[J3D_FRAME_LIST_MAX];
    uint32_t ids[J3D_FRAME_LIST_MAX];  // to tell a freed entry from a live one
};
extern J3D_FrameList g_J3DFrameList;

// Runs the hook on the instance's tree, children before their parent. The
// "CutEvent" tasks it starts may free instances, scenes or cuts: each
// instance of the tree is looked up again by its id before it is handled.
void J3D_CutEventRun(Inst3D* inst);
// The same over a list of instance ids taken before the walk; ids that no
// longer name an instance are skipped.
void J3D_CutEventRunIds(const std::vector<uint32_t>& ids);
// Appends the ids of the tree, children before their parent.
void J3D_CollectTreeIds(const Inst3D* inst, std::vector<uint32_t>* ids);
// Starts a job with start and end time 0.
int32_t J3D_JobStartInstPlain(Inst3D* inst, int32_t pathIndex, J3D_Cut* cut);
