// The start dialog and its four settings dialogs (graphics, controller,
// screenshot folder, mod package), shown before the game window exists. Every
// visible text comes from the configuration story's text pages; the choices go
// into the SystemState and the ApplicationRecord, and to the registry when the
// player starts.
#pragma once

#include <cstdint>

#include "platform/win32/dialog.h"

// Templates and text pages.
constexpr int DLG_START = 106, DLG_GFX = 110, DLG_ADJUST = 144, DLG_CAPTURE = 164, DLG_MOD = 179;
constexpr int PAGE_START = 1910, PAGE_GFX = 1912, PAGE_CAPTURE = 1913, PAGE_ADJUST = 1914, PAGE_MOD = 1918;

// 1 start, 0 cancel; -1 when the dialog cannot be shown (no display and
// nothing driving it): start-up then goes on with the settings it has.
int S_RunStartDialog();
// Parent null = the main window. Each returns the dialog's result.
INT_PTR S_RunGfxDialog(HWND parent);
INT_PTR S_RunAdjustDialog(HWND parent);
INT_PTR S_RunCaptureDialog(HWND parent);
INT_PTR S_RunModDialog(HWND parent);

INT_PTR S_StartDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR S_GfxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR S_AdjustDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR S_CaptureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR S_ModDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Activation of the program while a dialog is up: with input running, the
// dialog is restored and the input devices are bound to the main window.
INT_PTR S_DialogActivateApp(HWND dialog, WPARAM active);

// The text in the code page the dialogs show (UTF-8 here; bytes that are not
// UTF-8 become '?'). The result lives in one buffer that the next call replaces.
const char* S_Utf8ToAnsi(const char* text);
// A message box with the text and the caption converted.
int S_MessageBoxUtf8(const char* text, HWND owner, const char* caption, UINT type);

// Registers the program's dialog templates (done by S_RunStartDialog and the
// other runners; tests call it before driving a procedure of their own).
void S_RegisterDialogTemplates();
