// The space module's property and container calls (34 to 129): each step of
// an input is a call from the story with integer, text, object or ARRAY
// arguments (fewer or more than the call reads) on live, killed, freed and
// made-up object IDs, objects made, placed, killed and freed through calls 0
// to 8, the player's ship chosen, a frame of the space update with the
// deletion of killed objects, or a save and load of the space section. After
// every step no factory names a connection parent that is gone and no call
// has left its task waiting; after each input every object is freed and the
// memory books are back where they were.
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
#include "scene/freeing.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "system/clock.h"

namespace {

constexpr int32_t kStoryObject = 77;
constexpr int kArgs = 10;
constexpr int kShortArgs = 5;
constexpr int kMaxSteps = 256;
constexpr int32_t kNebulaCall = 125;

bool TakesManyArgs(int call) { return call == kNebulaCall; }

// "C<call>_<n>" makes call number <call> with the globals A0..A(n-1) and
// keeps its answer in the global "Got"; object 77 answers the callbacks by
// freeing the object in A0 and killing the one in A1.
std::string StoryText() {
    std::string s = "    end\n";
    for (int i = 0; i < kArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    s += ".var \"Got\" int 0\n";
    const char* const* names = SA_GetCallNames();
    std::vector<int> calls;
    for (int call = 0; call <= 8; ++call) calls.push_back(call);
    for (int call = 34; call <= 129; ++call) calls.push_back(call);
    for (int call : calls)
        for (int n = 0; n <= (TakesManyArgs(call) ? kArgs : kShortArgs); ++n) {
            s += ".func \"C" + std::to_string(call) + "_" + std::to_string(n) + "\" need 16\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sysl \"" + names[call] + "\"\n";
            s += "    setg " + std::to_string(kArgs) + "\n    ret\n";
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
    c0
    ret
)";
    s += ".object 77\n";
    for (const char* name : {"SelfDestruct", "KilledBy", "CreateRock", "MakeDamage", "AttackedBy", "CatchWare"})
        s += ".func \"" + std::string(name) + "\" need 16\n" + chaos;
    return s;
}

std::vector<uint32_t> s_ids;  // every ID made in this input, live or not
SE_Context* s_ctx = nullptr;

int32_t PickId(FuzzInput& in) {
    const uint8_t b = in.next();
    if (b >= 0xF0 || s_ids.empty()) {
        static const int32_t made[] = {0, -1, 0x7ffffffe, 0x7fffffff, 1, 2, 3, 1000};
        return made[b & 7];
    }
    return static_cast<int32_t>(s_ids[b % s_ids.size()]);
}

SectorObject* PickObject(FuzzInput& in) {
    return reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, static_cast<uint32_t>(PickId(in))));
}

// A signed number over the whole range: 24 random bits shifted into place.
int32_t Wide(FuzzInput& in) {
    const uint32_t v = static_cast<uint32_t>(in.next()) << 24 | static_cast<uint32_t>(in.next()) << 16 |
                       static_cast<uint32_t>(in.next()) << 8;
    return static_cast<int32_t>(v) >> (in.next() & 15);
}

void SetGlobal(int i, FuzzInput& in) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    const uint8_t kind = in.next();
    if (kind < 200) {
        int32_t n;
        if (kind < 110) n = PickId(in);
        else if (kind < 160) n = static_cast<int8_t>(in.next());
        else n = Wide(in);
        v.tag = VARTYPE_INTEGER;
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(n));
    } else if (kind < 215) {
        SV_AssignString(&v, "text");
    } else if (kind < 240) {
        if (!SV_ArrayAlloc(&v, in.next() % 10)) return;
        for (int32_t k = 0; k < SV_ArraySize(&v); ++k) SV_ArrayWriteInt(&v, k, Wide(in));
    } else if (StoryInstance* o = SB_FindObject(s_ctx, kStoryObject)) {
        SV_AssignObject(&v, o);
    }
}

// Runs a story function; every call in this range answers at once, so the
// task ends with the function.
void Run(const std::string& name) {
    const int32_t waiting = [] {
        int32_t n = 0;
        for (SE_ListNode* node = s_ctx->waiting.head.succ; SE_ListIsTask(node); node = node->succ) ++n;
        return n;
    }();
    SE_RunIntArgs(s_ctx, 0, 0, 0, name.c_str(), VARTYPE_INTEGER, 0, nullptr);
    SE_RunAllTasks();
    int32_t after = 0;
    for (SE_ListNode* node = s_ctx->waiting.head.succ; SE_ListIsTask(node); node = node->succ) ++after;
    Fuzz_Check(after <= waiting, "propcalls", "a call left its task waiting");
}

void NoteNewIds() {
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        bool known = false;
        for (uint32_t id : s_ids) known = known || id == k;
        if (!known && s_ids.size() < 512) s_ids.push_back(k);
    }
}

// What must hold between steps: links name live objects, lasers sit on slots.
void CheckLinks() {
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        auto* o = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, k));
        if (const DockData* d = o->mainType == SA_MT_FACTORY ? O_DockData(o) : nullptr; d && d->connectionParent)
            Fuzz_Check(SA_LookupObject(d->connectionParent->id) == d->connectionParent, "propcalls",
                       "a factory names a connection parent that is gone");
    }
}

void Types() {
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (SA_TypesFileName(m) || m == SA_MT_CAMERA || m == SA_MT_NEBULA) SA_AppendTypeRecords(m, 3);
    int32_t* ship = g_TypeDB.types[SA_MT_SHIP][0].field;
    ship[SA_TF_SHIP_SPEED] = 150000;
    ship[SA_TF_SHIP_ACCELERATION] = 30000;
    ship[SA_TF_STEP_X] = ship[SA_TF_STEP_Y] = ship[SA_TF_STEP_Z] = 3277;
    ship[SA_TF_SHIP_LASER_COUNT] = 2;
    ship[SA_TF_SHIP_TURRET_COUNT] = 2;
    ship[SA_TF_SHIP_LASER_POWER_MAX] = 100;
    ship[SA_TF_SHIP_MAX_HULL] = 20000;
    ship[SA_TF_SHIP_COCKPIT_COUNT] = 1;
    ship[SA_TF_SECOND_BODY] = 7;
    g_TypeDB.types[SA_MT_SHIELD][0].field[SA_TF_SHIELD_ENERGY] = 3000;
    g_TypeDB.types[SA_MT_LASER][0].field[SA_TF_LASER_ENERGY] = 5;
    static GlobalParameter globals[] = {{1, 10}, {84, -5}};
    g_TypeDB.globals = globals;
    g_TypeDB.globalCount = 2;
}

void Step(FuzzInput& in) {
    const uint8_t op = in.next();
    switch (op % 12) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: {  // a call 34..129 from the story
            const int call = 34 + in.next() % 96;
            const int n = in.next() % ((TakesManyArgs(call) ? kArgs : kShortArgs) + 1);
            for (int i = 0; i < n; ++i) SetGlobal(i, in);
            Run("C" + std::to_string(call) + "_" + std::to_string(n));
            break;
        }
        case 7: {  // an object made and placed, mostly of a valid type
            const int32_t main = in.next() % 33;
            const int32_t sub = in.next() % 4;
            SectorObject* o = O_AllocObject(SA_TypeCode(main, sub));
            SectorObject* container = PickObject(in);
            if (o && container && O_CanContain(container, o)) O_SetContainer(o, container);
            break;
        }
        case 8: {  // a call 0..8 from the story
            const int call = in.next() % 9;
            const int n = in.next() % (kShortArgs + 1);
            for (int i = 0; i < n; ++i) SetGlobal(i, in);
            Run("C" + std::to_string(call) + "_" + std::to_string(n));
            break;
        }
        case 9: {  // a frame of the space update and the deletion of killed objects
            static const int32_t steps[] = {16, 0, 1000, 33};
            const int32_t step = steps[in.next() & 3];
            if (g_SystemState) {
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, step);
                g_SystemState->gameFrameDelta = step;
            }
            g_SpaceRoot->running = in.next() & 1;
            SA_UpdateSpace();
            SA_DeleteKilledObjects();
            break;
        }
        case 10: {  // the player's ship, and the event object of an object
            SectorObject* o = PickObject(in);
            if (!o) break;
            if (in.next() & 1) g_SpaceRoot->game.playerObject = o;
            else o->eventObject = kStoryObject;
            break;
        }
        default: {  // save the space section, free the game and load it back
            if (QelFile* f = Qel_fcopen("sect.bin", "wb", 0)) {
                SA_SaveSectors(f);
                Qel_fclose(f);
            }
            SA_FreeAllObjects(g_SpaceRoot);
            ST_RemoveAllTakes(g_SpaceRoot);
            if (QelFile* f = Qel_fcopen("sect.bin", "rb", 0)) {
                SA_ReadSectors(f);
                Qel_fclose(f);
            }
            break;
        }
    }
    NoteNewIds();
    CheckLinks();
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
        FuzzInput in{data, size};
        for (int step = 0; step < kMaxSteps && in.more(); ++step) Step(in);
        SA_FreeAllObjects(&root);
        ST_RemoveAllTakes(&root);
        Fuzz_EndCallInput(&world, s_ctx);
    }
    return 0;
}
