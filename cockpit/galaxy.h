// The galaxy's gate grid: six gate slots per sector, the routes between
// sectors found by a search over the gate links and cached per target sector,
// the "GS_" engine calls (module 7) and the "GALA" save section.
#pragma once

#include <cstdint>

// The program's grid; other grids (tests, benchmarks) may have any size up to
// GS_MAX_SIDE rows and columns.
constexpr int32_t GS_ROWS = 24;
constexpr int32_t GS_COLUMNS = 20;
constexpr int32_t GS_MAX_SIDE = 127;
constexpr int32_t GS_GATES = 6;
// Story positions are stored divided by this.
constexpr int32_t GS_POSITION_SCALE = 500000;

// Route words: bits 12-15 the gate to leave by, bits 0-11 the gate jumps.
constexpr uint16_t GS_ROUTE_SAME = 0;
constexpr uint16_t GS_ROUTE_UNREACHABLE = 0x0FFF;
constexpr uint16_t GS_DISTANCE_UNREACHABLE = 32767;
// The longest distance a route keeps; longer ones are stored as this.
constexpr uint16_t GS_DISTANCE_LIMIT = 32766;

struct GateSlot {
    int8_t targetRow;  // -1 when empty
    int8_t targetColumn;
    int16_t targetGate;   // -1 when empty; the slot is used when it is 0 or more
    int32_t position[4];  // x, y, z as stored (divided) and a fourth word
};

// The search's scratch is meaningful only during and right after a search.
struct GalaxySector {
    GateSlot gates[GS_GATES];
    // The legs inside the sector, kept with its gates: from gate i to gate j,
    // and on the diagonal from gate i to the centre.
    uint32_t legs[GS_GATES][GS_GATES];
    uint32_t cost;        // 0xFFFFFFFF while unreached
    uint16_t jumps;       // the route's gate jumps
    int16_t exitGate;     // the gate to leave by; -1 for the target
    int32_t queueLink;    // the next sector in the search queue; -1 none
    int32_t nextSector;   // the sector the exit gate leads into
    int16_t arrivalGate;  // ... and the gate of it a ship arrives at
    uint8_t routeState;   // how following the exits ends (galaxy.cpp)
    uint32_t rest;        // the route's length from leaving this sector to the target's centre
};

struct RouteEntry {
    uint16_t route;     // route word (see above)
    uint16_t distance;  // length from the from-sector's centre to the target's
};

// One record; its sectors and route cache are the module's own blocks
// (GS_AllocGalaxy, GS_FreeGalaxy).
struct GalaxyGrid {
    int32_t moduleNumber;
    int32_t searchHead;  // sector indices while a search runs
    int32_t queueTail;
    int32_t rows;
    int32_t columns;
    GalaxySector* sectors;  // row × columns + column
    // Per target sector the entries of every from-sector, made by the first
    // question about that target; null when not computed.
    RouteEntry** routeColumns;
    int32_t* walk;  // scratch of the route check, one entry per sector
};

// The program's galaxy grid; null before start-up and after the exit.
extern GalaxyGrid* g_GalaxyGrid;

// Makes the sectors and the route cache of a zeroed record and clears them;
// 1, or 0 after a log line when memory is short or the size is out of range.
int GS_AllocGalaxy(GalaxyGrid* grid, int32_t rows, int32_t columns);
// Frees what GS_AllocGalaxy made (the record stays its owner's).
void GS_FreeGalaxy(GalaxyGrid* grid);

// The program's grid (GS_ROWS × GS_COLUMNS), registered as the "GS_" module;
// the grid, or null when its memory cannot be had.
GalaxyGrid* GS_Init(GalaxyGrid* grid);
// Every gate slot empty and no route computed.
void GS_ClearGalaxy(GalaxyGrid* grid);
void GS_ResetRouteCache(GalaxyGrid* grid);

struct QelFile;
// The "GALA" ... "/GAL" section of the program's grid; 1 done, 0 failed (a
// failed load changes nothing).
int GS_SaveGame(QelFile* file);
int GS_LoadGame(QelFile* file);

// For gate 0..5 of a sector in the grid writes the slot's target row, column
// and gate and answers 1 when the slot is used, else 0; anything else answers
// 0 and writes nothing.
int GS_GetGate(const GalaxyGrid* grid, int32_t gate, int32_t row, int32_t column, int32_t* toRow, int32_t* toColumn,
               int32_t* toGate);

// The engine calls on a grid. Routes: the gate to leave by (-1 for the same
// sector), the distance and the jumps; -2 when the target cannot be reached
// or a sector lies outside the grid.
int32_t GS_Route(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn);
int32_t GS_RouteDist(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn);
int32_t GS_RouteLen(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn);
// Position in story units (x, y, z); both answer 0.
int32_t GS_AddGate(GalaxyGrid* grid, int32_t row, int32_t column, int32_t gate, int32_t toRow, int32_t toColumn,
                   int32_t toGate, const int32_t position[3]);
int32_t GS_RemoveGate(GalaxyGrid* grid, int32_t row, int32_t column, int32_t gate);

// The module's call names (index = call number) and its handler, which works
// on g_GalaxyGrid.
struct SE_Task;
struct ScriptValue;
const char* const* GS_GetCallNames();
int32_t GS_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
