#include "cockpit/syscall.h"

#include <algorithm>
#include <array>

#include "base/general.h"
#include "base/log.h"
#include "cockpit/callnames.h"
#include "cockpit/hudsteps.h"
#include "cockpit/panels.h"
#include "cockpit/scenes.h"
#include "cockpit/viewcalls.h"
#include "cockpit/ticker.h"
#include "cockpit/tracking.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kRadarRange = 10000000;
constexpr int32_t kSmallestRange = 1000;
constexpr uint32_t kDustCameraFlag = 0x8000;
constexpr int32_t kLaterCalls = 42;
// Calls without a meaning: answered 0 with the line that names them.
constexpr int32_t kUndefinedCalls[] = {71, 75};

int32_t AnswerZero(const SA_Call& c) { return c.Answer(0); }

Cockpit* CockpitOf(const SA_Call& c) { return INS_CallCockpit(c); }

int32_t IdOf(const SectorObject* o) { return o ? static_cast<int32_t>(o->id) : 0; }
int32_t IdOf(const Camera3D* camera) { return camera ? static_cast<int32_t>(camera->inst.id) : 0; }

// The camera an argument names, or 0 when it names none.
uint32_t CameraArg(const SA_Call& c, int32_t i) {
    const Camera3D* camera = IC_FindCamera(static_cast<uint32_t>(c.Int(i)));
    return camera ? camera->inst.id : 0;
}

const char* TextArg(const SA_Call& c, int32_t i) { return SV_GetString(c.Arg(i)); }

// ---------------------------------------------------------------- the seams' defaults

// ---------------------------------------------------------------- calls 0 to 41

int32_t CockpitAlloc(const SA_Call& c) { return c.Answer(static_cast<int32_t>(INS_AddCockpit(g_CockpitSystem))); }

int32_t CockpitFree(const SA_Call& c) {
    INS_FreeCockpit(g_CockpitSystem, static_cast<uint32_t>(c.Int(0)));
    return c.Answer(0);
}

int32_t GetCamera(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? IdOf(IC_Camera(k)) : 0);
}

int32_t EnableCamera(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    Camera3D* camera = k ? IC_Camera(k) : nullptr;
    Scene3D* scene = k ? IC_Scene(k) : nullptr;
    if (camera && scene) {
        if (c.IsTrue(1)) {
            if (camera->inst.scene != scene) B3D_SceneLinkInst(scene, camera);
        } else if (camera->inst.scene == scene) {
            B3D_CameraDeleteFromScene(camera);
        }
    }
    return c.Answer(0);
}

int32_t GetScene(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    const Scene3D* scene = k ? IC_Scene(k) : nullptr;
    return c.Answer(scene ? static_cast<int32_t>(scene->id) : 0);
}

template <uint32_t Cockpit::*Field>
int32_t SetCamera(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) k->*Field = CameraArg(c, 1);
    return c.Answer(0);
}

int32_t SetDustCamera(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        k->dustCamera = CameraArg(c, 1);
        if (Camera3D* camera = IC_FindCamera(k->dustCamera)) camera->camFlags |= kDustCameraFlag;
    }
    return c.Answer(0);
}

template <uint32_t Cockpit::*Field>
int32_t GetCameraField(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? IdOf(IC_FindCamera(k->*Field)) : 0);
}

int32_t SetSectorSpace(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    SectorObject* sector = k ? c.Object(1) : nullptr;
    if (!sector || sector->mainType != SA_MT_SECTOR) return c.Answer(0);
    k->sectorSpace = sector;
    const auto* space = reinterpret_cast<const SectorSpace*>(sector);
    const TypeRecord* bg = SA_GetTypeRecord(SA_MT_BACKGROUND, space->backgroundType);
    if (Scene3D* scene = IC_Scene(k); scene && bg)
        for (int i = 0; i < 3; ++i) scene->ints[i] = bg->field[SA_TF_BG_AMBIENT + i];
    return c.Answer(0);
}

template <SectorObject* Cockpit::*Field>
int32_t GetObject(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? IdOf(k->*Field) : 0);
}

int32_t SetCameraMessage(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSDisplays.cameraMessage(k, TextArg(c, 1));
    return c.Answer(0);
}

int32_t SetNavMap(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSDisplays.navMap(k, c.Int(1));
    return c.Answer(0);
}

int32_t DisplayStaticText(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSDisplays.staticText(k, TextArg(c, 1));
    return c.Answer(0);
}

int32_t DisplayText(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    if (!k) return c.Answer(0);
    const int32_t value = static_cast<int16_t>(c.Int(2) & 0xFFFF);
    const char* text = TextArg(c, 1);
    if (!text) {
        g_INSDisplays.clearText(k, value);
        return c.Answer(0);
    }
    return g_INSDisplays.displayText(k, c, text, value, c.argc == 4, c.Int(3));
}

int32_t SetGrid(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) INS_SetGrid(k, c.Int(1));
    return c.Answer(0);
}

int32_t SetRadarMode(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        k->radarMode = c.Int(1);
        const int32_t range = c.Int(2);
        k->radarRange = range < kSmallestRange ? kRadarRange : range;
    }
    return c.Answer(0);
}

int32_t MoveCockpit(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) k->cockpitBodyOn = k->radarBodyOn = k->displayBodyOn = c.Int(1) == 1 ? 0 : 1;
    return c.Answer(0);
}

int32_t SetCockpitNumber(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) IC_SetCockpitNumber(k, c.Int(1));
    return c.Answer(0);
}

int32_t GetMonitorNumber(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k ? k->monitorNumber : -1);
}

int32_t DisplayMessage(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSDisplays.message(k, TextArg(c, 1), INS_MESSAGE_DURATION);
    return c.Answer(0);
}

int32_t DisplayMessageWithDuration(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        const char* text = TextArg(c, 1);
        g_INSDisplays.message(k, text, text ? c.Int(2) : 0);
    }
    return c.Answer(0);
}

int32_t SetZooming(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) {
        if (c.Int(1)) k->zoomFlags |= 1u;
        else k->zoomFlags &= ~1u;
    }
    return c.Answer(0);
}

int32_t SetTimeWarpFactor(const SA_Call& c) {
    if (g_CockpitSystem) g_CockpitSystem->timeWarpFactor = c.Int(0);
    return c.Answer(0);
}

template <int32_t Mode>
int32_t DoTracking(const SA_Call& c) {
    if (Cockpit* k = CockpitOf(c)) g_INSDisplays.track(k, Mode, nullptr);
    return c.Answer(0);
}

template <int32_t Mode>
int32_t IsTracking(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    return c.Answer(k && k->trackingMode == Mode ? 1 : 0);
}

int32_t SetTracking(const SA_Call& c) {
    Cockpit* k = CockpitOf(c);
    if (!k) return c.Answer(0);
    if (!c.Int(1)) g_INSDisplays.track(k, 0, nullptr);
    else if (SectorObject* object = c.Object(1)) g_INSDisplays.track(k, 3, object);
    return c.Answer(0);
}

int32_t GetDistanceToObj(const SA_Call& c) {
    const Cockpit* k = CockpitOf(c);
    if (!k || !k->cockpitRefObject || k->viewMode != 1) return c.Answer(0);
    const SectorObject* object = c.Object(1);
    if (!object || !object->instance) return c.Answer(0);
    QelVector from;
    INS_GetViewPosition(k, &from);
    return c.Answer(INS_VecDistance(&from, &object->instance->pos));
}

constexpr std::array<INS_CallFn, kLaterCalls> MakeTable() {
    std::array<INS_CallFn, kLaterCalls> t{};
    t[0] = CockpitAlloc;
    t[1] = CockpitFree;
    t[2] = GetCamera;
    t[3] = EnableCamera;
    t[4] = GetScene;
    t[5] = SetCamera<&Cockpit::sectorCamera>;
    t[6] = SetCamera<&Cockpit::galaxyCamera>;
    t[7] = SetDustCamera;
    t[8] = GetCameraField<&Cockpit::sectorCamera>;
    t[9] = GetCameraField<&Cockpit::galaxyCamera>;
    t[10] = GetCameraField<&Cockpit::dustCamera>;
    t[11] = SetSectorSpace;
    t[12] = INS_SetCockpitObject<&Cockpit::refObject>;
    t[13] = INS_SetCockpitObject<&Cockpit::cockpitRefObject>;
    t[14] = GetObject<&Cockpit::refObject>;
    t[15] = GetObject<&Cockpit::cockpitRefObject>;
    t[16] = INS_SetCockpitInt<&Cockpit::shading>;
    t[17] = SetCameraMessage;
    t[18] = SetNavMap;
    t[19] = DisplayStaticText;
    t[20] = DisplayText;
    t[21] = SetGrid;
    t[22] = INS_GetCockpitInt<&Cockpit::gridOn>;
    t[23] = SetRadarMode;
    t[24] = INS_GetCockpitInt<&Cockpit::radarMode>;
    t[25] = INS_GetCockpitInt<&Cockpit::radarRange>;
    t[26] = MoveCockpit;
    t[27] = SetCockpitNumber;
    t[28] = INS_GetCockpitInt<&Cockpit::cockpitNumber>;
    t[29] = INS_SetCockpitInt<&Cockpit::monitorNumber>;
    t[30] = GetMonitorNumber;
    t[31] = DisplayMessage;
    t[32] = DisplayMessageWithDuration;
    t[33] = SetZooming;
    t[34] = SetTimeWarpFactor;
    t[35] = DoTracking<1>;
    t[36] = DoTracking<4>;
    t[37] = IsTracking<1>;
    t[38] = IsTracking<4>;
    t[39] = SetTracking;
    t[40] = GetObject<&Cockpit::trackedObject>;
    t[41] = GetDistanceToObj;
    return t;
}

constexpr std::array<INS_CallFn, kLaterCalls> kCalls = MakeTable();

}  // namespace

INSDisplayLink g_INSDisplays = {
    .cameraMessage = INS_SetCameraMessageBox,
    .navMap = INS_SetNavMap,
    .staticText = INS_SetStaticText,
    .clearText = INS_ClearTextCall,
    .displayText = INS_DisplayTextCall,
    .message = INS_MessageCall,
    .track = INS_SetTracking,
};

Cockpit* INS_CallCockpit(const SA_Call& c) { return INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(c.Int(0))); }

void INS_RegisterSysCalls() {
    g_CockpitModule.moduleNumber = g_SEContext ? SB_RegisterEngineModule(g_SEContext, INS_SysCall, INS_GetCallNames(),
                                                                         INS_ReturnIntCallback, nullptr, nullptr)
                                               : 0;
}

int32_t INS_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    const SA_Call c{callerModule, task, call, std::max(argc, 0), args};
    if (call < 0 || call >= INS_CALL_NAME_COUNT) {
        Qel_DPrintf(0, "INS_SysCall: (%s) Undefined System Call %d\n", SE_GetCurrentDebugAddress(), call);
        return AnswerZero(c);
    }
    if (std::find(std::begin(kUndefinedCalls), std::end(kUndefinedCalls), call) != std::end(kUndefinedCalls)) {
        Qel_DPrintf(0, "INS_SysCall: (%s) Undefined System Call %s (%d)\n", SE_GetCurrentDebugAddress(),
                    INS_GetCallNames()[call], call);
        return AnswerZero(c);
    }
    if (call < kLaterCalls) kCalls[static_cast<size_t>(call)](c);
    else INS_LaterSysCall(c);
    return 1;
}

void INS_ReturnIntCallback(uint32_t, int32_t value) {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return;
    SV_Release(&system->answer);
    SV_AssignInt(&system->answer, value);
    system->answered = 1;
}

int32_t INS_RunStoryInt(int32_t objectId, const char* name, int32_t argc, int32_t a0, int32_t a1, int32_t a2,
                        int32_t a3) {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return 0;
    SV_Release(&system->answer);
    system->answered = 0;
    SE_Run(g_CockpitModule.moduleNumber, 0, objectId, name, SE_RETURN_INT, argc, a0, a1, a2, a3);
    // The run may have ended the system (a story that ends the game).
    system = g_CockpitSystem;
    if (!system || !system->answered || system->answer.tag != VARTYPE_INTEGER) return 0;
    return system->answer.i;
}
