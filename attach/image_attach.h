// The image path: the clipboard's bitmap becomes a PNG file, shown in dialog 106 when the
// user wants to confirm it, then attached under the chosen name.
#pragma once

#include "attach/confirm_dialog.h"
#include "attach/image_preview.h"
#include "common/gdiplus_session.h"

#include <windows.h>

namespace dl {

// What the path shares with its dialog; lives on the path's stack for one command.
struct ImageAttachRequest {
    const char* stagedPath;        // the PNG as written, under the host's temporary name
    char fileName[kFileNameBufferSize];  // offered to the user; the accepted name after OK
};

// Index of the installed GDI+ encoder for the MIME type (exact, case-sensitive) with its class
// identifier written to `clsid`; -1 when there is none.
int FindEncoderClsid(const wchar_t* mimeType, CLSID* clsid) noexcept;

// Writes the image as a new PNG file at the ANSI path. E_FAIL when something is there already.
HRESULT SaveImageAsPng(const char* path, Gdiplus::GpImage* image) noexcept;

// Dialog 106; the initialisation parameter is the address of the ImageAttachRequest.
INT_PTR CALLBACK ImageConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The size label of the staged PNG into `label` (kImageSizeLabelSize characters): its pixel size
// from its IHDR, so that nothing is decoded for it, and its bytes. E_FAIL when the file cannot be
// opened or does not start as a PNG, or the formatting error.
HRESULT FormatImageSizeLabel(const char* stagedPath, char* label) noexcept;

// The staged PNG shrunk to its place in the frame (never enlarged, centred). It is loaded once,
// when the dialog opens: decoding a large image takes seconds, too long to repeat at every paint.
struct ImagePreview {
    UniqueGpBitmap image;  // null when the file could not be loaded
    PreviewPlacement place{};
};
ImagePreview LoadImagePreview(const char* stagedPath, HWND frame) noexcept;

// Answers the frame's paint: the preview on black.
void PaintImagePreview(const ImagePreview& preview, HWND frame) noexcept;

}  // namespace dl
