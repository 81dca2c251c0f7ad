// Instance tree operations (trees.cpp is a stand-in until that module comes).
#pragma once

#include "scene/records.h"

// Frees an instance and its subtree; a waiting caller gets reply code 2.
void B3D_InstFree(Inst3D* inst);
// Takes a top instance out of its scene into the list of instances in no scene.
void B3D_InstDeleteFromScene(Inst3D* inst);
// Puts a scene's cameras (and instances) into the renderer.
void B3D_SceneEnable(Scene3D* scene);
// Frees everything in the scene and the scene.
void B3D_SceneFree(Scene3D* scene);
// Gives every enabled camera of every enabled scene its viewport again.
void B3D_EnableAllObjects3D();
// The lens-flare scene, made on first use with its camera and occlusion-test
// instance (body 195).
Scene3D* B3D_MakeLensflareScene();
