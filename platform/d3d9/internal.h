// Inside the Direct3D 9 stand-in: the implementation classes shared by
// d3d9.cpp, device.cpp and resources.cpp. Not for use outside platform/d3d9.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <map>
#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/pacing.h"

struct SDL_Window;

// How one Direct3D format is held in GL.
struct D3D9GLFormat {
    D3DFORMAT format;
    GLenum internalFormat;
    GLenum glFormat;
    GLenum glType;
    uint8_t bytesPerPixel;  // 0 for block-compressed formats
    uint8_t blockBytes;     // bytes of one 4x4 block, 0 when not compressed
    GLint swizzle[4];       // GL_RED.. per channel r, g, b, a
    bool texture;           // usable as a plain texture
    bool renderTarget;
    bool depth;
    bool stencil;
};
const D3D9GLFormat* D3D9_FindFormat(D3DFORMAT format);
// Row pitch in bytes (4-byte aligned; for compressed formats one row of blocks).
UINT D3D9_Pitch(D3DFORMAT format, UINT width);
// Rows of memory (block rows for compressed formats).
UINT D3D9_Rows(D3DFORMAT format, UINT height);
bool D3D9_IsDisplayFormat(D3DFORMAT format);
// Video memory in bytes: what the GL driver tells, else a default (see d3d9.cpp).
UINT D3D9_VideoMemoryBytes();

// Makes the context current; returns false when there is none.
bool D3D9_MakeCurrent(SDL_Window* window, void* context);
// A number no other object of the process is given: what the device's GL
// caches key on, so that an object made where a released one was never
// passes for it.
uint64_t D3D9_NextSerial();

class D3D9Device;
class D3D9BaseTexture;

// Counts live objects for tests.
extern int g_D3D9LiveDevices;
extern int g_D3D9LiveResources;

class D3D9Surface final : public IDirect3DSurface9 {
public:
    enum class Store { Memory, Texture, Renderbuffer };

    D3D9Surface(D3D9Device* device, D3D9BaseTexture* container, const D3DSURFACE_DESC& desc);
    ~D3D9Surface() override;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(IDirect3DBaseTexture9** container) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    // Creates the GL storage of a stand-alone surface; false when GL refuses.
    bool CreateStorage();
    // Pulls the GL picture into memory (when the memory copy is stale).
    bool ReadBack();
    // Pushes memory into GL: the whole picture, or only the rectangle.
    void Upload(const RECT* rect = nullptr);
    // Attaches this surface to the bound framebuffer at the attachment point.
    void Attach(GLenum target, GLenum attachment);

    D3D9Device* device;
    D3D9BaseTexture* container;  // level of a texture, or null
    D3DSURFACE_DESC desc;
    Store store = Store::Memory;
    GLuint glTexture = 0;  // own texture, or the container's
    GLenum glTarget = GL_TEXTURE_2D;
    GLint glLevel = 0;
    GLuint renderbuffer = 0;
    std::vector<uint8_t> memory;  // pitch x rows, row 0 the top row
    bool memoryValid = false;     // memory holds the current picture
    bool gpuValid = true;         // GL holds the current picture
    bool locked = false;
    bool lockable = true;
    bool implicit = false;  // back buffer or automatic depth buffer of the device
    bool lockReadOnly_ = false;
    bool lockHasRect_ = false;  // the lock covered lockRect_ only
    RECT lockRect_{};
    int refs = 1;
    const uint64_t serial = D3D9_NextSerial();
};

class D3D9BaseTexture {
public:
    virtual ~D3D9BaseTexture() = default;
    virtual void ContainerAddRef() = 0;
    virtual void ContainerRelease() = 0;
    virtual IDirect3DBaseTexture9* AsBase() = 0;
    virtual void LevelChanged(D3D9Surface*) {}
    virtual GLuint GLName() const = 0;
    virtual GLenum GLBindTarget() const = 0;
};

// Vertex and index buffers: a GL buffer with a memory copy, so that locks can
// hand out what was written last without reading GL back.
class D3D9Buffer {
public:
    D3D9Buffer(D3D9Device* device, D3DRESOURCETYPE type, UINT size, DWORD usage, D3DPOOL pool, D3DFORMAT format,
               DWORD fvf);
    virtual ~D3D9Buffer();
    HRESULT LockBytes(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT UnlockBytes();
    // The GL buffer holding the current bytes (uploaded on demand).
    GLuint GLBuffer();

    D3D9Device* device;
    D3DRESOURCETYPE type;
    UINT size;
    DWORD usage;
    D3DPOOL pool;
    D3DFORMAT format;  // INDEX16 / INDEX32 for index buffers
    DWORD fvf;
    std::vector<uint8_t> memory;
    GLuint glBuffer = 0;
    bool gpuStale = true;
    bool locked = false;
    bool lockReadOnly = false;
    int refs = 1;
    const uint64_t serial = D3D9_NextSerial();
};

// A declaration is its elements; GL attributes are set from them at draw time.
class D3D9Declaration final : public IDirect3DVertexDeclaration9 {
public:
    D3D9Declaration(IDirect3DDevice9* device, const D3DVERTEXELEMENT9* elements, UINT count);
    ~D3D9Declaration() override;
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;
    std::vector<D3DVERTEXELEMENT9> elements;  // without the end marker
    const uint64_t serial = D3D9_NextSerial();

private:
    IDirect3DDevice9* device_;
    int refs_ = 1;
};
// The elements of a declaration list up to its end marker; false when the list
// is malformed (unknown type, stream or usage out of range, no end in sight).
bool D3D9_ReadDeclaration(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>* out);

// The device's recorded state, as Direct3D holds it.
struct D3D9State {
    std::array<DWORD, D3D9_RENDER_STATE_COUNT> render{};
    std::array<std::array<DWORD, D3D9_SAMPLER_STATE_COUNT>, D3D9_MAX_SAMPLERS> sampler{};
    std::array<std::array<DWORD, D3D9_STAGE_STATE_COUNT>, D3D9_MAX_STAGES> stage{};
    std::array<IDirect3DBaseTexture9*, D3D9_MAX_SAMPLERS> textures{};
    D3DVIEWPORT9 viewport{};
    struct Stream {
        IDirect3DVertexBuffer9* buffer;
        UINT offset, stride;
    };
    std::array<Stream, 16> streams{};
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    DWORD fvf = 0;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    std::array<float, 256 * 4> vsFloat{}, psFloat{};
    std::array<int, 16 * 4> vsInt{}, psInt{};
    std::array<BOOL, 16> vsBool{}, psBool{};
    std::map<D3DTRANSFORMSTATETYPE, D3DMATRIX> transforms;  // absent = identity
    D3DMATERIAL9 material{};
    std::map<DWORD, D3DLIGHT9> lights;
    std::map<DWORD, BOOL> lightEnabled;
    float nPatchMode = 0.0f;
    BOOL softwareVertexProcessing = 0;
};
void D3D9_DefaultState(D3D9State* state, bool depthBuffer);

class D3D9Interface;

class D3D9Device final : public IDirect3DDevice9 {
public:
    D3D9Device(D3D9Interface* d3d, UINT adapter, HWND window, DWORD behavior, const D3DCAPS9& caps,
               DWORD softwareVertexShaderVersion);
    ~D3D9Device() override;
    HRESULT Init(D3DPRESENT_PARAMETERS* params);

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT TestCooperativeLevel() override;
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) override;
    void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, void*) override;
    HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** texture, void*) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD,
                               BOOL lockable, IDirect3DSurface9** surface, void*) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample, DWORD,
                                      BOOL, IDirect3DSurface9** surface, void*) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, void*) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) override;
    HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) override;
    HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetTexture(DWORD sampler, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTexture(DWORD sampler, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;

    UINT GetAvailableTextureMem() override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               void*) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** buffer,
                              void*) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                    IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** buffer) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int baseVertex, UINT minIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetNPatchMode(float segments) override;
    float GetNPatchMode() override;
    HRESULT SetSoftwareVertexProcessing(BOOL software) override;
    BOOL GetSoftwareVertexProcessing() override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
    HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetVertexShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetPixelShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetPixelShaderConstantB(UINT start, const BOOL* values, UINT count) override;

    // The recorded state, for tests and for the draw.
    const D3D9State& State() const { return state_; }
    void ForgetBuffer(D3D9Buffer* buffer);
    void ForgetDeclaration(D3D9Declaration* declaration);
    // GL state set behind the draw's back: the next draw applies every
    // recorded state again and trusts none of the bindings it remembers.
    void InvalidateFlushedState();
    // The serial drawFbo_ is taken to hold when nobody knows.
    static constexpr uint64_t kUnknownSerial = ~0ull;

    bool MakeCurrent();
    // Asks for the swap interval the present parameters name and paces the
    // swaps itself where the refresh is not waited for.
    void SetSwapInterval();
    // Binds scratch framebuffer slot (0 or 1) to target with only this surface attached.
    void AttachScratch(GLenum target, int slot, D3D9Surface* surface);
    // Bindings hold no reference: an object that goes away is unbound here.
    void ForgetSurface(D3D9Surface* surface);
    void ForgetTexture(IDirect3DBaseTexture9* texture);
    void ForgetShaders(IDirect3DVertexShader9* vertexShader, IDirect3DPixelShader9* pixelShader);
    // Default-pool resources other than the implicit ones, alive now.
    int defaultPoolObjects = 0;
    const D3DCAPS9& Caps() const { return caps_; }

    // The GL bindings of this device's context go through these, so that a
    // draw changes only what differs from the draw before.
    void UseProgram(GLuint program);
    void BindFramebuffer(GLenum target, GLuint framebuffer);
    void BindTexture(GLuint unit, GLenum target, GLuint texture);
    // Code that binds a texture for an upload or a copy says so afterwards:
    // the active unit then holds what the device no longer knows.
    void TextureUnitDisturbed();
    // Deletes GL objects of this context (current), forgetting every binding
    // of them first: GL gives their names to the next objects it makes.
    void DeleteTexture(GLuint texture);
    void DeleteProgram(GLuint program);

private:
    HRESULT TakeParams(const D3DPRESENT_PARAMETERS* params);
    HRESULT CreateSwapChainSurfaces();
    void ReleaseSwapChainSurfaces();
    void BindDrawTargets();
    bool EnsurePresentProgram();
    void UploadGammaRamp();
    // Everything of a draw after the arguments are checked: the recorded states
    // go to GL (FlushState, the one place that maps them), the attributes come
    // from a vertex array of the declaration and buffers, and GL draws.
    HRESULT Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, bool indexed, int baseVertex, UINT startIndex,
                 UINT startVertex, GLuint upBuffer, UINT upStride, int64_t vertexEnd);
    void FlushState();
    void FlushViewport();
    bool EnsureDrawProgram();
    // Binds the recorded textures and their samplers; the bits of the units
    // that hold a 2D texture.
    unsigned BindTextures();
    void SetFixedFunctionUniforms(bool pretransformed, unsigned textures2D);
    void BindVertexArray(GLuint vao);
    GLuint VertexArrayFor(const std::vector<D3DVERTEXELEMENT9>& elements, D3D9Buffer* indexBuffer, GLuint upBuffer,
                          UINT upStride);
    void DeleteVertexArrays(uint64_t serial);

    // Groups of render states flushed together; a group is applied again when
    // one of its states differs from what was flushed or when it is dirty.
    enum FlushGroup : unsigned {
        kDepthGroup = 1,
        kBlendGroup = 2,
        kColorMaskGroup = 4,
        kCullGroup = 8,
        kStencilGroup = 16,
        kFillGroup = 32,
        kAllGroups = 63,
    };
    struct Flushed {
        unsigned dirty = kAllGroups;
        bool hasDepth = false;
        std::array<DWORD, D3D9_RENDER_STATE_COUNT> render{};
    };
    Flushed flushed_;

    // What this context has bound, as the device last set it; kUnknown where
    // something else may have changed it.
    static constexpr GLuint kUnknown = ~0u;
    struct Bindings {
        GLuint program = kUnknown;
        GLuint vao = kUnknown;
        GLuint drawFramebuffer = kUnknown;
        GLuint readFramebuffer = kUnknown;
        GLuint activeUnit = kUnknown;
        std::array<GLuint, D3D9_MAX_SAMPLERS> texture2D{}, textureCube{}, sampler{};
        bool attributeDefaults = false;
        bool viewportKnown = false;
        D3DVIEWPORT9 viewport{};
        Bindings() {
            texture2D.fill(kUnknown);
            textureCube.fill(kUnknown);
            sampler.fill(kUnknown);
        }
    };
    Bindings bound_;
    // The surfaces attached to drawFbo_, by serial (0 none).
    uint64_t attachedColor_ = kUnknownSerial, attachedDepth_ = kUnknownSerial;
    GLenum attachedDepthPoint_ = 0;

    // The prelude's uniforms of one program: locations found once, values as
    // last uploaded (a program starts with every uniform 0).
    struct PreludeUniforms {
        GLint halfPixel = -1, alphaFunc = -1, alphaRef = -1;
        float halfPixelValue[2] = {0.0f, 0.0f};
        GLint alphaFuncValue = 0;
        float alphaRefValue = 0.0f;
    };
    std::map<GLuint, PreludeUniforms> preludeUniforms_;
    PreludeUniforms& PreludeOf(GLuint program);
    // The built-in program's own uniforms.
    struct FixedUniforms {
        GLint pretransformed = -1, viewport = -1, worldViewProjection = -1, texCoordIndex = -1, textures2D = -1,
              stageCount = -1, stageColor = -1, stageAlpha = -1, textureFactor = -1;
        GLint pretransformedValue[1] = {};
        float viewportValue[4] = {};
        float worldViewProjectionValue[16] = {};
        GLint texCoordIndexValue[D3D9_MAX_STAGES] = {};
        GLint textures2DValue[1] = {}, stageCountValue[1] = {};
        GLint stageColorValue[D3D9_MAX_STAGES * 4] = {}, stageAlphaValue[D3D9_MAX_STAGES * 4] = {};
        float textureFactorValue[4] = {};
    };
    FixedUniforms fixed_;

    // Vertex arrays by what they read: the declaration (or flag word), the
    // index buffer, and per element the stream's buffer, offset and stride.
    // Buffers and declarations are named by serial, so a released one never
    // matches; releasing one deletes the arrays that name it.
    struct VertexArray {
        std::vector<uint64_t> key;
        GLuint vao;
    };
    std::vector<VertexArray> vertexArrays_;
    std::vector<uint64_t> vaoKey_;                // scratch
    std::vector<D3DVERTEXELEMENT9> fvfElements_;  // scratch
    size_t lastVertexArray_ = 0;

    GLuint drawProgram_ = 0;
    GLuint activeProgram_ = 0;  // the program of the draw in progress
    GLuint upBuffer_ = 0;
    GLuint samplers_[D3D9_MAX_SAMPLERS] = {};
    std::array<std::array<DWORD, D3D9_SAMPLER_STATE_COUNT>, D3D9_MAX_SAMPLERS> appliedSampler_{};
    std::array<bool, D3D9_MAX_SAMPLERS> samplerApplied_{};

    int refs_ = 1;
    D3D9Interface* d3d_;
    UINT adapter_;
    HWND window_;
    SDL_Window* sdl_;  // the SDL window behind window_
    DWORD behavior_;
    D3DCAPS9 caps_;
    DWORD softwareVertexShaderVersion_;
    void* context_ = nullptr;
    D3DPRESENT_PARAMETERS params_{};
    D3D9FramePacer pacer_;
    D3D9Surface* backBuffer_ = nullptr;
    D3D9Surface* autoDepth_ = nullptr;
    D3D9Surface* renderTarget_ = nullptr;  // AddRef'd unless it is the back buffer
    D3D9Surface* depthStencil_ = nullptr;  // AddRef'd unless it is the automatic one
    bool inScene_ = false;
    D3D9State state_;
    D3DGAMMARAMP gamma_{};
    bool gammaDirty_ = true;
    GLuint drawFbo_ = 0;
    GLuint scratchFbo_[2] = {0, 0};
    GLuint resolveFbo_ = 0;
    GLuint resolveTex_ = 0;
    UINT resolveW_ = 0, resolveH_ = 0;
    GLuint presentProgram_ = 0;
    GLuint presentVao_ = 0;
    GLuint gammaTex_ = 0;
};

class D3D9ProgramOwner;
// The GL program of a bound shader pair made by D3D9_CreateProgram (program.cpp).
bool D3D9_BoundProgram(IDirect3DVertexShader9* vs, IDirect3DPixelShader9* ps, GLuint* program,
                       D3D9ProgramOwner** owner);

// Adapter facts of the stand-in (real or seamed).
struct D3D9AdapterFacts {
    D3DADAPTER_IDENTIFIER9 identifier{};
    HRESULT capsResult = D3D_OK;
    D3DCAPS9 caps{};
    DWORD softwareVertexShaderVersion = D3DVS_VERSION(3, 0);
    HRESULT desktopResult = D3D_OK;
    D3DDISPLAYMODE desktop{};
    std::vector<D3DDISPLAYMODE> modes;  // every format
    HMONITOR monitor = 0;
};

class D3D9Interface final : public IDirect3D9 {
public:
    D3D9Interface();
    ~D3D9Interface() override;
    ULONG AddRef() override;
    ULONG Release() override;
    UINT GetAdapterCount() override;
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT renderTargetFormat,
                                   D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HMONITOR GetAdapterMonitor(UINT adapter) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

    bool Init();
    int maxSamples = 4;

private:
    void Enumerate();
    int refs_ = 1;
    bool sdlStarted_ = false;
    std::vector<D3D9AdapterFacts> adapters_;
};
