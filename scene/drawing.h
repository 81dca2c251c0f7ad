// The per-camera passes over a scene: visibility and level of every instance,
// instances of small bodies gathered into scene buffers, instance trees drawn
// with their orientation modes and their transparent parts set aside for a
// sorted draw, lens-flare items placed on the screen, and the ray test that
// hides the items geometry covers.
#pragma once

#include <cstdint>

#include "scene/records.h"
#include "scene/trees.h"  // the ray instance's body

// Instance flags read here (first word).
constexpr uint32_t INST_FACE_CAMERA = 0x20;
constexpr uint32_t INST_TURN_TO_CAMERA = 0x200;
constexpr uint32_t INST_TRANSPARENT = 0x800;
constexpr uint32_t INST_TEXANIM_CHANGED = 0x2000;
constexpr uint32_t INST_CAMERA_MATRIX = 0x4000;
constexpr uint32_t INST_CAMERA_ROLL = 0x10000000;
constexpr uint32_t INST_SCENE_BUFFER = 0x2;  // the bit a scene-buffer instance needs
constexpr uint32_t INST_STRETCH = 0x4000000;
// Second flags word.
constexpr uint32_t INST2_TRANSPARENT = 0x10;
constexpr uint32_t INST2_DEPTH_PASS = 0x20000;
constexpr uint32_t INST2_SCENE_BUFFER = 0x800000;
// Camera flags.
constexpr uint32_t CAM_FLARES = 0x100;
constexpr uint32_t CAM_STRETCH = 0x8000;
// System flag (SysFlags) under which geometry can cover lens flares.
constexpr uint32_t B3D_SYSTEM_FLARE_TEST = 0x8000;

// The body that never goes into a scene buffer, and the most polygons one may have.
constexpr int32_t B3D_FAST_BODY = 225;
constexpr int32_t B3D_SCENE_BUFFER_MAX_POLYS = 55;
constexpr int32_t B3D_PICK_CANDIDATES = 255;

// An instance may carry an engine glow state in two of its spare words, kept
// by whatever flies it: a level (B3D_GLOW_FULL is full; more draws as full)
// and a mask of lit sides, one bit per side of each axis, with
// B3D_GLOW_STATE set while the state is there. The draw then leaves out the
// glow and engine parts of unlit sides and fades lit glow parts by the level;
// an instance without the state draws every part as its body has it.
struct BodyPart;
constexpr int B3D_INST_GLOW_LEVEL = 0;  // in Inst3D::words5
constexpr int B3D_INST_GLOW_SIDES = 1;
constexpr uint32_t B3D_GLOW_STATE = 0x80000000u;
constexpr int32_t B3D_GLOW_FULL = 16384;
// Body part flags of the glow state.
constexpr uint32_t B3D_PART_ENGINE = 0x2000;
constexpr uint32_t B3D_PART_GLOW = 0x4000;
// The bit of a side: axis 0..2 (x, y, z), sign +1 or -1.
uint32_t B3D_GlowSideBit(int axis, int sign);
// The side of a glow or engine part (0 for any other part): the side of the
// axis its centre lies farthest out on; a part in the middle counts as a
// main engine at the back.
uint32_t B3D_GlowPartSide(const BodyPart* part);
// How the part of the instance draws: -1 not at all, 0 as its body has it,
// 1..255 with that alpha (a lit glow part below the full level, combined with
// the instance's own alpha override).
int32_t B3D_GlowPartAlpha(const BodyPart* part, const Inst3D* inst);

// Visibility and level for every instance tree of the scene.
void B3D_SceneSelectLevels(Scene3D* scene, Camera3D* camera);

// The scene-buffer choice: does the instance go into a scene buffer, does its
// body fit one, and the entry of its body (made on first use; null on failure).
int32_t B3D_InstUsesSceneBuffer(const Camera3D* camera, Inst3D* inst);
int32_t B3D_BodyFitsSceneBuffer(const Inst3D* inst);
B3DSceneBufferGroup* B3D_SceneBufferEntry(Scene3D* scene, const Inst3D* inst);
// Counts the instance in the entry's use counter; 1.
int32_t B3D_SceneBufferCount(B3DSceneBufferGroup* entry);
// 1 when the instance went into its body's scene buffer (it is then not drawn
// on its own).
int32_t B3D_SceneBufferAddInst(int32_t pass, Scene3D* scene, Inst3D* inst, Camera3D* camera);
// Draws every entry filled this pass.
void B3D_SceneBuffersDraw(Scene3D* scene, int32_t pass, Camera3D* camera);

// Draws the state's draw list (the transparent parts, sorted).
void B3D_DrawUnplacedInsts(Camera3D* camera);
// Draws an instance tree for the camera.
void B3D_InstDraw(Inst3D* inst, Camera3D* camera);

// The lens-flare item of an instance in a camera's list, null when none.
B3DCameraItem* B3D_CameraFlareItem(Camera3D* camera, const Inst3D* inst);
// The seen lens-flare items of every enabled camera whose priority is not
// above the camera's lose their seen word when geometry covers them.
void B3D_PickAll(Camera3D* camera);
int32_t B3D_PickFlareItem(B3DCameraItem* item, Camera3D* camera);
int32_t B3D_PickTestInst(Inst3D* candidate, B3DCameraItem* item);
