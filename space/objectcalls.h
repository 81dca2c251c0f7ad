// Engine calls 259 to 304: distances, sounds at an object, ring and approach
// tests, the player's landing, control and object, screens' video channels,
// hangar landing, effects and explosions at an object, safe-position and
// trace tests, a sector's scenes and background words, the timer, text
// instances, the release of every body and the mapping of bodies and cuts to
// types. Every one answers at once. Also the small helpers the placement
// calls share with them: script arrays of integers read and answered, and
// whether a sound at an object is heard.
#pragma once

#include <cstdint>

#include "space/records.h"
#include "space/syscall.h"

struct ScriptValue;

// Answers a new ARRAY of the integers.
int32_t SACall_AnswerArray(const SA_Call& c, const int32_t* values, int32_t n);
// Reads elements 0..n-1 of argument i, which must be an array of integers
// holding that many; false (nothing read) otherwise.
bool SACall_ReadInts(const SA_Call& c, int32_t i, int32_t* out, int32_t n);
// Writes the integers into elements 0..n-1 of argument i when it is an
// array; false otherwise.
bool SACall_WriteInts(const SA_Call& c, int32_t i, const int32_t* values, int32_t n);

// A sound or explosion at the object is heard: it lies in a sector that plays
// every kill's sound, or there is no player object, or the player object is
// in the same sector.
bool O_IsAudible(const SectorObject* object);
// Whether the object crossed the ring's plane since the start of the frame
// within the ring's size: 1 forward along the ring's axis, -1 backward, 0 not.
int32_t O_CheckRing(const SectorObject* object, const SectorObject* ring);
// The frame a screen shows for a video channel: channel + 1 above 0, 0 at 0,
// and for -n a random entry of video list n - 1 plus 1 (0 for an empty list,
// with its log line, or one beyond the lists).
int32_t O_VideoChannelFrame(int32_t channel);
// Makes the object the player's object (flags 0x2 and 0x40000, the root's
// player object) or releases it.
void O_SetAsPlayerObject(SectorObject* object, bool on);

int32_t SACall_MaxDistance(const SA_Call& c);                      // 259
int32_t SACall_DoObjectSound(const SA_Call& c);                    // 261
int32_t SACall_GetInst3D(const SA_Call& c);                        // 262
int32_t SACall_CheckRing(const SA_Call& c);                        // 263
int32_t SACall_RecalculateRot(const SA_Call& c);                   // 264
int32_t SACall_SetPlayerLand(const SA_Call& c);                    // 265
int32_t SACall_IsPlayerLand(const SA_Call& c);                     // 266
int32_t SACall_IsInApproach(const SA_Call& c);                     // 267
int32_t SACall_SetVideoChannel(const SA_Call& c);                  // 268
int32_t SACall_SetSpecialParameter1(const SA_Call& c);             // 269
int32_t SACall_SetWareID(const SA_Call& c);                        // 270
int32_t SACall_SetAsPlayerObject(const SA_Call& c);                // 271
int32_t SACall_SetPlayerControl(const SA_Call& c);                 // 272
int32_t SACall_LandAllObjectsInHangar(const SA_Call& c);           // 274
int32_t SACall_AnswerZero(const SA_Call& c);                       // 275, 276
int32_t SACall_ShowRelativeExplosion(const SA_Call& c);            // 277
int32_t SACall_ShowObjectEffect(const SA_Call& c);                 // 278
int32_t SACall_IsSafePos(const SA_Call& c);                        // 279
int32_t SACall_FastTrace(const SA_Call& c);                        // 280
int32_t SACall_SetSpaceScene(const SA_Call& c);                    // 281
int32_t SACall_SetSpaceGalaxyScene(const SA_Call& c);              // 282
int32_t SACall_SetSpaceDustScene(const SA_Call& c);                // 283
int32_t SACall_GetSpaceScene(const SA_Call& c);                    // 284
int32_t SACall_GetSpaceGalaxyScene(const SA_Call& c);              // 285
int32_t SACall_GetSpaceDustScene(const SA_Call& c);                // 286
int32_t SACall_SetSpaceFlags(const SA_Call& c);                    // 287
int32_t SACall_GetSpaceFlags(const SA_Call& c);                    // 288
int32_t SACall_SetSectorSize(const SA_Call& c);                    // 289
int32_t SACall_GetSectorSize(const SA_Call& c);                    // 290
int32_t SACall_SetSectorBackgroundType(const SA_Call& c);          // 291
int32_t SACall_GetSectorBackgroundType(const SA_Call& c);          // 292
int32_t SACall_SetSectorBackgroundStarsIndex(const SA_Call& c);    // 293
int32_t SACall_GetSectorBackgroundStarsIndex(const SA_Call& c);    // 294
int32_t SACall_SetSectorBackgroundNebulasIndex(const SA_Call& c);  // 295
int32_t SACall_GetSectorBackgroundNebulasIndex(const SA_Call& c);  // 296
int32_t SACall_GetTimer(const SA_Call& c);                         // 297
int32_t SACall_AllocTextInst(const SA_Call& c);                    // 298
int32_t SACall_FreeAllBodies(const SA_Call& c);                    // 299
int32_t SACall_CleanUpObjects(const SA_Call& c);                   // 300
int32_t SACall_ObjectTypeFromBody(const SA_Call& c);               // 301
int32_t SACall_ObjectTypeFromCut(const SA_Call& c);                // 302
int32_t SACall_IsSpecialBody(const SA_Call& c);                    // 303
int32_t SACall_IsDummyBody(const SA_Call& c);                      // 304
