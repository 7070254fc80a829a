// The text confirmation dialog: the text read-only, the file name to attach it under, and the
// box that turns the confirmation off.
#pragma once

#include "attach/confirm_dialog.h"

#include <windows.h>

#include <cstddef>

namespace dl {

// Shared by the text path and its dialog for one run; lives on the path's stack.
struct TextAttachRequest {
    const char* text;                        // zero-terminated copy of the clipboard's text
    char fileName[kFileNameBufferSize];      // offered to the user, then the name confirmed
};

// The most of the text that the read-only box shows, in bytes. An edit control takes about a
// second per megabyte to lay text out, and the host stands still meanwhile; the file always
// gets the whole text.
constexpr size_t kTextPreviewLimit = 64 * 1024;

// How many bytes of the text the box shows: all of it when it fits the limit, else as many as
// fit without splitting a double-byte character.
size_t TextPreviewLength(const char* text, size_t limit = kTextPreviewLimit) noexcept;

// The dialog procedure; the creation parameter is the address of the TextAttachRequest.
INT_PTR CALLBACK TextConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace dl
