// The space dust: a scene of small particles and larger drifting bodies,
// drawn through a cockpit's dust camera, which follows the sector camera and
// repeats every 8.0 units, so the dust seems to fill all of space.
#pragma once

#include <cstdint>

struct Scene3D;
struct Camera3D;
struct SectorObject;

constexpr int32_t INS_DUST_PARTICLES = 512;
// Particles are marked apart from the larger bodies; the light carries the
// same bits but is neither.
constexpr uint32_t INS_DUST_PARTICLE_FLAGS = 0x4004000;
constexpr uint32_t INS_DUST_LIGHT_FLAGS = 0x4404000;
// A larger body that is to take a new body at the next update.
constexpr uint32_t INS_DUST_REBODY = 0x40000;
// The dust repeats every 8.0 units.
constexpr int32_t INS_DUST_SPAN = 0x80000;

// Adds the dust light and the particles (made with the cockpit system's dust
// body) to the scene; a failed allocation skips that one.
void INS_InitDustScene(Scene3D* scene);
// Adapts the dust camera's scene to the sector's background (colour, larger
// bodies, the share of particles shown) and moves the dust camera with the
// sector camera. Nothing when any of the three is missing or the object is
// not a sector.
void INS_UpdateDustScene(SectorObject* sector, Camera3D* dust, Camera3D* sectorCamera);
