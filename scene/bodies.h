// What the scene engine reads of a loaded body (bodies.cpp holds a STAND-IN
// until the body records come): its bone names.
#pragma once

#include <cstdint>

// The bone names of a body, null (count 0) for a body without bones.
const char* const* B3D_BodyGetBones(const void* body, int32_t* count);
