#include "attach/confirm_dialog.h"

#include "names/file_name.h"
#include "common/module.h"
#include "common/texts.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace dl {

int ConfirmDialogOpen = 0;

namespace {

constexpr int kFileNameLimit = MAX_PATH - 1;
constexpr INT_PTR kConfirmed = IDOK;
constexpr INT_PTR kDismissed = IDCANCEL;

bool IsChecked(HWND dialog, int id) noexcept
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void OnOk(HWND dialog, char* fileName, const char* settingName) noexcept
{
    // The field limits characters, the buffer bytes: a longer name would come back cut short,
    // perhaps in the middle of a double-byte character, and be used so.
    const int length = GetWindowTextLengthA(GetDlgItem(dialog, IDC_FILE_NAME));
    GetDlgItemTextA(dialog, IDC_FILE_NAME, fileName, static_cast<int>(kFileNameBufferSize));
    if (length >= static_cast<int>(kFileNameBufferSize) || !IsValidFileName(fileName)) {
        ShowMessage(dialog, text::kInvalidFileName, MB_ICONINFORMATION);
        return;
    }
    WriteSetting(settingName, IsChecked(dialog, IDC_DO_NOT_SHOW) ? 0 : 1);
    EndDialog(dialog, kConfirmed);
}

void OnDoNotShowClicked(HWND dialog) noexcept
{
    if (IsChecked(dialog, IDC_DO_NOT_SHOW)) ShowMessage(dialog, text::kHowToShowAgain, MB_ICONINFORMATION);
}

}  // namespace

HRESULT RunConfirmDialog(HWND composeWindow, int dialogId, DLGPROC proc, LPARAM request, const char* busyMessage,
                         DialogText text)
{
    if (ConfirmDialogOpen) {
        ShowMessage(composeWindow, busyMessage, MB_ICONWARNING);
        return E_ABORT;
    }
    const INT_PTR result =
        text == DialogText::kUnicode
            ? DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(dialogId), composeWindow, proc, request)
            : DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(dialogId), composeWindow, proc, request);
    ConfirmDialogOpen = 0;
    return result == kConfirmed ? S_OK : E_ABORT;
}

void BeginConfirmDialog(HWND dialog, const char* fileName) noexcept
{
    ConfirmDialogOpen = 1;
    SetDlgItemTextA(dialog, IDC_FILE_NAME, fileName);
    SendDlgItemMessageA(dialog, IDC_FILE_NAME, EM_LIMITTEXT, kFileNameLimit, 0);
}

bool HandleConfirmMessage(HWND dialog, UINT message, WPARAM wParam, char* fileName, const char* settingName) noexcept
{
    if (message == WM_CLOSE) {
        EndDialog(dialog, kDismissed);
        return true;
    }
    if (message != WM_COMMAND) return false;

    switch (LOWORD(wParam)) {
    case IDOK:
        OnOk(dialog, fileName, settingName);
        return true;
    case IDCANCEL:
        EndDialog(dialog, kDismissed);
        return true;
    case IDC_DO_NOT_SHOW:
        OnDoNotShowClicked(dialog);
        return true;
    default:
        return false;
    }
}

}  // namespace dl
