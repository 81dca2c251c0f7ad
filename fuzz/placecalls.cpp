// The space module's calls 259 to 349 (sounds, the player, docking,
// effects, sector scenes, bodies, placement, cameras, videos and the tractor
// beam): each input is a sequence of steps over live, killed, freed and
// made-up object IDs: a call from the story with integer, text, object and
// array arguments (fewer or more than the call reads, arrays short, long or
// holding texts), objects of the main types these calls serve made and put
// into containers, objects freed as the story frees them, story instances
// and sector scenes made and freed under the objects that name them, frames
// of the space update across the clock's wrap, and saves and loads of the
// space section. The story functions the calls start (the decoupled pieces,
// the in-game scenes, the tractor's answer) free and kill what the module
// holds. After each input every object is freed, every task an object still
// held must have been answered and the memory books must be back where they
// were.
#include <cstdint>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/freeing.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/arrays.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "system/clock.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr int32_t kStoryObject = 77;
constexpr int kArgs = 7;
constexpr int kMaxSteps = 256;
constexpr int32_t kFirstCall = 259;
constexpr int32_t kLastCall = 349;
constexpr int32_t kShipCut = 660;
constexpr int kMaxSaves = 8;

// "C<call>_<n>" makes call number <call> with the globals A0..A(n-1); the
// functions the calls start free the object in A0 and kill the one in A1.
std::string StoryText() {
    std::string s = "    end\n";
    for (int i = 0; i < kArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    const char* const* names = SA_GetCallNames();
    for (int call = kFirstCall; call <= kLastCall; ++call)
        for (int n = 0; n <= kArgs; ++n) {
            s += ".func \"C" + std::to_string(call) + "_" + std::to_string(n) + "\" need 16\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sysl \"" + names[call] + "\"\n    ret\n";
        }
    const std::string chaos = R"(
    getg 0
    pushw 1
    sysl "SA_FreeObject"
    pop
    c0
    c0
    getg 1
    pushw 3
    sysl "SA_KillObject"
    pop
    getg 2
    ret
)";
    for (const char* name : {"CreateDecoupleShip", "CreateSceneShip"})
        s += ".func \"" + std::string(name) + "\" need 16\n" + chaos;
    s += ".object 77\n";
    for (const char* name : {"CreatePCObject", "SetTractorDst", "SelfDestruct", "KilledBy", "DetailSwitch"})
        s += ".func \"" + std::string(name) + "\" need 16\n" + chaos;
    return s;
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
    bool More() const { return pos < size; }
};

std::vector<uint32_t> s_ids;    // every object ID made in this input, live or not
std::vector<uint32_t> s_insts;  // the story's own instances, live or freed
std::vector<uint32_t> s_scenes;
SE_Context* s_ctx = nullptr;

int32_t Pick(Input& in, const std::vector<uint32_t>& ids) {
    const uint8_t b = in.Next();
    if (b >= 0xF0 || ids.empty()) {
        static const int32_t made[] = {0, -1, 0x7ffffffe, 0x7fffffff, 1, 2, 3, 1000};
        return made[b & 7];
    }
    return static_cast<int32_t>(ids[b % ids.size()]);
}

SectorObject* PickObject(Input& in) {
    return g_SpaceRoot ? SA_LookupObject(static_cast<uint32_t>(Pick(in, s_ids))) : nullptr;
}

int32_t Coordinate(Input& in) {
    const uint32_t v = static_cast<uint32_t>(in.Next()) << 24 | static_cast<uint32_t>(in.Next()) << 16 |
                       static_cast<uint32_t>(in.Next()) << 8;
    return static_cast<int32_t>(v) >> (in.Next() & 15);
}

int32_t Number(Input& in) {
    const uint8_t kind = in.Next();
    if (kind < 90) return Pick(in, s_ids);
    if (kind < 120) return Pick(in, s_insts);
    if (kind < 140) return Pick(in, s_scenes);
    if (kind < 200) return static_cast<int8_t>(in.Next());
    return Coordinate(in);
}

void SetGlobal(int i, Input& in) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    const uint8_t kind = in.Next();
    if (kind < 170) {
        v.tag = VARTYPE_INTEGER;
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(Number(in)));
    } else if (kind < 215) {  // poses, points and port lists, some short, some with a text
        const int32_t n = in.Next() % 11;
        SV_ArrayAlloc(&v, n);
        for (int32_t k = 0; k < n; ++k) {
            if (in.Next() == 0xFF) SV_ArrayWriteString(&v, k, "text");
            else SV_ArrayWriteInt(&v, k, Number(in));
        }
    } else if (kind < 235) {
        SV_AssignString(&v, "text");
    } else if (StoryInstance* o = SB_FindObject(s_ctx, kStoryObject)) {
        SV_AssignObject(&v, o);
    }
}

void Run(const char* name) { SE_RunIntArgs(s_ctx, 0, 0, 0, name, VARTYPE_INTEGER, 0, nullptr); }

void NoteNewIds() {
    if (!g_SpaceRoot) return;
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        bool known = false;
        for (uint32_t id : s_ids) known = known || id == k;
        if (!known && s_ids.size() < 512) {
            s_ids.push_back(k);
            if (SectorObject* o = SA_LookupObject(k)) o->eventObject = kStoryObject;
        }
    }
}

void Types() {
    static bool made = false;
    if (made) return;
    made = true;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (SA_TypesFileName(m) || m == SA_MT_CAMERA) SA_AppendTypeRecords(m, 2);
    // Ship 0 splits into a missile by its cut; its lasers reload from its type.
    g_TypeDB.types[SA_MT_SHIP][0].field[SA_TF_SHIP_CUT] = kShipCut;
    g_TypeDB.types[SA_MT_SHIP][0].field[46] = 25;
    g_TypeDB.types[SA_MT_SHIP][1].field[46] = 0x7fffffff;
    g_TypeDB.types[SA_MT_SHIP][1].field[SA_TF_SHIP_EXPLOSION_EFFECT] = 12;
    g_TypeDB.types[SA_MT_MISSILE][1].field[SA_TF_BODY] = 4001;
    std::string cut, error;
    if (!Tool_CutSourceToText("path 0 4001\npath 1 12\npath 2 4001\n", &cut, &error)) __builtin_trap();
    Fuzz_WriteFile("cut/00660.bod", reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
    static SA_VideoRecord videos[] = {{1, {1, 0, 0, 0}, 41, {0, 0, 0}, {0, 1, 0}},
                                      {2, {2, 3, 0, 0}, 42, {0, 0, 0}, {0, 1, 0}}};
    static int32_t list[] = {2, 1, 3};
    static int32_t empty[] = {0};
    static int32_t* lists[] = {list, empty};
    g_TypeDB.videos = videos;
    g_TypeDB.videoCount = 2;
    g_TypeDB.videoLists = lists;
    g_TypeDB.videoListCount = 2;
}

void MakeObject(Input& in) {
    static const int16_t kinds[] = {SA_MT_SECTOR,  SA_MT_SHIP,  SA_MT_SHIP,   SA_MT_DOCK,
                                    SA_MT_FACTORY, SA_MT_GATE,  SA_MT_CAMERA, SA_MT_SPECIAL,
                                    SA_MT_MISSILE, SA_MT_LASER, SA_MT_BULLET, SA_MT_ASTEROID};
    const uint8_t b = in.Next();
    SectorObject* o = O_AllocObject(SA_TypeCode(kinds[b % 12], (b >> 4) & 1));
    if (!o) return;
    SectorObject* container = PickObject(in);
    if (container && O_CanContain(container, o)) O_SetContainer(o, container);
    if (o->instance) o->instance->pos = QelVector{Coordinate(in), Coordinate(in), Coordinate(in), 0};
    NoteNewIds();
}

void SceneStep(Input& in) {
    switch (in.Next() % 5) {
        case 0:
            if (Inst3D* inst = B3D_AllocInst()) s_insts.push_back(inst->id);
            break;
        case 1: {  // the story frees an instance of its own that objects may name
            const int32_t id = Pick(in, s_insts);
            for (uint32_t own : s_insts)
                if (own == static_cast<uint32_t>(id))
                    if (Inst3D* inst = B3D_InstFind(own)) B3D_InstFree(inst);
            break;
        }
        case 2:
            if (Scene3D* scene = B3D_SceneAlloc()) s_scenes.push_back(scene->id);
            break;
        case 3: {  // a scene the sectors may hold goes
            const int32_t id = Pick(in, s_scenes);
            for (uint32_t own : s_scenes)
                if (own == static_cast<uint32_t>(id))
                    if (Scene3D* scene = B3D_SceneFind(own)) B3D_SceneFree(scene);
            break;
        }
        default:  // a frame's clock jump, across the wrap now and then
            if (g_SystemState)
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, Coordinate(in) & 0xFFFFFF);
            break;
    }
}

void Step(Input& in, int& saves) {
    const uint8_t op = in.Next();
    switch (op % 12) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {  // a call from the story with 0..7 arguments
            const int call = kFirstCall + in.Next() % (kLastCall - kFirstCall + 1);
            const int n = in.Next() % (kArgs + 1);
            for (int i = 0; i < n; ++i) SetGlobal(i, in);
            Run(("C" + std::to_string(call) + "_" + std::to_string(n)).c_str());
            break;
        }
        case 5:
        case 6: MakeObject(in); break;
        case 7: {  // the story frees an object
            if (SectorObject* o = PickObject(in)) O_FreeOrQueue(o);
            break;
        }
        case 8: SceneStep(in); break;
        case 9: {  // a frame
            static const int32_t steps[] = {16, 20, 0, 1000, 5000, 16, 33, 250};
            const int32_t step = steps[in.Next() & 7];
            if (g_SystemState) {
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, step);
                g_SystemState->gameFrameDelta = step;
            }
            g_SpaceRoot->running = (in.Next() & 3) != 0;
            SA_UpdateSpace();
            SA_DeleteKilledObjects();
            EO_MoveExplObjects();
            SE_RunAllTasks();
            break;
        }
        case 10: {  // save the space section, free the game and load it back
            if (++saves > kMaxSaves) break;
            if (QelFile* f = Qel_fcopen("sect.bin", "wb", 0)) {
                SA_SaveSectors(f);
                Qel_fclose(f);
            }
            EO_FreeObjectEffects();
            SA_FreeAllObjects(g_SpaceRoot);
            ST_RemoveAllTakes(g_SpaceRoot);
            if (QelFile* f = Qel_fcopen("sect.bin", "rb", 0)) {
                SA_ReadSectors(f);
                Qel_fclose(f);
            }
            break;
        }
        default: {  // an order field or link set as no call would
            SectorObject* a = PickObject(in);
            SectorObject* b = PickObject(in);
            if (!a || a == b) break;
            if (ShipData* ship = O_ShipData(a)) {
                ship->CourseType = static_cast<int16_t>(in.Next() % 37);
                ship->OrderTarget = b;
            } else if (b && (in.Next() & 1)) {
                a->tractorSource = b;
                b->tractorHeld = a;
            }
            break;
        }
    }
    NoteNewIds();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    s_ctx = Fuzz_ScriptContext();
    static FuzzCallWorld world{};
    SpaceRoot& root = world.root;
    if (Fuzz_StartCallWorld(&world, StoryText())) Types();
    {
        FuzzMemoryGuard guard(s_ctx);
        Fuzz_BeginCallInput(&world, s_ctx);
        s_ids.clear();
        s_insts.clear();
        s_scenes.clear();
        Input in{data, size};
        int saves = 0;
        for (int step = 0; step < kMaxSteps && in.More(); ++step) Step(in, saves);
        // The tasks objects still hold ("SA_DecoupleShips" parks its task on the ship).
        const std::vector<uint32_t> held = Fuzz_HeldTasks(root, s_ctx);
        EO_FreeObjectEffects();
        EO_FreeExplosions();
        SA_FreeAllObjects(&root);
        ST_RemoveAllTakes(&root);
        // ... were answered with the object's free.
        Fuzz_CheckAnswered(s_ctx, held);
        Fuzz_EndCallInput(&world, s_ctx);
    }
    return 0;
}
