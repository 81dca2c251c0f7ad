#include "scene/caches.h"

#include "base/general.h"
#include "base/log.h"
#include "base/table.h"
#include "scene/bodybin.h"
#include "scene/bodytext.h"
#include "scene/cutfiles.h"
#include "scene/ids.h"
#include "scene/state.h"

void (*g_B3DMoviePollHook)() = nullptr;

namespace {
constexpr uint32_t PROFILING_CONVERT_BODIES = 0x800;
constexpr int32_t FIRST_EMBEDDED_BODY = 100000;
constexpr uint16_t LAST_PART_WORD = 1157;

void PollMovie() {
    if (g_B3DMoviePollHook) g_B3DMoviePollHook();
}

// A body of version-6 materials with a second level and four or more parts
// gives every triangle of its last part the word 1157.
void MarkLastPart(Body3D* body) {
    if (!(body->flags & BODY_MATERIAL6) || body->levelCount < 2 || !body->levels || !body->levels[0]) return;
    BodyLevel* level = body->levels[0];
    if (level->partCount < 4 || !level->parts) return;
    BodyPart* last = level->parts[level->partCount - 1];
    if (!last || last->groupCount < 1) return;
    for (int32_t g = 0; g < last->groupCount; ++g) {
        BodyGroup& group = last->groups[g];
        for (int32_t t = 0; t < group.triCount; ++t) group.tris[t].word = LAST_PART_WORD;
    }
}
}  // namespace

Body3D* B3D_GetBody(int32_t id) {
    if (!g_B3DState) return nullptr;
    auto* body = static_cast<Body3D*>(B3D_FindBody(id));
    if (!body) {
        if (B3D_BodyIsUsed(id)) return nullptr;
        body = B3D_LoadBodyBin(nullptr, id);
        if (body) {
            PollMovie();
        } else {
            body = B3D_LoadBody2(nullptr, id);
            if (!body) {
                B3D_BodySetUsed(id);
                return nullptr;
            }
            PollMovie();
            if (g_SystemState && (g_SystemState->SysProfilingFlags & PROFILING_CONVERT_BODIES)) {
                B3D_SaveBodyBin(body);
                PollMovie();
            }
        }
    }
    body->lastUse = 0;
    MarkLastPart(body);
    return body;
}

int32_t B3D_BodyIsLoaded(int32_t id) {
    if (id >= FIRST_EMBEDDED_BODY) return 1;
    if (B3D_BodyIsUsed(id)) return 0;
    return B3D_GetBody(id) ? 1 : 0;
}

J3D_Cut* J3D_GetCut(int32_t id) {
    if (!g_B3DState) return nullptr;
    if (auto* cut = reinterpret_cast<J3D_Cut*>(Qel_TableGet(g_B3DState->cutTable, static_cast<uint32_t>(id))))
        return cut;
    if (B3D_CutIsUsed(id)) return nullptr;
    J3D_Cut* cut = J3D_LoadCutBin(id);
    if (!cut) cut = J3D_LoadCut2(id);
    if (!cut) {
        B3D_CutSetUsed(id);
        return nullptr;
    }
    // The cache enters what the readers made, so a reader never leaves a
    // half-read cut in the table.
    cut->id = static_cast<uint32_t>(id);
    if (Qel_TableGet(g_B3DState->cutTable, cut->id) != reinterpret_cast<uintptr_t>(cut))
        Qel_TableSet(g_B3DState->cutTable, cut->id, reinterpret_cast<uintptr_t>(cut));
    PollMovie();
    return cut;
}
