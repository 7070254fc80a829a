#include "zip/zip_archive.h"

#include "attach/nearest_names.h"
#include "common/hresult.h"
#include "plugin/host_api.h"
#include "zip/thread_wait.h"

#include <shldisp.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace dl {

namespace {

// The end-of-central-directory record of an archive with no entries and no comment.
constexpr BYTE kEmptyZipImage[22] = {0x50, 0x4B, 0x05, 0x06};

constexpr int kGuidTextCapacity = 40;

// The packing copy's path keeps the limit of the shell's file copy, whose path lists held at most
// a path, its zero and the list's closing zero in MAX_PATH bytes.
HRESULT CheckCopyPathLength(const char* path)
{
    if (std::strlen(path) + 2 > MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return S_OK;
}

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

// The user's folders are walked in UTF-16, which holds every name; the packing folder, whose
// names are ours, in ANSI.
HANDLE FindFirst(const std::string& folder, WIN32_FIND_DATAA& entry)
{
    return FindFirstFileA((folder + "\\*").c_str(), &entry);
}
HANDLE FindFirst(const std::wstring& folder, WIN32_FIND_DATAW& entry)
{
    return FindFirstFileW((folder + L"\\*").c_str(), &entry);
}
BOOL FindNext(HANDLE find, WIN32_FIND_DATAA& entry) { return FindNextFileA(find, &entry); }
BOOL FindNext(HANDLE find, WIN32_FIND_DATAW& entry) { return FindNextFileW(find, &entry); }

// Calls `visit` for each entry of the folder but "." and ".."; stops at the first failure.
template <typename String, typename Visit>
HRESULT ForEachEntry(const String& folder, Visit visit)
{
    std::conditional_t<std::is_same_v<String, std::string>, WIN32_FIND_DATAA, WIN32_FIND_DATAW> entry{};
    UniqueFind find(FindFirst(folder, entry));
    if (!find) return E_FAIL;
    do {
        if (!IsSelfOrParent(entry.cFileName)) RETURN_IF_FAILED(visit(entry));
    } while (FindNext(find.get(), entry));
    return S_OK;
}

HRESULT LockFolderEntries(const std::wstring& folder, SourceLocks& locks)
{
    return ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (IsLinkedFolder(entry)) return S_OK;
        return LockSourceTree((folder + L"\\" + entry.cFileName).c_str(), locks);
    });
}

// Files are copied with their attributes and times, folders made anew with theirs; linked folders
// are left out like in the lock walk. A folder with a reparse point (the copied folder itself may
// be a link) is made plain: with it as template, the copy would get the reparse point too and
// lead into the user's data. Each copy is named as the handler can store it: a name the code page
// lacks becomes its nearest name, and names that then meet are kept apart, so that one file never
// replaces another.
HRESULT CopyTree(const std::wstring& source, const std::wstring& target)
{
    const DWORD attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return E_FAIL;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return HrFromBool(CopyFileW(source.c_str(), target.c_str(), TRUE));
    const BOOL made = (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                          ? CreateDirectoryW(target.c_str(), nullptr)
                          : CreateDirectoryExW(source.c_str(), target.c_str(), nullptr);
    RETURN_IF_FAILED(HrFromBool(made));
    std::vector<std::wstring> entries;
    std::vector<SiblingName> names;
    RETURN_IF_FAILED(ForEachEntry(source, [&](const WIN32_FIND_DATAW& entry) {
        if (IsLinkedFolder(entry)) return S_OK;
        entries.emplace_back(entry.cFileName);
        names.push_back(NameInCodePage(entry.cFileName, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0));
        return S_OK;
    }));
    const std::vector<std::string> copies = DistinctNames(names);
    for (size_t i = 0; i < entries.size(); ++i) {
        RETURN_IF_FAILED(CopyTree(source + L"\\" + entries[i], target + L"\\" + WideFromAnsi(copies[i])));
    }
    return S_OK;
}

// A fresh folder named by a new GUID in the host's temporary folder, for the copy the shell packs.
HRESULT CreatePackingFolder(std::string& folder)
{
    GUID id;
    RETURN_IF_FAILED(CoCreateGuid(&id));
    wchar_t text[kGuidTextCapacity];
    if (StringFromGUID2(id, text, kGuidTextCapacity) == 0) return E_FAIL;
    std::string name;
    for (const wchar_t* c = text; *c; ++c) name += static_cast<char>(*c);  // digits, letters, braces
    RETURN_IF_FAILED(PathInHostTemp(name, folder));
    return HrFromBool(CreateDirectoryA(folder.c_str(), nullptr));
}

// Removes a tree of our own making (the shell's delete is several times slower). A linked folder
// is removed as a link and never entered: what it points at is not ours. What cannot be removed
// stays in the temporary folder, which the host cleans.
void DeleteTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // The copy keeps the source's attributes, and a read-only file refuses to go.
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ForEachEntry(path, [&](const WIN32_FIND_DATAA& entry) {
            DeleteTree(path + "\\" + entry.cFileName);
            return S_OK;
        });
    }
    RemoveDirectoryA(path.c_str());
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

}  // namespace

HRESULT WriteEmptyZip(const char* archivePath)
{
    UniqueFile file(CreateFileA(archivePath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    DWORD written = 0;
    return HrFromBool(WriteFile(file.get(), kEmptyZipImage, sizeof(kEmptyZipImage), &written, nullptr));
}

HRESULT AddToZipArchive(const wchar_t* sourcePath, const char* entryName, const char* archivePath)
{
    // Held until the archive is complete; released on every road out, exceptions included.
    SourceLocks locks;
    RETURN_IF_FAILED(LockSourceTree(sourcePath, locks));
    std::string packingFolder;
    RETURN_IF_FAILED(CreatePackingFolder(packingFolder));
    const std::string packingCopy = packingFolder + "\\" + entryName;
    RETURN_IF_FAILED(CopySourceTree(sourcePath, packingCopy.c_str()));
    // On failure the handler may still be reading the copy: it stays.
    RETURN_IF_FAILED(PackWithShell(packingCopy.c_str(), archivePath));
    ReleaseSourceLocks(locks);
    DeleteTree(packingFolder);
    return S_OK;
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

HRESULT ReleaseSourceLocks(SourceLocks& locks)
{
    for (UniqueFile& lock : locks) lock.reset();
    locks.clear();
    return S_OK;
}

HRESULT CopySourceTree(const wchar_t* source, const char* target)
{
    RETURN_IF_FAILED(CheckCopyPathLength(target));
    return CopyTree(source, WideFromAnsi(target));
}

HRESULT PackWithShell(const char* item, const char* archivePath)
{
    ComPtr<IShellDispatch> shell;
    RETURN_IF_FAILED(CreateShell(shell));
    ComPtr<Folder> archive;
    RETURN_IF_FAILED(OpenArchiveFolder(*shell.get(), archivePath, archive));
    // Taken once the objects exist: created from the multithreaded apartment, a Shell class of
    // the Apartment model (as Windows registers it) lives on a thread that COM starts for it and
    // keeps until the apartment is left, and waiting for that thread would never end.
    ThreadIdSet before;
    ThreadIdSet after;
    RETURN_IF_FAILED(SnapshotProcessThreads(before));
    RETURN_IF_FAILED(RequestCopyInto(*archive.get(), item));
    RETURN_IF_FAILED(SnapshotProcessThreads(after));
    return WaitForNewThreads(before, after);
}

}  // namespace dl
