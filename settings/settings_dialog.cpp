#include "settings/settings_dialog.h"

#include "common/module.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

namespace dl {

namespace {

struct CheckBoxSetting {
    int control;
    const char* setting;
};

constexpr CheckBoxSetting kConfirmBoxes[] = {
    {IDC_CONFIRM_IMAGE, setting::kConfirmImage},
    {IDC_CONFIRM_TEXT, setting::kConfirmText},
    {IDC_CONFIRM_FILE, setting::kConfirmFile},
};

void SetChecked(HWND dialog, int control, bool checked) noexcept
{
    SendDlgItemMessageA(dialog, control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

DWORD CheckedAsSetting(HWND dialog, int control) noexcept
{
    return SendDlgItemMessageA(dialog, control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void OnInitDialog(HWND dialog) noexcept
{
    for (const auto& box : kConfirmBoxes) SetChecked(dialog, box.control, ReadSetting(box.setting) != 0);
    // Any nonzero value means "separately"; the other radio button keeps its unselected state.
    const bool separately = ReadSetting(setting::kAttachFileSeparately) != 0;
    SetChecked(dialog, separately ? IDC_ATTACH_SEPARATELY : IDC_ATTACH_ONE_ARCHIVE, true);
}

void OnOk(HWND dialog) noexcept
{
    // All four are written, changed or not.
    for (const auto& box : kConfirmBoxes) WriteSetting(box.setting, CheckedAsSetting(dialog, box.control));
    WriteSetting(setting::kAttachFileSeparately, CheckedAsSetting(dialog, IDC_ATTACH_SEPARATELY));
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, WORD id) noexcept
{
    if (id == IDOK) OnOk(dialog);
    if (id == IDCANCEL) EndDialog(dialog, IDCANCEL);
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        break;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        break;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        break;
    }
    // Also for WM_INITDIALOG: the dialog manager places no initial focus.
    return FALSE;
}

void ShowSettingsDialog(HWND owner) noexcept
{
    DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsDialogProc, 0);
}

}  // namespace dl
