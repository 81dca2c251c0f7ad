// STAND-IN for the space simulation (SA_) until its modules come: it registers
// its engine-call module in start-up order (module 8), answers the calls the
// program's start-up, game loop and exit make, and records each one
// (program/standin_calls.h).
#pragma once

#include <cstdint>

// Main types of objects in space.
constexpr int32_t SA_MAIN_TYPE_SECTOR = 1;

// An object in space.
struct SectorObject {
    SectorObject* next;
    int32_t mainType;
};

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
