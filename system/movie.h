// Movie and soundtrack streams: numbered movies (MPEG-1 ".dat") and soundtracks
// (MP3 or WMA) opened as multimedia streams, frames copied into a game texture
// and audio either played by the stream's renderer or streamed by us into a
// looping sound buffer; everything polled once per frame.
#pragma once

#include <cstdint>

#include "platform/dshow/dshow.h"

struct EBM;

// Stream flags.
constexpr uint32_t MOVIE_NO_AUDIO = 0x8;
constexpr uint32_t MOVIE_NO_VIDEO = 0x10;
constexpr uint32_t MOVIE_NO_POSITION = 0x20;
constexpr uint32_t MOVIE_STREAM_AUDIO = 0x40;
constexpr uint32_t MOVIE_SPEECH = 0x100;

// Audio playback and fetch states.
constexpr uint32_t MOVIE_PLAY_IDLE = 1, MOVIE_PLAY_PLAYING = 2, MOVIE_PLAY_ENDING = 4;
constexpr uint32_t MOVIE_FETCH_NEED = 1, MOVIE_FETCH_PENDING = 2, MOVIE_FETCH_READY = 4, MOVIE_FETCH_DONE = 8;
constexpr uint32_t MOVIE_VIDEO_REQUEST = 1, MOVIE_VIDEO_PENDING = 2, MOVIE_VIDEO_READY = 4;

struct MovieRecord {
    uint32_t number;
    IAMMultiMediaStream* stream;
    IMediaStream* videoStream;
    IDirectDrawMediaStream* ddStream;
    IDirectDrawSurface* sampleSurface;
    IDirectDrawStreamSample* videoSample;
    IMediaStream* audioStream;
    IAudioMediaStream* audioMediaStream;
    DSBUFFERDESC soundDesc;
    IDirectSoundBuffer8* soundBuffer;
    uint32_t playState;
    uint32_t writeCursor;
    uint32_t endDistance;
    IAudioData* audioData;
    IAudioStreamSample* audioSample;
    uint8_t* sampleBlock;
    uint32_t sampleBlockSize;
    uint32_t fetchState;
    uint32_t bytesPerSample;
    IBasicAudio* basicAudio;
    IMediaPosition* position;
    IMediaControl* control;
    IGraphBuilder* graph;
    RECT sampleRect;
    uint32_t flags;
    int32_t startTime;
    int32_t stopTime;
    IBaseFilter* audioDecoder;
    IBaseFilter* videoDecoder;
    IBaseFilter* splitter;
    IBaseFilter* fileSource;
    IBaseFilter* audioRenderer;
    uint32_t videoState;
    WAVEFORMATEX waveFormat;  // of the streamed audio
};

// State bits of a movie entry.
constexpr uint32_t MOVIE_ENTRY_PLAYING = 0x2;
constexpr uint32_t MOVIE_ENTRY_TEXTURE = 0x4;

// One movie of the movie module, kept in the movie table.
struct MovieEntry {
    MovieEntry* next;
    uint32_t number;
    MovieRecord* record;
    int32_t textureId;
    uint32_t state;
};

// The movie table: the movie module's entries.
constexpr int S_MOVIE_TABLE_ENTRIES = 32;
struct MovieTable {
    MovieEntry* first;
    MovieEntry entries[S_MOVIE_TABLE_ENTRIES];
};
extern MovieTable* g_MovieTable;

// Memory tag of the movie records and audio blocks.
constexpr uint32_t MOVIE_MEM_TAG = 15;

// The destination of a frame as its lock gives it: 32-bit rows top down.
struct MovieLockedSurface {
    uint8_t* bits;
    int32_t pitch;
    uint32_t width, height;
    uint32_t bitsPerPixel;
    uint32_t redMask, greenMask, blueMask, alphaMask;
};
// How frames reach a bitmap's device surface: the surfaces layer's hook
// (describe and lock the bitmap's Direct3D surface, with its pixel format from
// the renderer's format conversion). Without a surface a movie with video
// reports its end, while soundtracks play as usual.
struct MovieTextureLink {
    int (*hasSurface)(EBM* bitmap);                         // 1 when the bitmap has a device surface
    HRESULT (*lock)(EBM* bitmap, MovieLockedSurface* out);  // describe and lock for writing
    void (*unlock)(EBM* bitmap);
};
extern MovieTextureLink S_MovieTextureLink;

// Hands the stream stand-in the file layer as its reader and makes its classes
// known; done by S_InitMovies and S_OpenMovie, repeating it is harmless.
void S_InstallMovieStreams();
MovieTable* S_InitMovies();
uint32_t S_FreeMovies();
MovieRecord* S_OpenMovie(uint32_t number, uint32_t flags);
void S_FreeMovie(MovieRecord* record);
int S_MovieStatePlay(MovieEntry* entry);
int S_MovieStateStop(MovieEntry* entry);
int S_SetCurrentMovieTime(MovieEntry* entry, int32_t ms);
int S_MovieGetPosition(MovieEntry* entry, int32_t* ms);
int S_MovieSetVolume(uint32_t volume, MovieEntry* entry);
int S_MovieSetRate(MovieEntry* entry, double rate);
int S_MovieSetStopTime(MovieEntry* entry, int32_t ms);
uint32_t S_MovieGetFlags(MovieEntry* entry);
uint16_t S_RenderMovieFrame(MovieEntry* entry, EBM* destination);
uint16_t Int_MovieRenderAudioToDS(MovieRecord* record);
int S_CopyMovieFrame(IDirectDrawSurface* source, EBM* destination);
const char* S_GetLogoImageName();
