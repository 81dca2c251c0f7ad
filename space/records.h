// The records of the space simulation: every thing in space is one
// SectorObject, typed by a main type (0..31) and a subtype; its per-main-type
// block (the object data) hangs off it; a sector is the longer SectorObject
// variant; one SpaceRoot owns every object through its object list and its ID
// table.
//
// Word numbers in the comments ("word 3") count 32-bit words of the block as
// the save section and the types files number them; a pointer takes one such
// word there and is 64 bits here. Fields the flight, combat and save code give
// their use to are zero at creation and named for where they sit.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "base/table.h"
#include "script/values.h"

struct Inst3D;
struct Scene3D;
struct QelTable;

// ---------------------------------------------------------------- main types

constexpr int32_t SA_MAIN_TYPE_COUNT = 32;
constexpr int16_t SA_MT_BULLET = 0;
constexpr int16_t SA_MT_SECTOR = 1;
constexpr int16_t SA_MT_BACKGROUND = 2;
constexpr int16_t SA_MT_SUN = 3;
constexpr int16_t SA_MT_PLANET = 4;
constexpr int16_t SA_MT_DOCK = 5;
constexpr int16_t SA_MT_FACTORY = 6;
constexpr int16_t SA_MT_SHIP = 7;
constexpr int16_t SA_MT_LASER = 8;
constexpr int16_t SA_MT_SHIELD = 9;
constexpr int16_t SA_MT_MISSILE = 10;
constexpr int16_t SA_MT_WARE_FIRST = 11;  // six ware classes, 11..16
constexpr int16_t SA_MT_WARE_LAST = 16;
constexpr int16_t SA_MT_ASTEROID = 17;
constexpr int16_t SA_MT_GATE = 18;
constexpr int16_t SA_MT_CAMERA = 19;
constexpr int16_t SA_MT_SPECIAL = 20;
constexpr int16_t SA_MT_NEBULA = 21;  // main type 21
constexpr int16_t SA_MT_COCKPIT = 25;
constexpr int16_t SA_MT_27 = 27;
constexpr int16_t SA_MT_DEBRIS = 28;
constexpr int16_t SA_MT_DOCK_WRECK = 29;
constexpr int16_t SA_MT_FACTORY_WRECK = 30;
constexpr int16_t SA_MT_SHIP_WRECK = 31;

// A type code is main type * 65536 + subtype; taken apart as below.
constexpr int32_t SA_TypeCode(int32_t mainType, int32_t subType) { return mainType * 65536 + subType; }
constexpr int32_t SA_CodeMainType(int32_t code) { return (code >> 16) & 255; }
constexpr int32_t SA_CodeSubType(int32_t code) { return code & 0xFFFF; }

// ---------------------------------------------------------------- object flags

constexpr uint32_t SA_FLAG_PLAYER = 0x2;                // the player's object
constexpr uint32_t SA_FLAG_COLLISION_WARNING = 0x4;     // a collision warning is pending
constexpr uint32_t SA_FLAG_QUEUED = 0x80;               // queued in a gate for launch
constexpr uint32_t SA_FLAG_HELD = 0x200;                // held still
constexpr uint32_t SA_FLAG_NO_AREA_DAMAGE = 0x400;      // also: held during the warp-in
constexpr uint32_t SA_FLAG_PLAYER_CONTROL = 0x40000;    // under the player's control
constexpr uint32_t SA_FLAG_AUTOPILOT = 0x80000;         // turning toward remaining angles
constexpr uint32_t SA_FLAG_ASTEROID = 0x20000;          // destroyed by area damage in a debris field
constexpr uint32_t SA_FLAG_HOLDER = 0x100000;           // holds children freed with it (own cut)
constexpr uint32_t SA_FLAG_HANGS_ON = 0x800000;         // follows the object it hangs on
constexpr uint32_t SA_FLAG_AREA_DAMAGE = 0x1000000;     // a missile whose kill deals area damage
constexpr uint32_t SA_FLAG_KILLED = 0x8000000;          // freed at the end of the frame's space update
constexpr uint32_t SA_FLAG_DRIFTING_KILL = 0x40000000;  // bullets: the drifting kill
constexpr uint32_t SA_FLAG_DETAIL_CHILD = 0x80000000;   // a detail object of a debris field

constexpr uint32_t SA_FLAG2_STATIONARY = 0x80;     // sectors, suns, planets, docks, factories, asteroids, 21
constexpr uint32_t SA_FLAG2_DETAIL = 0x100000;     // takes part in the detail switch
constexpr uint32_t SA_FLAG2_DETAILED = 0x200000;   // in its detailed state
constexpr uint32_t SA_FLAG2_SPECIAL = 0x8000000;   // specials
constexpr uint32_t SA_FLAG2_DEBRIS = 0x20000000;   // main type 27, debris fields and wrecks
constexpr uint32_t SA_FLAG2_NEUTRAL = 0x40000000;  // relation 0 to everyone

constexpr uint16_t SA_OBJECT_MAGIC = 0xCAFE;  // while the object is alive
constexpr int16_t SA_GROUP_NEW = -2;          // the group of a new object

// Sector space flags.
constexpr uint32_t SA_SPACE_INACTIVE = 0x1;      // skipped by the per-frame update
constexpr uint32_t SA_SPACE_LOCAL_SOUNDS = 0x2;  // kill sounds only with the player in the sector

// ---------------------------------------------------------------- objects

// An object in space (main types 0..31). A sector is a SectorSpace, which
// begins with this record.
struct SectorObject {
    QelListNode link;  // next, previous: the root's list or its container's child list (key unused)
    uint32_t id;       // key in the root's ID table, 1..0x7ffffffe
    char* name;        // owned (Qel_StrReassign), or null
    int32_t speed;     // 16.16 units per second
    int32_t desiredSpeed;
    int32_t rot[3];       // rotation angles alpha, beta, gamma
    int32_t rotSpeed[3];  // rotation speeds per axis
    int32_t rot2[3];      // second triple: a kill copies the rotation angles here
    int16_t group;        // SA_GROUP_NEW at creation
    uint32_t flags;
    uint32_t flags2;
    int16_t mainType;
    int16_t subType;
    void* typeData;           // the main type's object data (SA_TypeDataSize bytes), or null
    SectorObject* container;  // sector, dock, factory, ship or gate; null while unplaced
    SectorObject* parent;     // the object this one belongs to (a rock's debris field, a carrier)
    int32_t flight[4];        // copied from a carrier at launch; the last three set by "SA_SetGlide"
    Inst3D* instance;         // position, matrix, body and size live there; null for sectors
    Inst3D* instance2;        // second instance reference, zero at creation
    uint32_t callerModule;    // the waiting caller of the current order; 0 when none
    uint32_t callerHandle;
    uint16_t answerArrived;  // 1 once a story function started for this object returned an integer
    ScriptValue result;      // that integer; released when the object is deleted
    uint32_t eventObject;    // story object of this object's callbacks; 0 when none
    int32_t wordAfterEvent;  // 16384 at creation
    int32_t cutId;           // the cut that drives the object, 0 when none
    uint16_t magic;          // SA_OBJECT_MAGIC while alive
    int32_t mass;
    int32_t size;      // fixed at creation; mass starts with it
    int32_t time;      // game time at creation and at every change of container
    QelList attached;  // objects attached to this one (flight and combat code)
    // Flight and combat words (zero at creation).
    QelVector prevPos;            // instance position at the start of this frame's behaviours
    int32_t prevRot[3];           // rotation angles at the start of this frame's behaviours
    int32_t turnLeft[3];          // remaining turn angles the steering still wants
    int32_t drift[3];             // drift vector, added to the motion and decaying
    int32_t lastMoveTime;         // game time of the last move
    QelVector hangOffset;         // hanging on another object: the place in its frame
    uint32_t hangReferenceId;     // ... of this reference (0: taken at the next orientation)
    int32_t tractorDistance;      // held by a tractor beam: the distance kept to the source
    SectorObject* tractorSource;  // the ship whose tractor beam holds this object
    SectorObject* tractorHeld;    // the object this one's tractor beam holds
    int32_t hull;
    // The four reference words (stored as IDs in save games).
    SectorObject* reference;  // the object this one hangs on or belongs to
    int32_t referenceIndex;   // the path index on it
    SectorObject* reference3;
    SectorObject* reference4;
    Inst3D* instance3;  // third instance reference, zero at creation
    int32_t trailingWord;
};

// The sector variant: the same record followed by the sector's fields
// ("SA_SetSpaceScene" .. "SA_GetSectorBackgroundNebulasIndex").
struct SectorSpace {
    SectorObject object;
    Scene3D* spaceScene;
    Scene3D* galaxyScene;
    Scene3D* dustScene;
    int32_t backgroundType;
    int32_t starsIndex;
    int32_t nebulasIndex;
    uint32_t spaceFlags;   // SA_SPACE_*: 2 at creation for subtype 0, else 0
    int32_t sectorSize;    // 10,000,000 at creation
    int32_t trailing[10];  // the last one is the video pause word (non-zero: videos paused)
    int32_t videoIndex;    // the VideoRecord the sector plays, -1 = none
};

// ---------------------------------------------------------------- object data

// The waiting caller of an order or a turret: module number and handle.
struct SA_Caller {
    uint32_t module;
    uint32_t handle;
};

// Every container's object data begins with its child list.
struct ContainerData {
    QelList children;
};

// The carrier words after the child list (ships, docks, factories, gates).
struct CarrierWords {
    int32_t launchTime;     // word 3: now + launch delay after a launch
    QelVector hangarPoint;  // words 4-7: the entry vector, in units of the carrier's size (gates: word 5
                            // the radius, word 6 the height of the launch circle)
    QelVector secondPoint;  // words 8-11: its z (word 10) decides the facing of launched ships
    QelVector thirdPoint;   // words 12-15
};

// One dock-port slot of a dock, factory or ship, made from one entry of its
// type's dock-port list.
struct DockPortSlot {
    int32_t index;           // its number in the list
    uint32_t flags;          // state bits (0x11 while a ship lands, 64 reverse animation ...)
    int32_t time;            // game time until which the port is taken
    SectorObject* occupant;  // the ship at or bound for the port
    Inst3D* portInstance;    // the port's position instance
    Inst3D* approachInstance;
    int32_t animStart;  // the current animation window
    int32_t animEnd;
    int32_t state[8];  // the docking code's words
};

struct DockPortList;

// The dock-port table of a dock, factory or ship (built once from its cut).
struct DockPortTable {
    const DockPortList* list;  // the type's dock-port list
    int32_t slotCount;
    DockPortSlot* slots;  // slotCount slots, freed with the object
    int32_t built;        // 1 once built: stops a second build
};

// The relation words of ships, docks and factories: bit g of a mask stands
// for group g (0..31).
struct RelationWords {
    uint32_t friendMask;
    uint32_t foeMask;
    int32_t enemyOf;  // the reciprocal word: non-zero makes the other side's view count too
    int32_t owner;
};

struct SectorData {  // main type 1
    QelList children;
    int32_t spinRate;   // background spin (turns per 65,536 s)
    int32_t spinClock;  // ms into the current turn
    int32_t spinAngle;
    int32_t lastMoveTime;
    int32_t cached[2];  // cleared when a sun or planet in it moves
    int32_t words[9];
};

struct BulletData {       // main type 0
    int32_t expiryTime;   // game time at which the bullet dies
    int32_t lifetime;     // ms, from the type record; fades and alpha run over it
    uint32_t typeFlags;   // the type record's flags
    SectorObject* owner;  // the shooter
    SectorObject* target;
    Inst3D* gunInstance;  // the gun a beam is stretched from
    int32_t gunPart;
    int32_t fade;     // the fade of a beam or the alpha step
    int32_t radius;   // collision radius
    QelVector start;  // where the bullet started this frame (the sweep)
    int32_t words[16];
};

struct SunData {      // main type 3
    Inst3D* glow[2];  // first in the space scene, second in the galaxy scene
};

struct PlanetData {  // main type 4
    Inst3D* extra;   // set 10.0 along the planet's direction
    int32_t colour;  // "SA_SetLight" packed colour word
    int32_t fog;     // "SA_SetPlanetFogParameter"
    int32_t words[2];
};

struct DockData {  // main types 5 and 6
    QelList children;
    CarrierWords carrier;
    RelationWords relation;
    int32_t rechargeTime;            // game time of the last laser and shield recharge
    SectorObject* connectionParent;  // factories: the parent of a factory complex
    DockPortTable ports;
};

// One turret of a ship (turret 0 is the ship itself).
struct TurretSlot {
    SA_Caller caller;    // the task waiting on this turret
    int32_t targetMode;  // 0 an object, 1 a position
    int32_t targetPos[3];
    int32_t markMin;  // game-time marks of the turn
    int32_t markMax;
    int32_t mountDirection[3];  // the turret's mounting direction and matrix
    int32_t mountMatrix[9];
    SectorObject* target;
};

constexpr int32_t SA_AVOID_MAX = 5;
constexpr int32_t SA_COLLISION_LIST_MAX = 8;

struct ShipData {  // main type 7
    QelList children;
    CarrierWords carrier;
    RelationWords relation;
    int32_t rechargeTime;
    // Tuning (16.16 fractions added to 1.0; 0 means none) and limits.
    int32_t extraSpeed;
    int32_t extraRotSpeed;
    int32_t maxAvoidShield;     // the maximum shield kept for avoidance
    int32_t maxSpeedOverride;   // -1 none
    int32_t maxStrafeOverride;  // -1 none
    int32_t SpeedLimit;         // 0 or more caps the desired speed
    int32_t rotAccel;           // turn acceleration, 16.16
    int32_t hueModifier;        // 360 minus the hue set
    int32_t saturationModifier;
    int32_t laserEnergy;  // the laser energy pool, in thousandths
    int32_t holdTime;     // game time until which a held holder stays still
    // The current order.
    int16_t CourseType;
    SectorObject* OrderTarget;
    int32_t ThinkInterval;
    int32_t NextThink;  // also the order time
    int32_t WarpEffectOn;
    int32_t WarpEnd;
    int32_t TimeLimitOn;
    int32_t TimeLimit;
    int32_t EvadeUntil;
    int32_t PortIndex;  // -1 none
    int32_t PortSlot;   // -1 none
    QelVector OrderPos;
    QelVector PortOffset;
    QelVector FlightDir;
    int32_t OrderRange;
    int32_t OrderValue;
    int32_t avoidState;
    // Obstacles found by the collision pass.
    int32_t avoidCount;
    SectorObject* avoidObjects[SA_AVOID_MAX];
    int32_t avoidValues[SA_AVOID_MAX];
    // Objects touched this frame ("SA_GetCollisionObjects").
    int32_t collisionCount;
    SectorObject* collisionObjects[SA_COLLISION_LIST_MAX];
    // Cockpits and turrets from the type record.
    int32_t turretCount;
    TurretSlot* turrets;   // turretCount slots, freed with the ship
    QelVector holdOffset;  // where its tractor beam holds an object, in its own frame
    DockPortTable ports;
};

struct LaserData {  // main type 8
    int32_t amount;
    int16_t slot;      // the gun group it is mounted on
    int16_t position;  // "SA_GetLaserPosition"
    int32_t energy;    // recharge state
    int32_t nextShot;  // game time of its next shot
};

struct ShieldData {  // main type 9
    int32_t amount;
    int32_t energy;
    int32_t rechargeTime;
};

struct MissileData {  // main type 10
    int32_t armed;    // the amount word: 1 at creation
    int32_t word1;
    int32_t launchTime;
    SectorObject* launcher;  // the owner
    SectorObject* target;
    int16_t launchValue;  // the launch's last argument
    int32_t NextThink;
    int32_t steer[3];  // self-steering offsets
    int32_t words[3];
};

struct WareData {    // main types 11..16
    int32_t amount;  // 1 at creation
};

constexpr int32_t SA_GATE_SLOTS = 7;

struct GateData {  // main type 18
    QelList children;
    CarrierWords carrier;
    int32_t slotTime[SA_GATE_SLOTS];            // game time at which the slot frees
    SectorObject* slotOccupant[SA_GATE_SLOTS];  // the ship in the slot, or null
    int32_t words[1];
};

struct CameraData {  // main type 19
    int32_t word0;
    SectorObject* destination;
    int32_t desiredDistance;
    int32_t amount;  // cameras keep the amount here
    int32_t connectMode;
    Inst3D* sceneCamera;     // read through O_CameraSceneInstance: the story may free it
    uint32_t sceneCameraId;  // its id, looked up again at each use
};

struct SpecialData {       // main type 20
    int32_t state;         // 3 when its own cut could not be built
    int32_t videoChannel;  // >0 a video number, -k video list k - 1
    int32_t shownVideo;    // 0 none; negative while being decided
};

struct NebulaData {     // main type 21
    int32_t words[16];  // "SA_SetNebulaProperties"
};

struct DensityData {  // main types 28..31: debris fields and wrecks
    int32_t density;
};

// The size of the object data of a main type; 0 for main types without any.
uint32_t SA_TypeDataSize(int32_t mainType);
// 1 for main types whose object data begins with a child list (1, 5, 6, 7, 18).
int SA_IsContainerType(int32_t mainType);

// Typed views of an object's data: null when the object is of another main
// type or has no data.
QelList* O_GetChildList(SectorObject* object);
SectorData* O_SectorData(SectorObject* object);
ShipData* O_ShipData(SectorObject* object);
DockData* O_DockData(SectorObject* object);  // docks and factories
GateData* O_GateData(SectorObject* object);
BulletData* O_BulletData(SectorObject* object);
MissileData* O_MissileData(SectorObject* object);
CameraData* O_CameraData(SectorObject* object);
SpecialData* O_SpecialData(SectorObject* object);
// A camera's scene camera while the instance still lives, else null; the
// setter keeps it by id as well.
Inst3D* O_CameraSceneInstance(const CameraData* camera);
void O_SetCameraSceneInstance(CameraData* camera, Inst3D* inst);
// The relation words of a ship, dock or factory.
RelationWords* O_RelationWords(SectorObject* object);
// The carrier words of a ship, dock, factory or gate.
CarrierWords* O_CarrierWords(SectorObject* object);
// The dock-port table of a ship, dock or factory.
DockPortTable* O_PortTable(SectorObject* object);
// The sector variant of a sector (main type 1), else null.
SectorSpace* O_Sector(SectorObject* object);

// ---------------------------------------------------------------- the root

// The root's eleven game words.
struct SpaceGameWords {
    int32_t word1;
    SectorObject* playerObject;  // the reference object; its container decides where kill sounds play
    int32_t steering;            // the player's steering word (bit 2 levels the roll, bit 4 holds it)
    int32_t lasersFired;
    int32_t missilesFired;
    int32_t laserHits;          // never above lasersFired after a load
    int32_t missileHits;        // never above missilesFired after a load
    int32_t totalDistance;      // 500,000-unit legs the player's ship has flown
    int32_t distanceRemainder;  // below 500,000
    int32_t takeReplaceBody;    // the substitute body of takes; kept from game to game
    int32_t clientDataFlags;    // "SA_SetClientDataFlags"
};

struct SpaceRoot {
    int32_t started;         // 1 once a story's game starts
    int32_t running;         // gates collisions, behaviours and hangars (not movement)
    QelList objects;         // sectors, and objects not yet placed in a container
    QelTable* ids;           // object ID -> SectorObject*
    QelTable* takes;         // take ID -> take record
    uint16_t answerArrived;  // as in an object, for story functions started for no object
    ScriptValue result;
    SpaceGameWords game;
    int32_t rollAngle;     // the roll the player's ship levels to
    int32_t moduleNumber;  // the engine-call module number (8)
    int32_t inCall;        // 1 while an SA_ engine call is being served
};

// The program's space root; null before start-up made it and after the exit freed it.
extern SpaceRoot* g_SpaceRoot;
