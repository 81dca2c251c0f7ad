#include "space/components.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/memory.h"
#include "program/exit.h"
#include "base/vrmfile.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/typesfiles.h"
#include "space/queries.h"
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

// ---------------------------------------------------------------- rebuild

namespace {

constexpr int32_t kDoorwayKind = 2;
constexpr int32_t kDoorwayStateSlot = 3;

bool s_rebuilding = false;
std::vector<int32_t> s_bodies;

// Adds the body to the list once and scans it; false when it was there already.
bool Scan(int32_t bodyId) {
    if (bodyId <= 0 || std::find(s_bodies.begin(), s_bodies.end(), bodyId) != s_bodies.end()) return false;
    if (static_cast<int32_t>(s_bodies.size()) >= SA_MAX_COMPONENT_BODIES) {
        Qel_BannerPrintf("SA_LoadObjectDB: Too many bodies to search for components!\n");
        P_Exit(1);
    }
    s_bodies.push_back(bodyId);
    if (const Body3D* body = B3D_GetBody(bodyId)) SA_SetComponents(body);
    return true;
}

void Release(int32_t bodyId) {
    if (Body3D* body = bodyId > 0 ? B3D_GetBody(bodyId) : nullptr) B3D_FreeBody(body);
}

// The bodies of a dummy's state cut, for every dummy of the path body.
void ScanDummies(int32_t pathBody) {
    for (int32_t kind = 0; kind < SA_DUMMY_KINDS; ++kind)
        for (int32_t i = 0; i < g_TypeDB.dummyCounts[kind] && g_TypeDB.dummies[kind]; ++i) {
            const DummyRecord& d = g_TypeDB.dummies[kind][i];
            if (d.body != pathBody) continue;
            const int32_t cutId = d.stateCuts[kind == kDoorwayKind ? kDoorwayStateSlot : 0];
            J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
            for (int32_t p = 0; cut && cut->paths && p < cut->pathCount; ++p)
                if (Scan(cut->paths[p].reference)) Release(cut->paths[p].reference);
        }
}

void WriteFile() {
    const std::string path = B3DB_TypesFilePath("Components");
    VRMFile* w = Qel_StreamCreate(path.c_str(), 0, 0, 0, nullptr, 0);
    if (!w || w->error) {
        Qel_DPrintf(0, "SA_LoadObjectDB(): Can't save file %s\n", path.c_str());
        Qel_CloseFileBuffer(w);
        return;
    }
    w->WriteText("// Autogenerated Components File\r\n");
    w->WriteText("// - delete this file and run game to regenerate from body/cut data\r\n");
    for (int32_t kind = 0; kind < SA_COMPONENT_KINDS; ++kind) {
        const int32_t count = g_TypeDB.componentCounts[kind];
        if (count == 0) continue;
        w->WriteString(g_SAComponentKinds[kind].name, ";");
        w->WriteInt(count, ";");
        w->WriteText("\r\n");
        for (int32_t i = 0; i < count; ++i) {
            const ComponentRecord& c = g_TypeDB.components[kind][i];
            const std::string name = B3D_GetBodyFilename(c.body, 0);
            w->WriteString(name.empty() ? std::to_string(c.body).c_str() : name.c_str(), ";");
            w->WriteShort(c.count, ";");
            w->WriteText("\r\n");
            for (int32_t k = 0; k < c.count && c.entries; ++k) {
                const ComponentEntry& e = c.entries[k];
                w->WriteFlags(static_cast<uint32_t>(e.flags), g_SALaserFlags, ";");
                for (int32_t v : {e.position.x, e.position.y, e.position.z}) w->WriteFixed(v, ";");
                if (kind != 2)
                    for (int32_t v : {e.direction.x, e.direction.y, e.direction.z}) w->WriteFixed(v, ";");
                w->WriteText("\r\n");
            }
        }
        w->WriteText("\r\n");
    }
    if (w->error) Qel_DPrintf(0, "SA_LoadObjectDB(): Can't save file %s\n", path.c_str());
    Qel_CloseFileBuffer(w);
}

}  // namespace

void SA_StartComponentsRebuild() {
    s_rebuilding = true;
    s_bodies.clear();
}

int SA_RebuildingComponents() { return s_rebuilding ? 1 : 0; }

void SA_ScanRecordComponents(int32_t mainType, const TypeRecord* record) {
    if (!s_rebuilding || !record || record->field[SA_TF_BODY] < 0) return;
    const int32_t cutId = SA_RecordCut(mainType, record);
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut) {
        if (Scan(record->field[SA_TF_BODY])) Release(record->field[SA_TF_BODY]);
        return;
    }
    for (int32_t p = 0; cut->paths && p < cut->pathCount; ++p) {
        const int32_t body = cut->paths[p].reference;
        if (!Scan(body)) continue;
        ScanDummies(body);
        Release(body);
    }
    // The cut goes too unless a scan above took it with it.
    if (J3D_Cut* again = J3D_CutIsLoaded(cutId)) J3D_FreeCut(again);
}

void SA_FinishComponentsRebuild() {
    if (!s_rebuilding) return;
    WriteFile();
    s_rebuilding = false;
    s_bodies.clear();
    s_bodies.shrink_to_fit();
}
