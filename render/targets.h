// The renderer's off-screen targets: the three bloom textures with their
// full-screen quad, and the environment cube drawn face by face; their
// release before a device reset and at close.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct Scene3D;

struct RendererTargets {
    IDirect3DTexture9* SceneTarget;    // screen size
    IDirect3DTexture9* Scale4Target1;  // half width, half height
    IDirect3DTexture9* Scale4Target2;
    IDirect3DVertexBuffer9* QuadBuffer;
    ID3DXRenderToEnvMap* EnvMapRenderer;
    IDirect3DCubeTexture9* EnvMapCube;
};
extern RendererTargets g_S3DTargets;

constexpr UINT S3D_ENVMAP_SIZE = 256;
constexpr UINT S3D_QUAD_BYTES = 96;
// The video option set when the environment map cannot be made (VideoD3DFlags2).
constexpr uint32_t S3D_OPTION_NO_ENVMAP = 0x100;

// The scene engine drops the device buffers it holds for the renderer
// (particle and scene buffers) through this hook before a reset; null
// while the scene engine has not set it.
extern void (*g_S3DReleaseSceneBuffersHook)();

void S_3DInitPostProcessFX();
void S_3DInitEnviMapRender();
int S_3DBeginEnvMapCube();
int S_3DSetEnvMapFace(int face);
// The view of a cube face seen from the scene's camera; 0 when the current
// target cannot be had.
int S_3DRenderSceneInit(Scene3D* scene, int face);
void S_3DInitRenderToEnvMap();
// The device scene around the frame's drawing; 0 when the device refuses.
int S_3DBeginScene();
int S_3DEndScene();
void S_3DReleaseDeviceObjects();
void S_3DClose();
