// Shader programs on the Direct3D stand-in. The effect system hands in the
// GLSL of a vertex and a fragment stage (the prelude is put in front here) and
// gets a vertex and a pixel shader object naming one linked GL program. A draw
// with them bound runs that program through the same state flush as every
// other draw, and asks the program's owner for its uniform values first.
// Linked programs are kept as GL program binaries under $XDG_CACHE_HOME.
#pragma once

#include <string>

#include "platform/d3d9/d3d9.h"

class D3D9ProgramOwner {
public:
    // Inside a draw, with the program in use: upload the values.
    virtual void D3D9_SetUniforms(unsigned program) = 0;
    // At link (or when a cached binary is loaded): name texture units and the like.
    virtual void D3D9_Linked(unsigned program) = 0;

protected:
    ~D3D9ProgramOwner() = default;
};

// Compiles and links on a device of this stand-in; on any other device (the spy
// device) the shader objects are made without a GL program. The objects share
// one reference count; errors get the GL log.
HRESULT D3D9_CreateProgram(IDirect3DDevice9* device, const std::string& vertex, const std::string& fragment,
                           D3D9ProgramOwner* owner, IDirect3DVertexShader9** vertexShader,
                           IDirect3DPixelShader9** pixelShader, std::string* errors);
// Compiles and links (D3D9_BuildProgram) through the binary cache, with the
// context current: a program linked on an earlier run comes back from its
// binary. The effects' programs and the device's own go through it.
unsigned D3D9_BuildCachedProgram(const char* vertexPrelude, const std::string& vertex, const char* fragmentPrelude,
                                 const std::string& fragment, std::string* errors = nullptr);
// The GL program of a shader object made here; 0 for none.
unsigned D3D9_ProgramName(IUnknown* shader);

// What the program cache did since the start (tests).
struct D3D9ProgramCacheCounts {
    int loaded;    // linked from a cached binary
    int compiled;  // compiled from source
    int stored;    // binaries written
    int rejected;  // cached binaries GL refused
};
extern D3D9ProgramCacheCounts g_D3D9ProgramCache;
// The folder of the cache: $XDG_CACHE_HOME (else ~/.cache) + "/Veldrim/programs".
std::string D3D9_ProgramCacheFolder();
