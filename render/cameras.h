// Cameras as Direct3D state: projection, view and viewport of a scene's
// camera and the clear of its rectangle; the matrices of an instance before
// its parts are drawn; the fade rectangle, the gamma ramp and the end of the
// scene with the statistics line.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct Camera3D;
struct Inst3D;
struct Scene3D;

// The renderer's five matrices, made at renderer start and kept for the run;
// part drawing hands them to the effects.
struct RendererMatrices {
    D3DXMATRIX* world;
    D3DXMATRIX* normal;  // the world matrix used for normals
    D3DXMATRIX* view;
    D3DXMATRIX* projection;
    D3DXMATRIX* screenProjection;  // of screen-placed (2D) instances
};
extern RendererMatrices g_S3DMatrices;
// Field of view of the last scene camera (16.16 fraction of a turn), read by
// the lens effects of part drawing.
extern int32_t g_S3DFieldOfView;
// Set at renderer start, cleared by the first scene camera.
extern int32_t g_S3DCameraSetUpPending;

// Per-frame counters of the statistics line.
struct RendererFrameStats {
    int32_t adaptiveQuality;
    int32_t partsDrawn;
    int32_t textureSwaps;
    int32_t textureLoads;
};
extern RendererFrameStats g_S3DFrameStats;

// Makes the five matrices with their first values (world and normal
// identity, view a step back along z, both projections the default
// perspective for the screen's aspect); 0 when memory runs out.
int S_3DAllocMatrices();
void S_3DFreeMatrices();

// The left-handed perspective of a field of view (16.16 fraction of a turn)
// and aspect factors (16.16): near plane 5, depth scale 1.00001.
void S_3DPerspective(int32_t fieldOfView, int32_t aspectX, int32_t aspectY, D3DXMATRIX* out);
void S_3DCameraProjection(const Camera3D* camera, D3DXMATRIX* out);
// The camera's view: world units (16.16 words) times the unit scale.
void S_3DCameraView(const Camera3D* camera, float unitScale, D3DXMATRIX* out);
// The viewport of the camera's screen rectangle, in pixels of the screen.
D3DVIEWPORT9 S_3DCameraViewport(const Camera3D* camera);

// Projection, view and viewport for drawing the scene through the camera;
// 0 when the viewport cannot be set.
int S_3DInitSceneCamera(Scene3D* scene, Camera3D* camera);
// Sets the viewport of the camera's rectangle (made on first use); 1.
int S_3DSetSceneViewPort(Camera3D* camera);
// Frees the camera's viewport record and clears the pointer.
void S_3DFreeSceneCamera(Camera3D* camera);
// The whole surface as viewport; the device result.
HRESULT S_3DSetDefaultViewPort(IDirect3DSurface9* surface);
// Clears the camera's rectangle as its flags ask; 0 when the clear fails.
int S_3DClearSceneBackground(Camera3D* camera);
// The renderer's matrices for an instance whose renderer object is given;
// 0 without one.
int S_3DSetInstMatrix(const void* rendererObject, const Inst3D* instance, const Camera3D* camera);
// Puts back the projection's depth terms that part drawing narrows.
void S_3DSetProjectionDepth(float nearPlane, float farPlane);
// Draws the fade colour (alpha in the top byte) over the camera's rectangle.
int S3D_RenderFadeRectangle(uint32_t colour, Camera3D* camera);
// One entry of the gamma ramp for a gamma value 0-255.
uint16_t S_3DGammaRampEntry(int32_t gamma, int index);
void S_3DSetGammaRamp(int32_t gamma);
// Ends the scene and composes the statistics line; 0 when EndScene fails.
int S_3DStatsLine();
// 1 when a display is open and the device is a hardware one.
int S_3DIsHardwareDevice();
