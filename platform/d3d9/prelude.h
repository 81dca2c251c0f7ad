// The GLSL every program of the Direct3D stand-in starts from: the vertex side
// turns Direct3D clip space into GL's (y negated because rows are kept in
// memory order, z from [0, w] to [-w, w], and Direct3D 9's half-pixel offset);
// the fragment side carries the alpha test, which core GL no longer has. The
// built-in program uses it, and so will every effect.
#pragma once

#include "platform/d3d9/d3d9.h"

// "#version 330 core" and the declarations of d3d_ClipToGL(vec4) and its uniform.
const char* D3D9_VertexPrelude();
// "#version 330 core" and d3d_AlphaTest(float alpha), which discards the fragment
// when the recorded alpha test fails.
const char* D3D9_FragmentPrelude();

// GL attribute location of a declaration element by usage and usage index;
// -1 when the element has no place among the 16 attributes.
int D3D9_AttributeLocation(BYTE usage, BYTE usageIndex);
