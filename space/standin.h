// STANDIN: the space simulation (SA_): registers its engine-call module in
// start-up order (module 8), answers the calls the program's start-up, game
// loop and exit make, and records each one; its save section is the section's
// two cookies around one word, checked on reading (StandIn_SetFailure with
// "SA_SaveSectors" or "SA_LoadSectors" makes it fail); and it holds the fields of objects
// and type records that the shared helpers read (space/helpers.h).
#pragma once

#include <cstdint>

struct Inst3D;

// Main types of objects in space.
constexpr int32_t SA_MAIN_TYPE_SECTOR = 1;

// An object in space.
struct SectorObject {
    SectorObject* next;
    int16_t mainType;
    int16_t subType;
    Inst3D* instance;  // its position is the instance's
};

// The fields of a type record the shared helpers read: of a laser type the
// index of its bullet type; of a bullet type its speed, lifetime (ms),
// subtype and flags.
struct TypeRecord {
    int32_t bulletType;
    int32_t speed;
    int32_t lifetime;
    int32_t subType;
    uint8_t flags;  // 0x40: the bullet uses ammunition
};
constexpr uint8_t TYPE_FLAG_AMMUNITION = 0x40;

// The type records of main type 0 (bullets) and 8 (lasers), with their
// counts; null and 0 until the types are loaded.
extern TypeRecord* g_BulletTypes;
extern int32_t g_BulletTypeCount;
extern TypeRecord* g_LaserTypes;
extern int32_t g_LaserTypeCount;

// The space root: a zeroed record that the program allocates.
struct SpaceRoot {
    int32_t firstWord;
    int32_t running;          // 1 while a run goes
    SectorObject* objects;    // the object list
    SectorObject* reference;  // the reference object
    int32_t perRun[9];        // cleared at the start of every run
    int32_t moduleNumber;
};

// The program's space root; null before start-up made it and after the exit freed it.
extern SpaceRoot* g_SpaceRoot;

void SA_Init(SpaceRoot* root);
int SA_LoadObjectDB(SpaceRoot* root);
void SA_UpdateSpace();
void O_DeleteKilledChildren(SectorObject* container);
void SA_FreeAllObjects(SpaceRoot* root);
void SA_ResetObjectDB(SpaceRoot* root);
// Re-fits every object's and every sector's view data to the screen views
// (after the video mode was reopened).
void SA_RefitViews(SpaceRoot* root);
struct QelFile;
// The "SECT" ... "/SEC" section of save games; 1 done, 0 failed.
int SA_SaveSectors(QelFile* file);
int SA_LoadSectors(QelFile* file);

// The subtype index of a name or a number for a main type: a text that starts
// with a digit or a sign is read as its number; a name is looked up among the
// names given with SA_SetSubTypeNames. -1 when there is none.
int32_t SA_GetSubTypeByName(int32_t mainType, const char* text);
// The stand-in's types database: the subtype names of a main type, in index
// order, ended by a null entry (null clears them). The table must outlive its use.
void SA_SetSubTypeNames(int32_t mainType, const char* const* names);
