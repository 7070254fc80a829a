// What the three confirmation dialogs (text, image, files) share: the busy flag, the file-name
// field, the "do not show again" box and how OK, Cancel and the close box end them.
#pragma once

#include <windows.h>

namespace dl {

// 1 from a confirmation dialog's WM_INITDIALOG until its path has the result back. The dialogs
// are modal to their own compose window only, so this is what keeps a second one from opening.
extern int ConfirmDialogOpen;

constexpr size_t kFileNameBufferSize = MAX_PATH;

// Shows the busy warning when another confirmation dialog is open; otherwise runs the dialog
// modally over the compose window. S_OK when the user confirmed, E_ABORT otherwise. A Unicode
// dialog's controls keep any text whole; an ANSI one's edit boxes hold what the code page holds.
enum class DialogText { kAnsi, kUnicode };
HRESULT RunConfirmDialog(HWND composeWindow, int dialogId, DLGPROC proc, LPARAM request, const char* busyMessage,
                         DialogText text = DialogText::kAnsi);

// For WM_INITDIALOG: marks the dialog open and offers the name in the file-name field.
void BeginConfirmDialog(HWND dialog, const char* fileName) noexcept;

// OK (name check, setting written), Cancel, the check box's hint and the close box.
// `fileName` is the request's buffer of kFileNameBufferSize bytes. True when the message was taken.
bool HandleConfirmMessage(HWND dialog, UINT message, WPARAM wParam, char* fileName, const char* settingName) noexcept;

}  // namespace dl
