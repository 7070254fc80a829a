#include "attach/attach_command.h"

#include "attach/confirm_dialog.h"
#include "names/nearest_names.h"
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

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// The clipboard's text as the file gets it, zero-terminated, and the text itself when that is
// not the ANSI text of old.
struct ClipboardText {
    std::unique_ptr<char[]> bytes;
    std::wstring unicode;  // when `bytes` holds it in UTF-8
};

// The clipboard's ANSI text up to its first NUL, always zero-terminated: whatever follows the NUL
// in the block is slack of another program, and a block without a NUL must not be read past
// its end. Null when there is no text to read or no memory for the copy.
std::unique_ptr<char[]> CopyAnsiText() noexcept
{
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

// The clipboard's Unicode text (its own, or the one the system makes from ANSI text) up to its
// first NUL; empty when there is none.
std::wstring CopyUnicodeText()
{
    const GlobalLock block(GetClipboardData(CF_UNICODETEXT));
    if (!block.data()) return {};
    const auto* text = static_cast<const wchar_t*>(block.data());
    return std::wstring(text, wcsnlen(text, block.size() / sizeof(wchar_t)));
}

// Null without memory for it.
std::unique_ptr<char[]> Utf8WithByteOrderMark(const std::wstring& text) noexcept
{
    const int textLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, nullptr, 0, nullptr, nullptr);
    constexpr size_t kMarkLength = sizeof(kUtf8ByteOrderMark) - 1;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[kMarkLength + static_cast<size_t>(length) + 1]);
    if (!bytes) return nullptr;
    std::memcpy(bytes.get(), kUtf8ByteOrderMark, kMarkLength);
    WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, bytes.get() + kMarkLength, length, nullptr, nullptr);
    bytes[kMarkLength + static_cast<size_t>(length)] = '\0';
    return bytes;
}

// Text that the ANSI code page holds exactly goes as its ANSI text, byte for byte as it always
// has. Any other goes whole as UTF-8 after a byte-order mark, which Windows' editors and mail
// readers recognise: the ANSI text would have changed it without a word ("?" for 𠮷, "u" for ü).
// The clipboard is closed again before this returns; `bytes` stays null when there is no text.
ClipboardText CopyClipboardText(HWND owner)
{
    ClipboardText text;
    ClipboardSession clipboard(owner);
    if (!clipboard.isOpen()) return text;
    text.unicode = CopyUnicodeText();
    std::string exact;
    if (text.unicode.empty() || ToExactAnsi(text.unicode, exact)) {
        text.unicode.clear();
        text.bytes = CopyAnsiText();
        return text;
    }
    clipboard.close();
    text.bytes = Utf8WithByteOrderMark(text.unicode);
    return text;
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
    const ClipboardText text = CopyClipboardText(composeWindow);
    if (!text.bytes) return E_FAIL;

    TextAttachRequest request{text.bytes.get(), text.unicode.empty() ? nullptr : text.unicode.c_str(), {}};
    std::strcpy(request.fileName, text::kDefaultTextName);
    if (ReadSetting(setting::kConfirmText)) {
        // An ANSI dialog's edit box would show the text as the code page holds it.
        const DialogText shown = request.unicodeText ? DialogText::kUnicode : DialogText::kAnsi;
        RETURN_IF_FAILED(RunConfirmDialog(composeWindow, IDD_TEXT_CONFIRM, TextConfirmDialogProc,
                                          reinterpret_cast<LPARAM>(&request), text::kBusyImageOrText, shown));
    }
    std::string path;
    RETURN_IF_FAILED(PathInHostTemp(request.fileName, path));
    return AttachStagingFile(composeWindow, path, text.bytes.get());
}

}  // namespace dl
