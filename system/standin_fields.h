// STAND-IN: SystemState fields that the settings, video and input modules add
// when they land. Until then the program keeps them here; each use becomes the
// SystemState field of the same meaning once it exists.
#pragma once

#include <cstdint>

struct SystemFieldsStandIn {
    uint32_t inputFlags;          // the input flags word handed to S_InitIO
    uint32_t SysFlags;
    uint32_t SysD3DFlags;         // 0x800000 automatic quality control
    uint32_t SysD3DFlags2;
    uint32_t furtherFlags;        // the further flag word start-up sets 0x10000 in
    uint32_t maskWords[16];
    int32_t dialogWord;           // also set by the start dialog
    uint16_t memSpeed;
    int32_t cdReferenceLength;    // ms
    int32_t detailLevel;          // 0 .. 100
    int32_t shuttingDown[2];
    int32_t textureQuality;
    int32_t shaderQuality;
    int32_t vertexSize;           // bytes
    const char* gameVersion;
    const char* graphicsCard;
    const char* processor;
    const char* shaderProfile;
    const char* antialiasName;
    const char* anisotropicName;
};
extern SystemFieldsStandIn g_SysStandIn;
