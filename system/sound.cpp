// The sound device: start-up with its silent and fatal branches, the 32
// channels, the volume/pan/frequency conversions, the 3D setters (deferred
// and committed once per frame by the scene engine) and the EAX rooms.
#include "system/sound.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/sample.h"
#include "platform/dsound/dsound.h"
#include "system/cdaudio.h"
#include "system/entry.h"
#include "system/window.h"

SoundState* g_SoundState = nullptr;
SoundChannel S_SoundChannels[S_SOUND_CHANNELS];
SoundDevice S_SoundDevice;

namespace {

constexpr uint32_t kSoundMem = Int_MemTag(SOUND_MEM_TAG);
constexpr uint32_t kLog = 2048;

// Registry settings the device reads; their defaults before the settings exist.
uint32_t FxVolumeSetting() { return g_SystemState ? static_cast<uint32_t>(g_SystemState->fxVolume) : 255; }
WAVEFORMATEX WaveFormatSetting() {
    return g_ApplicationRecord.waveFormat.nSamplesPerSec ? g_ApplicationRecord.waveFormat
                                                         : WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

bool ValidChannel(int channel) { return channel >= 0 && channel < S_SOUND_CHANNELS; }

unsigned Addr(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

void CdTrackDone() {
    if (g_SoundState && g_SoundState->notify) g_SoundState->notify();
}

template <class T>
void ReleaseInto(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

void LogCaps(const DSCAPS& c) {
    char line[82];
    std::memset(line, '-', 81);
    line[81] = 0;
    Qel_DPrintf(4, "%s\n", line);
    Qel_DPrintf(4, "S_InitD3DS() DirectSound8 capabilities:\n");
    Qel_DPrintf(4, "Secondary sample rates: %u - %u Hz\n", c.dwMinSecondarySampleRate, c.dwMaxSecondarySampleRate);
    Qel_DPrintf(4, "Primary buffers: %u\n", c.dwPrimaryBuffers);
    Qel_DPrintf(4, "HW mixing buffers max: %u static, %u stream, %u all\n", c.dwMaxHwMixingStaticBuffers,
                c.dwMaxHwMixingStreamingBuffers, c.dwMaxHwMixingAllBuffers);
    Qel_DPrintf(4, "HW mixing buffers free: %u static, %u stream, %u all\n", c.dwFreeHwMixingStaticBuffers,
                c.dwFreeHwMixingStreamingBuffers, c.dwFreeHwMixingAllBuffers);
    Qel_DPrintf(4, "HW 3D buffers max: %u static, %u stream, %u all\n", c.dwMaxHw3DStaticBuffers,
                c.dwMaxHw3DStreamingBuffers, c.dwMaxHw3DAllBuffers);
    Qel_DPrintf(4, "HW 3D buffers free: %u static, %u stream, %u all\n", c.dwFreeHw3DStaticBuffers,
                c.dwFreeHw3DStreamingBuffers, c.dwFreeHw3DAllBuffers);
    Qel_DPrintf(4, "HW memory: %u total, %u free, %u contiguous\n", c.dwTotalHwMemBytes, c.dwFreeHwMemBytes,
                c.dwMaxContigFreeHwMemBytes);
    Qel_DPrintf(4, "HW transfer rate: %u KB/s\n", c.dwUnlockTransferRateHwBuffers);
    Qel_DPrintf(4, "SW mixing overhead: %u%%\n", c.dwPlayCpuOverheadSwBuffers);
    static const struct {
        DWORD bit;
        const char* name;
    } kFlags[] = {
        {DSCAPS_CERTIFIED, "DSCAPS_CERTIFIED"},
        {DSCAPS_CONTINUOUSRATE, "DSCAPS_CONTINUOUSRATE"},
        {DSCAPS_EMULDRIVER, "DSCAPS_EMULDRIVER"},
        {DSCAPS_PRIMARY16BIT, "DSCAPS_PRIMARY16BIT"},
        {DSCAPS_PRIMARY8BIT, "DSCAPS_PRIMARY8BIT"},
        {DSCAPS_PRIMARYMONO, "DSCAPS_PRIMARYMONO"},
        {DSCAPS_PRIMARYSTEREO, "DSCAPS_PRIMARYSTEREO"},
        {DSCAPS_SECONDARY16BIT, "DSCAPS_SECONDARY16BIT"},
        {DSCAPS_SECONDARY8BIT, "DSCAPS_SECONDARY8BIT"},
        {DSCAPS_SECONDARYMONO, "DSCAPS_SECONDARYMONO"},
        {DSCAPS_SECONDARYSTEREO, "DSCAPS_SECONDARYSTEREO"},
    };
    char flags[512] = "S_InitD3DS() Flags:";
    for (const auto& f : kFlags)
        if (c.dwFlags & f.bit) {
            std::strncat(flags, " ", sizeof flags - std::strlen(flags) - 1);
            std::strncat(flags, f.name, sizeof flags - std::strlen(flags) - 1);
        }
    Qel_DPrintf(4, "%s\n", flags);
}

// Runs the game silent: no device, sound neither running nor switched off.
SoundState* RunSilent() {
    ReleaseInto(S_SoundDevice.directSound);
    Qel_ErrPrintf("*** Program WILL continue without sound\n");
    g_SoundState->flags &= ~(SOUND_FLAG_RUNNING | SOUND_FLAG_OFF);
    return g_SoundState;
}

// Copies the descriptor's bytes into the channel's buffer.
bool FillBuffer(int channel, const QelSampleDesc* d, const char* lockMsg, const char* unlockMsg) {
    IDirectSoundBuffer8* b = S_SoundChannels[channel].buffer;
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    HRESULT hr = b->Lock(0, d->length, &p1, &n1, &p2, &n2, 0);
    if (hr != DS_OK) {
        Qel_ErrPrintf(lockMsg, S_DSErrorText(hr));
        return false;
    }
    if (d->data) {
        std::memcpy(p1, d->data, n1);
        if (p2 && n2) std::memcpy(p2, d->data + n1, n2);
    }
    hr = b->Unlock(p1, n1, p2, n2);
    if (hr != DS_OK) {
        Qel_ErrPrintf(unlockMsg, S_DSErrorText(hr));
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- conversions
int32_t S_ChannelVolumeToDB(uint32_t stateVolume, uint32_t volume) {
    int32_t step = static_cast<int32_t>((stateVolume * volume) / 320);
    int32_t db = step * 5000 / 256 - 5000;
    return db > 0 ? 0 : db;
}

int32_t S_3DVolumeToDB(uint32_t stateVolume, uint32_t volume) {
    int32_t v = static_cast<int32_t>((volume * stateVolume) / 256);
    return v * 5000 / 256 - 5000;
}

int32_t S_PanToDS(uint32_t pan) {
    int32_t p = pan ? static_cast<int32_t>(pan) : 64;
    int32_t v = p * 156 - 10000;
    // Pans past full right would be refused by the buffer and keep the old pan.
    return v > DSBPAN_RIGHT ? DSBPAN_RIGHT : v;
}

int32_t S_MainVolumeToDB(uint32_t volume) { return static_cast<int16_t>(6 * static_cast<int32_t>(volume) - 1536); }

const char* S_DSErrorText(HRESULT hr) {
    switch (hr) {
        case DSERR_UNSUPPORTED: return "Unsupported function called";
        case DSERR_GENERIC: return "generic error";
        case DSERR_NOAGGREGATION: return "Object does not support aggregation";
        case DSERR_OUTOFMEMORY: return "Out of memory";
        case DSERR_INVALIDPARAM: return "Invalid parameters passed to object";
        case DSERR_ALLOCATED: return "Requested resources already in use";
        case DSERR_CONTROLUNAVAIL: return "Control requested not available";
        case DSERR_INVALIDCALL: return "Invalid call for object's current state";
        case DSERR_PRIOLEVELNEEDED: return "Caller does not have required priority level";
        case DSERR_BADFORMAT: return "Wave format not supported";
        case DSERR_NODRIVER: return "No sound driver available";
        case DSERR_ALREADYINITIALIZED: return "Object already initialized";
        case DSERR_BUFFERLOST: return "Buffer lost and must be restored";
        case DSERR_OTHERAPPHASPRIO: return "Other App has priority.";
        case DSERR_UNINITIALIZED: return "DirectSound not initialized";
        default: return "Undetermined error";
    }
}

// ---------------------------------------------------------------- start and close
SoundState* S_InitDS3D(uint32_t audioFlags) {
    SoundState* state = Int_AllocRecord<SoundState>(kSoundMem);
    if (!state) state = Int_AllocRecord<SoundState>(kSoundMem);
    if (!state) return nullptr;
    void* extra = Int_AllocMem(4, kSoundMem);
    if (!extra) extra = Int_AllocMem(4, kSoundMem);
    if (!extra) {
        Int_FreeRecord(state, kSoundMem);
        return nullptr;
    }
    g_SoundState = state;
    state->extra = extra;
    state->flags = audioFlags;
    state->volume = FxVolumeSetting();
    std::memset(S_SoundChannels, 0, sizeof S_SoundChannels);
    S_SoundDevice = SoundDevice{};
    S_WindowLinks.cdTrackDone = CdTrackDone;

    S_FindCDDrive(state->flags);
    if (state->flags & SOUND_FLAG_OFF) return state;

    bool eax = false;
    if (state->flags & SOUND_FLAG_EAX) eax = S_InitEAXUnified() != 0;
    if (!eax) {
        HRESULT hr = DirectSoundCreate8(nullptr, &S_SoundDevice.directSound, nullptr);
        if (hr != DS_OK) {
            Qel_ErrPrintf("S_InitDS3D() failure Creating DS Object:\n%s\n", S_DSErrorText(hr));
            S_SoundDevice.directSound = nullptr;
            return RunSilent();
        }
    }
    state->flags |= SOUND_FLAG_DS_CREATED;
    IDirectSound8* ds = S_SoundDevice.directSound;

    DSCAPS caps{};
    caps.dwSize = sizeof caps;
    HRESULT hr = ds->GetCaps(&caps);
    if (hr == DS_OK) LogCaps(caps);
    else Qel_ErrPrintf("S_InitDS3D() Failure getting caps: %s\n", S_DSErrorText(hr));

    hr = ds->SetCooperativeLevel(g_ApplicationRecord.mainWindow, DSSCL_PRIORITY);
    if (hr != DS_OK) {
        Qel_ErrPrintf("failure setting DS Cooperative Level:\n%s\n", S_DSErrorText(hr));
        // The EAX carrier belongs to the device that goes.
        ReleaseInto(S_SoundDevice.eaxPropertySet);
        ReleaseInto(S_SoundDevice.eaxBuffer3D);
        ReleaseInto(S_SoundDevice.eaxBuffer);
        return RunSilent();
    }

    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
    hr = ds->CreateSoundBuffer(&desc, &S_SoundDevice.primary, nullptr);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_InitAudio() Can't create primary soundbuffer with volume control, trying without - %s\n",
                      S_DSErrorText(hr));
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D;
        hr = ds->CreateSoundBuffer(&desc, &S_SoundDevice.primary, nullptr);
    }
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_InitAudio() Can't create primary soundbuffer with 3D, trying without - %s\n",
                      S_DSErrorText(hr));
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
        hr = ds->CreateSoundBuffer(&desc, &S_SoundDevice.primary, nullptr);
    }
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_InitAudio() Error creating Prim. DSB\n%s\n", S_DSErrorText(hr));
        S_CloseAudio();
        return nullptr;
    }

    void* listener = nullptr;
    hr = S_SoundDevice.primary->QueryInterface(IID_IDirectSound3DListener, &listener);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Couldn't QI primary buffer for 3D listener interface \n(%s)\n", S_DSErrorText(hr));
        listener = nullptr;
    }
    S_SoundDevice.listener = static_cast<IDirectSound3DListener8*>(listener);

    hr = S_SoundDevice.primary->Play(0, 0, DSBPLAY_LOOPING);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Error Playing Prim. DSB:\n%s\n", S_DSErrorText(hr));
        S_CloseAudio();
        return nullptr;
    }

    WAVEFORMATEX format = WaveFormatSetting();
    S_SoundDevice.primary->SetFormat(&format);
    S_SoundDevice.primary->GetVolume(&S_SoundDevice.savedPrimaryVolume);
    S_SetMainVolume(255);

    if (IDirectSound3DListener8* l = S_SoundDevice.listener) {
        l->SetDopplerFactor(1.0f, DS3D_DEFERRED);
        l->SetDistanceFactor(0.001f, DS3D_DEFERRED);
        l->SetRolloffFactor(1.5f, DS3D_DEFERRED);
        l->SetPosition(0.0f, 0.0f, 0.0f, DS3D_DEFERRED);
        l->CommitDeferredSettings();
    }
    return state;
}

bool S_Sound3DAvailable() {
    return g_SoundState && (g_SoundState->flags & SOUND_FLAG_RUNNING) && S_SoundDevice.listener;
}

void S_CloseAudio() {
    if (!g_SoundState) {
        Int_FreeMem(nullptr, sizeof(SoundState), kSoundMem);
        return;
    }
    SoundDevice& dev = S_SoundDevice;
    if (dev.primary) dev.primary->SetVolume(dev.savedPrimaryVolume);
    // Channel buffers belong to the device: they go before it.
    for (int ch = 0; ch < S_SOUND_CHANNELS; ++ch)
        if (S_SoundChannels[ch].buffer) Int_SoundBufferFree(ch);
    ReleaseInto(dev.eaxPropertySet);
    ReleaseInto(dev.eaxBuffer3D);
    ReleaseInto(dev.eaxBuffer);
    ReleaseInto(dev.listener);
    ReleaseInto(dev.primary);
    if (dev.directSound) {
        ULONG left = dev.directSound->Release();
        Qel_DPrintf(4, "DSrelease(): %d\n", static_cast<int>(left));
        dev.directSound = nullptr;
    }
    Int_FreeMem(g_SoundState->extra, 4, kSoundMem);
    S_CloseCDAudio();
    if (S_WindowLinks.cdTrackDone == CdTrackDone) S_WindowLinks.cdTrackDone = nullptr;
    Int_FreeRecord(g_SoundState, kSoundMem);
    g_SoundState = nullptr;
    dev = SoundDevice{};
}

// ---------------------------------------------------------------- EAX
int S_InitEAXUnified() {
    void* obj = nullptr;
    DSound_RegisterClasses();
    HRESULT hr = CoCreateInstance(CLSID_EAXDirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8, &obj);
    if (hr != DS_OK || !obj) {
        Qel_ErrPrintf("S_InitEAXUnified() Failed to create CLSID_EAXDirectSound8\n");
        return 0;
    }
    auto* ds = static_cast<IDirectSound8*>(obj);
    if (ds->Initialize(nullptr) != DS_OK) {
        Qel_ErrPrintf("S_InitEAXUnified() Failed to Initialize Direct Sound 8\n");
        ds->Release();
        return 0;
    }
    S_SoundDevice.directSound = ds;
    if (!Int_InitEAXListener()) {
        S_SoundDevice.directSound = nullptr;
        ds->Release();
        return 0;
    }
    return 1;
}

int Int_InitEAXListener() {
    SoundDevice& dev = S_SoundDevice;
    if (!dev.directSound) return 0;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRL3D | DSBCAPS_LOCSOFTWARE;
    desc.dwBufferBytes = 4;
    desc.lpwfxFormat = &format;
    HRESULT hr = dev.directSound->CreateSoundBuffer(&desc, &dev.eaxBuffer, nullptr);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Int_InitEAXListener() Error creating sec. DSB for EAX:\n%s\n", S_DSErrorText(hr));
        dev.eaxBuffer = nullptr;
        return 0;
    }
    void* p = nullptr;
    hr = dev.eaxBuffer->QueryInterface(IID_IDirectSound3DBuffer, &p);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Int_InitEAXListener() Error QI for DS3DBuffer interface:\n%s\n", S_DSErrorText(hr));
        ReleaseInto(dev.eaxBuffer);
        return 0;
    }
    dev.eaxBuffer3D = static_cast<IDirectSound3DBuffer8*>(p);
    p = nullptr;
    if (dev.eaxBuffer->QueryInterface(IID_IKsPropertySet, &p) != DS_OK) {
        Qel_ErrPrintf("Int_InitEAXListener() Can't get EAX Listener interface from secondary soundbuffer!\n");
        ReleaseInto(dev.eaxBuffer3D);
        ReleaseInto(dev.eaxBuffer);
        return 0;
    }
    dev.eaxPropertySet = static_cast<IKsPropertySet*>(p);
    ULONG support = 0;
    bool ok = true;
    if (dev.eaxPropertySet->QuerySupport(DSPROPSETID_EAX_ListenerProperties, DSPROPERTY_EAXLISTENER_ALLPARAMETERS,
                                         &support) != DS_OK) {
        Qel_ErrPrintf("Int_InitEAXListener() Can't get EAX support flags!\n");
        ok = false;
    } else if ((support & (KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET)) !=
               (KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET)) {
        Qel_ErrPrintf("Int_InitEAXListener() No EAX property GET and SET support !\n");
        ok = false;
    }
    if (ok) {
        EAXLISTENERPROPERTIES drugged{23,   1.9f,  0.5f,   -1000,     0,       0,      8.39f,     1.39f,
                                      1.0f, -115,  0.002f, {0, 0, 0}, 985,     0.03f,  {0, 0, 0}, 0.25f,
                                      0.0f, 0.25f, 1.0f,   -5.0f,     5000.0f, 250.0f, 0.0f,      0x1F};
        ok = dev.eaxPropertySet->Set(DSPROPSETID_EAX_ListenerProperties, DSPROPERTY_EAXLISTENER_ALLPARAMETERS, nullptr,
                                     0, &drugged, sizeof drugged) == DS_OK;
    }
    if (!ok) {
        ReleaseInto(dev.eaxPropertySet);
        ReleaseInto(dev.eaxBuffer3D);
        ReleaseInto(dev.eaxBuffer);
        return 0;
    }
    return 1;
}

int S_SFXSetEAXRoom(int32_t location, int32_t scenario) {
    if (!g_SoundState || !(g_SoundState->flags & SOUND_FLAG_EAX)) return 0;
    if (static_cast<uint32_t>(scenario) >= 14) {
        Qel_ErrPrintf("S_SFXSetEAXRoom(%d,%d) scenarionr %d out of range, max=%d\n", scenario, location, scenario, 5);
        return 0;
    }
    S_SoundDevice.eaxScenario = scenario;
    S_SoundDevice.eaxLocation = location;
    if (!S_SoundDevice.eaxPropertySet) return 1;
    EAXLISTENERPROPERTIES room = S_SFX_GetEAXListenerProperties(location, scenario);
    HRESULT hr = S_SoundDevice.eaxPropertySet->Set(
        DSPROPSETID_EAX_ListenerProperties, DSPROPERTY_EAXLISTENER_ALLPARAMETERS, nullptr, 0, &room, sizeof room);
    return hr == DS_OK ? 1 : 0;
}

// ---------------------------------------------------------------- channels
int Int_SoundBufferAlloc(int channel, QelSampleDesc* d) {
    if (!ValidChannel(channel) || !d || !S_SoundDevice.directSound) return 0;
    SoundChannel& ch = S_SoundChannels[channel];
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = d->rate;
    format.wBitsPerSample = (d->flags & QEL_SAMPLEDESC_16BIT) ? 16 : 8;
    format.nBlockAlign = static_cast<uint16_t>(format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    bool is3D = (d->flags & QEL_SAMPLEDESC_3D) && S_SoundDevice.listener;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags =
        is3D ? DSBCAPS_STATIC | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME | DSBCAPS_MUTE3DATMAXDISTANCE
             : DSBCAPS_STATIC | DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
    desc.dwBufferBytes = d->length;
    desc.lpwfxFormat = &format;
    HRESULT hr = S_SoundDevice.directSound->CreateSoundBuffer(&desc, &ch.buffer, nullptr);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Int_SoundBufferAlloc() Error creating sec. DSSB:\n%s\n", S_DSErrorText(hr));
        ch.buffer = nullptr;
        return 0;
    }
    Qel_DPrintf(kLog, "SoundBufferAlloc channel %d sample %x  len=%d\n", channel, Addr(d), static_cast<int>(d->length));
    auto fail = [&ch]() {
        ReleaseInto(ch.buffer3D);
        ReleaseInto(ch.buffer);
        return 0;
    };
    if (!FillBuffer(channel, d, "Int_SoundBufferAlloc() Error locking DSSB\n%s\n",
                    "Int_SoundBufferAlloc() Error unlocking DSSB\n%s\n"))
        return fail();
    hr = ch.buffer->SetVolume(0);
    if (hr != DS_OK) {
        Qel_ErrPrintf("Int_SoundBufferAlloc() Error SetVolume DSSB\n%s\n", S_DSErrorText(hr));
        return fail();
    }
    if (is3D) {
        void* p = nullptr;
        hr = ch.buffer->QueryInterface(IID_IDirectSound3DBuffer, &p);
        if (hr != DS_OK) {
            Qel_ErrPrintf("Int_SoundBufferAlloc() Error QI for DS3DBuffer interface:\n%s\n", S_DSErrorText(hr));
            return fail();
        }
        ch.buffer3D = static_cast<IDirectSound3DBuffer8*>(p);
    } else {
        hr = ch.buffer->SetPan(0);
        if (hr != DS_OK) {
            Qel_ErrPrintf("Int_SoundBufferAlloc() Error SetPan DSSB\n%s\n", S_DSErrorText(hr));
            return fail();
        }
    }
    return 1;
}

void Int_SoundBufferFree(int channel) {
    if (!ValidChannel(channel)) return;
    SoundChannel& ch = S_SoundChannels[channel];
    if (ch.buffer) {
        HRESULT hr = ch.buffer->Stop();
        if (hr != DS_OK) Qel_ErrPrintf("Int_SoundBufferFree() Error stoping sound\n%s\n", S_DSErrorText(hr));
        if (ch.buffer3D) {
            ULONG left = ch.buffer3D->Release();
            if (left != 0)
                Qel_ErrPrintf("Int_SoundBufferFree() Error releasing 3d soundbuffer: remaining refcount=%d!\n",
                              static_cast<int>(left));
        }
        ULONG left = ch.buffer->Release();
        if (left != 0)
            Qel_ErrPrintf("Int_SoundBufferFree() Error releasing soundbuffer: remaining refcount=%d\n",
                          static_cast<int>(left));
        Qel_DPrintf(kLog, "SoundBufferFree channel %d Sample %x\n", channel, Addr(ch.sample));
    }
    ch.buffer = nullptr;
    ch.buffer3D = nullptr;
    ch.sample = nullptr;
    ch.flags = 0;
}

void Int_StopSoundEffectA(int channel) {
    if (!ValidChannel(channel)) return;
    SoundChannel& ch = S_SoundChannels[channel];
    if (!ch.buffer) {
        Qel_ErrPrintf("Int_StopSoundEffect(%d) Nonexisting sound buffer!\n", channel);
        return;
    }
    HRESULT hr = ch.buffer->Stop();
    if (hr != DS_OK) Qel_ErrPrintf("Int_StopSoundEffect(%d) Error ds->Stop: %s\n", channel, S_DSErrorText(hr));
}

void Int_StopSoundEffect(int channel) {
    if (!ValidChannel(channel)) return;
    Int_StopSoundEffectA(channel);
    Int_SoundBufferFree(channel);
}

int S_StartSoundEffect(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume, uint32_t pan) {
    if (!sample || !g_SoundState || (g_SoundState->flags & SOUND_FLAG_OFF)) return -1;
    if (!ValidChannel(channel) || !S_SoundDevice.directSound || !sample->descriptor) return -1;
    SoundChannel& ch = S_SoundChannels[channel];
    QelSampleDesc* d = sample->descriptor;
    unsigned who = Addr(sample);

    if (ch.buffer) {
        Qel_DPrintf(kLog, "S_StartSoundEffect(%x, %d) Aborting sample\n", who, channel);
        Int_StopSoundEffectA(channel);
        if (ch.sample != d || (sample->flags & QEL_SAMPLE_LARGE)) {
            Qel_DPrintf(kLog, "S_StartSoundEffect(%x, %d) Free soundbuffer\n", who, channel);
            Int_SoundBufferFree(channel);
            if (ch.buffer) {
                Qel_ErrPrintf("S_StartSoundeffect(%x, %d) ERR: Soundbuffer still existing!!!\n", who, channel);
                return -1;
            }
        }
    }
    if (frequency == 0) frequency = sample->frequency;
    if (ch.buffer) {
        DWORD status = 0;
        if (ch.buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) {
            Qel_DPrintf(kLog, "S_StartSoundEffect() Buffer restore channel %d\n", channel);
            HRESULT hr = ch.buffer->Restore();
            if (hr != DS_OK) {
                Qel_ErrPrintf("S_StartSoundEffect() Error RESTORING Soundbuffer:\n%s\n", S_DSErrorText(hr));
                return -1;
            }
            // A restored buffer has its memory back but not its contents.
            if (!FillBuffer(channel, d, "Int_SoundBufferAlloc() Error locking DSSB\n%s\n",
                            "Int_SoundBufferAlloc() Error unlocking DSSB\n%s\n")) {
                Int_SoundBufferFree(channel);
                return -1;
            }
        }
    }
    if (!ch.buffer && !Int_SoundBufferAlloc(channel, d)) {
        Qel_ErrPrintf("S_StartSoundEffect(%x, %d) Int_SoundBufferAlloc() failed!\n", who, channel);
        return -1;
    }

    ch.flags &= ~SOUND_CHANNEL_3D_PENDING;
    ch.sample = d;
    uint32_t v = volume ? volume : sample->volume;
    int32_t db = S_ChannelVolumeToDB(g_SoundState->volume, v);
    HRESULT hr = ch.buffer->SetVolume(db);
    if (hr != DS_OK)
        Qel_ErrPrintf("S_StartSoundEffect(%x, %d) error setting volume=%d: %s\n", who, channel, db, S_DSErrorText(hr));

    if (!(d->flags & QEL_SAMPLEDESC_3D)) {
        int32_t p = S_PanToDS(pan);
        hr = ch.buffer->SetPan(p);
        if (hr != DS_OK)
            Qel_ErrPrintf("S_StartSoundEffect(%x, %d) error setting panning(balance)=%d: %s\n", who, channel, p,
                          S_DSErrorText(hr));
        hr = ch.buffer->SetFrequency(frequency);
        if (hr != DS_OK)
            Qel_ErrPrintf("S_StartSoundEffect(%x, %d) error setting frequency=%d: %s\n", who, channel,
                          static_cast<int>(frequency), S_DSErrorText(hr));
        ch.buffer->SetCurrentPosition(0);
        hr = ch.buffer->Play(0, 0, loop == -1 ? DSBPLAY_LOOPING : 0);
        if (hr != DS_OK) {
            Qel_ErrPrintf("S_StartSoundEffect(%x, %d) Error playing DSB: %s\n", who, channel, S_DSErrorText(hr));
            Int_SoundBufferFree(channel);
            return -1;
        }
    } else {
        ch.flags |= SOUND_CHANNEL_3D_PENDING;
    }
    return channel;
}

int S_PlaySound3D(int channel) {
    if (!ValidChannel(channel)) return 0;
    SoundChannel& ch = S_SoundChannels[channel];
    if (!ch.buffer) {
        Qel_ErrPrintf("S_PlaySound3D(%d) Nonexisting DirectSoundBuffer!\n", channel);
        return 1;
    }
    ch.flags &= ~SOUND_CHANNEL_3D_PENDING;
    HRESULT hr = ch.buffer->Stop();
    if (hr != DS_OK)
        Qel_ErrPrintf("S_PlaySound3D(%d) Unable to stop sample before playing again:%s\n", channel, S_DSErrorText(hr));
    ch.buffer->SetCurrentPosition(0);
    hr = ch.buffer->Play(0, 0, DSBPLAY_LOOPING);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_PlaySound3D(%d) Error playing 3ddsb:%s\n", channel, S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_ChannelIsPlaying(int channel) {
    if (!ValidChannel(channel)) return 0;
    SoundChannel& ch = S_SoundChannels[channel];
    if (!ch.buffer || (ch.flags & SOUND_CHANNEL_3D_PENDING)) return 0;
    DWORD status = 0;
    if (ch.buffer->GetStatus(&status) != DS_OK) return 0;
    return (status & DSBSTATUS_PLAYING) ? 1 : 0;
}

// ---------------------------------------------------------------- 3D
int S_SetSound3DInfo(int channel, uint32_t outsideConeAngle, uint32_t insideConeAngle, int32_t coneX, int32_t coneY,
                     int32_t coneZ, int32_t minDistance, uint32_t volume) {
    if (!ValidChannel(channel) || !S_SoundDevice.listener || !S_SoundChannels[channel].buffer3D) {
        Qel_ErrPrintf("S_SetSound3DInfo(%d) trying to set 3d orientation without 3d soundbuffer!\n", channel);
        return 0;
    }
    IDirectSound3DBuffer8* b = S_SoundChannels[channel].buffer3D;
    if (!S_SetSound3DVolume(volume, channel)) return 0;
    HRESULT hr = b->SetMode(DS3DMODE_NORMAL, DS3D_IMMEDIATE);
    if (hr != DS_OK)
        Qel_ErrPrintf("S_SetSound3DInfo() error setting 3d sound mode:%s\nInvol=%d\n", S_DSErrorText(hr),
                      static_cast<int>(volume));
    DS3DBUFFER p{};
    p.dwSize = sizeof p;
    p.dwInsideConeAngle = insideConeAngle;
    p.dwOutsideConeAngle = outsideConeAngle;
    p.vConeOrientation = {coneX / 65536.0f, coneY / 65536.0f, coneZ / 65536.0f};
    p.lConeOutsideVolume = -500;
    p.flMinDistance = minDistance < 1 ? 1.0f : static_cast<float>(minDistance);
    p.flMaxDistance = 2147483648.0f;
    p.dwMode = DS3DMODE_NORMAL;
    hr = b->SetAllParameters(&p, DS3D_IMMEDIATE);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetSound3DInfo(%d) error setting 3d orientation: %s\n", channel, S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetSound3DPosition(int32_t x, int32_t y, int32_t z, int channel) {
    if (!ValidChannel(channel) || !S_SoundDevice.listener || !S_SoundChannels[channel].buffer3D) {
        Qel_ErrPrintf("S_SetSound3DPosition(%d) trying to set 3d position without 3d soundbuffer!\n", channel);
        return 0;
    }
    float fx = static_cast<float>(x), fy = static_cast<float>(y), fz = static_cast<float>(z);
    HRESULT hr = S_SoundChannels[channel].buffer3D->SetPosition(fx, fy, fz, DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetSound3DPosition(%d) error setting 3d position=(%f,%f,%f): %s\n", channel, fx, fy, fz,
                      S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetSound3DVelocity(int channel, int32_t x, int32_t y, int32_t z) {
    if (!ValidChannel(channel) || !S_SoundDevice.listener || !S_SoundChannels[channel].buffer3D) {
        Qel_ErrPrintf("S_SetSound3DVelocity(%d) nonexisting DirectSoundBuffer!\n", channel);
        return 0;
    }
    HRESULT hr = S_SoundChannels[channel].buffer3D->SetVelocity(static_cast<float>(x), static_cast<float>(y),
                                                                static_cast<float>(z), DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetSound3DVelocity(%d) error setting 3d velocity: %s\n", channel, S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetSound3DOrientation(int channel, int32_t x, int32_t y, int32_t z) {
    if (!ValidChannel(channel) || !S_SoundDevice.listener || !S_SoundChannels[channel].buffer3D) {
        Qel_ErrPrintf("S_SetSound3DOrientation() Trying to set 3d orientation without 3d soundbuffer!\n");
        return 0;
    }
    float fx = x / 65536.0f, fy = y / 65536.0f, fz = z / 65536.0f;
    HRESULT hr = S_SoundChannels[channel].buffer3D->SetConeOrientation(fx, fy, fz, DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetSound3DOrientation(%d) error setting 3d orientation=(%f,%f,%f): %s\n", channel, fx, fy, fz,
                      S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetSound3DVolume(uint32_t volume, int channel) {
    if (!ValidChannel(channel) || !S_SoundChannels[channel].buffer || !g_SoundState) {
        Qel_ErrPrintf("S_SetSound3DVolume(%d) nonexisting DirectSoundBuffer!\n", channel);
        return 0;
    }
    SoundChannel& ch = S_SoundChannels[channel];
    HRESULT hr = ch.buffer->SetVolume(S_3DVolumeToDB(g_SoundState->volume, volume));
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetSound3DVolume(%d) error setting inside volume: %s\n", channel, S_DSErrorText(hr));
        return 0;
    }
    if (S_SoundDevice.listener && ch.buffer3D) {
        hr = ch.buffer3D->SetConeOutsideVolume(-500, DS3D_DEFERRED);
        if (hr != DS_OK) {
            Qel_ErrPrintf("S_SetSound3DVolume(%d) error setting cone outside volume: %s\n", channel, S_DSErrorText(hr));
            return 0;
        }
    }
    return 1;
}

int S_SetListener3DPosition() {
    if (!S_SoundDevice.listener) {
        Qel_ErrPrintf("S_SetListener3DPosition() Error: No Listener!\n");
        return 0;
    }
    HRESULT hr = S_SoundDevice.listener->SetPosition(0.0f, 0.0f, 0.0f, DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetListener3DPosition() Error: %s\n", S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetListener3DVelocity() {
    if (!S_SoundDevice.listener) {
        Qel_ErrPrintf("S_SetListener3DVelocity() Error: No Listener!\n");
        return 0;
    }
    HRESULT hr = S_SoundDevice.listener->SetVelocity(0.0f, 0.0f, 0.0f, DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetListener3DVelocity() Error: %s\n", S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetListener3DOrientation() {
    if (!S_SoundDevice.listener) {
        Qel_ErrPrintf("S_SetListener3DOrientation() Error: No Listener!\n");
        return 0;
    }
    HRESULT hr = S_SoundDevice.listener->SetOrientation(0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, DS3D_DEFERRED);
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_SetListener3DOrientation() Error: %s\n", S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

int S_Sound3DCommitDeferred() {
    if (!S_SoundDevice.listener) {
        Qel_ErrPrintf("S_Sound3DCommitDeferred() Error: No Listener!\n");
        return 0;
    }
    HRESULT hr = S_SoundDevice.listener->CommitDeferredSettings();
    if (hr != DS_OK) {
        Qel_ErrPrintf("S_Sound3DCommitDeferred() Error: %s\n", S_DSErrorText(hr));
        return 0;
    }
    return 1;
}

void S_SetMainVolume(uint32_t volume) {
    if (!g_SoundState || !(g_SoundState->flags & SOUND_FLAG_RUNNING) || !S_SoundDevice.primary) return;
    int32_t db = S_MainVolumeToDB(volume);
    HRESULT hr = S_SoundDevice.primary->SetVolume(db);
    if (hr != DS_OK) Qel_DPrintf(kLog, "error setting MAIN volume:\n%s\n,vol=%d\n", S_DSErrorText(hr), db);
    hr = S_SoundDevice.primary->SetPan(0);
    if (hr != DS_OK) Qel_DPrintf(kLog, "error setting MAIN panning:\n%s\n", S_DSErrorText(hr));
}
