#include "attach/staging_file.h"

#include "common/hresult.h"
#include "common/win.h"

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
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) return E_FAIL;
    const HRESULT result = WriteWholeFile(std::move(file), bytes, size);
    if (FAILED(result)) DeleteFileA(path.c_str());
    return result;
}

}  // namespace dl
