// The scene engine's engine calls: the call-name table, and each group of
// calls made the way the script engine makes them, on a story task whose
// answer is read back.
#include "scene/calls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/ebm.h"
#include "base/fixmath.h"
#include "base/fonts.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "cut_fixture.h"
#include "scene/allocs.h"
#include "script/arrays.h"
#include "scene/jobs.h"
#include "scene/bodytext.h"
#include "scene/recorder.h"
#include "scene/records.h"
#include "scene/replay.h"
#include "scene/state.h"
#include "scene_fixture.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/surfacesupport.h"
#include "support/syscall_runner.h"
#include "support/texcachefixture.h"
#include "support/videosupport.h"
#include "system/settings.h"
#include "system/video.h"
#include "tools/lib/bodyconv.h"
#include "scene/names.h"
#include "scene/takes.h"
#include "scene/texanim.h"
#include "scene/texdraw.h"

namespace {

// Stand-ins for ids the test makes, replaced in the argument lists.
constexpr int32_t I = -1000001;  // an instance
constexpr int32_t L = -1000002;  // a light
constexpr int32_t C = -1000003;  // a camera
constexpr int32_t S = -1000004;  // a scene
constexpr int32_t K = -1000005;  // a cut
constexpr int32_t N = 424242;    // an id nothing has

// Calls B3D_SysCall on a fresh task of a story runner and reads its answer.
class CallHarness {
public:
    CallHarness() { EXPECT_TRUE(runner_.Load(kNopStory)); }
    StoryRunner& runner() { return runner_; }

    // The answer's display text ("<no answer>" while the task waits); the task
    // stays alive as long as the harness. `argc` below 0: all the arguments.
    std::string Call(int32_t call, std::vector<ScriptValue> args = {}, int32_t argc = -1) {
        callers_.push_back(std::make_unique<SysCallRunner>(runner_.ctx()));
        SE_Task* task = callers_.back()->task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        char where[64] = {};
        SE_GetTaskDebugAddress(where, task, runner_.ctx());
        where_ = where;
        taskId_ = task->id;
        const int32_t n = argc < 0 ? static_cast<int32_t>(args.size()) : argc;
        EXPECT_EQ(B3D_SysCall(runner_.module(), task, call, n, args.data()), 1);
        for (ScriptValue& v : args) SV_Release(&v);
        std::string text = task->answered ? SysCallRunner::Display(task->callResult) : "<no answer>";
        SV_Release(&task->callResult);
        return text;
    }
    const std::string& where() const { return where_; }
    uint32_t taskId() const { return taskId_; }

private:
    StoryRunner runner_;
    std::vector<std::unique_ptr<SysCallRunner>> callers_;
    std::string where_;
    uint32_t taskId_ = 0;
};

ScriptValue Int(int32_t n) { return SysCallRunner::Int(n); }
ScriptValue Text(const char* t) { return SysCallRunner::Text(t); }

// One call of a table: the call, its integer arguments (stand-ins allowed)
// and the display text of its answer.
struct Row {
    int32_t call;
    std::vector<int32_t> args;
    std::string answer;
};

class SceneCalls : public CutTest {
protected:
    void RunRows(const std::vector<Row>& rows) {
        for (const Row& r : rows) EXPECT_EQ(Call(r.call, r.args), r.answer) << "call " << r.call;
    }
    void SetUp() override {
        CutTest::SetUp();
        inst_ = Id(0);
        light_ = Id(1);
        camera_ = Id(5);
        scene_ = Id(7);
    }
    void TearDown() override {
        B3D_ExitRecording();
        B3D_ExitReplay();
        if (cutInTable_) Qel_TableRemove(g_B3DState->cutTable, uint32_t(cut_.id));
        CutTest::TearDown();
    }
    int32_t Id(int32_t call) {
        const std::string s = calls_.Call(call);
        return std::stoi(s);
    }
    // Integer arguments with the stand-ins replaced.
    std::vector<ScriptValue> Args(const std::vector<int32_t>& words) const {
        std::vector<ScriptValue> out;
        for (int32_t w : words)
            out.push_back(Int(w == I ? inst_ : w == L ? light_ : w == C ? camera_ : w == S ? scene_ : w == K ? 77 : w));
        return out;
    }
    std::string Call(int32_t call, const std::vector<int32_t>& words) { return calls_.Call(call, Args(words)); }
    std::string CallV(int32_t call, std::vector<ScriptValue> args) { return calls_.Call(call, std::move(args)); }
    std::string IdText(int32_t id) const { return std::to_string(id); }
    Inst3D* Inst(int32_t id) const { return B3D_InstFind(uint32_t(id)); }
    Camera3D* Cam() const { return reinterpret_cast<Camera3D*>(Inst(camera_)); }

    // A cut of three paths held in memory as cut 77: a body path (body 12,
    // serial 0), a cut path (cut 7, serial 5) and another body path (body 12,
    // serial 9).
    void PutCut() {
        paths_[0].reference = 12;
        paths_[0].flags = PATH_BODY;
        paths_[0].pathNr = 0;
        paths_[0].value2 = -1;
        paths_[0].name = name0_;
        paths_[1].reference = 7;
        paths_[1].flags = PATH_CUT;
        paths_[1].pathNr = 5;
        paths_[1].value2 = 0;
        paths_[2].reference = 12;
        paths_[2].flags = PATH_BODY;
        paths_[2].pathNr = 9;
        paths_[2].value2 = 0;
        cut_.id = 77;
        cut_.pathCount = 3;
        cut_.paths = paths_;
        Qel_TableSet(g_B3DState->cutTable, 77, reinterpret_cast<uintptr_t>(&cut_));
        cutInTable_ = true;
    }

    CallHarness calls_;
    int32_t inst_ = 0, light_ = 0, camera_ = 0, scene_ = 0;
    J3D_Cut cut_{};
    J3D_CutPath paths_[3]{};
    char name0_[5] = "ship";
    bool cutInTable_ = false;
};

}  // namespace

TEST(SceneCallNames, The157NamesInTheirOrder) {
    const char* expected =
        "B3D_InstAlloc B3D_LightAlloc B3D_InstFree B3D_InstSetBody B3D_LightFree B3D_CameraAlloc B3D_CameraFree "
        "B3D_SceneAlloc B3D_SceneClear B3D_SceneFree B3D_SceneEnable B3D_SceneDisable B3D_InstAddToScene "
        "B3D_InstDeleteFromScene B3D_LightAddToScene B3D_LightDeleteFromScene B3D_CameraAddToScene "
        "B3D_CameraDeleteFromScene B3D_InstAddToInst B3D_SetEngineFlags B3D_ClearEngineFlags B3D_GetEngineFlags "
        "B3D_InstSetPos B3D_InstSetRot B3D_InstCopyRot B3D_LightSetPos B3D_LightSetColor B3D_LightSetRange "
        "B3D_LightSetParameters B3D_LightSetAttenuation B3D_SceneGetCamera B3D_InstSetSize B3D_InstSetScale "
        "B3D_InstSetOverrideEffect B3D_InstSetOverrideEffectPar B3D_InstSetAlphaOverride "
        "B3D_InstSetAlphaOverrideRecursive B3D_InstSetInvis B3D_InstSetSizeUsed B3D_InstGetFlags B3D_InstGetFlags2 "
        "B3D_InstSetFlags B3D_InstSetFlags2 B3D_GetTextureID B3D_InstSetAnimTextureIndex "
        "B3D_InstSetAnimTextureCoords B3D_InstSetPass B3D_InstFindByBodyID B3D_InstFind B3D_SceneSetViewPort "
        "B3D_SceneSetFlags B3D_SceneGetFlags B3D_FreeAllBodies B3D_CameraSetViewPort B3D_CameraGetViewPort "
        "B3D_CameraGetFlags B3D_CameraSetFlags B3D_CameraSetPri B3D_CameraSetFocus B3D_CameraGetFocus "
        "B3D_CameraSetBackgroundColor B3D_CameraSetAspectRatio B3D_CameraSetAspect B3D_CameraSetFog "
        "B3D_CameraSetCausticAnim B3D_CameraSetFadeValue B3D_CameraSetEnvironmentSource B3D_SceneSetSystemScale "
        "B3D_InstSetName B3D_InstMakeCollBox B3D_InstGetSize B3D_InstGetTotalSize B3D_InstGetBody B3D_InstGetPos "
        "B3D_InstGetAbsPos B3D_InstGetZDir B3D_InstGetAbsZDir B3D_FindBody B3D_MemStatistics B3D_InitRecording "
        "B3D_ExitRecording B3D_InitReplay B3D_ExitReplay B3D_SetFlags B3D_GetFlags B3D_TexRectFill "
        "B3D_TexTextBlock B3D_TexNearestPen B3D_TexTextWidth B3D_TexTextHeight B3D_TexTextBlockHeight "
        "B3D_TexSetTextBGColor B3D_TexGetTextArray B3D_TexGetWidth B3D_TexGetHeight B3D_SceneSetName B3D_TexLine "
        "B3D_TexBltBlock B3D_TexBltBlockAlpha B3D_TexBltTiles B3D_TexBltTilesAlpha B3D_TexBltImage B3D_OpenFont "
        "B3D_DisableAllObjects3D B3D_EnableAllObjects3D B3D_ScreenGetWidth B3D_ScreenGetHeight "
        "B3D_ScreenGetAspectX B3D_ScreenGetAspectY B3D_ScreenGetBorderX B3D_ScreenGetBorderY B3D_SetFadeValue "
        "B3D_TexCircle B3D_TexCircleFill B3D_SetShadowAlpha B3D_InstGetChildren B3D_InstDistanceToNearestVertex "
        "B3D_GetGammaValue B3D_SetGammaValue B3D_SetFovValue B3D_ReloadStaticData B3D_DumpUsedBodies "
        "B3D_GetBodyID B3D_GetCutID B3D_GetBodyFilename B3D_GetCutFilename B3D_InstGetPathNr B3D_GetIconData "
        "B3D_InstSetIcon B3D_InstSetColorModifier B3D_InstGetScale B3D_TexTextBlockCentered "
        "B3D_InstGetCollCenterX B3D_InstGetCollCenterY B3D_InstGetCollCenterZ J3D_GetNumPaths J3D_GetPathBody "
        "J3D_GetPathCut J3D_GetPathSerial J3D_GetPathFather J3D_GetPathFlags J3D_GetPathPosAndRot "
        "J3D_GetPathName J3D_JobStart J3D_JobStartS J3D_JobStop J3D_JobGetRemainingTime J3D_PathFind "
        "J3D_LoadCut J3D_FreeCut J3D_SetCutPos J3D_TakeAlloc J3D_TakeStart J3D_TakeStop J3D_TakeFree "
        "J3D_JobPlay J3D_JobPlayS";
    std::istringstream in(expected);
    std::vector<std::string> names;
    for (std::string w; in >> w;) names.push_back(w);
    ASSERT_EQ(names.size(), 157u);
    ASSERT_EQ(B3D_CALL_COUNT, 157);

    const char* const* table = B3D_GetCallNames();
    for (int32_t i = 0; i < B3D_CALL_COUNT; ++i) {
        ASSERT_NE(table[i], nullptr) << i;
        EXPECT_EQ(table[i], names[i]) << "call " << i;
    }
    EXPECT_EQ(table[B3D_CALL_COUNT], nullptr);

    // Registered as a module, a story's call name finds its number.
    StoryRunner runner;
    const int32_t module = SB_RegisterEngineModule(runner.ctx(), B3D_SysCall, table, nullptr, nullptr, nullptr);
    ASSERT_GT(module, 0);
    for (int32_t i = 0; i < B3D_CALL_COUNT; ++i) {
        int32_t m = 0, c = -1;
        ASSERT_EQ(SE_FindCallName(runner.ctx(), names[i].c_str(), &m, &c), 1) << names[i];
        EXPECT_EQ(m, module);
        EXPECT_EQ(c, i);
    }
}

// Ids without a record log their message, framed, with the script position of
// the calling task, and answer 0.
TEST_F(SceneCalls, MissingIdsLogTheirMessageAndAnswerZero) {
    struct Missing {
        int32_t call;
        std::vector<int32_t> args;
        const char* message;  // the first %s is the script position
    };
    const std::vector<Missing> rows = {
        {2, {N}, "Nonexisting instance freed (%s) inst:424242!\n"},
        {3, {N, 12}, "Nonexisting instance SetBody! (%s) inst: 424242 body: 12!\n"},
        {12, {N, S}, "Nonexisting instance or scene: (%s) InstAddToScene: inst:424242 scene:%S\n"},
        {14, {L, N}, "Nonexisting instance or scene: (%s) InstAddToScene: inst:%L scene:424242\n"},
        {18, {I, N}, "Nonexisting instance: (%s) AddtoInst: inst1:%I inst2:424242\n"},
        {18, {N, I}, "Nonexisting instance: (%s) AddtoInst: inst1:424242 inst2:%I\n"},
        {4, {N}, "Nonexisting instance LightFree! (%s) inst: 424242 !\n"},
        {6, {N}, "Nonexisting instance CamFree! (%s) inst: 424242 !\n"},
        {6, {I}, "Nonexisting instance CamFree! (%s) inst: %I !\n"},  // an instance that is no camera
        {13, {N, S}, "Nonexisting instance or scene: (%s) InstDeleteFromScene: inst:424242 scene:%S\n"},
        {15, {L, N}, "Nonexisting instance or scene: (%s) InstDeleteFromScene: inst:%L scene:424242\n"},
        {16, {N, S}, "Nonexisting instance or scene: (%s) CamAddToScene: inst:424242 scene:%S\n"},
        {17, {C, N}, "Nonexisting instance or scene: (%s) CamDeleteFromScene: inst:%C scene:424242\n"},
        {22, {N, 1, 2, 3}, "Nonexisting instance: (%s) InstSetPos: inst:424242\n"},
        {23, {N, 1, 2, 3}, "Nonexisting instance: (%s) InstSetRot: inst:424242 \n"},
        {24, {N, I}, "Nonexisting instance1: (%s) InstCopyRot: inst:424242 \n"},
        {24, {I, N}, "Nonexisting instance2: (%s) InstCopyRot: inst:424242 \n"},
        {25, {N, 1, 2, 3}, "Nonexisting instance: (%s) SetPos: inst:424242\n"},
        {26, {N, 1, 2, 3}, "Nonexisting instance: (%s) LightSetColor: inst:424242\n"},
        {27, {N, 1}, "Nonexisting instance: (%s) SetRange: inst:424242\n"},
        {31, {N, 65536}, "Nonexisting instance SetSize! (%s) inst: 424242 size: 65536!\n"},
        {32,
         {N, 65536, 0x20000, 0x8000},
         "Nonexisting instance SetScale! (%s) inst: 424242 scale: 00010000/00020000/00008000!\n"},
        {38, {N, 5}, "Nonexisting instance: (%s) SetSizeUsed: inst:424242\n"},
        {128, {N, 2, 31}, "Attempted to set icon type 2 ID 31 on nonexisting inst 424242\n"},
        {130, {N}, "Attempted to retrieve scale of nonexisting inst 424242\n"},
        {127, {3, 31}, "SYS_B3D_GetIconData(3,31) no icon for this icon ID!\n"},
        {152, {1, K, S, N}, "J3D_TakeStart: (%s) Camera not found 424242\n"},
        {152, {N, K, S}, "J3D_TakeStart: (%s) take not found 424242\n"},
    };
    for (const Missing& r : rows) {
        LogCapture log;
        EXPECT_EQ(Call(r.call, r.args), "0") << "call " << r.call;
        std::string expected = r.message;
        auto put = [&](const char* key, const std::string& value) {
            const size_t at = expected.find(key);
            if (at != std::string::npos) expected.replace(at, 2, value);
        };
        put("%s", calls_.where());
        put("%I", IdText(inst_));
        put("%L", IdText(light_));
        put("%C", IdText(camera_));
        put("%S", IdText(scene_));
        EXPECT_TRUE(log.Contains(expected)) << "call " << r.call << ": " << log.Text();
        EXPECT_TRUE(log.Contains(std::string(38, '='))) << "call " << r.call;
    }
    ASSERT_FALSE(calls_.where().empty());
    // Nothing was freed on the way.
    EXPECT_NE(Inst(inst_), nullptr);
    EXPECT_NE(Inst(camera_), nullptr);
}

TEST_F(SceneCalls, EngineFlagsAnswers) {
    EXPECT_EQ(Call(19, {0x18000}), "-32768");  // the low 16 bits, sign-extended
    EXPECT_EQ(Call(21, {}), "98304");          // the whole word
    EXPECT_EQ(Call(20, {0x1}), "98304");       // the whole new word
    EXPECT_EQ(Call(20, {0x8000}), "65536");
    EXPECT_EQ(Call(83, {0x70}), "112");
    EXPECT_EQ(Call(84, {}), "112");
    EXPECT_EQ(g_B3DState->engineFlags, 0x70u);
}

// Unknown numbers and calls 119 and 120 answer 0 and change nothing.
TEST_F(SceneCalls, CallsThatOnlyAnswerZero) {
    g_B3DState->engineFlags = 0x5;
    const int32_t gamma = g_B3DState->gammaValue;
    for (int32_t call : {157, 158, 1000, -1}) EXPECT_EQ(Call(call, {1, 2, 3}), "0") << call;
    EXPECT_EQ(Call(119, {123}), "0");
    EXPECT_EQ(Call(120, {}), "0");
    EXPECT_EQ(g_B3DState->engineFlags, 0x5u);
    EXPECT_EQ(g_B3DState->gammaValue, gamma);
    EXPECT_NE(Inst(inst_), nullptr);
}

// Every call reads a missing argument as 0 and never one past its count.
TEST_F(SceneCalls, MissingArgumentsReadAsZero) {
    Inst3D* inst = Inst(inst_);
    EXPECT_EQ(Call(22, {I, 5, 6, 7}), "0");
    EXPECT_EQ(Call(22, {I}), "0");
    EXPECT_EQ(Call(73, {I}), "{0,0,0}");
    // Four values given, one counted.
    EXPECT_EQ(calls_.Call(22, Args({I, 5, 6, 7}), 1), "0");
    EXPECT_EQ(Call(73, {I}), "{0,0,0}");
    EXPECT_EQ(calls_.Call(22, Args({I, 5, 6, 7}), 3), "0");
    EXPECT_EQ(Call(73, {I}), "{5,6,0}");
    // No id at all: the id 0, which no record has.
    EXPECT_EQ(calls_.Call(41, Args({I, 9}), 0), "0");
    EXPECT_NE(inst->flags, 9u);

    // A missing text is no text.
    EXPECT_EQ(CallV(68, {Int(inst_), Text("hull")}), "0");
    EXPECT_STREQ(inst->name, "hull");
    EXPECT_EQ(Call(68, {I}), "0");
    EXPECT_EQ(inst->name, nullptr);
    EXPECT_EQ(CallV(68, {Int(inst_), Int(5)}), "0");  // an integer is no text either
    EXPECT_EQ(inst->name, nullptr);
    EXPECT_EQ(Call(122, {}), "0");
    EXPECT_EQ(Call(123, {}), "0");
    EXPECT_EQ(Call(43, {}), "0");
    EXPECT_EQ(Call(88, {0}), "0");
    EXPECT_EQ(Call(92, {0}), "0");
    EXPECT_EQ(Call(102, {}), "-1");
    // A null argument array with a count reads nothing.
    EXPECT_EQ(calls_.Call(21, {}, 3), std::to_string(g_B3DState->engineFlags));
}

TEST_F(SceneCalls, InstanceCalls) {
    Inst3D* inst = Inst(inst_);
    const std::vector<Row> rows = {
        {22, {I, 65536, 131072, 196608}, "0"},
        {73, {I}, "{65536,131072,196608}"},
        {23, {I, 0, 0, 0}, "0"},
        {75, {I}, "{0,0,65536}"},
        // The camera, light and renderer bits stay the record's own (0x1234 less 0x1004).
        {41, {I, 0x1234}, "0"},
        {39, {I}, "560"},
        {41, {C, 0}, "0"},
        {39, {C}, "1"},
        {42, {I, 7}, "0"},
        {40, {I}, "7"},
        {41, {I, 0}, "0"},
        {35, {I, 128}, "128"},
        {34, {I}, "1"},
        {34, {N}, "0"},
        {39, {N}, "0"},
        {72, {I}, "-1"},
        {31, {I, 65536}, "0"},
        {70, {I}, "65536"},
        {32, {I, 131072, 65536, 65536}, "0"},
        {130, {I}, "{131072,65536,65536}"},
        {70, {I}, "131072"},
        {46, {I, 3}, "0"},
        {126, {I}, "0"},
        {38, {I, 4096}, "0"},
        {129, {I, 1, 2, 3, 4}, "0"},
        {33, {I, 2}, "1"},
        {37, {I, 1}, "0"},
    };
    RunRows(rows);
    EXPECT_EQ(inst->pass, 3);
    EXPECT_EQ(inst->usedSize, 4096);
    EXPECT_EQ(inst->colorModifier[3], 4);
    EXPECT_EQ(inst->overrideEffect, -3);
    EXPECT_TRUE(inst->flags & INST_INVISIBLE);

    // Copying the rotation of another instance.
    const int32_t other = Id(0);
    EXPECT_EQ(Call(23, {other, 16384, 0, 0}), "0");
    EXPECT_EQ(Call(24, {I, other}), "0");
    EXPECT_EQ(std::memcmp(&inst->matrix, &Inst(other)->matrix, sizeof(QelMatrix)), 0);

    // Children and the contact point.
    Adopt(inst, Inst(other));
    EXPECT_EQ(Call(115, {I}), "{" + IdText(other) + "}");
    EXPECT_EQ(Call(115, {other}), "{}");
    inst->contact[0] = 11;
    inst->contact[1] = 22;
    inst->contact[2] = 33;
    EXPECT_EQ(Call(132, {I}), "11");
    EXPECT_EQ(Call(133, {I}), "22");
    EXPECT_EQ(Call(134, {I}), "33");
    EXPECT_EQ(Call(2, {other}), "0");
    EXPECT_EQ(Inst(other), nullptr);
}

TEST_F(SceneCalls, LightCalls) {
    Inst3D* light = Inst(light_);
    B3DLightType& type = g_B3DState->lightTypes[2];
    type.kind = 2;
    type.value = 0x30000;
    type.switchWord = 1;
    const std::vector<Row> rows = {
        {25, {L, 1, 2, 3}, "0"}, {26, {L, 255, 128, 1}, "0"}, {27, {L, 65536}, "0"},
        {29, {L, 4, 5, 6}, "0"}, {28, {L, 1000}, "0"},
    };
    RunRows(rows);
    EXPECT_EQ(light->pos.z, 3);
    EXPECT_EQ(light->lightColor[0], 255);
    EXPECT_EQ(light->lightColor[1], 128);
    EXPECT_EQ(light->lightRange, 65536);
    EXPECT_EQ(light->lightAtten[2], 6);
    EXPECT_FALSE(light->flags & INST_POINT_LIGHT);  // index 1000 is none
    EXPECT_EQ(Call(28, {L, 2}), "0");
    EXPECT_TRUE(light->flags & INST_POINT_LIGHT);
    EXPECT_TRUE(light->flags & INST_LIGHT_VALUE);
    EXPECT_TRUE(light->flags & INST_LIGHT_SECOND);
    EXPECT_EQ(light->lightValue, 0x30000);
    EXPECT_EQ(Call(4, {L}), "0");
    EXPECT_EQ(Inst(light_), nullptr);
}

TEST_F(SceneCalls, CameraAndSceneCalls) {
    Camera3D* cam = Cam();
    Scene3D* scene = B3D_SceneFind(uint32_t(scene_));
    const std::vector<Row> rows = {
        {53, {C, 1, 2, 3, 4}, "0"},
        {54, {C}, "{1,2,3,4}"},
        {54, {I}, "0"},  // an instance that is no camera
        {56, {C, 0x10}, "0"},
        {55, {C}, "16"},
        {58, {C, 99}, "0"},
        {59, {C}, "99"},
        {57, {C, 5}, "0"},
        {60, {C, 1, 2, 3}, "0"},
        {62, {C, 7, 8}, "0"},
        {65, {C, 40}, "0"},
        {66, {C, I}, "0"},
        {30, {S}, "0"},
        {16, {C, S}, "0"},
        {30, {S}, IdText(camera_)},
        {49, {S, 10, 20, 30, 40}, "0"},
        {54, {C}, "{10,20,30,40}"},
        {17, {C, S}, "0"},
        {30, {S}, "0"},
        {50, {S, 5}, "0"},
        {51, {S}, "5"},
        {48, {S, I}, IdText(inst_)},
        {48, {S, N}, "0"},
        {51, {N}, "0"},
    };
    RunRows(rows);
    EXPECT_EQ(cam->priority, 5);
    EXPECT_EQ(cam->background[2], 3);
    EXPECT_EQ(cam->aspect[1], 8);
    EXPECT_EQ(cam->fadeValue, 40);
    EXPECT_EQ(cam->environmentSource, Inst(inst_));

    EXPECT_EQ(CallV(67, {Int(scene_), SysCallRunner::Float(0.01)}), "0");
    EXPECT_EQ(scene->systemScale, 0.01f);
    EXPECT_EQ(Call(67, {S, 2}), "0");
    EXPECT_EQ(scene->systemScale, 2.0f);
    EXPECT_EQ(CallV(95, {Int(scene_), Text("deck")}), "0");
    EXPECT_STREQ(scene->name, "deck");

    EXPECT_EQ(Call(6, {C}), "0");
    EXPECT_EQ(Inst(camera_), nullptr);
}

TEST_F(SceneCalls, PathCalls) {
    PutCut();
    const std::vector<Row> rows = {
        {135, {K}, "3"},           {136, {K, 0}, "12"},      {136, {K, 1}, "0"},  // a path that holds a cut
        {137, {K, 1}, "7"},        {137, {K, 0}, "0"},                            // a path that holds a body
        {136, {K, 3}, "0"},                                                       // outside 0..count-1
        {136, {K, -1}, "0"},       {138, {K, 1}, "5"},       {139, {K, 0}, "-1"}, {140, {K, 1}, "128"},
        {142, {K, 0}, "\"ship\""}, {142, {K, 1}, "\"\""},    {147, {K, 12}, "1"}, {147, {K, 7}, "0"},
        {148, {K}, "1"},           {150, {K, 1, 2, 3}, "0"},
    };
    RunRows(rows);
    EXPECT_EQ(cut_.placePos.y, 2);
    EXPECT_TRUE(cut_.flags & CUT_PLACED);
}

// Position and rotation of a path at a time go into the story's array as
// x, y, z and three angles.
TEST_F(SceneCalls, PathPositionAndRotationAtATime) {
    PutCut();
    J3D_MotionKey pos[2]{}, rot[2]{};
    pos[1].time = 1000;
    pos[1].value[0] = 10 * 65536;
    pos[1].value[2] = -4 * 65536;
    rot[1].time = 600;
    rot[1].value[0] = 16384;
    paths_[0].posCount = paths_[0].rotCount = 2;
    paths_[0].posKeys = pos;
    paths_[0].rotKeys = rot;
    ScriptValue array = SysCallRunner::IntArray({9, 9, 9, 9, 9, 9});
    auto words = [&array] {
        std::vector<int32_t> out;
        for (int32_t k = 0; k < 6; ++k) out.push_back(SV_ArrayRead(&array, k)->i);
        return out;
    };
    EXPECT_EQ(CallV(141, {Int(77), Int(0), Int(500), SysCallRunner::Ref(array)}), "1");
    QelVector mid{};
    J3D_InterpolatePos(500, pos, 0, &mid);
    EXPECT_EQ(words(), (std::vector<int32_t>{mid.x, mid.y, mid.z, 0, 0, 0}));
    EXPECT_EQ(CallV(141, {Int(77), Int(0), Int(2000), SysCallRunner::Ref(array)}), "1");
    QelMatrix turned{};
    Qel_MatFromAngles(&turned, 16384, 0, 0);
    int32_t a = 0, b = 0, c = 0;
    Qel_AnglesFromMat(&turned, &a, &b, &c);
    EXPECT_EQ(words(), (std::vector<int32_t>{10 * 65536, 0, -4 * 65536, a, b, c}));
    // No array, no path: nothing is written.
    EXPECT_EQ(Call(141, {K, 0, 0}), "0");
    EXPECT_EQ(Call(141, {K, 0, 0, 5}), "0");
    EXPECT_EQ(CallV(141, {Int(77), Int(3), Int(0), SysCallRunner::Ref(array)}), "0");
    EXPECT_EQ(words()[0], 10 * 65536);
    SV_Release(&array);
}

// Job starts search the paths from the last; a job that runs keeps the task
// waiting for its end, one stopped at once answers 11 and never again.
TEST_F(SceneCalls, JobStarts) {
    PutCut();
    J3D_MotionKey keys[2]{};
    keys[0].time = 0;
    keys[1].time = 1000;
    keys[1].value[0] = 65536;
    paths_[2].posCount = 2;
    paths_[2].posKeys = keys;
    StoryRunner& runner = calls_.runner();
    Inst3D* inst = Inst(inst_);
    SetClock(5000);

    EXPECT_EQ(Call(143, {I, K, 12}), "<no answer>");
    EXPECT_EQ(inst->pathNr, 2);  // the last path of body 12
    EXPECT_TRUE(inst->jobFlags & JOB_WAITING);
    EXPECT_EQ(inst->replyModule, runner.module());
    EXPECT_EQ(uint32_t(inst->replyHandle), calls_.taskId());
    const uint32_t waiting = calls_.taskId();
    SetClock(7000);
    J3D_TakesUpdate();
    ASSERT_EQ(runner.answers.size(), 1u);
    EXPECT_EQ(runner.answers[0].callerNumber, waiting);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_JOB_ENDED);

    // The path of serial 0 has no keys: its job ends at its start.
    runner.answers.clear();
    EXPECT_EQ(Call(144, {I, K, 0}), "11");
    EXPECT_EQ(inst->pathNr, 0);
    EXPECT_FALSE(inst->jobFlags & JOB_WAITING);
    SetClock(9000);
    J3D_TakesUpdate();
    EXPECT_TRUE(runner.answers.empty());

    // Start and end times.
    EXPECT_EQ(Call(155, {I, K, 12, 100, 500}), "<no answer>");
    EXPECT_EQ(inst->jobFrom, 100);
    EXPECT_EQ(inst->jobTo, 500);
    EXPECT_EQ(Call(145, {I}), "0");
    ASSERT_EQ(runner.answers.size(), 1u);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_JOB_STOPPED);
    EXPECT_EQ(Call(156, {I, K, 9, 0, 300}), "<no answer>");
    EXPECT_EQ(inst->pathNr, 2);
    EXPECT_EQ(Call(146, {I}), std::to_string(J3D_JobGetRemainingTime(inst)));
    EXPECT_EQ(Call(145, {I}), "0");

    // Nothing matches, or the instance or cut is missing.
    for (const std::vector<int32_t>& args : std::vector<std::vector<int32_t>>{{I, K, 13}, {N, K, 12}, {I, 31999, 12}})
        EXPECT_EQ(Call(143, args), "0");
    EXPECT_EQ(Call(144, {I, K, 4}), "0");
}

// J3D_TakeStart takes three or four arguments; any other count answers 0
// without a look at them.
TEST_F(SceneCalls, TakeStartCounts) {
    PutCut();
    const int32_t take = Id(151);
    ASSERT_GT(take, 0);
    LogCapture log;
    EXPECT_EQ(Call(152, {take, K}), "0");
    EXPECT_EQ(Call(152, {N, K, S, C, 0}), "0");
    EXPECT_EQ(Call(152, {}), "0");
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(Call(152, {take, K, N}), "0");
    EXPECT_TRUE(log.Contains("J3D_TakeStart: (" + calls_.where() + ") scene not found 424242\n"));

    // A started take keeps the task waiting until it stops.
    J3D_MotionKey keys[2]{};
    keys[1].time = 1000;
    paths_[2].posCount = 2;
    paths_[2].posKeys = keys;
    StoryRunner& runner = calls_.runner();
    EXPECT_EQ(Call(152, {take, K, S}), "<no answer>");
    J3D_Take* t = J3D_TakeFind(uint32_t(take));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->replyModule, runner.module());
    const uint32_t waiting = calls_.taskId();
    EXPECT_EQ(Call(153, {take}), "0");
    ASSERT_EQ(runner.answers.size(), 1u);
    EXPECT_EQ(runner.answers[0].callerNumber, waiting);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_TAKE_STOPPED);
    EXPECT_EQ(Call(154, {take}), "0");
    EXPECT_EQ(J3D_TakeFind(uint32_t(take)), nullptr);
}

// A caller is never left waiting: a second job start on the instance answers
// the first caller as a stopped job (5), and a running take that is freed
// answers its caller as a stopped take (1).
TEST_F(SceneCalls, ReplacedAndOrphanedWaitersAreAnswered) {
    PutCut();
    J3D_MotionKey keys[2]{};
    keys[1].time = 1000;
    keys[1].value[0] = 65536;
    paths_[2].posCount = 2;
    paths_[2].posKeys = keys;
    StoryRunner& runner = calls_.runner();
    EXPECT_EQ(Call(143, {I, K, 12}), "<no answer>");
    const uint32_t first = calls_.taskId();
    EXPECT_EQ(Call(143, {I, K, 12}), "<no answer>");
    ASSERT_EQ(runner.answers.size(), 1u);
    EXPECT_EQ(runner.answers[0].callerNumber, first);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_JOB_STOPPED);
    EXPECT_EQ(uint32_t(Inst(inst_)->replyHandle), calls_.taskId());
    EXPECT_EQ(Call(145, {I}), "0");

    runner.answers.clear();
    const int32_t take = Id(151);
    EXPECT_EQ(Call(152, {take, K, S}), "<no answer>");
    const uint32_t waiting = calls_.taskId();
    EXPECT_EQ(Call(154, {take}), "0");
    ASSERT_EQ(runner.answers.size(), 1u);
    EXPECT_EQ(runner.answers[0].callerNumber, waiting);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_TAKE_STOPPED);
    EXPECT_EQ(J3D_TakeFind(uint32_t(take)), nullptr);
}

// A recording started, stopped and replayed through the calls.
TEST_F(SceneCalls, RecordingAndReplayCalls) {
    EXPECT_EQ(Call(79, {}), "0");  // no name
    EXPECT_EQ(CallV(79, {Text("calls")}), "1");
    EXPECT_TRUE(g_B3DState->engineFlags & 0x1);
    EXPECT_EQ(CallV(79, {Text("again")}), "0");  // one runs already
    EXPECT_EQ(Call(80, {}), "0");
    EXPECT_FALSE(g_B3DState->engineFlags & 0x1);
    EXPECT_EQ(Call(81, {}), "0");
    EXPECT_EQ(CallV(81, {Text("calls")}), "1");
    EXPECT_TRUE(g_B3DState->engineFlags & 0x2);
    EXPECT_EQ(Call(82, {}), "0");
    EXPECT_FALSE(g_B3DState->engineFlags & 0x2);
}

// Scenes and trees: instances and lights join and leave scenes and parents.
TEST_F(SceneCalls, SceneAndTreeCalls) {
    Scene3D* scene = B3D_SceneFind(uint32_t(scene_));
    Inst3D* inst = Inst(inst_);
    Inst3D* light = Inst(light_);
    const int32_t child = Id(0);
    const std::vector<Row> rows = {
        {12, {I, S}, "0"}, {14, {L, S}, "0"}, {18, {child, I}, "0"}, {10, {S}, "0"},
        {11, {S}, "0"},    {13, {I, S}, "0"}, {15, {L, S}, "0"},
    };
    RunRows({rows.begin(), rows.begin() + 3});
    EXPECT_EQ(inst->scene, scene);
    EXPECT_EQ(light->scene, scene);
    EXPECT_EQ(Inst(child)->parent, inst);
    EXPECT_EQ(Inst(child)->scene, scene);
    EXPECT_EQ(Call(115, {I}), "{" + IdText(child) + "}");
    RunRows({rows.begin() + 3, rows.end()});
    EXPECT_EQ(inst->scene, nullptr);
    EXPECT_EQ(light->scene, nullptr);
    EXPECT_EQ(Call(18, {I, child}), "0");  // a parent under its own child: nothing changes
    EXPECT_EQ(inst->parent, nullptr);

    // Clearing keeps the instances; freeing the scene frees what is in it.
    EXPECT_EQ(Call(12, {I, S}), "0");
    EXPECT_EQ(Call(8, {S}), "0");
    EXPECT_EQ(inst->scene, nullptr);
    EXPECT_NE(Inst(inst_), nullptr);
    EXPECT_EQ(Call(12, {I, S}), "0");
    EXPECT_EQ(Call(9, {S}), "0");
    EXPECT_EQ(B3D_SceneFind(uint32_t(scene_)), nullptr);
    EXPECT_EQ(Inst(inst_), nullptr);
    EXPECT_EQ(Inst(child), nullptr);
    EXPECT_EQ(Call(9, {S}), "0");
    EXPECT_EQ(Call(103, {}), "0");
    EXPECT_EQ(Call(104, {}), "0");
}

// A body loaded for an instance: its collision model is built through call 69.
TEST_F(SceneCalls, BodyAndCollisionCalls) {
    EXPECT_EQ(Call(77, {10}), "0");
    EXPECT_EQ(Call(69, {I, 0}), "0");  // no body yet
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(TriangleBody("wall"), &text, &error)) << error;
    WriteBody(10, text);
    ASSERT_NE(B3D_LoadBody2(nullptr, 10), nullptr);
    EXPECT_EQ(Call(77, {10}), "1");
    EXPECT_EQ(Call(3, {I, -5}), "0");
    EXPECT_EQ(Call(3, {I, 10}), "1");
    EXPECT_EQ(Call(72, {I}), "10");
    EXPECT_EQ(Call(69, {I, 0}), "1");
    EXPECT_TRUE(Inst(inst_)->flags & INST_COLLISION_MODEL);
    EXPECT_EQ(Call(69, {N, 0}), "0");
    // Freeing every body and cut.
    EXPECT_EQ(Call(52, {}), "0");
    EXPECT_EQ(Call(77, {10}), "0");
}

// The texture-animation calls make a one-record override for the texture
// named fourth when the instance has none.
TEST_F(SceneCalls, TextureAnimationCalls) {
    Inst3D* inst = Inst(inst_);
    EXPECT_EQ(Call(45, {I, 0x8000, 0x4000, 5}), "0");
    ASSERT_NE(inst->materialOverrides, nullptr);
    EXPECT_EQ(inst->materialOverrideCount, 1);
    EXPECT_TRUE(inst->flags2 & INST2_EXTRA_TEXMATRIX);
    TC_Material* expected = Qel_NewTextureMaterial(5);
    ASSERT_NE(expected, nullptr);
    Qel_TexMatrixTranslate(expected, 0x8000, 0x4000);
    auto* made = static_cast<TC_Material*>(inst->materialOverrides);
    EXPECT_EQ(std::memcmp(TC_MaterialMatrix(made, 0), TC_MaterialMatrix(expected, 0), 12 * sizeof(int32_t)), 0);
    EXPECT_EQ(TC_MaterialWord0(made, 0), TC_MaterialWord0(expected, 0));
    TC_FreeMaterials(1, expected);
    // The frame goes to the same array.
    EXPECT_EQ(Call(44, {I, 0, 3, 9}), std::to_string(TC_AnimSetIndex(0, 1, made, 3, 0)));
    EXPECT_EQ(inst->materialOverrides, made);
    B3D_InstFreeMaterialOverrides(inst);
}

// A caller waiting on a job hears once: 5 when the job is stopped, 3 when its
// camera is freed.
TEST_F(SceneCalls, WaitingCallersHearTheirReplyCode) {
    StoryRunner& runner = calls_.runner();
    Inst3D* inst = Inst(inst_);
    inst->jobFlags = JOB_RUNNING | JOB_WAITING;
    inst->replyModule = runner.module();
    inst->replyHandle = 1234;
    EXPECT_EQ(Call(145, {I}), "0");
    EXPECT_EQ(Call(145, {I}), "0");
    Inst3D* cam = Inst(camera_);
    cam->jobFlags = JOB_RUNNING | JOB_WAITING;
    cam->replyModule = runner.module();
    cam->replyHandle = 5678;
    EXPECT_EQ(Call(6, {C}), "0");
    ASSERT_EQ(runner.answers.size(), 2u);
    EXPECT_EQ(runner.answers[0].callerNumber, 1234u);
    EXPECT_EQ(runner.answers[0].n, B3D_REPLY_JOB_STOPPED);
    EXPECT_EQ(runner.answers[1].callerNumber, 5678u);
    EXPECT_EQ(runner.answers[1].n, B3D_REPLY_CAMERA_FREED);
    EXPECT_TRUE(inst->jobFlags & JOB_STOPPED);
}

TEST_F(SceneCalls, EngineWideCalls) {
    EXPECT_EQ(Call(111, {77}), "0");
    EXPECT_EQ(g_B3DState->fadeValue, 77);
    EXPECT_EQ(Call(114, {99}), "0");
    EXPECT_EQ(g_B3DState->shadowAlpha, 99);
    EXPECT_EQ(Call(118, {200}), "0");
    EXPECT_EQ(Call(117, {}), std::to_string(g_B3DState->gammaValue));
    EXPECT_EQ(Call(87, {5, 0x123456}), std::to_string(0x123456));
    EXPECT_EQ(Call(78, {2}), std::to_string(g_B3DState->poolIBytes));
    EXPECT_EQ(Call(78, {6}), "0");
    EXPECT_EQ(Call(77, {12}), "0");
    EXPECT_EQ(Call(124, {12}), "\"" + B3D_GetBodyFilename(12, 0) + "\"");
    EXPECT_EQ(Call(125, {7}), "\"" + B3D_GetCutFilename(7, 0) + "\"");
    EXPECT_EQ(CallV(122, {Text(B3D_GetBodyFilename(12, 0).c_str())}), "12");
    // Without a display the screen answers 0.
    VideoRecord* saved = g_VideoRecord;
    g_VideoRecord = nullptr;
    for (int32_t call = 105; call <= 110; ++call) EXPECT_EQ(Call(call, {}), "0") << call;
    g_VideoRecord = saved;

    // Icon rows answer their five words after the id.
    B3DIconRow row{31, 1, 2, 3, 4, 5};
    B3DIconList& list = g_B3DState->icons[3];
    const B3DIconList savedList = list;
    list.rowCount = 1;
    list.rows = &row;
    EXPECT_EQ(Call(127, {3, 31}), "{1,2,3,4,5}");
    list = savedList;
}

namespace {

using Chunk = TexRecord;

std::vector<Chunk>& Written() { return TexRecordsWritten(); }

// Texture calls on memory bitmaps of the texture cache of an open device,
// whose records show the arguments each call passed on.
class SceneTexCalls : public TexCacheFixture {
protected:
    void SetUp() override {
        TexCacheFixture::SetUp();
        if (HasFatalFailure()) return;
        for (int id : {1, 2}) {
            TC_TextureTable[id].bitmap = MakeBitmap(Layout::Bits32, 32, 32);
            TC_SetTextureFlags(id, 0);
        }
    }
    // The records an action wrote.
    static std::vector<Chunk> Records(const std::function<void()>& action) {
        Written().clear();
        action();
        std::vector<Chunk> out;
        out.swap(Written());
        return out;
    }

    CallHarness calls_;
};

std::vector<ScriptValue> Ints(const std::vector<int32_t>& words) {
    std::vector<ScriptValue> out;
    for (int32_t w : words) out.push_back(Int(w));
    return out;
}

}  // namespace

// Each drawing call hands the texture drawing its arguments in their order:
// it writes the records the drawing operation writes itself.
TEST_F(SceneTexCalls, DrawingCallsPassTheirArguments) {
    const int32_t font = std::stoi(calls_.Call(102, {Text("grid"), Int(8), Int(8), Int(1), Int(0)}));
    ASSERT_GE(font, 0);
    struct Case {
        int32_t call;
        std::vector<ScriptValue> args;
        std::function<int32_t()> direct;
    };
    std::vector<Case> cases;
    cases.push_back({85, Ints({1, 2, 3, 4, 5, 0xFF0000}), [] { return B3D_TexRectFill(1, 2, 3, 4, 5, 0xFF0000); }});
    cases.push_back({96, Ints({1, 0, 1, 9, 7, 0x00FF00}), [] { return B3D_TexLine(1, 0, 1, 9, 7, 0x00FF00); }});
    cases.push_back({112, Ints({1, 9, 8, 5, 0xFF, 0x8000}), [] { return B3D_TexCircle(1, 9, 8, 5, 0xFF, 0x8000); }});
    cases.push_back(
        {113, Ints({1, 9, 8, 5, 0xFF, 0x8000}), [] { return B3D_TexCircleFill(1, 9, 8, 5, 0xFF, 0x8000); }});
    cases.push_back({97, Ints({2, 1, 1, 2, 3, 4, 5, 6}), [] { return B3D_TexCookie(2, 1, 1, 2, 3, 4, 5, 6, -1, 1); }});
    cases.push_back({98, Ints({2, 1, 1, 2, 3, 4, 5, 6}), [] { return B3D_TexBlit(2, 1, 1, 2, 3, 4, 5, 6, -1, 1); }});
    cases.push_back(
        {99, Ints({2, 1, 0, 0, 5, 6, 1, 2, 13, 14}), [] { return B3D_TexBltTiles(2, 1, 0, 0, 5, 6, 1, 2, 13, 14); }});
    cases.push_back({100, Ints({2, 1, 0, 0, 5, 6, 1, 2, 13, 14}),
                     [] { return B3D_TexBltTilesAlpha(2, 1, 0, 0, 5, 6, 1, 2, 13, 14, -1); }});
    cases.push_back({86,
                     {Int(1), Text("!! !!"), Int(font), Int(2), Int(3), Int(20), Int(30), Int(0xFFFFFF), Int(0)},
                     [font] { return B3D_TexTextBox(1, "!! !!", font, 2, 3, 20, 30, 0xFFFFFF, 0); }});
    cases.push_back({131, {Int(1), Text("!! !!"), Int(font), Int(2), Int(3), Int(20), Int(0xFFFFFF), Int(0)}, [font] {
                         return B3D_TexTextBlockCentered(1, "!! !!", font, 2, 3, 20, 0xFFFFFF, 0);
                     }});
    for (Case& c : cases) {
        std::string answer;
        const std::vector<Chunk> viaCall = Records([&] { answer = calls_.Call(c.call, std::move(c.args)); });
        int32_t direct = 0;
        const std::vector<Chunk> viaOperation = Records([&] { direct = c.direct(); });
        EXPECT_FALSE(viaCall.empty()) << "call " << c.call;
        EXPECT_EQ(viaCall, viaOperation) << "call " << c.call;
        EXPECT_EQ(answer, std::to_string(direct)) << "call " << c.call;
    }

    // An image by its name in the texture cache, blitted whole.
    TC_SetTextureName(2, "panel");  // the name drops the bitmap: a new one
    TC_TextureTable[2].bitmap = MakeBitmap(Layout::Bits32, 32, 32);
    ASSERT_EQ(TC_GetTextureIdByName("panel"), 2u);
    std::string answer;
    const std::vector<Chunk> viaCall = Records([&] {
        answer = calls_.Call(101, {Int(1), Text("panel"), Int(3), Int(4)});
    });
    EXPECT_EQ(viaCall, Records([] { B3D_TexBlit(2, 1, 0, 0, 3, 4, 32, 32, -1, 1); }));
    EXPECT_FALSE(viaCall.empty());
    EXPECT_EQ(answer, "1");
    EXPECT_EQ(calls_.Call(101, {Int(1)}), "0");

    // Sizes, text measures and font colours.
    EXPECT_EQ(calls_.Call(93, Ints({1})), "32");
    EXPECT_EQ(calls_.Call(94, Ints({9})), "0");
    // Text is measured in the style the font draws in: an outlined font
    // measures as wide and as high as its outline.
    const uint32_t ownStyle = g_QelFonts[font]->callerStyle;
    g_QelFonts[font]->callerStyle = 0x2 | 0x1;
    EXPECT_EQ(calls_.Call(88, {Int(font), Text("!!")}), std::to_string(B3D_TexTextWidth(font, 0x3, "!!")));
    EXPECT_EQ(calls_.Call(89, Ints({font})), std::to_string(B3D_TexTextHeight(font, 0x3)));
    EXPECT_GT(B3D_TexTextWidth(font, 0x3, "!!"), B3D_TexTextWidth(font, 0x1, "!!"));
    EXPECT_GT(B3D_TexTextHeight(font, 0x3), B3D_TexTextHeight(font, 0x1));
    g_QelFonts[font]->callerStyle = ownStyle;
    EXPECT_EQ(calls_.Call(90, {Int(font), Text("!! !! !!"), Int(20)}),
              std::to_string(B3D_TexTextBlockHeight(font, "!! !! !!", 20, 0)));
    // A width of 0 or less is added to the texture named fourth.
    EXPECT_EQ(calls_.Call(90, {Int(font), Text("!! !! !!"), Int(-12), Int(1)}),
              std::to_string(B3D_TexTextBlockHeight(font, "!! !! !!", 20, 0)));
    EXPECT_EQ(calls_.Call(92, {Int(font), Text("!! !! !!"), Int(20)}), "{\"!!\",\"!!\",\"!!\"}");
    EXPECT_EQ(calls_.Call(91, Ints({font, 0x00FF00})), "0");
    EXPECT_EQ(g_QelFonts[font]->effectColour, 0x00FF00u);
    LogCapture log;
    EXPECT_EQ(calls_.Call(91, Ints({QEL_FONT_SLOTS - 1, 5})), "0");
    EXPECT_TRUE(
        log.Contains("B3D_SetTexTextBGColor: unknown fon number: " + std::to_string(QEL_FONT_SLOTS - 1) + ", col:5"));

    // The display.
    EXPECT_EQ(calls_.Call(105), std::to_string(g_VideoRecord->VideoEBM->width));
    EXPECT_EQ(calls_.Call(106), std::to_string(g_VideoRecord->VideoEBM->height));
    EXPECT_EQ(calls_.Call(107), std::to_string(g_VideoRecord->aspectX));
    EXPECT_EQ(calls_.Call(108), std::to_string(g_VideoRecord->aspectY));
}
