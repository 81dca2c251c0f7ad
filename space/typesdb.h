// The types database: one TypeRecord per subtype of each main type, read
// from the T* types files, and the side tables objects, cockpits and stories
// look up: global parameters, videos and video lists, dummies, special bodies,
// components, matches and ware lists. Loaded once at start-up (and again
// before a save game is read), freed at exit.
//
// Every count in a file is checked against what the rest of the file can
// hold and against the record it fills; a count that cannot be, a kind
// outside its table or a field that does not read ends that file with its
// message. What was read before stays.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "base/vrmfile.h"
#include "space/records.h"

// ---------------------------------------------------------------- type records

constexpr int32_t SA_TYPE_FIELD_COUNT = 877;

// One entry of a type's dock-port list: a dock port of the type's cut.
struct DockPortEntry {
    int32_t path;          // the port's path in the cut
    int32_t approachPath;  // the path of its approach point
    uint32_t flags;        // the dock dummy's ANIMATEDF_ flags
    int32_t dummyBody;     // the dock dummy's body
};

// A type's dock-port list (docks field 28, factories 29, ships 876).
struct DockPortList {
    int32_t count;
    uint32_t mask;  // bit n: ships of class n can dock
    DockPortEntry* entries;
};

// One subtype of a main type: 877 32-bit fields numbered as the types files
// read them, zero where not read. Fields that hold a pointer keep 0 in their
// 32-bit slot; the pointer is the 64-bit member named after the field.
struct TypeRecord {
    int32_t field[SA_TYPE_FIELD_COUNT];
    char* name;               // field 16: the subtype's name, or null when its field was empty
    char* backgroundName;     // field 17 of backgrounds: the nebula name the bodies are built from
    DockPortList* dockPorts;  // field 28 of docks, 29 of factories, 876 of ships
};

// Field numbers. Common to every main type:
constexpr int32_t SA_TF_BODY = 0;
constexpr int32_t SA_TF_SECOND_BODY = 1;  // the component body
constexpr int32_t SA_TF_STEP_Y = 2;       // rotation steps, 16.16
constexpr int32_t SA_TF_STEP_X = 3;
constexpr int32_t SA_TF_STEP_Z = 4;
constexpr int32_t SA_TF_CLASS = 5;  // the type group subtype; the class of ships
constexpr int32_t SA_TF_TEXT_ID = 6;
constexpr int32_t SA_TF_VOLUME = 7;
constexpr int32_t SA_TF_REL_VALUE = 8;
constexpr int32_t SA_TF_PRI_MAX_POWER = 9;
constexpr int32_t SA_TF_SEC_MAX_POWER = 10;
constexpr int32_t SA_TF_TRADE_CLASS = 11;
constexpr int32_t SA_TF_PLAYER_REL_VALUE = 12;
constexpr int32_t SA_TF_MIN_NOTORIETY = 13;  // -1,000,000 below version 25
constexpr int32_t SA_TF_VIDEO_ID = 14;       // 0 below version 33
constexpr int32_t SA_TF_SKIN = 15;           // 0 below version 47
constexpr int32_t SA_TF_NAME = 16;           // the pointer is TypeRecord::name
constexpr int32_t SA_TF_OWN = 17;            // the main type's own fields start here
// Bullets (0).
constexpr int32_t SA_TF_BULLET_SHIELD_DAMAGE = 17;
constexpr int32_t SA_TF_BULLET_HULL_DAMAGE = 18;
constexpr int32_t SA_TF_BULLET_SPEED = 20;
constexpr int32_t SA_TF_BULLET_LIFETIME = 21;    // ms
constexpr int32_t SA_TF_BULLET_FLAGS = 22;       // bit 1 beam, bit 2 own step, 0x40 ammunition ...
constexpr int32_t SA_TF_BULLET_AMMUNITION = 23;  // the ammunition ware's subtype (of main type 16)
constexpr int32_t SA_BULLET_BEAM = 0x2;          // bits of the bullet flags
constexpr int32_t SA_BULLET_OWN_STEP = 0x4;
constexpr int32_t SA_BULLET_AMMUNITION = 0x40;
constexpr int32_t SA_TF_BULLET_SCENE_RESOURCE = 34;
// Backgrounds (2).
constexpr int32_t SA_TF_BG_NAME = 17;  // the pointer is TypeRecord::backgroundName
constexpr int32_t SA_TF_BG_STAR_COUNT = 18;
constexpr int32_t SA_TF_BG_STARS = 19;  // 16 star bodies
constexpr int32_t SA_TF_BG_NEBULA_COUNT = 35;
constexpr int32_t SA_TF_BG_NEBULAS = 36;  // 16 nebula bodies
constexpr int32_t SA_TF_BG_OUTER_COUNT = 52;
constexpr int32_t SA_TF_BG_OUTERS = 53;      // 8 outer-part bodies
constexpr int32_t SA_TF_BG_DUSTS = 61;       // 8 dust-part bodies
constexpr int32_t SA_TF_BG_DUST_RATES = 69;  // 8 dust body rates
constexpr int32_t SA_TF_BG_DUST_COUNT = 77;  // number of dust instances
constexpr int32_t SA_TF_BG_AMBIENT = 78;     // red, green, blue
constexpr int32_t SA_TF_BG_HUE = 81;
constexpr int32_t SA_TF_BG_FOG_NEAR = 82;
constexpr int32_t SA_TF_BG_FOG_FAR = 83;
constexpr int32_t SA_TF_BG_STARDUST_DENSITY = 84;  // 50 below version 24
constexpr int32_t SA_TF_BG_STARDUST_COLOUR = 85;   // red, green, blue; the ambient colour below version 24
constexpr int32_t SA_BG_MAX_STARS = 16;
constexpr int32_t SA_BG_MAX_NEBULAS = 16;
constexpr int32_t SA_BG_MAX_OUTERS = 8;
constexpr int32_t SA_BG_DUSTS = 8;
// Suns (3), gates (18), specials (20), cockpits (25), asteroids (17), debris
// (28) and wrecks (29-31) name their cut first.
constexpr int32_t SA_TF_CUT = 17;
constexpr int32_t SA_TF_ASTEROID_DEBRIS_CUT = 20;  // the debris map cut
constexpr int32_t SA_TF_DEBRIS_LEVELS = 18;        // debris: the level count; wrecks: a word
constexpr int32_t SA_TF_DEBRIS_NEXT_BODY = 19;     // the body that leads to the next debris type
constexpr int32_t SA_TF_DEBRIS_CUT = 20;
constexpr int32_t SA_TF_COCKPIT_VALUE = 18;
// Planets (4).
constexpr int32_t SA_TF_PLANET_COLOUR = 17;  // red, green, blue (0 to 255)
constexpr int32_t SA_TF_PLANET_CUT = 20;
constexpr int32_t SA_TF_PLANET_BODIES = 21;  // 8 bodies, from version 23
constexpr int32_t SA_TF_PLANET_VALUES = 29;  // 8 values beside them
// Docks (5) and factories (6).
constexpr int32_t SA_TF_STATION_SCENE_RESOURCE = 17;
constexpr int32_t SA_TF_STATION_CUT = 21;
constexpr int32_t SA_TF_STATION_SHIELD_POWER = 23;
constexpr int32_t SA_TF_DOCK_ICON = 27;      // 196 below version 41
constexpr int32_t SA_TF_DOCK_PORTS = 28;     // the pointer is TypeRecord::dockPorts
constexpr int32_t SA_TF_FACTORY_SCALE = 27;  // 16.16
constexpr int32_t SA_TF_FACTORY_ICON = 28;   // 198 below version 41
constexpr int32_t SA_TF_FACTORY_PORTS = 29;
// Ships (7).
constexpr int32_t SA_TF_SHIP_SPEED = 17;
constexpr int32_t SA_TF_SHIP_ACCELERATION = 18;
constexpr int32_t SA_TF_SHIP_SCENE_RESOURCE = 19;
constexpr int32_t SA_TF_SHIP_CUT = 26;
constexpr int32_t SA_TF_SHIP_COCKPIT_BODY = 24;
constexpr int32_t SA_TF_SHIP_MAX_SHIELD_TYPE = 25;
constexpr int32_t SA_TF_SHIP_SECOND_CUT = 27;
constexpr int32_t SA_TF_SHIP_MAX_SHIELDS = 28;
constexpr int32_t SA_TF_SHIP_LASER_COUNT = 29;   // the maximum number of lasers
constexpr int32_t SA_TF_SHIP_DAMAGE = 30;        // 10000 below version 37
constexpr int32_t SA_TF_SHIP_31 = 31;            // 16.16; 0.05 below version 37
constexpr int32_t SA_TF_SHIP_MISSILE_MAX = 34;   // the highest allowed missile subtype
constexpr int32_t SA_TF_SHIP_MISSILE_MASK = 35;  // the allowed missile subtypes
constexpr int32_t SA_TF_SHIP_MAX_MISSILES = 32;
constexpr int32_t SA_TF_SHIP_MAX_EXTRA_SPEED = 33;
constexpr int32_t SA_TF_SHIP_MAX_EXTRA_ROT_SPEED = 36;
constexpr int32_t SA_TF_SHIP_TRADE_CONTAINER = 37;
constexpr int32_t SA_TF_SHIP_MAX_TRADE_CONTAINER = 38;
constexpr int32_t SA_TF_SHIP_WARE_LIST = 39;  // the predefined ware list (0: none)
constexpr int32_t SA_TF_SHIP_MAX_TRADE_CLASS = 40;
constexpr int32_t SA_TF_SHIP_41 = 41;  // 0 below version 39
constexpr int32_t SA_TF_SHIP_42 = 42;
constexpr int32_t SA_TF_SHIP_VARIATION = 43;
constexpr int32_t SA_TF_SHIP_SHIELD_POWER = 44;
constexpr int32_t SA_TF_SHIP_MAX_HULL = 45;
// The laser energy pool's maximum and its reload per second.
constexpr int32_t SA_TF_SHIP_LASER_POWER_MAX = 46;
constexpr int32_t SA_TF_SHIP_LASER_POWER_RELOAD = 47;
// The sound the ship's body plays while it is heard (0: the body's own).
constexpr int32_t SA_TF_SHIP_ENGINE_SOUND = 48;
constexpr int32_t SA_TF_SHIP_50 = 50;  // 0 below version 25
constexpr int32_t SA_TF_SHIP_51 = 51;  // 100 below version 27
constexpr int32_t SA_TF_SHIP_COCKPIT_COUNT = 52;
constexpr int32_t SA_TF_SHIP_COCKPITS = 53;  // SA_SHIP_MAX_COCKPITS entries of SA_COCKPIT_WORDS
constexpr int32_t SA_TF_SHIP_TURRET_COUNT = 95;
constexpr int32_t SA_TF_SHIP_TURRETS = 96;  // SA_SHIP_MAX_TURRETS entries of SA_TURRET_WORDS
constexpr int32_t SA_TF_SHIP_PORTS = 876;
constexpr int32_t SA_SHIP_MAX_COCKPITS = 7;
constexpr int32_t SA_COCKPIT_WORDS = 6;      // kind, flag, body, index, turret id, text id
constexpr int32_t SA_COCKPIT_TURRET_ID = 4;  // words of the cockpit entry; the search gives -1 (no turret)
constexpr int32_t SA_COCKPIT_TEXT_ID = 5;    // and 0 (no text)
constexpr int32_t SA_SHIP_MAX_TURRETS = 10;
constexpr int32_t SA_TURRET_WORDS = 78;       // three words, two zero words, laser count, 12 lasers
constexpr int32_t SA_TURRET_FIRST_LASER = 0;  // words of the turret entry: its first laser position,
constexpr int32_t SA_TURRET_TEXT_ID = 1;      // text id,
constexpr int32_t SA_TURRET_LASER_MASK = 2;   // laser mask,
constexpr int32_t SA_TURRET_LASER_COUNT = 5;  // number of lasers
constexpr int32_t SA_TURRET_LASERS = 6;       // first word of the laser entries
constexpr int32_t SA_TURRET_MAX_LASERS = 12;
constexpr int32_t SA_TURRET_LASER_WORDS = 6;  // int, int, body, int, body, int
// Lasers (8): reload time (ms), the energy of one shot, the bullet type.
constexpr int32_t SA_TF_LASER_RELOAD = 17;
constexpr int32_t SA_TF_LASER_ENERGY = 18;
constexpr int32_t SA_TF_LASER_BULLET_TYPE = 19;
constexpr int32_t SA_TF_LASER_RANGE = 21;  // 16.16
constexpr int32_t SA_TF_LASER_ICON = 22;   // 1 below version 43
// Shields (9).
constexpr int32_t SA_TF_SHIELD_MAX_POWER_USED = 17;
constexpr int32_t SA_TF_SHIELD_ENERGY = 18;
constexpr int32_t SA_TF_SHIELD_STRENGTH = 20;  // the efficiency, 16.16
// Missiles (10).
constexpr int32_t SA_TF_MISSILE_SPEED = 17;
constexpr int32_t SA_TF_MISSILE_ACCELERATION = 18;
constexpr int32_t SA_TF_MISSILE_SOUND = 19;           // the launch sound
constexpr int32_t SA_TF_MISSILE_SCENE_RESOURCE = 20;  // reloaded after a new video device
constexpr int32_t SA_TF_MISSILE_FLIGHT_TIME = 21;     // ms; 0: the missile never expires
constexpr int32_t SA_TF_MISSILE_DAMAGE = 22;
constexpr int32_t SA_TF_MISSILE_RADIUS = 23;  // of its area damage
constexpr int32_t SA_TF_MISSILE_FLAGS = 34;   // its guidance; 0 below version 29
constexpr int32_t SA_TF_MISSILE_SPLIT_DELAY =
    35;  // the launch delay: ms before a missile with a cut splits; 500 below version 31
constexpr int32_t SA_TF_MISSILE_ICON = 36;  // 45 below version 43
constexpr int32_t SA_TF_MISSILE_CUT = 37;

// The effects of a type (indices into the effect table) and its sounds.
// Bullets: the impact effect (also played when a bullet with flag 0x100 dies),
// its sound, the muzzle flash, and the trail's effect and particle type.
constexpr int32_t SA_TF_BULLET_IMPACT_EFFECT = 24;
constexpr int32_t SA_TF_BULLET_IMPACT_SOUND = 25;
constexpr int32_t SA_TF_BULLET_WEAPON_EFFECT = 29;
constexpr int32_t SA_TF_BULLET_TRAIL_EFFECT = 30;
constexpr int32_t SA_TF_BULLET_TRAIL_PARTICLES = 31;
constexpr int32_t SA_BULLET_KILL_EFFECT = 0x100;  // a bit of the bullet flags
// Docks and factories.
constexpr int32_t SA_TF_STATION_EXPLOSION_EFFECT = 24;
constexpr int32_t SA_TF_STATION_SECOND_EFFECT = 25;
// Ships: the engine effect and particle type go to each engine point.
constexpr int32_t SA_TF_SHIP_EXPLOSION_EFFECT = 20;
constexpr int32_t SA_TF_SHIP_SECOND_EFFECT = 21;
constexpr int32_t SA_TF_SHIP_ENGINE_EFFECT = 22;
constexpr int32_t SA_TF_SHIP_ENGINE_PARTICLES = 23;
// Missiles (fields 20, 21 and 23 are the scene resource, the flight time and
// the blast radius).
constexpr int32_t SA_TF_MISSILE_EXPLOSION_EFFECT = 28;
constexpr int32_t SA_TF_MISSILE_SECOND_EFFECT = 29;
constexpr int32_t SA_TF_MISSILE_IMPACT_EFFECT = 30;
constexpr int32_t SA_TF_MISSILE_ENGINE_EFFECT = 24;
constexpr int32_t SA_TF_MISSILE_ENGINE_PARTICLES = 25;
constexpr int32_t SA_TF_MISSILE_EXPLOSION_SOUND = 27;
// Asteroids (their debris-map cut, field 20, goes with their destruction effect).
constexpr int32_t SA_TF_ASTEROID_EXPLOSION_EFFECT = 18;
constexpr int32_t SA_TF_ASTEROID_SECOND_EFFECT = 19;

// ---------------------------------------------------------------- side tables

struct GlobalParameter {
    int32_t key;  // 1..84, the "SG_" names
    int32_t value;
};
constexpr int32_t SA_GLOBAL_NAME_COUNT = 84;

// A video of the "Videos" table (the system layer has its own VideoRecord).
struct SA_VideoRecord {
    int32_t validCount;  // how many of the four ids are above 0
    int32_t ids[4];
    int32_t movie;
    int32_t start[3];  // minutes, seconds, milliseconds; moved 141 ms later on load
    int32_t end[3];    // moved 41 ms earlier on load
};

constexpr int32_t SA_DUMMY_KINDS = 5;  // animated, dock, doorway, gun, connection
constexpr int32_t SA_DUMMY_STATE_CUTS = 4;
constexpr int32_t SA_DUMMY_GUN_PARTS = 3;
constexpr int32_t SA_DUMMY_WINDOWS = 5;
struct DummyGunPart {
    int32_t body;
    int32_t flags;  // GUNPARTF_
};
struct DummyWindow {
    int32_t start;
    int32_t end;
};
struct DummyRecord {
    int32_t body;
    int32_t flags;
    int32_t stateCutCount;
    int32_t stateCuts[SA_DUMMY_STATE_CUTS];  // by status
    int32_t gunPartCount;
    DummyGunPart gunParts[SA_DUMMY_GUN_PARTS];
    DummyWindow windows[SA_DUMMY_WINDOWS];  // animated dock ports
};

constexpr int32_t SA_SPECIAL_BODY_KINDS = 13;

constexpr int32_t SA_COMPONENT_KINDS = 3;  // lasers, cockpits, docking positions
struct ComponentEntry {
    int32_t flags;  // bit 0: the direction is valid
    int32_t scan[3];
    QelVector position;
    QelVector direction;
};
struct ComponentRecord {
    int32_t body;
    int16_t count;
    ComponentEntry* entries;
};

struct MatchRecord {
    int32_t flags;  // MATCHF_: bit k-1 makes column k a cut, else a body
    int32_t ids[3];
};

// The whole database. A list block holds its count n, then n words.
struct TypeDatabase {
    TypeRecord* types[SA_MAIN_TYPE_COUNT];
    int32_t counts[SA_MAIN_TYPE_COUNT];
    int32_t versions[SA_MAIN_TYPE_COUNT];  // the version the file had
    GlobalParameter* globals;
    int32_t globalCount;
    SA_VideoRecord* videos;
    int32_t videoCount;
    int32_t** videoLists;
    int32_t videoListCount;
    DummyRecord* dummies[SA_DUMMY_KINDS];
    int32_t dummyCounts[SA_DUMMY_KINDS];
    int32_t* specialBodies[SA_SPECIAL_BODY_KINDS];
    ComponentRecord* components[SA_COMPONENT_KINDS];
    int32_t componentCounts[SA_COMPONENT_KINDS];
    MatchRecord* matches;
    int32_t matchCount;
    int32_t** wareLists;
    int32_t wareListCount;
};
extern TypeDatabase g_TypeDB;

// The records of bullets (main type 0) and lasers (8), with their counts.
inline TypeRecord*& g_BulletTypes = g_TypeDB.types[SA_MT_BULLET];
inline int32_t& g_BulletTypeCount = g_TypeDB.counts[SA_MT_BULLET];
inline TypeRecord*& g_LaserTypes = g_TypeDB.types[SA_MT_LASER];
inline int32_t& g_LaserTypeCount = g_TypeDB.counts[SA_MT_LASER];

// Grows the records of a main type by n zeroed records; the first new one, or
// null when memory runs out (the table as it was).
TypeRecord* SA_AppendTypeRecords(int32_t mainType, int32_t n);
// The record of a main type and subtype, or null.
TypeRecord* SA_GetTypeRecord(int32_t mainType, int32_t subType);
// The record of an object's type, or null.
TypeRecord* O_GetTypeRecord(const SectorObject* object);

// Builds a background's star, nebula, outer-part and dust-part bodies from
// its name S and counts: "environments\nebulae\" S "\nebula_" S, then
// "_stars_", "_background_", "_outside_part" or "_dust_part" and the number
// from 01; bodies past the counts are 0.
void SA_BuildBackgroundBodies(TypeRecord* t);

// Appends a record to the component table of a kind (0 lasers, 1 cockpits,
// 2 docking positions), which owns its entries from then on; 0 when memory
// runs out.
int SA_AppendComponentRecord(int32_t kind, const ComponentRecord& record);
// Empties a dock-port list; appends one entry (0 when memory runs out).
void SA_ClearDockPortList(DockPortList* list);
int SA_AppendDockPortEntry(DockPortList* list, const DockPortEntry& entry);
struct J3D_CutPath;
struct J3D_Note;
// The first note of a cut path whose text is the text, or null.
const J3D_Note* SA_FindCutNote(const J3D_CutPath& path, const char* text);

// ---------------------------------------------------------------- name tables

// {name, value} tables ended by an empty name, as the files name their values.
extern const VRMNameValue g_SAGlobalNames[SA_GLOBAL_NAME_COUNT + 1];
extern const VRMNameValue g_SADummyKinds[];
extern const VRMNameValue g_SADummyFlags[];
extern const VRMNameValue g_SADummyStates[];
extern const VRMNameValue g_SAGunPartFlags[];
extern const VRMNameValue g_SASpecialBodyKinds[];
extern const VRMNameValue g_SAComponentKinds[];
extern const VRMNameValue g_SALaserFlags[];
extern const VRMNameValue g_SAMatchKinds[];
extern const VRMNameValue g_SAMatchFlags[];

// The T* file of a main type ("TShips" ...), null for main types without one.
const char* SA_TypesFileName(int32_t mainType);

// ---------------------------------------------------------------- loading

// Reads every types file in its order; 1, or 0 when one of Globals, Videos,
// VideoLists, Dummies, Bodies, Matches or WareLists cannot be opened (the
// tables read before stay).
int SA_LoadObjectDB(SpaceRoot* root);
// Frees every table; counts and pointers return to 0.
void SA_FreeObjectDB();
// At exit: deletes every object of the root's list, clears its player object,
// empties and frees its ID and take tables, frees the database and releases
// the root's script value.
void SA_ResetObjectDB(SpaceRoot* root);
// Writes the background table back as "TBackgrounds" in the version it was
// read with (25 at least) and every field that version carries; 1, or 0 when
// the file cannot be created.
int SA_SaveBackgroundTypes();
