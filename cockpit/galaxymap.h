// The galaxy map: the gate grid shown as a 3D scene, one body per sector and
// one connection body per drawn gate, laid out by the keyed paths of a layout
// cut, coloured by states the story supplies, with the sector names the
// story writes at their projected screen positions.
#pragma once

#include <cstdint>

struct Scene3D;

// The layout cut and the six sector bodies, by name; a connection uses body 551.
inline constexpr const char* ID_GALAXY_MAP_CUT = "effects\\menugfx\\galaxy_map";
inline constexpr const char* ID_SECTOR_BODY_FORMAT = "effects\\menugfx\\galaxy_map_sector_%d";
constexpr int32_t ID_SECTOR_BODIES = 6;
constexpr int32_t ID_CONNECTION_BODY = 551;
// Gate slots 0 to 3 are drawn; 4 and 5 never are.
constexpr int32_t ID_DRAWN_GATES = 4;

// The path keys of a sector and of the connection from it toward a neighbour.
constexpr int32_t ID_SectorKey(int32_t row, int32_t column) { return 100 * row + 101 + column; }
constexpr int32_t ID_ConnectionKey(int32_t row, int32_t column, int32_t dRow, int32_t dColumn) {
    return (row + 1) * 1000000 + (column + 1) * 10000 + (row + dRow + 1) * 100 + (column + dColumn + 1);
}

// Builds the map into the scene when it is not built (or its scene went),
// places the map camera between sectors A and B, refreshes the sector bodies
// and asks the story to write the names. `values`: row A, column A, row B,
// column B, distance, zoom. 1, or 0 when the layout cut cannot be had.
int32_t ID_BuildGalaxyMap(Scene3D* scene, const int32_t values[6]);
// Frees the map's instances so that the next build starts again; nothing
// when no map was built in the scene.
void ID_ClearGalaxyMap(Scene3D* scene);
// The sector whose body lies under the map point (screen pixels, 0 at the
// viewport's centre, y down, as the names are written): out = column, row;
// 1 on a hit, 0 when none or no map is built in the scene.
int32_t ID_GalaxyMapFindSector(Scene3D* scene, int32_t x, int32_t y, int32_t out[2]);
// Whether a map is built (for tests and the fuzz target).
bool ID_GalaxyMapBuilt();
