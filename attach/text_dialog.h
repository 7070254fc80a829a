// The text confirmation dialog: the text read-only, the file name to attach it under, and the
// box that turns the confirmation off.
#pragma once

#include "attach/confirm_dialog.h"

#include <windows.h>

#include <cstddef>

namespace dl {

// Shared by the text path and its dialog for one run; lives on the path's stack.
struct TextAttachRequest {
    const char* text;                        // zero-terminated: what the file gets
    const wchar_t* unicodeText;              // the text itself when the file holds it in UTF-8, else null
    char fileName[kFileNameBufferSize];      // offered to the user, then the name confirmed
};

// The most of the text that the read-only box shows, in bytes (UTF-16 units for Unicode text).
// An edit control takes about a second per megabyte to lay text out, and the host stands still
// meanwhile; the file always gets the whole text.
constexpr size_t kTextPreviewLimit = 64 * 1024;

// How much of the text the box shows: all of it when it fits the limit, else as much as fits
// without splitting a double-byte character or a surrogate pair.
size_t TextPreviewLength(const char* text, size_t limit = kTextPreviewLimit) noexcept;
size_t TextPreviewLength(const wchar_t* text, size_t limit = kTextPreviewLimit) noexcept;

// The dialog procedure; the creation parameter is the address of the TextAttachRequest.
INT_PTR CALLBACK TextConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace dl
