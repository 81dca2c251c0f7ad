// Small movies, soundtracks and sound samples, for tests and the demo: an
// MPEG-1 system stream (MPEG-1 video, MP2 audio) whose frames are solid colours
// that tell their number, and an MP3 (MP2 frames in an ".mp3" when no MP3
// encoder is built in), both made with FFmpeg's encoders; WAV files built byte
// by byte, damaged on request.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct MediaMovieSpec {
    int width = 64;
    int height = 48;
    int frames = 25;  // 0: no video stream, one second of sound
    int fps = 25;
    bool audio = true;
    int audioRate = 44100;
    int audioChannels = 1;
    // Only the first video packet keeps its time stamp, as some muxers write
    // them: every later packet of either stream has its stamps taken out.
    bool firstStampOnly = false;
};

// The colour of frame n (0xRRGGBB): far enough apart to survive the encoder.
uint32_t Media_FrameColour(int n);

// Writes the movie; false with a reason in *error.
bool Media_WriteMovie(const std::string& path, const MediaMovieSpec& spec, std::string* error);
// Writes an MP3 soundtrack of a 440 Hz tone.
bool Media_WriteSoundtrack(const std::string& path, double seconds, int rate, int channels, std::string* error);
// Writes an MP3 soundtrack of the samples (-1..1, channels interleaved).
bool Media_WriteSoundtrackSamples(const std::string& path, const std::vector<float>& samples, int rate, int channels,
                                  std::string* error);

struct WavSpec {
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t rate = 22050;
    uint16_t bits = 16;
    uint32_t fmtSize = 16;  // 18 adds the extra-size word
    std::vector<uint8_t> data;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> chunksBefore;  // between "fmt " and "data"
    int32_t riffSizeDelta = 0;                                               // added to the RIFF size
    int32_t dataSizeDelta = 0;                                               // added to the declared data size
};

// The bytes of a WAV file.
std::vector<uint8_t> MakeWav(const WavSpec& spec);
// 16-bit little-endian samples of values -1..1 (clipped).
std::vector<uint8_t> Media_Pcm16(const std::vector<float>& samples);
