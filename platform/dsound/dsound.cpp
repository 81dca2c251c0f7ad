// DirectSound 8 over OpenAL Soft. One OpenAL device and context serve every
// DirectSound object. Static buffers hold their bytes in one OpenAL buffer on
// their own source; streaming buffers (written while they play) keep a ring in
// memory and feed their source a few short chunks ahead of the play cursor.
// 3D settings may be deferred and are then applied together at the commit,
// inside one context suspend/process. The EAX listener property set loads an
// EFX reverb into one auxiliary slot that every 3D source sends to.
#include "platform/dsound/dsound.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <AL/efx.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dsound/seam.h"

namespace {

DSoundSeam g_seam;

void Record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    g_seam.calls.emplace_back(line);
}

// ---------------------------------------------------------------- the OpenAL device
struct EfxFunctions {
    LPALGENEFFECTS GenEffects;
    LPALDELETEEFFECTS DeleteEffects;
    LPALEFFECTI Effecti;
    LPALEFFECTF Effectf;
    LPALEFFECTFV Effectfv;
    LPALGETEFFECTF GetEffectf;
    LPALGENAUXILIARYEFFECTSLOTS GenSlots;
    LPALDELETEAUXILIARYEFFECTSLOTS DeleteSlots;
    LPALAUXILIARYEFFECTSLOTI Sloti;
    LPALGETAUXILIARYEFFECTSLOTI GetSloti;
};

struct AlDevice {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    int users = 0;
    bool loopback = false;
    bool efx = false;
    bool eaxReverb = false;  // AL_EFFECT_EAXREVERB available, else plain reverb
    ALuint slot = 0;
    ALuint effect = 0;
    bool roomLoaded = false;
    EfxFunctions fx{};
    LPALCRENDERSAMPLESSOFT render = nullptr;
};
AlDevice g_al;

int g_liveObjects = 0;

template <class F>
F Proc(const char* name) {
    return reinterpret_cast<F>(alGetProcAddress(name));
}

void CloseAlDevice();

bool OpenAlDevice() {
    if (g_al.users > 0) {
        ++g_al.users;
        return true;
    }
    g_al = AlDevice{};
    if (g_seam.loopback) {
        auto open =
            reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
        g_al.render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
        if (!open || !g_al.render) return false;
        g_al.device = open(nullptr);
        g_al.loopback = true;
    } else {
        g_al.device = alcOpenDevice(nullptr);
    }
    if (!g_al.device) return false;
    bool efx = !g_seam.noEFX && alcIsExtensionPresent(g_al.device, "ALC_EXT_EFX");
    std::vector<ALCint> attrs;
    if (g_al.loopback) {
        attrs.insert(attrs.end(), {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                                   ALC_FREQUENCY, static_cast<ALCint>(g_seam.loopbackRate)});
    }
    if (efx) attrs.insert(attrs.end(), {ALC_MAX_AUXILIARY_SENDS, 1});
    attrs.push_back(0);
    g_al.context = alcCreateContext(g_al.device, attrs.data());
    if (!g_al.context || !alcMakeContextCurrent(g_al.context)) {
        if (g_al.context) alcDestroyContext(g_al.context);
        alcCloseDevice(g_al.device);
        g_al = AlDevice{};
        return false;
    }
    alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
    if (efx) {
        EfxFunctions& f = g_al.fx;
        f.GenEffects = Proc<LPALGENEFFECTS>("alGenEffects");
        f.DeleteEffects = Proc<LPALDELETEEFFECTS>("alDeleteEffects");
        f.Effecti = Proc<LPALEFFECTI>("alEffecti");
        f.Effectf = Proc<LPALEFFECTF>("alEffectf");
        f.Effectfv = Proc<LPALEFFECTFV>("alEffectfv");
        f.GetEffectf = Proc<LPALGETEFFECTF>("alGetEffectf");
        f.GenSlots = Proc<LPALGENAUXILIARYEFFECTSLOTS>("alGenAuxiliaryEffectSlots");
        f.DeleteSlots = Proc<LPALDELETEAUXILIARYEFFECTSLOTS>("alDeleteAuxiliaryEffectSlots");
        f.Sloti = Proc<LPALAUXILIARYEFFECTSLOTI>("alAuxiliaryEffectSloti");
        f.GetSloti = Proc<LPALGETAUXILIARYEFFECTSLOTI>("alGetAuxiliaryEffectSloti");
        efx = f.GenEffects && f.DeleteEffects && f.Effecti && f.Effectf && f.Effectfv && f.GetEffectf && f.GenSlots &&
              f.DeleteSlots && f.Sloti && f.GetSloti;
    }
    if (efx) {
        alGetError();
        g_al.fx.GenSlots(1, &g_al.slot);
        g_al.fx.GenEffects(1, &g_al.effect);
        if (alGetError() == AL_NO_ERROR) {
            g_al.fx.Effecti(g_al.effect, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
            g_al.eaxReverb = alGetError() == AL_NO_ERROR;
            if (!g_al.eaxReverb) g_al.fx.Effecti(g_al.effect, AL_EFFECT_TYPE, AL_EFFECT_REVERB);
            efx = alGetError() == AL_NO_ERROR;
        } else {
            efx = false;
        }
    }
    g_al.efx = efx;
    g_al.users = 1;
    return true;
}

void CloseAlDevice() {
    if (g_al.users <= 0 || --g_al.users > 0) return;
    if (g_al.efx) {
        g_al.fx.Sloti(g_al.slot, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);
        g_al.fx.DeleteEffects(1, &g_al.effect);
        g_al.fx.DeleteSlots(1, &g_al.slot);
    }
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(g_al.context);
    alcCloseDevice(g_al.device);
    g_al = AlDevice{};
}

bool DeviceOpen() { return g_al.users > 0; }

// ---------------------------------------------------------------- conversions
float VolumeGain(LONG v) {
    if (v <= DSBVOLUME_MIN) return 0.0f;
    if (v >= 0) return 1.0f;
    return std::pow(10.0f, static_cast<float>(v) / 2000.0f);
}

float MbGain(float mb) { return std::pow(10.0f, mb / 2000.0f); }

ALenum AlFormat(const WAVEFORMATEX& f) {
    if (f.nChannels == 1) return f.wBitsPerSample == 16 ? AL_FORMAT_MONO16 : AL_FORMAT_MONO8;
    return f.wBitsPerSample == 16 ? AL_FORMAT_STEREO16 : AL_FORMAT_STEREO8;
}

// ---------------------------------------------------------------- 3D parameters
struct Params3D {
    DS3DBUFFER values{};
};

struct ListenerParams {
    float position[3]{};
    float velocity[3]{};
    float orientation[6]{0, 0, 1, 0, 1, 0};
    float distanceFactor = 1.0f;
    float dopplerFactor = 1.0f;
    float rolloffFactor = 1.0f;
};

class Buffer;
class Buffer3D;
class Listener;
std::vector<Buffer3D*> g_buffers3D;
Listener* g_listener = nullptr;
ListenerParams g_listenerNow;  // applied to OpenAL

void ApplyRolloffToAll();

// ---------------------------------------------------------------- buffers
class PropertySet;

class Buffer final : public IDirectSoundBuffer8 {
public:
    Buffer(const DSBUFFERDESC& desc, int id) : id_(id), flags_(desc.dwFlags) {
        ++g_liveObjects;
        if (desc.lpwfxFormat) format_ = *desc.lpwfxFormat;
        primary_ = (flags_ & DSBCAPS_PRIMARYBUFFER) != 0;
        if (primary_) {
            format_ = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
            return;
        }
        data_.assign(desc.dwBufferBytes, format_.wBitsPerSample == 8 ? 0x80 : 0);
        frequency_ = format_.nSamplesPerSec;
        streaming_ = !(flags_ & DSBCAPS_STATIC) && !(flags_ & DSBCAPS_CTRL3D);
        alGetError();
        alGenSources(1, &source_);
        if (streaming_) {
            alGenBuffers(kChunks, chunkBuffers_);
            uint32_t align = std::max<uint32_t>(1, format_.nBlockAlign);
            chunkBytes_ = std::max<uint32_t>(align, (format_.nAvgBytesPerSec / 20) / align * align);
            free_.assign(chunkBuffers_, chunkBuffers_ + kChunks);
        } else {
            alGenBuffers(1, &alBuffer_);
        }
        if (alGetError() != AL_NO_ERROR) failed_ = true;
        if (flags_ & DSBCAPS_CTRL3D) {
            alSourcei(source_, AL_SOURCE_RELATIVE, AL_FALSE);
            alSourcef(source_, AL_ROLLOFF_FACTOR, g_listenerNow.rolloffFactor);
            if (g_al.efx)
                alSource3i(source_, AL_AUXILIARY_SEND_FILTER, static_cast<ALint>(g_al.slot), 0, AL_FILTER_NULL);
        } else {
            alSourcei(source_, AL_SOURCE_RELATIVE, AL_TRUE);
            alSourcef(source_, AL_ROLLOFF_FACTOR, 0.0f);
            alSource3f(source_, AL_POSITION, 0.0f, 0.0f, -1.0f);
        }
        Upload();
    }

    bool Failed() const { return failed_; }
    bool Is3D() const { return (flags_ & DSBCAPS_CTRL3D) != 0; }
    ALuint Source() const { return source_; }
    int Id() const { return id_; }
    bool Primary() const { return primary_; }

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0 && refs3D_ == 0 && refsProp_ == 0) {
            Destroy();
            return static_cast<ULONG>(g_seam.releaseExtraRefs);
        }
        return left;
    }
    // The 3D-buffer and property-set interfaces count on their own; the object
    // goes when every count is 0.
    ULONG Release3D() {
        ULONG left = --refs3D_;
        if (left == 0 && refs_ == 0 && refsProp_ == 0) Destroy();
        return left + static_cast<ULONG>(g_seam.releaseExtraRefs);
    }
    ULONG ReleaseProp() {
        ULONG left = --refsProp_;
        if (left == 0 && refs_ == 0 && refs3D_ == 0) Destroy();
        return left;
    }
    void AddRef3D() { ++refs3D_; }
    void AddRefProp() { ++refsProp_; }

    HRESULT QueryInterface(const GUID& iid, void** out) override;

    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
        if (g_seam.failGetPosition) return DSERR_GENERIC;
        if (primary_) {
            if (play) *play = 0;
            if (write) *write = 0;
            return DS_OK;
        }
        DWORD p = 0, w = 0;
        if (streaming_) {
            Pump();
            p = (playCursor_ + CurrentChunkOffset()) % Size();
            w = playing_ ? queuedCursor_ : p;
        } else if (Size() > 0) {
            ALint offset = 0;
            alGetSourcei(source_, AL_BYTE_OFFSET, &offset);
            p = static_cast<DWORD>(offset) % Size();
            w = (p + format_.nAvgBytesPerSec / 100) % Size();
        }
        if (play) *play = p;
        if (write) *write = w;
        return DS_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) override {
        if (format && size >= sizeof(WAVEFORMATEX)) *format = format_;
        if (written) *written = sizeof(WAVEFORMATEX);
        return DS_OK;
    }
    HRESULT GetVolume(LONG* v) override {
        if (!v) return DSERR_INVALIDPARAM;
        *v = volume_;
        return DS_OK;
    }
    HRESULT GetPan(LONG* p) override {
        if (!p) return DSERR_INVALIDPARAM;
        *p = pan_;
        return DS_OK;
    }
    HRESULT GetFrequency(DWORD* f) override {
        if (!f) return DSERR_INVALIDPARAM;
        *f = frequency_;
        return DS_OK;
    }
    HRESULT GetStatus(DWORD* status) override {
        if (!status) return DSERR_INVALIDPARAM;
        if (g_seam.lostBuffers > 0 && !primary_) {
            --g_seam.lostBuffers;
            lost_ = true;
        }
        *status = 0;
        if (lost_) {
            *status = DSBSTATUS_BUFFERLOST;
            return DS_OK;
        }
        if (primary_) {
            if (playing_) *status = DSBSTATUS_PLAYING | (looping_ ? DSBSTATUS_LOOPING : 0);
            return DS_OK;
        }
        if (streaming_) Pump();
        bool playing = playing_;
        if (!streaming_) {
            ALint state = AL_STOPPED;
            alGetSourcei(source_, AL_SOURCE_STATE, &state);
            playing = state == AL_PLAYING;
        }
        if (playing) *status = DSBSTATUS_PLAYING | (looping_ ? DSBSTATUS_LOOPING : 0);
        return DS_OK;
    }
    HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
                 DWORD flags) override {
        Record("Lock #%d %u %u", id_, offset, bytes);
        if (g_seam.failLock) return DSERR_INVALIDCALL;
        if (lost_) return DSERR_BUFFERLOST;
        if (primary_ || !part1 || !bytes1) return DSERR_INVALIDPARAM;
        DWORD size = Size();
        if (flags & DSBLOCK_ENTIREBUFFER) {
            offset = 0;
            bytes = size;
        }
        if (flags & DSBLOCK_FROMWRITECURSOR) GetCurrentPosition(nullptr, &offset);
        if (size == 0 || offset >= size || bytes > size) return DSERR_INVALIDPARAM;
        DWORD first = std::min(bytes, size - offset);
        *part1 = data_.data() + offset;
        *bytes1 = first;
        if (part2) *part2 = bytes > first ? data_.data() : nullptr;
        if (bytes2) *bytes2 = bytes - first;
        if (!part2 && bytes > first) return DSERR_INVALIDPARAM;
        locked_ = true;
        return DS_OK;
    }
    HRESULT Play(DWORD, DWORD, DWORD flags) override {
        Record("Play #%d %s", id_, (flags & DSBPLAY_LOOPING) ? "looping" : "once");
        if (g_seam.failPlay && !primary_) return DSERR_INVALIDCALL;
        if (primary_ && g_seam.failPrimaryPlay) return DSERR_PRIOLEVELNEEDED;
        if (lost_) return DSERR_BUFFERLOST;
        looping_ = (flags & DSBPLAY_LOOPING) != 0;
        if (primary_) {
            playing_ = true;
            return DS_OK;
        }
        if (streaming_) {
            if (!playing_) {
                playing_ = true;
                queuedCursor_ = playCursor_;
                queuedBytes_ = 0;
                Pump();
            }
            return DS_OK;
        }
        if (dirty_) Upload();
        alSourcei(source_, AL_LOOPING, looping_ ? AL_TRUE : AL_FALSE);
        ALint state = AL_STOPPED;
        alGetSourcei(source_, AL_SOURCE_STATE, &state);
        if (state != AL_PLAYING) {
            ALint offset = static_cast<ALint>(startOffset_);
            alSourcePlay(source_);
            if (offset > 0) alSourcei(source_, AL_BYTE_OFFSET, offset);
            startOffset_ = 0;
        }
        return alGetError() == AL_NO_ERROR ? DS_OK : DSERR_GENERIC;
    }
    HRESULT SetCurrentPosition(DWORD position) override {
        Record("SetCurrentPosition #%d %u", id_, position);
        if (primary_) return DSERR_INVALIDCALL;
        if (position >= std::max<DWORD>(1, Size())) return DSERR_INVALIDPARAM;
        if (streaming_) {
            bool was = playing_;
            StopStream();
            playCursor_ = queuedCursor_ = position;
            if (was) Play(0, 0, looping_ ? DSBPLAY_LOOPING : 0);
            return DS_OK;
        }
        ALint state = AL_STOPPED;
        alGetSourcei(source_, AL_SOURCE_STATE, &state);
        if (state == AL_PLAYING || state == AL_PAUSED) alSourcei(source_, AL_BYTE_OFFSET, static_cast<ALint>(position));
        else startOffset_ = position;
        return DS_OK;
    }
    HRESULT SetFormat(const WAVEFORMATEX* format) override {
        if (!format) return DSERR_INVALIDPARAM;
        Record("SetFormat #%d %u %u %u", id_, format->nChannels, format->nSamplesPerSec, format->wBitsPerSample);
        if (!primary_) return DSERR_INVALIDCALL;
        format_ = *format;
        return DS_OK;
    }
    HRESULT SetVolume(LONG volume) override {
        Record("SetVolume #%d %d", id_, volume);
        if (g_seam.failSetVolume) return DSERR_CONTROLUNAVAIL;
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
        if (!primary_ && !(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
        volume_ = volume;
        if (primary_) alListenerf(AL_GAIN, VolumeGain(volume));
        else ApplyGain();
        return DS_OK;
    }
    HRESULT SetPan(LONG pan) override {
        Record("SetPan #%d %d", id_, pan);
        if (g_seam.failSetPan) return DSERR_CONTROLUNAVAIL;
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
        if (!primary_ && !(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
        pan_ = pan;
        if (!primary_) ApplyPan();
        return DS_OK;
    }
    HRESULT SetFrequency(DWORD frequency) override {
        Record("SetFrequency #%d %u", id_, frequency);
        if (g_seam.failSetFrequency) return DSERR_CONTROLUNAVAIL;
        if (primary_ || !(flags_ & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
        if (frequency == 0) frequency = format_.nSamplesPerSec;
        if (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX) return DSERR_INVALIDPARAM;
        frequency_ = frequency;
        float pitch = format_.nSamplesPerSec ? static_cast<float>(frequency) / format_.nSamplesPerSec : 1.0f;
        alSourcef(source_, AL_PITCH, pitch);
        return DS_OK;
    }
    HRESULT Stop() override {
        Record("Stop #%d", id_);
        if (g_seam.failStop) return DSERR_GENERIC;
        if (primary_) {
            playing_ = false;
            return DS_OK;
        }
        if (streaming_) {
            Pump();
            playCursor_ = (playCursor_ + CurrentChunkOffset()) % std::max<DWORD>(1, Size());
            StopStream();
            return DS_OK;
        }
        ALint offset = 0;
        alGetSourcei(source_, AL_BYTE_OFFSET, &offset);
        alSourceStop(source_);
        startOffset_ = static_cast<DWORD>(offset);
        return DS_OK;
    }
    HRESULT Unlock(void*, DWORD bytes1, void*, DWORD bytes2) override {
        Record("Unlock #%d %u %u", id_, bytes1, bytes2);
        if (g_seam.failUnlock) return DSERR_INVALIDCALL;
        if (!locked_) return DSERR_INVALIDCALL;
        locked_ = false;
        if (!streaming_) {
            ALint state = AL_STOPPED;
            alGetSourcei(source_, AL_SOURCE_STATE, &state);
            if (state == AL_PLAYING) dirty_ = true;
            else Upload();
        }
        return DS_OK;
    }
    HRESULT Restore() override {
        Record("Restore #%d", id_);
        if (g_seam.failRestore) return DSERR_BUFFERLOST;
        lost_ = false;
        return DS_OK;
    }

    // The device went away: drop the OpenAL objects, keep answering.
    void Orphan() {
        FreeAl();
        orphan_ = true;
    }

private:
    static constexpr int kChunks = 4;

    DWORD Size() const { return static_cast<DWORD>(data_.size()); }

    void ApplyGain() {
        if (source_) alSourcef(source_, AL_GAIN, VolumeGain(volume_) * panGain_);
    }
    // Pan as a position on the unit circle in front of the listener, with the
    // left/right balance DirectSound gives (the louder side at full gain).
    void ApplyPan() {
        if (!source_ || Is3D()) return;
        float left = pan_ > 0 ? VolumeGain(-pan_) : 1.0f;
        float right = pan_ < 0 ? VolumeGain(pan_) : 1.0f;
        float angle = 2.0f * std::atan2(right, left) - static_cast<float>(M_PI) / 2.0f;
        alSource3f(source_, AL_POSITION, std::sin(angle), 0.0f, -std::cos(angle));
    }
    void Upload() {
        dirty_ = false;
        if (streaming_ || !alBuffer_ || data_.empty() || orphan_) return;
        alSourcei(source_, AL_BUFFER, 0);
        alBufferData(alBuffer_, AlFormat(format_), data_.data(), static_cast<ALsizei>(data_.size()),
                     static_cast<ALsizei>(format_.nSamplesPerSec));
        alSourcei(source_, AL_BUFFER, static_cast<ALint>(alBuffer_));
        if (alGetError() != AL_NO_ERROR) failed_ = true;
    }

    // Streaming: bytes into the chunk that plays now.
    DWORD CurrentChunkOffset() {
        if (!playing_ || queuedBytes_ == 0) return 0;
        ALint offset = 0;
        alGetSourcei(source_, AL_BYTE_OFFSET, &offset);
        return static_cast<DWORD>(std::max(0, offset));
    }
    void Pump() {
        if (!streaming_ || !playing_ || orphan_ || data_.empty()) return;
        ALint processed = 0;
        alGetSourcei(source_, AL_BUFFERS_PROCESSED, &processed);
        while (processed-- > 0 && !queue_.empty()) {
            ALuint b = 0;
            alSourceUnqueueBuffers(source_, 1, &b);
            DWORD bytes = queue_.front();
            queue_.erase(queue_.begin());
            playCursor_ = (playCursor_ + bytes) % Size();
            queuedBytes_ -= bytes;
            free_.push_back(b);
        }
        if (queue_.empty() && !looping_ && endReached_) {
            playing_ = false;
            endReached_ = false;
            return;
        }
        while (!free_.empty() && !endReached_) {
            DWORD bytes = std::min(chunkBytes_, Size() - queuedCursor_);
            ALuint b = free_.back();
            free_.pop_back();
            alBufferData(b, AlFormat(format_), data_.data() + queuedCursor_, static_cast<ALsizei>(bytes),
                         static_cast<ALsizei>(format_.nSamplesPerSec));
            alSourceQueueBuffers(source_, 1, &b);
            queue_.push_back(bytes);
            queuedBytes_ += bytes;
            queuedCursor_ += bytes;
            if (queuedCursor_ >= Size()) {
                queuedCursor_ = 0;
                if (!looping_) endReached_ = true;
            }
        }
        ALint state = AL_STOPPED;
        alGetSourcei(source_, AL_SOURCE_STATE, &state);
        if (state != AL_PLAYING && !queue_.empty()) alSourcePlay(source_);
    }
    void StopStream() {
        playing_ = false;
        endReached_ = false;
        if (!source_ || orphan_) return;
        alSourceStop(source_);
        alSourcei(source_, AL_BUFFER, 0);
        free_.assign(chunkBuffers_, chunkBuffers_ + kChunks);
        queue_.clear();
        queuedBytes_ = 0;
        queuedCursor_ = playCursor_;
    }
    void FreeAl() {
        if (orphan_ || primary_) return;
        if (source_) {
            alSourceStop(source_);
            alSourcei(source_, AL_BUFFER, 0);
            alDeleteSources(1, &source_);
        }
        if (alBuffer_) alDeleteBuffers(1, &alBuffer_);
        if (streaming_) alDeleteBuffers(kChunks, chunkBuffers_);
        source_ = alBuffer_ = 0;
        alGetError();
    }
    void Destroy();

    int id_;
    DWORD flags_;
    bool primary_ = false;
    bool streaming_ = false;
    bool failed_ = false;
    bool orphan_ = false;
    WAVEFORMATEX format_{};
    std::vector<uint8_t> data_;
    ALuint source_ = 0;
    ALuint alBuffer_ = 0;
    LONG volume_ = 0;
    LONG pan_ = 0;
    float panGain_ = 1.0f;
    DWORD frequency_ = 0;
    bool looping_ = false;
    bool playing_ = false;  // primary and streaming buffers
    bool lost_ = false;
    bool locked_ = false;
    bool dirty_ = false;
    DWORD startOffset_ = 0;
    ULONG refs_ = 1;
    ULONG refs3D_ = 0;
    ULONG refsProp_ = 0;
    // Streaming ring.
    ALuint chunkBuffers_[kChunks]{};
    std::vector<ALuint> free_{};
    std::vector<DWORD> queue_{};
    DWORD chunkBytes_ = 0;
    DWORD playCursor_ = 0;
    DWORD queuedCursor_ = 0;
    DWORD queuedBytes_ = 0;
    bool endReached_ = false;

    friend class Buffer3D;
    friend class PropertySet;
    Buffer3D* buffer3D_ = nullptr;
    PropertySet* propertySet_ = nullptr;
};

std::vector<Buffer*> g_allBuffers;
int g_nextBufferId = 1;

// ---------------------------------------------------------------- 3D buffer
class Buffer3D final : public IDirectSound3DBuffer8 {
public:
    explicit Buffer3D(Buffer* owner) : owner_(owner) {
        ++g_liveObjects;
        now_.values.dwSize = sizeof(DS3DBUFFER);
        now_.values.dwInsideConeAngle = 360;
        now_.values.dwOutsideConeAngle = 360;
        now_.values.vConeOrientation = {0, 0, 1};
        now_.values.flMinDistance = 1.0f;
        now_.values.flMaxDistance = 1000000000.0f;
        now_.values.dwMode = DS3DMODE_NORMAL;
        pending_ = now_;
        g_buffers3D.push_back(this);
        Apply();
    }
    ~Buffer3D() {
        --g_liveObjects;
        g_buffers3D.erase(std::remove(g_buffers3D.begin(), g_buffers3D.end(), this), g_buffers3D.end());
    }

    ULONG AddRef() override {
        owner_->AddRef3D();
        return ++refs_;
    }
    ULONG Release() override {
        ULONG left = --refs_;
        Buffer* owner = owner_;
        if (left == 0) owner->buffer3D_ = nullptr;
        ULONG reported = owner->Release3D();
        if (left == 0) delete this;
        return reported;
    }

    HRESULT SetAllParameters(const DS3DBUFFER* p, DWORD apply) override {
        if (!p) return DSERR_INVALIDPARAM;
        Record(
            "SetAllParameters #%d pos(%g,%g,%g) vel(%g,%g,%g) cone(%u,%u) orient(%g,%g,%g) outside %d min %g max %g "
            "mode %u %s",
            owner_->Id(), p->vPosition.x, p->vPosition.y, p->vPosition.z, p->vVelocity.x, p->vVelocity.y,
            p->vVelocity.z, p->dwInsideConeAngle, p->dwOutsideConeAngle, p->vConeOrientation.x, p->vConeOrientation.y,
            p->vConeOrientation.z, p->lConeOutsideVolume, p->flMinDistance, p->flMaxDistance, p->dwMode, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (p->dwInsideConeAngle > 360 || p->dwOutsideConeAngle > 360 || p->flMinDistance <= 0 ||
            p->flMaxDistance <= 0 || p->dwMode > DS3DMODE_DISABLE)
            return DSERR_INVALIDPARAM;
        pending_.values = *p;
        return Done(apply);
    }
    HRESULT SetConeAngles(DWORD inside, DWORD outside, DWORD apply) override {
        Record("SetConeAngles #%d %u %u %s", owner_->Id(), inside, outside, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (inside > 360 || outside > 360) return DSERR_INVALIDPARAM;
        pending_.values.dwInsideConeAngle = inside;
        pending_.values.dwOutsideConeAngle = outside;
        return Done(apply);
    }
    HRESULT SetConeOrientation(float x, float y, float z, DWORD apply) override {
        Record("SetConeOrientation #%d %g %g %g %s", owner_->Id(), x, y, z, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        pending_.values.vConeOrientation = {x, y, z};
        return Done(apply);
    }
    HRESULT SetConeOutsideVolume(LONG volume, DWORD apply) override {
        Record("SetConeOutsideVolume #%d %d %s", owner_->Id(), volume, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
        pending_.values.lConeOutsideVolume = volume;
        return Done(apply);
    }
    HRESULT SetMaxDistance(float d, DWORD apply) override {
        Record("SetMaxDistance #%d %g %s", owner_->Id(), d, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (d <= 0) return DSERR_INVALIDPARAM;
        pending_.values.flMaxDistance = d;
        return Done(apply);
    }
    HRESULT SetMinDistance(float d, DWORD apply) override {
        Record("SetMinDistance #%d %g %s", owner_->Id(), d, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (d <= 0) return DSERR_INVALIDPARAM;
        pending_.values.flMinDistance = d;
        return Done(apply);
    }
    HRESULT SetMode(DWORD mode, DWORD apply) override {
        Record("SetMode #%d %u %s", owner_->Id(), mode, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (mode > DS3DMODE_DISABLE) return DSERR_INVALIDPARAM;
        pending_.values.dwMode = mode;
        return Done(apply);
    }
    HRESULT SetPosition(float x, float y, float z, DWORD apply) override {
        Record("SetPosition #%d %g %g %g %s", owner_->Id(), x, y, z, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        pending_.values.vPosition = {x, y, z};
        return Done(apply);
    }
    HRESULT SetVelocity(float x, float y, float z, DWORD apply) override {
        Record("SetVelocity #%d %g %g %g %s", owner_->Id(), x, y, z, Apply(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        pending_.values.vVelocity = {x, y, z};
        return Done(apply);
    }
    HRESULT GetAllParameters(DS3DBUFFER* p) override {
        if (!p) return DSERR_INVALIDPARAM;
        *p = now_.values;
        return DS_OK;
    }

    // Applies the pending values (the commit, or an immediate setter).
    void Commit() {
        if (!dirty_) return;
        now_ = pending_;
        dirty_ = false;
        Apply();
    }
    void Apply() {
        ALuint s = owner_->Source();
        if (!s) return;
        const DS3DBUFFER& v = now_.values;
        // DirectSound's space is left-handed: z points away from the listener.
        bool relative = v.dwMode != DS3DMODE_NORMAL;
        alSourcei(s, AL_SOURCE_RELATIVE, relative ? AL_TRUE : AL_FALSE);
        if (v.dwMode == DS3DMODE_DISABLE) alSource3f(s, AL_POSITION, 0.0f, 0.0f, 0.0f);
        else alSource3f(s, AL_POSITION, v.vPosition.x, v.vPosition.y, -v.vPosition.z);
        alSource3f(s, AL_VELOCITY, v.vVelocity.x, v.vVelocity.y, -v.vVelocity.z);
        alSourcef(s, AL_CONE_INNER_ANGLE, static_cast<float>(v.dwInsideConeAngle));
        alSourcef(s, AL_CONE_OUTER_ANGLE, static_cast<float>(v.dwOutsideConeAngle));
        alSource3f(s, AL_DIRECTION, v.vConeOrientation.x, v.vConeOrientation.y, -v.vConeOrientation.z);
        alSourcef(s, AL_CONE_OUTER_GAIN, VolumeGain(v.lConeOutsideVolume));
        alSourcef(s, AL_REFERENCE_DISTANCE, v.flMinDistance);
        alSourcef(s, AL_MAX_DISTANCE, v.flMaxDistance);
        alSourcef(s, AL_ROLLOFF_FACTOR, g_listenerNow.rolloffFactor);
        alGetError();
    }
    Buffer* Owner() const { return owner_; }

private:
    static const char* Apply(DWORD apply) { return apply == DS3D_DEFERRED ? "deferred" : "now"; }
    HRESULT Done(DWORD apply) {
        dirty_ = true;
        if (apply != DS3D_DEFERRED) Commit();
        return DS_OK;
    }

    Buffer* owner_;
    ULONG refs_ = 1;
    Params3D now_;
    Params3D pending_;
    bool dirty_ = false;
};

// ---------------------------------------------------------------- listener
class Listener final : public IDirectSound3DListener8 {
public:
    explicit Listener(Buffer* primary) : primary_(primary) {
        ++g_liveObjects;
        primary_->AddRef();
        pending_ = g_listenerNow;
        g_listener = this;
    }
    ~Listener() {
        --g_liveObjects;
        if (g_listener == this) g_listener = nullptr;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            primary_->Release();
            delete this;
        }
        return left;
    }
    HRESULT CommitDeferredSettings() override;
    HRESULT SetDistanceFactor(float f, DWORD apply) override {
        Record("Listener SetDistanceFactor %g %s", f, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (f <= 0) return DSERR_INVALIDPARAM;
        pending_.distanceFactor = f;
        return Done(apply);
    }
    HRESULT SetDopplerFactor(float f, DWORD apply) override {
        Record("Listener SetDopplerFactor %g %s", f, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (f < 0 || f > 10) return DSERR_INVALIDPARAM;
        pending_.dopplerFactor = f;
        return Done(apply);
    }
    HRESULT SetRolloffFactor(float f, DWORD apply) override {
        Record("Listener SetRolloffFactor %g %s", f, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        if (f < 0 || f > 10) return DSERR_INVALIDPARAM;
        pending_.rolloffFactor = f;
        return Done(apply);
    }
    HRESULT SetOrientation(float fx, float fy, float fz, float tx, float ty, float tz, DWORD apply) override {
        Record("Listener SetOrientation %g %g %g %g %g %g %s", fx, fy, fz, tx, ty, tz, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        float o[6] = {fx, fy, fz, tx, ty, tz};
        std::copy(o, o + 6, pending_.orientation);
        return Done(apply);
    }
    HRESULT SetPosition(float x, float y, float z, DWORD apply) override {
        Record("Listener SetPosition %g %g %g %s", x, y, z, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        pending_.position[0] = x, pending_.position[1] = y, pending_.position[2] = z;
        return Done(apply);
    }
    HRESULT SetVelocity(float x, float y, float z, DWORD apply) override {
        Record("Listener SetVelocity %g %g %g %s", x, y, z, Mode(apply));
        if (g_seam.fail3D) return DSERR_INVALIDCALL;
        pending_.velocity[0] = x, pending_.velocity[1] = y, pending_.velocity[2] = z;
        return Done(apply);
    }

    void Commit() {
        if (!dirty_) return;
        dirty_ = false;
        bool rolloff = pending_.rolloffFactor != g_listenerNow.rolloffFactor;
        g_listenerNow = pending_;
        const ListenerParams& p = g_listenerNow;
        alListener3f(AL_POSITION, p.position[0], p.position[1], -p.position[2]);
        alListener3f(AL_VELOCITY, p.velocity[0], p.velocity[1], -p.velocity[2]);
        float o[6] = {p.orientation[0], p.orientation[1], -p.orientation[2],
                      p.orientation[3], p.orientation[4], -p.orientation[5]};
        alListenerfv(AL_ORIENTATION, o);
        alDopplerFactor(p.dopplerFactor);
        // Distances are in units of distanceFactor metres.
        alSpeedOfSound(343.3f / p.distanceFactor);
        // The reverb's air absorption works in metres; without this it would see
        // sound crawl at 343.3 / distanceFactor m/s and damp itself to nothing.
        if (g_al.efx) alListenerf(AL_METERS_PER_UNIT, p.distanceFactor);
        if (rolloff) ApplyRolloffToAll();
        alGetError();
    }

private:
    static const char* Mode(DWORD apply) { return apply == DS3D_DEFERRED ? "deferred" : "now"; }
    HRESULT Done(DWORD apply) {
        dirty_ = true;
        if (apply != DS3D_DEFERRED) Commit();
        return DS_OK;
    }
    Buffer* primary_;
    ULONG refs_ = 1;
    ListenerParams pending_;
    bool dirty_ = false;
};

void ApplyRolloffToAll() {
    for (Buffer3D* b : g_buffers3D)
        if (b->Owner()->Source()) alSourcef(b->Owner()->Source(), AL_ROLLOFF_FACTOR, g_listenerNow.rolloffFactor);
}

HRESULT Listener::CommitDeferredSettings() {
    Record("Commit");
    if (g_seam.fail3D || g_seam.failCommit) return DSERR_INVALIDCALL;
    ALCcontext* ctx = alcGetCurrentContext();
    if (ctx) alcSuspendContext(ctx);
    Commit();
    for (Buffer3D* b : g_buffers3D) b->Commit();
    if (ctx) alcProcessContext(ctx);
    return DS_OK;
}

// ---------------------------------------------------------------- EAX rooms
void LoadRoom(const EAXLISTENERPROPERTIES& r) {
    if (!g_al.efx) return;
    const EfxFunctions& f = g_al.fx;
    auto clampf = [](float v, float lo, float hi) { return std::min(hi, std::max(lo, v)); };
    ALuint e = g_al.effect;
    float density = clampf(r.flEnvironmentSize * r.flEnvironmentSize * r.flEnvironmentSize / 16.0f, 0.0f, 1.0f);
    float diffusion = clampf(r.flEnvironmentDiffusion, 0.0f, 1.0f);
    float gain = clampf(MbGain(static_cast<float>(r.lRoom)), 0.0f, 1.0f);
    // OpenAL Soft builds its shelf filters from these and aborts on a gain
    // of 0.00001 or less: -60 dB is already silent.
    float gainHF = clampf(MbGain(static_cast<float>(r.lRoomHF)), 0.001f, 1.0f);
    float gainLF = clampf(MbGain(static_cast<float>(r.lRoomLF)), 0.001f, 1.0f);
    float decay = clampf(r.flDecayTime, 0.1f, 20.0f);
    float decayHF = clampf(r.flDecayHFRatio, 0.1f, 2.0f);
    float decayLF = clampf(r.flDecayLFRatio, 0.1f, 2.0f);
    float reflections = clampf(MbGain(static_cast<float>(r.lReflections)), 0.0f, 3.16f);
    float reflectionsDelay = clampf(r.flReflectionsDelay, 0.0f, 0.3f);
    float late = clampf(MbGain(static_cast<float>(r.lReverb)), 0.0f, 10.0f);
    float lateDelay = clampf(r.flReverbDelay, 0.0f, 0.1f);
    float air = clampf(MbGain(r.flAirAbsorptionHF), 0.892f, 1.0f);
    float rolloff = clampf(r.flRoomRolloffFactor, 0.0f, 10.0f);
    int hfLimit = (r.ulFlags & EAXLISTENERFLAGS_DECAYHFLIMIT) ? AL_TRUE : AL_FALSE;
    if (g_al.eaxReverb) {
        f.Effectf(e, AL_EAXREVERB_DENSITY, density);
        f.Effectf(e, AL_EAXREVERB_DIFFUSION, diffusion);
        f.Effectf(e, AL_EAXREVERB_GAIN, gain);
        f.Effectf(e, AL_EAXREVERB_GAINHF, gainHF);
        f.Effectf(e, AL_EAXREVERB_GAINLF, gainLF);
        f.Effectf(e, AL_EAXREVERB_DECAY_TIME, decay);
        f.Effectf(e, AL_EAXREVERB_DECAY_HFRATIO, decayHF);
        f.Effectf(e, AL_EAXREVERB_DECAY_LFRATIO, decayLF);
        f.Effectf(e, AL_EAXREVERB_REFLECTIONS_GAIN, reflections);
        f.Effectf(e, AL_EAXREVERB_REFLECTIONS_DELAY, reflectionsDelay);
        float rp[3] = {r.vReflectionsPan.x, r.vReflectionsPan.y, -r.vReflectionsPan.z};
        f.Effectfv(e, AL_EAXREVERB_REFLECTIONS_PAN, rp);
        f.Effectf(e, AL_EAXREVERB_LATE_REVERB_GAIN, late);
        f.Effectf(e, AL_EAXREVERB_LATE_REVERB_DELAY, lateDelay);
        float lp[3] = {r.vReverbPan.x, r.vReverbPan.y, -r.vReverbPan.z};
        f.Effectfv(e, AL_EAXREVERB_LATE_REVERB_PAN, lp);
        f.Effectf(e, AL_EAXREVERB_ECHO_TIME, clampf(r.flEchoTime, 0.075f, 0.25f));
        f.Effectf(e, AL_EAXREVERB_ECHO_DEPTH, clampf(r.flEchoDepth, 0.0f, 1.0f));
        f.Effectf(e, AL_EAXREVERB_MODULATION_TIME, clampf(r.flModulationTime, 0.04f, 4.0f));
        f.Effectf(e, AL_EAXREVERB_MODULATION_DEPTH, clampf(r.flModulationDepth, 0.0f, 1.0f));
        f.Effectf(e, AL_EAXREVERB_AIR_ABSORPTION_GAINHF, air);
        f.Effectf(e, AL_EAXREVERB_HFREFERENCE, clampf(r.flHFReference, 1000.0f, 20000.0f));
        f.Effectf(e, AL_EAXREVERB_LFREFERENCE, clampf(r.flLFReference, 20.0f, 1000.0f));
        f.Effectf(e, AL_EAXREVERB_ROOM_ROLLOFF_FACTOR, rolloff);
        f.Effecti(e, AL_EAXREVERB_DECAY_HFLIMIT, hfLimit);
    } else {
        f.Effectf(e, AL_REVERB_DENSITY, density);
        f.Effectf(e, AL_REVERB_DIFFUSION, diffusion);
        f.Effectf(e, AL_REVERB_GAIN, gain);
        f.Effectf(e, AL_REVERB_GAINHF, gainHF);
        f.Effectf(e, AL_REVERB_DECAY_TIME, decay);
        f.Effectf(e, AL_REVERB_DECAY_HFRATIO, decayHF);
        f.Effectf(e, AL_REVERB_REFLECTIONS_GAIN, reflections);
        f.Effectf(e, AL_REVERB_REFLECTIONS_DELAY, reflectionsDelay);
        f.Effectf(e, AL_REVERB_LATE_REVERB_GAIN, late);
        f.Effectf(e, AL_REVERB_LATE_REVERB_DELAY, lateDelay);
        f.Effectf(e, AL_REVERB_AIR_ABSORPTION_GAINHF, air);
        f.Effectf(e, AL_REVERB_ROOM_ROLLOFF_FACTOR, rolloff);
        f.Effecti(e, AL_REVERB_DECAY_HFLIMIT, hfLimit);
    }
    // Loading the effect into the slot again makes the slot take the new values.
    f.Sloti(g_al.slot, AL_EFFECTSLOT_EFFECT, static_cast<ALint>(e));
    g_al.roomLoaded = true;
    alGetError();
}

class PropertySet final : public IKsPropertySet {
public:
    explicit PropertySet(Buffer* owner) : owner_(owner) { ++g_liveObjects; }
    ~PropertySet() { --g_liveObjects; }
    ULONG AddRef() override {
        owner_->AddRefProp();
        return ++refs_;
    }
    ULONG Release() override {
        ULONG left = --refs_;
        Buffer* owner = owner_;
        if (left == 0) owner->propertySet_ = nullptr;
        owner->ReleaseProp();
        if (left == 0) delete this;
        return left;
    }
    HRESULT Get(const GUID& set, ULONG id, void*, ULONG, void* data, ULONG length, ULONG* returned) override {
        if (!DS_GuidEqual(set, DSPROPSETID_EAX_ListenerProperties) || id != DSPROPERTY_EAXLISTENER_ALLPARAMETERS)
            return DSERR_UNSUPPORTED;
        if (!data || length < sizeof(EAXLISTENERPROPERTIES)) return DSERR_INVALIDPARAM;
        std::memcpy(data, &room_, sizeof room_);
        if (returned) *returned = sizeof room_;
        return DS_OK;
    }
    HRESULT Set(const GUID& set, ULONG id, void*, ULONG, void* data, ULONG length) override {
        if (!DS_GuidEqual(set, DSPROPSETID_EAX_ListenerProperties) || id != DSPROPERTY_EAXLISTENER_ALLPARAMETERS)
            return DSERR_UNSUPPORTED;
        if (!data || length < sizeof(EAXLISTENERPROPERTIES)) return DSERR_INVALIDPARAM;
        std::memcpy(&room_, data, sizeof room_);
        Record("EAX Set environment %u size %g room %d decay %g reverb %d flags %u", room_.ulEnvironment,
               room_.flEnvironmentSize, room_.lRoom, room_.flDecayTime, room_.lReverb, room_.ulFlags);
        if (g_seam.failPropertySetSet) return DSERR_GENERIC;
        LoadRoom(room_);
        return DS_OK;
    }
    HRESULT QuerySupport(const GUID& set, ULONG id, ULONG* support) override {
        if (!support) return DSERR_INVALIDPARAM;
        if (g_seam.failQuerySupport) return DSERR_UNSUPPORTED;
        *support = 0;
        if (DS_GuidEqual(set, DSPROPSETID_EAX_ListenerProperties) && id == DSPROPERTY_EAXLISTENER_ALLPARAMETERS)
            *support = g_seam.eaxSupport;
        return DS_OK;
    }

private:
    Buffer* owner_;
    ULONG refs_ = 1;
    EAXLISTENERPROPERTIES room_{};
};

HRESULT Buffer::QueryInterface(const GUID& iid, void** out) {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (DS_GuidEqual(iid, IID_IDirectSound3DListener)) {
        if (!primary_ || !(flags_ & DSBCAPS_CTRL3D) || g_seam.failListener) return DSERR_NOINTERFACE;
        if (g_listener) {
            g_listener->AddRef();
            *out = static_cast<IDirectSound3DListener8*>(g_listener);
        } else {
            *out = static_cast<IDirectSound3DListener8*>(new Listener(this));
        }
        return DS_OK;
    }
    if (DS_GuidEqual(iid, IID_IDirectSound3DBuffer)) {
        if (primary_ || !Is3D() || g_seam.failQuery3D) return DSERR_NOINTERFACE;
        if (buffer3D_) {
            buffer3D_->AddRef();
        } else {
            buffer3D_ = new Buffer3D(this);
            AddRef3D();
        }
        *out = static_cast<IDirectSound3DBuffer8*>(buffer3D_);
        return DS_OK;
    }
    if (DS_GuidEqual(iid, IID_IKsPropertySet)) {
        if (primary_ || !Is3D() || !g_al.efx || g_seam.failPropertySet) return DSERR_NOINTERFACE;
        if (propertySet_) {
            propertySet_->AddRef();
        } else {
            propertySet_ = new PropertySet(this);
            AddRefProp();
        }
        *out = static_cast<IKsPropertySet*>(propertySet_);
        return DS_OK;
    }
    return DSERR_NOINTERFACE;
}

void Buffer::Destroy() {
    FreeAl();
    g_allBuffers.erase(std::remove(g_allBuffers.begin(), g_allBuffers.end(), this), g_allBuffers.end());
    --g_liveObjects;
    delete this;
}

// ---------------------------------------------------------------- the device object
class Device final : public IDirectSound8 {
public:
    Device() { ++g_liveObjects; }
    ~Device() { --g_liveObjects; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            if (open_) {
                // The device's buffers stop with it; whoever still holds one
                // keeps a harmless, silent object.
                if (g_al.users == 1)
                    for (Buffer* b : g_allBuffers) b->Orphan();
                CloseAlDevice();
            }
            delete this;
        }
        return left;
    }
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer8** out, void* outer) override {
        if (!out || !desc) return DSERR_INVALIDPARAM;
        *out = nullptr;
        if (outer) return DSERR_NOAGGREGATION;
        if (!open_) return DSERR_UNINITIALIZED;
        bool primary = (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
        Record("CreateSoundBuffer %s flags %#x bytes %u", primary ? "primary" : "secondary", desc->dwFlags,
               desc->dwBufferBytes);
        if (primary) {
            if (g_seam.failPrimaryCreates > 0) {
                --g_seam.failPrimaryCreates;
                return DSERR_CONTROLUNAVAIL;
            }
            if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
        } else {
            if (g_seam.failSecondaryCreates > 0) {
                --g_seam.failSecondaryCreates;
                return DSERR_OUTOFMEMORY;
            }
            const WAVEFORMATEX* f = desc->lpwfxFormat;
            if (!f || desc->dwBufferBytes < 4 || desc->dwBufferBytes > 0x0FFFFFFF) return DSERR_INVALIDPARAM;
            if (f->wFormatTag != WAVE_FORMAT_PCM || (f->nChannels != 1 && f->nChannels != 2) ||
                (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) || f->nSamplesPerSec < DSBFREQUENCY_MIN ||
                f->nSamplesPerSec > DSBFREQUENCY_MAX)
                return DSERR_BADFORMAT;
            if ((desc->dwFlags & DSBCAPS_CTRL3D) && f->nChannels != 1) return DSERR_INVALIDPARAM;
        }
        Buffer* b = new Buffer(*desc, g_nextBufferId++);
        if (b->Failed()) {
            b->Release();
            return DSERR_OUTOFMEMORY;
        }
        g_allBuffers.push_back(b);
        *out = b;
        return DS_OK;
    }
    HRESULT GetCaps(DSCAPS* caps) override {
        if (!caps || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
        if (!open_) return DSERR_UNINITIALIZED;
        if (g_seam.failGetCaps) return DSERR_GENERIC;
        ALCint mono = 0, stereo = 0;
        alcGetIntegerv(g_al.device, ALC_MONO_SOURCES, 1, &mono);
        alcGetIntegerv(g_al.device, ALC_STEREO_SOURCES, 1, &stereo);
        *caps = DSCAPS{};
        caps->dwSize = sizeof(DSCAPS);
        caps->dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                        DSCAPS_CONTINUOUSRATE | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT |
                        DSCAPS_SECONDARY16BIT;
        caps->dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
        caps->dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
        caps->dwPrimaryBuffers = 1;
        // Everything mixes in software here: no hardware buffers, memory or overhead figures.
        (void)mono;
        (void)stereo;
        return DS_OK;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD level) override {
        Record("SetCooperativeLevel %u", level);
        if (!open_) return DSERR_UNINITIALIZED;
        if (g_seam.failCooperativeLevel) return DSERR_ALLOCATED;
        return DS_OK;
    }
    HRESULT Initialize(const GUID* device) override {
        if (open_) return DSERR_ALREADYINITIALIZED;
        if (device) return DSERR_NODRIVER;
        if (g_seam.failCreate || !OpenAlDevice()) return DSERR_NODRIVER;
        open_ = true;
        return DS_OK;
    }

private:
    ULONG refs_ = 1;
    bool open_ = false;
};

}  // namespace

// ---------------------------------------------------------------- public calls
HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** out, void* outer) {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    Record("DirectSoundCreate8");
    Device* d = new Device();
    HRESULT hr = d->Initialize(device);
    if (hr != DS_OK) {
        d->Release();
        return hr;
    }
    *out = d;
    return DS_OK;
}

namespace {
HRESULT CreateEAXDevice(const GUID& iid, void** out) {
    Record("CoCreateInstance EAXDirectSound8");
    if (g_seam.failEAXClass) return DSERR_CLASSNOTAVAILABLE;
    if (!DS_GuidEqual(iid, IID_IDirectSound8)) return DSERR_NOINTERFACE;
    *out = static_cast<IDirectSound8*>(new Device());
    return DS_OK;
}
}  // namespace

void DSound_RegisterClasses() { Win32_RegisterClass(CLSID_EAXDirectSound8, CreateEAXDevice); }

float DS_VolumeToGain(LONG hundredthsDb) { return VolumeGain(hundredthsDb); }

// ---------------------------------------------------------------- seam
DSoundSeam& DSound_Seam() { return g_seam; }

void DSound_ResetSeam() {
    g_seam = DSoundSeam{};
    g_listenerNow = ListenerParams{};
    if (!DeviceOpen()) g_nextBufferId = 1;
}

bool DSound_SeamRender(int16_t* out, int frames) {
    if (!DeviceOpen() || !g_al.loopback || !g_al.render) return false;
    // Streaming buffers refill between slices, as a running game would.
    int done = 0;
    while (done < frames) {
        int n = std::min(frames - done, static_cast<int>(g_seam.loopbackRate / 100));
        for (Buffer* b : g_allBuffers) {
            DWORD status;
            b->GetStatus(&status);
        }
        g_al.render(g_al.device, out + 2 * done, n);
        done += n;
    }
    return true;
}

std::vector<std::string> DSound_SeamCalls(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& c : g_seam.calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

DSoundSourceState DSound_SourceState(IDirectSoundBuffer8* buffer) {
    DSoundSourceState s{};
    auto* b = static_cast<Buffer*>(buffer);
    if (!b || b->Primary() || !b->Source()) return s;
    ALuint src = b->Source();
    s.exists = true;
    alGetSourcef(src, AL_GAIN, &s.gain);
    alGetSourcef(src, AL_PITCH, &s.pitch);
    alGetSourcefv(src, AL_POSITION, s.position);
    alGetSourcefv(src, AL_VELOCITY, s.velocity);
    alGetSourcefv(src, AL_DIRECTION, s.direction);
    alGetSourcef(src, AL_CONE_INNER_ANGLE, &s.coneInner);
    alGetSourcef(src, AL_CONE_OUTER_ANGLE, &s.coneOuter);
    alGetSourcef(src, AL_CONE_OUTER_GAIN, &s.coneOuterGain);
    alGetSourcef(src, AL_REFERENCE_DISTANCE, &s.referenceDistance);
    alGetSourcef(src, AL_MAX_DISTANCE, &s.maxDistance);
    alGetSourcef(src, AL_ROLLOFF_FACTOR, &s.rolloff);
    ALint v = 0;
    alGetSourcei(src, AL_SOURCE_RELATIVE, &v);
    s.relative = v == AL_TRUE;
    alGetSourcei(src, AL_LOOPING, &v);
    s.looping = v == AL_TRUE;
    alGetSourcei(src, AL_SOURCE_STATE, &v);
    s.playing = v == AL_PLAYING;
    s.reverbSend = b->Is3D() && g_al.efx;
    alGetError();
    return s;
}

DSoundListenerState DSound_ListenerState() {
    DSoundListenerState s{};
    if (!DeviceOpen()) return s;
    alGetListenerf(AL_GAIN, &s.gain);
    alGetListenerfv(AL_POSITION, s.position);
    alGetListenerfv(AL_VELOCITY, s.velocity);
    alGetListenerfv(AL_ORIENTATION, s.orientation);
    s.dopplerFactor = alGetFloat(AL_DOPPLER_FACTOR);
    s.speedOfSound = alGetFloat(AL_SPEED_OF_SOUND);
    s.efx = g_al.efx;
    if (g_al.efx) {
        s.reverbOn = g_al.roomLoaded;
        ALenum pDecay = g_al.eaxReverb ? AL_EAXREVERB_DECAY_TIME : AL_REVERB_DECAY_TIME;
        ALenum pDensity = g_al.eaxReverb ? AL_EAXREVERB_DENSITY : AL_REVERB_DENSITY;
        ALenum pGain = g_al.eaxReverb ? AL_EAXREVERB_GAIN : AL_REVERB_GAIN;
        ALenum pRefl = g_al.eaxReverb ? AL_EAXREVERB_REFLECTIONS_GAIN : AL_REVERB_REFLECTIONS_GAIN;
        ALenum pLate = g_al.eaxReverb ? AL_EAXREVERB_LATE_REVERB_GAIN : AL_REVERB_LATE_REVERB_GAIN;
        g_al.fx.GetEffectf(g_al.effect, pDecay, &s.decayTime);
        g_al.fx.GetEffectf(g_al.effect, pDensity, &s.density);
        g_al.fx.GetEffectf(g_al.effect, pGain, &s.gain_);
        g_al.fx.GetEffectf(g_al.effect, pRefl, &s.reflectionsGain);
        g_al.fx.GetEffectf(g_al.effect, pLate, &s.lateReverbGain);
    }
    alGetError();
    return s;
}

int DSound_LiveObjects() { return g_liveObjects; }
