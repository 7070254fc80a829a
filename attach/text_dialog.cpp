#include "attach/text_dialog.h"

#include "common/texts.h"
#include "common/win.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace dl {

namespace {

constexpr int kPreviewFontHeight = 12;
constexpr int kPreviewFontWeight = 400;

// Later messages carry no parameter, so the run's request is kept here from WM_INITDIALOG on.
TextAttachRequest* g_request = nullptr;
// Made for each run of the dialog and released once its edit control is gone.
UniqueGdiObject g_previewFont;

void OnInitDialog(HWND dialog, TextAttachRequest* request) noexcept
{
    g_request = request;
    BeginConfirmDialog(dialog, request->fileName);
    SetDlgItemTextA(dialog, IDC_TEXT_PREVIEW, request->text);
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
