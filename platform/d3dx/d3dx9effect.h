// Our D3DX effect subset over our own effect files: parameters with defaults,
// struct arrays, textures, samplers, techniques of passes naming GLSL stage
// blocks, pass states from constants or parameters, annotations. The format is
// described in data/effects/README.md. Included by d3dx9.h.
#pragma once

#include <string>

#include "platform/d3d9/d3d9.h"
#include "platform/d3dx/d3dx9mesh.h"
#include "platform/d3dx/d3dx9tex.h"  // D3DXERR_INVALIDDATA

using INT = int32_t;

class ID3DXEffectStateManager;
class ID3DXBuffer;

// A handle names a parameter, technique, pass or annotation of one effect.
using D3DXHANDLE = const char*;

struct D3DXMACRO {
    const char* Name;
    const char* Definition;
};

using D3DXPARAMETER_CLASS = uint32_t;
constexpr D3DXPARAMETER_CLASS D3DXPC_SCALAR = 0, D3DXPC_VECTOR = 1, D3DXPC_MATRIX_ROWS = 2, D3DXPC_MATRIX_COLUMNS = 3,
                              D3DXPC_OBJECT = 4, D3DXPC_STRUCT = 5;
using D3DXPARAMETER_TYPE = uint32_t;
constexpr D3DXPARAMETER_TYPE D3DXPT_VOID = 0, D3DXPT_BOOL = 1, D3DXPT_INT = 2, D3DXPT_FLOAT = 3, D3DXPT_STRING = 4,
                             D3DXPT_TEXTURE = 5, D3DXPT_TEXTURE2D = 7, D3DXPT_TEXTURECUBE = 9, D3DXPT_SAMPLER = 10,
                             D3DXPT_SAMPLER2D = 12, D3DXPT_SAMPLERCUBE = 14;

struct D3DXEFFECT_DESC {
    const char* Creator;
    UINT Parameters;
    UINT Techniques;
    UINT Functions;
};
struct D3DXPARAMETER_DESC {
    const char* Name;
    const char* Semantic;
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT Annotations;
    UINT StructMembers;
    DWORD Flags;
    UINT Bytes;
};
struct D3DXTECHNIQUE_DESC {
    const char* Name;
    UINT Passes;
    UINT Annotations;
};
struct D3DXPASS_DESC {
    const char* Name;
    UINT Annotations;
    const DWORD* pVertexShaderFunction;
    const DWORD* pPixelShaderFunction;
};

// Begin flags: the effect never saves device state; the flags are accepted.
constexpr DWORD D3DXFX_DONOTSAVESTATE = 1u << 0;
constexpr DWORD D3DXFX_DONOTSAVESHADERSTATE = 1u << 1;
constexpr DWORD D3DXFX_DONOTSAVESAMPLERSTATE = 1u << 2;
constexpr DWORD D3DXSHADER_PREFER_FLOW_CONTROL = 1u << 10;

class ID3DXEffect : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDesc(D3DXEFFECT_DESC* desc) = 0;
    virtual HRESULT GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc) = 0;
    virtual HRESULT GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc) = 0;
    virtual HRESULT GetPassDesc(D3DXHANDLE pass, D3DXPASS_DESC* desc) = 0;
    // Top-level parameters when parent is null, else the members of a struct.
    virtual D3DXHANDLE GetParameter(D3DXHANDLE parent, UINT index) = 0;
    virtual D3DXHANDLE GetParameterByName(D3DXHANDLE parent, const char* name) = 0;
    virtual D3DXHANDLE GetParameterElement(D3DXHANDLE parameter, UINT index) = 0;
    virtual D3DXHANDLE GetAnnotation(D3DXHANDLE object, UINT index) = 0;
    virtual D3DXHANDLE GetAnnotationByName(D3DXHANDLE object, const char* name) = 0;
    virtual D3DXHANDLE GetTechnique(UINT index) = 0;
    virtual D3DXHANDLE GetTechniqueByName(const char* name) = 0;
    virtual D3DXHANDLE GetPass(D3DXHANDLE technique, UINT index) = 0;
    virtual D3DXHANDLE GetPassByName(D3DXHANDLE technique, const char* name) = 0;

    virtual HRESULT SetValue(D3DXHANDLE parameter, const void* data, UINT bytes) = 0;
    virtual HRESULT GetValue(D3DXHANDLE parameter, void* data, UINT bytes) = 0;
    virtual HRESULT SetBool(D3DXHANDLE parameter, BOOL value) = 0;
    virtual HRESULT GetBool(D3DXHANDLE parameter, BOOL* value) = 0;
    virtual HRESULT SetInt(D3DXHANDLE parameter, INT value) = 0;
    virtual HRESULT GetInt(D3DXHANDLE parameter, INT* value) = 0;
    virtual HRESULT SetFloat(D3DXHANDLE parameter, float value) = 0;
    virtual HRESULT GetFloat(D3DXHANDLE parameter, float* value) = 0;
    virtual HRESULT SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* value) = 0;
    virtual HRESULT GetVector(D3DXHANDLE parameter, D3DXVECTOR4* value) = 0;
    virtual HRESULT SetMatrix(D3DXHANDLE parameter, const D3DXMATRIX* value) = 0;
    virtual HRESULT GetMatrix(D3DXHANDLE parameter, D3DXMATRIX* value) = 0;
    virtual HRESULT SetString(D3DXHANDLE parameter, const char* value) = 0;
    virtual HRESULT GetString(D3DXHANDLE parameter, const char** value) = 0;
    virtual HRESULT SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT GetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9** texture) = 0;

    virtual HRESULT SetTechnique(D3DXHANDLE technique) = 0;
    virtual D3DXHANDLE GetCurrentTechnique() = 0;
    virtual HRESULT ValidateTechnique(D3DXHANDLE technique) = 0;
    virtual HRESULT FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next) = 0;
    virtual BOOL IsParameterUsed(D3DXHANDLE parameter, D3DXHANDLE technique) = 0;

    virtual HRESULT Begin(UINT* passes, DWORD flags) = 0;
    virtual HRESULT BeginPass(UINT pass) = 0;
    virtual HRESULT CommitChanges() = 0;
    virtual HRESULT EndPass() = 0;
    virtual HRESULT End() = 0;

    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
    virtual HRESULT SetStateManager(ID3DXEffectStateManager* manager) = 0;
    virtual HRESULT GetStateManager(ID3DXEffectStateManager** manager) = 0;

    virtual HRESULT BeginParameterBlock() = 0;
    virtual D3DXHANDLE EndParameterBlock() = 0;
    virtual HRESULT ApplyParameterBlock(D3DXHANDLE block) = 0;
    virtual HRESULT DeleteParameterBlock(D3DXHANDLE block) = 0;
};

// From the bytes of an effect file (a source or a ".fb": the same text).
// Macros end with a null name. Errors (parser or GLSL) go to the buffer.
HRESULT D3DXCreateEffect(IDirect3DDevice9* device, const void* data, UINT length, const D3DXMACRO* defines,
                         void* include, DWORD flags, void* pool, ID3DXEffect** effect, ID3DXBuffer** errors);
HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* device, const char* file, const D3DXMACRO* defines, void* include,
                                  DWORD flags, void* pool, ID3DXEffect** effect, ID3DXBuffer** errors);

// How D3DXCreateEffectFromFileA reads a file: by default from disk; the engine
// puts its catalog reader here. The reader answers false when it has no file.
using D3DXFileReaderFn = bool (*)(const char* name, std::string* bytes);
void D3DXSetFileReader(D3DXFileReaderFn reader);

// The text our tool writes as a ".fb": the source with the macros applied
// (every macro and "VRMENGINE" as "true" come from the caller). False with the
// message when the preprocessor refuses it.
bool D3DXPreprocessEffect(const std::string& source, const D3DXMACRO* defines, std::string* out, std::string* error);
