// Part drawing: every material group of one part of one instance drawn with
// the effect, variant and technique its material asks for, a parameter block
// built once per group, and the values that change per draw (matrices,
// lights, alpha, fog, colour adjustment, textures, the glow mask).
#pragma once

#include <cstdint>

struct BodyPart;
struct Camera3D;
struct D3DPartMesh;
struct Inst3D;
class ID3DXEffect;

// The switches part drawing reads of the renderer's start-up and settings.
struct S3DPartDrawSettings {
    int32_t vertexProcessing;    // 2: software vertex shaders
    uint32_t overrideFlags;      // logged when non-zero
    int32_t overrideMaterial;    // ... with override bit 0x400000
    int32_t bloom;               // bloom on in the settings and supported by the device
    int32_t environmentMapping;  // the device's environment-mapping switch
    int32_t maxAnisotropy;       // the device's largest anisotropy
};
extern S3DPartDrawSettings g_S3DPartDraw;
// Takes the switches from the device record and the settings' video flags:
// at start-up and whenever a setting changes them (bloom on or off).
void S_3DUpdatePartDrawSettings();

// Part record flags read here.
constexpr uint32_t S3D_PART_RECREATE = 0x40;
constexpr uint32_t S3D_PART_SKIP = 0x10000;

// Instance flags (first word).
constexpr uint32_t S3D_INST_DRAWN = 0x2;
constexpr uint32_t S3D_INST_SUPPRESSED = 0x4000000;
constexpr uint32_t S3D_INST_INVISIBLE = 0x100000;
constexpr uint32_t S3D_INST_NO_FOG = 0x2000000;
// Second flags word.
constexpr uint32_t S3D_INST2_SCREEN = 0x200;
constexpr uint32_t S3D_INST2_DEPTH_ONLY = 0x20000;
constexpr uint32_t S3D_INST2_NO_BUMP = 0x100000;
constexpr uint32_t S3D_INST2_NO_DEPTH = 0x200000;
constexpr uint32_t S3D_INST2_ANIMATED = 0x1000000;
constexpr uint32_t S3D_INST2_NO_COLOUR = 0x4000000;
constexpr uint32_t S3D_INST2_FORCE_ALPHA = 0x8000000;
// Camera flags.
constexpr uint32_t S3D_CAM_KEEP_DEPTH = 0x4;
constexpr uint32_t S3D_CAM_GLOW = 0x200000;
constexpr uint32_t S3D_CAM_ZOOM_DEPTH = 0x800000;
constexpr uint32_t S3D_CAM_FOG = 0x10000;

// The instance's hue (degrees), saturation (16.16) and skin: the colour
// modifier's first two words and the word after the group.
int32_t S_3DInstHue(const Inst3D* instance);
int32_t S_3DInstSaturation(const Inst3D* instance);
int32_t S_3DInstSkin(const Inst3D* instance);

// The main light of the frame's light list for an instance, null for none.
Inst3D* S_3DMainLight();
// The projection's depth terms for the camera (zoom flag: nearer for narrow views).
void S_3DSetPartDepthRange(const Camera3D* camera);

// A parameter an effect lacks is logged once per effect; the effect's free
// path forgets what was said of it, so that one made at its address says it again.
void S_3DForgetMissingParameters(const ID3DXEffect* effect);

int S_3DRenderInst(BodyPart* part, Inst3D* instance, Camera3D* camera);
int S_3DRenderPartFX(D3DPartMesh* partMesh, Inst3D* instance, Camera3D* camera, int lightFlags, Inst3D* light);
