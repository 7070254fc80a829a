// The settings dialog: which confirmations are shown and how files are attached.
#pragma once

#include <windows.h>

namespace dl {

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the dialog modally over `owner`; the settings are written only at OK.
void ShowSettingsDialog(HWND owner) noexcept;

}  // namespace dl
