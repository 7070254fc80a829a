#include "attach/attach_command.h"

#include "attach/drop_list.h"
#include "attach/file_dialog.h"
#include "attach/staging_file.h"
#include "names/nearest_names.h"
#include "names/path_names.h"
#include "common/hresult.h"
#include "common/texts.h"
#include "common/win.h"
#include "host/host_api.h"
#include "resources/resource.h"
#include "settings/settings_store.h"
#include "zip/packing_progress.h"
#include "zip/zip_archive.h"

#include <shellapi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace dl {

namespace {

using Entries = std::vector<DroppedEntry>;

bool Exists(const wchar_t* path) noexcept { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Any program can fill the clipboard. The root of a drive, share or volume, or a path that climbs
// ("C:\work\.." is a whole drive), would have the packing walk and copy far more than the user
// meant; a relative path would name whatever lies in the host's current folder.
bool IsUsableEntry(const wchar_t* path) noexcept
{
    return IsFullPath(path) && !IsDriveRoot(path) && !IsShareOrVolumeRoot(path) && !HasRelativeComponent(path) &&
           Exists(path);
}

// The entry's own name: its last component, less the backslash that ends a folder's path given
// as "D:\work\docs\".
std::wstring OwnName(const std::wstring& path)
{
    std::wstring name = LastPathComponent(path.c_str());
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    return name;
}

DroppedEntry MakeEntry(std::wstring path)
{
    DroppedEntry entry{std::move(path), false, {}, {}};
    entry.exact = ToExactAnsi(entry.path, entry.ansiPath);
    if (!entry.exact) entry.ansiPath = BestFitAnsi(entry.path);
    entry.name = NameInCodePage(OwnName(entry.path), false).name;
    return entry;
}

// The usable paths of the clipboard's file list, in its order; E_ABORT when none is left. The list
// is read in UTF-16, each path into a buffer of the length the list reports: deep folders with
// double-byte names pass 260 bytes long before 260 characters.
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

    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, &path[0], static_cast<UINT>(path.size())));
        if (IsUsableEntry(path.c_str())) entries.push_back(MakeEntry(std::move(path)));
    }
    return entries.empty() ? E_ABORT : S_OK;
}

// In one archive, top-level names that meet (two 見積書.txt from different folders) go in as
// "見積書 (2).txt": the shell's handler would otherwise ask on its own whether to replace one.
void KeepTopLevelNamesApart(Entries& entries)
{
    std::vector<SiblingName> siblings;
    for (const DroppedEntry& entry : entries) {
        siblings.push_back(NameInCodePage(OwnName(entry.path), IsFolder(entry.path)));
    }
    const std::vector<std::string> names = DistinctNames(siblings);
    for (size_t i = 0; i < entries.size(); ++i) entries[i].name = names[i];
}

// The shell's packing objects want the multithreaded apartment. It is entered for the packing
// alone: the confirmation dialog (with the IME the name is typed in) and the host's attach run in
// the apartment the host chose. A thread that already has one keeps it.
class PackingApartment {
public:
    explicit PackingApartment(PackingProgress& progress) noexcept : progress_(progress) {}
    // The progress dialog is an object of this apartment and goes before it.
    ~PackingApartment() { progress_.Close(); }
    PackingApartment(const PackingApartment&) = delete;
    PackingApartment& operator=(const PackingApartment&) = delete;

private:
    PackingProgress& progress_;
    const ComInit com_{COINIT_MULTITHREADED};
};

// A new archive of the sources that are still there when their turn comes (packing an earlier
// one takes time), attached and then removed: it holds the user's data, so it goes on every road
// out, attached or failed, cancelled or raised. S_FALSE, with nothing attached and nothing left,
// when every source had gone.
HRESULT AttachArchiveOf(HWND composeWindow, const std::string& archiveName, const Entries& sources,
                        PackingProgress& progress)
{
    StagingFile archive;
    RETURN_IF_FAILED(archive.makeInHostFolder(
        archiveName, [](const std::string& path) { return WriteEmptyZip(path.c_str()); }));
    std::string workFolder;
    RETURN_IF_FAILED(PathInHostTemp("", workFolder));
    HRESULT result = S_FALSE;
    {
        const PackingApartment apartment(progress);
        for (const DroppedEntry& source : sources) {
            if (!Exists(source.path.c_str())) continue;
            RETURN_IF_FAILED(AddToZipArchive(source.path.c_str(), source.name.c_str(), archive.path().c_str(),
                                             workFolder, &progress));
            result = S_OK;
        }
    }
    if (result == S_OK) Host().CompAttachFile(composeWindow, archive.path().c_str(), nullptr);
    return result;
}

// A file whose path the code page holds goes from where it lies. Any other goes as a copy under its
// nearest name, which goes again right after.
HRESULT AttachFile(HWND composeWindow, const DroppedEntry& entry)
{
    if (entry.exact) {
        Host().CompAttachFile(composeWindow, entry.ansiPath.c_str(), nullptr);
        return S_OK;
    }
    StagingFile copy;
    RETURN_IF_FAILED(copy.makeInHostFolder(entry.name, [&entry](const std::string& path) {
        // Fails if the target exists.
        return HrFromBool(CopyFileW(entry.path.c_str(), WideFromAnsi(path).c_str(), TRUE));
    }));
    Host().CompAttachFile(composeWindow, copy.path().c_str(), nullptr);
    return S_OK;
}

// Files go one by one; each folder as an archive named after it. An entry gone by its turn is
// left out. The first failure, or the user's Cancel, stops, and what was attached before it stays
// attached.
HRESULT AttachSeparately(HWND composeWindow, const Entries& entries, PackingProgress& progress)
{
    for (const DroppedEntry& entry : entries) {
        const DWORD attributes = GetFileAttributesW(entry.path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RETURN_IF_FAILED(AttachFile(composeWindow, entry));
            continue;
        }
        RETURN_IF_FAILED(AttachArchiveOf(composeWindow, entry.name + ".zip", {entry}, progress));
    }
    return S_OK;
}

// With every entry gone before its turn, there is nothing to attach, as after the dialog.
HRESULT AttachAsOneArchive(HWND composeWindow, const Entries& entries, const char* archiveName,
                           PackingProgress& progress)
{
    const HRESULT attached = AttachArchiveOf(composeWindow, archiveName, entries, progress);
    return attached == S_FALSE ? E_ABORT : attached;
}

}  // namespace

HRESULT AttachClipboardFiles(HWND composeWindow)
{
    Entries entries;
    RETURN_IF_FAILED(ReadDroppedFiles(composeWindow, entries));
    // Before the dialog, which lists each entry under the name it goes in as.
    if (!AttachesFilesSeparately()) KeepTopLevelNamesApart(entries);

    FileAttachRequest request{entries, {}};
    lstrcpynA(request.archiveName, text::kDefaultArchiveName, sizeof(request.archiveName));
    if (ReadSetting(setting::kConfirmFile) != 0) {
        RETURN_IF_FAILED(RunConfirmDialog(composeWindow, IDD_FILE_CONFIRM, FileConfirmDialogProc,
                                          reinterpret_cast<LPARAM>(&request), text::kBusyFiles));
    }

    const WaitCursor wait;
    // Whatever went away while the dialog was open is left out; with nothing left, there is
    // nothing to attach (not even an empty archive).
    const auto gone = [](const DroppedEntry& entry) { return !Exists(entry.path.c_str()); };
    entries.erase(std::remove_if(entries.begin(), entries.end(), gone), entries.end());
    if (entries.empty()) return E_ABORT;

    // Shown only when packing takes long; gone with the command.
    PackingProgress progress(composeWindow);
    return AttachesFilesSeparately() ? AttachSeparately(composeWindow, entries, progress)
                                     : AttachAsOneArchive(composeWindow, entries, request.archiveName, progress);
}

}  // namespace dl
