#include "tools/lib/demo_sounds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/lib/media_fixtures.h"

namespace {

using Samples = std::vector<float>;

constexpr double kTau = 2.0 * M_PI;

size_t Count(double seconds, int rate = kDemoSoundRate) { return static_cast<size_t>(seconds * rate); }

// A small linear congruential generator: the same noise on every build.
struct Noise {
    uint32_t state;
    float operator()() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / static_cast<float>(1u << 23) - 1.0f;
    }
};

// A tone whose frequency glides from f0 to f1, shaped by an attack and an
// exponential decay (per second).
Samples Sweep(double seconds, double f0, double f1, double attack, double decay, double square = 0.0) {
    const size_t n = Count(seconds);
    Samples out(n);
    double phase = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kDemoSoundRate;
        const double f = f0 + (f1 - f0) * t / seconds;
        phase += kTau * f / kDemoSoundRate;
        double v = std::sin(phase);
        // A touch of the square wave's edge for the harder sounds.
        if (square > 0) v = (1 - square) * v + square * (v >= 0 ? 1.0 : -1.0);
        const double env = std::min(1.0, t / attack) * std::exp(-decay * t);
        out[i] = static_cast<float>(v * env);
    }
    return out;
}

// Noise through a one-pole low-pass whose cut-off glides from c0 to c1 (Hz),
// with an attack and an exponential decay.
Samples Rumble(double seconds, double c0, double c1, double attack, double decay, uint32_t seed) {
    const size_t n = Count(seconds);
    Samples out(n);
    Noise noise{seed};
    double y = 0.0, y2 = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kDemoSoundRate;
        const double cut = c0 + (c1 - c0) * t / seconds;
        const double a = 1.0 - std::exp(-kTau * cut / kDemoSoundRate);
        y += a * (noise() - y);
        y2 += a * (y - y2);
        const double env = std::min(1.0, t / attack) * std::exp(-decay * t);
        out[i] = static_cast<float>(y2 * env * 3.0);
    }
    return out;
}

Samples Mix(const Samples& a, const Samples& b, float gb = 1.0f) {
    Samples out(std::max(a.size(), b.size()), 0.0f);
    for (size_t i = 0; i < a.size(); ++i) out[i] += a[i];
    for (size_t i = 0; i < b.size(); ++i) out[i] += gb * b[i];
    return out;
}

Samples Then(Samples a, const Samples& b, double gap = 0.0) {
    a.resize(a.size() + Count(gap), 0.0f);
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Scaled so that the loudest sample reaches the peak.
Samples Level(Samples s, float peak) {
    float most = 0.0f;
    for (float v : s) most = std::max(most, std::fabs(v));
    if (most > 0.0f)
        for (float& v : s) v *= peak / most;
    return s;
}

Samples Beeps(int count, double f, double on, double off) {
    Samples out;
    for (int i = 0; i < count; ++i) out = Then(out, Sweep(on, f, f, 0.005, 4.0, 0.3), i ? off : 0.0);
    return out;
}

// Tones that alternate between two pitches.
Samples TwoTone(int count, double f0, double f1, double each) {
    Samples out;
    for (int i = 0; i < count; ++i) out = Then(out, Sweep(each, i % 2 ? f1 : f0, i % 2 ? f1 : f0, 0.005, 2.0));
    return out;
}

// The engine's hum: whole periods only, so that it loops without a click.
Samples Hum() {
    const size_t n = Count(1.0);
    Samples out(n);
    Noise noise{7};
    double y = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kDemoSoundRate;
        y += 0.02 * (noise() - y);
        const double tremble = 1.0 + 0.15 * std::sin(kTau * 6.0 * t);
        out[i] = static_cast<float>(
            (0.6 * std::sin(kTau * 55.0 * t) + 0.3 * std::sin(kTau * 110.0 * t) + 0.15 * std::sin(kTau * 165.0 * t)) *
                tremble +
            2.0 * y);
    }
    return out;
}

// A struck metal plate: partials that do not sit on one series.
Samples Ping(double seconds, double f) {
    Samples out;
    const double partials[] = {1.0, 2.76, 5.40, 8.93};
    for (double p : partials)
        out = Mix(out, Sweep(seconds, f * p, f * p, 0.002, 3.0 + p), 1.0f / static_cast<float>(p));
    return out;
}

// Two short notes a fifth apart, for the choice of a menu.
Samples Confirm() { return Then(Sweep(0.05, 880, 880, 0.003, 30.0), Sweep(0.08, 1320, 1320, 0.003, 25.0)); }

}  // namespace

std::vector<DemoSound> DemoSounds() {
    return {
        {1, "target tracking changes",
         Level(Then(Sweep(0.04, 1200, 1200, 0.003, 20), Sweep(0.05, 1600, 1600, 0.003, 30)), 0.5f)},
        {2, "menu click",
         Level(Mix(Sweep(0.03, 2000, 1500, 0.001, 120), Rumble(0.02, 6000, 3000, 0.001, 200, 3), 0.5f), 0.5f)},
        {3, "menu choice", Level(Confirm(), 0.5f)},
        {24, "missile alarm", Level(Beeps(3, 880, 0.08, 0.06), 0.6f)},
        {100, "laser shot",
         Level(Mix(Sweep(0.18, 1800, 300, 0.002, 14, 0.4), Rumble(0.05, 5000, 1000, 0.001, 60, 11), 0.3f), 0.6f)},
        {101, "missile launch",
         Level(Mix(Rumble(0.7, 600, 3000, 0.03, 3.0, 13), Sweep(0.7, 120, 240, 0.05, 3.0), 0.4f), 0.7f)},
        {102, "engine hum (loops)", Level(Hum(), 0.5f)},
        {903, "small hit", Level(Mix(Rumble(0.15, 3000, 800, 0.001, 25, 17), Sweep(0.15, 300, 120, 0.001, 25)), 0.7f)},
        {904, "big hit", Level(Mix(Rumble(0.35, 2000, 300, 0.001, 10, 19), Sweep(0.35, 160, 60, 0.001, 10)), 0.8f)},
        {905, "bullet impact", Level(Rumble(0.12, 6000, 1500, 0.001, 30, 23), 0.6f)},
        {918, "small explosion", Level(Rumble(0.8, 2500, 300, 0.005, 4.5, 29), 0.8f)},
        {919, "medium explosion",
         Level(Mix(Rumble(1.4, 1800, 150, 0.01, 2.8, 31), Sweep(1.4, 70, 40, 0.01, 3.0), 0.5f), 0.85f)},
        {920, "big explosion",
         Level(Mix(Rumble(2.2, 1200, 80, 0.02, 1.8, 37), Sweep(2.2, 50, 30, 0.02, 2.0), 0.6f), 0.9f)},
        {923, "proximity alert", Level(TwoTone(4, 660, 880, 0.12), 0.5f)},
        {925, "missile alert", Level(Beeps(5, 1000, 0.06, 0.05), 0.6f)},
        {979, "zoom", Level(Sweep(0.25, 400, 900, 0.02, 6.0), 0.4f)},
        {992, "special hit", Level(Ping(0.6, 420), 0.6f)},
        {1200, "hull breaking", Level(Mix(Rumble(0.6, 900, 200, 0.01, 4, 41), Ping(0.6, 95), 0.3f), 0.7f)},
        {1201, "hull creaking", Level(Mix(Rumble(0.8, 400, 250, 0.1, 3, 43), Sweep(0.8, 70, 55, 0.1, 3)), 0.6f)},
        {1202, "hull cracking",
         Level(Then(Rumble(0.2, 4000, 800, 0.001, 18, 47), Rumble(0.4, 2500, 300, 0.001, 8, 53), 0.05), 0.7f)},
    };
}

std::vector<float> DemoMusic() {
    // Four chords of slow pads over a pulsing bass, a bar of two seconds each, twice.
    const double chords[4][3] = {
        {220.0, 261.63, 329.63}, {174.61, 220.0, 261.63}, {130.81, 164.81, 196.0}, {196.0, 246.94, 293.66}};
    const double bass[4] = {55.0, 43.65, 65.41, 49.0};
    constexpr double kBar = 2.0;
    constexpr int kBars = 8;
    const size_t n = Count(kBar * kBars, kDemoMusicRate);
    std::vector<float> out(2 * n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kDemoMusicRate;
        const int bar = static_cast<int>(t / kBar);
        const double in = t - bar * kBar;
        const double* chord = chords[bar % 4];
        // Each chord swells in and fades before the next.
        const double pad = std::min(1.0, in / 0.6) * std::min(1.0, (kBar - in) / 0.4);
        double left = 0.0, right = 0.0;
        for (int k = 0; k < 3; ++k) {
            const double f = chord[k];
            const double v = std::sin(kTau * f * t) + 0.3 * std::sin(kTau * 2.0 * f * t + 0.5);
            left += v * (k == 2 ? 0.6 : 1.0);
            right += v * (k == 0 ? 0.6 : 1.0);
        }
        const double beat = std::fmod(in, 0.5);
        const double b = std::sin(kTau * bass[bar % 4] * t) * std::exp(-6.0 * beat);
        // The whole piece fades in and out.
        const double whole = std::min(1.0, t / 1.0) * std::min(1.0, (kBar * kBars - t) / 1.5);
        out[2 * i] = static_cast<float>(whole * (0.08 * pad * left + 0.3 * b));
        out[2 * i + 1] = static_cast<float>(whole * (0.08 * pad * right + 0.3 * b));
    }
    return out;
}

bool DemoSounds_Write(const std::string& folder, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "S", ec);
    fs::create_directories(fs::path(folder) / "soundtrack", ec);
    for (const DemoSound& s : DemoSounds()) {
        char name[32];
        std::snprintf(name, sizeof name, "S/%03d.wav", static_cast<int>(s.id));
        WavSpec spec;
        spec.rate = kDemoSoundRate;
        spec.data = Media_Pcm16(s.samples);
        const std::vector<uint8_t> bytes = MakeWav(spec);
        std::ofstream f(fs::path(folder) / name, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!f) {
            if (error) *error = "cannot write " + (fs::path(folder) / name).string();
            return false;
        }
    }
    char music[40];
    std::snprintf(music, sizeof music, "soundtrack/%05d.mp3", kDemoSoundtrack);
    return Media_WriteSoundtrackSamples((fs::path(folder) / music).string(), DemoMusic(), kDemoMusicRate, 2, error);
}
