#include "attach/attach_command.h"

#include "attach/drop_list.h"
#include "attach/file_dialog.h"
#include "attach/path_names.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "common/win.h"
#include "plugin/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"
#include "zip/packing_progress.h"
#include "zip/zip_archive.h"

#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dl {

namespace {

using Entries = std::vector<std::string>;

bool Exists(const char* path) noexcept { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Any program can fill the clipboard. A drive's root, or a path that climbs ("C:\work\.." is a
// whole drive), would have the packing walk and copy far more than the user meant; a relative
// path would name whatever lies in the host's current folder.
bool IsUsableEntry(const char* path) noexcept
{
    return IsFullPath(path) && !IsDriveRoot(path) && !HasRelativeComponent(path) && Exists(path);
}

// The usable paths of the clipboard's file list, in its order; E_ABORT when none is left.
HRESULT ReadDroppedFiles(HWND composeWindow, Entries& entries)
{
    const WaitCursor wait;
    ClipboardSession clipboard(composeWindow);
    if (!clipboard.isOpen()) return E_FAIL;
    const auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
    if (!drop) return E_FAIL;
    {
        const GlobalLock list(drop);
        if (!IsWellFormedDropList(list.data(), list.size())) return E_FAIL;
    }

    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // A path too long for the buffer would come back cut short, naming another file or none.
        if (DragQueryFileA(drop, i, nullptr, 0) >= MAX_PATH) continue;
        char path[MAX_PATH] = {};
        DragQueryFileA(drop, i, path, MAX_PATH);
        if (IsUsableEntry(path)) entries.emplace_back(path);
    }
    return entries.empty() ? E_ABORT : S_OK;
}

// An archive we created in the host's folder: it holds the user's data, so it goes on every road
// out, attached or failed, cancelled or raised.
class CreatedArchive {
public:
    explicit CreatedArchive(const std::string& path) : path_(path) {}
    ~CreatedArchive() { DeleteFileA(path_.c_str()); }
    CreatedArchive(const CreatedArchive&) = delete;
    CreatedArchive& operator=(const CreatedArchive&) = delete;

private:
    std::string path_;
};

// A new archive of the sources that are still there when their turn comes (packing an earlier
// one takes time), attached and then removed. S_FALSE, with nothing attached and nothing left,
// when every source had gone.
HRESULT AttachArchiveOf(HWND composeWindow, const std::string& archive, const Entries& sources,
                        PackingProgress& progress)
{
    // A file that cannot be created under that name is not ours to remove.
    RETURN_IF_FAILED(WriteEmptyZip(archive.c_str()));
    const CreatedArchive created(archive);
    HRESULT result = S_FALSE;
    for (const std::string& source : sources) {
        if (!Exists(source.c_str())) continue;
        RETURN_IF_FAILED(AddToZipArchive(source.c_str(), archive.c_str(), &progress));
        result = S_OK;
    }
    if (result == S_OK) Host().CompAttachFile(composeWindow, archive.c_str(), nullptr);
    return result;
}

// Files go from where they lie; each folder as an archive named after it. An entry gone by its
// turn is left out. The first failure, or the user's Cancel, stops, and what was attached before
// it stays attached.
HRESULT AttachSeparately(HWND composeWindow, const Entries& entries, PackingProgress& progress)
{
    for (const std::string& entry : entries) {
        const DWORD attributes = GetFileAttributesA(entry.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Host().CompAttachFile(composeWindow, entry.c_str(), nullptr);
            continue;
        }
        std::string archive;
        RETURN_IF_FAILED(PathInHostTemp(std::string(LastPathComponent(entry.c_str())) + ".zip", archive));
        RETURN_IF_FAILED(AttachArchiveOf(composeWindow, archive, {entry}, progress));
    }
    return S_OK;
}

// With every entry gone before its turn, there is nothing to attach, as after the dialog.
HRESULT AttachAsOneArchive(HWND composeWindow, const Entries& entries, const char* archiveName,
                           PackingProgress& progress)
{
    std::string archive;
    RETURN_IF_FAILED(PathInHostTemp(archiveName, archive));
    const HRESULT attached = AttachArchiveOf(composeWindow, archive, entries, progress);
    return attached == S_FALSE ? E_ABORT : attached;
}

}  // namespace

HRESULT AttachClipboardFiles(HWND composeWindow)
{
    // The shell objects that pack folders want the multithreaded apartment. A thread that is
    // already single-threaded refuses, and the work goes on in its apartment.
    const ComInit com(COINIT_MULTITHREADED);
    Entries entries;
    RETURN_IF_FAILED(ReadDroppedFiles(composeWindow, entries));

    FileAttachRequest request{entries, {}};
    lstrcpynA(request.archiveName, text::kDefaultArchiveName, sizeof(request.archiveName));
    if (ReadSetting(setting::kConfirmFile) != 0) {
        RETURN_IF_FAILED(RunConfirmDialog(composeWindow, IDD_FILE_CONFIRM, FileConfirmDialogProc,
                                          reinterpret_cast<LPARAM>(&request), text::kBusyFiles));
    }

    const WaitCursor wait;
    // Whatever went away while the dialog was open is left out; with nothing left, there is
    // nothing to attach (not even an empty archive).
    const auto gone = [](const std::string& entry) { return !Exists(entry.c_str()); };
    entries.erase(std::remove_if(entries.begin(), entries.end(), gone), entries.end());
    if (entries.empty()) return E_ABORT;

    // Shown only when packing takes long; gone with the command.
    PackingProgress progress(composeWindow);
    return AttachesFilesSeparately() ? AttachSeparately(composeWindow, entries, progress)
                                     : AttachAsOneArchive(composeWindow, entries, request.archiveName, progress);
}

}  // namespace dl
