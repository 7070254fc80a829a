#include "attach/attach_command.h"

#include "attach/confirm_dialog.h"
#include "attach/staging_file.h"
#include "attach/text_dialog.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "common/win.h"
#include "plugin/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace dl {

namespace {

// The clipboard's text up to its first NUL, always zero-terminated: whatever follows the NUL
// in the block is slack of another program, and a block without a NUL must not be read past
// its end. Null when there is no text to read or no memory for the copy. The clipboard is
// closed again before this returns.
std::unique_ptr<char[]> CopyClipboardText(HWND owner) noexcept
{
    ClipboardSession clipboard(owner);
    if (!clipboard.isOpen()) return nullptr;
    const GlobalLock block(GetClipboardData(CF_TEXT));
    if (!block.data()) return nullptr;

    const auto* bytes = static_cast<const char*>(block.data());
    const size_t length = strnlen(bytes, block.size());
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (!copy) return nullptr;
    std::memcpy(copy.get(), bytes, length);
    copy[length] = '\0';
    return copy;
}

// The host takes the file's content during the attach call, so the file goes right after. Should
// it not go, the mail has the attachment all the same, so no failure is reported; the file stays
// in the host's temporary folder, which the host cleans.
HRESULT AttachStagingFile(HWND composeWindow, const std::string& path, const char* text) noexcept
{
    RETURN_IF_FAILED(WriteStagingFile(path, text, static_cast<DWORD>(std::strlen(text))));
    Host().CompAttachFile(composeWindow, path.c_str(), nullptr);
    DeleteFileA(path.c_str());
    return S_OK;
}

}  // namespace

HRESULT AttachClipboardText(HWND composeWindow)
{
    const std::unique_ptr<char[]> text = CopyClipboardText(composeWindow);
    if (!text) return E_FAIL;

    TextAttachRequest request{text.get(), {}};
    std::strcpy(request.fileName, text::kDefaultTextName);
    if (ReadSetting(setting::kConfirmText)) {
        RETURN_IF_FAILED(RunConfirmDialog(composeWindow, IDD_TEXT_CONFIRM, TextConfirmDialogProc,
                                          reinterpret_cast<LPARAM>(&request), text::kBusyImageOrText));
    }
    std::string path;
    RETURN_IF_FAILED(PathInHostTemp(request.fileName, path));
    return AttachStagingFile(composeWindow, path, text.get());
}

}  // namespace dl
