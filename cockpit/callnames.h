// The call-name table of engine-call module 10.
#pragma once

#include <cstdint>

constexpr int32_t INS_CALL_NAME_COUNT = 130;

// The 130 "INS_" call names, "INS_CockpitAlloc" (0) to
// "INS_HideOverlayBrackets" (129), followed by a null entry.
const char* const* INS_GetCallNames();
