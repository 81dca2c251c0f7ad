// Small movies and soundtracks made with FFmpeg's encoders, for tests and the
// demo: an MPEG-1 system stream (MPEG-1 video, MP2 audio) whose frames are
// solid colours that tell their number, and an MP3 (MP2 frames in an ".mp3"
// when no MP3 encoder is built in).
#pragma once

#include <cstdint>
#include <string>

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
