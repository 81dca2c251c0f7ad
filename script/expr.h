// Computations the numeric built-in calls hand to the engine: the typed
// expression evaluator over (type, operand) pairs, the test of a position
// against a list of spheres, the removal of spheres inside others, and the
// turning of a local escort offset into world axes along a direction.
#pragma once

#include <cstdint>

#include "script/values.h"

// Type codes of an expression program.
enum : int32_t {
    SE_EXPR_NONE = 0,
    SE_EXPR_INT = 4,
    SE_EXPR_TEXT = 5,
    SE_EXPR_OPERATOR = 15,
    SE_EXPR_OBJECT_BIT = 0x10000,  // any type with this bit: an object reference
};

// Operator codes.
enum : int32_t {
    SE_EXPR_EQ = 0,
    SE_EXPR_NE,
    SE_EXPR_GT,
    SE_EXPR_LT,
    SE_EXPR_GE,
    SE_EXPR_LE,
    SE_EXPR_AND,
    SE_EXPR_OR,
    SE_EXPR_EOR,
    SE_EXPR_LAND,
    SE_EXPR_LOR,
    SE_EXPR_ADD,
    SE_EXPR_SUB,
    SE_EXPR_MUL,
    SE_EXPR_DIV,
    SE_EXPR_MOD,
    SE_EXPR_INV = 0x10012,
    SE_EXPR_MINUS = 0x10013,
    SE_EXPR_NOT = 0x10014,
};

// The most operands one evaluation holds at once.
constexpr int32_t SE_EXPR_MAX_OPERANDS = 50;

// The story function that adds texts and other non-integer operands.
constexpr int32_t SE_EXPR_ADD_OBJECT = 2124;
constexpr const char* SE_EXPR_ADD_FUNCTION = "__scriptOpAddString";
// Text additions whose story function evaluates text additions again nest
// at most this deep; a deeper one is logged and gives (0, 0).
constexpr int32_t SE_EXPR_ADD_NESTING = 16;

// Evaluates the first `pairCount` pairs of the ARRAY `program` (element 2k the
// type, 2k+1 the operand) and writes the result pair into elements 0 and 1.
void SE_ComputeExpression(int32_t callerModule, SE_Task* task, ScriptValue* program, int32_t pairCount);

// 1 when (x, y, z) lies within any sphere of the range list (element 2k a
// position ARRAY, 2k+1 the radius); r >= 0 with 2r below the list size takes
// only the first r spheres.
int32_t SE_IsPosInRange(int32_t r, int32_t x, int32_t y, int32_t z, ScriptValue* ranges);
// Drops spheres that lie inside others and moves the kept ones to the front;
// returns how many were kept (0 when a position is not a three-element ARRAY).
int32_t SE_CompressRanges(ScriptValue* ranges, int32_t n);

// Distance of a vector: single-precision square root of the sum of squares,
// truncated.
int32_t SE_VectorLength(int64_t dx, int64_t dy, int64_t dz);
// Scales a 16.16 vector to length 1.0; a zero vector is logged and kept.
void SE_NormalizeFix(int32_t v[3]);
// 16.16 dot product with each product rounded.
int32_t SE_DotFix(const int32_t a[3], const int32_t b[3]);
// r * o.x + v * o.y + d * o.z for the axes r, v, d of the direction `dir`.
// 0 for a zero direction (out untouched), else 1.
int SE_CalcGalaxyEscortOffset(const int32_t dir[3], const int32_t offset[3], int32_t out[3]);
