// WAV samples: parsing, the two records, and the start/stop calls the game
// modules use. The chunk walk follows each chunk's declared size (padded to
// an even length), so a format chunk of any length and extra chunks before
// the data both load; nothing is read outside the file.
#include "base/sample.h"

#include <cstring>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "system/sound.h"

namespace {

constexpr uint32_t kSampleMem = Int_MemTag(SOUND_MEM_TAG);

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool SoundRunning() {
    return g_SoundState && (g_SoundState->flags & SOUND_FLAG_RUNNING) && !(g_SoundState->flags & SOUND_FLAG_OFF);
}

bool SoundOff() { return !g_SoundState || (g_SoundState->flags & SOUND_FLAG_OFF); }

void FreeDescData(QelSampleDesc* d) {
    if (d->data && !(d->flags & QEL_SAMPLEDESC_NOTOWNED)) Int_FreeMem(d->data, d->length, kSampleMem);
    d->data = nullptr;
}

}  // namespace

QelSampleDesc* Qel_LoadSample(const uint8_t* bytes, uint32_t size, uint16_t flags) {
    if (!bytes || size < 12) return nullptr;
    if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return nullptr;
    if (static_cast<uint64_t>(Le32(bytes + 4)) + 8 > size) return nullptr;

    // Walk the chunks after the header: the format chunk first, then the data.
    const uint8_t* fmt = nullptr;
    uint32_t fmtSize = 0;
    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    uint64_t pos = 12;
    while (pos + 8 <= size) {
        const uint8_t* chunk = bytes + pos;
        uint32_t chunkSize = Le32(chunk + 4);
        uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !fmt) {
            if (body + chunkSize > size) return nullptr;
            fmt = bytes + body;
            fmtSize = chunkSize;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!fmt || body + chunkSize > size) {
                Qel_ErrPrintf("Qel_LoadSample() wrong audio format!\n");
                return nullptr;
            }
            data = bytes + body;
            dataSize = chunkSize;
            break;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    // Mono PCM only; anything else is refused without a word.
    if (!fmt || fmtSize < 16 || Le16(fmt) != 1 || Le16(fmt + 2) != 1) return nullptr;
    if (!data) {
        Qel_ErrPrintf("Qel_LoadSample() wrong audio format!\n");
        return nullptr;
    }
    uint16_t bits = Le16(fmt + 14);
    if (bits != 8 && bits != 16) {
        // 24- and 32-bit data would play as noise through 8-bit buffers.
        Qel_ErrPrintf("Qel_LoadSample() wrong audio format!\n");
        return nullptr;
    }

    auto* d = Int_AllocRecord<QelSampleDesc>(kSampleMem);
    if (!d) return nullptr;
    d->flags = static_cast<uint16_t>(flags | (bits == 16 ? QEL_SAMPLEDESC_16BIT : 0));
    d->word = 64;
    d->length = d->length2 = d->length3 = dataSize;
    d->loadLength = dataSize;
    d->resident = dataSize;
    if (dataSize > QEL_SAMPLE_LARGE_BYTES) {
        d->flags |= QEL_SAMPLEDESC_LARGE;
        d->resident = 0;
        d->streamed = dataSize;
    }
    d->rate = Le16(fmt + 4);
    if (dataSize == 0) return d;

    d->data = static_cast<uint8_t*>(Int_AllocMem(dataSize, kSampleMem));
    if (!d->data) {
        Int_FreeRecord(d, kSampleMem);
        return nullptr;
    }
    std::memcpy(d->data, data, dataSize);
    if (d->flags & QEL_SAMPLEDESC_SIGNFLIP)
        for (uint32_t i = 0; i < dataSize; ++i) d->data[i] = static_cast<uint8_t>(d->data[i] + 128);
    d->ready = 1;
    return d;
}

QelSampleDesc* Qel_LoadSample(const uint8_t* bytes, uint16_t flags) {
    return Qel_LoadSample(bytes, g_QelLastFileSize, flags);
}

QelSample* Qel_OpenSoundFX(const char* name, uint32_t flags) {
    if (!name || !SoundRunning()) return nullptr;
    auto* s = Int_AllocRecord<QelSample>(kSampleMem);
    if (!s) return nullptr;

    auto* bytes = static_cast<uint8_t*>(Qel_LoadFile(name));
    if (!bytes) {
        char* withExt = Qel_Format(nullptr, "%s.wav", name);
        if (withExt) bytes = static_cast<uint8_t*>(Qel_LoadFile(withExt));
        Qel_StrFree(withExt);
    }
    if (!bytes) {
        Qel_DPrintf(2, "no known Samplename for %s\n", name);
        Int_FreeRecord(s, kSampleMem);
        return nullptr;
    }
    uint32_t size = g_QelLastFileSize;
    QelSampleDesc* d = Qel_LoadSample(bytes, size, (flags & QEL_SAMPLE_WANT_3D) ? QEL_SAMPLEDESC_3D : 0);
    Int_FreeMem(bytes, size, 0);
    if (!d) {
        Qel_ErrPrintf("Qel_OpenSoundFX: ERROR returning for %s!\n", name);
        Int_FreeRecord(s, kSampleMem);
        return nullptr;
    }

    s->descriptor = d;
    s->data = d->data;
    s->length = d->length;
    s->frequency = d->rate ? d->rate : 1024;
    s->volume = 255;
    s->bytesPerSample = (d->flags & QEL_SAMPLEDESC_16BIT) ? 2 : 1;
    s->flags = flags | (d->flags & 0x1) | QEL_SAMPLE_HAS_DESC;
    if (d->flags & QEL_SAMPLEDESC_LARGE) s->flags |= QEL_SAMPLE_LARGE;
    s->playLength = (d->flags & QEL_SAMPLEDESC_LARGE) ? d->loadLength : d->length;
    s->name = Qel_StrDup(name);
    Qel_DPrintf(1, "sample %s: rate: %d,\nvol:%d, bps:%d,\nmem:%08x, len:%d\n", name, static_cast<int>(s->frequency),
                255, s->bytesPerSample, static_cast<unsigned>(reinterpret_cast<uintptr_t>(s->data)),
                static_cast<int>(s->length));
    return s;
}

void Qel_FreeSampleDesc(QelSampleDesc* d) {
    if (!d) return;
    // A channel must never compare equal to a freed descriptor whose address
    // comes back for another sample: its buffer goes with the descriptor.
    for (int ch = 0; ch < S_SOUND_CHANNELS; ++ch)
        if (S_SoundChannels[ch].sample == d) Int_SoundBufferFree(ch);
    d->ready = 0;
    FreeDescData(d);
    Int_FreeRecord(d, kSampleMem);
}

void Qel_FreeSample(QelSample* s) {
    if (!s) return;
    if (s->flags & QEL_SAMPLE_HAS_DESC) Qel_FreeSampleDesc(s->descriptor);
    else if (s->data) Int_FreeMem(s->data, s->length, kSampleMem);
    Qel_StrFree(s->name);
    Int_FreeRecord(s, kSampleMem);
}

uint16_t Qel_StartSoundEffect(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume,
                              uint32_t pan) {
    if (!SoundRunning()) return 0xFFFF;
    return static_cast<uint16_t>(S_StartSoundEffect(sample, channel, loop, frequency, volume, pan));
}

void Qel_StopSoundEffect(int channel) {
    if (SoundOff()) return;
    Int_StopSoundEffectA(channel);
}

void Qel_StopAndFreeSoundEffect(int channel) {
    if (SoundOff()) return;
    Int_StopSoundEffect(channel);
}

int Qel_ContinueSoundEffect(QelSample* sample) {
    const char* name = sample && sample->name ? sample->name : "";
    Qel_DPrintf(1, "Continue Sample: %s!\n", name);
    if (!SoundRunning() || !sample) return 0;
    if (!(sample->flags & QEL_SAMPLE_LARGE)) {
        Qel_ErrPrintf("ERROR: Qel_ContinueSoundEffect 0 (%s)\n", name);
        return 0;
    }
    QelSampleDesc* d = sample->descriptor;
    if (!d || d->loadLength >= d->length) {
        Qel_DPrintf(1, "continue Sample %s erfolgreich beendet!\n", name);
        return 0;
    }
    // Large samples play from their whole data; nothing is streamed piecewise.
    QelFile* f = Qel_fopen(name, "rb", 0);
    if (!f) {
        char* withExt = Qel_Format(nullptr, "%s.wav", name);
        if (withExt) f = Qel_fopen(withExt, "rb", 0);
        Qel_StrFree(withExt);
    }
    if (!f) {
        Qel_ErrPrintf("ERROR: Qel_ContinueSoundEffect 1 (%s)\n", name);
        return 0;
    }
    Qel_fclose(f);
    Qel_ErrPrintf("ERROR: Qel_ContinueSoundEffect 3 (%s)\n", name);
    return 0;
}

uint32_t Qel_SetSampleVolume(QelSample* sample, uint32_t volume) {
    if (sample) sample->volume = static_cast<uint16_t>(volume);
    return volume;
}

QelSampleDesc* S_SampleReset(QelSampleDesc* descriptor) {
    if (descriptor) descriptor->ready = 0;
    return descriptor;
}
