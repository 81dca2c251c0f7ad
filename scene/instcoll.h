// Collision models of instances and the collision tests between instance
// trees: a body gets one model of the collision library, built from one of
// its detail levels or from three half-sizes (a beam, a double pyramid); the
// tests compare bounding distances first, then collide the models, and write
// the contact point and the hit instance back into the instances.
//
// The models hold the body's points as (y, x, z); placements handed to the
// library are exchanged the same way and contact points are exchanged back,
// so everything outside this module stays in the body's own axes.
#pragma once

#include <cstdint>

#include "scene/records.h"

struct Body3D;

// Collision off for this instance (first flags word, bit 27).
constexpr uint32_t INST_COLLISION_OFF = 0x8000000;

// The body id slot's collision word: -1 never gives the body a model; a word
// of 0 or more names the detail level in its low byte, and with this bit
// every part and material group goes into the model.
constexpr int32_t B3D_COLLWORD_NEVER = -1;
constexpr int32_t B3D_COLLWORD_LEVEL_MASK = 0xff;
constexpr int32_t B3D_COLLWORD_EVERYTHING = 0x100;
// A detail level whose flags carry this bit gives every part and group too.
constexpr uint32_t BLEVEL_COLL_EVERYTHING = 0x100;
// Parts carrying both of these bits stay out of the model.
constexpr uint32_t BPART_NO_COLLISION = 0xa0;
// A material group whose material carries this flag stays out of the model.
constexpr uint32_t BMAT_NO_COLLISION = 0x1;

// Builds the model of the instance's body from its triangles (when the body
// has none yet), then marks the instance as having one and keeps the level
// in it. 1 when the instance has a model afterwards, else 0.
int32_t B3D_CollBuildModel(Inst3D* inst, int32_t level);
// A beam of two crossed triangles for the instance's body when it has no
// model: half-sizes a, b across and c along z (16.16). 1 when the instance
// has a model afterwards.
int32_t B3D_CollBuildModelSimple(Inst3D* inst, int32_t a, int32_t b, int32_t c);
// A double pyramid of eight triangles with corners at ±a, ±b and ±c on the
// model's axes (16.16), for the instance's body when it has no model. 1 when
// the instance has a model afterwards.
int32_t B3D_CollBuildModelOcta(Inst3D* inst, int32_t a, int32_t b, int32_t c);

// Collides the two bodies' models as the two instances place them (world
// position and matrix, scale); 1 when the collision state counts a contact.
// A body without a model is logged and answers 0.
int32_t B3D_InstCollide(Inst3D* a, Body3D* bodyA, Inst3D* b, Body3D* bodyB, uint32_t mode, int32_t maxContacts,
                        float depthLimit, float* bestDepth);

// The recursive pair test: bounding radii (0 or less: the cached total
// radius) against the Chebyshev distance, then the models in first-contact
// mode, then B's children, then A's. Positive on a hit, with the contacts
// written into A and B in their own frames and the two instances hit in
// *hitA and *hitB (either may be null).
int32_t B3D_CheckCollision(Inst3D* a, Inst3D* b, int32_t radiusA, int32_t radiusB, Inst3D** hitA, Inst3D** hitB);
// Clears both contacts and hit instances, then the pair test with the hits
// written into the two hit-instance fields.
int32_t B3D_CheckCollisionPair(Inst3D* a, Inst3D* b, int32_t radiusA, int32_t radiusB);
// The pair test with both radii computed.
int32_t B3D_CheckCollisionPairAuto(Inst3D* a, Inst3D* b);

// A's model against T's tree, keeping the nearest hit along A's z axis within
// range: the best depth so far lives in A's contact z. Answers the instance
// of T's tree hit last (the nearest), null when none.
Inst3D* B3D_CheckCollisionTree(Inst3D* a, Body3D* bodyA, Inst3D* t, int32_t range, int32_t radiusT);
// Clears both, then A's model against B's tree within range: on a hit A's hit
// instance is A, B's the instance of B's tree hit, A's contact z the nearest
// depth, and the answer 1; else 0.
int32_t B3D_CheckCollisionHier(Inst3D* a, Inst3D* b, int32_t range, int32_t radiusB);

// The beam update of beam instance B (other end E) against target T: 1 on a
// hit, else 0. Unless forced, a target with collision off, or one closer to
// the beam's start than its cached total radius, is not tested; a target
// whose cached total radius does not reach the beam's line never is.
int32_t B3D_CollUpdateInst(int32_t forced, Inst3D* b, Inst3D* e, Inst3D* t);
