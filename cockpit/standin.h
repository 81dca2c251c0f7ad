// STAND-IN for the cockpit and galaxy map (GS_, INS_, EO_, STS_) until its
// modules come: it registers the galaxy module (7) and the cockpit module (10)
// in start-up order, answers the calls the program's start-up, game loop and
// exit make, and records each one (program/standin_calls.h).
#pragma once

#include <cstdint>

struct QelTable;

// The galaxy grid: a zeroed record that the program allocates.
struct GalaxyGrid {
    int32_t moduleNumber;
};
// The program's galaxy grid; null before start-up and after the exit.
extern GalaxyGrid* g_GalaxyGrid;

void GS_Init(GalaxyGrid* grid);
void GS_ClearGalaxy(GalaxyGrid* grid);

struct Cockpit {
    uint32_t flags;  // 0x4: the second object is steered
    int32_t objectIds[2];
};
// The cockpit system: a zeroed record that the program allocates per run.
struct CockpitSystem {
    QelTable* cockpits;     // cockpit id -> Cockpit*
    int32_t activeControl;  // id of the active control cockpit
};
// The global cockpit system of the running story; null between runs.
extern CockpitSystem* g_CockpitSystem;

CockpitSystem* INS_CreateCockpitSystem(CockpitSystem* block);
void INS_ClearAllCockpits(CockpitSystem* system);
void INS_RegisterSysCalls();
void INS_UpdateAllCockpits();

void EO_Init();
void EO_MoveExplObjects();
void EO_FreeExplosions();
void EO_FreeEffects();

// Steers the player's object from this frame's input.
void STS_Set(int32_t objectId, int flag);
