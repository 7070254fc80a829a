#include "zip/zip_archive.h"

#include "common/file_retry.h"
#include "common/hresult.h"
#include "common/win.h"

namespace dl {

namespace {

// The end-of-central-directory record of an archive with no entries and no comment.
constexpr BYTE kEmptyZipImage[22] = {0x50, 0x4B, 0x05, 0x06};

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

HRESULT AddToZipArchive(const wchar_t* sourcePath, const char* entryName, const char* archivePath,
                        const std::string& workFolder, PackingProgress* progress)
{
    // Held until the archive is complete; released on every road out, exceptions included, after
    // the copy has gone.
    PackingSource source;
    RETURN_IF_FAILED(WalkSource(sourcePath, source));
    PackingFolder packing;
    RETURN_IF_FAILED(packing.Create(workFolder));
    const std::string packingCopy = packing.path() + "\\" + entryName;
    RETURN_IF_FAILED(CopySourceTree(source, packingCopy.c_str(), progress));
    return PackWithShell(packingCopy, PackedNames(source, entryName), source.bytes, archivePath, progress);
}

}  // namespace dl
