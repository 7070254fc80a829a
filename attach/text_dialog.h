// The text confirmation dialog: the text read-only, the file name to attach it under, and the
// box that turns the confirmation off.
#pragma once

#include "attach/confirm_dialog.h"

#include <windows.h>

namespace dl {

// Shared by the text path and its dialog for one run; lives on the path's stack.
struct TextAttachRequest {
    const char* text;                        // zero-terminated copy of the clipboard's text
    char fileName[kFileNameBufferSize];      // offered to the user, then the name confirmed
};

// The dialog procedure; the creation parameter is the address of the TextAttachRequest.
INT_PTR CALLBACK TextConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace dl
