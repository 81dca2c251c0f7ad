// Instance trees inside scenes: putting an instance into a scene or under a
// parent, taking it out, giving it a body, freeing it with its subtree and its
// pending reply, switching instances and whole scenes in and out of the
// renderer, cloning trees, the lens-flare scene and text trees.
#pragma once

#include <cstdint>
#include <span>

#include "scene/records.h"

// Moves the instance with its subtree into the scene (out of its old scene
// first); it enters the renderer when the scene is enabled. A camera joins the
// scene's camera list instead.
void B3D_InstAddToScene(Inst3D* inst, Scene3D* scene);
// Moves the instance (or camera) with its subtree out of the scene into the
// list of instances in no scene, from under its parent too; logs and changes
// nothing when the instance is not in that scene.
void B3D_InstDeleteFromScene(Inst3D* inst, Scene3D* scene);
// The same from the instance's own scene; nothing when it is in none.
inline void B3D_InstDeleteFromScene(Inst3D* inst) {
    if (inst && inst->scene) B3D_InstDeleteFromScene(inst, inst->scene);
}
// Takes the record out of the list it is in and from under its parent.
void B3D_InstDetach(Inst3D* inst);
// Makes the child the parent's last child. 1, or 0 after a log line when the
// parent is the child itself or one of its descendants (nothing changes).
int32_t B3D_InstAddToInst(Inst3D* child, Inst3D* parent);
// 1 when the body is set (or was set already, body 0 excepted), 0 when the id
// is negative or the body cannot be had (nothing changes).
int32_t B3D_InstSetBody(Inst3D* inst, int32_t id);
// The one free of instances, lights and cameras: the record and its subtree;
// each waiting caller gets reply code 2 once (3 for a camera). Every
// reference the engine keeps to a freed record goes with it: its lens-flare
// items in every camera (and their slots), take entries, other records' hit
// and bound instances and bones, cameras' environment sources and facing
// nodes, the collected candidates and lights, the draw list, the pick ray.
void B3D_InstFree(Inst3D* inst);
// B3D_InstFree of a camera.
void B3D_CameraFree(Camera3D* camera);
// Adds the instance (or light) to the renderer once; a refusal leaves it out,
// to be tried again at the next enable.
void B3D_InstEnable(Inst3D* inst);
void B3D_InstEnableTree(Inst3D* inst);
// Children's subtrees first, then the instance.
void B3D_InstDisableTree(Inst3D* inst);
// Frees every glyph child (flag INST_GLYPH); 1.
int32_t B3D_InstFreeTextGlyphs(Inst3D* inst);
// Frees every child whose test ((mask word & mask) != 0) differs from sense.
void B3D_InstFreeChildrenByMask(Inst3D* inst, uint16_t mask, int32_t sense);
// Copies body, placement and subtree of source into target (under parent when
// one is given).
void B3D_InstCloneTree(Inst3D* source, Inst3D* target, Inst3D* parent);

void B3D_SceneEnable(Scene3D* scene);
// The engine call "B3D_SceneDisable".
void B3D_SceneDisableInsts(Scene3D* scene);
// Moves every instance and camera out of the scene; nothing is freed.
void B3D_SceneClear(Scene3D* scene);
// Frees everything in the scene and the scene; nothing keeps it (particles,
// generators, takes, records outside it). The lens-flare scene is made again
// on its next use.
void B3D_SceneFree(Scene3D* scene);
// Told of every scene B3D_SceneFree is about to free, so that the floor above
// (the space sectors' scenes) drop their references to it; set by SA_Init.
extern void (*g_B3DSceneFreedHook)(Scene3D* scene);
// Told once per B3D_InstFree or B3D_SceneFree of every record about to be
// freed (the freed ones with their subtrees, sorted by address for
// std::binary_search), so that the floor above (the space objects, which a
// story may outlive their instances) drop their references to them; set by
// SA_Init. It must free nothing itself.
extern void (*g_B3DInstsFreedHook)(std::span<const Inst3D* const> dying);
// Every enabled scene's cameras and instance trees enter the renderer again.
void B3D_EnableAllObjects3D();
// Takes every enabled scene's instances out of the renderer and frees every
// body's renderer data (before the device is reopened).
void B3D_DisableAllObjects3D();

// Body of the lens-flare scene's occlusion-test instance.
constexpr int32_t B3D_PICK_RAY_BODY = 195;
Scene3D* B3D_MakeLensflareScene();

// Text trees: a root without a body and one glyph child per character.
constexpr uint32_t B3D_TEXT_RIGHT = 0x2;  // with B3D_TEXT_RIGHT2: ends at the root
constexpr uint32_t B3D_TEXT_RIGHT2 = 0x4;
constexpr uint32_t B3D_TEXT_NO_DROP = 0x20;  // baseline at 0 instead of -1.0
constexpr uint32_t B3D_TEXT_RAISED = 0x40;   // baseline at 1.0
// The font set: a glyph's body (-1 for none) and half advance (16.16) per code.
int32_t B3D_GlyphBody(int32_t code);
int32_t B3D_GlyphAdvance(int32_t code);
Inst3D* B3D_MakeTextNullScene(const char* text, uint32_t flags);
