// The shell's packing: its compressed-folder handler adds the packing copy to the archive, and
// the archive is watched until it holds the whole copy. The handler reports nothing, works on
// whichever thread it likes and may call back into ours, so the archive alone decides.
#pragma once

#include "zip/zip_directory.h"

#include <windows.h>

#include <string>

namespace dl {

class PackingProgress;

// The shell gives no ZIP folder for the archive: another archiver has taken over the .zip file
// type, or the system's handler is missing.
constexpr HRESULT kNoZipFolder = HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION);

// Has the handler add the packing copy `copy` (of `bytes`) to the archive, and returns once the
// archive holds every one of `expected` and nobody writes it any more, whenever the handler did
// the work and on whichever thread. kNoZipFolder when the shell gives no folder for an archive
// whose name ends in .zip; E_FAIL when the archive vanishes, or stays incomplete and unchanged for
// a time that grows with `bytes`, with no thread started since the request left; E_ABORT on
// Cancel in `progress`, once the handler is done or its grace is over. Raises a ComError when a
// path cannot be passed on.
HRESULT PackWithShell(const std::string& copy, const EntryNames& expected, ULONGLONG bytes, const char* archivePath,
                      PackingProgress* progress = nullptr);

}  // namespace dl
