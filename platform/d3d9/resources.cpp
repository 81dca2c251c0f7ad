// Surfaces and textures of the Direct3D 9 stand-in. Every picture keeps memory
// row 0 as its top row, in GL too: uploads, locks and read-backs copy rows as
// they are. Memory copies are made on the first lock and kept while valid.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>

#include "platform/d3d9/internal.h"
#include "platform/d3d9/seam.h"
#include "platform/d3d9/texture_dxt.h"

static constexpr HRESULT E_NOINTERFACE_ = static_cast<HRESULT>(0x80004002u);

// ---------------------------------------------------------------- surfaces

D3D9Surface::D3D9Surface(D3D9Device* dev, D3D9BaseTexture* cont, const D3DSURFACE_DESC& d)
    : device(dev), container(cont), desc(d) {
    if (!container) ++g_D3D9LiveResources;
}

D3D9Surface::~D3D9Surface() {
    if (device) device->ForgetSurface(this);
    if (!container) {
        --g_D3D9LiveResources;
        if (device && device->MakeCurrent()) {
            device->DeleteTexture(glTexture);
            if (renderbuffer) glDeleteRenderbuffers(1, &renderbuffer);
        }
    }
}

ULONG D3D9Surface::AddRef() {
    if (container) {
        container->ContainerAddRef();
        return 1;
    }
    return static_cast<ULONG>(++refs);
}

ULONG D3D9Surface::Release() {
    if (container) {
        container->ContainerRelease();
        return 0;
    }
    if (implicit) {
        // The device owns its back buffer and depth buffer; only the count drops.
        if (refs > 0) --refs;
        return static_cast<ULONG>(refs);
    }
    int left = --refs;
    if (left == 0) {
        D3D9Device* dev = device;
        bool defaultPool = desc.Pool == D3DPOOL_DEFAULT;
        delete this;
        if (dev) {
            if (defaultPool) --dev->defaultPoolObjects;
            dev->Release();
        }
    }
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

HRESULT D3D9Surface::GetDevice(IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = device;
    device->AddRef();
    return D3D_OK;
}

HRESULT D3D9Surface::GetContainer(IDirect3DBaseTexture9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!container) return E_NOINTERFACE_;
    container->ContainerAddRef();
    *out = container->AsBase();
    return D3D_OK;
}

HRESULT D3D9Surface::GetDesc(D3DSURFACE_DESC* out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = desc;
    return D3D_OK;
}

bool D3D9Surface::CreateStorage() {
    const D3D9GLFormat* f = D3D9_FindFormat(desc.Format);
    if (!f) return false;
    if (desc.Pool == D3DPOOL_SYSTEMMEM || desc.Pool == D3DPOOL_SCRATCH) {
        if (f->depth) return false;
        store = Store::Memory;
        memory.assign(static_cast<size_t>(D3D9_Pitch(desc.Format, desc.Width)) * D3D9_Rows(desc.Format, desc.Height),
                      0);
        memoryValid = true;
        gpuValid = false;
        return true;
    }
    if (!device->MakeCurrent()) return false;
    while (glGetError() != GL_NO_ERROR) {}
    if (f->depth || desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES) {
        store = Store::Renderbuffer;
        lockable = false;
        glGenRenderbuffers(1, &renderbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
        if (desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES)
            glRenderbufferStorageMultisample(GL_RENDERBUFFER, static_cast<GLsizei>(desc.MultiSampleType),
                                             f->internalFormat, static_cast<GLsizei>(desc.Width),
                                             static_cast<GLsizei>(desc.Height));
        else
            glRenderbufferStorage(GL_RENDERBUFFER, f->internalFormat, static_cast<GLsizei>(desc.Width),
                                  static_cast<GLsizei>(desc.Height));
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
    } else {
        if (f->blockBytes) return false;
        store = Store::Texture;
        glGenTextures(1, &glTexture);
        glBindTexture(GL_TEXTURE_2D, glTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, f->swizzle);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(f->internalFormat), static_cast<GLsizei>(desc.Width),
                     static_cast<GLsizei>(desc.Height), 0, f->glFormat, f->glType, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        device->TextureUnitDisturbed();
    }
    return glGetError() == GL_NO_ERROR;
}

void D3D9Surface::Attach(GLenum target, GLenum attachment) {
    if (store == Store::Renderbuffer) glFramebufferRenderbuffer(target, attachment, GL_RENDERBUFFER, renderbuffer);
    else if (store == Store::Texture) glFramebufferTexture2D(target, attachment, glTarget, glTexture, glLevel);
}

bool D3D9Surface::ReadBack() {
    size_t size = static_cast<size_t>(D3D9_Pitch(desc.Format, desc.Width)) * D3D9_Rows(desc.Format, desc.Height);
    if (memory.size() != size) memory.assign(size, 0);
    if (store == Store::Memory || memoryValid || !gpuValid) {
        memoryValid = true;
        return true;
    }
    if (store != Store::Texture || !device->MakeCurrent()) return false;
    const D3D9GLFormat* f = D3D9_FindFormat(desc.Format);
    GLenum bindTarget = glTarget == GL_TEXTURE_2D ? GL_TEXTURE_2D : GL_TEXTURE_CUBE_MAP;
    glBindTexture(bindTarget, glTexture);
    if (f->blockBytes && D3D9_DecodeDXTOnCpu()) {
        // GL holds decoded pixels only; the blocks are the memory copy itself.
        glBindTexture(bindTarget, 0);
        device->TextureUnitDisturbed();
        memoryValid = true;
        return true;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (f->blockBytes) {
        glGetCompressedTexImage(glTarget, glLevel, memory.data());
    } else {
        glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(D3D9_Pitch(desc.Format, desc.Width) / f->bytesPerPixel));
        glGetTexImage(glTarget, glLevel, f->glFormat, f->glType, memory.data());
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    }
    glBindTexture(bindTarget, 0);
    device->TextureUnitDisturbed();
    memoryValid = true;
    return true;
}

void D3D9Surface::Upload(const RECT* rect) {
    if (store != Store::Texture || !device->MakeCurrent()) return;
    const D3D9GLFormat* f = D3D9_FindFormat(desc.Format);
    GLenum bindTarget = glTarget == GL_TEXTURE_2D ? GL_TEXTURE_2D : GL_TEXTURE_CUBE_MAP;
    glBindTexture(bindTarget, glTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (f->blockBytes && D3D9_DecodeDXTOnCpu()) {
        UINT w = desc.Width, h = desc.Height;
        std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
        D3D9_DecodeDXT(desc.Format, w, h, memory.data(), D3D9_Pitch(desc.Format, w), bgra.data(), w * 4);
        glTexSubImage2D(glTarget, glLevel, 0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h), GL_BGRA,
                        GL_UNSIGNED_INT_8_8_8_8_REV, bgra.data());
    } else if (f->blockBytes) {
        glCompressedTexSubImage2D(glTarget, glLevel, 0, 0, static_cast<GLsizei>(desc.Width),
                                  static_cast<GLsizei>(desc.Height), f->internalFormat,
                                  static_cast<GLsizei>(memory.size()), memory.data());
    } else {
        // Only the rectangle that changed goes up; rows are read at the lock pitch.
        RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
        glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(D3D9_Pitch(desc.Format, desc.Width) / f->bytesPerPixel));
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, r.left);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, r.top);
        glTexSubImage2D(glTarget, glLevel, r.left, r.top, static_cast<GLsizei>(r.right - r.left),
                        static_cast<GLsizei>(r.bottom - r.top), f->glFormat, f->glType, memory.data());
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
    glBindTexture(bindTarget, 0);
    device->TextureUnitDisturbed();
    gpuValid = true;
}

HRESULT D3D9Surface::LockRect(D3DLOCKED_RECT* out, const RECT* rect, DWORD flags) {
    if (!out) return D3DERR_INVALIDCALL;
    out->pBits = nullptr;
    out->Pitch = 0;
    if (locked || !lockable || store == Store::Renderbuffer) return D3DERR_INVALIDCALL;
    const D3D9GLFormat* f = D3D9_FindFormat(desc.Format);
    UINT pitch = D3D9_Pitch(desc.Format, desc.Width);
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(desc.Width) ||
            rect->bottom > static_cast<LONG>(desc.Height) || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        if (f->blockBytes)
            offset = static_cast<size_t>(rect->top / 4) * pitch + static_cast<size_t>(rect->left / 4) * f->blockBytes;
        else offset = static_cast<size_t>(rect->top) * pitch + static_cast<size_t>(rect->left) * f->bytesPerPixel;
    }
    if (flags & D3DLOCK_DISCARD) {
        size_t size = static_cast<size_t>(pitch) * D3D9_Rows(desc.Format, desc.Height);
        if (memory.size() != size) memory.assign(size, 0);
        memoryValid = true;
    } else if (!ReadBack()) {
        return D3DERR_INVALIDCALL;
    }
    locked = true;
    lockReadOnly_ = (flags & D3DLOCK_READONLY) != 0;
    lockHasRect_ = rect != nullptr && !f->blockBytes;
    if (lockHasRect_) lockRect_ = *rect;
    out->Pitch = static_cast<int32_t>(pitch);
    out->pBits = memory.data() + offset;
    return D3D_OK;
}

HRESULT D3D9Surface::UnlockRect() {
    if (!locked) return D3DERR_INVALIDCALL;
    locked = false;
    if (!lockReadOnly_ && store == Store::Texture) {
        Upload(lockHasRect_ ? &lockRect_ : nullptr);
        if (container) container->LevelChanged(this);
    }
    return D3D_OK;
}

// ---------------------------------------------------------------- textures

namespace {

UINT FullChain(UINT width, UINT height) {
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++levels;
    }
    return levels;
}

// The GL texture and the level surfaces shared by 2D and cube textures.
struct TextureStore {
    D3D9Device* device = nullptr;
    GLuint tex = 0;
    GLenum bindTarget = GL_TEXTURE_2D;
    UINT levels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
    D3DTEXTUREFILTERTYPE autoGenFilter = D3DTEXF_LINEAR;
    std::vector<D3D9Surface*> surfaces;  // face-major: face * levels + level

    HRESULT Create(D3D9BaseTexture* owner, UINT width, UINT height, int faces) {
        const D3D9GLFormat* f = D3D9_FindFormat(format);
        if (!f || f->depth) return D3DERR_INVALIDCALL;
        if (!device->MakeCurrent()) return D3DERR_DEVICELOST;
        while (glGetError() != GL_NO_ERROR) {}
        glGenTextures(1, &tex);
        glBindTexture(bindTarget, tex);
        glTexParameteri(bindTarget, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels - 1));
        glTexParameteriv(bindTarget, GL_TEXTURE_SWIZZLE_RGBA, f->swizzle);
        bool lockable = !(pool == D3DPOOL_DEFAULT && !(usage & D3DUSAGE_DYNAMIC));
        for (int face = 0; face < faces; ++face) {
            GLenum target = faces == 6 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(face) : GL_TEXTURE_2D;
            UINT w = width, h = height;
            for (UINT level = 0; level < levels; ++level) {
                if (f->blockBytes && D3D9_DecodeDXTOnCpu()) {
                    glTexImage2D(target, static_cast<GLint>(level), GL_RGBA8, static_cast<GLsizei>(w),
                                 static_cast<GLsizei>(h), 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
                } else if (f->blockBytes) {
                    std::vector<uint8_t> zero(static_cast<size_t>(D3D9_Pitch(format, w)) * D3D9_Rows(format, h), 0);
                    glCompressedTexImage2D(target, static_cast<GLint>(level), f->internalFormat,
                                           static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0,
                                           static_cast<GLsizei>(zero.size()), zero.data());
                } else {
                    glTexImage2D(target, static_cast<GLint>(level), static_cast<GLint>(f->internalFormat),
                                 static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0, f->glFormat, f->glType, nullptr);
                }
                D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0, w, h};
                auto* s = new D3D9Surface(device, owner, d);
                s->store = D3D9Surface::Store::Texture;
                s->glTexture = tex;
                s->glTarget = target;
                s->glLevel = static_cast<GLint>(level);
                s->lockable = lockable;
                s->refs = 0;
                surfaces.push_back(s);
                w = std::max(1u, w / 2);
                h = std::max(1u, h / 2);
            }
        }
        glBindTexture(bindTarget, 0);
        device->TextureUnitDisturbed();
        return glGetError() == GL_NO_ERROR ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
    }

    void Destroy(IDirect3DBaseTexture9* self) {
        device->ForgetTexture(self);
        D3D9_TellReleased(self);
        for (D3D9Surface* s : surfaces) delete s;
        surfaces.clear();
        if (tex && device->MakeCurrent()) device->DeleteTexture(tex);
        tex = 0;
    }

    // Direct3D refuses the filter for textures without automatic mips and for
    // filters it cannot generate with.
    HRESULT SetAutoGenFilter(D3DTEXTUREFILTERTYPE filter) {
        if (!(usage & D3DUSAGE_AUTOGENMIPMAP) || filter == D3DTEXF_NONE || filter > D3DTEXF_ANISOTROPIC)
            return D3DERR_INVALIDCALL;
        autoGenFilter = filter;
        return D3D_OK;
    }

    void GenerateMips() {
        if (!(usage & D3DUSAGE_AUTOGENMIPMAP) || !device->MakeCurrent()) return;
        glBindTexture(bindTarget, tex);
        glGenerateMipmap(bindTarget);
        glBindTexture(bindTarget, 0);
        device->TextureUnitDisturbed();
        for (D3D9Surface* s : surfaces)
            if (s->glLevel > 0) s->memoryValid = false;
    }
    HRESULT GetDevice(IDirect3DDevice9** out) const {
        if (!out) return D3DERR_INVALIDCALL;
        *out = device;
        device->AddRef();
        return D3D_OK;
    }
};

// The one release rule of both texture kinds: the last reference frees the
// texture, then gives back its default-pool count and its device reference.
template <class T>
ULONG ReleaseTexture(T* texture) {
    int left = --texture->refs_;
    if (left == 0) {
        D3D9Device* dev = texture->store_.device;
        bool defaultPool = texture->store_.pool == D3DPOOL_DEFAULT;
        delete texture;
        if (defaultPool) --dev->defaultPoolObjects;
        dev->Release();
    }
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

HRESULT CheckTextureArgs(const D3DCAPS9& caps, UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (!f || width == 0 || height == 0 || width > caps.MaxTextureWidth || height > caps.MaxTextureHeight)
        return D3DERR_INVALIDCALL;
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && !f->renderTarget) return D3DERR_INVALIDCALL;
    if (!(usage & D3DUSAGE_RENDERTARGET) && !f->texture) return D3DERR_INVALIDCALL;
    if (pool == D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

class Texture2D final : public IDirect3DTexture9, public D3D9BaseTexture {
public:
    explicit Texture2D(D3D9Device* device) {
        store_.device = device;
        ++g_D3D9LiveResources;
        device->AddRef();
    }
    ~Texture2D() override {
        store_.Destroy(this);
        --g_D3D9LiveResources;
    }
    HRESULT Init(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
        width_ = width;
        height_ = height;
        store_.levels = levels == 0 ? FullChain(width, height) : std::min(levels, FullChain(width, height));
        if (usage & D3DUSAGE_AUTOGENMIPMAP) store_.levels = levels == 0 ? FullChain(width, height) : store_.levels;
        store_.usage = usage;
        store_.format = format;
        store_.pool = pool;
        return store_.Create(this, width, height, 1);
    }

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override { return ReleaseTexture(this); }
    HRESULT GetDevice(IDirect3DDevice9** out) override { return store_.GetDevice(out); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return store_.levels; }
    void GenerateMipSubLevels() override { store_.GenerateMips(); }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override { return store_.SetAutoGenFilter(filter); }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return store_.autoGenFilter; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        if (level >= store_.levels || !desc) return D3DERR_INVALIDCALL;
        *desc = store_.surfaces[level]->desc;
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = nullptr;
        if (level >= store_.levels) return D3DERR_INVALIDCALL;
        AddRef();
        *out = store_.surfaces[level];
        return D3D_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        if (level >= store_.levels) return D3DERR_INVALIDCALL;
        return store_.surfaces[level]->LockRect(locked, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override {
        if (level >= store_.levels) return D3DERR_INVALIDCALL;
        return store_.surfaces[level]->UnlockRect();
    }

    void ContainerAddRef() override { AddRef(); }
    void ContainerRelease() override { Release(); }
    IDirect3DBaseTexture9* AsBase() override { return this; }
    void LevelChanged(D3D9Surface* s) override {
        if (s->glLevel == 0) store_.GenerateMips();
    }

    GLuint GLName() const override { return store_.tex; }
    GLenum GLBindTarget() const override { return GL_TEXTURE_2D; }

private:
    template <class T>
    friend ULONG ReleaseTexture(T* texture);
    int refs_ = 1;
    UINT width_ = 0, height_ = 0;
    TextureStore store_;
};

class TextureCube final : public IDirect3DCubeTexture9, public D3D9BaseTexture {
public:
    explicit TextureCube(D3D9Device* device) {
        store_.device = device;
        store_.bindTarget = GL_TEXTURE_CUBE_MAP;
        ++g_D3D9LiveResources;
        device->AddRef();
    }
    ~TextureCube() override {
        store_.Destroy(this);
        --g_D3D9LiveResources;
    }
    HRESULT Init(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool) {
        store_.levels = levels == 0 ? FullChain(edge, edge) : std::min(levels, FullChain(edge, edge));
        store_.usage = usage;
        store_.format = format;
        store_.pool = pool;
        return store_.Create(this, edge, edge, 6);
    }

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override { return ReleaseTexture(this); }
    HRESULT GetDevice(IDirect3DDevice9** out) override { return store_.GetDevice(out); }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD GetLevelCount() override { return store_.levels; }
    void GenerateMipSubLevels() override { store_.GenerateMips(); }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override { return store_.SetAutoGenFilter(filter); }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return store_.autoGenFilter; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        if (level >= store_.levels || !desc) return D3DERR_INVALIDCALL;
        *desc = store_.surfaces[level]->desc;
        return D3D_OK;
    }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = nullptr;
        if (face > 5 || level >= store_.levels) return D3DERR_INVALIDCALL;
        AddRef();
        *out = store_.surfaces[face * store_.levels + level];
        return D3D_OK;
    }
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                     DWORD flags) override {
        if (face > 5 || level >= store_.levels) return D3DERR_INVALIDCALL;
        return store_.surfaces[face * store_.levels + level]->LockRect(locked, rect, flags);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override {
        if (face > 5 || level >= store_.levels) return D3DERR_INVALIDCALL;
        return store_.surfaces[face * store_.levels + level]->UnlockRect();
    }

    void ContainerAddRef() override { AddRef(); }
    void ContainerRelease() override { Release(); }
    IDirect3DBaseTexture9* AsBase() override { return this; }
    GLuint GLName() const override { return store_.tex; }
    GLenum GLBindTarget() const override { return GL_TEXTURE_CUBE_MAP; }

private:
    template <class T>
    friend ULONG ReleaseTexture(T* texture);
    int refs_ = 1;
    TextureStore store_;
};

HRESULT SeamTakeCreate(std::deque<HRESULT>& queue) {
    if (queue.empty()) return D3D_OK;
    HRESULT hr = queue.front();
    queue.pop_front();
    return hr;
}

}  // namespace

HRESULT D3D9Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, void*) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    HRESULT hr = SeamTakeCreate(g_D3D9Seam.createTexture);
    if (FAILED(hr)) return hr;
    hr = CheckTextureArgs(caps_, width, height, usage, format, pool);
    if (FAILED(hr)) return hr;
    auto* t = new Texture2D(this);
    if (pool == D3DPOOL_DEFAULT) ++defaultPoolObjects;
    hr = t->Init(width, height, levels, usage, format, pool);
    if (FAILED(hr)) {
        t->Release();
        return hr;
    }
    *texture = t;
    return D3D_OK;
}

HRESULT D3D9Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DCubeTexture9** texture, void*) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    HRESULT hr = SeamTakeCreate(g_D3D9Seam.createCubeTexture);
    if (FAILED(hr)) return hr;
    hr = CheckTextureArgs(caps_, edge, edge, usage, format, pool);
    if (FAILED(hr)) return hr;
    auto* t = new TextureCube(this);
    if (pool == D3DPOOL_DEFAULT) ++defaultPoolObjects;
    hr = t->Init(edge, levels, usage, format, pool);
    if (FAILED(hr)) {
        t->Release();
        return hr;
    }
    *texture = t;
    return D3D_OK;
}

static HRESULT NewSurface(D3D9Device* device, const D3DSURFACE_DESC& desc, bool lockable, IDirect3DSurface9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    const D3D9GLFormat* f = D3D9_FindFormat(desc.Format);
    if (!f || desc.Width == 0 || desc.Height == 0 || desc.Width > 16384 || desc.Height > 16384)
        return D3DERR_INVALIDCALL;
    auto* s = new D3D9Surface(device, nullptr, desc);
    device->AddRef();
    if (desc.Pool == D3DPOOL_DEFAULT) ++device->defaultPoolObjects;
    s->lockable = lockable;
    if (!s->CreateStorage()) {
        s->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *out = s;
    return D3D_OK;
}

HRESULT D3D9Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD, BOOL lockable, IDirect3DSurface9** surface, void*) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (!f || !f->renderTarget) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, multiSample, 0, width, height};
    return NewSurface(this, d, lockable && multiSample < D3DMULTISAMPLE_2_SAMPLES, surface);
}

HRESULT D3D9Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD, BOOL, IDirect3DSurface9** surface,
                                              void*) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (!f || !f->depth) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, multiSample, 0, width, height};
    return NewSurface(this, d, false, surface);
}

HRESULT D3D9Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9** surface, void*) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (!f || f->depth || pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, 0, pool, D3DMULTISAMPLE_NONE, 0, width, height};
    return NewSurface(this, d, true, surface);
}
