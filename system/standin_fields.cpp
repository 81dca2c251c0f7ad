// STANDIN: see standin_fields.h.
#include "system/standin_fields.h"

SystemFieldsStandIn g_SysStandIn = {
    .furtherFlags = 0,
    .maskWords = {},
    .dialogWord = 0,
    .memSpeed = 0,
    .detailLevel = 100,
    .detailFactor = 1.0f,
    .shuttingDown = {},
    .vertexSize = 0,
    .gameVersion = "2.0",
    .processor = "",
    .anisotropicName = "",
};
