// The space module's calls 230 to 258 and 350 to 357: each input step is a
// call from the story (with integer, text, array, object, take, instance and
// cut arguments, fewer or more than the call reads, on live, killed, freed
// and made-up IDs), a frame (the scene engine's takes, the space update, the
// deletion of killed objects, the ready tasks), a save and load of the space
// section, objects made in a sector (ships, rocks of debris fields in their
// detailed state), killed or freed, takes the space simulation forgets, and
// the story's scene engine calls that free what space objects and takes still
// name: an object's instance or a dock port's by its id, the scene take a
// space take shares (freed, or started on another cut), the sector's scene.
// After each input every object and take is freed; every task a take still
// held must have been answered, and the memory books must be back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/calls.h"
#include "scene/freeing.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/arrays.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutcalls.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "system/clock.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr int kArgs = 8;
constexpr int kMaxSteps = 256;
constexpr int32_t kStoryObject = 77;
constexpr int32_t kPlayCut = 801;  // also the cut of asteroid type 0
constexpr int32_t kRockBody = 7100;
constexpr int32_t kDebrisBody = 7300;

std::vector<int> Calls() {
    std::vector<int> calls;
    for (int call = 230; call <= 258; ++call) calls.push_back(call);
    for (int call = 350; call <= 357; ++call) calls.push_back(call);
    return calls;
}

// "C<call>_<n>" makes the call with the globals A0..A(n-1).
// The scene engine's calls that free what space objects and takes name, with
// their argument counts: "B3D_InstFree", "B3D_SceneFree", "J3D_TakeStart",
// "J3D_TakeFree".
struct SceneCall {
    int call;
    int argc;
};
constexpr SceneCall kSceneCalls[] = {{2, 1}, {9, 1}, {152, 3}, {154, 1}};

std::string StoryText() {
    std::string s = "    end\n";
    for (int i = 0; i < kArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    const char* const* names = SA_GetCallNames();
    for (int call : Calls())
        for (int n = 0; n <= kArgs; ++n) {
            s += ".func \"C" + std::to_string(call) + "_" + std::to_string(n) + "\" need 16\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sysl \"" + names[call] + "\"\n    ret\n";
        }
    // "S<call>_<n>": the scene engine's call with the globals A0..A(n-1).
    const char* const* scene = B3D_GetCallNames();
    for (const auto [call, n] : kSceneCalls) {
        s += ".func \"S" + std::to_string(call) + "_" + std::to_string(n) + "\" need 16\n";
        for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
        s += "    pushw " + std::to_string(n) + "\n    sysl \"" + scene[call] + "\"\n    ret\n";
    }
    // Object 2100 hears of stopped landings; its answer goes to the root.
    s += ".object 2100\n.func \"NotifyDockingAbort\" need 8\n    pushw 5\n    ret\n";
    s += ".object 77\n";
    return s;
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
    bool More() const { return pos < size; }
};

SE_Context* s_ctx = nullptr;
std::vector<uint32_t> s_ids;   // every object ID made in this input, live or not
std::vector<int32_t> s_takes;  // every take id handed out
SectorObject* s_sector = nullptr;
uint32_t s_sectorId = 0;

int32_t PickId(Input& in) {
    const uint8_t b = in.Next();
    if (b >= 0xF0 || s_ids.empty()) {
        static const int32_t made[] = {0, -1, 0x7ffffffe, 0x7fffffff, 1, 2, 3, 1000};
        return made[b & 7];
    }
    return static_cast<int32_t>(s_ids[b % s_ids.size()]);
}

SectorObject* PickObject(Input& in) {
    return reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, static_cast<uint32_t>(PickId(in))));
}

int32_t Coordinate(Input& in) {
    const uint32_t v = static_cast<uint32_t>(in.Next()) << 24 | static_cast<uint32_t>(in.Next()) << 16 |
                       static_cast<uint32_t>(in.Next()) << 8;
    return static_cast<int32_t>(v) >> (in.Next() & 15);
}

// A number the calls read: a take, an instance, a cut, a type, a small or a large one.
int32_t Number(Input& in) {
    const uint8_t kind = in.Next();
    switch (kind % 6) {
        case 0: return s_takes.empty() ? 1 : s_takes[in.Next() % s_takes.size()];
        case 1: return in.Next() % 64;  // an instance id, live or not
        case 2: {
            static const int32_t cuts[] = {kPlayCut, 802, 999, 0, -1};
            return cuts[in.Next() % 5];
        }
        case 3: return static_cast<int8_t>(in.Next());
        case 4: {
            static const int32_t types[] = {SA_MT_ASTEROID, SA_MT_DEBRIS, SA_MT_SHIP, 65536 + SA_MT_ASTEROID};
            return types[in.Next() % 4];
        }
        default: return Coordinate(in);
    }
}

void SetGlobal(int i, Input& in) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    const uint8_t kind = in.Next();
    if (kind < 110) {
        v.tag = VARTYPE_INTEGER;
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(PickId(in)));
    } else if (kind < 190) {
        v.tag = VARTYPE_INTEGER;
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(Number(in)));
    } else if (kind < 230) {  // a point or a placement, sometimes short
        const int32_t n = in.Next() % 8;
        SV_ArrayAlloc(&v, n);
        for (int32_t k = 0; k < n; ++k) SV_ArrayWriteInt(&v, k, (in.Next() & 1) ? Coordinate(in) : Number(in));
    } else if (kind < 245) {
        SV_AssignString(&v, "text");
    } else if (StoryInstance* o = SB_FindObject(s_ctx, kStoryObject)) {
        SV_AssignObject(&v, o);
    }
}

void NoteNewIds() {
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        bool known = false;
        for (uint32_t id : s_ids) known = known || id == k;
        if (!known && s_ids.size() < 512) s_ids.push_back(k);
    }
}

void Types() {
    static bool made = false;
    if (made) return;
    made = true;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (SA_TypesFileName(m)) SA_AppendTypeRecords(m, 3);
    int32_t* ship = g_TypeDB.types[SA_MT_SHIP][0].field;
    ship[SA_TF_SHIP_SPEED] = 150000;
    ship[SA_TF_SHIP_ACCELERATION] = 30000;
    ship[SA_TF_STEP_X] = ship[SA_TF_STEP_Y] = ship[SA_TF_STEP_Z] = 3277;
    ship[SA_TF_SHIP_TURRET_COUNT] = 3;
    g_TypeDB.types[SA_MT_ASTEROID][0].field[SA_TF_CUT] = kPlayCut;
    g_TypeDB.types[SA_MT_ASTEROID][1].field[SA_TF_BODY] = kRockBody;
    g_TypeDB.types[SA_MT_ASTEROID][1].field[SA_TF_ASTEROID_DENSITY] = 40;
    // Debris 0 leads to debris 1 and debris 1 back to debris 0.
    for (int sub = 0; sub < 2; ++sub) {
        int32_t* debris = g_TypeDB.types[SA_MT_DEBRIS][sub].field;
        debris[SA_TF_BODY] = kDebrisBody + sub;
        debris[SA_TF_DEBRIS_LEVELS] = 3;
        debris[SA_TF_DEBRIS_NEXT_BODY] = kDebrisBody + 1 - sub;
    }
    g_TypeDB.types[SA_MT_DEBRIS][2].field[SA_TF_CUT] = kPlayCut;
}

void WriteCuts() {
    std::string cut, error;
    if (!Tool_CutSourceToText("path 0 7100\n  key 0x800 300 0 0 0 0 0 0 0.25\n  key 0x800 -1 900 0 0 0.5 0 0 0.25\n"
                              "path 1 -1\n  note 10 start 1\n  key 0x800 600 0 0 0 0 0 0 0.25\n"
                              "  key 0x800 -1 0 900 0 0 0 0 0.25\npath 2 2953\npath 3 7100\n",
                              &cut, &error))
        __builtin_trap();
    Fuzz_WriteFile("cut/00801.bod", reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
    if (!Tool_CutSourceToText("info nothing\n", &cut, &error)) __builtin_trap();
    Fuzz_WriteFile("cut/00802.bod", reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
}

void Run(const char* name) { SE_RunIntArgs(s_ctx, 0, 0, 0, name, VARTYPE_INTEGER, 0, nullptr); }

void SetInt(int i, int32_t n) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    v = ScriptValue{};
    v.tag = VARTYPE_INTEGER;
    v.i = n;
}

// An instance a space object names: its own, its second or third, a dock
// port's, or a made-up id.
int32_t NamedInstance(Input& in) {
    SectorObject* o = PickObject(in);
    const Inst3D* inst = nullptr;
    const uint8_t which = in.Next() % 5;
    if (o && which == 0) inst = o->instance;
    if (o && which == 1) inst = o->instance2 ? o->instance2 : o->instance3;
    if (o && which >= 2)
        if (const DockPortTable* ports = O_PortTable(o); ports && ports->slots && ports->slotCount > 0) {
            const DockPortSlot& slot = ports->slots[in.Next() % ports->slotCount];
            inst = which == 2 ? slot.portInstance : slot.approachInstance;
        }
    return inst ? static_cast<int32_t>(inst->id) : Number(in);
}

// The story frees, through the scene engine's calls, what the space objects
// and takes name.
void SceneFree(Input& in) {
    const int32_t take = s_takes.empty() ? Number(in) : s_takes[in.Next() % s_takes.size()];
    const SectorSpace* sector = O_Sector(s_sector);
    const Scene3D* scene = sector ? sector->spaceScene : nullptr;
    switch (in.Next() % 6) {
        case 0:
        case 1: SetInt(0, NamedInstance(in)); return Run("S2_1");
        case 2: SetInt(0, take); return Run("S154_1");
        case 3: {
            static const int32_t cuts[] = {kPlayCut, 802, 999};
            SetInt(0, take);
            SetInt(1, cuts[in.Next() % 3]);
            SetInt(2, scene ? static_cast<int32_t>(scene->id) : Number(in));
            return Run("S152_3");
        }
        case 4:
            if (in.Next() % 4 == 0) {  // rarely: the whole scene goes
                SetInt(0, scene ? static_cast<int32_t>(scene->id) : Number(in));
                Run("S9_1");
            }
            return;
        default: return;
    }
}

void Step(Input& in) {
    static const std::vector<int> calls = Calls();
    const uint8_t op = in.Next();
    switch (op % 16) {
        default: {  // a call with 0..8 arguments
            const int call = calls[in.Next() % calls.size()];
            const int n = in.Next() % (kArgs + 1);
            for (int i = 0; i < n; ++i) SetGlobal(i, in);
            Run(("C" + std::to_string(call) + "_" + std::to_string(n)).c_str());
            if (call == 252)
                for (uint32_t k = Qel_TableNext(g_SpaceRoot->takes, 0); k; k = Qel_TableNext(g_SpaceRoot->takes, k))
                    if (s_takes.size() < 64 && std::find(s_takes.begin(), s_takes.end(), k) == s_takes.end())
                        s_takes.push_back(static_cast<int32_t>(k));
            break;
        }
        case 9:
        case 10: {  // a frame
            static const int32_t steps[] = {16, 0, 250, 1000, 5000, 16, 33, 100};
            const int32_t step = steps[in.Next() & 7];
            g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, step);
            g_SystemState->gameFrameDelta = step;
            g_SpaceRoot->running = (in.Next() & 3) != 0;
            J3D_TakesUpdate();
            SA_UpdateSpace();
            SA_DeleteKilledObjects();
            SE_RunAllTasks();
            break;
        }
        case 11: {  // save the space section, free the game and load it back
            if (QelFile* f = Qel_fcopen("sect.bin", "wb", 0)) {
                SA_SaveSectors(f);
                Qel_fclose(f);
            }
            SA_FreeAllObjects(g_SpaceRoot);
            ST_RemoveAllTakes(g_SpaceRoot);
            s_sector = nullptr;
            if (QelFile* f = Qel_fcopen("sect.bin", "rb", 0)) {
                SA_ReadSectors(f);
                Qel_fclose(f);
            }
            s_sector = SA_LookupObject(s_sectorId);
            break;
        }
        case 12: {  // an object in the sector: a ship, a debris field or one of its rocks
            if (!s_sector || s_sector->mainType != SA_MT_SECTOR) break;
            static const int16_t kinds[] = {SA_MT_SHIP, SA_MT_DEBRIS, SA_MT_ASTEROID, SA_MT_SHIP};
            const int16_t m = kinds[in.Next() & 3];
            SectorObject* o = O_AllocObject(SA_TypeCode(m, in.Next() % 3));
            if (!o) break;
            O_SetContainer(o, s_sector);
            if (o->instance) o->instance->pos = QelVector{Coordinate(in), Coordinate(in), Coordinate(in), 0};
            SectorObject* field = PickObject(in);
            if (m == SA_MT_ASTEROID && field && field->mainType == SA_MT_DEBRIS) o->reference = field;
            if (m == SA_MT_DEBRIS && (in.Next() & 1)) o->flags2 |= SA_FLAG2_DETAILED;
            break;
        }
        case 13: {  // a kill or a free of an object, or a course as no call sets it
            SectorObject* o = PickObject(in);
            if (!o || o == s_sector) break;
            const uint8_t how = in.Next() % 3;
            if (how == 0) SS_KillObject(o, 0, nullptr, 0);
            else if (how == 1) O_FreeOrQueue(o);
            else if (ShipData* d = O_ShipData(o)) d->CourseType = static_cast<int16_t>(in.Next() % 37);
            break;
        }
        case 14: {  // the space simulation forgets a take (its load frees them all), or the story
                    // frees through the scene engine what space objects and takes name
            if (in.Next() & 1) {
                SceneFree(in);
                break;
            }
            if (s_takes.empty()) break;
            if (SA_Take* take = ST_FindTake(s_takes[in.Next() % s_takes.size()])) ST_RemoveTake(take);
            break;
        }
        case 15: {  // the debris level bound and the types' cut, changed between calls
            g_TypeDB.types[SA_MT_DEBRIS][in.Next() % 3].field[SA_TF_DEBRIS_LEVELS] = static_cast<int8_t>(in.Next());
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
    if (Fuzz_StartCallWorld(&world, StoryText())) {
        SB_RegisterEngineModule(s_ctx, B3D_SysCall, B3D_GetCallNames(), nullptr, nullptr, nullptr);
        Types();
        WriteCuts();
    }
    {
        FuzzMemoryGuard guard(s_ctx);
        Fuzz_BeginCallInput(&world, s_ctx);
        s_ids.clear();
        s_takes.clear();
        s_sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        s_sectorId = s_sector ? s_sector->id : 0;
        if (SectorSpace* sector = s_sector ? O_Sector(s_sector) : nullptr) sector->spaceScene = B3D_SceneAlloc();
        root.running = 1;
        NoteNewIds();
        Input in{data, size};
        for (int step = 0; step < kMaxSteps && in.More(); ++step) Step(in);
        // The tasks the scene engine's takes still hold ...
        std::vector<uint32_t> held;
        for (uint32_t k = Qel_TableNext(g_B3DState->takeTable, 0); k; k = Qel_TableNext(g_B3DState->takeTable, k))
            if (const auto* take = reinterpret_cast<const J3D_Take*>(Qel_TableGet(g_B3DState->takeTable, k));
                take && take->replyModule)
                held.push_back(static_cast<uint32_t>(take->replyHandle));
        SA_FreeAllObjects(&root);
        ST_RemoveAllTakes(&root);
        J3D_TakeFreeAll();
        // ... are answered once the takes go.
        Fuzz_CheckAnswered(s_ctx, held);
        Fuzz_EndCallInput(&world, s_ctx);
    }
    return 0;
}
