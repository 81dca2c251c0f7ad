// Modal dialogs over a control model of our own: a dialog is its template's
// controls by id, each with its text, check state, enabled state, list items
// with their data and a selection. The dialog procedure gets the Windows
// messages and makes the Windows calls below against that model. A view
// (dialog_view.cpp) draws the model with Dear ImGui and turns clicks into
// WM_COMMAND; tests drive the model through the seam instead, headless.
//
// Handles: a dialog's or a control's handle points at its model record, which
// only this stand-in ever reads.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/win32/basetypes.h"
#include "platform/win32/messages.h"

using INT_PTR = intptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
// A bitmap: our own record of RGBA pixels, rows top first.
struct Win32Bitmap {
    int width;
    int height;
    std::vector<uint8_t> rgba;
};
using HBITMAP = Win32Bitmap*;
// Frees a bitmap; 0 for null.
BOOL DeleteObject(HBITMAP bitmap);

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;

// Notifications in the high word of WM_COMMAND's wParam.
constexpr WORD BN_CLICKED = 0;
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD LBN_SELCHANGE = 1;
constexpr WORD EN_CHANGE = 0x300;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr LRESULT CB_ERR = -1;

constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr LRESULT LB_ERR = -1;

constexpr UINT STM_SETIMAGE = 0x0172;
constexpr UINT STM_GETIMAGE = 0x0173;
constexpr WPARAM IMAGE_BITMAP = 0;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int SW_RESTORE = 9;

// A resource id in place of a resource name.
inline const char* MAKEINTRESOURCEA(int id) { return reinterpret_cast<const char*>(static_cast<uintptr_t>(id)); }

// ---------------------------------------------------------------- templates

enum class DlgKind { Static, Picture, Button, DefaultButton, CheckBox, Radio, GroupBox, ComboBox, ListBox, Edit };

struct DlgControlTemplate {
    int id;
    DlgKind kind;
    int x, y, width, height;  // pixels inside the dialog's client area
    const char* text;
};

struct DlgTemplate {
    int id;
    int width, height;  // client area in pixels
    const char* caption;
    std::span<const DlgControlTemplate> controls;
    int closeCommand = 2;  // what closing the window sends (IDCANCEL unless the dialog has its own)
};

// The program's dialog resources: DialogBoxParamA finds its template here.
void Win32_RegisterDialogTemplate(const DlgTemplate* dialogTemplate);

// ---------------------------------------------------------------- the calls

// Runs the dialog modally: WM_INITDIALOG with param, then the view (or the test
// driver) until the procedure calls EndDialog. Returns EndDialog's result, or
// -1 when the dialog cannot be made or shown (unknown template, no display).
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND parent, DLGPROC proc, LPARAM param);
// Runs a dialog from a template the caller keeps for the call (message boxes):
// always in the view, with its window hidden under a headless driver, never
// through a test driver. -1 when no view can be made.
INT_PTR Win32_RunDialogInView(const DlgTemplate* dialogTemplate, HWND parent, DLGPROC proc, LPARAM param);
// How the last dialog run in the view ended: 0 by the player; the number of a
// stop signal (platform/win32/signals.h) that ended it; WIN32_DIALOG_QUIT when
// the desktop's quit or the close of a window other than a dialog's did. Either
// stop is handed on to the windows under the dialog, so the program ends too.
constexpr int WIN32_DIALOG_QUIT = -1;
int Win32_LastDialogStop();
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
// The id of a control handle, 0 for anything else.
int GetDlgCtrlID(HWND control);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
// Only for dialog and control handles; anything else answers 0.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// Checks `check` and clears the other radio buttons first..last.
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size);
// A dialog's caption or a control's text.
BOOL SetWindowTextA(HWND window, const char* text);
// A control's rectangle on the screen (the dialog's origin taken as 0, 0).
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ShowWindow(HWND window, int command);

// Opens a document or a web page with the desktop's opener (xdg-open), which
// is given a few seconds to say whether it could; one still running by then
// has opened it. Above 32 on success, as on Windows; 2 when there is no
// opener, 31 when it found nothing to open the page with.
intptr_t ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters, const char* folder,
                       int show);

// ---------------------------------------------------------------- test seam

// What a dialog looks like to a test.
struct DlgItemState {
    std::string text;
    uintptr_t data;
};
struct DlgControlState {
    int id;
    DlgKind kind;
    std::string text;
    bool checked;
    bool enabled;
    bool visible;
    int selection;  // -1 none
    std::vector<DlgItemState> items;
    HBITMAP image;
};

// Called with each dialog once its WM_INITDIALOG has run (nested dialogs
// too); it drives the dialog with the calls below and should end it. A
// dialog the driver leaves open ends with -1.
using DlgDriver = std::function<void(HWND dialog, int templateId)>;
struct Win32DialogSeam {
    DlgDriver driver;
    int shown = 0;  // dialogs run so far
    // Pages ShellExecuteA was asked to open; while a driver is set (or under a
    // headless driver) they are only recorded, and openFails makes it fail.
    std::vector<std::string> opened;
    bool openFails = false;
    // Starts the desktop's opener for real all the same (a test's own, found
    // on its PATH).
    bool launch = false;
    // Without a driver, run the view even under a headless video driver (its
    // window hidden), so that a test can feed it SDL events.
    bool viewHeadless = false;
    // Called after each frame the view draws, with the dialog shown: what a
    // test does while a dialog is up.
    std::function<void(HWND dialog)> eachFrame;
};
// Installs a fresh seam (no driver); returns it.
Win32DialogSeam& Win32_DialogSeamReset();
Win32DialogSeam& Win32_DialogSeam();

const DlgControlState* Win32_DialogControl(HWND dialog, int id);
std::string Win32_DialogCaption(HWND dialog);
bool Win32_DialogEnded(HWND dialog);
// What the user can do. Each is refused (false) for a control that is
// missing, hidden or disabled, as the view would not let it happen.
// A click: check boxes toggle, radio buttons check themselves (and clear the
// other radio buttons of the dialog), then WM_COMMAND with BN_CLICKED.
bool Win32_DialogClick(HWND dialog, int id);
// Selecting an item (-1 clears) sends CBN_SELCHANGE / LBN_SELCHANGE.
bool Win32_DialogSelect(HWND dialog, int id, int index);
// Typing into an edit field replaces its text and sends EN_CHANGE.
bool Win32_DialogType(HWND dialog, int id, const char* text);
// Focus moving to or away from the program (WM_ACTIVATEAPP).
void Win32_DialogActivateApp(HWND dialog, bool active);

// ---------------------------------------------------------------- the view's side

// The template a dialog was made from.
const DlgTemplate* Win32_DialogTemplate(HWND dialog);
// The dialogs open now, outermost first.
std::span<HWND const> Win32_OpenDialogs();
// Renders one frame of the topmost dialog into the dialog window and reads it
// back as RGBA rows, top row first. False when no GL window can be made.
bool Win32_RenderDialogFrame(int* width, int* height, std::vector<uint8_t>* rgba);
