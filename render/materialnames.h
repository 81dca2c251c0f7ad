// The naming rules that join a material's texture parameters to the
// renderer's texture slots, used when a body's materials are loaded.
#pragma once

#include <cstdint>
#include <string>

// Texture slots of a part.
constexpr uint32_t S3D_SLOT_DIFFUSE = 1;
constexpr uint32_t S3D_SLOT_BUMP = 2;
constexpr uint32_t S3D_SLOT_SPECULAR = 3;
constexpr uint32_t S3D_SLOT_LIGHTMAP = 4;
constexpr uint32_t S3D_SLOT_CUBEMAP = 5;
constexpr uint32_t S3D_SLOT_DETAIL = 6;

// The video flag that loads bump textures as their "_low_bump" variants.
constexpr uint32_t S3D_VIDEO_LOW_BUMP = 0x400;

// 1-6 for a texture parameter name (first letter a lower-case 't', the rest
// in any case), else 0.
uint32_t S_3DShaderTextureSlot(const char* name);
// 1 and the texture id of the value when the parameter is a texture, else 0
// with textureId untouched. Bump maps take their low-bump name when that
// video option is on.
int32_t S_3DResolveMaterialParam(uint32_t slot, const char* name, const char* value, int32_t* textureId);
// The text with its first "_bump" turned into "_low_bump".
std::string S_3DLowBumpName(const char* text);
