#include "space/syscall.h"

#include <array>

#include "base/log.h"
#include "base/table.h"
#include "script/builtins_args.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kCheckDistances = 260;

int32_t AllocObject(const SA_Call& c) {
    const int32_t mainArg = c.Int(0);
    const int32_t subArg = c.Int(1);
    // Taken apart as a 32-bit code: a main type beyond 16 bits only wraps.
    const auto code = static_cast<int32_t>(static_cast<uint32_t>(mainArg) * 65536u | static_cast<uint32_t>(subArg));
    SectorObject* object = nullptr;
    if (mainArg == SA_MT_SECTOR) {
        object = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, SA_CodeSubType(subArg)));
    } else {
        const int32_t mainType = SA_CodeMainType(code);
        const int32_t subType = SA_CodeSubType(code);
        if (mainType >= SA_MAIN_TYPE_COUNT) {
            Qel_DPrintf(0, "AllocObject(%d,%d) Invalid maintype %s\n", mainArg, subArg, SA_ScriptPosition());
            return c.Answer(0);
        }
        if (subType >= g_TypeDB.counts[mainType]) {
            Qel_DPrintf(0, "AllocObject(%d,%d) Invalid subtype %s\n", mainArg, subArg, SA_ScriptPosition());
            return c.Answer(0);
        }
        object = O_AllocObject(code);
    }
    return c.Answer(object ? static_cast<int32_t>(object->id) : 0);
}

int32_t FreeObject(const SA_Call& c) {
    if (SectorObject* object = c.Object(0)) O_FreeOrQueue(object);
    return c.Answer(0);
}

int32_t FindObject(const SA_Call& c) {
    const auto id = static_cast<uint32_t>(c.Int(0));
    const auto* object =
        g_SpaceRoot ? reinterpret_cast<const SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id)) : nullptr;
    return c.Answer(object && !(object->flags & SA_FLAG_KILLED) ? static_cast<int32_t>(object->id) : 0);
}

int32_t SetEventObject(const SA_Call& c) {
    if (SectorObject* object = c.Object(0))
        object->eventObject = static_cast<uint32_t>(c.IdOrStoryObject(1, static_cast<int32_t>(object->eventObject)));
    return c.Answer(0);
}

int32_t GetEventObject(const SA_Call& c) {
    const SectorObject* object = c.Object(0);
    return c.Answer(object ? static_cast<int32_t>(object->eventObject) : 0);
}

int32_t GetParentObject(const SA_Call& c) {
    const SectorObject* object = c.Object(0);
    return c.Answer(object && object->parent ? static_cast<int32_t>(object->parent->id) : 0);
}

int32_t StartObjectInSpace(const SA_Call& c) {
    SectorObject* object = c.Object(0);
    SectorObject* container = c.Object(1);
    // Only a container takes objects, and never one inside the object itself.
    if (object && container && O_CanContain(container, object)) O_SetContainer(object, container);
    return c.Answer(0);
}

int32_t KillObject(const SA_Call& c) {
    SectorObject* object = c.Object(0);
    SectorObject* killer = c.IsTrue(2) ? c.Object(2) : nullptr;
    const int32_t extra = c.argc > 3 ? c.IdOrStoryObject(3, 0) : 0;
    if (object) SS_KillObject(object, static_cast<int16_t>(c.Int(1) & 0xFFFF), killer, extra);
    return c.Answer(0);
}

int32_t DamageObject(const SA_Call& c) {
    SectorObject* object = c.Object(0);
    SectorObject* attacker = c.Object(1);
    if (object && attacker) O_DamageObject(object, attacker, c.Int(2), c.Int(3));
    return c.Answer(0);
}

constexpr std::array<SA_CallFn, SA_CALL_NAME_COUNT> MakeTable() {
    std::array<SA_CallFn, SA_CALL_NAME_COUNT> t{};
    t[0] = AllocObject;
    t[1] = FreeObject;
    t[2] = FindObject;
    t[3] = SetEventObject;
    t[4] = GetEventObject;
    t[5] = GetParentObject;
    t[6] = StartObjectInSpace;
    t[7] = KillObject;
    t[8] = DamageObject;
    t[9] = SACall_FlyObjectIntoContainer;
    t[10] = SACall_FlyObjectBeforeContainer;
    t[11] = SACall_IsObjectBeforeContainer;
    t[12] = SACall_FlyObjectBeforeContainerPos;
    t[13] = SACall_ClearObjectFromHangar;
    t[14] = SACall_WarpObjectAway;
    t[15] = SACall_AvoidObjectCollision;
    t[16] = SACall_CaptureObject;
    t[17] = SACall_AttackObject;
    t[18] = SACall_AttackObjectBig;
    t[19] = SACall_DefensiveMove;
    t[20] = SACall_EscortObject;
    t[21] = SACall_StopObjectTurret;
    t[22] = SACall_TurnToObject;
    t[23] = SACall_TurretTurnToObject;
    t[24] = SACall_TurretTurnToPosition;
    t[25] = SACall_StartInHangar;
    t[26] = SACall_Idle;
    t[27] = SACall_FollowObject;
    t[28] = SACall_FollowObjectByCut;
    t[29] = SACall_RotateToAngles;
    t[30] = SACall_MovePos;
    t[31] = SACall_MovePosContinue;
    t[32] = SACall_GlidePos;
    t[33] = SACall_WarpObjectIn;
    // Object properties (34 to 90).

    // Containers, flags, relations and appearance (91 to 129).

    // Type queries (130 to 229).

    // Statistics, combat, cut scenes and takes (230 to 258).

    // Sounds, the player, docking, effects, sector scenes and bodies (259 to 304).
    t[273] = SACall_SetAutopilot;

    // Placement, cameras, docking, videos and the tractor beam (305 to 349).

    // Cut indices, turret aim and debris (350 to 357).

    return t;
}

constexpr std::array<SA_CallFn, SA_CALL_NAME_COUNT> kCalls = MakeTable();

}  // namespace

const ScriptValue* SA_Call::Arg(int32_t i) const { return SE_ArgValue(args, argc, i); }
int32_t SA_Call::Int(int32_t i) const { return Arg(i)->i; }
SectorObject* SA_Call::Object(int32_t i) const { return SA_FindObjectByID(static_cast<uint32_t>(Int(i))); }
bool SA_Call::IsTrue(int32_t i) const { return SV_IsTrue(Arg(i)) != 0; }

int32_t SA_Call::IdOrStoryObject(int32_t i, int32_t otherwise) const {
    const ScriptValue* v = Arg(i);
    if (v->tag == VARTYPE_INTEGER) return v->i;
    if (v->tag == VARTYPE_OBJECT) return v->object ? v->object->id : 0;
    return otherwise;
}

int32_t SA_Call::Answer(int32_t n) const {
    if (task && g_SEContext) SE_TaskReturnIntEx(task, g_SEContext, n);
    return 1;
}

SA_CallFn SA_GetCallFn(int32_t number) {
    return number >= 0 && number < SA_CALL_NAME_COUNT ? kCalls[static_cast<size_t>(number)] : nullptr;
}

int32_t SA_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    SpaceRoot* root = g_SpaceRoot;
    // Story code that a call starts may make calls of its own; the outer
    // call's messages keep naming the story.
    const int32_t wasInCall = root ? root->inCall : 0;
    if (root) root->inCall = 1;
    const SA_Call c{callerModule, task, call, args ? argc : 0, args};
    if (static_cast<uint32_t>(call) >= static_cast<uint32_t>(SA_CALL_NAME_COUNT)) {
        Qel_DPrintf(0, "SA_SysCall: (%s) Undefined System Call %d\n", SA_ScriptPosition(), call);
        c.Answer(0);
    } else if (call == kCheckDistances) {
        Qel_DPrintf(0, "SA_SysCall: (%s) Undefined System Call %s (%d)\n", SA_ScriptPosition(), SA_GetCallNames()[call],
                    call);
        c.Answer(0);
    } else if (SA_CallFn fn = root ? kCalls[static_cast<size_t>(call)] : nullptr) {
        fn(c);
    } else {
        c.Answer(0);
    }
    if (root) root->inCall = wasInCall;
    return 1;
}
