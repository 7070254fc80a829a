#include "zip/zip_archive.h"

#include "names/nearest_names.h"
#include "names/path_names.h"
#include "common/file_retry.h"
#include "common/fresh_folder.h"
#include "common/hresult.h"
#include "zip/packing_progress.h"
#include "zip/thread_wait.h"
#include "zip/zip_directory.h"

#include <shldisp.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace dl {

namespace {

// The end-of-central-directory record of an archive with no entries and no comment.
constexpr BYTE kEmptyZipImage[22] = {0x50, 0x4B, 0x05, 0x06};

// After the user's Cancel, how long the handler may still take with the copy and the archive
// before they are removed from under it.
constexpr DWORD kHandlerGraceMs = 10000;
// Once no thread started for the request runs, how long an archive may stay incomplete without
// changing: the handler may pack on a thread that was there before.
constexpr DWORD kIncompleteArchiveMs = 10000;
// How often the wait looks at the threads, the archive and the progress dialog.
constexpr DWORD kLookEveryMs = 50;

// The packing copy keeps the limit of the shell's file copy, whose path lists held at most a
// path, its zero and the list's closing zero in MAX_PATH characters; a folder of the copy leaves
// room for a name of 8.3 form, as the system's folder creation demands. The source is read in
// UTF-16, and its paths are the file system's to judge.
constexpr size_t kLongestFilePath = MAX_PATH - 2;
constexpr size_t kLongestFolderPath = MAX_PATH - 12;

// The ANSI file functions count characters, not bytes: a Japanese path may be far longer in
// bytes.
size_t CharacterCount(const char* text) noexcept
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    return length > 0 ? static_cast<size_t>(length - 1) : std::strlen(text);
}

HRESULT CheckCopyPathLength(size_t characters, bool folder) noexcept
{
    if (characters > (folder ? kLongestFolderPath : kLongestFilePath)) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    return S_OK;
}

ULONGLONG FileSize(DWORD high, DWORD low) noexcept { return (static_cast<ULONGLONG>(high) << 32) | low; }

// A junction or symbolic link may lead back up the tree, and what it points at is not part of the
// source. Other reparse points (cloud-synchronised folders and their placeholders, deduplicated
// volumes) sit on folders that hold the user's files like any other. Find data carries the tag;
// none (zero, which no reparse point has, as Wine leaves it for its links) counts as a link.
bool IsLinkedFolder(const WIN32_FIND_DATAW& entry)
{
    constexpr DWORD kFolderWithReparsePoint = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((entry.dwFileAttributes & kFolderWithReparsePoint) != kFolderWithReparsePoint) return false;
    return entry.dwReserved0 == 0 || IsReparseTagNameSurrogate(entry.dwReserved0);
}

template <typename Char>
bool IsSelfOrParent(const Char* name)
{
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

// Calls `visit` for each entry of the folder but "." and ".."; stops at the first failure. Folders
// are walked in UTF-16, which holds every name at any length: ANSI find data holds 260 bytes,
// fewer than a name of 130 double-byte characters takes.
template <typename Visit>
HRESULT ForEachEntry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW entry{};
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return E_FAIL;
    do {
        AnswerSentMessages();
        if (!IsSelfOrParent(entry.cFileName)) RETURN_IF_FAILED(visit(entry));
    } while (FindNextFileW(find.get(), &entry));
    return S_OK;
}

HRESULT LockFolderEntries(const std::wstring& folder, SourceLocks& locks)
{
    return ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (IsLinkedFolder(entry)) return S_OK;
        return LockSourceTree((folder + L"\\" + entry.cFileName).c_str(), locks);
    });
}

// An entry of a source folder that the copy takes, and the name its copy gets.
struct SourceEntry {
    std::wstring name;
    std::string copyName;
    bool folder;
    ULONGLONG bytes;
};

// The entries the copy takes (linked folders are left out), each named as the handler can store
// it: a name the code page lacks becomes its nearest name, and names that then meet are kept
// apart, so that one file never replaces another.
HRESULT ListSourceFolder(const std::wstring& folder, std::vector<SourceEntry>& entries)
{
    std::vector<SiblingName> names;
    RETURN_IF_FAILED(ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (IsLinkedFolder(entry)) return S_OK;
        const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries.push_back({entry.cFileName, {}, isFolder, FileSize(entry.nFileSizeHigh, entry.nFileSizeLow)});
        names.push_back(NameInCodePage(entry.cFileName, isFolder));
        return S_OK;
    }));
    const std::vector<std::string> copies = DistinctNames(names);
    for (size_t i = 0; i < entries.size(); ++i) entries[i].copyName = copies[i];
    return S_OK;
}

// Walks the source as the copy will, before anything is copied: every path of the copy must fit
// (a tree too deep would otherwise fail half-way), and the bytes it takes are added up.
HRESULT MeasureCopyOfFolder(const std::wstring& source, size_t targetLength, ULONGLONG& bytes)
{
    std::vector<SourceEntry> entries;
    RETURN_IF_FAILED(ListSourceFolder(source, entries));
    for (const SourceEntry& entry : entries) {
        const size_t length = targetLength + 1 + CharacterCount(entry.copyName.c_str());
        RETURN_IF_FAILED(CheckCopyPathLength(length, entry.folder));
        if (entry.folder) {
            RETURN_IF_FAILED(MeasureCopyOfFolder(source + L"\\" + entry.name, length, bytes));
        } else {
            bytes += entry.bytes;
        }
    }
    return S_OK;
}

DWORD CALLBACK ReportFileCopy(LARGE_INTEGER, LARGE_INTEGER copied, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                              HANDLE, HANDLE, void* progress)
{
    const HRESULT going = static_cast<PackingProgress*>(progress)->CopyingFile(copied.QuadPart);
    return going == S_OK ? PROGRESS_CONTINUE : PROGRESS_CANCEL;
}

// The system reports while a large file is copied (Wine does not), and the user's Cancel stops
// the copy in the middle of the file: the user's choice, not a failure.
HRESULT CopyFileReporting(const std::wstring& source, const std::wstring& target, ULONGLONG bytes,
                          PackingProgress* progress)
{
    const BOOL copied = CopyFileExW(source.c_str(), target.c_str(), progress ? ReportFileCopy : nullptr, progress,
                                    nullptr, COPY_FILE_FAIL_IF_EXISTS);
    if (progress) RETURN_IF_FAILED(progress->FileCopied(bytes));
    return HrFromBool(copied);
}

// Files are copied with their attributes and times; folders are made plain, without the source's
// attributes (Explorer marks customised folders read-only, and a read-only folder refuses to be
// removed) or reparse point (the copied folder itself may be a link, which would lead the copy
// into the user's data). Linked folders are left out like in the lock walk.
HRESULT CopyTree(const std::wstring& source, const std::wstring& target, PackingProgress* progress)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &data)) return E_FAIL;
    const DWORD attributes = data.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return CopyFileReporting(source, target, FileSize(data.nFileSizeHigh, data.nFileSizeLow), progress);
    }
    RETURN_IF_FAILED(HrFromBool(CreateDirectoryW(target.c_str(), nullptr)));
    std::vector<SourceEntry> entries;
    RETURN_IF_FAILED(ListSourceFolder(source, entries));
    for (const SourceEntry& entry : entries) {
        RETURN_IF_FAILED(CopyTree(source + L"\\" + entry.name, target + L"\\" + WideFromAnsi(entry.copyName), progress));
    }
    return S_OK;
}

// Room for a path of the packing copy, at most MAX_PATH characters (checked before copying), with
// room to spare for what the handler may have added.
constexpr size_t kCopyPathChars = 2 * MAX_PATH;

// `path` holds `length` characters in a buffer of kCopyPathChars.
void DeleteTreeIn(wchar_t* path, size_t length) noexcept
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // A read-only file (the copy keeps its source's attributes) or folder would refuse to go; a
    // link's attributes are those of what it points at, which is not ours.
    if (!link) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        RetryWhileScanned([path] { return DeleteFileW(path) != FALSE; });
        return;
    }
    if (!link && length + 3 <= kCopyPathChars) {
        std::wmemcpy(path + length, L"\\*", 3);
        WIN32_FIND_DATAW entry;
        const UniqueFind find(FindFirstFileW(path, &entry));
        for (BOOL found = static_cast<bool>(find); found; found = FindNextFileW(find.get(), &entry)) {
            AnswerSentMessages();
            const size_t nameLength = std::wcslen(entry.cFileName);
            if (IsSelfOrParent(entry.cFileName) || length + 1 + nameLength >= kCopyPathChars) continue;
            std::wmemcpy(path + length + 1, entry.cFileName, nameLength + 1);
            DeleteTreeIn(path, length + 1 + nameLength);
        }
        path[length] = L'\0';
    }
    RetryWhileScanned([path] { return RemoveDirectoryW(path) != FALSE; });
}

// A fresh folder named by a new GUID in the work folder, for the copy the shell packs.
// That copy is the user's data: the folder goes with this object, on every road out.
class PackingFolder {
public:
    PackingFolder() = default;
    ~PackingFolder()
    {
        wchar_t path[kCopyPathChars];
        if (path_.empty() || MultiByteToWideChar(CP_ACP, 0, path_.c_str(), -1, path, kCopyPathChars) == 0) return;
        DeleteTree(path);
    }
    PackingFolder(const PackingFolder&) = delete;
    PackingFolder& operator=(const PackingFolder&) = delete;

    HRESULT create(const std::string& workFolder)
    {
        return CreateFreshFolder(workFolder, FolderName::kGuid, path_);
    }
    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

// The names below a folder of the copy that a complete archive holds, '/'-separated, folders
// ending in '/'.
HRESULT ListPackedNames(const std::wstring& folder, const std::string& prefix, EntryNames& names)
{
    return ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        // The copy's names are ours, every one held by the code page.
        std::string name;
        if (!ToExactAnsi(entry.cFileName, name)) return E_FAIL;
        name = prefix + name;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(name);
            return S_OK;
        }
        names.push_back(name + "/");
        return ListPackedNames(folder + L"\\" + entry.cFileName, name + "/", names);
    });
}

// The shell's handler reports nothing: after its Cancel, an error or a question answered "no",
// the archive holds whatever the handler had got to. Only an archive with every file and folder
// of the copy (named `name` in it) in it counts as made.
HRESULT CheckArchiveHoldsCopy(const char* archivePath, const std::string& copy, const std::string& name)
{
    const std::wstring wideCopy = WideFromAnsi(copy);
    const DWORD attributes = GetFileAttributesW(wideCopy.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return E_FAIL;
    EntryNames expected;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        expected.push_back(name + "/");
        RETURN_IF_FAILED(ListPackedNames(wideCopy, name + "/", expected));
    } else {
        expected.push_back(name);
    }
    EntryNames names;
    RETURN_IF_FAILED(ReadArchiveEntryNames(archivePath, names));
    return HoldsEveryName(names, expected) ? S_OK : E_FAIL;
}

// A VT_BSTR holding the ANSI path in UTF-16; raises a COM error when it cannot be built.
void PutPath(Variant& variant, const char* path)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length == 0) throw ComError(HRESULT_FROM_WIN32(GetLastError()));
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (!text) throw ComError(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, path, -1, text, length);
    variant.get().vt = VT_BSTR;
    variant.get().bstrVal = text;
}

HRESULT CreateShell(ComPtr<IShellDispatch>& shell)
{
    ComPtr<IUnknown> object;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_Shell, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()));
    RETURN_IF_FAILED(OleRun(object.get()));
    return object->QueryInterface(IID_IShellDispatch, shell.putVoid());
}

HRESULT OpenArchiveFolder(IShellDispatch& shell, const char* archivePath, ComPtr<Folder>& archive)
{
    Variant path;
    PutPath(path, archivePath);
    RETURN_IF_FAILED(shell.NameSpace(path.get(), archive.put()));
    if (!archive) throw ComError(E_POINTER);
    return S_OK;
}

HRESULT RequestCopyInto(Folder& archive, const char* path)
{
    Variant item;
    PutPath(item, path);
    Variant options;
    options.get().vt = VT_INT;
    options.get().intVal = 0;
    return archive.CopyHere(item.get(), options.get());
}


// What the archive's file looks like: a handler that rewrites it changes its size or its time.
struct FileStamp {
    ULONGLONG size = 0;
    ULONGLONG written = 0;
    bool operator==(const FileStamp& other) const { return size == other.size && written == other.written; }
};

FileStamp StampOf(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return {};
    return {FileSize(data.nFileSizeHigh, data.nFileSizeLow),
            FileSize(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

// The archive as the handler writes it. It is read only once it has changed since the request and
// since the last look that found it incomplete, and only while nobody holds it open for writing or
// moving (a file moved over it stays open for a moment); it is held open without write sharing
// while it is read, so that it cannot change half-way. The handler is not disturbed, and a large
// copy is not listed over and over.
class ArchiveWatch {
public:
    ArchiveWatch(const char* archivePath, const std::string& copy, const std::string& name)
        : path_(archivePath), copy_(copy), name_(name), looked_(StampOf(archivePath))
    {
    }

    // Whether it holds the whole copy; `changed` tells whether it changed since the last look.
    bool Complete(bool& changed)
    {
        const FileStamp now = StampOf(path_);
        changed = !(now == looked_);
        if (!changed) return false;
        const UniqueFile held(
            CreateFileA(path_, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held || !(StampOf(path_) == now)) return false;
        looked_ = now;
        return SUCCEEDED(CheckArchiveHoldsCopy(path_, copy_, name_));
    }

private:
    const char* path_;
    const std::string& copy_;
    const std::string& name_;
    FileStamp looked_;
};

enum class PackingTurn { kWait, kDone, kCancelled, kFailed };

// The archive decides, not the threads: a complete one is the handler's work done, whatever still
// runs. An incomplete one is waited for while threads started for the request run, and then for
// a bounded time without change; after the user's Cancel, only as long as the grace lasts.
PackingTurn NextTurn(bool complete, bool cancelled, bool running, ULONGLONG unchangedMs, ULONGLONG cancelledMs)
{
    if (complete) return cancelled ? PackingTurn::kCancelled : PackingTurn::kDone;
    if (cancelled) return running && cancelledMs < kHandlerGraceMs ? PackingTurn::kWait : PackingTurn::kCancelled;
    if (running || unchangedMs < kIncompleteArchiveMs) return PackingTurn::kWait;
    return PackingTurn::kFailed;
}

// Until the archive holds the whole copy (S_OK), the user cancels (E_ABORT) or the handler has
// evidently given up (E_FAIL). The progress dialog stays alive throughout.
HRESULT WaitForCompleteArchive(NewThreads& threads, ArchiveWatch& archive, PackingProgress* progress)
{
    ULONGLONG changedAt = GetTickCount64();
    ULONGLONG cancelledAt = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const bool running = threads.Running();
        bool changed = false;
        const bool complete = archive.Complete(changed);
        if (changed || running) changedAt = now;
        const bool cancelled = progress && progress->Cancelled();
        if (cancelled && cancelledAt == 0) cancelledAt = now;
        switch (NextTurn(complete, cancelled, running, now - changedAt, now - cancelledAt)) {
        case PackingTurn::kDone: return S_OK;
        case PackingTurn::kCancelled: return E_ABORT;
        case PackingTurn::kFailed: return E_FAIL;
        case PackingTurn::kWait: break;
        }
        threads.Wait(kLookEveryMs);
        if (progress) progress->Tick();
    }
}

}  // namespace

HRESULT WriteEmptyZip(const char* archivePath)
{
    UniqueFile file(CreateFileA(archivePath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file.get(), kEmptyZipImage, sizeof(kEmptyZipImage), &written, nullptr);
    file.reset();
    // Created new just now, so ours to remove.
    if (!wrote) DeleteOwnFile(archivePath);
    return HrFromBool(wrote);
}

void DeleteTree(const wchar_t* path) noexcept
{
    wchar_t buffer[kCopyPathChars];
    const size_t length = wcsnlen(path, kCopyPathChars);
    if (length == kCopyPathChars) return;
    std::wmemcpy(buffer, path, length + 1);
    DeleteTreeIn(buffer, length);
}

HRESULT AddToZipArchive(const wchar_t* sourcePath, const char* entryName, const char* archivePath,
                        const std::string& workFolder, PackingProgress* progress)
{
    // Held until the archive is complete; released on every road out, exceptions included.
    SourceLocks locks;
    RETURN_IF_FAILED(LockSourceTree(sourcePath, locks));
    PackingFolder packing;
    RETURN_IF_FAILED(packing.create(workFolder));
    const std::string packingCopy = packing.path() + "\\" + entryName;
    RETURN_IF_FAILED(CopySourceTree(sourcePath, packingCopy.c_str(), progress));
    return PackWithShell(packingCopy, entryName, archivePath, progress);
}

HRESULT LockSourceTree(const wchar_t* path, SourceLocks& locks)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return E_FAIL;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return LockFolderEntries(path, locks);
    UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    locks.push_back(std::move(file));
    return S_OK;
}

HRESULT CopySourceTree(const wchar_t* source, const char* target, PackingProgress* progress)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(source, GetFileExInfoStandard, &data)) return E_FAIL;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t targetLength = CharacterCount(target);
    RETURN_IF_FAILED(CheckCopyPathLength(targetLength, folder));
    ULONGLONG bytes = folder ? 0 : FileSize(data.nFileSizeHigh, data.nFileSizeLow);
    if (folder) RETURN_IF_FAILED(MeasureCopyOfFolder(source, targetLength, bytes));
    if (progress) progress->StartCopy(LastPathComponent(source), bytes);
    return CopyTree(source, WideFromAnsi(target), progress);
}

HRESULT PackWithShell(const std::string& copy, const std::string& entryName, const char* archivePath,
                      PackingProgress* progress)
{
    ComPtr<IShellDispatch> shell;
    RETURN_IF_FAILED(CreateShell(shell));
    ComPtr<Folder> archive;
    RETURN_IF_FAILED(OpenArchiveFolder(*shell.get(), archivePath, archive));
    // Before the first snapshot: the progress dialog may appear now, on a thread of its own.
    if (progress) progress->StartCompressing();
    // Taken once the objects exist: created from the multithreaded apartment, a Shell class of
    // the Apartment model (as Windows registers it) lives on a thread that COM starts for it and
    // keeps until the apartment is left.
    ThreadIdSet before;
    ThreadIdSet after;
    RETURN_IF_FAILED(SnapshotProcessThreads(before));
    ArchiveWatch watch(archivePath, copy, entryName);
    RETURN_IF_FAILED(RequestCopyInto(*archive.get(), copy.c_str()));
    RETURN_IF_FAILED(SnapshotProcessThreads(after));
    NewThreads threads(before, after);
    return WaitForCompleteArchive(threads, watch, progress);
}

}  // namespace dl
