#include "cockpit/galaxymap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/strings.h"
#include "cockpit/cockpits.h"
#include "cockpit/galaxy.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"

namespace {

constexpr int32_t kStoryObject = 2100;
constexpr int32_t kSectors = GS_ROWS * GS_COLUMNS;

// A map instance is held by id and checked against the scene, cut and path
// it was made for, so one the engine freed (and whose id a later instance
// took) is seen as gone.
struct MapSlot {
    uint32_t inst;
    int32_t path;
};

struct GalaxyMap {
    bool built;
    bool busy;  // a story function the map asks is running
    uint32_t scene;
    int32_t cut;
    MapSlot sectors[kSectors];
    MapSlot gates[kSectors][ID_DRAWN_GATES];
};
GalaxyMap s_map{};

Inst3D* Find(const MapSlot& slot) {
    Inst3D* inst = IC_FindInst(slot.inst);
    if (!inst || !inst->scene || inst->scene->id != s_map.scene) return nullptr;
    return inst->cutId == s_map.cut && inst->pathNr == slot.path ? inst : nullptr;
}

// Whether the map still has what it made (a map of no instance always has).
bool Alive() {
    bool made = false;
    for (int32_t s = 0; s < kSectors; ++s) {
        made = made || s_map.sectors[s].inst;
        if (Find(s_map.sectors[s])) return true;
        for (const MapSlot& gate : s_map.gates[s]) {
            made = made || gate.inst;
            if (Find(gate)) return true;
        }
    }
    return !made;
}

void Forget() {
    const uint32_t scene = s_map.scene;
    s_map = GalaxyMap{};
    s_map.scene = scene;
}

void FreeAll() {
    for (int32_t s = 0; s < kSectors; ++s) {
        if (Inst3D* inst = Find(s_map.sectors[s])) B3D_InstFree(inst);
        for (const MapSlot& gate : s_map.gates[s])
            if (Inst3D* inst = Find(gate)) B3D_InstFree(inst);
    }
    Forget();
}

// The map's scene is still the one given: a story the map asked may have
// freed it.
bool SceneAlive(const Scene3D* scene) { return IC_FindScene(s_map.scene) == scene; }

int32_t Ask(int32_t object, const char* name, int32_t argc, int32_t a0, int32_t a1, int32_t a2 = 0, int32_t a3 = 0) {
    return INS_RunStoryInt(object, name, argc, a0, a1, a2, a3);
}

void SectorBodies(int32_t bodies[ID_SECTOR_BODIES]) {
    for (int32_t i = 0; i < ID_SECTOR_BODIES; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, ID_SECTOR_BODY_FORMAT, i);
        bodies[i] = B3D_GetBodyID(name);
        if (bodies[i] <= 0) {
            Qel_ErrPrintf("ID_BuildGalaxyMap() Unable to get ID for %s\n", name);
            bodies[i] = 0;
        }
    }
}

// The index of the path with the key, searched from the last; -1 none.
int32_t FindPath(const J3D_Cut* cut, int32_t key) {
    for (int32_t i = cut->pathCount - 1; i >= 0; --i)
        if (cut->paths[i].pathNr == key) return i;
    return -1;
}

// A new body keeps the map's name of the instance.
void SetBody(Inst3D* inst, int32_t body) {
    char* name = inst->name;
    inst->name = nullptr;
    B3D_InstSetBody(inst, body);
    Qel_StrFree(inst->name);
    inst->name = name;
}

// A map instance on the path, named and in the scene; 0 when the path is
// missing or no instance can be had.
MapSlot Place(Scene3D* scene, J3D_Cut* cut, int32_t key, int32_t body, const char* name) {
    const int32_t path = FindPath(cut, key);
    if (path < 0) return MapSlot{};
    Inst3D* inst = B3D_AllocInst();
    if (!inst) return MapSlot{};
    inst->name = Qel_StrFree(inst->name);
    inst->name = Qel_StrDup(name);
    if (body > 0) SetBody(inst, body);
    J3D_JobStartInst(inst, 0, path, cut, 0, 0);
    B3D_InstAddToScene(inst, scene);
    return MapSlot{inst->id, path};
}

int32_t Sign(int32_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Builds the map; false when the scene went while the story was asked.
bool Build(Scene3D* scene, const int32_t bodies[ID_SECTOR_BODIES]) {
    // The story may free the cut too: it is looked up again after each question.
    J3D_Cut* cut = nullptr;
    const auto alive = [&] { return SceneAlive(scene) && (cut = J3D_CutIsLoaded(s_map.cut)) != nullptr; };
    const GalaxyGrid* grid = g_GalaxyGrid;
    char name[64];
    for (int32_t r = 0; r < GS_ROWS; ++r) {
        for (int32_t c = 0; c < GS_COLUMNS; ++c) {
            const int32_t s = r * GS_COLUMNS + c;
            s_map.sectors[s] = MapSlot{};
            for (MapSlot& gate : s_map.gates[s]) gate = MapSlot{};
            const int32_t state = Ask(kStoryObject, "GetMapSectorState", 2, r, c);
            if (!SceneAlive(scene)) return false;
            if (!state) continue;
            Ask(0, "ConvertSectorNameID", 2, r, c);
            if (!alive()) return false;
            std::snprintf(name, sizeof name, "Sector %d-%d", r, c);
            s_map.sectors[s] = Place(scene, cut, ID_SectorKey(r, c), bodies[0], name);
            for (int32_t slot = 0; slot < ID_DRAWN_GATES; ++slot) {
                const int32_t drawn = Ask(kStoryObject, "GetMapGateState", 3, r, c, slot);
                if (!alive()) return false;
                // The grid may be smaller than the map, and an empty slot
                // leads nowhere.
                grid = g_GalaxyGrid;
                if (!drawn || !grid || r >= grid->rows || c >= grid->columns) continue;
                const GateSlot& gate = grid->sectors[r * grid->columns + c].gates[slot];
                if (gate.targetGate < 0 || gate.targetRow < 0 || gate.targetColumn < 0) continue;
                const int32_t key = ID_ConnectionKey(r, c, Sign(gate.targetRow - r), Sign(gate.targetColumn - c));
                std::snprintf(name, sizeof name, "Connect %d-%d -> %d-%d", r, c, gate.targetRow, gate.targetColumn);
                s_map.gates[s][slot] = Place(scene, cut, key, ID_CONNECTION_BODY, name);
            }
        }
    }
    return true;
}

Inst3D* SectorInst(int32_t row, int32_t column) {
    if (row < 0 || row >= GS_ROWS || column < 0 || column >= GS_COLUMNS) return nullptr;
    return Find(s_map.sectors[row * GS_COLUMNS + column]);
}

// Half the viewport in pixels and the focal lengths of the map camera.
struct Projection {
    int32_t halfWidth, halfHeight;
    int32_t focalX, focalY;
};

Projection ProjectionOf(const Camera3D* camera) {
    const int32_t width = g_B3DState ? g_B3DState->screenWidth : 0;
    const int32_t height = g_B3DState ? g_B3DState->screenHeight : 0;
    Projection p{};
    p.halfWidth = static_cast<int32_t>((int64_t{camera->viewport[3]} - camera->viewport[2]) * width / 65536 / 2);
    p.halfHeight = static_cast<int32_t>((int64_t{camera->viewport[1]} - camera->viewport[0]) * height / 65536 / 2);
    p.focalX = camera->aspect[0] ? camera->aspect[0] : (g_B3DState ? g_B3DState->screenAspect[0] : 0);
    p.focalY = camera->aspect[1] ? camera->aspect[1] : (g_B3DState ? g_B3DState->screenAspect[1] : 0);
    return p;
}

// Where a sector's name goes: x, y of its centre and its height, all in
// pixels from the viewport's centre; false outside the camera's 45 degrees.
bool Project(const Projection& p, const Camera3D* camera, const Inst3D* inst, int32_t* x, int32_t* y, int32_t* h,
             int32_t* depth) {
    const int64_t d[3] = {int64_t{inst->pos.x} - camera->inst.pos.x, int64_t{inst->pos.y} - camera->inst.pos.y,
                          int64_t{inst->pos.z} - camera->inst.pos.z};
    for (int64_t v : d)
        if (v < INT32_MIN || v > INT32_MAX) return false;
    const QelVector rel{static_cast<int32_t>(d[0]), static_cast<int32_t>(d[1]), static_cast<int32_t>(d[2]), 0};
    QelVector v{};
    Qel_MatTransMulVec(&camera->inst.matrix, &rel, &v);
    if (!(std::llabs(v.x) < v.z && std::llabs(v.y) < v.z)) return false;
    *x = INS_MulDiv(INS_MulDiv(p.halfWidth, v.x, v.z), 65536, p.focalX);
    *y = INS_MulDiv(INS_MulDiv(p.halfHeight, v.y, v.z), 65536, p.focalY);
    *h = INS_MulDiv(INS_MulDiv(p.halfHeight, inst->size, v.z), 65536, p.focalY);
    *depth = v.z;
    return true;
}

void PlaceCamera(Camera3D* camera, const int32_t values[6]) {
    const Inst3D* a = SectorInst(values[0], values[1]);
    const Inst3D* b = SectorInst(values[2], values[3]);
    if (!a || !b) return;
    QelVector dir{b->pos.x - a->pos.x, b->pos.y - a->pos.y, b->pos.z - a->pos.z, 0};
    if (dir.x || dir.y || dir.z) Qel_NormVectorToOne(&dir);
    camera->inst.pos = QelVector{a->pos.x + dir.x, a->pos.y + dir.y,
                                 static_cast<int32_t>(int64_t{a->pos.z} + dir.z - INS_FixMul(values[4], values[5])), 0};
    Qel_MatIdentity(&camera->inst.matrix);
}

// Refreshes the sector bodies and has the story write the visible names;
// stops when the scene goes.
void Update(Scene3D* scene, const int32_t values[6], const int32_t bodies[ID_SECTOR_BODIES]) {
    Camera3D* camera = B3D_First<Camera3D>(&scene->cameras);
    const uint32_t cameraId = camera ? camera->inst.id : 0;
    if (camera) PlaceCamera(camera, values);
    for (int32_t r = 0; r < GS_ROWS; ++r) {
        for (int32_t c = 0; c < GS_COLUMNS; ++c) {
            if (!SectorInst(r, c)) continue;
            const int32_t state = Ask(kStoryObject, "GetMapSectorState", 2, r, c);
            if (!SceneAlive(scene)) return;
            Inst3D* inst = SectorInst(r, c);
            if (!inst) continue;
            if (state >= 1 && state <= ID_SECTOR_BODIES && bodies[state - 1] > 0) SetBody(inst, bodies[state - 1]);
            camera = IC_FindCamera(cameraId);
            if (!camera || camera->inst.scene != scene) continue;
            int32_t x = 0, y = 0, h = 0, depth = 0;
            if (!Project(ProjectionOf(camera), camera, inst, &x, &y, &h, &depth)) continue;
            Ask(0, "WriteGalaxyMapSectorName", 4, r, c, x, -(h / 2) - y);
            if (!SceneAlive(scene)) return;
        }
    }
}

}  // namespace

bool ID_GalaxyMapBuilt() { return s_map.built; }

int32_t ID_BuildGalaxyMap(Scene3D* scene, const int32_t values[6]) {
    if (!scene || s_map.busy) return 0;
    // A map built in another scene, or one whose instances the engine freed
    // (with its scene, whose id a new scene may have taken), is made anew.
    if (s_map.built && (s_map.scene != scene->id || !Alive())) {
        if (IC_FindScene(s_map.scene)) FreeAll();
        s_map.built = false;
    }
    int32_t bodies[ID_SECTOR_BODIES];
    SectorBodies(bodies);
    s_map.busy = true;
    if (!s_map.built) {
        const int32_t cutId = B3D_GetCutID(ID_GALAXY_MAP_CUT);
        J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
        if (!cut) {
            s_map.busy = false;
            return 0;
        }
        Forget();
        s_map.scene = scene->id;
        s_map.cut = static_cast<int32_t>(cut->id);
        s_map.busy = true;
        if (!Build(scene, bodies)) {
            if (SceneAlive(scene)) FreeAll();
            Forget();
            return 0;
        }
        s_map.built = true;
    }
    Update(scene, values, bodies);
    if (SceneAlive(scene)) s_map.busy = false;
    else Forget();  // its instances went with it
    return 1;
}

void ID_ClearGalaxyMap(Scene3D* scene) {
    if (!scene || s_map.busy || !s_map.built || s_map.scene != scene->id) return;
    FreeAll();
}

int32_t ID_GalaxyMapFindSector(Scene3D* scene, int32_t x, int32_t y, int32_t out[2]) {
    if (!scene || !s_map.built || s_map.scene != scene->id) return 0;
    const Camera3D* camera = B3D_First<Camera3D>(&scene->cameras);
    if (!camera) return 0;
    const Projection p = ProjectionOf(camera);
    int32_t best = -1, bestDepth = 0;
    for (int32_t s = 0; s < kSectors; ++s) {
        const Inst3D* inst = Find(s_map.sectors[s]);
        int32_t sx = 0, sy = 0, h = 0, depth = 0;
        if (!inst || !Project(p, camera, inst, &sx, &sy, &h, &depth)) continue;
        // Screen y grows downward; the projection's upward.
        if (std::llabs(int64_t{x} - sx) > h / 2 || std::llabs(int64_t{y} + sy) > h / 2) continue;
        if (best < 0 || depth < bestDepth) best = s, bestDepth = depth;
    }
    if (best < 0) return 0;
    out[0] = best % GS_COLUMNS;
    out[1] = best / GS_COLUMNS;
    return 1;
}
