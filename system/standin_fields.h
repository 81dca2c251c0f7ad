// STANDIN: SystemState fields that modules still to come add (the displays,
// the detail level of the scene engine, the start dialog, the processor and
// benchmark texts); each use becomes the SystemState field of the same meaning.
#pragma once

#include <cstdint>

struct SystemFieldsStandIn {
    uint32_t furtherFlags;  // the further flag word start-up sets 0x10000 in
    uint32_t maskWords[16];
    int32_t dialogWord;  // also set by the start dialog
    uint16_t memSpeed;
    int32_t detailLevel;  // 0 .. 100
    float detailFactor;   // scales the level switch distances of bodies
    int32_t shuttingDown[2];
    int32_t vertexSize;  // bytes
    const char* gameVersion;
    const char* processor;
    const char* anisotropicName;
};
extern SystemFieldsStandIn g_SysStandIn;
