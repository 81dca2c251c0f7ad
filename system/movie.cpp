// Movie and soundtrack streams: opening with the decoders, splitter, source
// and renderer the file needs; per-frame polling of the video sample into the
// texture; and the audio streamed by us into a five-second looping buffer.
#include "system/movie.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/file.h"
#include "system/entry.h"
#include "system/sound.h"
#include "system/surfaces.h"

MovieTable* g_MovieTable = nullptr;
MovieTextureLink S_MovieTextureLink = {S_MovieHasSurface, S_MovieLockSurface, S_MovieUnlockSurface};

namespace {

constexpr uint32_t kMovieMem = Int_MemTag(MOVIE_MEM_TAG);
constexpr uint32_t kLog = 2048;

// Settings the movies read.
uint32_t SecondVideoFlags() { return g_SystemState ? g_SystemState->VideoD3DFlags2 : 0; }
int32_t LogoPictureNum() { return g_SystemState ? g_SystemState->logoPictureNum : 0; }
const char* LogoPictureName() {
    return g_SystemState && g_SystemState->logoPictureName[0] ? g_SystemState->logoPictureName : nullptr;
}

constexpr uint32_t kNoManualCodecs = 0x4000;

template <class T>
void ReleaseInto(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

bool HasVideo(const MovieRecord* r) { return !(r->flags & MOVIE_NO_VIDEO); }
bool StreamsAudio(const MovieRecord* r) { return (r->flags & MOVIE_STREAM_AUDIO) && !(r->flags & MOVIE_NO_AUDIO); }

bool Found(const char* name) { return Qel_fsize(0, name) > 0 || Qel_fsize(1, name) > 0; }

bool EndsWith(const char* s, const char* tail) {
    size_t n = std::strlen(s), m = std::strlen(tail);
    return n >= m && Qel_StrICmp(s + n - m, tail) == 0;
}

IBaseFilter* AddFilter(IGraphBuilder* graph, const GUID& clsid, const char* label) {
    void* p = nullptr;
    if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &p) != DS_OK || !p) {
        Qel_ErrPrintf("S_OpenMovie() Error creating %s\n", label);
        return nullptr;
    }
    auto* f = static_cast<IBaseFilter*>(p);
    if (graph->AddFilter(f, nullptr) != S_OK) {
        Qel_ErrPrintf("S_OpenMovie() Error adding %s\n", label);
        f->Release();
        return nullptr;
    }
    return f;
}

void ReleaseVideo(MovieRecord* r) {
    ReleaseInto(r->videoSample);
    ReleaseInto(r->sampleSurface);
    ReleaseInto(r->ddStream);
    ReleaseInto(r->videoStream);
}

void ReleaseAudio(MovieRecord* r) {
    if (r->soundBuffer) r->soundBuffer->Stop();
    ReleaseInto(r->soundBuffer);
    ReleaseInto(r->audioSample);
    ReleaseInto(r->audioData);
    ReleaseInto(r->audioMediaStream);
    ReleaseInto(r->audioStream);
    if (r->sampleBlock) Int_FreeMem(r->sampleBlock, r->sampleBlockSize, kMovieMem);
    r->sampleBlock = nullptr;
    r->sampleBlockSize = 0;
}

// The movie's file: the movie, else its soundtrack as MP3 or WMA.
char* FindMovieFile(uint32_t number) {
    const char* tmpl = g_SystemState && g_SystemState->app && g_SystemState->app->movieTemplate
                           ? g_SystemState->app->movieTemplate
                           : "mov\\%s";
    char base[16];
    std::snprintf(base, sizeof base, "%05u.dat", number);
    char* names[3] = {Qel_Format(nullptr, tmpl, base), Qel_Format(nullptr, "soundtrack\\%05u.mp3", number),
                      Qel_Format(nullptr, "soundtrack\\%05u.wma", number)};
    char* found = nullptr;
    for (char*& n : names) {
        if (!found && n && Found(n)) {
            found = n;
            n = nullptr;
        }
        Qel_StrFree(n);
    }
    return found;
}

int32_t Ms(STREAM_TIME t) { return static_cast<int32_t>(t / 10000); }

// Places 8-bit channels by the destination's masks.
struct Packer {
    int rs, gs, bs, as;
    uint32_t alpha;
    explicit Packer(const MovieLockedSurface& d) {
        auto shift = [](uint32_t mask) {
            int s = 0;
            while (mask && !(mask & 1)) {
                mask >>= 1;
                ++s;
            }
            return s;
        };
        rs = shift(d.redMask);
        gs = shift(d.greenMask);
        bs = shift(d.blueMask);
        as = shift(d.alphaMask);
        alpha = d.alphaMask ? (0xFFu << as) & d.alphaMask : 0xFF000000u;
    }
    uint32_t operator()(uint32_t r, uint32_t g, uint32_t b) const { return (r << rs) | (g << gs) | (b << bs) | alpha; }
};

int HighestBit(uint32_t mask) {
    for (int b = 15; b >= 0; --b)
        if (mask & (1u << b)) return b + 1;
    return 0;
}

// The streams read through the file layer, so catalog members play: the
// catalogs first, then the disk.
void* MovieFileOpen(const char* name) {
    QelFile* f = Qel_fopen(name, "rb", 0);
    return f ? f : Qel_fopen(name, "rb", 1);
}
size_t MovieFileRead(void* f, void* buffer, size_t bytes) {
    return Qel_fread(static_cast<QelFile*>(f), 1, bytes, buffer);
}
int MovieFileSeek(void* f, int64_t offset, int whence) {
    if (offset < LONG_MIN || offset > LONG_MAX) return -1;
    return Qel_fseek(static_cast<QelFile*>(f), static_cast<long>(offset), whence);
}
int64_t MovieFileTell(void* f) { return Qel_ftell(static_cast<QelFile*>(f)); }
void MovieFileClose(void* f) { Qel_fclose(static_cast<QelFile*>(f)); }
int64_t MovieFileSize(const char* name) { return std::max(Qel_fsize(0, name), Qel_fsize(1, name)); }

}  // namespace

void S_InstallMovieStreams() {
    static const DShowFileReader kReader = {MovieFileOpen, MovieFileRead,  MovieFileSeek,
                                            MovieFileTell, MovieFileClose, MovieFileSize};
    DShow_SetFileReader(&kReader);
    DShow_RegisterClasses();
}

// ---------------------------------------------------------------- table
MovieTable* S_InitMovies() {
    S_InstallMovieStreams();
    if (!g_MovieTable) g_MovieTable = Int_AllocRecord<MovieTable>(kMovieMem);
    return g_MovieTable;
}

uint32_t S_FreeMovies() {
    if (!g_MovieTable) return 0;
    Int_FreeRecord(g_MovieTable, kMovieMem);
    g_MovieTable = nullptr;
    return sizeof(MovieTable);
}

// ---------------------------------------------------------------- open and free
MovieRecord* S_OpenMovie(uint32_t number, uint32_t flags) {
    S_InstallMovieStreams();
    auto* r = Int_AllocRecord<MovieRecord>(kMovieMem);
    if (!r) return nullptr;
    r->number = number;
    r->flags = flags;
    if (flags & MOVIE_NO_VIDEO) r->flags |= MOVIE_STREAM_AUDIO;
    r->stopTime = -1;
    r->startTime = 0;
    uint32_t video2 = SecondVideoFlags();

    void* p = nullptr;
    if (CoCreateInstance(CLSID_AMMultiMediaStream, nullptr, CLSCTX_INPROC_SERVER, IID_IAMMultiMediaStream, &p) !=
            DS_OK ||
        !p) {
        Qel_ErrPrintf("S_OpenMovie() Error creating the multimedia stream\n");
        Int_FreeRecord(r, kMovieMem);
        return nullptr;
    }
    r->stream = static_cast<IAMMultiMediaStream*>(p);
    if (r->stream->Initialize(STREAMTYPE_READ, AMMSF_NOGRAPHTHREAD, nullptr) != S_OK) {
        Qel_ErrPrintf("S_OpenMovie() Error initialising the multimedia stream\n");
        S_FreeMovie(r);
        return nullptr;
    }
    if (HasVideo(r) && r->stream->AddMediaStream(nullptr, &MSPID_PrimaryVideo, 0, nullptr) != S_OK) {
        Qel_ErrPrintf("S_OpenMovie() Error adding the primary video stream\n");
        S_FreeMovie(r);
        return nullptr;
    }
    if (!(r->flags & MOVIE_NO_AUDIO)) {
        DWORD audioFlags =
            (video2 & kNoManualCodecs) && !(r->flags & MOVIE_STREAM_AUDIO) ? AMMSF_ADDDEFAULTRENDERER : 0;
        if (r->stream->AddMediaStream(nullptr, &MSPID_PrimaryAudio, audioFlags, nullptr) != S_OK) {
            r->flags |= MOVIE_NO_AUDIO;
            Qel_ErrPrintf("ERROR: connecting Primary Audio to media stream\nIgnoring this!\n");
        }
    }

    char* path = FindMovieFile(number);
    if (!path) {
        Qel_ErrPrintf("S_OpenMovie() Movie %d not found!\n", static_cast<int>(number));
        S_FreeMovie(r);
        return nullptr;
    }
    r->stream->GetFilterGraph(&r->graph);
    if (!r->graph) {
        Qel_StrFree(path);
        S_FreeMovie(r);
        return nullptr;
    }

    // Decoders by the kind of file; the splitter for MPEG streams.
    bool mp3 = EndsWith(path, ".mp3");
    bool dat = EndsWith(path, ".dat");
    const char* audioLabel = nullptr;
    const char* videoLabel = nullptr;
    if (mp3) {
        audioLabel = "Qel MPEG Layer-3 Decoder";
        r->audioDecoder = AddFilter(r->graph, CLSID_MP3Decoder, audioLabel);
    } else if ((r->flags & MOVIE_SPEECH) && (r->flags & MOVIE_NO_VIDEO)) {
        audioLabel = "Qel WMSpeech Decoder DMO";
        r->audioDecoder = AddFilter(r->graph, CLSID_DMOWrapperFilter, audioLabel);
        void* dmo = nullptr;
        if (r->audioDecoder && r->audioDecoder->QueryInterface(IID_IDMOWrapperFilter, &dmo) == S_OK) {
            static_cast<IDMOWrapperFilter*>(dmo)->Init(CLSID_WMSpeechDecoderDMO, DMOCATEGORY_AUDIO_DECODER);
            static_cast<IDMOWrapperFilter*>(dmo)->Release();
        }
    } else if (!(r->flags & MOVIE_NO_VIDEO) && !(r->flags & MOVIE_NO_AUDIO)) {
        audioLabel = "Qel MPEG Audio Decoder";
        r->audioDecoder = AddFilter(r->graph, CLSID_CMpegAudioCodec, audioLabel);
    }
    if (dat && HasVideo(r)) {
        videoLabel = "Qel MPEG Video Decoder";
        r->videoDecoder = AddFilter(r->graph, CLSID_CMpegVideoCodec, videoLabel);
    }
    bool mpegAudio = audioLabel && (std::strcmp(audioLabel, "Qel MPEG Audio Decoder") == 0 ||
                                    std::strcmp(audioLabel, "Qel MPEG Layer-3 Decoder") == 0);
    if (mpegAudio || videoLabel) r->splitter = AddFilter(r->graph, CLSID_MPEG1Splitter, "Qel MPEG-I Stream Splitter");
    bool fileSourceRoute = audioLabel && videoLabel && std::strcmp(audioLabel, "Qel MPEG Audio Decoder") == 0;
    if (!(r->flags & (MOVIE_NO_AUDIO | MOVIE_STREAM_AUDIO)) && !(video2 & kNoManualCodecs))
        r->audioRenderer = AddFilter(r->graph, CLSID_DSoundRender, "Qel Default AudioRenderer");

    bool opened = false;
    if (fileSourceRoute && !(video2 & kNoManualCodecs)) {
        if (r->graph->AddSourceFilter(path, "Qel File Source", &r->fileSource) == S_OK) {
            IPin* pin = nullptr;
            if (r->fileSource->FindPin("Output", &pin) == S_OK && r->graph->Render(pin) == S_OK) opened = true;
            ReleaseInto(pin);
            if (!opened) {
                r->graph->RemoveFilter(r->fileSource);
                ReleaseInto(r->fileSource);
            }
        }
    }
    if (!opened && r->stream->OpenFile(path, 0) != S_OK) {
        Qel_ErrPrintf("Error opening movie: %s\n%s\n", path, "release exe!\n");
        Qel_StrFree(path);
        S_FreeMovie(r);
        return nullptr;
    }
    Qel_StrFree(path);

    if (HasVideo(r)) {
        void* dd = nullptr;
        if (r->stream->GetMediaStream(MSPID_PrimaryVideo, &r->videoStream) != S_OK ||
            r->videoStream->QueryInterface(IID_IDirectDrawMediaStream, &dd) != S_OK) {
            Qel_ErrPrintf("S_OpenMovie: Exit_NoVideo!\n");
            if (r->flags & MOVIE_NO_AUDIO) {
                S_FreeMovie(r);
                return nullptr;
            }
            // The audio goes on alone, streamed by us to its end.
            r->flags |= MOVIE_NO_VIDEO;
            ReleaseVideo(r);
        } else {
            r->ddStream = static_cast<IDirectDrawMediaStream*>(dd);
        }
    }

    if ((r->flags & MOVIE_STREAM_AUDIO) && !(r->flags & MOVIE_NO_AUDIO)) {
        bool ok = S_SoundDevice.directSound != nullptr;
        void* q = nullptr;
        ok = ok && r->stream->GetMediaStream(MSPID_PrimaryAudio, &r->audioStream) == S_OK &&
             r->audioStream->QueryInterface(IID_IAudioMediaStream, &q) == S_OK;
        if (ok) r->audioMediaStream = static_cast<IAudioMediaStream*>(q);
        ok = ok && r->audioMediaStream->GetFormat(&r->waveFormat) == S_OK && r->waveFormat.nAvgBytesPerSec > 0;
        if (ok) {
            r->bytesPerSample = r->waveFormat.wBitsPerSample / 8;
            r->sampleBlockSize = 2 * r->waveFormat.nAvgBytesPerSec;
            r->sampleBlock = static_cast<uint8_t*>(Int_AllocMem(r->sampleBlockSize, kMovieMem));
            if (!r->sampleBlock) {
                Qel_ErrPrintf("Error allocating Audio Buffer Memory!\n");
                r->sampleBlockSize = 0;
                ok = false;
            }
        }
        ok = ok && CoCreateInstance(CLSID_AMAudioData, nullptr, CLSCTX_INPROC_SERVER, IID_IAudioData, &q) == DS_OK;
        if (ok) {
            r->audioData = static_cast<IAudioData*>(q);
            ok = r->audioData->SetBuffer(r->sampleBlockSize, r->sampleBlock, 0) == S_OK &&
                 r->audioData->SetFormat(&r->waveFormat) == S_OK &&
                 r->audioMediaStream->CreateSample(r->audioData, 0, &r->audioSample) == S_OK;
        }
        if (ok) {
            r->soundDesc = DSBUFFERDESC{};
            r->soundDesc.dwSize = sizeof r->soundDesc;
            r->soundDesc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE;
            r->soundDesc.dwBufferBytes = 5 * r->waveFormat.nAvgBytesPerSec;
            r->soundDesc.lpwfxFormat = nullptr;  // points at the record only while creating
            DSBUFFERDESC desc = r->soundDesc;
            desc.lpwfxFormat = &r->waveFormat;
            ok = S_SoundDevice.directSound->CreateSoundBuffer(&desc, &r->soundBuffer, nullptr) == DS_OK;
        }
        if (ok) {
            r->playState = MOVIE_PLAY_IDLE;
        } else {
            Qel_ErrPrintf("S_OpenMovie: Exit_NoSound!\n");
            if (!HasVideo(r)) {
                S_FreeMovie(r);
                return nullptr;
            }
            r->flags |= MOVIE_NO_AUDIO;
            ReleaseAudio(r);
        }
    }

    void* q = nullptr;
    if (r->graph->QueryInterface(IID_IMediaPosition, &q) != S_OK) {
        S_FreeMovie(r);
        return nullptr;
    }
    r->position = static_cast<IMediaPosition*>(q);
    if (r->graph->QueryInterface(IID_IMediaControl, &q) != S_OK) {
        S_FreeMovie(r);
        return nullptr;
    }
    r->control = static_cast<IMediaControl*>(q);
    LONG canSeek = OAFALSE;
    r->position->CanSeekForward(&canSeek);
    if (canSeek == OAFALSE) Qel_DPrintf(0, "WARNING: seeking NOT supported [%d]\n", static_cast<int>(number));
    if (!(r->flags & (MOVIE_NO_AUDIO | MOVIE_STREAM_AUDIO))) {
        if (r->graph->QueryInterface(IID_IBasicAudio, &q) != S_OK) {
            S_FreeMovie(r);
            return nullptr;
        }
        r->basicAudio = static_cast<IBasicAudio*>(q);
    }
    r->stream->SetState(STREAMSTATE_RUN);
    r->control->Pause();
    return r;
}

void S_FreeMovie(MovieRecord* r) {
    if (!r) return;
    if (r->soundBuffer) r->soundBuffer->Stop();
    if (r->control) r->control->Stop();
    if (r->stream) r->stream->SetState(STREAMSTATE_STOP);
    ReleaseInto(r->position);
    ReleaseInto(r->control);
    ReleaseInto(r->basicAudio);
    for (IBaseFilter** f : {&r->audioDecoder, &r->videoDecoder, &r->splitter, &r->fileSource, &r->audioRenderer}) {
        if (!*f) continue;
        if (!r->graph || r->graph->RemoveFilter(*f) != S_OK) Qel_ErrPrintf("Could not remove filter from graph!\n");
        ReleaseInto(*f);
    }
    ReleaseInto(r->graph);
    ReleaseAudio(r);
    ReleaseVideo(r);
    ReleaseInto(r->stream);
    Qel_DPrintf(kLog, "INFO: Freeing Movie [%d]\n", static_cast<int>(r->number));
    Int_FreeRecord(r, kMovieMem);
}

// ---------------------------------------------------------------- play state
int S_MovieStatePlay(MovieEntry* entry) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    Qel_DPrintf(kLog, "S_MovieStatePlay(%d)\n", static_cast<int>(r->number));
    if (HasVideo(r) && !r->videoSample) {
        if (!r->ddStream || r->ddStream->CreateSample(nullptr, nullptr, 0, &r->videoSample) != S_OK) {
            r->videoSample = nullptr;
            return 0;
        }
        r->videoSample->GetSurface(&r->sampleSurface, &r->sampleRect);
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        if (!r->sampleSurface || r->sampleSurface->GetSurfaceDesc(&desc) != S_OK) {
            Qel_ErrPrintf("error getting sample surf. descr.\n");
        } else {
            Qel_DPrintf(4, "stream surface: %d * %d, pitch=%d\n", static_cast<int>(desc.dwWidth),
                        static_cast<int>(desc.dwHeight), static_cast<int>(desc.lPitch));
            const DDPIXELFORMAT& pf = desc.ddpfPixelFormat;
            Qel_DPrintf(4, "%d bits, %08x/%08x/%08x/%08x\n", static_cast<int>(pf.dwRGBBitCount), pf.dwRBitMask,
                        pf.dwGBitMask, pf.dwBBitMask, pf.dwRGBAlphaBitMask);
        }
        r->videoState = MOVIE_VIDEO_REQUEST;
    }
    if (StreamsAudio(r)) {
        r->playState = MOVIE_PLAY_IDLE;
        r->fetchState = MOVIE_FETCH_NEED;
    }
    if (r->control->Run() != S_OK) Qel_ErrPrintf("S_MovieStatePlay() MediaControl->Run() failed!\n");
    return 1;
}

int S_MovieStateStop(MovieEntry* entry) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    Qel_DPrintf(kLog, "S_MovieStateStop(%d)\n", static_cast<int>(r->number));
    if (r->control->Pause() != S_OK) return 0;
    if (StreamsAudio(r)) {
        if (r->soundBuffer->Stop() != DS_OK) return 0;
        r->playState = MOVIE_PLAY_IDLE;
        r->fetchState = MOVIE_FETCH_NEED;
    }
    return 1;
}

int S_SetCurrentMovieTime(MovieEntry* entry, int32_t ms) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    if (!g_ApplicationRecord.active) Qel_DPrintf(kLog, "S_SetCurrentMovieTime() while not active!\n");
    if (r->playState != MOVIE_PLAY_IDLE) {
        Qel_DPrintf(kLog, "S_SetCurrentMovieTime() while playing!\n");
        if (StreamsAudio(r)) {
            r->soundBuffer->Stop();
            r->playState = MOVIE_PLAY_IDLE;
        }
    }
    r->control->Pause();
    r->fetchState = MOVIE_FETCH_NEED;
    r->startTime = ms;
    r->stopTime = -1;
    if (r->flags & MOVIE_NO_POSITION) return r->stream->Seek(static_cast<STREAM_TIME>(ms) * 10000) == S_OK;
    double seconds = ms / 1000.0;
    if (!HasVideo(r) && ms > 500) seconds = (ms - 500) / 1000.0;
    HRESULT hr = r->position->put_CurrentPosition(seconds);
    if (hr == S_OK) Qel_DPrintf(kLog, "SUCCESS\n");
    else if (hr == S_FALSE) Qel_DPrintf(kLog, "FALSE\n");
    else Qel_DPrintf(kLog, "Failed with HRESULT(%s)\n", S_DSErrorText(hr));
    Qel_DPrintf(kLog, "put_CurrentPosition(%f)\n", seconds);
    return hr >= 0 ? 1 : 0;
}

int S_MovieGetPosition(MovieEntry* entry, int32_t* ms) {
    if (!entry || !entry->record || !ms) return 0;
    MovieRecord* r = entry->record;
    if (r->flags & MOVIE_NO_POSITION) {
        STREAM_TIME t = 0;
        if (r->stream->GetTime(&t) != S_OK) return 0;
        *ms = Ms(t);
        return 1;
    }
    REFTIME t = 0;
    if (r->position->get_CurrentPosition(&t) != S_OK) return 0;
    *ms = static_cast<int32_t>(t * 1000.0);
    return 1;
}

int S_MovieSetVolume(uint32_t volume, MovieEntry* entry) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    if (r->flags & MOVIE_NO_AUDIO) return 1;
    LONG db = static_cast<LONG>(volume) * 5000 / 256 - 5000;
    if (r->flags & MOVIE_STREAM_AUDIO) return r->soundBuffer && r->soundBuffer->SetVolume(db) == DS_OK;
    return r->basicAudio && r->basicAudio->put_Volume(db) == S_OK;
}

int S_MovieSetRate(MovieEntry* entry, double rate) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    if (r->flags & MOVIE_NO_POSITION) {
        Qel_ErrPrintf("ERROR:Setting rate on NOPOS stream!\n");
        return 0;
    }
    return r->position->put_Rate(rate) == S_OK;
}

int S_MovieSetStopTime(MovieEntry* entry, int32_t ms) {
    if (!entry || !entry->record) return 0;
    entry->record->stopTime = ms;
    return 1;
}

uint32_t S_MovieGetFlags(MovieEntry* entry) { return entry && entry->record ? entry->record->flags : 0; }

// ---------------------------------------------------------------- frames
int S_CopyMovieFrame(IDirectDrawSurface* source, EBM* destination) {
    if (!source || !destination) return 0;
    DDSURFACEDESC src{};
    src.dwSize = sizeof src;
    HRESULT hr = source->Lock(nullptr, &src, DDLOCK_WAIT | DDLOCK_READONLY, nullptr);
    if (hr != S_OK) {
        Qel_ErrPrintf("S_CopyMovieFrame() error locking sample surface, %s\n", S_DSErrorText(hr));
        return 0;
    }
    if (!S_MovieTextureLink.lock) {
        Qel_ErrPrintf("S_RenderMovieFrame() error getting dest surf. descr., %s\n", S_DSErrorText(DSERR_UNSUPPORTED));
        source->Unlock(nullptr);
        return 0;
    }
    MovieLockedSurface dst{};
    hr = S_MovieTextureLink.lock(destination, &dst);
    if (hr != S_OK) {
        Qel_ErrPrintf("S_RenderMovieFrame() error locking destination texture, %s\n", S_DSErrorText(hr));
        source->Unlock(nullptr);
        return 0;
    }
    uint32_t sw = src.dwWidth, sh = src.dwHeight, dw = dst.width, dh = dst.height;
    uint32_t srcBits = src.ddpfPixelFormat.dwRGBBitCount;
    if (dst.bitsPerPixel == 32 && (srcBits == 32 || srcBits == 16)) {
        Packer pack(dst);
        const DDPIXELFORMAT& pf = src.ddpfPixelFormat;
        int rb = HighestBit(pf.dwRBitMask), gb = HighestBit(pf.dwGBitMask), bb = HighestBit(pf.dwBBitMask);
        // One source pixel as 8-bit red, green and blue.
        auto read = [&](uint32_t x, uint32_t y, uint32_t* r, uint32_t* g, uint32_t* b) {
            const uint8_t* row = static_cast<const uint8_t*>(src.lpSurface) + static_cast<size_t>(y) * src.lPitch;
            if (srcBits == 32) {
                const uint8_t* p = row + 4 * x;
                *b = p[0], *g = p[1], *r = p[2];
            } else {
                uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
                *b = ((v & pf.dwBBitMask & 0xFF) << (8 - bb)) & 0xFF;
                *g = ((v & pf.dwGBitMask) >> (gb - 8)) & 0xFF;
                *r = ((v & pf.dwRBitMask) >> (rb - 8)) & 0xFF;
            }
        };
        auto put = [&](uint32_t x, uint32_t y, uint32_t v) {
            // Clipped to the texture: a larger or differently shaped movie never writes past it.
            if (x >= dw || y >= dh) return;
            reinterpret_cast<uint32_t*>(dst.bits + static_cast<size_t>(y) * dst.pitch)[x] = v;
        };
        // Only the source pixels that land inside the texture are read: a
        // movie far larger than its texture costs no more than the texture.
        uint32_t r, g, b;
        if (dw == 2 * sw) {
            for (uint32_t y = 0; y < std::min(sh, (dh + 1) / 2); ++y)
                for (uint32_t x = 0; x < std::min(sw, (dw + 1) / 2); ++x) {
                    read(x, y, &r, &g, &b);
                    uint32_t v = pack(r, g, b);
                    put(2 * x, 2 * y, v), put(2 * x + 1, 2 * y, v), put(2 * x, 2 * y + 1, v),
                        put(2 * x + 1, 2 * y + 1, v);
                }
        } else if (sw == 2 * dw) {
            for (uint32_t y = 0; y + 1 < std::min<uint64_t>(sh, 2ull * dh); y += 2)
                for (uint32_t x = 0; x + 1 < std::min<uint64_t>(sw, 2ull * dw); x += 2) {
                    uint32_t rs = 0, gs = 0, bs = 0;
                    for (uint32_t k = 0; k < 4; ++k) {
                        read(x + (k & 1), y + (k >> 1), &r, &g, &b);
                        rs += r, gs += g, bs += b;
                    }
                    put(x / 2, y / 2, pack(rs / 4, gs / 4, bs / 4));
                }
        } else {
            for (uint32_t y = 0; y < std::min(sh, dh); ++y)
                for (uint32_t x = 0; x < std::min(sw, dw); ++x) {
                    read(x, y, &r, &g, &b);
                    put(x, y, pack(r, g, b));
                }
        }
    }
    if (S_MovieTextureLink.unlock) S_MovieTextureLink.unlock(destination);
    source->Unlock(nullptr);
    return 1;
}

uint16_t S_RenderMovieFrame(MovieEntry* entry, EBM* destination) {
    if (!entry || !entry->record) return 0;
    MovieRecord* r = entry->record;
    if (!g_ApplicationRecord.active) return 2;
    if (HasVideo(r)) {
        if (!destination) {
            Qel_DPrintf(kLog, "S_RenderMovieFrame(%d) destination is NULL!\n", static_cast<int>(r->number));
            return 2;
        }
        if (!S_MovieTextureLink.hasSurface || !S_MovieTextureLink.hasSurface(destination) || !r->videoSample) return 2;

        uint16_t result = 1;
        if (r->videoState == MOVIE_VIDEO_PENDING) {
            HRESULT hr = r->videoSample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0);
            if (hr == E_ABORT) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned E_ABORT\n");
                r->videoState = MOVIE_VIDEO_REQUEST;
            } else if (hr == MS_S_ENDOFSTREAM) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned MS_S_ENDOFSTREAM\n");
                r->control->Pause();
                r->videoState = MOVIE_VIDEO_REQUEST;
                return 2;
            } else if (hr == MS_S_NOUPDATE) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned MS_S_NOUPDATE\n");
                r->videoState = MOVIE_VIDEO_REQUEST;
            } else if (hr == MS_S_PENDING) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned MS_S_PENDING\n");
            } else if (hr == S_OK) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned S_OK\n");
                r->videoState = MOVIE_VIDEO_READY;
            } else {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() CompletionStatus() returned unknown\n");
            }
        } else if (r->videoState == MOVIE_VIDEO_REQUEST) {
            STREAM_TIME start = 0, end = 0;
            r->videoSample->GetSampleTimes(&start, &end, nullptr);
            Qel_DPrintf(kLog, "S_RenderMovieFrame() sstart=%d ssend=%d movstart=%d movend=%d\n", Ms(start), Ms(end),
                        r->startTime, r->stopTime);
            HRESULT hr = r->videoSample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0);
            if (hr == E_ABORT) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned E_ABORT\n");
                return 1;
            } else if (hr == E_INVALIDARG) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned E_INVALIDARG\n");
                return 0;
            } else if (hr == E_POINTER) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned E_POINTER\n");
                return 0;
            } else if (hr == MS_E_BUSY) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned MS_E_BUSY\n");
                r->playState = MOVIE_PLAY_PLAYING;
                return 1;
            } else if (hr == MS_S_ENDOFSTREAM) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned MS_S_ENDOFSTREAM\n");
                r->control->Pause();
                return 2;
            } else if (hr == MS_S_PENDING) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned MS_S_PENDING\n");
                r->videoState = MOVIE_VIDEO_PENDING;
            } else if (hr == S_OK) {
                // A frame that is there at once is copied like any other.
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned S_OK\n");
                r->videoState = MOVIE_VIDEO_READY;
            } else {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned unknown error code\n");
                return 0;
            }
        }
        if (r->videoState == MOVIE_VIDEO_READY) {
            REFTIME now = 0;
            bool known = (r->flags & MOVIE_NO_POSITION) || r->position->get_CurrentPosition(&now) == S_OK;
            if (!known || (r->stopTime > 0 && now * 1000.0 > r->stopTime)) {
                Qel_DPrintf(kLog, "S_RenderMovieFrame() Update() returned MS_E_BUSY\n");
                r->playState = MOVIE_PLAY_PLAYING;
                return result;
            }
            if (!S_CopyMovieFrame(r->sampleSurface, destination)) {
                Qel_ErrPrintf("S_RenderMovieFrame() Unable to copy frame\n");
                r->control->Pause();
                if (StreamsAudio(r)) {
                    r->soundBuffer->Stop();
                    r->playState = MOVIE_PLAY_IDLE;
                }
                ReleaseInto(r->videoSample);
                ReleaseInto(r->sampleSurface);
            }
            r->videoState = MOVIE_VIDEO_REQUEST;
        }
    }
    if (r->flags & MOVIE_NO_AUDIO) return 1;
    if (r->flags & MOVIE_STREAM_AUDIO) {
        uint16_t audio = Int_MovieRenderAudioToDS(r);
        if (audio != 2 || !HasVideo(r)) return audio;
        // A movie ends with its last frame (the video's end of stream above),
        // or at its stop time, never when only its sound has played out.
        int32_t ms = 0;
        return r->stopTime > 0 && S_MovieGetPosition(entry, &ms) && ms >= r->stopTime ? 2 : 1;
    }
    if (HasVideo(r)) return 1;
    REFTIME now = 0, length = 0;
    r->position->get_CurrentPosition(&now);
    r->position->get_Duration(&length);
    return now >= length ? 2 : 1;
}

// ---------------------------------------------------------------- streamed audio
namespace {
// The sound is fetched ahead of what is heard (up to the ring buffer's five
// seconds), so its end of stream comes early. A soundtrack's graph may pause
// then; a movie's picture must go on to its last frame, in time with the
// sound still playing out of the ring.
void PauseForAudio(MovieRecord* r) {
    if (!HasVideo(r)) r->control->Pause();
}
}  // namespace

uint16_t Int_MovieRenderAudioToDS(MovieRecord* r) {
    IDirectSoundBuffer8* b = r->soundBuffer;
    if (!b || !r->audioSample || !r->audioData) return 0;
    const uint32_t size = r->soundDesc.dwBufferBytes;
    const uint32_t align = r->waveFormat.nBlockAlign ? r->waveFormat.nBlockAlign : 1;

    if (r->playState == MOVIE_PLAY_IDLE && r->fetchState == MOVIE_FETCH_NEED) {
        b->Stop();
        r->writeCursor = r->endDistance = 0;
        b->SetCurrentPosition(0);
        Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() ------ Init\n");
    }
    DWORD play = 0, write = 0;
    if (b->GetCurrentPosition(&play, &write) != DS_OK) return 0;

    if (r->fetchState == MOVIE_FETCH_PENDING && r->audioSample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0) == S_OK)
        r->fetchState = MOVIE_FETCH_READY;

    if (r->fetchState == MOVIE_FETCH_READY) {
        DWORD n = 0;
        r->audioData->GetInfo(nullptr, nullptr, &n);
        uint32_t freeSpace = (size - r->writeCursor + play) % size;
        if (r->playState == MOVIE_PLAY_PLAYING && freeSpace <= n) return 1;  // no room yet: next frame
        STREAM_TIME start = 0, end = 0;
        r->audioSample->GetSampleTimes(&start, &end, nullptr);
        Qel_DPrintf(kLog, "sstart=%d ssend=%d movstart=%d movend=%d\n", Ms(start), Ms(end), r->startTime, r->stopTime);
        int64_t startMs = Ms(start), endMs = Ms(end);
        int64_t span = end - start;  // a block without duration cuts nothing
        int64_t skip = 0;
        if (startMs < r->startTime && span > 0) {
            skip = static_cast<int64_t>(n) * (static_cast<int64_t>(r->startTime) * 10000 - start) / span;
            skip = std::min<int64_t>(skip, n) / align * align;
        }
        int64_t count = n;
        if (r->stopTime > 0 && endMs > r->stopTime && span > 0) {
            count = static_cast<int64_t>(n) * (static_cast<int64_t>(r->stopTime) * 10000 - start) / span;
            count = std::max<int64_t>(0, count) / align * align;
        }
        if (count - skip <= 0) {
            r->fetchState = MOVIE_FETCH_NEED;
        } else {
            DWORD bytes = static_cast<DWORD>(count - skip);
            void *p1 = nullptr, *p2 = nullptr;
            DWORD n1 = 0, n2 = 0;
            HRESULT hr = b->Lock(r->writeCursor, bytes, &p1, &n1, &p2, &n2, 0);
            if (hr == DSERR_BUFFERLOST) {
                b->Restore();
                hr = b->Lock(r->writeCursor, bytes, &p1, &n1, &p2, &n2, 0);
            }
            if (hr != DS_OK) {
                Qel_ErrPrintf("Int_MovieRenderAudioToDS() Lock() failed!\n");
                return 0;
            }
            std::memcpy(p1, r->sampleBlock + skip, n1);
            if (p2 && n2) std::memcpy(p2, r->sampleBlock + skip + n1, n2);
            b->Unlock(p1, n1, p2, n2);
            r->writeCursor = (r->writeCursor + bytes) % size;
            r->fetchState = MOVIE_FETCH_NEED;
            if (r->playState == MOVIE_PLAY_IDLE) {
                if (b->Play(0, 0, DSBPLAY_LOOPING) != DS_OK) return 0;
                r->playState = MOVIE_PLAY_PLAYING;
                Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() Play\n");
            }
            if (r->stopTime > 0 && endMs >= r->stopTime) {
                r->fetchState = MOVIE_FETCH_DONE;
                PauseForAudio(r);
                r->endDistance = (r->writeCursor - play + size) % size;
                r->playState = MOVIE_PLAY_ENDING;
                Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() Stop position reached!\n");
            }
        }
    }

    if (r->fetchState == MOVIE_FETCH_NEED) {
        REFTIME now = 0;
        if (!(r->flags & MOVIE_NO_POSITION) && r->position->get_CurrentPosition(&now) == S_OK)
            Qel_DPrintf(kLog, "GetCurrentTime() -> %f\n", now);
        HRESULT hr = r->audioSample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0);
        if (hr == MS_S_ENDOFSTREAM) {
            DWORD left = 0;
            r->audioData->GetInfo(nullptr, nullptr, &left);
            if (left > 0) {
                Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() Reached end of stream, but still data left!\n");
                r->fetchState = MOVIE_FETCH_READY;
            } else {
                r->fetchState = MOVIE_FETCH_DONE;
                PauseForAudio(r);
                r->endDistance = (r->writeCursor - play + size) % size;
                r->playState = MOVIE_PLAY_ENDING;
                Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() Finished Streaming!\n");
            }
        } else {
            r->fetchState = hr == S_OK ? MOVIE_FETCH_READY : MOVIE_FETCH_PENDING;
        }
    }

    if (r->playState == MOVIE_PLAY_ENDING) {
        uint32_t left = (r->writeCursor - play + size) % size;
        if (left > r->endDistance || left == 0) {
            b->Stop();
            r->playState = MOVIE_PLAY_IDLE;
            r->writeCursor = 0;
            Qel_DPrintf(kLog, "INT_MovieRenderAudioToDS() ------ Ended\n");
            return 2;
        }
        r->endDistance = left;
        uint32_t freeSpace = (size - r->writeCursor + play) % size;
        if (freeSpace < (size - write + play) % size && freeSpace > 0) {
            void *p1 = nullptr, *p2 = nullptr;
            DWORD n1 = 0, n2 = 0;
            if (b->Lock(r->writeCursor, freeSpace, &p1, &n1, &p2, &n2, 0) == DS_OK) {
                std::memset(p1, 0, n1);
                if (p2 && n2) std::memset(p2, 0, n2);
                b->Unlock(p1, n1, p2, n2);
            }
        }
    }
    return 1;
}

const char* S_GetLogoImageName() {
    static const char* const kLogos[] = {"images\\logo01.jpg", "images\\logo02.jpg", "images\\logo03.jpg",
                                         "images\\logo04.jpg", "images\\logo05.jpg"};
    int32_t n = LogoPictureNum();
    if (n >= 0 && n < 5) return kLogos[n];
    return LogoPictureName();
}
