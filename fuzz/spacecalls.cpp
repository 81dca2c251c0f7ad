// The space module's engine calls: each input byte pair is one step of a
// random sequence over live, killed, freed and made-up object IDs: a call
// from the story (any number the dispatcher answers, the orders and the
// autopilot among them, with integer, text or object arguments, fewer or more
// than the call reads), a frame of a random length across the clock's wrap
// (the space update: story code that frees and kills before the behaviours,
// the behaviours, movement and the orientation, then the deletion of killed
// objects), a save and load of the space section, a task parked on an
// object, a dependant or an area-damage missile, objects placed, switched in
// detail, launched from, moved into containers, swept and traced, objects
// moved, turned and flagged, courses and order fields set as no call would
// set them; ships started in hangars (call 25) and launched by the hangar
// step, screens and sector videos; lasers and shields mounted, lasers fired,
// pairs resolved and damage dealt, tractor releases, turret steps and beams
// placed, path bullets fired, swept bullets hitting, ships on the attack
// firing, with story
// callbacks that free and kill what the combat code holds; turret orders
// given and stopped, and ships decoupled from objects of every kind (only a
// ship may keep the task). After each
// input every object is freed, every task an object or turret still held
// must have been answered and the memory books must be back where they were.
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
#include "scene/freeing.h"
#include "scene/state.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "script/arrays.h"
#include "script/values.h"
#include "scene/records.h"
#include "system/clock.h"
#include "space/behaviour.h"
#include "space/callnames.h"
#include "space/collisions.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/detail.h"
#include "space/hangars.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "space/utility.h"
#include "space/weapons.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr int32_t kStoryObject = 77;
constexpr int kArgs = 7;
constexpr int kMaxSteps = 256;

// "C<call>_<n>" makes call number <call> with the globals A0..A(n-1); the
// story object 77 answers the space module's callbacks by freeing, killing
// and making objects named in the globals.
std::string StoryText() {
    std::string s = "    end\n";
    for (int i = 0; i < kArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    const char* const* names = SA_GetCallNames();
    std::vector<int> calls;
    for (int call = 0; call <= 33; ++call) calls.push_back(call);
    calls.push_back(273);
    for (int call : calls)
        for (int n = 0; n <= kArgs; ++n) {
            s += ".func \"C" + std::to_string(call) + "_" + std::to_string(n) + "\" need 16\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sysl \"" + names[call] + "\"\n    ret\n";
        }
    s += ".func \"C260_0\" need 4\n    pushw 0\n    sysl \"SA_CheckDistances\"\n    ret\n";
    s += ".func \"C327_4\" need 16\n    getg 3\n    getg 2\n    getg 1\n    getg 0\n    pushw 4\n    sysl "
         "\"SA_DecoupleShips\"\n    ret\n";
    // Story code the space module starts: frees the object in A0, kills the
    // one in A1, makes a ship, all while the module holds its objects.
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
    c7
    pushw 2
    sysl "SA_AllocObject"
    pop
    c0
    ret
)";
    s += ".func \"Chaos\" need 16\n" + chaos;
    s += ".func \"CreateDecoupleMissile\" need 16\n" + chaos;
    s += ".object 77\n";
    for (const char* name : {"SelfDestruct", "KilledBy", "CreateRock", "MakeDamage", "AttackedBy", "CatchWare",
                             "CanLand", "CanWarp", "CollisionWarn", "GetAmmunitionCountReload", "UseAmmunition",
                             "GetTurretFiringMask", "SetTractorDst", "DetailSwitch", "MissileLaunched", "MissileAlert"})
        s += ".func \"" + std::string(name) + "\" need 16\n" + chaos;
    s += ".func \"Park\" need 4\n    c0\n    sysl \"F_Later\"\n    ret\n";
    return s;
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
    bool More() const { return pos < size; }
};

std::vector<uint32_t> s_ids;  // every ID made in this input, live or not
SE_Context* s_ctx = nullptr;

int32_t PickId(Input& in) {
    const uint8_t b = in.Next();
    if (b >= 0xF0 || s_ids.empty()) {
        static const int32_t made[] = {0, -1, 0x7ffffffe, 0x7fffffff, 1, 2, 3, 1000};
        return made[b & 7];
    }
    return static_cast<int32_t>(s_ids[b % s_ids.size()]);
}

SectorObject* PickObject(Input& in) {
    const int32_t id = PickId(in);
    return g_SpaceRoot ? reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, static_cast<uint32_t>(id)))
                       : nullptr;
}

// A large signed number: 24 random bits shifted into place.
int32_t Coordinate(Input& in) {
    const uint32_t v = static_cast<uint32_t>(in.Next()) << 24 | static_cast<uint32_t>(in.Next()) << 16 |
                       static_cast<uint32_t>(in.Next()) << 8;
    return static_cast<int32_t>(v) >> (in.Next() & 15);
}

void SetGlobal(int i, Input& in) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    const uint8_t kind = in.Next();
    if (kind < 200) {
        v.tag = VARTYPE_INTEGER;
        int32_t n;
        if (kind < 120) n = PickId(in);
        else if (kind < 160) n = static_cast<int8_t>(in.Next());
        else n = Coordinate(in);  // positions, ranges and times
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(n));
    } else if (kind < 230) {
        SV_AssignString(&v, "text");
    } else if (StoryInstance* o = SB_FindObject(s_ctx, kStoryObject)) {
        SV_AssignObject(&v, o);
    }
}

void SetInt(int i, int32_t n) {
    ScriptValue& v = s_ctx->objects[0].variables[i];
    SV_Release(&v);
    v = ScriptValue{};
    v.tag = VARTYPE_INTEGER;
    v.i = n;
}

void Run(const char* name, int32_t objectId = 0) {
    SE_RunIntArgs(s_ctx, 0, 0, objectId, name, VARTYPE_INTEGER, 0, nullptr);
}

size_t WaitingTasks() {
    size_t n = 0;
    for (const SE_ListNode* node = s_ctx->waiting.head.succ; SE_ListIsTask(node); node = node->succ) ++n;
    return n;
}

// A turret order as a story gives it (call 23 at an object, 24 at a point),
// with a turret and times that mostly pass the calls' checks and a mounting
// set as no call would; or the turret's stop (21).
void TurretOrder(Input& in) {
    const uint8_t how = in.Next() % 3;
    SectorObject* ship = PickObject(in);
    SetInt(0, ship ? static_cast<int32_t>(ship->id) : PickId(in));
    const int32_t turret = in.Next() % 3;
    if (ShipData* d = ship ? O_ShipData(ship) : nullptr; d && d->turrets && turret < d->turretCount)
        for (int32_t& m : d->turrets[turret].mountDirection) m = static_cast<int8_t>(in.Next()) * 512;
    if (how == 2) {
        SetInt(1, turret);
        SetInt(2, static_cast<int8_t>(in.Next()));
        return Run("C21_3");
    }
    if (how == 0) {
        SetInt(1, PickId(in));
    } else {
        ScriptValue& v = s_ctx->objects[0].variables[1];
        SV_Release(&v);
        SV_ArrayAlloc(&v, 3);
        for (int32_t k = 0; k < 3; ++k) SV_ArrayWriteInt(&v, k, Coordinate(in));
    }
    SetInt(2, turret);
    const int32_t least = static_cast<int8_t>(in.Next()) * 50;
    SetInt(3, least);
    SetInt(4, least + static_cast<int8_t>(in.Next()) * 100);
    Run(how == 0 ? "C23_5" : "C24_5");
}

// "SA_DecoupleShips" on an object of any kind: only a ship may keep the task.
void Decouple(Input& in) {
    SectorObject* o = PickObject(in);
    SetInt(0, o ? static_cast<int32_t>(o->id) : PickId(in));
    for (int i = 1; i < 4; ++i) SetInt(i, static_cast<int8_t>(in.Next()));
    const bool ship = o && o->mainType == SA_MT_SHIP;
    const size_t waiting = WaitingTasks();
    Run("C327_4");
    if (!ship && WaitingTasks() != waiting) __builtin_trap();
}

// New gates hold ships as their own cuts would make them; new specials become
// screens on a video channel by their ID (single videos, a video list, one
// channel with no list), some near at any distance; new sectors get a video
// index in or out of the Videos table. Nothing is read from the input, so
// older inputs step as they did.
void DressNew(uint32_t id) {
    auto* o = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id));
    if (o->mainType == SA_MT_GATE) o->flags |= SA_FLAG_HOLDER;
    if (SpecialData* screen = O_SpecialData(o)) {
        static const int32_t channels[] = {1, 2, 3, -1, -2, 0};
        screen->videoChannel = channels[id % 6];
        if (id & 1) o->flags2 |= SA_FLAG2_SCREEN_ANY_DISTANCE;
    } else if (SectorSpace* sector = O_Sector(o)) {
        static const int32_t indexes[] = {-1, 0, 2, 3, 99, -7};
        sector->videoIndex = indexes[id % 6];
    }
}

void NoteNewIds() {
    if (!g_SpaceRoot) return;
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        bool known = false;
        for (uint32_t id : s_ids) known = known || id == k;
        if (!known && s_ids.size() < 512) {
            s_ids.push_back(k);
            DressNew(k);
        }
    }
}

// Story code frees and kills what the pass holds, then the collision pass runs.
void ChaosPhase(SectorObject* sector) {
    const uint32_t id = sector->id;
    Run("Chaos");
    if (SA_LookupObject(id) == sector && !(sector->flags & SA_FLAG_KILLED)) S_CheckCollisions(sector);
}

void Types() {
    static bool made = false;
    if (made) return;
    made = true;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (SA_TypesFileName(m) || m == SA_MT_CAMERA || m == SA_MT_NEBULA) SA_AppendTypeRecords(m, 3);
    // Ships and missiles that fly and turn (subtype 2 of each does neither).
    for (int sub = 0; sub < 2; ++sub) {
        int32_t* ship = g_TypeDB.types[SA_MT_SHIP][sub].field;
        ship[SA_TF_SHIP_SPEED] = 150000 * (sub + 1);
        ship[SA_TF_SHIP_ACCELERATION] = 30000;
        ship[SA_TF_STEP_X] = ship[SA_TF_STEP_Y] = ship[SA_TF_STEP_Z] = 3277 * (sub + 1);
        ship[SA_TF_CLASS] = sub ? 1 : 5;
        int32_t* missile = g_TypeDB.types[SA_MT_MISSILE][sub].field;
        missile[SA_TF_MISSILE_SPEED] = 300000;
        missile[SA_TF_MISSILE_ACCELERATION] = 100000;
        missile[21] = 3000;  // flight time
        missile[SA_TF_STEP_X] = missile[SA_TF_STEP_Y] = 9000;
    }
    g_TypeDB.types[SA_MT_SUN][1].field[SA_TF_OWN] = 1;
    g_TypeDB.types[SA_MT_SUN][1].field[SA_TF_STEP_Z] = 500;
    SA_AppendTypeRecords(SA_MT_BULLET, 10);  // subtype 12 deals the global area damage
    g_TypeDB.types[SA_MT_SHIP][1].field[SA_TF_SHIP_TURRET_COUNT] = 2;
    g_TypeDB.types[SA_MT_MISSILE][1].field[SA_TF_MISSILE_DAMAGE] = 5000;
    g_TypeDB.types[SA_MT_MISSILE][1].field[23] = 2000000;
    g_TypeDB.types[SA_MT_MISSILE][2].field[SA_TF_MISSILE_FLAGS] = 0x41;
    // Missile 1 splits into two of missile 2 a tenth of a second out.
    g_TypeDB.types[SA_MT_MISSILE][1].field[SA_TF_MISSILE_CUT] = 640;
    g_TypeDB.types[SA_MT_MISSILE][1].field[SA_TF_MISSILE_SPLIT_DELAY] = 100;
    g_TypeDB.types[SA_MT_MISSILE][2].field[SA_TF_BODY] = 4001;
    std::string cut, error;
    if (!Tool_CutSourceToText("path 0 4001\npath 1 4001\n", &cut, &error)) __builtin_trap();
    Fuzz_WriteFile("cut/00640.bod", reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
    g_TypeDB.types[SA_MT_DEBRIS][1].field[SA_TF_DEBRIS_LEVELS] = 2;
    g_TypeDB.types[SA_MT_BULLET][1].field[SA_TF_BULLET_FLAGS] = 0x100;
    // Bullets: a beam, an ammunition user and a hull-through one that repairs;
    // lasers firing them; a shield that holds.
    for (int sub = 0; sub < 3; ++sub) {
        int32_t* bullet = g_TypeDB.types[SA_MT_BULLET][sub].field;
        bullet[SA_TF_BULLET_SPEED] = 200000;
        bullet[SA_TF_BULLET_LIFETIME] = 1500;
        bullet[SA_TF_BULLET_SHIELD_DAMAGE] = bullet[SA_TF_BULLET_HULL_DAMAGE] = 800;
        int32_t* laser = g_TypeDB.types[SA_MT_LASER][sub].field;
        laser[SA_TF_LASER_RELOAD] = 100 * sub;
        laser[SA_TF_LASER_ENERGY] = 5;
        laser[SA_TF_LASER_BULLET_TYPE] = sub == 2 ? 40 : sub;  // 40: no such bullet
    }
    g_TypeDB.types[SA_MT_BULLET][0].field[SA_TF_BULLET_FLAGS] = SA_BULLET_BEAM;
    g_TypeDB.types[SA_MT_BULLET][1].field[SA_TF_BULLET_FLAGS] |= SA_BULLET_AMMUNITION | SA_BULLET_OWN_STEP | 0xA0;
    g_TypeDB.types[SA_MT_BULLET][1].field[SA_TF_BULLET_SCENE_RESOURCE] = 104;  // a path cut that is not there
    g_TypeDB.types[SA_MT_SHIELD][0].field[SA_TF_SHIELD_STRENGTH] = 65536;
    g_TypeDB.types[SA_MT_SHIELD][0].field[SA_TF_SHIELD_ENERGY] = 3000;
    g_TypeDB.types[SA_MT_SHIP][0].field[SA_TF_SHIP_SHIELD_POWER] = 500;
    g_TypeDB.types[SA_MT_SHIP][0].field[SA_TF_SHIP_LASER_POWER_MAX] = 100;
    g_TypeDB.types[SA_MT_SHIP][0].field[SA_TF_SHIP_LASER_POWER_RELOAD] = 50;
    g_TypeDB.types[SA_MT_SHIP][0].field[SA_TF_SHIP_MAX_HULL] = 20000;
    // Videos for the screens: one id, two ids, and a list on channel -1.
    static SA_VideoRecord videos[] = {{1, {1, 0, 0, 0}, 41, {0, 0, 0}, {0, 1, 0}},
                                      {2, {2, 3, 0, 0}, 42, {0, 0, 0}, {0, 1, 0}},
                                      {1, {3, 0, 0, 0}, 43, {0, 0, 0}, {0, 1, 0}}};
    static int32_t list[] = {2, 1, 3};
    static int32_t* lists[] = {list};
    g_TypeDB.videos = videos;
    g_TypeDB.videoCount = 3;
    g_TypeDB.videoLists = lists;
    g_TypeDB.videoListCount = 1;
}

// The bytes that pick the take, the turret orders and the decoupling; every
// other byte picks one of the 24 other operations by its remainder. Taking
// them into the remainder would move the steps of every seed and regression;
// no seed or regression used these values when they were taken.
constexpr uint8_t kTakeOp = 253;
constexpr uint8_t kTurretOp = 248;
constexpr uint8_t kDecoupleOp = 247;

int Operation(uint8_t op) {
    if (op == kTakeOp) return 24;
    if (op == kTurretOp) return 25;
    if (op == kDecoupleOp) return 26;
    return op % 24;
}

void Step(Input& in) {
    switch (Operation(in.Next())) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: {  // a call 0..33 or 273 from the story with 0..7 arguments
            const uint8_t pick = in.Next();
            const int call = pick == 255 ? 273 : pick % 34;
            const int n = in.Next() % (kArgs + 1);
            for (int i = 0; i < n; ++i) SetGlobal(i, in);
            if (call == 0 && n >= 2) {  // mostly valid types
                ScriptValue& m = s_ctx->objects[0].variables[0];
                ScriptValue& s = s_ctx->objects[0].variables[1];
                SV_Release(&m);
                SV_Release(&s);
                m.tag = s.tag = VARTYPE_INTEGER;
                m.bits = in.Next() % 34;
                s.bits = in.Next() % 4;
            }
            Run(("C" + std::to_string(call) + "_" + std::to_string(n)).c_str());
            break;
        }
        case 7: {  // an undefined or not yet served number, straight to the handler
            static const int32_t numbers[] = {358, -1, 260, 9, 100, 357, 0x7fffffff, -358};
            SA_SysCall(1, nullptr, numbers[in.Next() & 7], 0, nullptr);
            break;
        }
        case 8:
        case 9: {  // a frame of a random length; the space runs on most
            static const int32_t steps[] = {16, 20, 0, 1000, 5000, 16, 33, 250};
            const int32_t step = steps[in.Next() & 7];
            if (g_SystemState) {
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, step);
                g_SystemState->gameFrameDelta = step;
            }
            g_SpaceRoot->running = (in.Next() & 7) != 0;
            SA_UpdateSpace();
            SA_DeleteKilledObjects();
            SE_RunAllTasks();
            break;
        }
        case 10: {  // save the space section, free the game and load it back (over the same types)
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
        case 11: {  // a story task parked on an object, as an order parks it (the caller is module 1)
            SectorObject* o = PickObject(in);
            if (!o) break;
            Run("Park", kStoryObject);
            // The task that just entered the waiting list.
            SE_ListNode* n = s_ctx->waiting.head.succ;
            if (!SE_ListIsTask(n)) break;
            const uint32_t task = SE_ListTask(n)->id;
            const int turret = in.Next() % 3;
            ShipData* ship = O_ShipData(o);
            if (turret < 2 && ship && turret < ship->turretCount)
                ship->turrets[turret].caller = SA_Caller{static_cast<uint32_t>(s_ctx->ownModule), task};
            else {
                o->callerModule = static_cast<uint32_t>(s_ctx->ownModule);
                o->callerHandle = task;
            }
            break;
        }
        case 12: {  // a dependant, an event object with callbacks, a hang-on reference
            SectorObject* a = PickObject(in);
            SectorObject* b = PickObject(in);
            if (!a || !b || a == b) break;
            switch (in.Next() % 4) {
                case 0: a->parent = b; break;
                case 1: a->eventObject = kStoryObject; break;
                case 2: a->reference = b; break;
                default:
                    if (ShipData* ship = O_ShipData(a)) ship->OrderTarget = b;
                    break;
            }
            break;
        }
        case 13: {  // an area-damage missile, placed near its targets
            SectorObject* o = PickObject(in);
            if (!o) break;
            if (o->mainType == SA_MT_MISSILE) o->flags |= SA_FLAG_AREA_DAMAGE;
            if (o->instance) o->instance->pos.x = static_cast<int32_t>(in.Next()) * 10000;
            break;
        }
        case 14: {  // a missile decoupled, a dependant's remote detonation
            SectorObject* o = PickObject(in);
            if (o && (in.Next() & 1)) O_DecoupleMissile(o);
            else if (o) O_RemoteDetonateMissile(o);
            break;
        }
        case 15: {  // placement with the detail switch, launches, moves into containers, sweeps, traces
            SectorObject* a = PickObject(in);
            SectorObject* b = PickObject(in);
            if (!a) break;
            switch (in.Next() % 10) {
                case 0: O_SetPos(a, Coordinate(in), Coordinate(in), Coordinate(in)); break;
                case 1: O_SetRot(a, Coordinate(in), Coordinate(in), Coordinate(in)); break;
                case 2: O_SetDirection(a, Coordinate(in), Coordinate(in), Coordinate(in)); break;
                case 3: {  // the switch, with a camera in the sector's space scene now and then
                    a->flags2 ^= (in.Next() & 1) ? SA_FLAG2_DETAIL : 0u;
                    SectorSpace* sector = a->container ? O_Sector(a->container) : nullptr;
                    if (sector && !sector->spaceScene && (in.Next() & 1)) {
                        sector->spaceScene = B3D_SceneAlloc();
                        if (Camera3D* camera = B3D_CameraAlloc()) B3D_SceneLinkInst(sector->spaceScene, camera);
                    }
                    O_DetailSwitch(a, in.Next() & 1, in.Next() & 1);
                    break;
                }
                case 4:
                    O_LaunchMissile(a, b, in.Next() & 1, static_cast<int8_t>(in.Next()) % 4, in.Next() & 3,
                                    Coordinate(in));
                    break;
                case 5:
                    if (b) O_MoveIntoContainer(b, a);
                    break;
                case 6:
                    if (b) O_AddAvoidObstacle(a, b, Coordinate(in));
                    break;
                case 7: O_SweepBullet(a); break;
                case 8: {
                    const QelVector from{Coordinate(in), Coordinate(in), Coordinate(in), 0};
                    const QelVector to{Coordinate(in), Coordinate(in), Coordinate(in), 0};
                    O_FastTrace(a, &from, &to, in.Next() & 1);
                    break;
                }
                default: SA_RefreshAfterDeviceReset(); break;
            }
            break;
        }
        case 16: {  // an object moved, turned and flagged as no call would
            SectorObject* o = PickObject(in);
            if (!o || !o->instance) break;
            const uint8_t what = in.Next();
            if (what & 1) o->instance->pos = QelVector{Coordinate(in), Coordinate(in), Coordinate(in), 0};
            if (what & 2) Qel_MatFromAngles(&o->instance->matrix, in.Next() << 8, in.Next() << 8, in.Next() << 8);
            if (what & 4) o->speed = o->desiredSpeed = Coordinate(in);
            static const uint32_t flags[] = {SA_FLAG_AUTOPILOT, SA_FLAG_HELD, SA_FLAG_HANGS_ON,  SA_FLAG_PLAYER,
                                             SA_FLAG_HOLDER,    0x10000000,   SA_FLAG_AUTOPILOT, 0x40000000};
            if (what & 8) o->flags ^= flags[in.Next() & 7];
            if (what & 16) o->size = Coordinate(in);
            if (what & 32)
                for (int32_t& d : o->drift) d = Coordinate(in);
            if (what & 64)
                for (int32_t& t : o->turnLeft) t = Coordinate(in);
            if (what & 128) o->lastMoveTime = Coordinate(in);
            break;
        }
        case 17: {  // a course and order fields set straight
            SectorObject* o = PickObject(in);
            ShipData* ship = o ? O_ShipData(o) : nullptr;
            if (!ship) break;
            ship->CourseType = static_cast<int16_t>(static_cast<int8_t>(in.Next()) % 40);
            ship->OrderTarget = PickObject(in);
            ship->OrderPos = QelVector{Coordinate(in), Coordinate(in), Coordinate(in), 0};
            ship->OrderRange = Coordinate(in);
            ship->PortIndex = static_cast<int8_t>(in.Next()) % 4;
            ship->TimeLimitOn = in.Next() & 1;
            ship->TimeLimit = Coordinate(in);
            ship->NextThink = Coordinate(in);
            ship->ThinkInterval = static_cast<int8_t>(in.Next()) * 100;
            ship->WarpEnd = Coordinate(in);
            ship->WarpEffectOn = in.Next() & 1;
            ship->SpeedLimit = Coordinate(in);
            ship->OrderValue = Coordinate(in);
            break;
        }
        case 18: {  // missiles, cameras and tractor beams with their objects
            SectorObject* a = PickObject(in);
            SectorObject* b = PickObject(in);
            if (!a) break;
            if (MissileData* m = O_MissileData(a)) {
                m->target = b;
                m->launchTime = Coordinate(in);
            } else if (CameraData* c = O_CameraData(a)) {
                c->destination = b;
            } else if (b && b != a) {
                a->tractorSource = b;
                b->tractorHeld = a;
                a->tractorDistance = Coordinate(in);
            }
            break;
        }
        case 19: {  // the clock jumps, across its wrap now and then
            if (g_SystemState)
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, Coordinate(in) & 0xFFFFFF);
            break;
        }
        case 20: {  // a laser or shield mounted on an object, a laser locked or freed
            SectorObject* o = PickObject(in);
            if (!o || !O_GetChildList(o)) break;
            const uint8_t what = in.Next();
            SectorObject* part = O_AllocObject(SA_TypeCode(what & 1 ? SA_MT_SHIELD : SA_MT_LASER, (what >> 1) % 3));
            if (!part) break;
            O_SetContainer(part, o);
            if (auto* laser = part->mainType == SA_MT_LASER ? static_cast<LaserData*>(part->typeData) : nullptr)
                laser->slot = static_cast<int16_t>((what >> 3) % 3);
            if (what & 0x40) part->flags &= ~SA_FLAG_LASER_FREE;
            if (auto* shield = part->mainType == SA_MT_SHIELD ? static_cast<ShieldData*>(part->typeData) : nullptr)
                shield->energy = Coordinate(in);
            NoteNewIds();
            break;
        }
        case 21: {  // lasers fired by group, mode and mask, at a target or ahead
            SectorObject* o = PickObject(in);
            SectorObject* target = PickObject(in);
            const int32_t group = static_cast<int8_t>(in.Next()) % 4;
            const int32_t mode = in.Next() & 15;
            const uint32_t mask = in.Next() & 1 ? ~0u : in.Next();
            if (ShipData* ship = o ? O_ShipData(o) : nullptr) ship->laserEnergy = Coordinate(in);
            if (o) O_FireLasers(o, target, group, mode, mask);
            NoteNewIds();
            break;
        }
        case 22: {  // a pair resolved as the collision pass would, damage dealt straight
            SectorObject* a = PickObject(in);
            SectorObject* b = PickObject(in);
            if (a && b && a != b && (in.Next() & 1)) S_CollisionObjects(a, b);
            else if (a) O_DamageObject(a, b, Coordinate(in), (in.Next() & 1) ? -1 : Coordinate(in));
            break;
        }
        case 23: {  // tractor releases, the turret step and beams placed
            SectorObject* o = PickObject(in);
            if (!o) break;
            switch (in.Next() % 3) {
                case 0: O_ReleaseTractor(o); break;
                case 1:
                    if (ShipData* ship = O_ShipData(o))
                        for (int32_t n = 0; ship->turrets && n < ship->turretCount; ++n)
                            ship->turrets[n].target = PickObject(in);
                    O_UpdateTurrets(o, 20);
                    break;
                default: O_PositionBeamBullet(o); break;
            }
            NoteNewIds();
            break;
        }
        case 25: TurretOrder(in); break;
        case 26: Decouple(in); break;
        default: {  // 24: a take that finds no cut
            const int32_t id = 1 + in.Next() % 3;
            SA_Take* take = ST_FindTake(id);
            if (!take) take = ST_CreateTake(id, PickObject(in));
            if (take && (in.Next() & 1)) ST_StartTake(take, 100 + id, 0, 0, nullptr);
            else if (take) ST_RemoveTake(take);
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
        g_SAPhases.checkCollisions = ChaosPhase;
        Types();
    }
    {
        FuzzMemoryGuard guard(s_ctx);
        Fuzz_BeginCallInput(&world, s_ctx);
        s_ids.clear();
        Input in{data, size};
        for (int step = 0; step < kMaxSteps && in.More(); ++step) Step(in);
        // The tasks objects and turrets still hold (an order given over
        // another leaves the first task unanswered, by design).
        std::vector<uint32_t> held = Fuzz_HeldTasks(root, s_ctx);
        const auto ownModule = static_cast<uint32_t>(s_ctx->ownModule);
        for (uint32_t k = Qel_TableNext(root.ids, 0); k; k = Qel_TableNext(root.ids, k)) {
            const auto* o = reinterpret_cast<const SectorObject*>(Qel_TableGet(root.ids, k));
            if (const ShipData* ship = O_ShipData(const_cast<SectorObject*>(o)))
                for (int32_t n = 0; ship->turrets && n < ship->turretCount; ++n)
                    if (ship->turrets[n].caller.module == ownModule) held.push_back(ship->turrets[n].caller.handle);
        }
        SA_FreeAllObjects(&root);
        ST_RemoveAllTakes(&root);
        // ... were answered with the object's free.
        Fuzz_CheckAnswered(s_ctx, held);
        Fuzz_EndCallInput(&world, s_ctx);
    }
    return 0;
}
