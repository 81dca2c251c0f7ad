#include "system/startdialog.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "platform/d3d9/d3d9.h"
#include "platform/dinput/dinput.h"
#include "platform/imgdll/imgdll.h"
#include "platform/win32/msgbox.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/settings.h"
#include "system/standin_fields.h"
#include "system/userpaths.h"
#include "system/video.h"
#include "system/window.h"

// The text pages belong to the script engine, which is made before the dialog
// runs; one narrow declaration instead of its header.
const char* SB_GetText(int32_t page, int32_t id);

namespace {

// ---------------------------------------------------------------- templates

// Start.
constexpr int ID_PICTURE = 1234, ID_ADDRESS = 1217, ID_TITLE = 1216, ID_GFX = 1197, ID_ADJUST = 1199, ID_CAPTURE = 1201,
              ID_MOD = 1242, ID_EAX = 1241, ID_IGNORE = 1108, ID_BENCHMARK = 1235, ID_UPDATES = 1249,
              ID_THIRD_BOX = 1110;
// Graphics.
constexpr int ID_ADAPTERS = 1005, ID_MODES = 1003, ID_FULLSCREEN = 1096, ID_WINDOW = 1095, ID_TEXQ = 1076,
              ID_SHADERQ = 1245, ID_DYNLIGHTS = 1254, ID_SHIPCOLOURS = 1255, ID_AUTOQ = 1068, ID_AA = 1222,
              ID_ANISO = 1241, ID_GLOW = 1242, ID_NOVERTEXOPT = 1256, ID_NOCODEC = 1258, ID_AAMODE = 1006,
              ID_FILTER = 1004, ID_RESET = 1101, ID_GFX_OK = 1102, ID_GFX_CANCEL = 1103;
// Controller.
constexpr int ID_JOYSTICKS = 1076, ID_FFGAIN = 1172, ID_THROTTLE = 1185, ID_RUDDER = 1186, ID_POVLOOK = 1188,
              ID_JOYPAD = 1241;
// Screenshot folder and mod package.
constexpr int ID_FOLDER = 1205, ID_MODLIST = 1243, ID_CLEAR = 3;

using K = DlgKind;
constexpr DlgControlTemplate kStart[] = {
    {ID_PICTURE, K::Picture, 10, 10, 500, 150, ""},
    {ID_TITLE, K::Static, 10, 170, 500, 20, "Title"},
    {ID_ADDRESS, K::Static, 10, 192, 500, 20, "Address"},
    {ID_GFX, K::Button, 10, 225, 160, 28, "Graphics"},
    {ID_ADJUST, K::Button, 180, 225, 160, 28, "Controller"},
    {ID_CAPTURE, K::Button, 350, 225, 160, 28, "Screenshots"},
    {ID_MOD, K::Button, 10, 260, 160, 28, "Mod package"},
    {ID_UPDATES, K::Button, 350, 260, 160, 28, "Check for Updates"},
    {ID_EAX, K::CheckBox, 10, 300, 500, 22, "Sound rooms"},
    {ID_IGNORE, K::CheckBox, 10, 325, 500, 22, "Ignore last settings and start with default"},
    {ID_BENCHMARK, K::CheckBox, 10, 350, 500, 22, "Run as Benchmark"},
    {IDOK, K::DefaultButton, 300, 382, 100, 30, "Start"},
    {IDCANCEL, K::Button, 410, 382, 100, 30, "Cancel"},
};
constexpr DlgControlTemplate kGfx[] = {
    {1250, K::GroupBox, 10, 10, 540, 130, "Display"},
    {1219, K::Static, 20, 36, 125, 20, "Adapter"},
    {ID_ADAPTERS, K::ComboBox, 150, 32, 390, 24, ""},
    {1220, K::Static, 20, 66, 125, 20, "Resolution"},
    {ID_MODES, K::ComboBox, 150, 62, 390, 24, ""},
    {ID_FULLSCREEN, K::Radio, 150, 98, 180, 22, "Full screen"},
    {ID_WINDOW, K::Radio, 340, 98, 180, 22, "Window"},
    {1251, K::GroupBox, 10, 150, 540, 90, "Quality"},
    {1248, K::Static, 20, 176, 125, 20, "Textures"},
    {ID_TEXQ, K::ComboBox, 150, 172, 120, 24, ""},
    {1247, K::Static, 290, 176, 115, 20, "Shaders"},
    {ID_SHADERQ, K::ComboBox, 410, 172, 130, 24, ""},
    {ID_DYNLIGHTS, K::CheckBox, 20, 206, 260, 22, "Dynamic lights"},
    {ID_SHIPCOLOURS, K::CheckBox, 290, 206, 250, 22, "Ship colour variations"},
    {1252, K::GroupBox, 10, 250, 540, 95, "Filters"},
    {ID_AA, K::CheckBox, 20, 276, 260, 22, "Antialiasing"},
    {ID_AAMODE, K::ComboBox, 290, 274, 250, 24, ""},
    {ID_ANISO, K::CheckBox, 20, 308, 260, 22, "Anisotropic filtering"},
    {ID_FILTER, K::ComboBox, 290, 306, 250, 24, ""},
    {1257, K::GroupBox, 10, 355, 540, 75, "Performance"},
    {ID_AUTOQ, K::CheckBox, 20, 378, 260, 22, "Automatic quality control"},
    {ID_GLOW, K::CheckBox, 290, 378, 250, 22, "Glow filter"},
    {ID_NOVERTEXOPT, K::CheckBox, 20, 402, 260, 22, "Disable vertex size optimisations"},
    {ID_NOCODEC, K::CheckBox, 290, 402, 250, 22, "Disable manual codec control"},
    {ID_RESET, K::Button, 10, 442, 140, 28, "Defaults"},
    {ID_GFX_OK, K::DefaultButton, 320, 442, 110, 28, "OK"},
    {ID_GFX_CANCEL, K::Button, 440, 442, 110, 28, "Cancel"},
};
constexpr DlgControlTemplate kAdjust[] = {
    {1223, K::GroupBox, 10, 10, 400, 175, "Controller"},
    {1225, K::Static, 20, 34, 380, 20, "Joystick"},
    {ID_JOYSTICKS, K::ComboBox, 20, 58, 380, 24, ""},
    {ID_FFGAIN, K::ComboBox, 20, 92, 380, 24, ""},
    {ID_THROTTLE, K::CheckBox, 20, 128, 185, 22, "Use throttle"},
    {ID_RUDDER, K::CheckBox, 215, 128, 185, 22, "Use rudder"},
    {ID_POVLOOK, K::CheckBox, 20, 154, 185, 22, "Look around with the hat"},
    {ID_JOYPAD, K::CheckBox, 215, 154, 185, 22, "Joypad"},
    {IDOK, K::DefaultButton, 200, 197, 100, 28, "OK"},
    {IDCANCEL, K::Button, 310, 197, 100, 28, "Cancel"},
};
constexpr DlgControlTemplate kCapture[] = {
    {1221, K::Static, 10, 10, 400, 40, "Screenshot folder"},
    {ID_FOLDER, K::Edit, 10, 55, 400, 24, ""},
    {IDOK, K::DefaultButton, 200, 95, 100, 28, "OK"},
    {IDCANCEL, K::Button, 310, 95, 100, 28, "Cancel"},
};
constexpr DlgControlTemplate kMod[] = {
    {ID_MODLIST, K::ListBox, 10, 10, 300, 240, ""},
    {ID_CLEAR, K::Button, 10, 260, 90, 28, "None"},
    {IDOK, K::DefaultButton, 110, 260, 95, 28, "OK"},
    {IDCANCEL, K::Button, 215, 260, 95, 28, "Cancel"},
};

constexpr DlgTemplate kTemplates[] = {
    {DLG_START, 520, 422, "Start", kStart},        {DLG_GFX, 560, 480, "Graphics", kGfx, ID_GFX_CANCEL},
    {DLG_ADJUST, 420, 235, "Controller", kAdjust}, {DLG_CAPTURE, 420, 133, "Screenshots", kCapture},
    {DLG_MOD, 320, 298, "Mod package", kMod},
};

// ---------------------------------------------------------------- shared

const char* Text(int page, int id) { return SB_GetText(page, id); }

// Caption and control texts of a page: the caption is the text of the
// template's number, each control's the text of its id.
void SetTexts(HWND dialog, int page, int templateId, std::initializer_list<int> ids) {
    SetWindowTextA(dialog, S_Utf8ToAnsi(Text(page, templateId)));
    for (int id : ids) SetDlgItemTextA(dialog, id, S_Utf8ToAnsi(Text(page, id)));
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void Check(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }
void Enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? 1 : 0); }
void SetBit(uint32_t& word, uint32_t bit, bool on) { word = on ? (word | bit) : (word & ~bit); }

LRESULT Send(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}
int Selection(HWND dialog, int id) { return static_cast<int>(Send(dialog, id, CB_GETCURSEL)); }
int Count(HWND dialog, int id) { return static_cast<int>(Send(dialog, id, CB_GETCOUNT)); }
int AddItem(HWND dialog, int id, const char* text) {
    return static_cast<int>(Send(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
// A selection outside the list selects its first entry.
void Select(HWND dialog, int id, int index) {
    const int count = Count(dialog, id);
    Send(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index >= 0 && index < count ? index : 0));
}

bool Word(WPARAM wParam, int id) { return LOWORD(wParam) == id; }
WORD Note(WPARAM wParam) { return HIWORD(wParam); }

INT_PTR Run(int templateId, HWND parent, DLGPROC proc, const char* endLine) {
    S_RegisterDialogTemplates();
    ApplicationRecord& app = g_ApplicationRecord;
    app.active = 0;
    INT_PTR result =
        DialogBoxParamA(app.hInstance, MAKEINTRESOURCEA(templateId), parent ? parent : app.mainWindow, proc, 0);
    app.active = 1;
    Qel_DPrintf(0, "%s", endLine);
    return result;
}

// ---------------------------------------------------------------- start

// The about picture scaled to its control; any failure leaves the control as it is.
void ShowAboutPicture(HWND dialog) {
    HBITMAP bitmap = LoadBitmapA(g_ApplicationRecord.hInstance, MAKEINTRESOURCEA(172));
    if (!bitmap) return;
    int32_t a = 0, b = 0;
    ImgBlock* block = IMG_BitmapToBlock(bitmap, &a, &b, 0);
    DeleteObject(bitmap);
    if (!block) return;
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, ID_PICTURE), &r);
    Qel_DPrintf(4, "AboutDialog rect: %d,%d,%d,%d\n", r.left, r.top, r.right, r.bottom);
    const int32_t width = r.right - r.left, height = r.bottom - r.top;
    ImgBlock* scaled = IMG_ScaleBlock(block, a, b, width, height);
    IMG_FreeBlock(block);
    if (!scaled) return;
    HBITMAP picture = IMG_BlockToBitmap(scaled, width, height, 0);
    IMG_FreeBlock(scaled);
    if (!picture) return;
    auto old = Send(dialog, ID_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    DeleteObject(reinterpret_cast<HBITMAP>(old));
}

bool AnyModPackage() {
    if (Qel_fsize(0, "mods") != -2) return false;
    QelDirListing* dir = Qel_OpenDir("*.cat", "mods", 0);
    const bool any = dir && Qel_NextDirEntry(dir);
    Qel_CloseDir(dir);
    return any;
}

void EndStart(HWND dialog, INT_PTR result) {
    DeleteObject(reinterpret_cast<HBITMAP>(Send(dialog, ID_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0)));
    EndDialog(dialog, result);
}

// The page of the address text; a bare host name is a web address. Empty
// when the configuration names none.
std::string UpdatesPage() {
    std::string page = Text(PAGE_START, ID_ADDRESS);
    if (page.empty() || page == "=TextIDNotFound=") return {};
    if (page.find("://") == std::string::npos) page = "https://" + page;
    return page;
}

void StartInit(HWND dialog) {
    SystemState* s = g_SystemState;
    SetTexts(dialog, PAGE_START, DLG_START,
             {IDOK, IDCANCEL, ID_ADDRESS, ID_TITLE, ID_GFX, ID_ADJUST, ID_CAPTURE, ID_MOD, ID_EAX, ID_IGNORE,
              ID_BENCHMARK, ID_UPDATES});
    Check(dialog, ID_IGNORE, s->SysProfilingFlags & SYSPROF_IGNORE_SETTINGS);
    Check(dialog, ID_BENCHMARK, s->SysProfilingFlags & SYSPROF_BENCHMARK);
    Check(dialog, ID_EAX, s->soundFlags & 0x200);
    Enable(dialog, ID_MOD, AnyModPackage());
    Enable(dialog, ID_UPDATES, !UpdatesPage().empty());
    ShowAboutPicture(dialog);
}

void StartOk(HWND dialog) {
    SystemState* s = g_SystemState;
    SetBit(s->SysProfilingFlags, SYSPROF_IGNORE_SETTINGS, Checked(dialog, ID_IGNORE));
    SetBit(s->SysProfilingFlags, SYSPROF_BENCHMARK, Checked(dialog, ID_BENCHMARK));
    SetBit(s->SysProfilingFlags, 0x20, Checked(dialog, ID_THIRD_BOX));
    SetBit(s->soundFlags, 0x200, Checked(dialog, ID_EAX));
    if (s->SysProfilingFlags & SYSPROF_IGNORE_SETTINGS) {
        S_RegDeleteSettingsKey();
        S_SetDefaultSettings();
    } else {
        S_SaveRegistrySettings();
    }
    EndStart(dialog, 1);
}

// A page that opened ends the dialog (the player goes to update). One that
// cannot be opened is said so, and the dialog stays for the player to start.
void OpenUpdatesPage(HWND dialog) {
    const std::string page = UpdatesPage();
    if (page.empty()) return;
    const intptr_t result = ShellExecuteA(dialog, "open", page.c_str(), nullptr, nullptr, SW_SHOW);
    if (result > 32) {
        EndStart(dialog, 0);
        return;
    }
    Qel_DPrintf(0, "S_StartDialogProc() opening %s failed (%d)\n", page.c_str(), static_cast<int>(result));
    const std::string text = "The update page could not be opened:\n" + page +
                             "\n\nNo web browser answered. Open the page with a browser of your own.";
    S_MessageBoxUtf8(text.c_str(), dialog, Text(PAGE_START, ID_UPDATES), MB_OK | MB_ICONEXCLAMATION);
}

// ---------------------------------------------------------------- graphics

AdapterInfo* SelectedAdapter(HWND dialog) {
    RendererState* r = g_RendererState;
    if (!r || r->adapterCount <= 0) return nullptr;
    int i = Selection(dialog, ID_ADAPTERS);
    return &r->adapters[i >= 0 && i < r->adapterCount ? i : 0];
}

// The modes the chosen display uses: the window's or the full screen's.
DispMode* ModeTable(HWND dialog, const AdapterInfo* a, int* count) {
    const bool window = Checked(dialog, ID_WINDOW);
    *count = a ? static_cast<int>(window ? a->windowedModeCount : a->fullscreenModeCount) : 0;
    return a ? (window ? a->windowedModeTable : a->DispModeTable) : nullptr;
}

void FillAdapters(HWND dialog) {
    Send(dialog, ID_ADAPTERS, CB_RESETCONTENT);
    RendererState* r = g_RendererState;
    const ApplicationRecord& app = g_ApplicationRecord;
    int chosen = 0;
    for (int i = 0; r && i < r->adapterCount; ++i) {
        const char* name = r->adapters[i].identifier.Description;
        AddItem(dialog, ID_ADAPTERS, name);
        if (app.adapterName && std::strcmp(app.adapterName, name) == 0 && app.adapterOrdinal == i) chosen = i;
    }
    Select(dialog, ID_ADAPTERS, chosen);
}

void FillModes(HWND dialog) {
    Send(dialog, ID_MODES, CB_RESETCONTENT);
    const SystemState* s = g_SystemState;
    int count = 0;
    const DispMode* modes = ModeTable(dialog, SelectedAdapter(dialog), &count);
    int chosen = 0;
    for (int i = 0; i < count; ++i) {
        const DispMode& m = modes[i];
        char text[64];
        std::snprintf(text, sizeof text, "%d x %d x %d", static_cast<int>(m.width), static_cast<int>(m.height),
                      S_FormatBitsPerPixel(m.format));
        AddItem(dialog, ID_MODES, text);
        if (m.width == s->width && m.height == s->height && m.format == g_ApplicationRecord.modeFormat) chosen = i;
    }
    Select(dialog, ID_MODES, chosen);
}

void FillQuality(HWND dialog, int id, int32_t stored) {
    Send(dialog, id, CB_RESETCONTENT);
    for (int i = 0; i < 3; ++i) AddItem(dialog, id, S_Utf8ToAnsi(Text(PAGE_GFX, 10000 + i)));
    Select(dialog, id, stored >= 0 && stored <= 2 ? stored : 2);
}

void FillNumbered(HWND dialog, int id, int count, int firstText, int32_t stored) {
    Send(dialog, id, CB_RESETCONTENT);
    for (int i = 0; i < count; ++i) AddItem(dialog, id, S_Utf8ToAnsi(Text(PAGE_GFX, firstText + i)));
    if (count > 0) Select(dialog, id, stored);
}

void FillAntialias(HWND dialog) {
    const AdapterInfo* a = SelectedAdapter(dialog);
    const int ordinal = a ? static_cast<int>(a->ordinal) : -1;
    int count = 0;
    for (int n : {4, 3, 2, 1})
        if (S_CheckMultiSample(ordinal, D3DFMT_A8R8G8B8, 2 * n)) {
            count = n;
            break;
        }
    FillNumbered(dialog, ID_AAMODE, count, 11000, g_SystemState->antialiasMode);
}

void FillFilter(HWND dialog) {
    const AdapterInfo* a = SelectedAdapter(dialog);
    int count = 0;
    if (a && (a->caps.TextureFilterCaps & D3DPTFILTERCAPS_MINFANISOTROPIC)) {
        const DWORD most = a->caps.MaxAnisotropy;
        count = most >= 16 ? 4 : most >= 8 ? 3 : most >= 4 ? 2 : 1;
    }
    FillNumbered(dialog, ID_FILTER, count, 12000, g_SystemState->filterMode);
}

void SetAntialiasControls(HWND dialog) {
    if (Checked(dialog, ID_WINDOW)) {
        Check(dialog, ID_AA, false);
        Enable(dialog, ID_AA, false);
        Enable(dialog, ID_AAMODE, false);
    } else {
        Enable(dialog, ID_AA, true);
        Check(dialog, ID_AA, g_SystemState->VideoD3DFlags & 0x1);
        Enable(dialog, ID_AAMODE, Checked(dialog, ID_AA));
    }
}

void GfxShow(HWND dialog) {
    const SystemState* s = g_SystemState;
    const uint32_t f2 = s->VideoD3DFlags2;
    CheckRadioButton(dialog, ID_WINDOW, ID_FULLSCREEN,
                     (s->videoFlags & VIDEO_FLAG_WINDOWED) ? ID_WINDOW : ID_FULLSCREEN);
    SetAntialiasControls(dialog);
    Check(dialog, ID_AUTOQ, s->VideoD3DFlags & 0x800000);
    Check(dialog, ID_ANISO, f2 & 0x200);
    Enable(dialog, ID_FILTER, f2 & 0x200);
    Check(dialog, ID_GLOW, f2 & 0x80);
    Check(dialog, ID_SHIPCOLOURS, !(f2 & 0x800));
    Check(dialog, ID_DYNLIGHTS, !(f2 & 0x1000));
    Check(dialog, ID_NOVERTEXOPT, f2 & 0x2000);
    Check(dialog, ID_NOCODEC, f2 & 0x4000);
    FillAdapters(dialog);
    FillModes(dialog);
    FillQuality(dialog, ID_TEXQ, s->textureQuality);
    FillQuality(dialog, ID_SHADERQ, s->shaderQuality);
    FillAntialias(dialog);
    FillFilter(dialog);
    SetTexts(dialog, PAGE_GFX, DLG_GFX,
             {1250,     1251,          1252,           1257,         1219,           1220,      1248,
              1247,     ID_FULLSCREEN, ID_WINDOW,      ID_DYNLIGHTS, ID_SHIPCOLOURS, ID_AUTOQ,  ID_AA,
              ID_ANISO, ID_GLOW,       ID_NOVERTEXOPT, ID_NOCODEC,   ID_RESET,       ID_GFX_OK, ID_GFX_CANCEL});
}

void GfxOk(HWND dialog) {
    SystemState* s = g_SystemState;
    ApplicationRecord& app = g_ApplicationRecord;
    if (const AdapterInfo* a = SelectedAdapter(dialog)) {
        app.adapterOrdinal = static_cast<int32_t>(a->ordinal);
        app.adapterName = Qel_StrReassign(app.adapterName, a->identifier.Description);
    }
    const bool window = Checked(dialog, ID_WINDOW);
    SetBit(s->videoFlags, VIDEO_FLAG_WINDOWED, window);
    int count = 0;
    const DispMode* modes = ModeTable(dialog, SelectedAdapter(dialog), &count);
    const int mode = Selection(dialog, ID_MODES);
    if (mode >= 0 && mode < count) {
        const DispMode& m = modes[mode];
        app.modeIndex = mode;
        s->width = static_cast<uint16_t>(m.width);
        s->height = static_cast<uint16_t>(m.height);
        s->depth = static_cast<uint16_t>(S_FormatBitsPerPixel(m.format));
        app.modeFormat = m.format;
    }
    // An empty list leaves its setting as it was.
    auto take = [&](int id, int32_t& setting) {
        if (Selection(dialog, id) >= 0) setting = Selection(dialog, id);
    };
    take(ID_TEXQ, s->textureQuality);
    take(ID_SHADERQ, s->shaderQuality);
    take(ID_AAMODE, s->antialiasMode);
    take(ID_FILTER, s->filterMode);
    SetBit(s->VideoD3DFlags, 0x800000, Checked(dialog, ID_AUTOQ));
    SetBit(s->VideoD3DFlags, 0x1, Checked(dialog, ID_AA));
    uint32_t& f2 = s->VideoD3DFlags2;
    SetBit(f2, 0x200, Checked(dialog, ID_ANISO));
    SetBit(f2, 0x80, Checked(dialog, ID_GLOW));
    SetBit(f2, 0x800, !Checked(dialog, ID_SHIPCOLOURS));
    SetBit(f2, 0x1000, !Checked(dialog, ID_DYNLIGHTS));
    SetBit(f2, 0x2000, Checked(dialog, ID_NOVERTEXOPT));
    SetBit(f2, 0x4000, Checked(dialog, ID_NOCODEC));
    EndDialog(dialog, 1);
}

// ---------------------------------------------------------------- controller

struct JoystickSearch {
    HWND dialog;
};

BOOL AddJoystick(const DIDEVICEINSTANCE* instance, void* ref) {
    HWND dialog = static_cast<JoystickSearch*>(ref)->dialog;
    auto* guid = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
    if (!guid) return DIENUM_STOP;
    *guid = instance->guidInstance;
    int at = AddItem(dialog, ID_JOYSTICKS, instance->tszProductName);
    Send(dialog, ID_JOYSTICKS, CB_SETITEMDATA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(guid));
    return DIENUM_CONTINUE;
}

void FreeJoystickData(HWND dialog) {
    for (int i = 0, n = Count(dialog, ID_JOYSTICKS); i < n; ++i) {
        auto* guid = reinterpret_cast<GUID*>(Send(dialog, ID_JOYSTICKS, CB_GETITEMDATA, static_cast<WPARAM>(i)));
        if (guid && reinterpret_cast<LRESULT>(guid) != CB_ERR) Int_FreeMem(guid, sizeof(GUID), 0);
        Send(dialog, ID_JOYSTICKS, CB_SETITEMDATA, static_cast<WPARAM>(i), 0);
    }
}

void ControllerDefaults(HWND dialog) {
    Send(dialog, ID_FFGAIN, CB_SETCURSEL, 2);
    Check(dialog, ID_THROTTLE, true);
    Check(dialog, ID_RUDDER, true);
    Check(dialog, ID_POVLOOK, true);
    Check(dialog, ID_JOYPAD, false);
}

void AdjustInit(HWND dialog) {
    ApplicationRecord& app = g_ApplicationRecord;
    const uint32_t flags = g_SystemState->inputFlags;
    IDirectInput8* di = nullptr;
    bool found = false;
    if (FAILED(DirectInput8Create(app.hInstance, DIRECTINPUT_VERSION, IID_IDirectInput8A, reinterpret_cast<void**>(&di),
                                  nullptr)) ||
        !di) {
        Enable(dialog, ID_JOYSTICKS, false);
        Enable(dialog, ID_FFGAIN, false);
    } else {
        JoystickSearch search{dialog};
        if (FAILED(di->EnumDevices(DI8DEVCLASS_GAMECTRL, AddJoystick, &search, DIEDFL_ATTACHEDONLY)))
            Qel_ErrPrintf("Enum Joystick failed!\n");
        Send(dialog, ID_JOYSTICKS, CB_SETCURSEL, 0);
        for (int i = 0, n = Count(dialog, ID_JOYSTICKS); app.joyGUID && i < n; ++i) {
            auto* guid = reinterpret_cast<GUID*>(Send(dialog, ID_JOYSTICKS, CB_GETITEMDATA, static_cast<WPARAM>(i)));
            if (guid && DI_SameGuid(*guid, *app.joyGUID)) {
                Send(dialog, ID_JOYSTICKS, CB_SETCURSEL, static_cast<WPARAM>(i));
                found = true;
            }
        }
        di->Release();
        for (int i = 0; i < 3; ++i) {
            int at = AddItem(dialog, ID_FFGAIN, S_Utf8ToAnsi(Text(PAGE_ADJUST, 10000 + i)));
            Send(dialog, ID_FFGAIN, CB_SETITEMDATA, static_cast<WPARAM>(at), i + 1);
        }
    }
    if (found) {
        if (Count(dialog, ID_FFGAIN) == 0) {
            FreeJoystickData(dialog);
            EndDialog(dialog, 1);
            return;
        }
        for (int i = 0, n = Count(dialog, ID_FFGAIN); i < n; ++i)
            if (Send(dialog, ID_FFGAIN, CB_GETITEMDATA, static_cast<WPARAM>(i)) == app.ffGain)
                Send(dialog, ID_FFGAIN, CB_SETCURSEL, static_cast<WPARAM>(i));
        Check(dialog, ID_THROTTLE, flags & 0x20000000);
        Check(dialog, ID_RUDDER, flags & 0x40000000);
        Check(dialog, ID_POVLOOK, flags & 0x10000000);
        Check(dialog, ID_JOYPAD, flags & 0x2000000);
    } else {
        ControllerDefaults(dialog);
    }
    SetTexts(dialog, PAGE_ADJUST, DLG_ADJUST,
             {1223, 1225, ID_THROTTLE, ID_RUDDER, ID_POVLOOK, ID_JOYPAD, IDOK, IDCANCEL});
}

void AdjustOk(HWND dialog) {
    ApplicationRecord& app = g_ApplicationRecord;
    uint32_t& flags = g_SystemState->inputFlags;
    // A list without a selection leaves its setting as it was.
    const int joystick = Selection(dialog, ID_JOYSTICKS);
    if (joystick >= 0) {
        if (app.joyGUID) Int_FreeMem(app.joyGUID, sizeof(GUID), 0);
        app.joyGUID = nullptr;
        auto* guid = reinterpret_cast<GUID*>(Send(dialog, ID_JOYSTICKS, CB_GETITEMDATA, static_cast<WPARAM>(joystick)));
        if (guid && reinterpret_cast<LRESULT>(guid) != CB_ERR) {
            app.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
            if (app.joyGUID) *app.joyGUID = *guid;
        }
    }
    FreeJoystickData(dialog);
    const int gain = Selection(dialog, ID_FFGAIN);
    if (gain >= 0)
        app.ffGain = static_cast<int32_t>(Send(dialog, ID_FFGAIN, CB_GETITEMDATA, static_cast<WPARAM>(gain)));
    SetBit(flags, 0x20000000, Checked(dialog, ID_THROTTLE));
    SetBit(flags, 0x40000000, Checked(dialog, ID_RUDDER));
    SetBit(flags, 0x10000000, Checked(dialog, ID_POVLOOK));
    SetBit(flags, 0x2000000, Checked(dialog, ID_JOYPAD));
    EndDialog(dialog, 1);
}

// ---------------------------------------------------------------- screenshot folder

void CaptureOk(HWND dialog) {
    char name[260];
    GetDlgItemTextA(dialog, ID_FOLDER, name, sizeof name);
    if (!name[0]) {
        EndDialog(dialog, 1);
        return;
    }
    // The name is classified without its trailing separator: "shots/" is as
    // user-relative as "shots".
    const size_t length = std::strlen(name);
    if (length > 1 && (name[length - 1] == '/' || name[length - 1] == '\\')) name[length - 1] = 0;
    const int userRelative = std::strpbrk(name, ":\\/") ? 0 : 1;
    if (Qel_fsize(userRelative, name) != -2) {
        if (S_MessageBoxUtf8(Text(PAGE_CAPTURE, 10000), dialog, Text(PAGE_CAPTURE, 10001),
                             MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
            return;
        if (!Qel_MakeDir(name, userRelative)) {
            Qel_ErrPrintf("Failed to create capture directory\n");
            // The log names the folder and the reason.
            char place[1024];
            const std::string text = std::string(Text(PAGE_CAPTURE, 10010)) + "\n\nThe log (" +
                                     Qel_LogPlace(place, sizeof place) + ") says what failed and where.";
            S_MessageBoxUtf8(text.c_str(), dialog, Text(PAGE_CAPTURE, 10011), MB_OK | MB_ICONERROR);
            return;
        }
    }
    g_SystemState->captureFolder = Qel_StrReassign(g_SystemState->captureFolder, name);
    // The next capture looks for the last number in the new folder.
    g_SystemState->lastCaptureNumber = 0;
    EndDialog(dialog, 1);
}

// ---------------------------------------------------------------- mod package

void ModInit(HWND dialog) {
    SetTexts(dialog, PAGE_MOD, DLG_MOD, {IDOK, IDCANCEL, ID_CLEAR});
    Send(dialog, ID_MODLIST, LB_RESETCONTENT);
    QelDirListing* dir = Qel_OpenDir("*.cat", "mods", 0);
    while (const char* entry = dir ? Qel_NextDirEntry(dir) : nullptr) {
        std::string name(entry);
        if (name.size() < 4) continue;
        name.resize(name.size() - 4);
        LRESULT at = Send(dialog, ID_MODLIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        const char* stored = g_SystemState->modName;
        if (stored && Qel_StrICmp(stored, name.c_str()) == 0) Send(dialog, ID_MODLIST, LB_SETCURSEL, at);
    }
    Qel_CloseDir(dir);
}

void ModOk(HWND dialog) {
    SystemState* s = g_SystemState;
    s->modName = Qel_StrFree(s->modName);
    const LRESULT at = Send(dialog, ID_MODLIST, LB_GETCURSEL);
    if (at >= 0) {
        std::string text(static_cast<size_t>(Send(dialog, ID_MODLIST, LB_GETTEXTLEN, static_cast<WPARAM>(at))), '\0');
        Send(dialog, ID_MODLIST, LB_GETTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text.data()));
        s->modName = Qel_StrDup(text.c_str());
    }
    EndDialog(dialog, 1);
}

}  // namespace

// ---------------------------------------------------------------- public

void S_RegisterDialogTemplates() {
    for (const DlgTemplate& t : kTemplates) Win32_RegisterDialogTemplate(&t);
}

const char* S_Utf8ToAnsi(const char* text) {
    static std::string buffer;
    buffer.clear();
    if (!text) return buffer.c_str();
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char c = *p;
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        uint32_t code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        bool ok = extra >= 0;
        for (int i = 1; ok && i <= extra; ++i) {
            ok = (p[i] & 0xC0) == 0x80;
            code = (code << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
        static constexpr uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && (code < kLeast[extra] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)) ok = false;
        if (!ok) {
            buffer += '?';  // the default character
            ++p;
            continue;
        }
        buffer.append(reinterpret_cast<const char*>(p), static_cast<size_t>(extra + 1));
        p += extra + 1;
    }
    return buffer.c_str();
}

int S_MessageBoxUtf8(const char* text, HWND owner, const char* caption, UINT type) {
    // Each text in its own buffer: the conversion reuses one.
    const std::string body = S_Utf8ToAnsi(text);
    const std::string title = S_Utf8ToAnsi(caption);
    return MessageBoxA(owner, body.c_str(), title.c_str(), type);
}

INT_PTR S_DialogActivateApp(HWND dialog, WPARAM active) {
    if (active && g_InputState) {
        ShowWindow(dialog, SW_RESTORE);
        S_DIToSubWindow(g_ApplicationRecord.mainWindow);
        g_ApplicationRecord.active = 0;
    }
    return 0;
}

int S_RunStartDialog() {
    S_RegisterDialogTemplates();
    const ApplicationRecord& app = g_ApplicationRecord;
    INT_PTR result = DialogBoxParamA(app.hInstance, MAKEINTRESOURCEA(DLG_START), app.mainWindow, S_StartDialogProc, 0);
    if (result < 0) Qel_DPrintf(0, "The start dialog could not be shown; starting with the current settings.\n");
    return static_cast<int>(result);
}

INT_PTR S_RunGfxDialog(HWND parent) { return Run(DLG_GFX, parent, S_GfxDialogProc, "GFX-Dialog box ended\n"); }
INT_PTR S_RunAdjustDialog(HWND parent) {
    return Run(DLG_ADJUST, parent, S_AdjustDialogProc, "Adjust-Dialog box ended\n");
}
INT_PTR S_RunCaptureDialog(HWND parent) {
    return Run(DLG_CAPTURE, parent, S_CaptureDialogProc, "Capture-Dialog box ended\n");
}
INT_PTR S_RunModDialog(HWND parent) { return Run(DLG_MOD, parent, S_ModDialogProc, "Modname-Dialog box ended\n"); }

INT_PTR S_StartDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: StartInit(dialog); return 1;
        case WM_ACTIVATEAPP: return S_DialogActivateApp(dialog, wParam);
        case WM_USER + 1: g_SysStandIn.dialogWord = 12; return 1;
        case WM_COMMAND:
            if (Note(wParam) != BN_CLICKED) return 0;
            switch (LOWORD(wParam)) {
                case IDOK: StartOk(dialog); return 1;
                case IDCANCEL: EndStart(dialog, 0); return 1;
                case ID_GFX: S_RunGfxDialog(dialog); return 1;
                case ID_ADJUST: S_RunAdjustDialog(dialog); return 1;
                case ID_CAPTURE: S_RunCaptureDialog(dialog); return 1;
                case ID_MOD: S_RunModDialog(dialog); return 1;
                case ID_UPDATES: OpenUpdatesPage(dialog); return 1;
                default: return 0;
            }
        default: return 0;
    }
}

INT_PTR S_GfxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            if (!S_ChooseAdapter()) {
                S_SetDefaultVideoSettings();
                S_ChooseAdapter();
            }
            GfxShow(dialog);
            return 1;
        case WM_ACTIVATEAPP: return S_DialogActivateApp(dialog, wParam);
        case WM_COMMAND:
            if (Word(wParam, ID_ADAPTERS)) {
                if (Note(wParam) == CBN_SELCHANGE) FillModes(dialog);
                return 1;
            }
            if (Note(wParam) != BN_CLICKED) return 0;
            switch (LOWORD(wParam)) {
                case ID_WINDOW:
                case ID_FULLSCREEN:
                    FillAdapters(dialog);
                    FillModes(dialog);
                    SetAntialiasControls(dialog);
                    return 1;
                case ID_AA: Enable(dialog, ID_AAMODE, Checked(dialog, ID_AA)); return 1;
                case ID_ANISO:
                    Enable(dialog, ID_FILTER, Checked(dialog, ID_ANISO));
                    if (Checked(dialog, ID_ANISO)) g_SystemState->VideoD3DFlags2 |= 0x200;
                    return 1;
                case ID_RESET:
                    S_SetDefaultVideoSettings();
                    S_ChooseAdapter();
                    GfxShow(dialog);
                    return 1;
                case ID_GFX_OK: GfxOk(dialog); return 1;
                case ID_GFX_CANCEL: EndDialog(dialog, 0); return 1;
                default: return 0;
            }
        default: return 0;
    }
}

INT_PTR S_AdjustDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: AdjustInit(dialog); return 1;
        case WM_ACTIVATEAPP: return S_DialogActivateApp(dialog, wParam);
        case WM_COMMAND:
            if (Word(wParam, ID_JOYSTICKS)) {
                if (Note(wParam) == CBN_SELCHANGE) ControllerDefaults(dialog);
                return 1;
            }
            if (Note(wParam) != BN_CLICKED) return 0;
            if (Word(wParam, IDOK)) {
                AdjustOk(dialog);
                return 1;
            }
            if (Word(wParam, IDCANCEL)) {
                FreeJoystickData(dialog);
                EndDialog(dialog, 0);
                return 1;
            }
            return 0;
        default: return 0;
    }
}

INT_PTR S_CaptureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            const char* folder = g_SystemState->captureFolder;
            SetDlgItemTextA(dialog, ID_FOLDER, folder ? folder : "");
            SetTexts(dialog, PAGE_CAPTURE, DLG_CAPTURE, {1221, IDOK, IDCANCEL});
            return 1;
        }
        case WM_ACTIVATEAPP: return S_DialogActivateApp(dialog, wParam);
        case WM_COMMAND:
            if (Note(wParam) != BN_CLICKED) return 0;
            if (Word(wParam, IDOK)) CaptureOk(dialog);
            else if (Word(wParam, IDCANCEL)) EndDialog(dialog, 1);
            else return 0;
            return 1;
        default: return 0;
    }
}

INT_PTR S_ModDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: ModInit(dialog); return 1;
        case WM_ACTIVATEAPP: return S_DialogActivateApp(dialog, wParam);
        case WM_COMMAND:
            if (Note(wParam) != BN_CLICKED) return 0;
            if (Word(wParam, IDOK)) ModOk(dialog);
            else if (Word(wParam, IDCANCEL)) EndDialog(dialog, 1);
            else if (Word(wParam, ID_CLEAR)) Send(dialog, ID_MODLIST, LB_SETCURSEL, static_cast<WPARAM>(-1));
            else return 0;
            return 1;
        default: return 0;
    }
}
