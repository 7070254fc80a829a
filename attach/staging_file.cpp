#include "attach/staging_file.h"

#include "common/file_retry.h"
#include "common/fresh_folder.h"
#include "common/hresult.h"
#include "common/win.h"
#include "host/host_api.h"

#include <utility>

namespace dl {

namespace {

// The handle is closed on every road out.
HRESULT WriteWholeFile(UniqueFile file, const void* bytes, DWORD size) noexcept
{
    DWORD written = 0;
    RETURN_IF_FAILED(HrFromBool(WriteFile(file.get(), bytes, size, &written, nullptr)));
    if (written != size) return E_FAIL;
    return HrFromBool(CloseHandle(file.release()));
}

}  // namespace

HRESULT WriteStagingFile(const std::string& path, const void* bytes, DWORD size) noexcept
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) return E_FAIL;
    const HRESULT result = WriteWholeFile(std::move(file), bytes, size);
    // Created new just now, so ours to remove.
    if (FAILED(result)) DeleteOwnFile(path.c_str());
    return result;
}

StagingFile::~StagingFile()
{
    if (!path_.empty()) {
        // A copy of the user's file keeps its attributes, and a read-only file refuses to go.
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteOwnFile(path_.c_str());
    }
    if (!folder_.empty()) RetryWhileScanned([this] { return RemoveDirectoryA(folder_.c_str()) != FALSE; });
}

HRESULT StagingFile::makeAt(const std::string& path, const Make& make)
{
    RETURN_IF_FAILED(make(path));
    path_ = path;
    return S_OK;
}

HRESULT StagingFile::makeInHostFolder(const std::string& name, const Make& make)
{
    std::string hostFolder;
    RETURN_IF_FAILED(PathInHostTemp("", hostFolder));
    const std::string path = hostFolder + name;
    const HRESULT made = makeAt(path, make);
    // Whatever is there under that name is not ours, and stays as it is.
    if (SUCCEEDED(made) || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return made;
    RETURN_IF_FAILED(CreateFreshFolder(hostFolder, FolderName::kShort, folder_));
    return makeAt(folder_ + "\\" + name, make);
}

HRESULT StagingFile::moveInto(StagingFile& target, const std::string& name)
{
    RETURN_IF_FAILED(target.makeInHostFolder(name, [this](const std::string& path) {
        return HrFromBool(RetryWhileScanned([&] { return MoveFileA(path_.c_str(), path.c_str()) != FALSE; }));
    }));
    path_.clear();
    return S_OK;
}

}  // namespace dl
