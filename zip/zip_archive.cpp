#include "zip/zip_archive.h"

namespace dl {

HRESULT WriteEmptyZip(const char*) { return E_NOTIMPL; }

HRESULT AddToZipArchive(const char*, const char*) { return E_NOTIMPL; }

}  // namespace dl
