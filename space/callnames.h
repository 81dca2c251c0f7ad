// The call-name table of engine-call module 8.
#pragma once

#include <cstdint>

constexpr int32_t SA_CALL_NAME_COUNT = 358;

// The 358 "SA_" call names, "SA_AllocObject" (0) to "SA_CollectDebris" (357),
// followed by a null entry.
const char* const* SA_GetCallNames();
