#include "attach/attach_command.h"

#include "attach/confirm_dialog.h"
#include "attach/staging_file.h"
#include "attach/text_content.h"
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
#include <utility>

namespace dl {

namespace {

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

// The code page in which the system made one text format from the other: that of the keyboard
// active at the copy.
UINT LocaleCodePage()
{
    const GlobalLock block(GetClipboardData(CF_LOCALE));
    if (block.size() < sizeof(LCID)) return CP_ACP;
    DWORD codePage = CP_ACP;
    GetLocaleInfoA(*static_cast<const LCID*>(block.data()), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<char*>(&codePage), sizeof(codePage));
    return codePage;
}

// Both texts are read, and the clipboard closed again, before the choice.
bool CopyClipboardText(HWND owner, TextFile& file)
{
    ClipboardTexts texts;
    ClipboardSession clipboard(owner);
    if (!clipboard.isOpen()) return false;
    texts.ansiFirst = clipboard.firstOffered({CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT}) != CF_UNICODETEXT;
    texts.localeCodePage = LocaleCodePage();
    const bool hasAnsi = CopyAnsiText(texts.ansi);
    texts.hasUnicode = CopyUnicodeText(texts.unicode);
    clipboard.close();
    if (!hasAnsi && !texts.hasUnicode) return false;
    file = ChooseTextFile(std::move(texts));
    return true;
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
    TextFile text;
    if (!CopyClipboardText(composeWindow, text)) return E_FAIL;

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
