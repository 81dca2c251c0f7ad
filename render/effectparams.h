// The one road by which a named, typed effect parameter reaches an effect:
// SetFXParameter and the setters the part drawing builds temporary
// parameters with.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct FXParameter;
struct QelMatrix;

// 1 when set; 0 when the effect lacks the parameter or its current technique
// does not use it (debug lines, category 0x200000), for an unknown type or a
// failing effect call (error lines). shaderName serves the log lines only.
int SetFXParameter(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter);
// The same, skipping only what no technique of the effect uses: a parameter
// block serves every technique the group may draw with.
int SetFXParameterForAnyTechnique(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter);

// "g_TexMatrix" (type 6) from the three used rows of a 16.16 matrix.
int S_3DSetTexMatrix(ID3DXEffect* effect, const char* shaderName, const QelMatrix* matrix);
int S_3DSetTexMatrixIdentity(ID3DXEffect* effect, const char* shaderName);
// "g_MatEmissiveColor" as type 5 or type 4.
int S_3DSetEmissiveColor4(ID3DXEffect* effect, const char* shaderName, float r, float g, float b, float a);
int S_3DSetEmissiveColor3(ID3DXEffect* effect, const char* shaderName, float r, float g, float b);
int S_3DSetFloatParam(ID3DXEffect* effect, const char* shaderName, const char* name, float value);
int S_3DSetIntParam(ID3DXEffect* effect, const char* shaderName, const char* name, int32_t value);
