// The cockpit module's engine calls 0 to 41 through an assembled story: the
// cockpits, their cameras and scenes, references, texts, radar and tracking,
// with missing cockpits, objects and arguments.
#include "cockpit/syscall.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/callnames.h"
#include "cockpit/cockpit_fixture.h"
#include "cockpit/scenes.h"
#include "scene/allocs.h"
#include "scene/trees.h"
#include "script/modules.h"
#include "space/queries.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

constexpr int32_t kMaxArgs = 4;

// Global functions "<call><n>" make the call with the globals A0..A(n-1);
// "<call>T<n>" the same with the text "hello" as the second argument.
std::string Story() {
    std::string s = "    end\n";
    for (int i = 0; i < kMaxArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    for (int32_t call = 0; call < INS_CALL_NAME_COUNT; ++call) {
        const std::string name = INS_GetCallNames()[call];
        for (int n = 0; n <= kMaxArgs; ++n)
            for (bool text : {false, true}) {
                if (text && n < 2) continue;
                s += ".func \"" + name + (text ? "T" : "") + std::to_string(n) + "\" need 16\n";
                for (int k = n - 1; k >= 0; --k)
                    s += text && k == 1 ? "    pushs \"hello\"\n" : "    getg " + std::to_string(k) + "\n";
                s += "    pushw " + std::to_string(n) + "\n    sys \"" + name + "\"\n    ret\n";
            }
    }
    return s;
}

// What the text displays and the tracking were asked.
std::vector<std::string> g_shown;

class CockpitCalls : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        saved_ = g_SEContext;
        savedDisplays_ = g_INSDisplays;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        INS_RegisterSysCalls();
        ASSERT_TRUE(runner_->Load(Story()));
        g_shown.clear();
    }
    void TearDown() override {
        g_INSDisplays = savedDisplays_;
        INS_FreeCockpitSystem();
        runner_.reset();
        g_SEContext = saved_;
        CockpitTest::TearDown();
    }
    void Set(int i, int32_t v) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[i];
        SV_Release(&var);
        var.tag = VARTYPE_INTEGER;
        var.bits = static_cast<uint64_t>(static_cast<int64_t>(v));
    }
    int32_t Run(const std::string& fn) {
        runner_->answers.clear();
        runner_->Start(0, fn.c_str());
        EXPECT_EQ(runner_->answers.size(), 1u) << fn;
        return runner_->answers.empty() ? -999 : runner_->answers.back().n;
    }
    // One call with integer arguments (a text second argument with `text`).
    int32_t Call(const char* call, std::vector<int32_t> args, bool text = false) {
        for (size_t i = 0; i < args.size(); ++i) Set(static_cast<int>(i), args[i]);
        return Run(std::string(call) + (text ? "T" : "") + std::to_string(args.size()));
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }
    static int32_t Id(const Cockpit* c) { return static_cast<int32_t>(c->id); }

    std::unique_ptr<StoryRunner> runner_;
    SE_Context* saved_ = nullptr;
    INSDisplayLink savedDisplays_{};
};

TEST_F(CockpitCalls, CockpitsAreMadeAndFreed) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    const Cockpit* c = INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Call("INS_CockpitGetScene", {id}), static_cast<int32_t>(c->scene));
    EXPECT_EQ(Call("INS_CockpitGetCamera", {id}), static_cast<int32_t>(c->camera));
    EXPECT_NE(c->scene, 0u);
    // The camera leaves and rejoins its scene.
    EXPECT_EQ(Call("INS_CockpitEnableCamera", {id, 0}), 0);
    EXPECT_EQ(IC_Camera(c)->inst.scene, nullptr);
    EXPECT_EQ(Call("INS_CockpitEnableCamera", {id, 1}), 0);
    EXPECT_EQ(IC_Camera(c)->inst.scene, IC_Scene(c));
    EXPECT_EQ(Call("INS_CockpitEnableCamera", {id, 1}), 0);
    EXPECT_EQ(IC_Camera(c)->inst.scene, IC_Scene(c));

    const uint32_t scene = c->scene;
    EXPECT_EQ(Call("INS_CockpitFree", {id}), 0);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id)), nullptr);
    EXPECT_EQ(IC_FindScene(scene), nullptr);
    // A freed or made-up cockpit answers 0 and changes nothing.
    for (const char* call : {"INS_CockpitGetScene", "INS_CockpitGetCamera", "INS_CockpitFree"})
        EXPECT_EQ(Call(call, {id}), 0) << call;
    EXPECT_EQ(Call("INS_CockpitGetMonitorNumber", {id}), -1);
    EXPECT_EQ(Call("INS_CockpitGetCockpitNumber", {id}), 0);
    EXPECT_EQ(Call("INS_CockpitGetMonitorNumber", {}), -1);  // no argument reads as cockpit 0
}

TEST_F(CockpitCalls, StoryCamerasAreHeldWhileTheyLive) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    Camera3D* camera = B3D_CameraAlloc();
    Inst3D* plain = B3D_AllocInst();
    ASSERT_NE(camera, nullptr);
    const auto cam = static_cast<int32_t>(camera->inst.id);
    const struct {
        const char *set, *get;
    } cases[] = {{"INS_CockpitSetSectorCamera", "INS_CockpitGetSectorCamera"},
                 {"INS_CockpitSetGalaxyCamera", "INS_CockpitGetGalaxyCamera"},
                 {"INS_CockpitSetDustCamera", "INS_CockpitGetDustCamera"}};
    for (const auto& k : cases) {
        EXPECT_EQ(Call(k.set, {id, cam}), 0);
        EXPECT_EQ(Call(k.get, {id}), cam) << k.get;
        EXPECT_EQ(Call(k.set, {id, static_cast<int32_t>(plain->id)}), 0);  // not a camera
        EXPECT_EQ(Call(k.get, {id}), 0) << k.get;
        EXPECT_EQ(Call(k.set, {id, cam}), 0);
    }
    EXPECT_TRUE(camera->camFlags & 0x8000u);
    B3D_CameraFree(camera);
    for (const auto& k : cases) EXPECT_EQ(Call(k.get, {id}), 0) << k.get;
    B3D_InstFree(plain);
}

TEST_F(CockpitCalls, OnlyASectorBecomesTheSectorSpace) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    Cockpit* c = INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id));
    TypeRecord* bg = Types(SA_MT_BACKGROUND, 2) + 1;
    bg->field[SA_TF_BG_AMBIENT] = 10;
    bg->field[SA_TF_BG_AMBIENT + 1] = 20;
    bg->field[SA_TF_BG_AMBIENT + 2] = 30;
    SectorObject* sector = New(SA_MT_SECTOR);
    reinterpret_cast<SectorSpace*>(sector)->backgroundType = 1;
    SectorObject* ship = Ship();
    EXPECT_EQ(Call("INS_CockpitSetSectorSpace", {id, Id(ship)}), 0);
    EXPECT_EQ(c->sectorSpace, nullptr);
    EXPECT_EQ(IC_Scene(c)->ints[0], 32);
    EXPECT_EQ(Call("INS_CockpitSetSectorSpace", {id, Id(sector)}), 0);
    EXPECT_EQ(c->sectorSpace, sector);
    EXPECT_EQ(IC_Scene(c)->ints[0], 10);
    EXPECT_EQ(IC_Scene(c)->ints[2], 30);
}

TEST_F(CockpitCalls, ReferencesAreSetClearedAndKeptForMissingObjects) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    SectorObject* ship = Ship();
    const struct {
        const char *set, *get;
    } cases[] = {{"INS_CockpitSetRefObject", "INS_CockpitGetRefObject"},
                 {"INS_CockpitSetCockpitRefObject", "INS_CockpitGetCockpitRefObject"}};
    for (const auto& k : cases) {
        EXPECT_EQ(Call(k.set, {id, Id(ship)}), 0);
        EXPECT_EQ(Call(k.get, {id}), Id(ship));
        LogCapture log;
        EXPECT_EQ(Call(k.set, {id, 99999}), 0);  // missing: logged, kept
        EXPECT_NE(log.Take().find("SA_FindObjectByID(99999)"), std::string::npos);
        EXPECT_EQ(Call(k.get, {id}), Id(ship));
        EXPECT_EQ(Call(k.set, {id, 0}), 0);
        EXPECT_EQ(log.Take(), "");
        EXPECT_EQ(Call(k.get, {id}), 0);
    }
}

TEST_F(CockpitCalls, ValuesOfTheCockpit) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    const Cockpit* c = INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id));
    EXPECT_EQ(Call("INS_CockpitGetRadarMode", {id}), 1);
    const struct { int32_t range, stored; } ranges[] = {{999, 10000000}, {1000, 1000}, {-5, 10000000}};
    for (const auto& r : ranges) {
        EXPECT_EQ(Call("INS_CockpitSetRadarMode", {id, 3, r.range}), 0);
        EXPECT_EQ(Call("INS_CockpitGetRadarMode", {id}), 3);
        EXPECT_EQ(Call("INS_CockpitGetRadarRange", {id}), r.stored) << r.range;
    }
    EXPECT_EQ(Call("INS_CockpitSetRadarMode", {id}), 0);  // the missing mode and range read as 0
    EXPECT_EQ(Call("INS_CockpitGetRadarMode", {id}), 0);
    EXPECT_EQ(Call("INS_CockpitGetRadarRange", {id}), 10000000);

    for (int32_t v : {1, 0, 2, 1}) {
        Call("INS_CockpitMoveCockpit", {id, v});
        const int32_t on = v == 1 ? 0 : 1;
        EXPECT_EQ(c->cockpitBodyOn, on) << v;
        EXPECT_EQ(c->radarBodyOn, on);
        EXPECT_EQ(c->displayBodyOn, on);
    }
    Call("INS_CockpitSetGrid", {id, 5});
    EXPECT_EQ(Call("INS_CockpitGetGrid", {id}), 5);
    Call("INS_CockpitSetShading", {id, 7});
    EXPECT_EQ(c->shading, 7);
    Call("INS_CockpitSetMonitorNumber", {id, 0});
    EXPECT_EQ(Call("INS_CockpitGetMonitorNumber", {id}), 0);
    Call("INS_CockpitSetCockpitNumber", {id, -3});
    EXPECT_EQ(Call("INS_CockpitGetCockpitNumber", {id}), 0);
    Call("INS_CockpitSetZooming", {id, 4});
    EXPECT_EQ(c->zoomFlags, 1u);
    Call("INS_CockpitSetZooming", {id, 0});
    EXPECT_EQ(c->zoomFlags, 0u);
    Call("INS_SetTimeWarpFactor", {6});
    EXPECT_EQ(g_CockpitSystem->timeWarpFactor, 6);
}

TEST_F(CockpitCalls, Tracking) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    SectorObject* ship = Ship();
    Call("INS_CockpitDoTracking", {id});
    EXPECT_EQ(Call("INS_CockpitIsTracking", {id}), 1);
    EXPECT_EQ(Call("INS_CockpitIsEnemyTracking", {id}), 0);
    Call("INS_CockpitDoEnemyTracking", {id});
    EXPECT_EQ(Call("INS_CockpitIsTracking", {id}), 0);
    EXPECT_EQ(Call("INS_CockpitIsEnemyTracking", {id}), 1);
    Call("INS_CockpitSetTracking", {id, Id(ship)});
    EXPECT_EQ(Call("INS_CockpitGetTracking", {id}), Id(ship));
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id))->trackingMode, 3);
    Call("INS_CockpitSetTracking", {id, 99999});  // missing: nothing changes
    EXPECT_EQ(Call("INS_CockpitGetTracking", {id}), Id(ship));
    Call("INS_CockpitSetTracking", {id, 0});
    EXPECT_EQ(Call("INS_CockpitGetTracking", {id}), 0);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id))->trackingMode, 0);
}

TEST_F(CockpitCalls, DistanceOnlyFromTheCockpitView) {
    const int32_t id = Call("INS_CockpitAlloc", {});
    SectorObject* own = Ship(100, 0, 0);
    SectorObject* other = Ship(100, 3000, 4000);
    Call("INS_CockpitSetCockpitRefObject", {id, Id(own)});
    EXPECT_EQ(Call("INS_CockpitGetDistanceToObj", {id, Id(other)}), 0);  // view mode 0
    INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id))->viewMode = 1;
    EXPECT_EQ(Call("INS_CockpitGetDistanceToObj", {id, Id(other)}), 5000);
    INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(id))->viewMode = 2;
    EXPECT_EQ(Call("INS_CockpitGetDistanceToObj", {id, Id(other)}), 0);
}

TEST_F(CockpitCalls, TextsGoToTheirDisplays) {
    g_INSDisplays.cameraMessage = [](Cockpit*, const char* t) {
        g_shown.push_back(std::string("camera ") + (t ? t : "-"));
    };
    g_INSDisplays.staticText = [](Cockpit*, const char* t) {
        g_shown.push_back(std::string("static ") + (t ? t : "-"));
    };
    g_INSDisplays.navMap = [](Cockpit*, int32_t v) { g_shown.push_back("map " + std::to_string(v)); };
    g_INSDisplays.clearText = [](Cockpit*, int32_t v) { g_shown.push_back("clear " + std::to_string(v)); };
    g_INSDisplays.displayText = [](Cockpit*, const SA_Call& c, const char* t, int32_t v, bool four, int32_t f) {
        g_shown.push_back(std::string(four ? "long " : "short ") + t + " " + std::to_string(v) + " " +
                          std::to_string(f));
        return c.Answer(9);
    };
    g_INSDisplays.message = [](Cockpit*, const char* t, int32_t d) {
        g_shown.push_back(std::string("message ") + (t ? t : "-") + " " + std::to_string(d));
    };
    const int32_t id = Call("INS_CockpitAlloc", {});
    Call("INS_CockpitSetCameraMessage", {id, 0}, true);
    Call("INS_CockpitSetCameraMessage", {id, 5});  // a number is no text
    Call("INS_CockpitSetNavMap", {id, 3});
    Call("INS_CockpitDisplayStaticText", {id, 0}, true);
    EXPECT_EQ(Call("INS_CockpitDisplayText", {id, 0, 0x10002, 8}, true), 9);
    EXPECT_EQ(Call("INS_CockpitDisplayText", {id, 0, 4}, true), 9);
    EXPECT_EQ(Call("INS_CockpitDisplayText", {id, 0, 0x1ffff}), 0);
    Call("INS_CockpitDisplayMessage", {id, 0}, true);
    Call("INS_CockpitDisplayMessageWithDuration", {id, 0, 1500}, true);
    Call("INS_CockpitDisplayMessageWithDuration", {id, 0, 1500});
    Call("INS_CockpitDisplayMessage", {12345, 0}, true);  // no such cockpit: nothing shown
    const std::vector<std::string> expected = {
        "camera hello",       "camera -",        "map 3",    "static hello",
        "long hello 2 8",     "short hello 4 0", "clear -1", "message hello 20000",
        "message hello 1500", "message - 0"};
    EXPECT_EQ(g_shown, expected);
}

TEST_F(CockpitCalls, UndefinedCallsAnswerZero) {
    LogCapture log;
    EXPECT_EQ(Call("INS_DisplayCameraMessage", {1}), 0);
    const std::string line = log.Take();
    EXPECT_EQ(line.rfind("INS_SysCall: (", 0), 0u) << line;
    EXPECT_NE(line.find(") Undefined System Call INS_DisplayCameraMessage (71)\n"), std::string::npos) << line;
}

}  // namespace
