// STAND-IN: see standin_fields.h.
#include "system/standin_fields.h"

SystemFieldsStandIn g_SysStandIn = {
    .inputFlags = 0,
    .SysFlags = 0,
    .SysD3DFlags = 0,
    .SysD3DFlags2 = 0,
    .furtherFlags = 0,
    .maskWords = {},
    .dialogWord = 0,
    .memSpeed = 0,
    .cdReferenceLength = 0,
    .detailLevel = 100,
    .shuttingDown = {},
    .textureQuality = 0,
    .shaderQuality = 0,
    .vertexSize = 0,
    .gameVersion = "2.0",
    .graphicsCard = "",
    .processor = "",
    .shaderProfile = "",
    .antialiasName = "",
    .anisotropicName = "",
};
