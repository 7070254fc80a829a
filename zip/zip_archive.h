// ZIP archives written by the shell's compressed-folder handler: the plug-in holds no
// compression code of its own.
#pragma once

#include <windows.h>

namespace dl {

// Creates (or truncates) the file as an archive with no entries.
HRESULT WriteEmptyZip(const char* archivePath);

// Adds one file or folder as one top-level entry; returns only when the archive is complete.
// Besides failures it returns, it can raise an exception, which the attach command catches.
HRESULT AddToZipArchive(const char* sourcePath, const char* archivePath);

}  // namespace dl
