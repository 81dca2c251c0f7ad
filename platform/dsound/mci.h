// Our multimedia-library subset for compact-disc audio, the mixer and MIDI
// volume. No disc drive exists unless the test seam adds one with its discs
// and tracks; the fake "cdaudio" device then plays nothing audible and posts
// its completion notice through the game window's message queue. The mixer
// and MIDI output report no devices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dsound/dsound.h"

using MCIDEVICEID = uint32_t;
using MCIERROR = uint32_t;
using MMRESULT = uint32_t;

constexpr MCIERROR MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MCIERROR MCIERR_BASE = 256;
constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
constexpr MCIERROR MCIERR_HARDWARE = MCIERR_BASE + 6;
constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
constexpr MCIERROR MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
constexpr MCIERROR MCIERR_DEVICE_NOT_READY = MCIERR_BASE + 20;

// Commands.
constexpr uint32_t MCI_OPEN = 0x0803;
constexpr uint32_t MCI_CLOSE = 0x0804;
constexpr uint32_t MCI_PLAY = 0x0806;
constexpr uint32_t MCI_STOP = 0x0808;
constexpr uint32_t MCI_SET = 0x080D;
constexpr uint32_t MCI_STATUS = 0x0814;

// Command flags.
constexpr DWORD_PTR MCI_NOTIFY = 0x1;
constexpr DWORD_PTR MCI_WAIT = 0x2;
constexpr DWORD_PTR MCI_FROM = 0x4;
constexpr DWORD_PTR MCI_TO = 0x8;
constexpr DWORD_PTR MCI_TRACK = 0x10;
constexpr DWORD_PTR MCI_OPEN_SHAREABLE = 0x100;
constexpr DWORD_PTR MCI_OPEN_ELEMENT = 0x200;
constexpr DWORD_PTR MCI_OPEN_TYPE = 0x2000;
constexpr DWORD_PTR MCI_SET_TIME_FORMAT = 0x400;
constexpr DWORD_PTR MCI_STATUS_ITEM = 0x100;

constexpr DWORD MCI_STATUS_LENGTH = 0x1;
constexpr DWORD MCI_STATUS_NUMBER_OF_TRACKS = 0x3;
constexpr DWORD MCI_FORMAT_MSF = 2;
constexpr DWORD MCI_FORMAT_TMSF = 10;

constexpr DWORD MCI_MAKE_TMSF(uint8_t t, uint8_t m, uint8_t s, uint8_t f) {
    return DWORD(t) | (DWORD(m) << 8) | (DWORD(s) << 16) | (DWORD(f) << 24);
}
constexpr DWORD MCI_MAKE_MSF(uint8_t m, uint8_t s, uint8_t f) { return DWORD(m) | (DWORD(s) << 8) | (DWORD(f) << 16); }

struct MCI_GENERIC_PARMS {
    DWORD_PTR dwCallback;
};
struct MCI_OPEN_PARMSA {
    DWORD_PTR dwCallback;
    MCIDEVICEID wDeviceID;
    const char* lpstrDeviceType;
    const char* lpstrElementName;
    const char* lpstrAlias;
};
struct MCI_SET_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwTimeFormat;
    DWORD dwAudio;
};
struct MCI_STATUS_PARMS {
    DWORD_PTR dwCallback;
    DWORD_PTR dwReturn;
    DWORD dwItem;
    DWORD dwTrack;
};
struct MCI_PLAY_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwFrom;
    DWORD dwTo;
};

MCIERROR mciSendCommandA(MCIDEVICEID device, uint32_t command, DWORD_PTR flags, DWORD_PTR params);
// Text of an MCI error code.
int mciGetErrorStringA(MCIERROR error, char* text, uint32_t size);

// Drives: bit n set for letter 'a' + n.
DWORD GetLogicalDrives();
constexpr uint32_t DRIVE_UNKNOWN = 0;
constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
constexpr uint32_t DRIVE_FIXED = 3;
constexpr uint32_t DRIVE_CDROM = 5;
// Type of a root such as "d:\\".
uint32_t GetDriveTypeA(const char* root);

// ---------------------------------------------------------------- mixer
using HMIXER = struct HMIXER__*;
using HMIXEROBJ = struct HMIXEROBJ__*;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXER_GETLINEINFOF_COMPONENTTYPE = 0x3;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x2;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0x0;
constexpr DWORD MIXER_OBJECTF_HMIXER = 0x80000000 | 0x10000000;

struct MIXERLINEA {
    DWORD cbStruct;
    DWORD dwDestination;
    DWORD dwSource;
    DWORD dwLineID;
    DWORD fdwLine;
    DWORD_PTR dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections;
    DWORD cControls;
};
struct MIXERCONTROLA {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD dwControlType;
    DWORD fdwControl;
    DWORD cMultipleItems;
};
struct MIXERLINECONTROLSA {
    DWORD cbStruct;
    DWORD dwLineID;
    DWORD dwControlType;
    DWORD cControls;
    DWORD cbmxctrl;
    MIXERCONTROLA* pamxctrl;
};
struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue;
};
struct MIXERCONTROLDETAILS {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD cChannels;
    DWORD cMultipleItems;
    DWORD cbDetails;
    void* paDetails;
};

UINT mixerGetNumDevs();
MMRESULT mixerOpen(HMIXER* mixer, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT mixerGetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags);
MMRESULT mixerGetLineControlsA(HMIXEROBJ mixer, MIXERLINECONTROLSA* controls, DWORD flags);
MMRESULT mixerSetControlDetails(HMIXEROBJ mixer, MIXERCONTROLDETAILS* details, DWORD flags);
MMRESULT mixerClose(HMIXER mixer);

// ---------------------------------------------------------------- MIDI output
using HMIDIOUT = struct HMIDIOUT__*;
constexpr WORD MOD_MIDIPORT = 1;
constexpr WORD MOD_SYNTH = 2;
constexpr WORD MOD_SQSYNTH = 3;
constexpr WORD MOD_FMSYNTH = 4;
struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[32];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
UINT midiOutGetNumDevs();
MMRESULT midiOutGetDevCapsA(UINT device, MIDIOUTCAPSA* caps, UINT size);
// A device id may be given in place of a handle.
MMRESULT midiOutSetVolume(HMIDIOUT device, DWORD volume);

// ---------------------------------------------------------------- test seam
struct MciSeamDrive {
    char letter;  // 'd' ...
    bool cdrom = true;
    bool opens = true;          // the cdaudio device opens on it (a disc is in)
    std::vector<DWORD> tracks;  // lengths as MCI_MAKE_MSF(minutes, seconds, frames)
};
struct MciSeam {
    std::vector<MciSeamDrive> drives;
    bool failSetFormat = false;
    bool failStatus = false;
    bool failPlay = false;
    bool failStop = false;
    bool notifyAtOnce = false;       // a play with MCI_NOTIFY completes immediately
    std::vector<std::string> calls;  // "open d:", "play 3 from 3 to ..." ...
};
MciSeam& Mci_Seam();
void Mci_ResetSeam();
// Ends the track that plays (posting the notice when one was asked for); false when none plays.
bool Mci_SeamFinishPlay();
// The device that plays, 0 when none.
MCIDEVICEID Mci_SeamPlayingDevice();
