#include "zip/shell_packing.h"

#include "common/hresult.h"
#include "common/win.h"
#include "zip/packing_progress.h"
#include "zip/thread_wait.h"

#include <shldisp.h>

#include <cstring>
#include <string>

namespace dl {

namespace {

// After the user's Cancel, how long the handler may still take with the copy and the archive
// before they are removed from under it.
constexpr ULONGLONG kHandlerGraceMs = 10000;
// Once no thread started since the request runs, how long an archive may stay incomplete without
// changing: the handler may work on a thread that was there before, and read the whole copy
// before it writes anything, 1 ms for every 20 KB.
constexpr ULONGLONG kQuietMs = 30000;
constexpr ULONGLONG kBytesPerQuietMs = 20000;
// The longest time between two looks; a handler that moves a file into the archive's folder
// wakes the wait at once.
constexpr DWORD kLookEveryMs = 100;

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

// The handler opens an archive by its extension: without ".zip" (a name the user typed so) no
// handler would, whichever the system has. ('.' is never a trail byte.)
bool EndsInZip(const char* path)
{
    const size_t length = std::strlen(path);
    return length >= 4 && lstrcmpiA(path + length - 4, ".zip") == 0;
}

HRESULT OpenArchiveFolder(IShellDispatch& shell, const char* archivePath, ComPtr<Folder>& archive)
{
    Variant path;
    PutPath(path, archivePath);
    RETURN_IF_FAILED(shell.NameSpace(path.get(), archive.put()));
    if (archive) return S_OK;
    return EndsInZip(archivePath) ? kNoZipFolder : E_FAIL;
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

// The request, with the threads of the process before it in `before`. The objects go as soon as
// it has returned: the wait needs neither, and COM keeps alive what the handler still uses (a
// handler's folder may hold the archive open until it is released).
HRESULT RequestPacking(const std::string& copy, const char* archivePath, ThreadIdSet& before)
{
    ComPtr<IShellDispatch> shell;
    RETURN_IF_FAILED(CreateShell(shell));
    ComPtr<Folder> archive;
    RETURN_IF_FAILED(OpenArchiveFolder(*shell.get(), archivePath, archive));
    // Taken once the objects exist: created from the multithreaded apartment, a Shell class of
    // the Apartment model (as Windows registers it) lives on a thread that COM starts for it and
    // keeps until the apartment is left.
    RETURN_IF_FAILED(SnapshotProcessThreads(before));
    return RequestCopyInto(*archive.get(), copy.c_str());
}

// What the archive's file looks like: a handler that rewrites it changes its size or its time.
struct FileStamp {
    bool there = false;
    ULONGLONG size = 0;
    ULONGLONG written = 0;
    bool operator==(const FileStamp& other) const
    {
        return there == other.there && size == other.size && written == other.written;
    }
};

ULONGLONG Join(DWORD high, DWORD low) noexcept { return (static_cast<ULONGLONG>(high) << 32) | low; }

FileStamp StampOf(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return {};
    return {true, Join(data.nFileSizeHigh, data.nFileSizeLow),
            Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

struct ArchiveLook {
    bool complete = false;
    bool vanished = false;
    bool changed = false;  // since the last look, as far as it could be read
};

// The archive as the handler writes it. It is read only once it has changed since the request and
// since it was last read, and only while nobody holds it open for writing or moving (a file moved
// over it stays open for a moment); it is held shut to writers only while its directory is read.
// A handler that moves a new archive over it must not find it open. One that cannot be read
// counts as unchanged: whatever holds it (the handler's folder, an indexer, a scanner) may hold
// it for good.
class ArchiveWatch {
public:
    ArchiveWatch(const char* archivePath, const EntryNames& expected)
        : path_(archivePath), expected_(expected), looked_(StampOf(archivePath)), read_(looked_)
    {
    }

    ArchiveLook Look()
    {
        const FileStamp now = StampOf(path_);
        const bool moved = !(now == looked_);
        looked_ = now;
        ArchiveLook look;
        look.vanished = !now.there;
        if (look.vanished || now == read_) return look;
        EntryNames names;
        {
            const UniqueFile held(CreateFileA(path_, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!held || !(StampOf(path_) == now)) return look;
            look.changed = moved;
            read_ = now;
            if (FAILED(ReadArchiveEntryNames(path_, names))) return look;
        }
        look.complete = HoldsEveryName(names, expected_);
        return look;
    }

private:
    const char* path_;
    const EntryNames& expected_;
    FileStamp looked_;
    FileStamp read_;
};

// Signalled when a file appears, goes or is renamed in the archive's folder: a handler that
// writes elsewhere moves its archive in. Without it (a folder that cannot be watched) the wait
// looks at its pace.
class FolderChanges {
public:
    explicit FolderChanges(const char* archivePath)
    {
        std::string folder = archivePath;
        folder.erase(folder.find_last_of('\\') + 1);
        changes_.reset(FindFirstChangeNotificationA(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME));
    }
    HANDLE handle() const noexcept { return changes_ ? changes_.get() : nullptr; }
    // After a wait that it ended.
    void Rearm()
    {
        if (changes_ && WaitForSingleObject(changes_.get(), 0) == WAIT_OBJECT_0) {
            FindNextChangeNotification(changes_.get());
        }
    }

private:
    UniqueChangeNotification changes_;
};

enum class PackingTurn { kWait, kDone, kCancelled, kFailed };

// The archive decides, not the threads: a complete one is the handler's work done, whatever still
// runs. An incomplete one is waited for while threads started since the request run, and then for
// a bounded time without change, unless it has vanished; after the user's Cancel, only as long as
// the grace lasts.
PackingTurn NextTurn(const ArchiveLook& archive, bool cancelled, bool running, ULONGLONG quietMs,
                     ULONGLONG quietLimitMs, ULONGLONG cancelledMs)
{
    if (archive.complete) return cancelled ? PackingTurn::kCancelled : PackingTurn::kDone;
    if (cancelled) return running && cancelledMs < kHandlerGraceMs ? PackingTurn::kWait : PackingTurn::kCancelled;
    if (running) return PackingTurn::kWait;
    if (archive.vanished || quietMs >= quietLimitMs) return PackingTurn::kFailed;
    return PackingTurn::kWait;
}

// Until the archive holds the whole copy (S_OK), the user cancels (E_ABORT) or the handler has
// evidently given up (E_FAIL). The threads are counted anew at each look: a handler may hand its
// work to a thread it starts later. The progress dialog stays alive throughout.
HRESULT WaitForCompleteArchive(const ThreadIdSet& before, ArchiveWatch& archive, FolderChanges& changes,
                               ULONGLONG quietLimitMs, PackingProgress* progress)
{
    NewThreads threads(before, {});
    ULONGLONG quietSince = GetTickCount64();
    ULONGLONG cancelledAt = 0;
    for (;;) {
        ThreadIdSet current;
        if (SUCCEEDED(SnapshotProcessThreads(current))) {
            threads.Take(before, current, progress ? progress->ThreadId() : 0);
        }
        const bool running = threads.Running();
        const ArchiveLook look = archive.Look();
        const ULONGLONG now = GetTickCount64();
        if (look.changed || running) quietSince = now;
        const bool cancelled = progress && progress->Cancelled();
        if (cancelled && cancelledAt == 0) cancelledAt = now;
        switch (NextTurn(look, cancelled, running, now - quietSince, quietLimitMs, now - cancelledAt)) {
        case PackingTurn::kDone: return S_OK;
        case PackingTurn::kCancelled: return E_ABORT;
        case PackingTurn::kFailed: return E_FAIL;
        case PackingTurn::kWait: break;
        }
        threads.Wait(kLookEveryMs, changes.handle());
        changes.Rearm();
        if (progress) progress->Tick();
    }
}

}  // namespace

HRESULT PackWithShell(const std::string& copy, const EntryNames& expected, ULONGLONG bytes, const char* archivePath,
                      PackingProgress* progress)
{
    if (progress) progress->StartCompressing();
    // Before the request: a handler may finish before it returns.
    ArchiveWatch watch(archivePath, expected);
    FolderChanges changes(archivePath);
    ThreadIdSet before;
    RETURN_IF_FAILED(RequestPacking(copy, archivePath, before));
    return WaitForCompleteArchive(before, watch, changes, kQuietMs + bytes / kBytesPerQuietMs, progress);
}

}  // namespace dl
