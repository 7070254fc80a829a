#include "attach/attach_command.h"

#include "common/module.h"
#include "common/texts.h"
#include "zip/shell_packing.h"

#include <stdexcept>

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
    // Nothing may escape into the host: every failure, a status or an exception, ends in the one
    // catch and one message, the shell's missing ZIP folder in one of its own, as the user can do
    // something about it.
    HRESULT result = E_FAIL;
    try {
        result = RunPathForClipboard(composeWindow);
        if (SUCCEEDED(result) || result == E_ABORT) return;
        throw std::runtime_error("AttachFile() failed");
    } catch (...) {
        ShowMessage(composeWindow, result == kNoZipFolder ? text::kNoZipFolder : text::kAttachFailed, MB_ICONERROR);
    }
}

}  // namespace dl
