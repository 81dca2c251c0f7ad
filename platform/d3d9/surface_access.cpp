#include "platform/d3d9/surface_access.h"

#include <cstring>

#include "platform/d3d9/internal.h"

HRESULT D3D9_ReadSurfacePixels(IDirect3DSurface9* surface, std::vector<uint8_t>* out, UINT* pitch) {
    auto* s = static_cast<D3D9Surface*>(surface);
    if (!s || !out || !pitch || s->store == D3D9Surface::Store::Renderbuffer) return D3DERR_INVALIDCALL;
    if (s->locked && !s->lockReadOnly_) return D3DERR_INVALIDCALL;
    if (!s->ReadBack()) return D3DERR_INVALIDCALL;
    *out = s->memory;
    *pitch = D3D9_Pitch(s->desc.Format, s->desc.Width);
    return D3D_OK;
}

HRESULT D3D9_WriteSurfacePixels(IDirect3DSurface9* surface, const RECT* rect, const uint8_t* data, UINT pitch) {
    auto* s = static_cast<D3D9Surface*>(surface);
    if (!s || !data || s->locked || s->store == D3D9Surface::Store::Renderbuffer) return D3DERR_INVALIDCALL;
    const D3D9GLFormat* f = D3D9_FindFormat(s->desc.Format);
    if (!f) return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(s->desc.Width), static_cast<LONG>(s->desc.Height)};
    if (r.left < 0 || r.top < 0 || r.right > static_cast<LONG>(s->desc.Width) ||
        r.bottom > static_cast<LONG>(s->desc.Height) || r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    if (f->blockBytes && (r.left % 4 || r.top % 4)) return D3DERR_INVALIDCALL;
    if (!s->ReadBack()) return D3DERR_INVALIDCALL;
    UINT dstPitch = D3D9_Pitch(s->desc.Format, s->desc.Width);
    size_t rows, offset, bytes;
    if (f->blockBytes) {
        rows = static_cast<size_t>((r.bottom - r.top + 3) / 4);
        offset = static_cast<size_t>(r.top / 4) * dstPitch + static_cast<size_t>(r.left / 4) * f->blockBytes;
        bytes = static_cast<size_t>((r.right - r.left + 3) / 4) * f->blockBytes;
    } else {
        rows = static_cast<size_t>(r.bottom - r.top);
        offset = static_cast<size_t>(r.top) * dstPitch + static_cast<size_t>(r.left) * f->bytesPerPixel;
        bytes = static_cast<size_t>(r.right - r.left) * f->bytesPerPixel;
    }
    for (size_t y = 0; y < rows; ++y) std::memcpy(s->memory.data() + offset + y * dstPitch, data + y * pitch, bytes);
    s->memoryValid = true;
    if (s->store == D3D9Surface::Store::Texture) {
        s->Upload(f->blockBytes ? nullptr : &r);
        if (s->container) s->container->LevelChanged(s);
    }
    return D3D_OK;
}
