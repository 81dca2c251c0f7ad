// How objects leave play: the kill (killed flag, destruction effects and
// sound, a missile's area damage, the unlink), the unlink that removes every
// reference to an object, the free of everything an object owns, and the
// passes over objects during which story code cannot free what a pass holds.
#pragma once

#include <cstdint>

#include "space/records.h"

// A pass over objects: the frame's space update, the deletion of killed
// objects, a kill, an unlink, a free, a move into a container. While one is
// open, a free asked for by story code (through "SA_FreeObject") kills the
// object quietly and queues it; the queue is freed when the outermost pass
// ends. Passes nest.
class SA_Pass {
public:
    SA_Pass();
    ~SA_Pass();
    SA_Pass(const SA_Pass&) = delete;
    SA_Pass& operator=(const SA_Pass&) = delete;
};
// 1 while a pass is open.
int SA_InPass();
// Frees the object at once outside a pass (O_DeleteSectorObject); inside one,
// kills it quietly (killed flag and unlink, no effect) and queues it.
void O_FreeOrQueue(SectorObject* object);

// Kills an object: kind is the cause (0 plain, 2 bullet, 5 missile; 14 and
// 16..21 are quiet removals), killer may be null. A second kill is logged and
// changes nothing. The object is freed later, with its sector's killed children.
void SS_KillObject(SectorObject* object, int16_t kind, SectorObject* killer, int32_t extra);
// The area damage of an exploding bomb in a sector: every child but the
// excluded one and those with flag 0x400 inside the radius takes damage by
// distance, and is killed (or told "KilledBy") when its hull is gone.
void O_KillObjectEvents(SectorObject* sector, SectorObject* bomb, int32_t damage, int32_t radius,
                        SectorObject* excluded);
// Detonates the ship's remote-detonation missiles in its container; 1 when it found one.
int O_RemoteDetonateMissile(SectorObject* ship);
// Removes every reference to the object: from every other object (dependants
// get "SelfDestruct" 19 or are killed in turn), the cockpits, the takes, a
// ship's laser slot and the effects. Mode 1 when the object only leaves a
// sector, 0 on a kill or free.
void O_UnlinkObject(SectorObject* object, int mode);
// The end of an object that depends on another: with an event object it
// runs "SelfDestruct" with the reason, else it is killed and unlinked (once).
constexpr int32_t SA_SELF_DESTRUCT_DEPENDANT = 19;  // what it depended on went
constexpr int32_t SA_SELF_DESTRUCT_EMPTIED = 20;    // a debris field with no smaller form left
void O_SelfDestructOrKill(SectorObject* object, int32_t reason);
// The kill-sound test, also for launch sounds: the object is in a sector that
// plays sounds everywhere, or the player's object is none or in that sector.
int O_KillSoundPlays(const SectorObject* object);
// Starts the story function "CreateWreck" / "CreateDebris" of a story object.
void O_CreateWreck(uint32_t eventObject);
void O_CreateDebris(uint32_t eventObject);

// The damage an object takes from an attacker (kind -1 for area damage); the
// combat code fills it. Nothing until then.
using SA_DamageFn = void (*)(SectorObject* object, SectorObject* attacker, int32_t amount, int32_t kind);
extern SA_DamageFn g_SADamageObject;
void O_DamageObject(SectorObject* object, SectorObject* attacker, int32_t amount, int32_t kind);

// Starts a story function of a story object with integer arguments, as the
// space module (caller 0, integer result).
void SA_RunStory(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args);
