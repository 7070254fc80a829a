#include "zip/packing_copy.h"

#include "names/nearest_names.h"
#include "names/path_names.h"
#include "common/file_retry.h"
#include "common/fresh_folder.h"
#include "common/hresult.h"
#include "common/sent_messages.h"
#include "zip/packing_progress.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace dl {

namespace {

// The packing copy keeps the limit of the shell's file copy, whose path lists held at most a
// path, its zero and the list's closing zero in MAX_PATH characters; a folder of the copy leaves
// room for a name of 8.3 form, as the system's folder creation demands. The source is read in
// UTF-16, and its paths are the file system's to judge.
constexpr size_t kLongestFilePath = MAX_PATH - 2;
constexpr size_t kLongestFolderPath = MAX_PATH - 12;

// Room for a path of the packing copy, at most MAX_PATH characters (checked before copying), with
// room to spare for what the handler may have added.
constexpr size_t kCopyPathChars = 2 * MAX_PATH;

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

bool IsSelfOrParent(const wchar_t* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

HRESULT LockFile(const std::wstring& path, PackingSource& source)
{
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    source.locks.push_back(std::move(file));
    return S_OK;
}

// The entries of a folder that the copy takes (linked folders are left out). Folders are listed in
// UTF-16, which holds every name at any length: ANSI find data holds 260 bytes, fewer than a name
// of 130 double-byte characters takes.
HRESULT ListFolder(const std::wstring& folder, std::vector<WIN32_FIND_DATAW>& entries)
{
    WIN32_FIND_DATAW entry{};
    UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return E_FAIL;
    do {
        AnswerSentMessages();
        if (!IsSelfOrParent(entry.cFileName) && !IsLinkedFolder(entry)) entries.push_back(entry);
    } while (FindNextFileW(find.get(), &entry));
    return S_OK;
}

// Each entry is named as the handler can store it: a name the code page lacks becomes its nearest
// name, and names that then meet are kept apart, so that one file never replaces another.
// `copyPath` and `name` are the folder's own below the copy's top (empty for the top).
HRESULT WalkFolder(const std::wstring& folder, const std::wstring& copyPath, const std::string& name,
                   PackingSource& source)
{
    std::vector<WIN32_FIND_DATAW> found;
    RETURN_IF_FAILED(ListFolder(folder, found));
    std::vector<SiblingName> siblings;
    for (const WIN32_FIND_DATAW& entry : found) {
        siblings.push_back(NameInCodePage(entry.cFileName, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0));
    }
    const std::vector<std::string> names = DistinctNames(siblings);
    for (size_t i = 0; i < found.size(); ++i) {
        const bool isFolder = (found[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        PackingSource::Entry entry{folder + L"\\" + found[i].cFileName, copyPath + L"\\" + WideFromAnsi(names[i]),
                                   name.empty() ? names[i] : name + "/" + names[i], isFolder,
                                   FileSize(found[i].nFileSizeHigh, found[i].nFileSizeLow)};
        size_t& longest = isFolder ? source.longestFolder : source.longestFile;
        longest = std::max(longest, entry.copyPath.size());
        if (!isFolder) {
            RETURN_IF_FAILED(LockFile(entry.path, source));
            source.bytes += entry.bytes;
        }
        source.entries.push_back(entry);
        if (isFolder) RETURN_IF_FAILED(WalkFolder(entry.path, entry.copyPath, entry.name, source));
    }
    return S_OK;
}

HRESULT CheckCopyPathLength(size_t characters, bool folder) noexcept
{
    if (characters > (folder ? kLongestFolderPath : kLongestFilePath)) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
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

}  // namespace

HRESULT WalkSource(const wchar_t* path, PackingSource& source)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return E_FAIL;
    source.path = path;
    source.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (source.folder) return WalkFolder(path, {}, {}, source);
    source.bytes = FileSize(data.nFileSizeHigh, data.nFileSizeLow);
    return LockFile(path, source);
}

HRESULT CopySourceTree(const PackingSource& source, const char* target, PackingProgress* progress)
{
    const std::wstring top = WideFromAnsi(target);
    // The ANSI file functions count characters, not bytes: a Japanese path may be far longer in
    // bytes.
    RETURN_IF_FAILED(CheckCopyPathLength(top.size(), source.folder));
    if (source.longestFile) RETURN_IF_FAILED(CheckCopyPathLength(top.size() + source.longestFile, false));
    if (source.longestFolder) RETURN_IF_FAILED(CheckCopyPathLength(top.size() + source.longestFolder, true));
    if (progress) progress->StartCopy(LastPathComponent(source.path.c_str()), source.bytes);
    if (!source.folder) return CopyFileReporting(source.path, top, source.bytes, progress);
    // Files keep their attributes and times; folders are made plain, without the source's
    // attributes (Explorer marks customised folders read-only, and a read-only folder refuses to
    // be removed) or reparse point (the copied folder itself may be a link, which would lead the
    // copy into the user's data).
    RETURN_IF_FAILED(HrFromBool(CreateDirectoryW(top.c_str(), nullptr)));
    for (const PackingSource::Entry& entry : source.entries) {
        AnswerSentMessages();
        const std::wstring path = top + entry.copyPath;
        if (entry.folder) {
            RETURN_IF_FAILED(HrFromBool(CreateDirectoryW(path.c_str(), nullptr)));
        } else {
            RETURN_IF_FAILED(CopyFileReporting(entry.path, path, entry.bytes, progress));
        }
    }
    return S_OK;
}

EntryNames PackedNames(const PackingSource& source, const std::string& entryName)
{
    EntryNames names{source.folder ? entryName + "/" : entryName};
    for (const PackingSource::Entry& entry : source.entries) {
        names.push_back(entryName + "/" + entry.name + (entry.folder ? "/" : ""));
    }
    return names;
}

void DeleteTree(const wchar_t* path) noexcept
{
    wchar_t buffer[kCopyPathChars];
    const size_t length = wcsnlen(path, kCopyPathChars);
    if (length == kCopyPathChars) return;
    std::wmemcpy(buffer, path, length + 1);
    DeleteTreeIn(buffer, length);
}

PackingFolder::~PackingFolder()
{
    wchar_t path[kCopyPathChars];
    if (path_.empty() || MultiByteToWideChar(CP_ACP, 0, path_.c_str(), -1, path, kCopyPathChars) == 0) return;
    DeleteTree(path);
}

HRESULT PackingFolder::Create(const std::string& workFolder)
{
    return CreateFreshFolder(workFolder, FolderName::kGuid, path_);
}

}  // namespace dl
