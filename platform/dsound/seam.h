// Test seam of the DirectSound stand-in: makes each step fail, reports lost
// buffers, hides EFX, switches to a loopback device whose time only moves when
// a test renders it, and records every value sent to the device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dsound/dsound.h"

struct DSoundSeam {
    // Start-up steps.
    bool failCreate = false;    // DirectSoundCreate8 and Initialize
    bool failEAXClass = false;  // CoCreateInstance(CLSID_EAXDirectSound8)
    bool failGetCaps = false;
    bool failCooperativeLevel = false;
    int failPrimaryCreates = 0;  // the next n primary-buffer creations fail
    bool failListener = false;   // QueryInterface for the listener
    bool failPrimaryPlay = false;
    bool noEFX = false;  // behave as a device without EFX
    // EAX listener steps.
    bool failPropertySet = false;  // QueryInterface for IKsPropertySet
    ULONG eaxSupport = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
    bool failQuerySupport = false;
    bool failPropertySetSet = false;
    // Secondary buffers.
    int failSecondaryCreates = 0;  // the next n secondary creations fail
    bool failLock = false;
    bool failUnlock = false;
    bool failSetVolume = false;
    bool failSetPan = false;
    bool failSetFrequency = false;
    bool failPlay = false;
    bool failStop = false;
    bool failQuery3D = false;
    bool fail3D = false;      // every 3D-buffer and listener setter
    bool failCommit = false;  // the listener's commit of the deferred settings alone
    bool failRestore = false;
    bool failGetPosition = false;
    int lostBuffers = 0;       // the next n status reads report a lost buffer
    int releaseExtraRefs = 0;  // Release reports this many remaining references
    // Loopback: the device renders only through DSound_SeamRender (stereo 16-bit).
    bool loopback = false;
    uint32_t loopbackRate = 44100;

    // Every value sent, one line each ("SetVolume 3 -600", "Commit" ...).
    std::vector<std::string> calls;
};

DSoundSeam& DSound_Seam();
// Back to a fresh seam (the device must be closed).
void DSound_ResetSeam();
// Renders frames on the loopback device into out (2 × frames samples); false without one.
bool DSound_SeamRender(int16_t* out, int frames);
// The calls recorded that start with prefix.
std::vector<std::string> DSound_SeamCalls(const std::string& prefix);

// What the device holds, read back from OpenAL for tests.
struct DSoundSourceState {
    bool exists;
    float gain;
    float pitch;
    float position[3];
    float velocity[3];
    float direction[3];
    float coneInner, coneOuter, coneOuterGain;
    float referenceDistance, maxDistance, rolloff;
    bool relative;
    bool looping;
    bool playing;
    bool reverbSend;  // routed to the reverb slot
};
DSoundSourceState DSound_SourceState(IDirectSoundBuffer8* buffer);
struct DSoundListenerState {
    float gain;
    float position[3];
    float velocity[3];
    float orientation[6];
    float dopplerFactor;
    float speedOfSound;
    bool efx;
    bool reverbOn;  // a room is loaded in the slot
    float decayTime, density, gain_, reflectionsGain, lateReverbGain;
};
DSoundListenerState DSound_ListenerState();
// Live objects of the stand-in (buffers, 3D buffers, listeners, property sets, devices).
int DSound_LiveObjects();
