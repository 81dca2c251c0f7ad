// Effects: the "effects" types file read into the effect table, effects
// bound to space objects (engine flames, impacts, weapon flashes, the
// destruction effects played on carrier objects), the particle emitters of
// engine trails, and the impact and explosion sounds of objects.
//
// Lifetimes: an ObjectEffect and an emitter are freed in one place each
// (EO_FreeEffectEntry, EO_FreeEmitter), which also frees the instances and the
// particle system they own. Entries hold their object and push object as
// pointers that the object's unlink clears (EO_RemoveObjectReferences); the
// instances they own are kept with their ids and looked up again before use,
// so an instance freed behind their back (a scene freed whole) is never
// touched.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "base/vrmfile.h"

struct Inst3D;
struct Scene3D;
struct SectorObject;
struct ParticleGenerator;

// ---------------------------------------------------------------- the table

constexpr int32_t EO_EFFECT_COUNT = 1000;
// The most parts one effect may have; a larger count in the file ends loading.
constexpr int32_t EO_MAX_PARTS = 1024;
// The effects used when a type names none.
constexpr int32_t EO_DEFAULT_DESTRUCTION = 48;
constexpr int32_t EO_DEFAULT_SECOND = 36;

// Effect flags.
constexpr uint32_t EDF_NONE = 0;
constexpr uint32_t EDF_BREAKUP = 0x1;
constexpr uint32_t EDF_PROPAGATE = 0x2;
constexpr uint32_t EDF_REINIT = 0x4;
constexpr uint32_t EDF_NOROTATE = 0x8;
constexpr uint32_t EDF_NODRIFT = 0x10;
constexpr uint32_t EDF_HIDEOBJECT = 0x20;

// Part flags.
constexpr uint32_t EEDF_NONE = 0;
constexpr uint32_t EEDF_SPEEDDEPENDENT = 0x1;
constexpr uint32_t EEDF_RELATIVESIZE = 0x2;
constexpr uint32_t EEDF_LENSFLARE = 0x4;
constexpr uint32_t EEDF_GROWANDSHRINK = 0x8;
constexpr uint32_t EEDF_TIMEOUT = 0x10;
constexpr uint32_t EEDF_CUT = 0x20;
constexpr uint32_t EEDF_CAMERARELATIVE = 0x40;
constexpr uint32_t EEDF_LIGHT = 0x80;
constexpr uint32_t EEDF_GROW = 0x100;
constexpr uint32_t EEDF_RANDOMROT = 0x200;
constexpr uint32_t EEDF_FADEOUT = 0x400;
constexpr uint32_t EEDF_FADEOUTBODY = 0x800;
constexpr uint32_t EEDF_BULLETROT = 0x1000;
constexpr uint32_t EEDF_BREAKUP = 0x2000;
constexpr uint32_t EEDF_PROPAGATE = 0x4000;
constexpr uint32_t EEDF_RANDOMSIZE = 0x8000;
constexpr uint32_t EEDF_PARTICLEGENERATOR = 0x10000;
constexpr uint32_t EEDF_DISTANT = 0x20000;
constexpr uint32_t EEDF_DEBRIS = 0x40000;
constexpr uint32_t EEDF_HULLDAMAGE = 0x80000;
constexpr uint32_t EEDF_WAVE = 0x100000;
constexpr uint32_t EEDF_NOREINIT = 0x200000;
constexpr uint32_t EEDF_CUTACTUALSIZE = 0x400000;
constexpr uint32_t EEDF_CUTKEEPBODY = 0x800000;
constexpr uint32_t EEDF_NOZTEST = 0x1000000;
constexpr uint32_t EEDF_NOSKIP = 0x2000000;
constexpr uint32_t EEDF_WRECK = 0x4000000;
constexpr uint32_t EEDF_DEBRISMAP = 0x8000000;
constexpr uint32_t EEDF_PUSH = 0x10000000;

// Instance flags a part gives its instances.
constexpr uint32_t I3DF_2D = 0x4000;
constexpr uint32_t I3DF_HASLENSFLARE = 0x20000000;

// The name tables of the file (ended by an empty name).
extern const VRMNameValue g_EOEffectFlagNames[];
extern const VRMNameValue g_EOPartFlagNames[];
extern const VRMNameValue g_EOInstanceFlagNames[];

// One part of an effect, in the file's order of its fields.
struct EffectPart {
    int32_t body;  // body id, cut id (EEDF_CUT) or light type (EEDF_LIGHT); -1 none
    uint32_t instanceFlags;
    int32_t minSize;      // 16.16
    int32_t maxSize;      // 16.16
    int32_t length;       // ms: growing, fading and the time-out
    int32_t jitter;       // 16.16, below 1.0
    int32_t offset[3];    // 16.16 factors of the object's size with EEDF_RELATIVESIZE, else units
    int32_t value1;       // particle type, lens-flare id
    int32_t value2;       // the second lens-flare value
    int32_t speedFactor;  // 16.16
    uint32_t flags;       // EEDF_
    int32_t start;        // ms after the entry's start
    // With EEDF_PROPAGATE.
    int32_t propEffect;  // the effect spawned
    int32_t propMinBursts;
    int32_t propMaxBursts;
    int32_t propFirstDelay;   // ms
    int32_t propLastDelay;    // ms
    int32_t propPoints;       // points per burst
    int32_t propRandomDelay;  // ms
    int32_t propSpacing;      // 16.16 of the object's radius
};

struct EffectEntry {
    int32_t partCount;  // 0: no such effect
    uint32_t flags;     // EDF_
    int32_t value;
    int32_t scale;  // 16.16
    EffectPart* parts;
};

struct EffectTable {
    EffectEntry entries[EO_EFFECT_COUNT];
};
extern EffectTable g_EffectTable;

// The entry of an index, or null outside 0..999 (a type's field may hold anything).
EffectEntry* EO_GetEffect(int32_t index);

// Reads "effects" into the table (emptied first): 0 when the file cannot be
// opened, else 1 (a damaged file keeps the effects read before the damage).
int B3D_LoadEffects();
// Frees every effect entry, then loads the file and makes the emitter list new.
// 1 when the file loaded, 0 (with its log line) when it did not.
int EO_Init();
// Frees the object effects, the parts of all entries and the emitters.
void EO_FreeEffects();

// ---------------------------------------------------------------- lookups

int32_t EO_GetDestructionEffect(int32_t subType, int32_t mainType, uint32_t flag);
int32_t EO_GetSecondEffect(int32_t subType, int32_t mainType, uint32_t flag);
// Whether the destruction effect has a part with EEDF_DEBRIS or EEDF_DEBRISMAP (A)
// or with EEDF_WRECK (B).
int EO_EffectHasFlaggedPartA(int32_t subType, int32_t mainType);
int EO_EffectHasFlaggedPartB(int32_t subType, int32_t mainType);

// ---------------------------------------------------------------- object effects

struct ObjectEffect;

// The player's state of one part.
struct EffectPartSlot {
    ObjectEffect* owner;
    uint32_t flags;
    Inst3D* instance;      // read through EO_SlotInstance
    uint32_t instanceId;   // the id the instance had when it was made
    int32_t state;         // 0 not started, 1 started, 2 removed
    int32_t randomOffset;  // 16.16, drawn when the part starts
};

// Slot states.
constexpr int32_t EO_SLOT_WAITING = 0;
constexpr int32_t EO_SLOT_STARTED = 1;
constexpr int32_t EO_SLOT_REMOVED = 2;

// Kinds of object effects.
constexpr int32_t EO_KIND_ENGINE = 0;
constexpr int32_t EO_KIND_DESTRUCTION = 1;
constexpr int32_t EO_KIND_IMPACT = 3;
constexpr int32_t EO_KIND_WEAPON = 4;
constexpr int32_t EO_KIND_PIECE = 5;

struct ObjectEffect {
    ObjectEffect* next;
    ObjectEffect* prev;
    EffectEntry* effect;
    EffectPartSlot* slots;  // effect->partCount slots, or null
    int32_t slotCount;
    SectorObject* object;      // cleared when the object is unlinked
    SectorObject* pushObject;  // cleared when that object is unlinked
    int32_t callerWord1;       // the story object of "CreateWreck" and "CreateDebris"
    int32_t callerWord2;       // the cut an EEDF_DEBRISMAP part plays
    int32_t kind;
    int32_t slot;
    int32_t startTime;   // game ms
    QelVector position;  // relative to the object
    QelMatrix orientation;
    QelMatrix orientation2;
    int32_t state;    // the slot (301..310) of a particle generator's emitter, 0 none
    int32_t removed;  // freed during a walk: swept when the walk ends
};

// The list of entries, in order of creation.
ObjectEffect* EO_FirstEffect();

// The part's instance while it still lives, else null (the slot forgets it).
Inst3D* EO_SlotInstance(EffectPartSlot* slot);
// Frees the part's instance (when it still lives) and forgets it.
void EO_SlotFreeInstance(EffectPartSlot* slot);

ObjectEffect* EO_AddObjectEffect(int32_t kind, int32_t slot, int32_t effectIndex, SectorObject* object,
                                 SectorObject* pushObject, int32_t word1, int32_t word2, const QelVector* position,
                                 int32_t delay, const QelMatrix* orientation);
ObjectEffect* EO_AttachEffect(int32_t slot, int32_t kind, int32_t effectIndex, SectorObject* object,
                              const QelVector* position, const QelMatrix* orientation);
int EO_AttachEffectChecked(int32_t slot, int32_t kind, int32_t effectIndex, SectorObject* object,
                           const QelVector* position, const QelMatrix* orientation);
int EO_AddWeaponEffect(int32_t bulletSubType, const QelMatrix* orientation, SectorObject* object, int32_t slot,
                       const QelVector* position);
int EO_StartObjectEffect(SectorObject* object);
int EO_CollisionEffect(SectorObject* a, SectorObject* b);
int EO_SpawnEffectInstance(Scene3D* scene, int32_t bodyId, const QelVector* position, int32_t size);

// Frees an entry: its part instances, its slots and the record; during the
// frame pass's walk it is only marked and emptied, and the walk frees it.
void EO_FreeEffectEntry(ObjectEffect* entry);
// Clears the push object of entries that name the object, frees its entries
// and its emitters.
void EO_RemoveObjectReferences(SectorObject* object);
// Frees every object effect (effects are never saved).
void EO_FreeObjectEffects();

// The walk of the frame pass: while it runs, freed entries are marked and
// swept when it ends.
void EO_BeginEffectWalk();
void EO_EndEffectWalk();

// ---------------------------------------------------------------- emitters

struct ParticleEmitter {
    ParticleEmitter* next;
    ParticleEmitter* prev;
    SectorObject* owner;
    int32_t slot;
    ParticleGenerator* generator;  // read through EO_EmitterGenerator
    uint32_t generatorId;
    int32_t particleType;
};

ParticleEmitter* EO_FirstEmitter();
// The emitter's particle system while the scene engine still has it.
ParticleGenerator* EO_EmitterGenerator(ParticleEmitter* emitter);
ParticleEmitter* EO_AddParticleEmitter(int32_t slot, int32_t particleType, SectorObject* object,
                                       const QelVector* position);
// Unlinks the emitter, frees its particle system and the record.
void EO_FreeEmitter(ParticleEmitter* emitter);
void EO_FreeEmitters();

// Option bits of the SystemState that allow engine effects and trails.
constexpr uint32_t EO_OPTION_ENGINE_PARTICLES = 0x40000000;  // VideoD3DFlags
constexpr uint32_t EO_OPTION_BULLET_TRAILS = 0x2;            // VideoD3DFlags2
int EO_ParticlesEnabled();

// ---------------------------------------------------------------- sounds

// The game sound as the effects use it; the program's start-up points it at
// SFX_PlaySound3D and SFX_FindSample. Without it nothing plays.
struct EOSoundLink {
    int (*play3D)(int32_t callerModule, int32_t handle, int32_t effectId, Inst3D* instance);
    int (*findSample)(int32_t sampleId);
};
extern EOSoundLink g_EOSoundLink;

void EO_PlayCollisionSound(SectorObject* a, SectorObject* b);
void EO_PlayExplosionSound(SectorObject* object);

// ---------------------------------------------------------------- helpers

// Game time now; a time plus a delay, wrapped into 0..32,399,999.
int32_t EO_Now();
int32_t EO_TimeAdd(int32_t time, int32_t delay);
// Whether the object's instance is placed (in a scene).
int EO_InstancePlaced(const SectorObject* object);
// Whether the object still lives under the ID it had (story code called from
// the effects may have freed or killed it).
int EO_ObjectAlive(const SectorObject* object, uint32_t id);
// Whether the instance's path job runs.
int EO_JobRuns(const Inst3D* inst);

// The doubly linked lists of the effects (entries, emitters, explosions).
template <typename T>
void EO_ListAppend(T** first, T** last, T* node) {
    node->prev = *last;
    node->next = nullptr;
    (*last ? (*last)->next : *first) = node;
    *last = node;
}
template <typename T>
void EO_ListUnlink(T** first, T** last, T* node) {
    (node->prev ? node->prev->next : *first) = node->next;
    (node->next ? node->next->prev : *last) = node->prev;
    node->next = node->prev = nullptr;
}
