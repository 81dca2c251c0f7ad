#include "space/syscall.h"

#include <array>

#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/callnames.h"
#include "space/containercalls.h"
#include "space/combatcalls.h"
#include "space/create.h"
#include "space/cutcalls.h"
#include "space/kill.h"
#include "space/objectcalls.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/propcalls.h"
#include "space/placecalls.h"
#include "space/typecalls.h"
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
    t[34] = SACall_GetMainType;
    t[35] = SACall_GetSubType;
    t[36] = SACall_GetType;
    t[37] = SACall_GetPosX;
    t[38] = SACall_GetPosY;
    t[39] = SACall_GetPosZ;
    t[40] = SACall_SetPos;
    t[41] = SACall_SetSafePos;
    t[42] = SACall_GetSafePos;
    t[43] = SACall_SetRelativePos;
    t[44] = SACall_GetRotAlpha;
    t[45] = SACall_GetRotBeta;
    t[46] = SACall_GetRotGamma;
    t[47] = SACall_GetRotationMatrix;
    t[48] = SACall_SetRot;
    t[49] = SACall_GetDirX;
    t[50] = SACall_GetDirY;
    t[51] = SACall_GetDirZ;
    t[52] = SACall_SetDirection;
    t[53] = SACall_GetBody;
    t[54] = SACall_GetCompBody;
    t[55] = SACall_GetCutID;
    t[56] = SACall_GetObjectTextID;
    t[57] = SACall_GetSize;
    t[58] = SACall_GetTotalSize;
    t[59] = SACall_GetMass;
    t[60] = SACall_SetMass;
    t[61] = SACall_GetSpeed;
    t[62] = SACall_GetMaxSpeed;
    t[63] = SACall_GetDockingSpeed;
    t[64] = SACall_SetSpeed;
    t[65] = SACall_GetDesiredSpeed;
    t[66] = SACall_SetDesiredSpeed;
    t[67] = SACall_SetExtraSpeed;
    t[68] = SACall_GetAcceleration;
    t[69] = SACall_SetRotSpeed;
    t[70] = SACall_SetGlide;
    t[71] = SACall_GetStepX;
    t[72] = SACall_GetStepY;
    t[73] = SACall_GetStepZ;
    t[74] = SACall_SetExtraRotSpeed;
    t[75] = SACall_GetCount;
    t[76] = SACall_SetCount;
    t[77] = SACall_SetLight;
    t[78] = SACall_GetShield;
    t[79] = SACall_GetMaxShield;
    t[80] = SACall_SetShield;
    t[81] = SACall_SetMaxAvoidShield;
    t[82] = SACall_GetLaser;
    t[83] = SACall_GetMaxLaser;
    t[84] = SACall_GetLaserPosition;
    t[85] = SACall_SetLaser;
    t[86] = SACall_GetHull;
    t[87] = SACall_GetMaxHull;
    t[88] = SACall_SetHull;
    t[89] = SACall_GetStrength;
    t[90] = SACall_GetNumCockpits;

    // Containers, flags, relations and appearance (91 to 129).
    t[91] = SACall_MoveObjectIntoContainer;
    t[92] = SACall_MoveLaserIntoContainer;
    t[93] = SACall_FindObjectTypeInContainer;
    t[94] = SACall_FindObjectSubTypeInContainer;
    t[95] = SACall_FindObjectByPathSerial;
    t[96] = SACall_FindObjectByPathBody;
    t[97] = SACall_FindObjectByPathClass;
    t[98] = SACall_SetFlags;
    t[99] = SACall_GetFlags;
    t[100] = SACall_SetFlags2;
    t[101] = SACall_GetFlags2;
    t[102] = SACall_SetRenderLast;
    t[103] = SACall_GetCourseType;
    t[104] = SACall_GetEnvironment;
    t[105] = SACall_GetDestination;
    t[106] = SACall_IsEnemy;
    t[107] = SACall_GetRelation;
    t[108] = SACall_SetRelation;
    t[109] = SACall_SetGroupRelation;
    t[110] = SACall_SetGroup;
    t[111] = SACall_GetGroup;
    t[112] = SACall_TypeCreatesDebris;
    t[113] = SACall_SetDebrisDensity;
    t[114] = SACall_GetDebrisDensity;
    t[115] = SACall_GetTypeWreckType;
    t[116] = SACall_TypeCreatesWreck;
    t[117] = SACall_SetWreckDensity;
    t[118] = SACall_GetWreckDensity;
    t[119] = SACall_IsCollectible;
    t[120] = SACall_SetHueModifier;
    t[121] = SACall_GetHueModifier;
    t[122] = SACall_SetSaturationModifier;
    t[123] = SACall_GetSaturationModifier;
    t[124] = SACall_SetFactoryConnectionParent;
    t[125] = SACall_SetNebulaProperties;
    t[126] = SACall_SetPlanetFogParameter;
    t[127] = SACall_SetShipRotAccel;
    t[128] = SACall_GetShipRotAccel;
    t[129] = SACall_GetGlobalParameter;

    // Type queries (130 to 229).
    t[130] = SACall_GetNumSubTypes;
    t[131] = SACall_GetTypeCodeByName;
    t[132] = SACall_GetSubTypeByName;
    t[133] = SACall_TypeField<SA_TF_CLASS>;
    t[134] = SACall_GetTypeSubTypeName;
    t[135] = SACall_GetTypeMaxSpeed;
    t[136] = SACall_GetTypeAcceleration;
    t[137] = SACall_GetTypeMaxHull;
    t[138] = SACall_TypeField<SA_TF_STEP_X>;
    t[139] = SACall_TypeField<SA_TF_STEP_Y>;
    t[140] = SACall_TypeField<SA_TF_STEP_Z>;
    t[141] = SACall_TypeField<SA_TF_TEXT_ID>;
    t[142] = SACall_TypeField<SA_TF_BODY>;
    t[143] = SACall_TypeField<SA_TF_SECOND_BODY>;
    t[144] = SACall_GetTypeCut;
    t[145] = SACall_TypeField<SA_TF_VIDEO_ID>;
    t[146] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_EXTRA_SPEED>;
    t[147] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_EXTRA_ROT_SPEED>;
    t[148] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_COCKPIT_BODY>;
    t[149] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_SHIELD_TYPE>;
    t[150] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_SHIELDS>;
    t[151] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MISSILE_MAX>;
    t[152] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_MISSILES>;
    t[153] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_TRADE_CONTAINER>;
    t[154] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_TRADE_CONTAINER>;
    t[155] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MAX_TRADE_CLASS>;
    t[156] = SACall_GetShipTypePredefinedWareCount;
    t[157] = SACall_GetWareListWareCount;
    t[158] = SACall_GetTypeShieldPowerGeneration;
    t[159] = SACall_GetTypeNumDockPorts;
    t[160] = SACall_GetTypeDockBaySize;
    t[161] = SACall_GetTypeIsDockingPossibleOf;
    t[162] = SACall_GetTypeCanUseDockPort;
    t[163] = SACall_GetTypeDockPortAnimFlags;
    t[164] = SACall_GetTypeDockPortFlags;
    t[165] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_COCKPIT_COUNT>;
    t[166] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_TURRET_COUNT>;
    t[167] = SACall_GetShipTypeNumLasersInTurret;
    t[168] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_LASER_COUNT>;
    t[169] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_LASER_POWER_MAX>;
    t[170] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_LASER_POWER_RELOAD>;
    t[171] = SACall_GetShipTypeTurretIDFromCockpitID;
    t[172] = SACall_GetShipTypeTurretIDFromLaserPos;
    t[173] = SACall_GetShipTypeLaserPosFromTurretID;
    t[174] = SACall_GetShipTypeTurretLaserMask;
    t[175] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_MISSILE_MASK>;
    t[176] = SACall_GetShipTypeCockpitTextID;
    t[177] = SACall_GetShipTypeTurretTextID;
    t[178] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_CLASS>;
    t[179] = SACall_SubTypeField<SA_MT_SHIP, SA_TF_SHIP_VARIATION>;
    t[180] = SACall_TypeField<SA_TF_SKIN>;
    t[181] = SACall_TypeField<SA_TF_VOLUME, 1>;
    t[182] = SACall_TypeField<SA_TF_REL_VALUE, 1>;
    t[183] = SACall_TypeField<SA_TF_PRI_MAX_POWER, 1>;
    t[184] = SACall_TypeField<SA_TF_SEC_MAX_POWER, 1>;
    t[185] = SACall_TypeField<SA_TF_TRADE_CLASS>;
    t[186] = SACall_TypeField<SA_TF_PLAYER_REL_VALUE, 1>;
    t[187] = SACall_TypeField<SA_TF_MIN_NOTORIETY>;
    t[188] = SACall_SubTypeField<SA_MT_LASER, SA_TF_LASER_ENERGY>;
    t[189] = SACall_GetLaserTypeRange;
    t[190] = SACall_GetLaserTypeShieldDamage;
    t[191] = SACall_GetLaserTypeHullDamage;
    t[192] = SACall_GetLaserTypeAmmunition;
    t[193] = SACall_GetLaserTypeFlyFX;
    t[194] = SACall_SubTypeField<SA_MT_LASER, SA_TF_LASER_RELOAD, SA_BAD_LASER_RELOAD>;
    t[195] = SACall_GetLaserTypeSpeed;
    t[196] = SACall_SubTypeField<SA_MT_LASER, SA_TF_LASER_BULLET_TYPE>;
    t[197] = SACall_SubTypeField<SA_MT_BULLET, SA_TF_BULLET_SHIELD_DAMAGE>;
    t[198] = SACall_SubTypeField<SA_MT_BULLET, SA_TF_BULLET_HULL_DAMAGE>;
    t[199] = SACall_GetBulletTypeAmmunition;
    t[200] = SACall_SubTypeField<SA_MT_SHIELD, SA_TF_SHIELD_ENERGY>;
    t[201] = SACall_SubTypeField<SA_MT_SHIELD, SA_TF_SHIELD_STRENGTH>;
    t[202] = SACall_SubTypeField<SA_MT_SHIELD, SA_TF_SHIELD_MAX_POWER_USED>;
    t[203] = SACall_GetRocketTypeRange;
    t[204] = SACall_SubTypeField<SA_MT_MISSILE, SA_TF_MISSILE_DAMAGE>;
    t[205] = SACall_SubTypeField<SA_MT_MISSILE, SA_TF_MISSILE_FLAGS>;
    t[206] = SACall_SubTypeField<SA_MT_MISSILE, SA_TF_MISSILE_SPLIT_DELAY>;
    t[207] = SACall_GetTypeDefaultRace;
    t[208] = SACall_GetTypeDensity;
    t[209] = SACall_GetTypeDebrisMapCutID;
    t[210] = SACall_MatchType;
    t[211] = SACall_MatchTypeAndRace;
    t[212] = SACall_SubTypeField<SA_MT_FACTORY, SA_TF_FACTORY_SCALE, 1>;
    t[213] = SACall_SubTypeColour<SA_MT_PLANET, SA_TF_PLANET_COLOUR, SA_BAD_TYPE_COLOUR>;
    t[214] = SACall_GetBgTypeBodyFamilyName;
    t[215] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_STAR_COUNT>;
    t[216] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_NEBULA_COUNT>;
    t[217] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_OUTER_COUNT>;
    t[218] = SACall_GetBgTypeDustBodyRate;
    t[219] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_DUST_COUNT>;
    t[220] = SACall_SubTypeColour<SA_MT_BACKGROUND, SA_TF_BG_AMBIENT, SA_BAD_TYPE_COLOUR>;
    t[221] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_HUE>;
    t[222] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_FOG_NEAR>;
    t[223] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_FOG_FAR>;
    t[224] = SACall_SubTypeField<SA_MT_BACKGROUND, SA_TF_BG_STARDUST_DENSITY>;
    t[225] = SACall_SubTypeColour<SA_MT_BACKGROUND, SA_TF_BG_STARDUST_COLOUR>;
    t[226] = SACall_GetBgTypeNebulaBodyID;
    t[227] = SACall_GetBgTypeStarBodyID;
    t[228] = SACall_SetBgTypeData;
    t[229] = SACall_BgTypeFromBody;

    // Statistics, combat, cut scenes and takes (230 to 258).
    t[230] = SACall_GetLaserFired;
    t[231] = SACall_GetMissileFired;
    t[232] = SACall_GetLaserHits;
    t[233] = SACall_GetMissileHits;
    t[234] = SACall_GetTotalDistance;
    t[235] = SACall_DumpObject;
    t[236] = SACall_DumpSectorScene;
    t[237] = SACall_StopObject;
    t[238] = SACall_ForceMove;
    t[239] = SACall_FireOnObject;
    t[240] = SACall_FireAhead;
    t[241] = SACall_ShootMissileOnObject;
    t[242] = SACall_RemoteDetonateMissile;
    t[243] = SACall_FindNearestEnemy;
    t[244] = SACall_FindNearestEnemyFromPos;
    t[245] = SACall_FindNearestEnemyByStrength;
    t[246] = SACall_IsTargetInFiringRangeOfTurret;
    t[247] = SACall_CollisionObject;
    t[248] = SACall_GetCollisionObjects;
    t[249] = SACall_Distance;
    t[250] = SACall_LoadCutScene;
    t[251] = SACall_FreeCutScene;
    t[252] = SACall_AllocTake;
    t[253] = SACall_StartTake;
    t[254] = SACall_StopTake;
    t[255] = SACall_FinishTake;
    t[256] = SACall_GetTakeRemainingTime;
    t[257] = SACall_FreeTake;
    t[258] = SACall_SetTakeReplaceBody;

    // Sounds, the player, docking, effects, sector scenes and bodies (259 to 304).
    t[259] = SACall_MaxDistance;
    t[261] = SACall_DoObjectSound;
    t[262] = SACall_GetInst3D;
    t[263] = SACall_CheckRing;
    t[264] = SACall_RecalculateRot;
    t[265] = SACall_SetPlayerLand;
    t[266] = SACall_IsPlayerLand;
    t[267] = SACall_IsInApproach;
    t[268] = SACall_SetVideoChannel;
    t[269] = SACall_SetSpecialParameter1;
    t[270] = SACall_SetWareID;
    t[271] = SACall_SetAsPlayerObject;
    t[272] = SACall_SetPlayerControl;
    t[273] = SACall_SetAutopilot;
    t[274] = SACall_LandAllObjectsInHangar;
    t[275] = SACall_AnswerZero;
    t[276] = SACall_AnswerZero;
    t[277] = SACall_ShowRelativeExplosion;
    t[278] = SACall_ShowObjectEffect;
    t[279] = SACall_IsSafePos;
    t[280] = SACall_FastTrace;
    t[281] = SACall_SetSpaceScene;
    t[282] = SACall_SetSpaceGalaxyScene;
    t[283] = SACall_SetSpaceDustScene;
    t[284] = SACall_GetSpaceScene;
    t[285] = SACall_GetSpaceGalaxyScene;
    t[286] = SACall_GetSpaceDustScene;
    t[287] = SACall_SetSpaceFlags;
    t[288] = SACall_GetSpaceFlags;
    t[289] = SACall_SetSectorSize;
    t[290] = SACall_GetSectorSize;
    t[291] = SACall_SetSectorBackgroundType;
    t[292] = SACall_GetSectorBackgroundType;
    t[293] = SACall_SetSectorBackgroundStarsIndex;
    t[294] = SACall_GetSectorBackgroundStarsIndex;
    t[295] = SACall_SetSectorBackgroundNebulasIndex;
    t[296] = SACall_GetSectorBackgroundNebulasIndex;
    t[297] = SACall_GetTimer;
    t[298] = SACall_AllocTextInst;
    t[299] = SACall_FreeAllBodies;
    t[300] = SACall_CleanUpObjects;
    t[301] = SACall_ObjectTypeFromBody;
    t[302] = SACall_ObjectTypeFromCut;
    t[303] = SACall_IsSpecialBody;
    t[304] = SACall_IsDummyBody;

    // Placement, cameras, docking, videos and the tractor beam (305 to 349).
    t[305] = SACall_CreateObjectCutScene;
    t[306] = SACall_SetDesiredDistance;
    t[307] = SACall_GetDesiredDistance;
    t[308] = SACall_SetDestination;
    t[309] = SACall_IsWarpOutSlotAvailable;
    t[310] = SACall_SetCameraConnectMode;
    t[311] = SACall_SetCameraB3DCamera;
    t[312] = SACall_SetSpeedLimit;
    t[313] = SACall_SetMaxSpeedOverride;
    t[314] = SACall_SetMaxStrafeSpeedOverride;
    t[315] = SACall_SetPosAndDirection;
    t[316] = SACall_SetSafePosAndDirection;
    t[317] = SACall_GetPosRotAndDirection;
    t[318] = SACall_SetPosAndRot;
    t[319] = SACall_SetSafePosAndRot;
    t[320] = SACall_GetPosAndRot;
    t[321] = SACall_TransformPosAndRot;
    t[322] = SACall_GetRelativePos;
    t[323] = SACall_GetBulletTypeFlyFX;
    t[324] = SACall_SetEnemyOfEnabled;
    t[325] = SACall_GetMissileAim;
    t[326] = SACall_CreateFactoryConnections;
    t[327] = SACall_DecoupleShips;
    t[328] = SACall_StartInGameScene;
    t[329] = SACall_StartInGameScene2;
    t[330] = SACall_ReloadShipLasers;
    t[331] = SACall_SetShipAtDockPort;
    t[332] = SACall_StartDockPortAnim;
    t[333] = SACall_GetDockPortPosInst;
    t[334] = SACall_GetDockPortRendezvousPos;
    t[335] = SACall_FindNearestDockPortRendezvous;
    t[336] = SACall_SetShipDockPortNr;
    t[337] = SACall_RestartObjectCut;
    t[338] = SACall_ShowDummyExplosion;
    t[339] = SACall_DeleteAllEffects;
    t[340] = SACall_SetClientDataFlags;
    t[341] = SACall_GetClientDataFlags;
    t[342] = SACall_SaveBackgroundTypes;
    t[343] = SACall_StartVideo;
    t[344] = SACall_StopVideo;
    t[345] = SACall_PauseVideo;
    t[346] = SACall_FindVideo;
    t[347] = SACall_GetSpawnInst;
    t[348] = SACall_TractorConnect;
    t[349] = SACall_TractorDisconnect;

    // Cut indices, turret aim and debris (350 to 357).
    t[350] = SACall_FindIndexInCut;
    t[351] = SACall_GetTypePosAndDirectionInCut;
    t[352] = SACall_GetSubTypeFormCutIndex;
    t[353] = SACall_RotateTurretToPos;
    t[354] = SACall_FindNearestRockInDebris;
    t[355] = SACall_GetAsteroidDensity;
    t[356] = SACall_GetAbsPosRot;
    t[357] = SACall_CollectDebris;

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

int32_t SA_Call::AnswerValue(ScriptValue* value) const {
    if (task && g_SEContext) SE_TaskReturnValue(task, value, g_SEContext);
    SV_Release(value);
    return 1;
}

int32_t SA_Call::AnswerArray(const int32_t* values, int32_t n) const {
    ScriptValue v{};
    if (!SV_ArrayAlloc(&v, n)) return Answer(0);
    for (int32_t i = 0; i < n; ++i) SV_ArrayWriteInt(&v, i, values[i]);
    return AnswerValue(&v);
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
