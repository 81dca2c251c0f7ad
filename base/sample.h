// Sound samples: mono PCM WAV files loaded whole through the file layer into a
// sample descriptor (what the sound device turns into a buffer) and the
// caller's sample record (what the game-sound module keeps per effect).
#pragma once

#include <cstdint>

// Descriptor flags.
constexpr uint16_t QEL_SAMPLEDESC_16BIT = 0x4;      // else 8-bit
constexpr uint16_t QEL_SAMPLEDESC_SIGNFLIP = 0x2;   // 8-bit data flipped between unsigned and signed on load
constexpr uint16_t QEL_SAMPLEDESC_NOTOWNED = 0x80;  // data not freed with the descriptor
constexpr uint16_t QEL_SAMPLEDESC_LARGE = 0x100;    // data over QEL_SAMPLE_LARGE_BYTES
constexpr uint16_t QEL_SAMPLEDESC_3D = 0x200;

// Data longer than this makes a large sample.
constexpr uint32_t QEL_SAMPLE_LARGE_BYTES = 0x80000;

struct QelSampleDesc {
    uint16_t flags;
    uint32_t word;    // 64
    uint32_t length;  // data bytes
    uint32_t length2;
    uint32_t length3;
    uint8_t* data;  // null for an empty sample
    uint32_t rate;  // Hz, 16-bit value
    uint32_t loadLength;
    uint32_t resident;  // data bytes, 0 for a large sample
    uint32_t streamed;  // data bytes of a large sample, else 0
    uint32_t ready;     // 1 once the data is final, 0 after it was freed
};

// Sample record flags.
constexpr uint32_t QEL_SAMPLE_HAS_DESC = 0x8;
constexpr uint32_t QEL_SAMPLE_LARGE = 0x10;  // a fresh buffer at every start
constexpr uint32_t QEL_SAMPLE_WANT_3D = 0x20;

struct QelSample {
    uint8_t* data;
    uint32_t length;
    uint32_t frequency;       // default playback rate; 1024 when the file has none
    uint16_t volume;          // default volume, 255
    uint16_t bytesPerSample;  // 2 or 1
    uint32_t flags;
    uint32_t playLength;
    QelSampleDesc* descriptor;
    char* name;  // the name it was opened by (heap string)
};

// Opens "name", else "name.wav", through catalogs and disk; 0 while sound is
// not running or on any failure.
QelSample* Qel_OpenSoundFX(const char* name, uint32_t flags);
// Builds a descriptor from a whole WAV file of `size` bytes. 0 for anything
// but mono 8- or 16-bit PCM, or a file whose chunks do not fit it.
QelSampleDesc* Qel_LoadSample(const uint8_t* bytes, uint32_t size, uint16_t flags);
// As above with the size of the file layer's last whole-file load.
QelSampleDesc* Qel_LoadSample(const uint8_t* bytes, uint16_t flags);
void Qel_FreeSample(QelSample* sample);
// The channel, or 0xFFFF while sound is not running or off.
uint16_t Qel_StartSoundEffect(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume,
                              uint32_t pan);
// Stops the channel's buffer and keeps it for the next start.
void Qel_StopSoundEffect(int channel);
// Stops the channel and frees its buffer.
void Qel_StopAndFreeSoundEffect(int channel);
// Large samples are never streamed piecewise: reports and gives 0.
int Qel_ContinueSoundEffect(QelSample* sample);
uint32_t Qel_SetSampleVolume(QelSample* sample, uint32_t volume);
QelSampleDesc* S_SampleReset(QelSampleDesc* descriptor);
void Qel_FreeSampleDesc(QelSampleDesc* descriptor);
