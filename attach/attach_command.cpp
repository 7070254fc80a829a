#include "attach/attach_command.h"

#include "common/module.h"
#include "common/texts.h"
#include "zip/shell_packing.h"

namespace dl {

namespace {

HRESULT RunPathForClipboard(HWND composeWindow)
{
    // A bitmap wins over a file list, a file list over text.
    if (IsClipboardFormatAvailable(CF_BITMAP)) return AttachClipboardImage(composeWindow);
    if (IsClipboardFormatAvailable(CF_HDROP)) return AttachClipboardFiles(composeWindow);
    if (IsClipboardFormatAvailable(CF_TEXT)) return AttachClipboardText(composeWindow);
    ShowMessage(composeWindow, text::kNothingToAttach, MB_ICONINFORMATION);
    return E_ABORT;
}

}  // namespace

void WINAPI AttachClipboard(HWND composeWindow, LPARAM)
{
    // Nothing may escape into the host: every failure ends in a message, the shell's missing ZIP
    // folder in one of its own, as the user can do something about it.
    HRESULT result = E_FAIL;
    try {
        result = RunPathForClipboard(composeWindow);
    } catch (...) {
        result = E_FAIL;
    }
    if (SUCCEEDED(result) || result == E_ABORT) return;
    ShowMessage(composeWindow, result == kNoZipFolder ? text::kNoZipFolder : text::kAttachFailed, MB_ICONERROR);
}

}  // namespace dl
