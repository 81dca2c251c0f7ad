// Compact-disc audio through the "cdaudio" device in track/minute/second/frame
// time, and the CD line and MIDI volumes.
#include "system/cdaudio.h"

#include <cstdio>
#include <cstdlib>

#include "base/general.h"
#include "base/log.h"
#include "platform/dsound/mci.h"
#include "system/entry.h"
#include "system/sound.h"

namespace {

uint32_t g_playing = 0;         // set around the play command
MCI_PLAY_PARMS g_playParams{};  // callback window, from, to

MCIDEVICEID& CdDevice() { return g_ApplicationRecord.cdDeviceId; }

void CloseDevice(MCIDEVICEID& id) {
    if (id) mciSendCommandA(id, MCI_CLOSE, 0, 0);
    id = 0;
}

int32_t ReferenceLength() { return g_SystemState ? g_SystemState->cdReferenceTrackLength : 0; }

// Length of a track as its status reply gives it: minutes, seconds, frames.
bool TrackLengthMSF(int track, DWORD* msf) {
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_LENGTH;
    status.dwTrack = static_cast<DWORD>(track);
    if (mciSendCommandA(CdDevice(), MCI_STATUS, MCI_STATUS_ITEM | MCI_TRACK, reinterpret_cast<DWORD_PTR>(&status)) !=
        MMSYSERR_NOERROR)
        return false;
    *msf = static_cast<DWORD>(status.dwReturn);
    return true;
}

uint32_t MsfToMs(DWORD msf) {
    uint32_t minutes = msf & 0xFF, seconds = (msf >> 8) & 0xFF, frames = (msf >> 16) & 0xFF;
    return (seconds + 60 * minutes) * 1000 + frames;
}

}  // namespace

int S_OpenCDAudio(const char* drive) {
    CloseDevice(CdDevice());
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "cdaudio";
    open.lpstrElementName = drive;
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open)) !=
        MMSYSERR_NOERROR) {
        Qel_ErrPrintf("Error opening MCI CDAUDIO!\n");
        return 0;
    }
    CdDevice() = open.wDeviceID;
    MCI_SET_PARMS set{};
    set.dwTimeFormat = MCI_FORMAT_TMSF;
    if (mciSendCommandA(CdDevice(), MCI_SET, MCI_SET_TIME_FORMAT, reinterpret_cast<DWORD_PTR>(&set)) !=
        MMSYSERR_NOERROR) {
        Qel_ErrPrintf("Error setting CD Player to TMSF\n");
        CloseDevice(CdDevice());
        return 0;
    }
    return 1;
}

void S_FindCDDrive(uint32_t audioFlags) {
    if (!(audioFlags & SOUND_FLAG_SEARCH_CD) || (audioFlags & SOUND_FLAG_NO_CD)) return;
    DWORD drives = GetLogicalDrives();
    char chosen = 'd';
    int32_t reference = ReferenceLength();
    int64_t best = reference;
    for (int bit = 3; bit < 32; ++bit) {
        if (!(drives & (1u << bit))) continue;
        char letter = static_cast<char>('a' + bit);
        char root[8];
        std::snprintf(root, sizeof root, "%c:\\", letter);
        if (GetDriveTypeA(root) != DRIVE_CDROM) continue;
        char name[4];
        std::snprintf(name, sizeof name, "%c:", letter);
        if (!S_OpenCDAudio(name)) continue;
        if (reference == 0) {
            chosen = letter;
            continue;
        }
        uint32_t tracks = S_CDGetTrackCount();
        if (tracks < 2) continue;
        for (uint32_t t = 2; t <= tracks; ++t) {
            int64_t diff = std::llabs(static_cast<int64_t>(S_CDGetTrackLength(static_cast<int>(t))) - reference);
            if (diff < best) {
                best = diff;
                chosen = letter;
            }
        }
    }
    if (g_SystemState) g_SystemState->cdDriveLetter = chosen;
    Qel_DPrintf(4, "CD ROM Drive letter set to: %c:\n", chosen);
    char name[4];
    std::snprintf(name, sizeof name, "%c:", chosen);
    if (!S_OpenCDAudio(name)) Qel_ErrPrintf("error opening CD audio playback\n");
}

uint32_t S_CDGetTrackLength(int track) {
    if (!CdDevice()) return 0;
    DWORD msf = 0;
    if (!TrackLengthMSF(track, &msf)) {
        Qel_ErrPrintf("Error getting track length\n");
        CloseDevice(CdDevice());
        return 0;
    }
    return MsfToMs(msf);
}

uint32_t S_CDGetTrackCount() {
    if (!CdDevice()) return 0;
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_NUMBER_OF_TRACKS;
    if (mciSendCommandA(CdDevice(), MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status)) !=
        MMSYSERR_NOERROR) {
        Qel_ErrPrintf("Error playing Audio track\n");
        CloseDevice(CdDevice());
        return 0;
    }
    return static_cast<uint32_t>(status.dwReturn);
}

int S_CDPlayTrack(int track) {
    if (!CdDevice()) return 0;
    DWORD msf = 0;
    if (!TrackLengthMSF(track, &msf)) {
        Qel_ErrPrintf("Error getting track length\n");
        CloseDevice(CdDevice());
        return 0;
    }
    uint8_t t = static_cast<uint8_t>(track);
    g_playParams.dwFrom = MCI_MAKE_TMSF(t, 0, 0, 0);
    g_playParams.dwTo = MCI_MAKE_TMSF(t, msf & 0xFF, (msf >> 8) & 0xFF, (msf >> 16) & 0xFF);
    DWORD_PTR flags = MCI_FROM | MCI_TO;
    g_playParams.dwCallback = 0;
    if (g_ApplicationRecord.mainWindow && g_SoundState && g_SoundState->notify) {
        flags |= MCI_NOTIFY;
        g_playParams.dwCallback = reinterpret_cast<DWORD_PTR>(g_ApplicationRecord.mainWindow);
    }
    if (g_playing) {
        Qel_ErrPrintf("error CD audio track not finished yet\n");
        return 0;
    }
    g_playing = 1;
    MCIERROR err = mciSendCommandA(CdDevice(), MCI_PLAY, flags, reinterpret_cast<DWORD_PTR>(&g_playParams));
    g_playing = 0;
    if (err != MMSYSERR_NOERROR) {
        // A task waiting for this track's notice would wait for ever: say it failed.
        Qel_ErrPrintf("Error playing Audio track\n");
        CloseDevice(CdDevice());
        return 0;
    }
    return 1;
}

void S_CDStop() {
    if (!CdDevice()) return;
    MCI_GENERIC_PARMS params{};
    MCIERROR err = mciSendCommandA(CdDevice(), MCI_STOP, 0, reinterpret_cast<DWORD_PTR>(&params));
    if (err != MMSYSERR_NOERROR) {
        char text[128];
        mciGetErrorStringA(err, text, sizeof text);
        Qel_ErrPrintf("Error stoping CD audio:%s\n", text);
    }
}

void S_CloseCDAudio() {
    S_CDStop();
    CloseDevice(CdDevice());
    CloseDevice(g_ApplicationRecord.musicDeviceId);
}

void S_SetCDVolume(uint32_t volume) {
    DWORD value = ((volume << 8) | volume) & 0xFFFF;
    UINT count = mixerGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        HMIXER mixer = nullptr;
        if (mixerOpen(&mixer, i, 0, 0, 0) != MMSYSERR_NOERROR) continue;
        auto obj = reinterpret_cast<HMIXEROBJ>(mixer);
        MIXERLINEA line{};
        line.cbStruct = sizeof line;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
        if (mixerGetLineInfoA(obj, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR) {
            MIXERCONTROLA control{};
            control.cbStruct = sizeof control;
            MIXERLINECONTROLSA controls{};
            controls.cbStruct = sizeof controls;
            controls.dwLineID = line.dwLineID;
            controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
            controls.cControls = 1;
            controls.cbmxctrl = sizeof control;
            controls.pamxctrl = &control;
            if (mixerGetLineControlsA(obj, &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR) {
                MIXERCONTROLDETAILS_UNSIGNED detail{value};
                MIXERCONTROLDETAILS details{};
                details.cbStruct = sizeof details;
                details.dwControlID = control.dwControlID;
                details.cChannels = 1;
                details.cbDetails = sizeof detail;
                details.paDetails = &detail;
                mixerSetControlDetails(obj, &details, MIXER_SETCONTROLDETAILSF_VALUE);
            }
        }
        mixerClose(mixer);
    }
}

void S_SetMidiVolume(uint32_t volume) {
    if (!g_SoundState || !(g_SoundState->flags & SOUND_FLAG_MIDI_VOLUME)) return;
    UINT count = midiOutGetNumDevs();
    UINT device = 0;
    for (UINT i = 0; i < count; ++i) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && caps.wTechnology == MOD_FMSYNTH)
            device = i;
    }
    DWORD word = ((volume << 8) | volume) & 0xFFFF;
    midiOutSetVolume(reinterpret_cast<HMIDIOUT>(static_cast<uintptr_t>(device)), word | (word << 16));
}
