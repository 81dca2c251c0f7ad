// Explosions and the frame pass of the effects: short-lived instances that
// wait, grow, move, shrink or loop their cut animations and then disappear;
// the destruction effect of a killed object, played on a carrier object; the
// propagating explosions that run over a hull; and EO_MoveExplObjects, which
// each frame steps the explosions, plays every object effect, ends the
// effects whose parts are all gone and feeds the particle emitters.
#pragma once

#include <cstdint>

#include "base/fixmath.h"

struct Inst3D;
struct Scene3D;
struct SectorObject;

// Explosion states and flags.
constexpr int32_t EXPLSTATE_WAIT = 1;
constexpr int32_t EXPLSTATE_RUN = 2;
constexpr int32_t EXPLSTATE_LOOP = 3;
constexpr uint32_t EXPLF_SIZE = 0x1;
constexpr uint32_t EXPLF_SPAWNED = 0x2;
constexpr uint32_t EXPLF_SCENE = 0x4;

struct ExplosionObject {
    ExplosionObject* next;
    ExplosionObject* prev;
    int32_t startTime;
    int32_t endTime;
    Inst3D* instance;  // owned; read through EO_ExplosionInstance
    uint32_t instanceId;
    int32_t state;
    uint32_t flags;
    int32_t startSize;  // 16.16
    int32_t endSize;
    int32_t removed;  // freed during the walk: swept when it ends
};

// Main type of the carrier objects that play destruction effects.
constexpr int16_t EO_CARRIER_MAIN_TYPE = 27;

ExplosionObject* EO_FirstExplosion();
// A new entry at the tail for the instance, which it then owns; null when out of memory.
ExplosionObject* EO_AddExplosion(Inst3D* instance, int32_t startTime, int32_t endTime, int32_t state, uint32_t flags);
// The entry's instance while it still lives, else null.
Inst3D* EO_ExplosionInstance(ExplosionObject* entry);
// Frees the entry with its instance (marked only while the pass walks the list).
void EO_FreeExplosion(ExplosionObject* entry);
// Frees every explosion with its instance, then every particle emitter.
void EO_FreeExplosions();
// Frees the explosions whose instance lies in the scene.
void EO_RemoveExplosionReferences(Scene3D* scene);

void EO_MoveExplObjects();
int EO_ObjectDestroyedEffect(SectorObject* object, SectorObject* killer, int32_t value);
int32_t EO_PropagateEffect(SectorObject* object, int32_t kind, int32_t effectIndex, const QelVector* position);

// The frame's random value (0..999 x 1,000,000), drawn at the start of each pass.
extern int32_t g_EOFrameRandom;
