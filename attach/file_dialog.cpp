#include "attach/file_dialog.h"

#include "common/texts.h"
#include "common/win.h"
#include "resources/resource.h"
#include "settings/settings_store.h"

#include <shellapi.h>

namespace dl {

namespace {

// The one open dialog's state: later messages carry no parameter, and only one can be open.
FileAttachRequest* ActiveFileAttachRequest = nullptr;
UniqueImageList LargeIconList;
UniqueImageList SmallIconList;

constexpr UINT kIconListFlags = ILC_COLOR32 | ILC_MASK;
constexpr LPARAM kIconSpacing = MAKELPARAM(80, 80);
constexpr int kColumnWidth = 450;
// The replacement styles leave out the template's border and tab stop.
constexpr LONG kReportStyle = WS_CHILD | WS_VISIBLE | LVS_REPORT;
constexpr LONG kIconStyle = WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_ALIGNLEFT;

HWND FileListView(HWND dialog) noexcept { return GetDlgItem(dialog, IDC_FILE_LIST); }

bool AppendIcon(HIMAGELIST list, const std::wstring& path, UINT sizeFlag) noexcept
{
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_ICON | sizeFlag)) return false;
    const UniqueIcon icon(info.hIcon);
    ImageList_ReplaceIcon(list, -1, icon.get());
    return true;
}

// Item i shows entry i with icon i, as its full path or under the name it is attached as.
LVITEMA ItemFor(size_t index, const DroppedEntry& entry, bool fullPath) noexcept
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(index);
    item.iImage = static_cast<int>(index);
    item.pszText = const_cast<char*>(fullPath ? entry.ansiPath.c_str() : entry.name.c_str());
    return item;
}

void InsertItems(HWND listView, const std::vector<DroppedEntry>& files) noexcept
{
    for (size_t i = 0; i < files.size(); ++i) {
        LVITEMA item = ItemFor(i, files[i], false);
        SendMessageA(listView, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

void OnInitDialog(HWND dialog, FileAttachRequest* request) noexcept
{
    ActiveFileAttachRequest = request;
    BeginConfirmDialog(dialog, request->archiveName);

    const HWND listView = FileListView(dialog);
    if (SUCCEEDED(SetUpFileListView(listView, request->files))) InsertItems(listView, request->files);

    if (AttachesFilesSeparately()) {
        // Only the one archive has a name to choose.
        ShowWindow(GetDlgItem(dialog, IDC_FILE_NAME_LABEL), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_FILE_NAME), SW_HIDE);
    } else {
        SetDlgItemTextA(dialog, IDC_FILE_NOTE, text::kNoteAllInOneArchive);
    }
}

void OnShowPathsClicked(HWND dialog) noexcept
{
    const bool fullPaths = IsDlgButtonChecked(dialog, IDC_SHOW_PATHS) == BST_CHECKED;
    const HWND listView = FileListView(dialog);
    SetWindowLongA(listView, GWL_STYLE, fullPaths ? kReportStyle : kIconStyle);
    if (!fullPaths) SendMessageA(listView, LVM_SETICONSPACING, 0, kIconSpacing);

    const auto& files = ActiveFileAttachRequest->files;
    for (size_t i = 0; i < files.size(); ++i) {
        LVITEMA item = ItemFor(i, files[i], fullPaths);
        SendMessageA(listView, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    }
}

void OnDestroy(HWND dialog) noexcept
{
    // The dialog owns the image lists. The list view, lacking LVS_SHAREIMAGELISTS, would destroy
    // them once more when it goes, so it lets go of them first.
    const HWND listView = FileListView(dialog);
    SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
    SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    LargeIconList.reset();
    SmallIconList.reset();
    ActiveFileAttachRequest = nullptr;
}

}  // namespace

bool AttachesFilesSeparately() noexcept { return ReadSetting(setting::kAttachFileSeparately) != 0; }

HRESULT SetUpFileListView(HWND listView, const std::vector<DroppedEntry>& files) noexcept
{
    LargeIconList.reset(ImageList_Create(32, 32, kIconListFlags, 0, 0));
    if (!LargeIconList) return E_FAIL;
    SmallIconList.reset(ImageList_Create(16, 16, kIconListFlags, 0, 0));
    if (!SmallIconList) return E_FAIL;

    for (const DroppedEntry& entry : files) {
        // A missing large icon is passed over; without a small one the list stays empty.
        AppendIcon(LargeIconList.get(), entry.path, SHGFI_LARGEICON);
        if (!AppendIcon(SmallIconList.get(), entry.path, SHGFI_SMALLICON)) return E_FAIL;
    }

    SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(LargeIconList.get()));
    SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(SmallIconList.get()));
    SendMessageA(listView, LVM_SETICONSPACING, 0, kIconSpacing);

    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kColumnWidth;
    column.pszText = const_cast<char*>(text::kListColumnName);
    column.iSubItem = 0;
    SendMessageA(listView, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    return S_OK;
}

INT_PTR CALLBACK FileConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        OnInitDialog(dialog, reinterpret_cast<FileAttachRequest*>(lParam));
    } else if (ActiveFileAttachRequest) {  // nothing to do before initialisation
        switch (message) {
        case WM_DESTROY:
            OnDestroy(dialog);
            break;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_SHOW_PATHS) {
                OnShowPathsClicked(dialog);
                break;
            }
            [[fallthrough]];
        default:
            HandleConfirmMessage(dialog, message, wParam, ActiveFileAttachRequest->archiveName, setting::kConfirmFile);
        }
    }
    // Also for WM_INITDIALOG: the dialog manager places no initial focus.
    return FALSE;
}

}  // namespace dl
