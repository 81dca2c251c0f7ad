// Particles: generators emit them along the path they travelled since their
// previous step, one particle size apart; every live particle then moves,
// turns, fades and ages once per frame. The renderer writes the live ones
// into each scene's particle buffer.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/records.h"

// Emits what the generator's emitters owe up to time (game ms) and answers the
// number of particles made; afterwards the generator's previous position,
// velocity, orientation and time are the given ones.
int32_t B3D_ParticleSpawn(ParticleGenerator* generator, const QelVector* position, const QelQuat* orientation,
                          const QelVector* velocity, int32_t speed, int32_t extraSpeed, int32_t time);
// Moves, turns and fades every live particle to the game clock and frees the
// ended ones; answers the number of particles visited.
int32_t B3D_ParticlesUpdate();

// Particle systems: a record from pool I with one emitter state per emitter of
// its description, in the state's generator list and id table. Null when out
// of memory or ids.
ParticleGenerator* B3D_ParticleGeneratorAlloc();
// Gives the system a description (0..99; any other number leaves it without
// emitters) and new emitter states timed from the game clock.
void B3D_ParticleGeneratorSetDesc(ParticleGenerator* generator, int32_t desc);
// Out of the list and the table, emitter states and record freed.
void B3D_ParticleGeneratorFree(ParticleGenerator* generator);
// The live system of an id, or null.
ParticleGenerator* B3D_ParticleGeneratorFind(uint32_t id);
