// The space module's engine calls through assembled stories: the call names,
// undefined numbers, calls 0 to 8 with their edge cases, missing arguments,
// story callbacks of kills and frees, and frees from story code while a pass
// holds the objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/table.h"
#include "base/standin_calls.h"
#include "scene/allocs.h"
#include "scene/freeing.h"
#include "scene/state.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr int32_t kStoryObject = 77;
constexpr int32_t kGot = 4;  // the global the callbacks write

const char* const kCalls[] = {"SA_AllocObject",    "SA_FreeObject",      "SA_FindObject",         "SA_SetEventObject",
                              "SA_GetEventObject", "SA_GetParentObject", "SA_StartObjectInSpace", "SA_KillObject",
                              "SA_DamageObject",   "SA_CheckDistances"};

// A story whose global functions "<call><n>" make one space call with the
// globals A0..A(n-1) as arguments, and whose object 77 has the callbacks.
std::string Story() {
    std::string s = "    end\n";
    for (int i = 0; i < 4; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    s += ".var \"Got\" int 0\n.var \"Count\" int 0\n";
    for (const char* call : kCalls)
        for (int n = 0; n <= 4; ++n) {
            s += ".func \"" + std::string(call) + std::to_string(n) + "\" need 16\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sys \"" + call + "\"\n    ret\n";
        }
    s += R"(
.func "Number" need 8
    getg 0
    getg 1
    pushw 1
    sysl "SA_AllocObject"
    ret
.func "SetText" need 8
    pushs "text"
    getg 0
    pushw 2
    sys "SA_SetEventObject"
    ret
.func "CreateDecoupleMissile" need 8
    getl 4
    setg 4
    pop
    c0
    ret
.func "FreeBoth" need 8
    getg 0
    pushw 1
    sys "SA_FreeObject"
    pop
    getg 1
    pushw 1
    sys "SA_FreeObject"
    pop
    getg 1
    pushw 1
    sys "SA_FindObject"
    ret
.object 77
.func "SetSelf" need 8
    self
    getg 0
    pushw 2
    sys "SA_SetEventObject"
    ret
.func "KillSelf" need 8
    self
    getg 2
    getg 1
    getg 0
    pushw 4
    sys "SA_KillObject"
    ret
.func "SelfDestruct" need 8
    getl 4
    setg 4
    pop
    c0
    ret
.func "KilledBy" need 8
    getl 4
    setg 4
    pop
    getl 6
    setg 5
    pop
    c0
    ret
.func "CreateRock" need 8
    getl 4
    setg 4
    pop
    c0
    ret
.func "Wait" need 8
    pushw 0
    sys "T_Later"
    ret
)";
    return s;
}

class SpaceStory : public SpaceStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        SetUpStory(Story());
    }
    void Set(int i, int32_t v) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[i];
        SV_Release(&var);
        var.tag = VARTYPE_INTEGER;
        var.bits = static_cast<uint64_t>(static_cast<int64_t>(v));
    }
    int32_t Global(int i) const { return runner_->ctx()->objects[0].variables[i].i; }
    // Runs a function of the story (or of object 77) and answers its result.
    int32_t Run(const std::string& fn, int32_t object = 0) {
        runner_->answers.clear();
        runner_->Start(object, fn.c_str());
        EXPECT_EQ(runner_->answers.size(), 1u) << fn;
        return runner_->answers.empty() ? -999 : runner_->answers.back().n;
    }
    // One call with integer arguments.
    int32_t Call(const char* call, std::vector<int32_t> args) {
        for (size_t i = 0; i < args.size(); ++i) Set(static_cast<int>(i), args[i]);
        return Run(call + std::to_string(args.size()));
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }
};

TEST_F(SpaceStory, TheNameTableMatchesItsGoldenList) {
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/tests/space/golden/call_names.txt");
    ASSERT_TRUE(in.good());
    const char* const* names = SA_GetCallNames();
    int32_t number = 0;
    std::string name;
    int32_t lines = 0;
    while (in >> number >> name) {
        ASSERT_LT(number, SA_CALL_NAME_COUNT);
        EXPECT_EQ(name, names[number]) << number;
        int32_t module = 0, call = -1;
        EXPECT_TRUE(SE_FindCallName(runner_->ctx(), name.c_str(), &module, &call));
        EXPECT_EQ(call, number) << name;
        ++lines;
    }
    EXPECT_EQ(lines, SA_CALL_NAME_COUNT);
    EXPECT_EQ(names[SA_CALL_NAME_COUNT], nullptr);
}

TEST_F(SpaceStory, UndefinedCallsAnswerZeroWithTheirMessages) {
    SE_Task task{};
    struct Case {
        int32_t call;
        const char* line;
    } cases[] = {
        {358, "SA_SysCall: (invalid address) Undefined System Call 358\n"},
        {-1, "SA_SysCall: (invalid address) Undefined System Call -1\n"},
        {260, "SA_SysCall: (invalid address) Undefined System Call SA_CheckDistances (260)\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        task.answered = 0;
        EXPECT_EQ(SA_SysCall(1, &task, c.call, 0, nullptr), 1);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(task.answered, 1);
        EXPECT_EQ(root_.inCall, 0);
    }
    // From a story the position names the task.
    LogCapture log;
    EXPECT_EQ(Call("SA_CheckDistances", {}), 0);
    EXPECT_TRUE(log.Contains(") Undefined System Call SA_CheckDistances (260)\n"));
    EXPECT_FALSE(log.Contains("(invalid address)"));
}

TEST_F(SpaceStory, AllocFindAndFree) {
    Types(SA_MT_SHIP, 3);
    struct Case {
        int32_t mainType, subType;
        bool made;
        const char* line;
    } cases[] = {
        {SA_MT_SHIP, 2, true, nullptr},
        {SA_MT_SHIP, 3, false, "AllocObject(7,3) Invalid subtype "},  // equal to the count
        {32, 0, false, "AllocObject(32,0) Invalid maintype "},
        {0x7fffffff, 0, false, "AllocObject(2147483647,0) Invalid maintype "},  // no overflow
        {SA_MT_SECTOR, 5, true, nullptr},                                       // sectors of any subtype
        {SA_MT_DOCK, 0, false, "AllocObject(5,0) Invalid subtype "},
    };
    for (const Case& c : cases) {
        const uint32_t before = Qel_TableGetCount(root_.ids);
        LogCapture log;
        const int32_t id = Call("SA_AllocObject", {c.mainType, c.subType});
        EXPECT_EQ(id != 0, c.made) << c.mainType;
        EXPECT_EQ(Qel_TableGetCount(root_.ids), before + (c.made ? 1 : 0));
        if (c.line) {
            EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        }
        if (c.made) {
            SectorObject* o = SA_FindObjectByID(static_cast<uint32_t>(id));
            EXPECT_EQ(o->mainType, c.mainType);
            EXPECT_EQ(o->subType, c.subType);
            EXPECT_EQ(o->container, nullptr);
        }
    }
    const int32_t id = Call("SA_AllocObject", {SA_MT_SHIP, 0});
    EXPECT_EQ(Call("SA_FindObject", {id}), id);
    EXPECT_EQ(Call("SA_FreeObject", {id}), 0);
    EXPECT_EQ(Call("SA_FindObject", {id}), 0);
    LogCapture log;
    EXPECT_EQ(Call("SA_FreeObject", {id}), 0);
    EXPECT_TRUE(log.Contains("SA_FindObjectByID(" + std::to_string(id) + ") "));
}

TEST_F(SpaceStory, EventObjectsParentsAndKilledObjects) {
    SectorObject* ship = New(SA_MT_SHIP);
    SectorObject* carrier = New(SA_MT_SHIP);
    ship->parent = carrier;
    EXPECT_EQ(Call("SA_SetEventObject", {Id(ship), 55}), 0);
    EXPECT_EQ(ship->eventObject, 55u);
    Set(0, Id(ship));
    EXPECT_EQ(Run("SetText"), 0);  // a text leaves it
    EXPECT_EQ(ship->eventObject, 55u);
    EXPECT_EQ(Run("SetSelf", kStoryObject), 0);  // a story object gives its ID
    EXPECT_EQ(ship->eventObject, 77u);
    EXPECT_EQ(Call("SA_GetEventObject", {Id(ship)}), 77);
    EXPECT_EQ(Call("SA_GetParentObject", {Id(ship)}), Id(carrier));
    EXPECT_EQ(Call("SA_GetParentObject", {Id(carrier)}), 0);
    EXPECT_EQ(Call("SA_GetEventObject", {9999}), 0);
    // A killed object: 2 does not find it, 4 still does.
    ship->eventObject = 0;
    SectorObject* other = New(SA_MT_SHIP);
    other->eventObject = 12;
    EXPECT_EQ(Call("SA_KillObject", {Id(other), 14, 0}), 0);
    EXPECT_EQ(Call("SA_FindObject", {Id(other)}), 0);
    EXPECT_EQ(Call("SA_GetEventObject", {Id(other)}), 12);
}

TEST_F(SpaceStory, StartObjectInSpaceTakesOnlyContainers) {
    SectorObject* sector = New(SA_MT_SECTOR, 3);
    SectorObject* ship = New(SA_MT_SHIP);
    SectorObject* laser = New(SA_MT_LASER);
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(ship), Id(sector)}), 0);
    EXPECT_EQ(ship->container, sector);
    // Not into a laser (no child list), not into itself, not into its own cargo.
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(ship), Id(laser)}), 0);
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(ship), Id(ship)}), 0);
    SectorObject* inside = New(SA_MT_SHIP);
    O_SetContainer(inside, ship);
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(ship), Id(inside)}), 0);
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(sector), Id(inside)}), 0);
    EXPECT_EQ(ship->container, sector);
    EXPECT_EQ(sector->container, nullptr);
    EXPECT_EQ(Call("SA_StartObjectInSpace", {Id(laser), Id(ship)}), 0);
    EXPECT_EQ(laser->container, ship);
}

TEST_F(SpaceStory, KillArgumentsAndDamage) {
    SectorObject* target = New(SA_MT_SHIP);
    SectorObject* killer = New(SA_MT_SHIP);
    StandIn_ClearObjectCalls();
    // A false third argument passes no killer, whatever the ID.
    EXPECT_EQ(Call("SA_KillObject", {Id(target), 0x10000, 0}), 0);  // kind 0 in the low 16 bits
    EXPECT_TRUE(target->flags & SA_FLAG_KILLED);
    EXPECT_EQ(StandIn_ObjectCalls()[0], "EO_ObjectDestroyedEffect " + std::to_string(Id(target)) + " 0 0");
    // Tag 7 for the extra value: the story object's ID.
    SectorObject* second = New(SA_MT_SHIP);
    StandIn_ClearObjectCalls();
    Set(0, Id(second));
    Set(1, 0);
    Set(2, Id(killer));
    EXPECT_EQ(Run("KillSelf", kStoryObject), 0);
    EXPECT_EQ(StandIn_ObjectCalls()[0],
              "EO_ObjectDestroyedEffect " + std::to_string(Id(second)) + " " + std::to_string(Id(killer)) + " 77");
    // Damage reaches the seam only with both objects.
    static std::vector<int32_t> seen;
    seen.clear();
    const SA_DamageFn saved = g_SADamageObject;
    g_SADamageObject = [](SectorObject*, SectorObject*, int32_t amount, int32_t kind) {
        seen.push_back(amount);
        seen.push_back(kind);
    };
    EXPECT_EQ(Call("SA_DamageObject", {Id(killer), Id(target), 300, 6}), 0);
    EXPECT_EQ(Call("SA_DamageObject", {Id(killer), 4242, 300, 6}), 0);
    g_SADamageObject = saved;
    EXPECT_EQ(seen, (std::vector<int32_t>{300, 6}));
}

// Arguments the story did not give read as INTEGER 0, and nothing beyond the
// given ones is read.
TEST_F(SpaceStory, MissingArgumentsReadZero) {
    Types(SA_MT_SHIP, 1);
    Set(0, SA_MT_SHIP);
    Set(1, 77);                            // would be an invalid subtype if it were read
    EXPECT_NE(Run("SA_AllocObject1"), 0);  // the subtype reads 0
    SectorObject* ship = New(SA_MT_SHIP);
    ship->eventObject = 3;
    Set(0, Id(ship));
    Set(1, 44);
    EXPECT_EQ(Run("SA_SetEventObject1"), 0);  // the event object reads 0
    EXPECT_EQ(ship->eventObject, 0u);
    Set(1, 1);
    EXPECT_EQ(Run("SA_KillObject1"), 0);  // kind 0, no killer
    EXPECT_TRUE(ship->flags & SA_FLAG_KILLED);
    EXPECT_EQ(Run("SA_GetEventObject0"), 0);
    EXPECT_EQ(Run("SA_StartObjectInSpace1"), 0);
    EXPECT_EQ(Run("SA_DamageObject0"), 0);
}

TEST_F(SpaceStory, CallerZeroResultsLandInTheRootSlot) {
    ASSERT_TRUE(runner_->Load(R"(
        end
    .func "Five" need 2
        pushw 5
        ret
    )"));
    EXPECT_EQ(SE_Run(root_.moduleNumber, 0, 0, "Five", VARTYPE_INTEGER, 0), 1);
    EXPECT_EQ(root_.answerArrived, 1);
    EXPECT_EQ(root_.result.tag, VARTYPE_INTEGER);
    EXPECT_EQ(root_.result.i, 5);
}

TEST_F(SpaceStory, KillsAndFreesTellTheStory) {
    SectorObject* sector = New(SA_MT_SECTOR, 1);
    O_Sector(sector)->spaceScene = B3D_SceneAlloc();
    // A dependant with an event object decides itself: "SelfDestruct" 19.
    SectorObject* carrier = New(SA_MT_SHIP);
    SectorObject* fighter = New(SA_MT_SHIP);
    fighter->parent = carrier;
    fighter->eventObject = kStoryObject;
    SS_KillObject(carrier, 0, nullptr, 0);
    EXPECT_EQ(Global(kGot), 19);
    EXPECT_FALSE(fighter->flags & SA_FLAG_KILLED);
    // Area damage asks a debris field for a rock, and lets a story kill.
    Types(SA_MT_MISSILE, 1);
    SectorObject* bomb = New(SA_MT_MISSILE);
    O_SetContainer(bomb, sector);
    SectorObject* field = New(SA_MT_DEBRIS);
    field->eventObject = kStoryObject;
    O_SetContainer(field, sector);
    SectorObject* rock = New(SA_MT_ASTEROID);
    rock->parent = field;
    rock->instance->pos.x = 10;
    rock->hull = 1;
    O_SetContainer(rock, sector);
    Set(kGot, 0);
    O_KillObjectEvents(sector, bomb, 1000, 1000, nullptr);
    EXPECT_TRUE(rock->flags & SA_FLAG_KILLED);
    EXPECT_EQ(Global(kGot), Id(rock));  // "CreateRock" got the asteroid
    SectorObject* told = New(SA_MT_SHIP);
    told->eventObject = kStoryObject;
    told->instance->pos.x = 20;
    told->hull = 0;  // the damage (none here) leaves no hull
    O_SetContainer(told, sector);
    Set(kGot, 0);
    O_KillObjectEvents(sector, bomb, 1000, 1000, nullptr);
    EXPECT_EQ(Global(kGot), 5);  // "KilledBy" (5: by a missile, no launcher, the bomb)
    EXPECT_EQ(Global(kGot + 1), Id(bomb));
    EXPECT_FALSE(told->flags & SA_FLAG_KILLED);
}

TEST_F(SpaceStory, AMissileDecouplesIntoItsPieces) {
    TempGameFolder folder;
    std::string text, error;
    ASSERT_TRUE(Tool_CutSourceToText("path 0 4001\npath 1 12\npath 2 4002\n", &text, &error)) << error;
    folder.Write("cut/00640.bod", text);
    TypeRecord* missiles = Types(SA_MT_MISSILE, 2);
    missiles[0].field[SA_TF_MISSILE_CUT] = 640;
    missiles[1].field[SA_TF_BODY] = 4001;  // path 0 names this type; 12 is out of range, 4002 no type
    SectorObject* missile = New(SA_MT_MISSILE, 0);
    EXPECT_EQ(O_DecoupleMissile(missile), 0);  // no event object
    missile->eventObject = kStoryObject;
    const uint32_t oldInstance = missile->instance->id;
    const uint32_t before = Qel_TableGetCount(root_.ids);
    EXPECT_EQ(O_DecoupleMissile(missile), 1);
    EXPECT_EQ(Qel_TableGetCount(root_.ids), before + 1);
    SectorObject* piece = SA_FindObjectByID(static_cast<uint32_t>(Global(kGot)));  // told to the story
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(piece->mainType, SA_MT_MISSILE);
    EXPECT_EQ(piece->subType, 1);
    EXPECT_EQ(piece->reference, missile);
    EXPECT_EQ(piece->referenceIndex, 0);
    EXPECT_TRUE(piece->flags & SA_FLAG_HANGS_ON);
    EXPECT_EQ(missile->flags & 0x401u, 0x401u);
    EXPECT_TRUE(missile->flags2 & 0x4);
    EXPECT_EQ(B3D_InstFind(oldInstance), nullptr);
    EXPECT_TRUE(missile->instance->flags & 0x100000);
    J3D_FreeAllCuts();
}

TEST_F(SpaceStory, AFreedObjectAnswersItsWaitingTasksWithEight) {
    Types(SA_MT_SHIP, 1)->field[SA_TF_SHIP_TURRET_COUNT] = 2;
    SectorObject* ship = New(SA_MT_SHIP);
    runner_->Start(kStoryObject, "Wait");
    runner_->Start(kStoryObject, "Wait");
    ASSERT_EQ(runner_->later.size(), 2u);
    ship->callerModule = static_cast<uint32_t>(runner_->module());
    ship->callerHandle = runner_->later[0];
    O_ShipData(ship)->turrets[1].caller = SA_Caller{static_cast<uint32_t>(runner_->module()), runner_->later[1]};
    const uint32_t id = ship->id;
    LogCapture log;
    runner_->answers.clear();
    Set(0, Id(ship));
    runner_->Start(0, "SA_FreeObject1");
    EXPECT_TRUE(log.Contains("WARNING: SectorObject freeing but a task waits for a system call on this object! id=" +
                             std::to_string(id) + " eventobj=0 maintype=7 coursetype=0\n"));
    EXPECT_TRUE(
        log.Contains("WARNING: SectorObject freeing but a turret task waits for a system call on this object!\n"));
    SE_RunAllTasks();
    // The free's own answer and the two waiting tasks' 8.
    std::vector<int32_t> got;
    for (const RunAnswer& a : runner_->answers) got.push_back(a.n);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<int32_t>{0, 8, 8}));
    // Its ID is not handed out again.
    EXPECT_GT(New(SA_MT_SHIP)->id, id);
}

// A story callback started inside the space update frees objects the pass
// holds: they are killed quietly and freed when the update ends.
void FreeFromStory(SectorObject* sector) {
    SE_Run(g_SpaceRoot->moduleNumber, 0, 0, "FreeBoth", VARTYPE_INTEGER, 0);
    (void)sector;
}

TEST_F(SpaceStory, StoryFreesDuringTheSpaceUpdate) {
    const SA_UpdatePhases saved = g_SAPhases;
    g_SAPhases.updateObjects = FreeFromStory;
    SectorObject* first = New(SA_MT_SECTOR, 1);
    SectorObject* second = New(SA_MT_SECTOR, 2);
    SectorObject* ship = New(SA_MT_SHIP);
    O_SetContainer(ship, second);
    Set(0, Id(second));  // the next sector of the pass
    Set(1, Id(ship));
    const uint32_t ids[] = {second->id, ship->id};
    root_.running = 1;
    SA_UpdateSpace();
    g_SAPhases = saved;
    // "SA_FindObject" saw the ship killed at once (the answer came to the root).
    EXPECT_EQ(root_.answerArrived, 1);
    EXPECT_EQ(root_.result.i, 0);
    for (uint32_t id : ids) EXPECT_EQ(Qel_TableGet(root_.ids, id), 0u);
    EXPECT_EQ(SA_ListFirst(&root_.objects), first);
}

}  // namespace
