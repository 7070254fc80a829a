// The file confirmation dialog: the copied files and folders with their shell icons, as names
// or as full paths, and the name of the one archive.
#pragma once

#include "attach/confirm_dialog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

// Handed to the dialog as its creation parameter; the dialog only reads the list.
struct FileAttachRequest {
    const std::vector<std::string>& files;
    char archiveName[kFileNameBufferSize];  // written back when the user confirms
};

// Every nonzero setting means "each one separately", as the settings dialog shows it.
bool AttachesFilesSeparately() noexcept;

INT_PTR CALLBACK FileConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the list view one large and one small icon per file, in list order, and its column.
// E_FAIL when an image list cannot be made or a file has no small icon.
HRESULT SetUpFileListView(HWND listView, const std::vector<std::string>& files) noexcept;

}  // namespace dl
