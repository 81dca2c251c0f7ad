// STAND-IN for the body record until it comes: the bone list, all that the
// scene placement reads of a body today.
#pragma once

#include <cstdint>

struct B3DBodyBones {
    int32_t boneCount;
    const char* const* boneNames;
};
