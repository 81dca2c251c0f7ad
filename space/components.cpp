#include "space/components.h"

#include "base/log.h"
#include "base/memory.h"
#include "program/exit.h"
#include "scene/bodyrecord.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
constexpr int32_t kPointScale = 4;  // body points are stored at a quarter of body coordinates
constexpr const char* kTooMany[SA_COMPONENT_KINDS] = {
    "SA_SetComponents: Too many lasers in body %d part %d\n",
    "SA_SetComponents: Too many cockpits in body %d part %d\n",
    "SA_SetComponents: Too many docking positions in body %d part %d\n"};

struct Found {
    int32_t count = 0;
    ComponentEntry entries[SA_MAX_BODY_COMPONENTS] = {};
};

ComponentEntry* Next(Found* found, int32_t kind, int32_t bodyId, int32_t part) {
    if (found->count == SA_MAX_BODY_COMPONENTS) {
        Qel_ErrPrintf(kTooMany[kind], bodyId, part);
        P_Exit(1);
    }
    return &found->entries[found->count++];
}

// A laser or cockpit looks toward the first point marked for it in each of
// the part's groups; a later group's marked point wins.
void Direction(const BodyLevel* level, const BodyPart* part, uint32_t mark, ComponentEntry* e) {
    for (int32_t g = 0; g < part->groupCount && part->groups; ++g) {
        const BodyGroup& group = part->groups[g];
        bool seen = false;
        for (int32_t t = 0; t < group.triCount && group.tris && !seen; ++t)
            for (int32_t v : group.tris[t].v) {
                if (v < 0 || v >= level->pointCount || !(level->points[v].word & mark)) continue;
                const BodyPoint& p = level->points[v];
                e->direction = QelVector{p.x * kPointScale, p.y * kPointScale, p.z * kPointScale, 0};
                e->flags |= 1;
                seen = true;
                break;
            }
    }
}

}  // namespace

void SA_SetComponents(const Body3D* body) {
    const BodyLevel* level = body && body->levels && body->levelCount > 0 ? body->levels[0] : nullptr;
    if (!level || !level->parts) return;
    Found found[SA_COMPONENT_KINDS];
    for (int32_t p = 0; p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        if (!part) continue;
        const QelVector at{part->centre[0], part->centre[1], part->centre[2], 0};
        if (part->flags & SA_PART_LASER) {
            ComponentEntry* e = Next(&found[0], 0, body->id, p);
            e->position = at;
            Direction(level, part, SA_POINT_LASER_DIRECTION, e);
        }
        if (part->flags & SA_PART_COCKPIT) {
            ComponentEntry* e = Next(&found[1], 1, body->id, p);
            e->position = at;
            Direction(level, part, SA_POINT_COCKPIT_DIRECTION, e);
        }
        if (part->flags & SA_PART_DOCKING) {
            // Ships dock at the near face of the part, not its middle.
            Next(&found[2], 2, body->id, p)->position = QelVector{at.x, at.y, at.z - part->boxSize[2], 0};
        }
        if (part->flags & SA_PART_GLOW) Qel_DPrintf(0, "SA_SetComponents: found glow %d/%d/%d\n", body->id, at.x, at.y);
        if (part->flags & SA_PART_ENGINE)
            Qel_DPrintf(0, "SA_SetComponents: found engine %d/%d/%d\n", body->id, at.x, at.y);
        if (part->flags & SA_PART_CONNECTION)
            Qel_DPrintf(0, "SA_SetComponents: found connection %d/%d/%d\n", body->id, at.x, at.y);
    }
    for (int32_t kind = 0; kind < SA_COMPONENT_KINDS; ++kind) {
        const Found& f = found[kind];
        if (f.count == 0) continue;
        ComponentRecord record{body->id, 0, nullptr};
        record.entries = static_cast<ComponentEntry*>(
            Int_AllocMem(sizeof(ComponentEntry) * static_cast<size_t>(f.count), kMemFlags));
        if (record.entries) {
            record.count = static_cast<int16_t>(f.count);
            for (int32_t i = 0; i < f.count; ++i) record.entries[i] = f.entries[i];
        }
        if (!SA_AppendComponentRecord(kind, record)) {
            if (record.entries)
                Int_FreeMem(record.entries, sizeof(ComponentEntry) * static_cast<size_t>(f.count), kMemFlags);
            Qel_ErrPrintf("SA_SetComponents: Error allocating component array in body %d\n", body->id);
            P_Exit(3);
        }
    }
}
