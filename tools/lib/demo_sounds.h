// The demo's sound effects and its soundtrack, synthesised here: interface
// clicks, alerts, lasers, hits, explosions, the engine hum and a short piece of
// music. The game sound loads effect N from "S\NNN.wav"; the soundtrack is a
// movie number whose ".dat" is missing, found as "soundtrack\NNNNN.mp3".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kDemoSoundRate = 22050;  // mono, 16 bits
constexpr int kDemoMusicRate = 44100;  // stereo
constexpr int kDemoSoundtrack = 10;    // the movie number of the soundtrack

struct DemoSound {
    int32_t id;        // the effect id of the Sounds table
    const char* what;  // what it is for
    std::vector<float> samples;
};

// Every effect, in ascending id order.
std::vector<DemoSound> DemoSounds();
// The soundtrack's samples, left and right interleaved.
std::vector<float> DemoMusic();

// Writes "S/NNN.wav" for every effect and "soundtrack/NNNNN.mp3" into the
// folder (made as needed); false with a reason in *error.
bool DemoSounds_Write(const std::string& folder, std::string* error);
