#include "attach/text_dialog.h"

#include "common/texts.h"
#include "common/win.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <cstring>
#include <memory>
#include <new>

namespace dl {

namespace {

constexpr int kPreviewFontHeight = 12;
constexpr int kPreviewFontWeight = 400;

// Later messages carry no parameter, so the run's request is kept here from WM_INITDIALOG on.
TextAttachRequest* g_request = nullptr;
// Made for each run of the dialog and released once its edit control is gone.
UniqueGdiObject g_previewFont;

// The start of the text, as much as the box can show without freezing the host. Without memory
// for the copy the box stays empty; the text is attached all the same.
template <typename Char, typename SetText>
void ShowTextPreview(HWND dialog, const Char* text, SetText setText) noexcept
{
    const size_t length = TextPreviewLength(text);
    const std::unique_ptr<Char[]> preview(new (std::nothrow) Char[length + 1]);
    if (!preview) return;
    std::memcpy(preview.get(), text, length * sizeof(Char));
    preview[length] = 0;
    setText(dialog, IDC_TEXT_PREVIEW, preview.get());
}

template <typename Char, typename StartsPair>
size_t PreviewLength(const Char* text, size_t limit, StartsPair startsPair) noexcept
{
    size_t length = 0;
    while (text[length]) {
        const size_t step = startsPair(text[length]) && text[length + 1] ? 2 : 1;
        if (length + step > limit) break;
        length += step;
    }
    return length;
}

void OnInitDialog(HWND dialog, TextAttachRequest* request) noexcept
{
    g_request = request;
    BeginConfirmDialog(dialog, request->fileName);
    if (request->unicodeText) {
        ShowTextPreview(dialog, request->unicodeText, SetDlgItemTextW);
    } else {
        ShowTextPreview(dialog, request->text, SetDlgItemTextA);
    }
    g_previewFont.reset(CreateFontA(kPreviewFontHeight, 0, 0, 0, kPreviewFontWeight, FALSE, FALSE, FALSE,
                                    SHIFTJIS_CHARSET, 0, 0, 0, 0, text::kTextPreviewFont));
    SendDlgItemMessageA(dialog, IDC_TEXT_PREVIEW, WM_SETFONT, reinterpret_cast<WPARAM>(g_previewFont.get()), TRUE);
}

// The read-only text area on white; every other control keeps the dialog's colours.
INT_PTR OnCtlColorStatic(HWND dialog, HWND control) noexcept
{
    if (control != GetDlgItem(dialog, IDC_TEXT_PREVIEW)) return FALSE;
    return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
}

void OnNcDestroy() noexcept
{
    g_request = nullptr;
    g_previewFont.reset();
}

}  // namespace

size_t TextPreviewLength(const char* text, size_t limit) noexcept
{
    return PreviewLength(text, limit, [](char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; });
}

size_t TextPreviewLength(const wchar_t* text, size_t limit) noexcept
{
    return PreviewLength(text, limit, [](wchar_t c) { return IS_HIGH_SURROGATE(c); });
}

INT_PTR CALLBACK TextConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, reinterpret_cast<TextAttachRequest*>(lParam));
        // The system sets no initial focus.
        return FALSE;
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(dialog, reinterpret_cast<HWND>(lParam));
    case WM_NCDESTROY:
        OnNcDestroy();
        return FALSE;
    default:
        if (g_request) HandleConfirmMessage(dialog, message, wParam, g_request->fileName, setting::kConfirmText);
        return FALSE;
    }
}

}  // namespace dl
