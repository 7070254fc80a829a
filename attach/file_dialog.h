// The file confirmation dialog: the copied files and folders with their shell icons, as names
// or as full paths, and the name of the one archive.
#pragma once

#include "attach/confirm_dialog.h"

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

// One copied file or folder. Windows keeps its path in UTF-16, and every read goes by that path:
// an ANSI form that the code page does not hold exactly would name another file, or none.
struct DroppedEntry {
    std::wstring path;
    bool exact;            // the ANSI code page holds the path exactly
    std::string ansiPath;  // exact when `exact`, else only for showing (best fit)
    std::string name;      // what it is attached as: its last component, or that one's nearest name
};

// Handed to the dialog as its creation parameter; the dialog only reads the list.
struct FileAttachRequest {
    const std::vector<DroppedEntry>& files;
    char archiveName[kFileNameBufferSize];  // written back when the user confirms
};

// Every nonzero setting means "each one separately", as the settings dialog shows it.
bool AttachesFilesSeparately() noexcept;

INT_PTR CALLBACK FileConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the list view one large and one small icon per entry, in list order, and its column.
// E_FAIL when an image list cannot be made or an entry has no small icon.
HRESULT SetUpFileListView(HWND listView, const std::vector<DroppedEntry>& files) noexcept;

}  // namespace dl
