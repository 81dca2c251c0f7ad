// A space root with a story loaded, as the order calls and the behaviours
// meet it: a sector, ships of a type that flies and turns, engine calls made
// as the script engine makes them, frames with a stepped game clock, and the
// answers the ships' waiting tasks receive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scene/records.h"
#include "script/context.h"
#include "space/objects.h"
#include "space/space_fixture.h"
#include "support/script_run.h"
#include "system/clock.h"

// The ship type 0: 150,000 units a second at most, 30,000 a second more each
// second, a twentieth of a turn a second on each axis, class 2.
constexpr int32_t kTestShipSpeed = 150000;
constexpr int32_t kTestShipAcceleration = 30000;
constexpr int32_t kTestShipTurn = 3277;

inline ScriptValue IntValue(int32_t n) {
    ScriptValue v{};
    v.tag = VARTYPE_INTEGER;
    v.bits = static_cast<uint64_t>(static_cast<int64_t>(n));
    return v;
}

class OrderTest : public SpaceTest {
protected:
    static constexpr int32_t kParked = -1;
    using Answers = std::vector<std::pair<uint32_t, int32_t>>;

    void SetUp() override {
        SpaceTest::SetUp();
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        ASSERT_TRUE(runner_->Load(Story()));
        module_ = runner_->module();
        SetClock(1000000);
        TypeRecord* ships = Types(SA_MT_SHIP, 2);
        for (int i = 0; i < 2; ++i) {
            int32_t* f = ships[i].field;
            f[SA_TF_SHIP_SPEED] = kTestShipSpeed;
            f[SA_TF_SHIP_ACCELERATION] = kTestShipAcceleration;
            f[SA_TF_STEP_X] = f[SA_TF_STEP_Y] = f[SA_TF_STEP_Z] = kTestShipTurn;
            f[SA_TF_CLASS] = 2;
        }
        ships[1].field[SA_TF_SHIP_TURRET_COUNT] = 3;
        sector_ = New(SA_MT_SECTOR, 1);
        root_.running = 1;
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        runner_.reset();
        g_SEContext = saved_;
        SpaceTest::TearDown();
    }
    // The story: object 2100 keeps the argument of its notifications in global 0.
    virtual std::string Story() const {
        return R"(
    end
.var "Got" int 0
.object 2100
.func "NotifyDockingAbort" need 8
    getl 4
    setg 0
    pop
    c0
    ret
.func "NotifySelfDestruct" need 8
    getl 4
    setg 0
    pop
    c0
    ret
)";
    }
    int32_t Global(int i) const { return runner_->ctx()->objects[0].variables[i].i; }

    // An object in the sector at a position, looking down +z, last moved now.
    SectorObject* Placed(int16_t mainType, int16_t sub, int32_t x, int32_t y, int32_t z, int32_t radius = 0) {
        SectorObject* o = New(mainType, sub);
        Into(sector_, o);
        o->instance->pos = QelVector{x, y, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        o->size = radius;
        o->lastMoveTime = system_->gameClock;
        return o;
    }
    // A ship whose order answers the test module under its ID.
    SectorObject* Ship(int32_t x = 0, int32_t y = 0, int32_t z = 0) {
        SectorObject* s = Placed(SA_MT_SHIP, 0, x, y, z);
        s->callerModule = static_cast<uint32_t>(module_);
        s->callerHandle = s->id;
        return s;
    }
    // Calls an engine call as the script engine does; the answer, or kParked.
    int32_t Call(int32_t number, std::vector<ScriptValue> args, uint32_t taskId = 77) {
        task_ = SE_Task{};
        task_.id = taskId;
        SA_SysCall(module_, &task_, number, static_cast<int32_t>(args.size()), args.data());
        return task_.answered ? task_.callResult.i : kParked;
    }
    // One frame of ms game time through the space update and the deletion
    // of killed objects, as the game loop runs them.
    void Frame(int32_t ms) {
        SetClock(S_ClockAdvance(system_->gameClock, ms));
        system_->gameFrameDelta = ms;
        SA_UpdateSpace();
        SA_DeleteKilledObjects();
    }
    // The answers the test module was told later: (handle, code).
    Answers Told() const {
        Answers r;
        for (const RunAnswer& a : runner_->answers) r.emplace_back(a.callerNumber, a.n);
        return r;
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }

    std::unique_ptr<StoryRunner> runner_;
    SE_Context* saved_ = nullptr;
    int32_t module_ = 0;
    SE_Task task_{};
    SectorObject* sector_ = nullptr;
};
