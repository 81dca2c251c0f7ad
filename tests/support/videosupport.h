// Test support for settings, adapters and the video device: a SystemState of
// its own, a private settings folder ($XDG_CONFIG_HOME), a clean application
// record, and the Direct3D seam reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/general.h"

class VideoTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens the real device in a window of this size (windowed unless told).
    bool OpenVideo(int width, int height, bool windowed = true);
    // Closes everything the video device made, lookup textures included.
    void CloseVideo();

    std::string configDir;
    SystemState* state = nullptr;

private:
    std::string oldConfig_;
    bool hadConfig_ = false;
};

// The real device opened for a system record that is the engine's (windowed
// unless told), and closed with everything it made; for fixtures that make
// their own system record.
bool OpenTestVideo(SystemState* state, int width, int height, bool windowed = true);
void CloseTestVideo();

// An adapter description for seamed tables: caps of the stand-in, one desktop
// mode and the given full-screen modes (all X8R8G8B8 unless told).
struct SeamMode {
    unsigned width, height, refresh;
};
void SeamOneAdapter(const char* description, unsigned desktopW, unsigned desktopH,
                    std::initializer_list<SeamMode> modes);
