// Per camera: whether each instance of a tree can be seen (flag 0x2) and
// which level of its body it draws, from its projected size.
#pragma once

#include <cstdint>

#include "scene/records.h"

// Instance flags read here (first word).
constexpr uint32_t INST_VISIBLE = 0x2;
constexpr uint32_t INST_FIXED_LEVEL = 0x8;
constexpr uint32_t INST_HIDE_INSIDE = 0x80;
constexpr uint32_t INST_SHOWN = 0x100;
constexpr uint32_t INST_NO_SIZE_TEST = 0x400;
constexpr uint32_t INST_HIDE_LAST_LEVEL = 0x8000;
constexpr uint32_t INST_WITH_PARENT = 0x40000;
constexpr uint32_t INST_NO_RANGE_TEST = 0x2000000;
constexpr uint32_t INST_ALWAYS_DRAW = 0x4000000;
constexpr uint32_t INST_DEBUG_TRACE = 0x40000000;
// Second flags word.
constexpr uint32_t INST2_SIZE_SMALL = 0x80000;
constexpr uint32_t INST2_SIZE_TINY = 0x100000;
// Camera flags.
constexpr uint32_t CAM_HIDE_INSIDE = 0x400;
constexpr uint32_t CAM_RANGE_TEST = 0x10000;
constexpr uint32_t CAM_COARSE = 0x1000000;

// Screen sizes that stand for "too near to measure".
constexpr int32_t B3D_SIZE_HUGE = 0x7000000;

void B3D_InstSelectLevel(Inst3D* inst, Camera3D* camera);
