// The effect player: plays one object effect for the current game time. It
// starts the parts whose time has come (bodies, cut animations, lights, lens
// flares, particle generators), places, sizes, colours and fades them,
// ends parts whose time is over, turns finished cut parts into wrecks and
// debris through the story, breaks hulls up into flying pieces and pushes
// ships away from a blast.
#pragma once

#include <cstdint>

struct ObjectEffect;
struct SectorObject;

// 1 when a break-up part broke the push object up during this call, else 0.
int EO_RunObjectEffect(ObjectEffect* entry);
// Breaks the object into one carrier per piece of its body; 1 when it did
// (the object is then killed and unlinked).
int EO_BreakUpObject(SectorObject* object);

// The arithmetic of the effects: a x b / c with a 64-bit product (0 when c
// is 0), clamped into 32 bits.
int32_t EO_MulDiv(int32_t a, int32_t b, int32_t c);
// The value bounded into 32 bits.
int32_t EO_Clamp32(int64_t v);
