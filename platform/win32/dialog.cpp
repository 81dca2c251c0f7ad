#include "platform/win32/dialog.h"

#include <SDL.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/win32/dialog_view.h"

namespace {

struct Control {
    const DlgControlTemplate* tmpl;
    DlgControlState state;
};

struct Dialog {
    const DlgTemplate* tmpl;
    std::string caption;
    std::vector<std::unique_ptr<Control>> controls;
    DLGPROC proc;
    HWND parent;
    bool ended = false;
    INT_PTR result = 0;
};

std::vector<const DlgTemplate*> s_templates;
std::vector<Dialog*> s_open;  // outermost first
std::vector<HWND> s_openHandles;
Win32DialogSeam s_seam;

HWND HandleOf(Dialog* d) { return reinterpret_cast<HWND>(d); }
HWND HandleOf(Control* c) { return reinterpret_cast<HWND>(c); }

Dialog* DialogOf(HWND h) {
    for (Dialog* d : s_open)
        if (HandleOf(d) == h) return d;
    return nullptr;
}

Control* ControlOf(HWND h) {
    for (Dialog* d : s_open)
        for (auto& c : d->controls)
            if (HandleOf(c.get()) == h) return c.get();
    return nullptr;
}

Control* ItemOf(HWND dialog, int id) {
    Dialog* d = DialogOf(dialog);
    if (!d) return nullptr;
    for (auto& c : d->controls)
        if (c->state.id == id) return c.get();
    return nullptr;
}

void SyncHandles() {
    s_openHandles.clear();
    for (Dialog* d : s_open) s_openHandles.push_back(HandleOf(d));
}

bool IsList(const Control* c) { return c->state.kind == DlgKind::ComboBox || c->state.kind == DlgKind::ListBox; }

// Copies text into a caller's buffer of `size` bytes; returns the length copied.
LRESULT CopyOut(const std::string& text, char* buffer, size_t size) {
    if (!buffer || size == 0) return static_cast<LRESULT>(text.size());
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return static_cast<LRESULT>(n);
}

LRESULT ListMessage(Control* c, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& items = c->state.items;
    auto& sel = c->state.selection;
    const auto count = static_cast<LRESULT>(items.size());
    const auto index = static_cast<LRESULT>(static_cast<intptr_t>(wParam));
    const bool valid = index >= 0 && index < count;
    const char* text = reinterpret_cast<const char*>(lParam);
    switch (message) {
        case CB_ADDSTRING:
        case LB_ADDSTRING: items.push_back({text ? text : "", 0}); return count;
        case CB_INSERTSTRING:
        case LB_INSERTSTRING: {
            // -1 appends, as on Windows.
            LRESULT at = index < 0 || index > count ? count : index;
            items.insert(items.begin() + at, DlgItemState{text ? text : "", 0});
            if (sel >= at) ++sel;
            return at;
        }
        case CB_DELETESTRING:
            if (!valid) return CB_ERR;
            items.erase(items.begin() + index);
            if (sel == index) sel = -1;
            else if (sel > index) --sel;
            return count - 1;
        case CB_RESETCONTENT:
        case LB_RESETCONTENT:
            items.clear();
            sel = -1;
            return 0;
        case CB_GETCOUNT:
        case LB_GETCOUNT: return count;
        case CB_GETCURSEL:
        case LB_GETCURSEL: return sel;
        case CB_SETCURSEL:
        case LB_SETCURSEL:
            // Out of range clears the selection and reports an error.
            sel = valid ? static_cast<int>(index) : -1;
            return valid ? index : CB_ERR;
        case CB_GETITEMDATA:
        case LB_GETITEMDATA: return valid ? static_cast<LRESULT>(items[index].data) : CB_ERR;
        case CB_SETITEMDATA:
        case LB_SETITEMDATA:
            if (!valid) return CB_ERR;
            items[index].data = static_cast<uintptr_t>(lParam);
            return 1;
        case CB_GETLBTEXT:
        case LB_GETTEXT:
            // The caller's buffer is taken to be large enough (LB_GETTEXTLEN first).
            if (!valid) return CB_ERR;
            return CopyOut(items[index].text, reinterpret_cast<char*>(lParam), items[index].text.size() + 1);
        case LB_GETTEXTLEN: return valid ? static_cast<LRESULT>(items[index].text.size()) : LB_ERR;
        default: return 0;
    }
}

LRESULT ControlMessage(Control* c, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case BM_GETCHECK: return c->state.checked ? BST_CHECKED : BST_UNCHECKED;
        case BM_SETCHECK: c->state.checked = wParam == BST_CHECKED; return 0;
        case STM_SETIMAGE: {
            HBITMAP old = c->state.image;
            c->state.image = reinterpret_cast<HBITMAP>(lParam);
            return reinterpret_cast<LRESULT>(old);
        }
        case STM_GETIMAGE: return reinterpret_cast<LRESULT>(c->state.image);
        default: return IsList(c) ? ListMessage(c, message, wParam, lParam) : 0;
    }
}

WPARAM Command(int id, WORD notification) {
    return static_cast<WPARAM>(static_cast<uint16_t>(id)) | (static_cast<WPARAM>(notification) << 16);
}

// Controls the user can reach.
Control* Usable(HWND dialog, int id) {
    Control* c = ItemOf(dialog, id);
    Dialog* d = DialogOf(dialog);
    if (!c || !d || d->ended || !c->state.enabled || !c->state.visible) return nullptr;
    // Only the topmost dialog takes input: the others wait under it.
    if (s_open.back() != d) return nullptr;
    return c;
}

}  // namespace

void Win32_RegisterDialogTemplate(const DlgTemplate* dialogTemplate) {
    for (auto& t : s_templates)
        if (t->id == dialogTemplate->id) {
            t = dialogTemplate;
            return;
        }
    s_templates.push_back(dialogTemplate);
}

namespace {

INT_PTR Run(const DlgTemplate* tmpl, HWND parent, DLGPROC proc, LPARAM param, bool viewOnly) {
    auto dialog = std::make_unique<Dialog>();
    Dialog* d = dialog.get();
    d->tmpl = tmpl;
    d->caption = tmpl->caption ? tmpl->caption : "";
    d->proc = proc;
    d->parent = parent;
    for (const DlgControlTemplate& ct : tmpl->controls) {
        auto c = std::make_unique<Control>();
        c->tmpl = &ct;
        c->state = DlgControlState{ct.id, ct.kind, ct.text ? ct.text : "", false, true, true, -1, {}, nullptr};
        d->controls.push_back(std::move(c));
    }
    s_open.push_back(d);
    SyncHandles();
    ++s_seam.shown;
    HWND h = HandleOf(d);
    proc(h, WM_INITDIALOG, 0, param);
    if (!d->ended) {
        if (s_seam.driver && !viewOnly) {
            // A copy: the driver may install another one while it runs.
            const DlgDriver driver = s_seam.driver;
            driver(h, tmpl->id);
            if (!d->ended) {
                std::fprintf(stderr, "Dialog %d left open by its driver\n", tmpl->id);
                d->ended = true;
                d->result = -1;
            }
        } else if (!DlgView_Run(h)) {
            d->ended = true;
            d->result = -1;
        }
    }
    const INT_PTR result = d->result;
    s_open.pop_back();
    SyncHandles();
    DlgView_CloseEnded();
    return result;
}

}  // namespace

INT_PTR DialogBoxParamA(HINSTANCE, const char* templateName, HWND parent, DLGPROC proc, LPARAM param) {
    const int id = static_cast<int>(reinterpret_cast<uintptr_t>(templateName));
    const DlgTemplate* tmpl = nullptr;
    for (const DlgTemplate* t : s_templates)
        if (t->id == id) tmpl = t;
    if (!tmpl || !proc) return -1;
    // Without a display and without a driver nobody could ever answer.
    if (!s_seam.driver && !s_seam.viewHeadless && DlgView_Headless()) return -1;
    return Run(tmpl, parent, proc, param, false);
}

INT_PTR Win32_RunDialogInView(const DlgTemplate* dialogTemplate, HWND parent, DLGPROC proc, LPARAM param) {
    if (!dialogTemplate || !proc) return -1;
    return Run(dialogTemplate, parent, proc, param, true);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Dialog* d = DialogOf(dialog);
    if (!d) return 0;
    d->ended = true;
    d->result = result;
    return 1;
}

HWND GetDlgItem(HWND dialog, int id) {
    Control* c = ItemOf(dialog, id);
    return c ? HandleOf(c) : nullptr;
}

int GetDlgCtrlID(HWND control) {
    Control* c = ControlOf(control);
    return c ? c->state.id : 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    Control* c = ItemOf(dialog, id);
    return c ? ControlMessage(c, message, wParam, lParam) : 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (Control* c = ControlOf(window)) return ControlMessage(c, message, wParam, lParam);
    if (Dialog* d = DialogOf(window)) return d->proc(window, message, wParam, lParam);
    return 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    Control* c = ItemOf(dialog, id);
    if (!c) return 0;
    c->state.checked = check == BST_CHECKED;
    return 1;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    Control* c = ItemOf(dialog, id);
    return c && c->state.checked ? BST_CHECKED : BST_UNCHECKED;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    Dialog* d = DialogOf(dialog);
    if (!d) return 0;
    for (auto& c : d->controls)
        if (c->state.id >= first && c->state.id <= last) c->state.checked = c->state.id == check;
    return 1;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    Control* c = ControlOf(window);
    if (!c) return 0;
    // The result tells whether it was disabled before.
    const BOOL wasDisabled = c->state.enabled ? 0 : 1;
    c->state.enabled = enable != 0;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
    Control* c = ControlOf(window);
    if (c) return c->state.enabled ? 1 : 0;
    return DialogOf(window) ? 1 : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
    Control* c = ItemOf(dialog, id);
    if (!c) return 0;
    c->state.text = text ? text : "";
    return 1;
}

UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size) {
    Control* c = ItemOf(dialog, id);
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    if (!c) return 0;
    return static_cast<UINT>(CopyOut(c->state.text, buffer, static_cast<size_t>(size)));
}

BOOL SetWindowTextA(HWND window, const char* text) {
    if (Dialog* d = DialogOf(window)) {
        d->caption = text ? text : "";
        return 1;
    }
    if (Control* c = ControlOf(window)) {
        c->state.text = text ? text : "";
        return 1;
    }
    return 0;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    Control* c = ControlOf(window);
    if (!c || !rect) return 0;
    const DlgControlTemplate* t = c->tmpl;
    *rect = RECT{t->x, t->y, t->x + t->width, t->y + t->height};
    return 1;
}

BOOL ShowWindow(HWND window, int command) {
    if (Control* c = ControlOf(window)) {
        const BOOL wasVisible = c->state.visible ? 1 : 0;
        c->state.visible = command != SW_HIDE;
        return wasVisible;
    }
    // A dialog is always shown while it runs.
    return DialogOf(window) ? 1 : 0;
}

BOOL DeleteObject(HBITMAP bitmap) {
    if (!bitmap) return 0;
    delete bitmap;
    return 1;
}

intptr_t ShellExecuteA(HWND, const char*, const char* file, const char*, const char*, int) {
    constexpr intptr_t kOpened = 33, kNoOpener = 2, kNoAssociation = 31;
    if (!file || !*file) return kNoOpener;
    if ((s_seam.driver || DlgView_Headless()) && !s_seam.launch) {
        s_seam.opened.push_back(file);
        return s_seam.openFails ? kNoOpener : kOpened;
    }
    // SDL's own opener reports success whatever becomes of the page.
    pid_t pid = 0;
    char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(file), nullptr};
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return kNoOpener;
    constexpr int kWaitMs = 5000, kStepMs = 50;
    for (int waited = 0; waited < kWaitMs; waited += kStepMs) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kOpened : kNoAssociation;
        if (done < 0) return kNoAssociation;
        SDL_Delay(kStepMs);
    }
    // Still running: it is showing the page. It is waited for when it ends.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return kOpened;
}

Win32DialogSeam& Win32_DialogSeamReset() {
    s_seam = Win32DialogSeam{};
    return s_seam;
}

Win32DialogSeam& Win32_DialogSeam() { return s_seam; }

const DlgControlState* Win32_DialogControl(HWND dialog, int id) {
    Control* c = ItemOf(dialog, id);
    return c ? &c->state : nullptr;
}

std::string Win32_DialogCaption(HWND dialog) {
    Dialog* d = DialogOf(dialog);
    return d ? d->caption : std::string();
}

bool Win32_DialogEnded(HWND dialog) {
    Dialog* d = DialogOf(dialog);
    return !d || d->ended;
}

bool Win32_DialogClick(HWND dialog, int id) {
    Control* c = Usable(dialog, id);
    if (!c) return false;
    switch (c->state.kind) {
        case DlgKind::CheckBox: c->state.checked = !c->state.checked; break;
        case DlgKind::Radio:
            for (auto& other : DialogOf(dialog)->controls)
                if (other->state.kind == DlgKind::Radio) other->state.checked = other.get() == c;
            break;
        case DlgKind::Button:
        case DlgKind::DefaultButton: break;
        default: return false;
    }
    DialogOf(dialog)->proc(dialog, WM_COMMAND, Command(id, BN_CLICKED), reinterpret_cast<LPARAM>(HandleOf(c)));
    return true;
}

bool Win32_DialogSelect(HWND dialog, int id, int index) {
    Control* c = Usable(dialog, id);
    if (!c || !IsList(c) || index < -1 || index >= static_cast<int>(c->state.items.size())) return false;
    c->state.selection = index;
    const WORD note = c->state.kind == DlgKind::ComboBox ? CBN_SELCHANGE : LBN_SELCHANGE;
    DialogOf(dialog)->proc(dialog, WM_COMMAND, Command(id, note), reinterpret_cast<LPARAM>(HandleOf(c)));
    return true;
}

bool Win32_DialogType(HWND dialog, int id, const char* text) {
    Control* c = Usable(dialog, id);
    if (!c || c->state.kind != DlgKind::Edit) return false;
    c->state.text = text ? text : "";
    DialogOf(dialog)->proc(dialog, WM_COMMAND, Command(id, EN_CHANGE), reinterpret_cast<LPARAM>(HandleOf(c)));
    return true;
}

void Win32_DialogActivateApp(HWND dialog, bool active) {
    if (Dialog* d = DialogOf(dialog)) d->proc(dialog, WM_ACTIVATEAPP, active ? 1 : 0, 0);
}

const DlgTemplate* Win32_DialogTemplate(HWND dialog) {
    Dialog* d = DialogOf(dialog);
    return d ? d->tmpl : nullptr;
}

std::span<HWND const> Win32_OpenDialogs() { return s_openHandles; }

bool Win32_RenderDialogFrame(int* width, int* height, std::vector<uint8_t>* rgba) {
    if (s_open.empty()) return false;
    return DlgView_RenderFrame(width, height, rgba);
}
