// Geometry of the Direct3D 9 stand-in: vertex and index buffers, declarations,
// the recorded fixed-function and shader state, and the draws. Direct3D state
// reaches GL in one place only, FlushState, right before each draw.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/glprogram.h"
#include "platform/d3d9/internal.h"
#include "platform/d3d9/prelude.h"
#include "platform/d3d9/program.h"
#include "platform/d3d9/seam.h"

// ---------------------------------------------------------------- prelude

const char* D3D9_VertexPrelude() {
    return "#version 330 core\n"
           "uniform vec2 d3d_halfPixel;\n"
           "vec4 d3d_ClipToGL(vec4 p) {\n"
           "    return vec4(p.x + d3d_halfPixel.x * p.w, -p.y + d3d_halfPixel.y * p.w, 2.0 * p.z - p.w, p.w);\n"
           "}\n";
}

const char* D3D9_FragmentPrelude() {
    return "#version 330 core\n"
           "uniform int d3d_alphaFunc;\n"   // 0 = no test, else the comparison
           "uniform float d3d_alphaRef;\n"  // 0..255
           "void d3d_AlphaTest(float alpha) {\n"
           "    if (d3d_alphaFunc == 0) return;\n"
           "    float a = floor(clamp(alpha, 0.0, 1.0) * 255.0 + 0.5);\n"
           "    bool pass = true;\n"
           "    if (d3d_alphaFunc == 1) pass = false;\n"
           "    else if (d3d_alphaFunc == 2) pass = a < d3d_alphaRef;\n"
           "    else if (d3d_alphaFunc == 3) pass = a == d3d_alphaRef;\n"
           "    else if (d3d_alphaFunc == 4) pass = a <= d3d_alphaRef;\n"
           "    else if (d3d_alphaFunc == 5) pass = a > d3d_alphaRef;\n"
           "    else if (d3d_alphaFunc == 6) pass = a != d3d_alphaRef;\n"
           "    else if (d3d_alphaFunc == 7) pass = a >= d3d_alphaRef;\n"
           "    if (!pass) discard;\n"
           "}\n";
}

int D3D9_AttributeLocation(BYTE usage, BYTE index) {
    switch (usage) {
        case D3DDECLUSAGE_POSITION:
        case D3DDECLUSAGE_POSITIONT: return index == 0 ? 0 : -1;
        case D3DDECLUSAGE_COLOR: return index == 0 ? 1 : index == 1 ? 7 : -1;
        case D3DDECLUSAGE_TEXCOORD: return index == 0 ? 2 : index == 1 ? 6 : index < 8 ? 6 + index : -1;
        case D3DDECLUSAGE_NORMAL: return index == 0 ? 3 : -1;
        case D3DDECLUSAGE_TANGENT: return index == 0 ? 4 : -1;
        case D3DDECLUSAGE_BINORMAL: return index == 0 ? 5 : -1;
        case D3DDECLUSAGE_BLENDWEIGHT: return index == 0 ? 14 : -1;
        case D3DDECLUSAGE_BLENDINDICES: return index == 0 ? 15 : -1;
        default: return -1;
    }
}

// ---------------------------------------------------------------- buffers

D3D9Buffer::D3D9Buffer(D3D9Device* dev, D3DRESOURCETYPE t, UINT bytes, DWORD use, D3DPOOL p, D3DFORMAT f, DWORD v)
    : device(dev), type(t), size(bytes), usage(use), pool(p), format(f), fvf(v), memory(bytes, 0) {
    ++g_D3D9LiveResources;
    device->AddRef();
    if (pool == D3DPOOL_DEFAULT) ++device->defaultPoolObjects;
}

D3D9Buffer::~D3D9Buffer() {
    device->ForgetBuffer(this);
    if (glBuffer && device->MakeCurrent()) glDeleteBuffers(1, &glBuffer);
    if (pool == D3DPOOL_DEFAULT) --device->defaultPoolObjects;
    --g_D3D9LiveResources;
}

HRESULT D3D9Buffer::LockBytes(UINT offset, UINT bytes, void** data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked || offset > size || (bytes != 0 && bytes > size - offset)) return D3DERR_INVALIDCALL;
    if (flags & D3DLOCK_DISCARD) {
        // Cleared in place: draws already made uploaded what they read, and GL
        // gets fresh storage at the next upload, so nothing waits on them. A
        // new copy per lock cost a map and unmap of the whole buffer (a
        // particle buffer is megabytes) every frame.
        std::fill(memory.begin(), memory.end(), uint8_t{0});
    }
    locked = true;
    lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    *data = memory.data() + offset;
    return D3D_OK;
}

HRESULT D3D9Buffer::UnlockBytes() {
    if (!locked) return D3DERR_INVALIDCALL;
    locked = false;
    if (!lockReadOnly) gpuStale = true;
    return D3D_OK;
}

GLuint D3D9Buffer::GLBuffer() {
    if (!glBuffer) glGenBuffers(1, &glBuffer);
    if (gpuStale) {
        // Element arrays are bound to the array target only to fill them: the
        // binding that counts for a draw is made on the vertex array object.
        glBindBuffer(GL_ARRAY_BUFFER, glBuffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(size), memory.data(),
                     (usage & D3DUSAGE_DYNAMIC) ? GL_STREAM_DRAW : GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        gpuStale = false;
    }
    return glBuffer;
}

namespace {

template <class Base, class Desc>
class BufferOf final : public Base, public D3D9Buffer {
public:
    using D3D9Buffer::D3D9Buffer;
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override {
        int left = --refs;
        if (left == 0) {
            D3D9Device* dev = device;
            D3D9_TellReleased(static_cast<Base*>(this));
            delete this;
            dev->Release();
        }
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT GetDevice(IDirect3DDevice9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        device->AddRef();
        *out = device;
        return D3D_OK;
    }
    D3DRESOURCETYPE GetType() override { return type; }
    HRESULT Lock(UINT offset, UINT bytes, void** data, DWORD flags) override {
        return LockBytes(offset, bytes, data, flags);
    }
    HRESULT Unlock() override { return UnlockBytes(); }
    HRESULT GetDesc(Desc* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        FillDesc(desc);
        return D3D_OK;
    }

private:
    void FillDesc(D3DVERTEXBUFFER_DESC* d) { *d = {D3DFMT_VERTEXDATA, type, usage, pool, size, fvf}; }
    void FillDesc(D3DINDEXBUFFER_DESC* d) { *d = {format, type, usage, pool, size}; }
};
using VertexBuffer = BufferOf<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using IndexBuffer = BufferOf<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

D3D9Buffer* BufferOfVB(IDirect3DVertexBuffer9* b) { return b ? static_cast<VertexBuffer*>(b) : nullptr; }
D3D9Buffer* BufferOfIB(IDirect3DIndexBuffer9* b) { return b ? static_cast<IndexBuffer*>(b) : nullptr; }

}  // namespace

HRESULT D3D9Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, void*) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || pool == D3DPOOL_SCRATCH || (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
        return D3DERR_INVALIDCALL;
    *buffer = new VertexBuffer(this, D3DRTYPE_VERTEXBUFFER, length, usage, pool, D3DFMT_VERTEXDATA, fvf);
    return D3D_OK;
}

HRESULT D3D9Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, void*) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || pool == D3DPOOL_SCRATCH || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) ||
        (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)))
        return D3DERR_INVALIDCALL;
    *buffer = new IndexBuffer(this, D3DRTYPE_INDEXBUFFER, length, usage, pool, format, 0);
    return D3D_OK;
}

void D3D9Device::ForgetBuffer(D3D9Buffer* buffer) {
    for (auto& s : state_.streams)
        if (s.buffer && BufferOfVB(s.buffer) == buffer) s = {nullptr, 0, 0};
    if (state_.indices && BufferOfIB(state_.indices) == buffer) state_.indices = nullptr;
    DeleteVertexArrays(buffer->serial);
}

// ---------------------------------------------------------------- declarations

bool D3D9_ReadDeclaration(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* out) {
    if (!elements) return false;
    out->clear();
    for (UINT i = 0; i <= MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream == 0xFF) return e.Type == D3DDECLTYPE_UNUSED;
        if (e.Stream >= 16 || e.Type >= D3DDECLTYPE_UNUSED || e.Usage > D3DDECLUSAGE_SAMPLE) return false;
        out->push_back(e);
    }
    return false;
}

D3D9Declaration::D3D9Declaration(IDirect3DDevice9* device, const D3DVERTEXELEMENT9* list, UINT count)
    : elements(list, list + count), device_(device) {
    ++g_D3D9LiveResources;
    device_->AddRef();
}

D3D9Declaration::~D3D9Declaration() { --g_D3D9LiveResources; }

ULONG D3D9Declaration::Release() {
    int left = --refs_;
    if (left == 0) {
        IDirect3DDevice9* dev = device_;
        if (auto* own = dynamic_cast<D3D9Device*>(dev)) own->ForgetDeclaration(this);
        D3D9_TellReleased(static_cast<IDirect3DVertexDeclaration9*>(this));
        delete this;
        dev->Release();
    }
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

HRESULT D3D9Declaration::GetDevice(IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *out = device_;
    return D3D_OK;
}

HRESULT D3D9Declaration::GetDeclaration(D3DVERTEXELEMENT9* out, UINT* count) {
    if (!count) return D3DERR_INVALIDCALL;
    *count = static_cast<UINT>(elements.size()) + 1;
    if (out) {
        std::copy(elements.begin(), elements.end(), out);
        out[elements.size()] = D3DDECL_END();
    }
    return D3D_OK;
}

HRESULT D3D9Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                            IDirect3DVertexDeclaration9** declaration) {
    if (!declaration) return D3DERR_INVALIDCALL;
    *declaration = nullptr;
    std::vector<D3DVERTEXELEMENT9> list;
    if (!D3D9_ReadDeclaration(elements, &list)) return D3DERR_INVALIDCALL;
    // Only the types the capabilities offer can be made.
    for (const auto& e : list)
        if (e.Type >= D3DDECLTYPE_UBYTE4 && e.Type != D3DDECLTYPE_D3DCOLOR) {
            static constexpr DWORD bits[17] = {0,
                                               0,
                                               0,
                                               0,
                                               0,
                                               D3DDTCAPS_UBYTE4,
                                               0,
                                               0,
                                               D3DDTCAPS_UBYTE4N,
                                               D3DDTCAPS_SHORT2N,
                                               D3DDTCAPS_SHORT4N,
                                               D3DDTCAPS_USHORT2N,
                                               D3DDTCAPS_USHORT4N,
                                               D3DDTCAPS_UDEC3,
                                               D3DDTCAPS_DEC3N,
                                               D3DDTCAPS_FLOAT16_2,
                                               D3DDTCAPS_FLOAT16_4};
            if (bits[e.Type] && !(caps_.DeclTypes & bits[e.Type])) return D3DERR_INVALIDCALL;
        }
    *declaration = new D3D9Declaration(this, list.data(), static_cast<UINT>(list.size()));
    return D3D_OK;
}

void D3D9Device::ForgetDeclaration(D3D9Declaration* declaration) {
    if (state_.declaration == declaration) state_.declaration = nullptr;
    DeleteVertexArrays(declaration->serial);
}

HRESULT D3D9Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    state_.declaration = declaration;
    if (declaration) state_.fvf = 0;
    return D3D_OK;
}

HRESULT D3D9Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) {
    if (!declaration) return D3DERR_INVALIDCALL;
    *declaration = state_.declaration;
    if (*declaration) (*declaration)->AddRef();
    return D3D_OK;
}

HRESULT D3D9Device::SetFVF(DWORD fvf) {
    state_.fvf = fvf;
    if (fvf) state_.declaration = nullptr;
    return D3D_OK;
}

HRESULT D3D9Device::GetFVF(DWORD* fvf) {
    if (!fvf) return D3DERR_INVALIDCALL;
    *fvf = state_.fvf;
    return D3D_OK;
}

// The elements of a flag word, in the order and sizes of the vertex it
// describes; false for a word no vertex can have.
static bool ElementsOfFVF(DWORD fvf, std::vector<D3DVERTEXELEMENT9>* out) {
    out->clear();
    WORD offset = 0;
    auto add = [&](BYTE type, BYTE usage, BYTE index) {
        out->push_back({0, offset, type, 0, usage, index});
        offset = static_cast<WORD>(offset + D3DDeclTypeSize(type));
    };
    DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZRHW) {
        add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0);
    } else if (position == D3DFVF_XYZW) {
        add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0);
    } else if (position == D3DFVF_XYZ) {
        add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    } else if (position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5 && !(position & 1)) {
        add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
        int betas = static_cast<int>((position - D3DFVF_XYZB1) / 2 + 1);
        bool indices = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
        int weights = indices ? betas - 1 : betas;
        if (weights > 0) add(static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + weights - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
        if (indices)
            add((fvf & D3DFVF_LASTBETA_D3DCOLOR) ? D3DDECLTYPE_D3DCOLOR : D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES,
                0);
    } else if (position != 0) {
        return false;
    }
    if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (fvf & D3DFVF_PSIZE) add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (fvf & D3DFVF_DIFFUSE) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (sets > 8) return false;
    for (DWORD i = 0; i < sets; ++i) {
        static constexpr BYTE kTypes[4] = {D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3, D3DDECLTYPE_FLOAT4,
                                           D3DDECLTYPE_FLOAT1};
        add(kTypes[(fvf >> (16 + 2 * i)) & 3], D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i));
    }
    return !out->empty();
}

// ---------------------------------------------------------------- streams

HRESULT D3D9Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    if (stream >= state_.streams.size() || stride > caps_.MaxStreamStride) return D3DERR_INVALIDCALL;
    state_.streams[stream] = {buffer, offset, stride};
    return D3D_OK;
}

HRESULT D3D9Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) {
    if (stream >= state_.streams.size() || !buffer || !offset || !stride) return D3DERR_INVALIDCALL;
    const auto& s = state_.streams[stream];
    *buffer = s.buffer;
    if (*buffer) (*buffer)->AddRef();
    *offset = s.offset;
    *stride = s.stride;
    return D3D_OK;
}

HRESULT D3D9Device::SetIndices(IDirect3DIndexBuffer9* buffer) {
    state_.indices = buffer;
    return D3D_OK;
}

HRESULT D3D9Device::GetIndices(IDirect3DIndexBuffer9** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = state_.indices;
    if (*buffer) (*buffer)->AddRef();
    return D3D_OK;
}

// ---------------------------------------------------------------- recorded only

HRESULT D3D9Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix || state > D3DTS_WORLDMATRIX(255)) return D3DERR_INVALIDCALL;
    state_.transforms[state] = *matrix;
    return D3D_OK;
}

HRESULT D3D9Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || state > D3DTS_WORLDMATRIX(255)) return D3DERR_INVALIDCALL;
    auto it = state_.transforms.find(state);
    if (it != state_.transforms.end()) {
        *matrix = it->second;
    } else {
        *matrix = {};
        for (int i = 0; i < 4; ++i) matrix->m[i][i] = 1.0f;
    }
    return D3D_OK;
}

HRESULT D3D9Device::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    state_.material = *material;
    return D3D_OK;
}

HRESULT D3D9Device::GetMaterial(D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    *material = state_.material;
    return D3D_OK;
}

HRESULT D3D9Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light) return D3DERR_INVALIDCALL;
    state_.lights[index] = *light;
    return D3D_OK;
}

HRESULT D3D9Device::GetLight(DWORD index, D3DLIGHT9* light) {
    auto it = state_.lights.find(index);
    if (!light || it == state_.lights.end()) return D3DERR_INVALIDCALL;
    *light = it->second;
    return D3D_OK;
}

HRESULT D3D9Device::LightEnable(DWORD index, BOOL enable) {
    // As the platform does: enabling a light never set gives it the default light.
    if (!state_.lights.count(index)) {
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        l.Direction = {0.0f, 0.0f, 1.0f};
        state_.lights[index] = l;
    }
    state_.lightEnabled[index] = enable ? 1 : 0;
    return D3D_OK;
}

HRESULT D3D9Device::GetLightEnable(DWORD index, BOOL* enable) {
    auto it = state_.lightEnabled.find(index);
    if (!enable || it == state_.lightEnabled.end()) return D3DERR_INVALIDCALL;
    *enable = it->second;
    return D3D_OK;
}

HRESULT D3D9Device::SetNPatchMode(float segments) {
    state_.nPatchMode = segments;
    return D3D_OK;
}

float D3D9Device::GetNPatchMode() { return state_.nPatchMode; }

HRESULT D3D9Device::SetSoftwareVertexProcessing(BOOL software) {
    // Only a mixed-processing device may switch.
    if (!(behavior_ & D3DCREATE_MIXED_VERTEXPROCESSING)) return D3DERR_INVALIDCALL;
    state_.softwareVertexProcessing = software ? 1 : 0;
    return D3D_OK;
}

BOOL D3D9Device::GetSoftwareVertexProcessing() {
    return (behavior_ & D3DCREATE_SOFTWARE_VERTEXPROCESSING) ? 1 : state_.softwareVertexProcessing;
}

HRESULT D3D9Device::SetVertexShader(IDirect3DVertexShader9* shader) {
    state_.vertexShader = shader;
    return D3D_OK;
}

HRESULT D3D9Device::GetVertexShader(IDirect3DVertexShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = state_.vertexShader;
    if (*shader) (*shader)->AddRef();
    return D3D_OK;
}

void D3D9Device::ForgetShaders(IDirect3DVertexShader9* vertexShader, IDirect3DPixelShader9* pixelShader) {
    if (state_.vertexShader == vertexShader) state_.vertexShader = nullptr;
    if (state_.pixelShader == pixelShader) state_.pixelShader = nullptr;
}

HRESULT D3D9Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    state_.pixelShader = shader;
    return D3D_OK;
}

HRESULT D3D9Device::GetPixelShader(IDirect3DPixelShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = state_.pixelShader;
    if (*shader) (*shader)->AddRef();
    return D3D_OK;
}

template <class T, size_t N>
static HRESULT SetConstants(std::array<T, N>& registers, UINT width, UINT start, const T* values, UINT count) {
    if (!values || start > N / width || count > N / width - start) return D3DERR_INVALIDCALL;
    std::copy(values, values + static_cast<size_t>(count) * width,
              registers.begin() + static_cast<size_t>(start) * width);
    return D3D_OK;
}

HRESULT D3D9Device::SetVertexShaderConstantF(UINT start, const float* v, UINT count) {
    return SetConstants(state_.vsFloat, 4, start, v, count);
}
HRESULT D3D9Device::SetVertexShaderConstantI(UINT start, const int* v, UINT count) {
    return SetConstants(state_.vsInt, 4, start, v, count);
}
HRESULT D3D9Device::SetVertexShaderConstantB(UINT start, const BOOL* v, UINT count) {
    return SetConstants(state_.vsBool, 1, start, v, count);
}
HRESULT D3D9Device::SetPixelShaderConstantF(UINT start, const float* v, UINT count) {
    return SetConstants(state_.psFloat, 4, start, v, count);
}
HRESULT D3D9Device::SetPixelShaderConstantI(UINT start, const int* v, UINT count) {
    return SetConstants(state_.psInt, 4, start, v, count);
}
HRESULT D3D9Device::SetPixelShaderConstantB(UINT start, const BOOL* v, UINT count) {
    return SetConstants(state_.psBool, 1, start, v, count);
}

UINT D3D9Device::GetAvailableTextureMem() { return D3D9_VideoMemoryBytes(); }

// ---------------------------------------------------------------- Direct3D state onto GL

namespace {

float FloatOf(DWORD bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

GLenum GLCompare(DWORD f) {
    switch (f) {
        case D3DCMP_NEVER: return GL_NEVER;
        case D3DCMP_LESS: return GL_LESS;
        case D3DCMP_EQUAL: return GL_EQUAL;
        case D3DCMP_LESSEQUAL: return GL_LEQUAL;
        case D3DCMP_GREATER: return GL_GREATER;
        case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

GLenum GLBlend(DWORD b) {
    switch (b) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
        case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
        default: return GL_ONE;
    }
}

// The two legacy factors set both sides at once.
void BlendPair(DWORD src, DWORD dst, GLenum* s, GLenum* d) {
    if (src == D3DBLEND_BOTHSRCALPHA) {
        *s = GL_SRC_ALPHA;
        *d = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
        *s = GL_ONE_MINUS_SRC_ALPHA;
        *d = GL_SRC_ALPHA;
    } else {
        *s = GLBlend(src);
        *d = GLBlend(dst);
    }
}

GLenum GLBlendOp(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN: return GL_MIN;
        case D3DBLENDOP_MAX: return GL_MAX;
        default: return GL_FUNC_ADD;
    }
}

GLenum GLStencilOp(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
        default: return GL_KEEP;
    }
}

GLint GLAddress(DWORD a) {
    switch (a) {
        case D3DTADDRESS_MIRROR:
        case D3DTADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        default: return GL_REPEAT;
    }
}

GLint GLMinFilter(DWORD min, DWORD mip) {
    bool linear = min == D3DTEXF_LINEAR || min == D3DTEXF_ANISOTROPIC;
    if (mip == D3DTEXF_POINT) return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    if (mip == D3DTEXF_LINEAR) return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    return linear ? GL_LINEAR : GL_NEAREST;
}

bool Differs(const std::array<DWORD, D3D9_RENDER_STATE_COUNT>& a, const std::array<DWORD, D3D9_RENDER_STATE_COUNT>& b,
             std::initializer_list<D3DRENDERSTATETYPE> states) {
    for (D3DRENDERSTATETYPE s : states)
        if (a[s] != b[s]) return true;
    return false;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

}  // namespace

// ---------------------------------------------------------------- GL bindings

void D3D9Device::UseProgram(GLuint program) {
    if (bound_.program == program) return;
    glUseProgram(program);
    bound_.program = program;
}

void D3D9Device::BindVertexArray(GLuint vao) {
    if (bound_.vao == vao) return;
    glBindVertexArray(vao);
    bound_.vao = vao;
}

void D3D9Device::BindFramebuffer(GLenum target, GLuint framebuffer) {
    bool draw = target != GL_READ_FRAMEBUFFER, read = target != GL_DRAW_FRAMEBUFFER;
    if ((!draw || bound_.drawFramebuffer == framebuffer) && (!read || bound_.readFramebuffer == framebuffer)) return;
    glBindFramebuffer(target, framebuffer);
    if (draw) bound_.drawFramebuffer = framebuffer;
    if (read) bound_.readFramebuffer = framebuffer;
}

void D3D9Device::BindTexture(GLuint unit, GLenum target, GLuint texture) {
    GLuint& slot = target == GL_TEXTURE_CUBE_MAP ? bound_.textureCube[unit] : bound_.texture2D[unit];
    if (slot == texture) return;
    if (bound_.activeUnit != unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        bound_.activeUnit = unit;
    }
    glBindTexture(target, texture);
    slot = texture;
}

void D3D9Device::TextureUnitDisturbed() {
    GLuint unit = bound_.activeUnit;
    if (unit < D3D9_MAX_SAMPLERS) {
        bound_.texture2D[unit] = bound_.textureCube[unit] = kUnknown;
    } else {
        bound_.texture2D.fill(kUnknown);
        bound_.textureCube.fill(kUnknown);
    }
}

void D3D9Device::DeleteTexture(GLuint texture) {
    if (!texture) return;
    // GL unbinds a deleted texture from the units of the current context.
    for (GLuint& t : bound_.texture2D)
        if (t == texture) t = 0;
    for (GLuint& t : bound_.textureCube)
        if (t == texture) t = 0;
    glDeleteTextures(1, &texture);
}

void D3D9Device::DeleteProgram(GLuint program) {
    if (!program) return;
    // A deleted program stays in use, and keeps its name, until another is used.
    if (bound_.program == program || bound_.program == kUnknown) {
        glUseProgram(0);
        bound_.program = 0;
    }
    preludeUniforms_.erase(program);
    glDeleteProgram(program);
}

void D3D9Device::InvalidateFlushedState() {
    flushed_.dirty = kAllGroups;
    bound_ = Bindings{};
    samplerApplied_.fill(false);
}

void D3D9Device::DeleteVertexArrays(uint64_t serial) {
    bool current = false;
    for (size_t i = 0; i < vertexArrays_.size();) {
        const std::vector<uint64_t>& k = vertexArrays_[i].key;
        bool names = k[0] == serial || k[1] == serial;
        for (size_t e = 2; e < k.size() && !names; e += 3) names = k[e] == serial;
        if (!names) {
            ++i;
            continue;
        }
        if (!current && !MakeCurrent()) {
            // No context left to delete in: the arrays went with it.
            vertexArrays_.erase(vertexArrays_.begin() + static_cast<long>(i));
            continue;
        }
        current = true;
        GLuint vao = vertexArrays_[i].vao;
        if (bound_.vao == vao) bound_.vao = 0;  // GL unbinds a deleted array
        glDeleteVertexArrays(1, &vao);
        vertexArrays_.erase(vertexArrays_.begin() + static_cast<long>(i));
    }
    lastVertexArray_ = 0;
}

// ---------------------------------------------------------------- Direct3D state onto GL

void D3D9Device::FlushState() {
    const auto& r = state_.render;
    auto& f = flushed_.render;
    unsigned dirty = flushed_.dirty;
    // Whether there is a depth buffer decides the depth and stencil tests as
    // much as the states do.
    bool hasDepth = depthStencil_ != nullptr;
    if (hasDepth != flushed_.hasDepth) dirty |= kDepthGroup | kStencilGroup;
    if ((dirty & kDepthGroup) || Differs(r, f, {D3DRS_ZENABLE, D3DRS_ZWRITEENABLE, D3DRS_ZFUNC})) {
        if (r[D3DRS_ZENABLE] != D3DZB_FALSE && hasDepth) glEnable(GL_DEPTH_TEST);
        else glDisable(GL_DEPTH_TEST);
        glDepthMask(r[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
        glDepthFunc(GLCompare(r[D3DRS_ZFUNC]));
    }
    if ((dirty & kBlendGroup) ||
        Differs(r, f,
                {D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND, D3DRS_DESTBLEND, D3DRS_BLENDOP, D3DRS_SEPARATEALPHABLENDENABLE,
                 D3DRS_SRCBLENDALPHA, D3DRS_DESTBLENDALPHA, D3DRS_BLENDOPALPHA, D3DRS_BLENDFACTOR})) {
        if (r[D3DRS_ALPHABLENDENABLE]) glEnable(GL_BLEND);
        else glDisable(GL_BLEND);
        GLenum s, d, sa, da;
        BlendPair(r[D3DRS_SRCBLEND], r[D3DRS_DESTBLEND], &s, &d);
        GLenum op = GLBlendOp(r[D3DRS_BLENDOP]), opa = op;
        if (r[D3DRS_SEPARATEALPHABLENDENABLE]) {
            BlendPair(r[D3DRS_SRCBLENDALPHA], r[D3DRS_DESTBLENDALPHA], &sa, &da);
            opa = GLBlendOp(r[D3DRS_BLENDOPALPHA]);
        } else {
            sa = s;
            da = d;
        }
        glBlendFuncSeparate(s, d, sa, da);
        glBlendEquationSeparate(op, opa);
        DWORD c = r[D3DRS_BLENDFACTOR];
        glBlendColor(((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f,
                     ((c >> 24) & 0xFF) / 255.0f);
    }
    if ((dirty & kColorMaskGroup) || Differs(r, f, {D3DRS_COLORWRITEENABLE})) {
        DWORD m = r[D3DRS_COLORWRITEENABLE];
        glColorMask(m & 1 ? GL_TRUE : GL_FALSE, m & 2 ? GL_TRUE : GL_FALSE, m & 4 ? GL_TRUE : GL_FALSE,
                    m & 8 ? GL_TRUE : GL_FALSE);
    }
    if ((dirty & kCullGroup) || Differs(r, f, {D3DRS_CULLMODE})) {
        // Rows are in memory order and y is negated on the way to GL, so a
        // triangle Direct3D sees clockwise is counter-clockwise to GL: GL's
        // front faces are Direct3D's clockwise ones.
        glFrontFace(GL_CCW);
        if (r[D3DRS_CULLMODE] == D3DCULL_CCW) {
            glEnable(GL_CULL_FACE);
            glCullFace(GL_BACK);
        } else if (r[D3DRS_CULLMODE] == D3DCULL_CW) {
            glEnable(GL_CULL_FACE);
            glCullFace(GL_FRONT);
        } else {
            glDisable(GL_CULL_FACE);
        }
    }
    if ((dirty & kStencilGroup) ||
        Differs(r, f,
                {D3DRS_STENCILENABLE, D3DRS_STENCILFUNC, D3DRS_STENCILREF, D3DRS_STENCILMASK, D3DRS_STENCILWRITEMASK,
                 D3DRS_STENCILFAIL, D3DRS_STENCILZFAIL, D3DRS_STENCILPASS})) {
        if (r[D3DRS_STENCILENABLE] && hasDepth) glEnable(GL_STENCIL_TEST);
        else glDisable(GL_STENCIL_TEST);
        glStencilFunc(GLCompare(r[D3DRS_STENCILFUNC]), static_cast<GLint>(r[D3DRS_STENCILREF] & 0xFF),
                      r[D3DRS_STENCILMASK]);
        glStencilMask(r[D3DRS_STENCILWRITEMASK]);
        glStencilOp(GLStencilOp(r[D3DRS_STENCILFAIL]), GLStencilOp(r[D3DRS_STENCILZFAIL]),
                    GLStencilOp(r[D3DRS_STENCILPASS]));
    }
    if ((dirty & kFillGroup) || Differs(r, f, {D3DRS_FILLMODE})) {
        DWORD m = r[D3DRS_FILLMODE];
        glPolygonMode(GL_FRONT_AND_BACK, m == 1 ? GL_POINT : m == 2 ? GL_LINE : GL_FILL);
        // Scissor rectangles are not drawn: whoever enables the test for a
        // clear or a copy disables it again.
        glDisable(GL_SCISSOR_TEST);
    }
    f = r;
    flushed_.hasDepth = hasDepth;
    flushed_.dirty = 0;

    // The prelude's uniforms (an effect's program has no stage uniforms).
    PreludeUniforms& u = PreludeOf(activeProgram_);
    const D3DVIEWPORT9& vp = state_.viewport;
    const float half[2] = {vp.Width ? 1.0f / static_cast<float>(vp.Width) : 0.0f,
                           vp.Height ? 1.0f / static_cast<float>(vp.Height) : 0.0f};
    if (half[0] != u.halfPixelValue[0] || half[1] != u.halfPixelValue[1]) {
        glUniform2f(u.halfPixel, half[0], half[1]);
        u.halfPixelValue[0] = half[0];
        u.halfPixelValue[1] = half[1];
    }
    const GLint alphaFunc =
        r[D3DRS_ALPHATESTENABLE] ? static_cast<GLint>(std::clamp<DWORD>(r[D3DRS_ALPHAFUNC], 1, 8)) : 0;
    if (alphaFunc != u.alphaFuncValue) {
        glUniform1i(u.alphaFunc, alphaFunc);
        u.alphaFuncValue = alphaFunc;
    }
    const float alphaRef = static_cast<float>(r[D3DRS_ALPHAREF] & 0xFF);
    if (alphaFunc != 0 && alphaRef != u.alphaRefValue) {
        glUniform1f(u.alphaRef, alphaRef);
        u.alphaRefValue = alphaRef;
    }
}

void D3D9Device::FlushViewport() {
    // Rows of every target are in memory order, so Direct3D's rectangle is
    // GL's as it is.
    const D3DVIEWPORT9& vp = state_.viewport;
    const D3DVIEWPORT9& was = bound_.viewport;
    if (bound_.viewportKnown && vp.X == was.X && vp.Y == was.Y && vp.Width == was.Width && vp.Height == was.Height &&
        vp.MinZ == was.MinZ && vp.MaxZ == was.MaxZ)
        return;
    glViewport(static_cast<GLint>(vp.X), static_cast<GLint>(vp.Y), static_cast<GLsizei>(vp.Width),
               static_cast<GLsizei>(vp.Height));
    glDepthRange(vp.MinZ, vp.MaxZ);
    bound_.viewport = vp;
    bound_.viewportKnown = true;
}

D3D9Device::PreludeUniforms& D3D9Device::PreludeOf(GLuint program) {
    auto it = preludeUniforms_.find(program);
    if (it != preludeUniforms_.end()) return it->second;
    PreludeUniforms& u = preludeUniforms_[program];
    u.halfPixel = glGetUniformLocation(program, "d3d_halfPixel");
    u.alphaFunc = glGetUniformLocation(program, "d3d_alphaFunc");
    u.alphaRef = glGetUniformLocation(program, "d3d_alphaRef");
    return u;
}

// Uploads a uniform's values when they differ from the last upload.
template <class T, size_t N, class Upload>
static void UploadChanged(T (&last)[N], const T (&now)[N], size_t count, Upload upload) {
    if (std::memcmp(last, now, sizeof(T) * count) == 0) return;
    std::memcpy(last, now, sizeof(T) * count);
    upload();
}

void D3D9Device::SetFixedFunctionUniforms(bool pretransformed, unsigned textures2D) {
    FixedUniforms& u = fixed_;
    const auto& r = state_.render;
    const GLint pre[1] = {pretransformed ? 1 : 0};
    UploadChanged(u.pretransformedValue, pre, 1, [&] { glUniform1i(u.pretransformed, pre[0]); });
    // Stages run up to the first disabled colour operation.
    GLint stages = 0;
    GLint colour[D3D9_MAX_STAGES * 4] = {}, alpha[D3D9_MAX_STAGES * 4] = {}, coords[D3D9_MAX_STAGES] = {};
    while (stages < static_cast<GLint>(D3D9_MAX_STAGES)) {
        const auto& st = state_.stage[static_cast<size_t>(stages)];
        if (st[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
        GLint* c = colour + stages * 4;
        GLint* a = alpha + stages * 4;
        c[0] = static_cast<GLint>(st[D3DTSS_COLOROP]);
        c[1] = static_cast<GLint>(st[D3DTSS_COLORARG1]);
        c[2] = static_cast<GLint>(st[D3DTSS_COLORARG2]);
        a[0] = static_cast<GLint>(st[D3DTSS_ALPHAOP]);
        a[1] = static_cast<GLint>(st[D3DTSS_ALPHAARG1]);
        a[2] = static_cast<GLint>(st[D3DTSS_ALPHAARG2]);
        coords[stages] = static_cast<GLint>(std::min<DWORD>(st[D3DTSS_TEXCOORDINDEX] & 0xFFFF, 7));
        ++stages;
    }
    const GLint count[1] = {stages};
    UploadChanged(u.stageCountValue, count, 1, [&] { glUniform1i(u.stageCount, stages); });
    const auto n = static_cast<size_t>(std::max(stages, 1));
    UploadChanged(u.stageColorValue, colour, n * 4,
                  [&] { glUniform4iv(u.stageColor, static_cast<GLsizei>(n), colour); });
    UploadChanged(u.stageAlphaValue, alpha, n * 4, [&] { glUniform4iv(u.stageAlpha, static_cast<GLsizei>(n), alpha); });
    UploadChanged(u.texCoordIndexValue, coords, n,
                  [&] { glUniform1iv(u.texCoordIndex, static_cast<GLsizei>(n), coords); });
    const GLint bound[1] = {static_cast<GLint>(textures2D & 0xFF)};
    UploadChanged(u.textures2DValue, bound, 1, [&] { glUniform1i(u.textures2D, bound[0]); });
    DWORD tf = r[D3DRS_TEXTUREFACTOR];
    const float factor[4] = {((tf >> 16) & 0xFF) / 255.0f, ((tf >> 8) & 0xFF) / 255.0f, (tf & 0xFF) / 255.0f,
                             ((tf >> 24) & 0xFF) / 255.0f};
    UploadChanged(u.textureFactorValue, factor, 4, [&] { glUniform4fv(u.textureFactor, 1, factor); });
    const D3DVIEWPORT9& vp = state_.viewport;
    if (pretransformed) {
        const float rect[4] = {static_cast<float>(vp.X), static_cast<float>(vp.Y), static_cast<float>(vp.Width),
                               static_cast<float>(vp.Height)};
        UploadChanged(u.viewportValue, rect, 4, [&] { glUniform4fv(u.viewport, 1, rect); });
        return;
    }
    D3DMATRIX world, view, projection;
    GetTransform(D3DTS_WORLD, &world);
    GetTransform(D3DTS_VIEW, &view);
    GetTransform(D3DTS_PROJECTION, &projection);
    D3DMATRIX wvp = Multiply(Multiply(world, view), projection);
    // Direct3D multiplies row vectors by row-major matrices: read as GL's
    // column-major, the same floats are the transposed matrix GL multiplies.
    float m[16];
    std::memcpy(m, &wvp.m[0][0], sizeof m);
    UploadChanged(u.worldViewProjectionValue, m, 16,
                  [&] { glUniformMatrix4fv(u.worldViewProjection, 1, GL_FALSE, m); });
}

unsigned D3D9Device::BindTextures() {
    if (!samplers_[0]) glGenSamplers(D3D9_MAX_SAMPLERS, samplers_);
    static const bool anisotropy = epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
                                   epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic");
    unsigned textures2D = 0;
    for (GLuint i = 0; i < D3D9_MAX_SAMPLERS; ++i) {
        IDirect3DBaseTexture9* texture = state_.textures[i];
        auto* base = texture ? dynamic_cast<D3D9BaseTexture*>(texture) : nullptr;
        if (!base) {
            if (bound_.texture2D[i] != 0) BindTexture(i, GL_TEXTURE_2D, 0);
            if (bound_.textureCube[i] != 0) BindTexture(i, GL_TEXTURE_CUBE_MAP, 0);
            continue;
        }
        GLenum target = base->GLBindTarget();
        BindTexture(i, target, base->GLName());
        if (target == GL_TEXTURE_2D) textures2D |= 1u << i;
        const auto& s = state_.sampler[i];
        if (!samplerApplied_[i] || s != appliedSampler_[i]) {
            GLuint g = samplers_[i];
            glSamplerParameteri(g, GL_TEXTURE_WRAP_S, GLAddress(s[D3DSAMP_ADDRESSU]));
            glSamplerParameteri(g, GL_TEXTURE_WRAP_T, GLAddress(s[D3DSAMP_ADDRESSV]));
            glSamplerParameteri(g, GL_TEXTURE_WRAP_R, GLAddress(s[D3DSAMP_ADDRESSW]));
            DWORD b = s[D3DSAMP_BORDERCOLOR];
            GLfloat border[4] = {((b >> 16) & 0xFF) / 255.0f, ((b >> 8) & 0xFF) / 255.0f, (b & 0xFF) / 255.0f,
                                 ((b >> 24) & 0xFF) / 255.0f};
            glSamplerParameterfv(g, GL_TEXTURE_BORDER_COLOR, border);
            DWORD mag = s[D3DSAMP_MAGFILTER];
            glSamplerParameteri(g, GL_TEXTURE_MAG_FILTER,
                                mag == D3DTEXF_LINEAR || mag == D3DTEXF_ANISOTROPIC ? GL_LINEAR : GL_NEAREST);
            glSamplerParameteri(g, GL_TEXTURE_MIN_FILTER, GLMinFilter(s[D3DSAMP_MINFILTER], s[D3DSAMP_MIPFILTER]));
            glSamplerParameterf(g, GL_TEXTURE_LOD_BIAS, FloatOf(s[D3DSAMP_MIPMAPLODBIAS]));
            glSamplerParameterf(g, GL_TEXTURE_MIN_LOD, static_cast<float>(s[D3DSAMP_MAXMIPLEVEL]));
            if (anisotropy) {
                bool aniso = s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || mag == D3DTEXF_ANISOTROPIC;
                glSamplerParameterf(g, GL_TEXTURE_MAX_ANISOTROPY_EXT,
                                    aniso ? static_cast<float>(std::max<DWORD>(1, s[D3DSAMP_MAXANISOTROPY])) : 1.0f);
            }
            appliedSampler_[i] = s;
            samplerApplied_[i] = true;
        }
        if (bound_.sampler[i] != samplers_[i]) {
            glBindSampler(i, samplers_[i]);
            bound_.sampler[i] = samplers_[i];
        }
    }
    return textures2D;
}

// ---------------------------------------------------------------- the built-in program

// The fixed-function subset the engine draws without shaders: positions
// through the recorded transforms or pre-transformed, the diffuse and
// specular colours (white and black when the vertices have none) and the
// texture stages up to the first disabled one, each reading its texture with
// the coordinate set it names.
bool D3D9Device::EnsureDrawProgram() {
    if (drawProgram_) return true;
    static const char* vs =
        "layout(location = 0) in vec4 inPosition;\n"
        "layout(location = 1) in vec4 inColor;\n"
        "layout(location = 7) in vec4 inSpecular;\n"
        "layout(location = 2) in vec4 inTex0;\n"
        "layout(location = 6) in vec4 inTex1;\n"
        "layout(location = 8) in vec4 inTex2;\n"
        "layout(location = 9) in vec4 inTex3;\n"
        "layout(location = 10) in vec4 inTex4;\n"
        "layout(location = 11) in vec4 inTex5;\n"
        "layout(location = 12) in vec4 inTex6;\n"
        "layout(location = 13) in vec4 inTex7;\n"
        "uniform bool pretransformed;\n"
        "uniform vec4 viewport;\n"
        "uniform mat4 worldViewProjection;\n"
        "uniform int texCoordIndex[8];\n"
        "uniform int stageCount;\n"
        "out vec4 vColor;\n"
        "out vec4 vSpecular;\n"
        "out vec2 vTex[8];\n"
        "void main() {\n"
        "    vec4 p;\n"
        "    if (pretransformed) {\n"
        "        float w = inPosition.w != 0.0 ? 1.0 / inPosition.w : 1.0;\n"
        "        p = vec4((inPosition.x - viewport.x) / viewport.z * 2.0 - 1.0,\n"
        "                 1.0 - (inPosition.y - viewport.y) / viewport.w * 2.0, inPosition.z, 1.0) * w;\n"
        "    } else {\n"
        "        p = worldViewProjection * inPosition;\n"
        "    }\n"
        "    gl_Position = d3d_ClipToGL(p);\n"
        "    vColor = inColor;\n"
        "    vSpecular = inSpecular;\n"
        "    vec2 sets[8] = vec2[8](inTex0.xy, inTex1.xy, inTex2.xy, inTex3.xy, inTex4.xy, inTex5.xy, inTex6.xy,\n"
        "                           inTex7.xy);\n"
        "    for (int i = 0; i < 8; ++i) vTex[i] = i < stageCount ? sets[texCoordIndex[i]] : vec2(0.0);\n"
        "}\n";
    // Stage operations: 1 disable, 2 select 1, 3 select 2, 4 modulate, 5 and 6
    // modulate twice and four times, 7 add; arguments 0 diffuse, 1 current (the
    // diffuse at stage 0), 2 texture, 3 texture factor, 4 specular, with the
    // complement (0x10) and alpha-replicate (0x20) modifiers. An unbound
    // texture reads as opaque white.
    static const std::string fs = [] {
        std::string s =
            "in vec4 vColor;\n"
            "in vec4 vSpecular;\n"
            "in vec2 vTex[8];\n"
            "uniform sampler2D stageTexture[8];\n"
            "uniform int textures2D;\n"
            "uniform int stageCount;\n"
            "uniform ivec4 stageColor[8];\n"
            "uniform ivec4 stageAlpha[8];\n"
            "uniform vec4 tfactor;\n"
            "out vec4 fragColor;\n"
            "vec4 Arg(int a, vec4 current, vec4 t) {\n"
            "    int s = a & 15;\n"
            "    vec4 v = s == 0 ? vColor : s == 2 ? t : s == 3 ? tfactor : s == 4 ? vSpecular : current;\n"
            "    if ((a & 16) != 0) v = vec4(1.0) - v;\n"
            "    if ((a & 32) != 0) v = vec4(v.a);\n"
            "    return v;\n"
            "}\n"
            "vec4 Op(ivec4 st, vec4 current, vec4 t) {\n"
            "    vec4 a = Arg(st.y, current, t), b = Arg(st.z, current, t);\n"
            "    if (st.x == 2) return a;\n"
            "    if (st.x == 3) return b;\n"
            "    if (st.x == 4) return a * b;\n"
            "    if (st.x == 5) return 2.0 * a * b;\n"
            "    if (st.x == 6) return 4.0 * a * b;\n"
            "    if (st.x == 7) return a + b;\n"
            "    return current;\n"
            "}\n"
            "void main() {\n"
            "    vec4 current = vColor;\n";
        // Sampler arrays take constant indices only: one block per stage.
        for (int i = 0; i < static_cast<int>(D3D9_MAX_STAGES); ++i) {
            std::string n = std::to_string(i);
            s += "    if (stageCount > " + n + ") {\n" + "        vec4 t = (textures2D & " + std::to_string(1 << i) +
                 ") != 0 ? texture(stageTexture[" + n + "], vTex[" + n + "]) : vec4(1.0);\n" +
                 "        vec3 c = clamp(Op(stageColor[" + n + "], current, t).rgb, 0.0, 1.0);\n" +
                 "        float a = stageAlpha[" + n + "].x == 1 ? current.a : clamp(Op(stageAlpha[" + n +
                 "], current, t).a, 0.0, 1.0);\n" + "        current = vec4(c, a);\n" + "    }\n";
        }
        s += "    d3d_AlphaTest(current.a);\n"
             "    fragColor = current;\n"
             "}\n";
        return s;
    }();
    GLuint program = D3D9_BuildCachedProgram(D3D9_VertexPrelude(), vs, D3D9_FragmentPrelude(), fs);
    if (!program) return false;
    drawProgram_ = program;
    UseProgram(program);
    FixedUniforms& u = fixed_;
    u = FixedUniforms{};
    u.pretransformed = glGetUniformLocation(program, "pretransformed");
    u.viewport = glGetUniformLocation(program, "viewport");
    u.worldViewProjection = glGetUniformLocation(program, "worldViewProjection");
    u.texCoordIndex = glGetUniformLocation(program, "texCoordIndex");
    u.textures2D = glGetUniformLocation(program, "textures2D");
    u.stageCount = glGetUniformLocation(program, "stageCount");
    u.stageColor = glGetUniformLocation(program, "stageColor");
    u.stageAlpha = glGetUniformLocation(program, "stageAlpha");
    u.textureFactor = glGetUniformLocation(program, "tfactor");
    const GLint units[D3D9_MAX_STAGES] = {0, 1, 2, 3, 4, 5, 6, 7};
    glUniform1iv(glGetUniformLocation(program, "stageTexture"), D3D9_MAX_STAGES, units);
    glGenBuffers(1, &upBuffer_);
    return true;
}

// ---------------------------------------------------------------- draws

static UINT VertexCount(D3DPRIMITIVETYPE type, UINT primitives) {
    switch (type) {
        case D3DPT_POINTLIST: return primitives;
        case D3DPT_LINELIST: return primitives * 2;
        case D3DPT_LINESTRIP: return primitives + 1;
        case D3DPT_TRIANGLELIST: return primitives * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return primitives + 2;
        default: return 0;
    }
}

static GLenum GLPrimitive(D3DPRIMITIVETYPE type) {
    switch (type) {
        case D3DPT_POINTLIST: return GL_POINTS;
        case D3DPT_LINELIST: return GL_LINES;
        case D3DPT_LINESTRIP: return GL_LINE_STRIP;
        case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
        case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
        default: return GL_TRIANGLES;
    }
}

// How one declaration type is read by GL: components, type, normalised.
struct AttributeFormat {
    GLint size;
    GLenum type;
    GLboolean normalized;
};
static AttributeFormat FormatOfType(BYTE t) {
    switch (t) {
        case D3DDECLTYPE_FLOAT1: return {1, GL_FLOAT, GL_FALSE};
        case D3DDECLTYPE_FLOAT2: return {2, GL_FLOAT, GL_FALSE};
        case D3DDECLTYPE_FLOAT3: return {3, GL_FLOAT, GL_FALSE};
        case D3DDECLTYPE_FLOAT4: return {4, GL_FLOAT, GL_FALSE};
        case D3DDECLTYPE_D3DCOLOR: return {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE};
        case D3DDECLTYPE_UBYTE4: return {4, GL_UNSIGNED_BYTE, GL_FALSE};
        case D3DDECLTYPE_SHORT2: return {2, GL_SHORT, GL_FALSE};
        case D3DDECLTYPE_SHORT4: return {4, GL_SHORT, GL_FALSE};
        case D3DDECLTYPE_UBYTE4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE};
        case D3DDECLTYPE_SHORT2N: return {2, GL_SHORT, GL_TRUE};
        case D3DDECLTYPE_SHORT4N: return {4, GL_SHORT, GL_TRUE};
        case D3DDECLTYPE_USHORT2N: return {2, GL_UNSIGNED_SHORT, GL_TRUE};
        case D3DDECLTYPE_USHORT4N: return {4, GL_UNSIGNED_SHORT, GL_TRUE};
        // Packed 2-10-10-10: GL reads all four fields, so w is the 2-bit field,
        // which every writer of the engine leaves 0.
        case D3DDECLTYPE_UDEC3: return {4, GL_UNSIGNED_INT_2_10_10_10_REV, GL_FALSE};
        case D3DDECLTYPE_DEC3N: return {4, GL_INT_2_10_10_10_REV, GL_TRUE};
        case D3DDECLTYPE_FLOAT16_2: return {2, GL_HALF_FLOAT, GL_FALSE};
        default: return {4, GL_HALF_FLOAT, GL_FALSE};
    }
}

// Flag words have no object: their key is the word with the top bit set,
// which no serial reaches.
static constexpr uint64_t kFlagWordKey = 1ull << 63;

GLuint D3D9Device::VertexArrayFor(const std::vector<D3DVERTEXELEMENT9>& elements, D3D9Buffer* indexBuffer,
                                  GLuint upBuffer, UINT upStride) {
    std::vector<uint64_t>& key = vaoKey_;
    key.clear();
    key.push_back(state_.declaration ? static_cast<D3D9Declaration*>(state_.declaration)->serial
                                     : kFlagWordKey | state_.fvf);
    key.push_back(indexBuffer ? indexBuffer->serial : 0);
    for (const auto& e : elements) {
        if (upBuffer) {
            key.insert(key.end(), {0, 0, upStride});
        } else {
            const auto& s = state_.streams[e.Stream];
            key.insert(key.end(), {BufferOfVB(s.buffer)->serial, s.offset, s.stride});
        }
    }
    if (lastVertexArray_ < vertexArrays_.size() && vertexArrays_[lastVertexArray_].key == key)
        return vertexArrays_[lastVertexArray_].vao;
    for (size_t i = 0; i < vertexArrays_.size(); ++i)
        if (vertexArrays_[i].key == key) {
            lastVertexArray_ = i;
            return vertexArrays_[i].vao;
        }
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    BindVertexArray(vao);
    for (const auto& e : elements) {
        int location = D3D9_AttributeLocation(e.Usage, e.UsageIndex);
        if (location < 0) continue;
        GLuint buffer;
        UINT stride, offset;
        if (upBuffer) {
            buffer = upBuffer;
            stride = upStride;
            offset = 0;
        } else {
            const auto& s = state_.streams[e.Stream];
            buffer = BufferOfVB(s.buffer)->GLBuffer();
            stride = s.stride;
            offset = s.offset;
        }
        AttributeFormat f = FormatOfType(e.Type);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glEnableVertexAttribArray(static_cast<GLuint>(location));
        glVertexAttribPointer(static_cast<GLuint>(location), f.size, f.type, f.normalized, static_cast<GLsizei>(stride),
                              reinterpret_cast<const void*>(static_cast<uintptr_t>(offset + e.Offset)));
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (indexBuffer) glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer->GLBuffer());
    vertexArrays_.push_back({key, vao});
    lastVertexArray_ = vertexArrays_.size() - 1;
    return vao;
}

HRESULT D3D9Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    return Draw(type, primitiveCount, false, 0, 0, startVertex, 0, 0,
                static_cast<int64_t>(startVertex) + VertexCount(type, primitiveCount));
}

HRESULT D3D9Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int baseVertex, UINT minIndex, UINT numVertices,
                                         UINT startIndex, UINT primitiveCount) {
    if (!state_.indices) return D3DERR_INVALIDCALL;
    int64_t first = static_cast<int64_t>(baseVertex) + minIndex;
    if (first < 0) return D3DERR_INVALIDCALL;
    return Draw(type, primitiveCount, true, baseVertex, startIndex, 0, 0, 0, first + numVertices);
}

HRESULT D3D9Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) {
    if (!vertices || stride == 0) return D3DERR_INVALIDCALL;
    UINT count = VertexCount(type, primitiveCount);
    if (count == 0) return type >= D3DPT_POINTLIST && type <= D3DPT_TRIANGLEFAN ? D3D_OK : D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    if (!EnsureDrawProgram()) return D3DERR_DRIVERINTERNALERROR;
    glBindBuffer(GL_ARRAY_BUFFER, upBuffer_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * stride, vertices, GL_STREAM_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    HRESULT hr = Draw(type, primitiveCount, false, 0, 0, 0, upBuffer_, stride, count);
    // As the platform does: the call leaves stream 0 unset.
    state_.streams[0] = {nullptr, 0, 0};
    return hr;
}

HRESULT D3D9Device::Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, bool indexed, int baseVertex, UINT startIndex,
                         UINT startVertex, GLuint upBuffer, UINT upStride, int64_t vertexEnd) {
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
    UINT count = VertexCount(type, primitiveCount);
    if (count == 0) return D3D_OK;
    // Bound shader objects must be a pair of the effect system with a linked
    // program; without them the built-in program draws.
    GLuint program = 0;
    D3D9ProgramOwner* owner = nullptr;
    if ((state_.vertexShader || state_.pixelShader) &&
        !D3D9_BoundProgram(state_.vertexShader, state_.pixelShader, &program, &owner))
        return D3DERR_INVALIDCALL;
    const std::vector<D3DVERTEXELEMENT9>* elements = &fvfElements_;
    if (state_.declaration) elements = &static_cast<D3D9Declaration*>(state_.declaration)->elements;
    else if (!state_.fvf || !ElementsOfFVF(state_.fvf, &fvfElements_)) return D3DERR_INVALIDCALL;
    if (!renderTarget_) return D3DERR_INVALIDCALL;
    // Every vertex the draw may read lies inside its stream's buffer (for an
    // indexed draw, the range its caller names).
    bool pretransformed = false;
    for (const auto& e : *elements) {
        if (e.Usage == D3DDECLUSAGE_POSITIONT) pretransformed = true;
        if (upBuffer) continue;
        const auto& st = state_.streams[e.Stream];
        if (!st.buffer) return D3DERR_INVALIDCALL;
        int64_t last = static_cast<int64_t>(st.offset) + e.Offset + D3DDeclTypeSize(e.Type) +
                       (vertexEnd > 0 ? vertexEnd - 1 : 0) * static_cast<int64_t>(st.stride);
        if (last > static_cast<int64_t>(BufferOfVB(st.buffer)->size)) return D3DERR_INVALIDCALL;
    }
    D3D9Buffer* indexBuffer = indexed ? BufferOfIB(state_.indices) : nullptr;
    UINT indexSize = indexBuffer && indexBuffer->format == D3DFMT_INDEX32 ? 4 : 2;
    if (indexBuffer && (static_cast<uint64_t>(startIndex) + count) * indexSize > indexBuffer->size)
        return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    if (!EnsureDrawProgram()) return D3DERR_DRIVERINTERNALERROR;

    BindDrawTargets();
    activeProgram_ = program ? program : drawProgram_;
    UseProgram(activeProgram_);
    // Buffers written since their last draw go up before the array reads them.
    if (!upBuffer)
        for (const auto& e : *elements) BufferOfVB(state_.streams[e.Stream].buffer)->GLBuffer();
    if (indexBuffer) indexBuffer->GLBuffer();
    BindVertexArray(VertexArrayFor(*elements, indexBuffer, upBuffer, upStride));
    if (!bound_.attributeDefaults) {
        // What an attribute the vertices lack reads: white diffuse, black specular.
        glVertexAttrib4f(1, 1.0f, 1.0f, 1.0f, 1.0f);
        glVertexAttrib4f(7, 0.0f, 0.0f, 0.0f, 0.0f);
        bound_.attributeDefaults = true;
    }
    FlushState();
    FlushViewport();
    unsigned textures2D = BindTextures();
    if (activeProgram_ == drawProgram_) SetFixedFunctionUniforms(pretransformed, textures2D);
    if (owner) owner->D3D9_SetUniforms(activeProgram_);
    if (indexBuffer) {
        glDrawElementsBaseVertex(
            GLPrimitive(type), static_cast<GLsizei>(count), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
            reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * indexSize), baseVertex);
    } else {
        glDrawArrays(GLPrimitive(type), static_cast<GLint>(startVertex), static_cast<GLsizei>(count));
    }
    renderTarget_->memoryValid = false;
    renderTarget_->gpuValid = true;
    return D3D_OK;
}
