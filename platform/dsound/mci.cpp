// The multimedia library's compact-disc device, mixer and MIDI output, as far
// as this machine has them: drives and discs exist only when the test seam adds
// them. A play "runs" until the seam finishes it (or at once, when asked), and
// its notice reaches the game window as MM_MCINOTIFY through the message queue.
#include "platform/dsound/mci.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/win32/messages.h"

namespace {

MciSeam g_seam;

struct CdDevice {
    char letter = 0;
    DWORD timeFormat = MCI_FORMAT_MSF;
    bool playing = false;
    bool notify = false;  // a notice is owed for the play in progress
    DWORD_PTR callback = 0;
};
std::map<MCIDEVICEID, CdDevice> g_devices;
MCIDEVICEID g_nextId = 1;

void Record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* fmt, ...) {
    char line[160];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    g_seam.calls.emplace_back(line);
}

MciSeamDrive* FindDrive(char letter) {
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    for (MciSeamDrive& d : g_seam.drives)
        if (std::tolower(static_cast<unsigned char>(d.letter)) == letter) return &d;
    return nullptr;
}

void Notify(MCIDEVICEID id, CdDevice& dev, WPARAM result) {
    if (!dev.notify) return;
    dev.notify = false;
    Win32_PostMciNotify(result, id);
}

bool SameText(const char* a, const char* b) {
    if (!a || !b) return false;
    while (*a && *b)
        if (std::tolower(static_cast<unsigned char>(*a++)) != std::tolower(static_cast<unsigned char>(*b++)))
            return false;
    return *a == *b;
}

}  // namespace

MCIERROR mciSendCommandA(MCIDEVICEID device, uint32_t command, DWORD_PTR flags, DWORD_PTR params) {
    if (command == MCI_OPEN) {
        auto* p = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
        if (!p) return MCIERR_BASE + 24;  // missing parameter
        Record("open %s %s", (flags & MCI_OPEN_TYPE) && p->lpstrDeviceType ? p->lpstrDeviceType : "-",
               (flags & MCI_OPEN_ELEMENT) && p->lpstrElementName ? p->lpstrElementName : "-");
        if (!(flags & MCI_OPEN_TYPE) || !SameText(p->lpstrDeviceType, "cdaudio")) return MCIERR_INVALID_DEVICE_NAME;
        MciSeamDrive* drive = nullptr;
        if ((flags & MCI_OPEN_ELEMENT) && p->lpstrElementName && p->lpstrElementName[0])
            drive = FindDrive(p->lpstrElementName[0]);
        else if (!g_seam.drives.empty()) drive = &g_seam.drives.front();
        if (!drive || !drive->cdrom) return MCIERR_INVALID_DEVICE_NAME;
        if (!drive->opens) return MCIERR_DEVICE_NOT_READY;
        MCIDEVICEID id = g_nextId++;
        g_devices[id] = CdDevice{drive->letter};
        p->wDeviceID = id;
        return MMSYSERR_NOERROR;
    }

    auto it = g_devices.find(device);
    if (it == g_devices.end()) {
        Record("command %#x on unknown device %u", command, device);
        return MCIERR_INVALID_DEVICE_ID;
    }
    CdDevice& dev = it->second;
    MciSeamDrive* drive = FindDrive(dev.letter);
    switch (command) {
        case MCI_SET: {
            auto* p = reinterpret_cast<MCI_SET_PARMS*>(params);
            Record("set %u format %u", device, p ? p->dwTimeFormat : 0);
            if (g_seam.failSetFormat) return MCIERR_HARDWARE;
            if ((flags & MCI_SET_TIME_FORMAT) && p) dev.timeFormat = p->dwTimeFormat;
            return MMSYSERR_NOERROR;
        }
        case MCI_STATUS: {
            auto* p = reinterpret_cast<MCI_STATUS_PARMS*>(params);
            if (!p || !(flags & MCI_STATUS_ITEM)) return MCIERR_BASE + 24;
            Record("status %u item %u track %u", device, p->dwItem, p->dwTrack);
            if (g_seam.failStatus || !drive) return MCIERR_HARDWARE;
            if (p->dwItem == MCI_STATUS_NUMBER_OF_TRACKS) {
                p->dwReturn = drive->tracks.size();
                return MMSYSERR_NOERROR;
            }
            if (p->dwItem == MCI_STATUS_LENGTH && (flags & MCI_TRACK)) {
                if (p->dwTrack < 1 || p->dwTrack > drive->tracks.size()) return MCIERR_OUTOFRANGE;
                p->dwReturn = drive->tracks[p->dwTrack - 1];
                return MMSYSERR_NOERROR;
            }
            return MCIERR_BASE + 18;  // unsupported function
        }
        case MCI_PLAY: {
            auto* p = reinterpret_cast<MCI_PLAY_PARMS*>(params);
            DWORD from = p && (flags & MCI_FROM) ? p->dwFrom : 0;
            DWORD to = p && (flags & MCI_TO) ? p->dwTo : 0;
            Record("play %u from %#x to %#x%s", device, from, to, (flags & MCI_NOTIFY) ? " notify" : "");
            if (g_seam.failPlay || !drive) return MCIERR_HARDWARE;
            DWORD track = from & 0xFF;
            if ((flags & MCI_FROM) && (track < 1 || track > drive->tracks.size())) return MCIERR_OUTOFRANGE;
            Notify(device, dev, MCI_NOTIFY_SUPERSEDED);
            dev.playing = true;
            dev.notify = (flags & MCI_NOTIFY) != 0;
            dev.callback = p ? p->dwCallback : 0;
            if (g_seam.notifyAtOnce) {
                dev.playing = false;
                Notify(device, dev, MCI_NOTIFY_SUCCESSFUL);
            }
            return MMSYSERR_NOERROR;
        }
        case MCI_STOP:
            Record("stop %u", device);
            if (g_seam.failStop) return MCIERR_HARDWARE;
            dev.playing = false;
            Notify(device, dev, MCI_NOTIFY_ABORTED);
            return MMSYSERR_NOERROR;
        case MCI_CLOSE:
            Record("close %u", device);
            Notify(device, dev, MCI_NOTIFY_ABORTED);
            g_devices.erase(it);
            return MMSYSERR_NOERROR;
        default: return MCIERR_BASE + 18;
    }
}

int mciGetErrorStringA(MCIERROR error, char* text, uint32_t size) {
    if (!text || size == 0) return 0;
    const char* msg = "The specified command failed.";
    switch (error) {
        case MMSYSERR_NOERROR: msg = "The specified command was carried out."; break;
        case MCIERR_INVALID_DEVICE_ID: msg = "Invalid device ID."; break;
        case MCIERR_HARDWARE: msg = "The specified device is not ready or has a hardware problem."; break;
        case MCIERR_INVALID_DEVICE_NAME: msg = "The specified device is not open or is not recognized."; break;
        case MCIERR_DEVICE_NOT_READY: msg = "The device is not ready."; break;
        case MCIERR_OUTOFRANGE: msg = "The specified parameter is out of range."; break;
        default: break;
    }
    std::snprintf(text, size, "%s", msg);
    return 1;
}

DWORD GetLogicalDrives() {
    DWORD mask = 0x4;  // c:, the system drive
    for (const MciSeamDrive& d : g_seam.drives) {
        int n = std::tolower(static_cast<unsigned char>(d.letter)) - 'a';
        if (n >= 0 && n < 32) mask |= 1u << n;
    }
    return mask;
}

uint32_t GetDriveTypeA(const char* root) {
    if (!root || !root[0]) return DRIVE_UNKNOWN;
    if (std::tolower(static_cast<unsigned char>(root[0])) == 'c') return DRIVE_FIXED;
    const MciSeamDrive* d = FindDrive(root[0]);
    if (!d) return DRIVE_NO_ROOT_DIR;
    return d->cdrom ? DRIVE_CDROM : DRIVE_FIXED;
}

// No mixer or MIDI device here.
UINT mixerGetNumDevs() { return 0; }
MMRESULT mixerOpen(HMIXER* mixer, UINT, DWORD_PTR, DWORD_PTR, DWORD) {
    if (mixer) *mixer = nullptr;
    return MMSYSERR_BADDEVICEID;
}
MMRESULT mixerGetLineInfoA(HMIXEROBJ, MIXERLINEA*, DWORD) { return MMSYSERR_INVALHANDLE; }
MMRESULT mixerGetLineControlsA(HMIXEROBJ, MIXERLINECONTROLSA*, DWORD) { return MMSYSERR_INVALHANDLE; }
MMRESULT mixerSetControlDetails(HMIXEROBJ, MIXERCONTROLDETAILS*, DWORD) { return MMSYSERR_INVALHANDLE; }
MMRESULT mixerClose(HMIXER) { return MMSYSERR_INVALHANDLE; }

UINT midiOutGetNumDevs() { return 0; }
MMRESULT midiOutGetDevCapsA(UINT, MIDIOUTCAPSA*, UINT) { return MMSYSERR_BADDEVICEID; }
MMRESULT midiOutSetVolume(HMIDIOUT device, DWORD volume) {
    Record("midi volume %u %#x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(device)), volume);
    return MMSYSERR_BADDEVICEID;
}

MciSeam& Mci_Seam() { return g_seam; }

void Mci_ResetSeam() {
    g_seam = MciSeam{};
    g_devices.clear();
}

bool Mci_SeamFinishPlay() {
    for (auto& [id, dev] : g_devices) {
        if (!dev.playing) continue;
        dev.playing = false;
        Notify(id, dev, MCI_NOTIFY_SUCCESSFUL);
        return true;
    }
    return false;
}

MCIDEVICEID Mci_SeamPlayingDevice() {
    for (auto& [id, dev] : g_devices)
        if (dev.playing) return id;
    return 0;
}
