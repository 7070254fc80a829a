#include "attach/attach_command.h"

#include "attach/confirm_dialog.h"
#include "names/nearest_names.h"
#include "attach/staging_file.h"
#include "attach/text_dialog.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "common/win.h"
#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace dl {

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// The clipboard's text as the file gets it, and the text itself when the file holds it in UTF-8.
struct ClipboardText {
    bool read = false;
    std::string bytes;
    std::wstring unicode;
};

// The clipboard's ANSI text up to its first NUL: whatever follows the NUL in the block is slack
// of another program, and a block without a NUL must not be read past its end. False when there
// is no text to read.
bool CopyAnsiText(std::string& text)
{
    const GlobalLock block(GetClipboardData(CF_TEXT));
    if (!block.data()) return false;
    const auto* bytes = static_cast<const char*>(block.data());
    text.assign(bytes, strnlen(bytes, block.size()));
    return true;
}

// The clipboard's Unicode text up to its first NUL. False when there is none.
bool CopyUnicodeText(std::wstring& text)
{
    const GlobalLock block(GetClipboardData(CF_UNICODETEXT));
    if (!block.data()) return false;
    const auto* units = static_cast<const wchar_t*>(block.data());
    text.assign(units, wcsnlen(units, block.size() / sizeof(wchar_t)));
    return true;
}

std::string Utf8WithByteOrderMark(const std::wstring& text)
{
    const int textLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, nullptr, 0, nullptr, nullptr);
    std::string bytes(kUtf8ByteOrderMark);
    const size_t markLength = bytes.size();
    bytes.resize(markLength + static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, &bytes[markLength], length, nullptr, nullptr);
    return bytes;
}

// The text as the copying program put it. The system makes each text format from the other in the
// code page of the keyboard that was active at the copy, so under an English keyboard Japanese
// Unicode text has "?" for ANSI text, and a program's own code page 932 bytes have a misread
// Unicode text; the clipboard lists the formats a program put before the ones the system makes.
// - ANSI text put first goes as its bytes are.
// - Otherwise the Unicode text decides: what code page 932 (the ANSI code page) holds exactly goes
//   in it; any other text goes whole as UTF-8 after a byte-order mark, which Windows' editors and
//   mail readers recognise, where the ANSI text would have changed it ("?" for 𠮷, "u" for ü).
// The clipboard is closed again before this returns.
ClipboardText CopyClipboardText(HWND owner)
{
    ClipboardText text;
    ClipboardSession clipboard(owner);
    if (!clipboard.isOpen()) return text;
    if (clipboard.firstOffered({CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT}) == CF_TEXT) {
        text.read = CopyAnsiText(text.bytes);
        return text;
    }
    text.read = CopyUnicodeText(text.unicode);
    clipboard.close();
    if (ToExactAnsi(text.unicode, text.bytes)) {
        text.unicode.clear();
    } else {
        text.bytes = Utf8WithByteOrderMark(text.unicode);
    }
    return text;
}

// The host takes the file's content during the attach call, so the file goes right after. Should
// it not go, the mail has the attachment all the same, so no failure is reported; the file stays
// in the host's temporary folder, which the host cleans.
HRESULT AttachStagingFile(HWND composeWindow, const std::string& name, const std::string& text)
{
    StagingFile file;
    RETURN_IF_FAILED(file.makeInHostFolder(name, [&](const std::string& path) {
        return WriteStagingFile(path, text.data(), static_cast<DWORD>(text.size()));
    }));
    Host().CompAttachFile(composeWindow, file.path().c_str(), nullptr);
    return S_OK;
}

}  // namespace

HRESULT AttachClipboardText(HWND composeWindow)
{
    const ClipboardText text = CopyClipboardText(composeWindow);
    if (!text.read) return E_FAIL;

    TextAttachRequest request{text.bytes.c_str(), text.unicode.empty() ? nullptr : text.unicode.c_str(), {}};
    std::strcpy(request.fileName, text::kDefaultTextName);
    if (ReadSetting(setting::kConfirmText)) {
        // An ANSI dialog's edit box would show the text as the code page holds it.
        const DialogText shown = request.unicodeText ? DialogText::kUnicode : DialogText::kAnsi;
        RETURN_IF_FAILED(RunConfirmDialog(composeWindow, IDD_TEXT_CONFIRM, TextConfirmDialogProc,
                                          reinterpret_cast<LPARAM>(&request), text::kBusyImageOrText, shown));
    }
    return AttachStagingFile(composeWindow, request.fileName, text.bytes);
}

}  // namespace dl
