// Movies and soundtracks through the stream stand-in's demuxer and decoders,
// as the movie module opens and plays them. The first byte picks the file's
// name (a ".dat" movie or a ".mp3" soundtrack) and the open flags; the rest is
// the file. A stream that opens is played on the manual clock for at most 64
// frames into a small memory texture, stopped and freed; every stream object
// must be gone afterwards, as must every byte the module booked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/harness/harness.h"
#include "platform/dshow/seam.h"
#include "platform/dsound/seam.h"
#include "system/entry.h"
#include "system/movie.h"
#include "system/sound.h"

namespace {

// The texture the frames land in: 32 x 24, so most movies are scaled or cut.
struct Texture {
    static constexpr uint32_t kWidth = 32, kHeight = 24;
    std::vector<uint32_t> pixels = std::vector<uint32_t>(kWidth * kHeight);
};
Texture s_texture;

int HasSurface(EBM*) { return 1; }
HRESULT Lock(EBM*, MovieLockedSurface* out) {
    *out = MovieLockedSurface{reinterpret_cast<uint8_t*>(s_texture.pixels.data()),
                              int32_t(Texture::kWidth * 4),
                              Texture::kWidth,
                              Texture::kHeight,
                              32,
                              0xFF0000,
                              0xFF00,
                              0xFF,
                              0xFF000000};
    return S_OK;
}
void Unlock(EBM*) {}

// Once per process: the manual clock, a loopback sound device for the
// streamed sound, and the texture link.
void Start() {
    static bool started = false;
    if (started) return;
    started = true;
    DShow_ResetSeam();
    DShow_Seam().manualClock = true;
    DSound_Seam().loopback = true;
    g_ApplicationRecord.active = 1;
    S_MovieTextureLink = MovieTextureLink{HasSurface, Lock, Unlock};
    if (!S_InitDS3D(SOUND_FLAG_RUNNING)) {
        std::fprintf(stderr, "fuzz movie: no sound device\n");
        std::abort();
    }
    // What the first open books once for the process (the stream classes
    // made known) is booked before any input is measured.
    S_FreeMovie(S_OpenMovie(1, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Start();
    if (size < 1) return 0;
    const uint8_t pick = data[0];
    const bool soundtrack = pick & 0x80;
    uint32_t flags = 0;
    if (pick & 1) flags |= MOVIE_NO_AUDIO;
    if (pick & 2) flags |= MOVIE_NO_VIDEO;
    if (pick & 4) flags |= MOVIE_STREAM_AUDIO;
    if (pick & 8) flags |= MOVIE_NO_POSITION;
    const char* name = soundtrack ? "soundtrack/00001.mp3" : "mov/00001.dat";
    Fuzz_WriteFile(name, data + 1, size - 1);
    {
        FuzzMemoryGuard guard;
        MovieEntry entry{};
        entry.number = 1;
        entry.record = S_OpenMovie(1, flags);
        if (entry.record) {
            S_MovieStatePlay(&entry);
            for (int frame = 0; frame < 64; ++frame) {
                DShow_SeamAdvance(40);
                int16_t heard[441 * 2 * 4];
                DSound_SeamRender(heard, 441 * 4);
                if (S_RenderMovieFrame(&entry, reinterpret_cast<EBM*>(&s_texture)) != 1) break;
            }
            S_MovieStateStop(&entry);
            S_FreeMovie(entry.record);
        }
        if (DShow_LiveObjects() != 0) {
            std::fprintf(stderr, "fuzz movie: %d stream objects left after the free\n", DShow_LiveObjects());
            std::abort();
        }
    }
    Fuzz_RemoveFile(name);
    return 0;
}
