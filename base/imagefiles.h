// Image files: the texture loader with its fall-back order and dummy textures,
// the Targa and JPEG readers (checks here, decoding by D3DX), the Targa writer,
// and the numbered screenshots with their fixed 30-frames-per-second step.
#pragma once

#include <cstdint>

struct EBM;

// Load flags of "accept the file's own format".
constexpr uint32_t QEL_LOAD_ANY = 0xFFFFFFFFu;
// A request for a DXT1-compressed texture (also the flag of such a bitmap).
constexpr uint32_t QEL_LOAD_DXT1 = 0x40000000;

// The renderer's dummy textures, handed out (with one more reference) for a
// texture that cannot be loaded; null until the renderer makes them.
struct TextureDummies {
    EBM* diffuse;
    EBM* specular;
    EBM* bump;
};
extern TextureDummies g_TextureDummies;

// A bitmap, a dummy texture (flag 0x20000) or null. levels 0: a full chain.
EBM* S_LoadTexture(const char* name, uint32_t flags, int unused, int levels);
EBM* S_LoadTextureEx(int levels, int unused, uint32_t flags, const char* name);
// A bitmap bound to a Direct3D texture (JPEG: or an off-screen surface when a
// device surface that is no texture is asked for), or null.
EBM* S_ReadTGA(const char* path, uint32_t flags, int levels);
EBM* S_ReadJPG(const char* path, uint32_t flags, int levels);

// Writes the bitmap as an uncompressed true-colour Targa file, first row at the
// top; 1 written, 0 when the file, the lock or a write fails.
int Qel_WriteTgaFile(const char* path, int unused, EBM* bitmap);

// Saves the picture on the screen as the next "trevanscreen%05d" of the capture
// folder and sets the game-time step of the next frame (33 or 34 ms).
void P_CaptureScreen();
