// ZIP archives written by the shell's compressed-folder handler: the plug-in holds no
// compression code of its own. A source is copied into the host's folder (packing_copy.h) and the
// handler packs that copy (shell_packing.h).
#pragma once

#include "zip/packing_copy.h"
#include "zip/shell_packing.h"

#include <windows.h>

#include <string>

namespace dl {

class PackingProgress;

// Creates the file new as an archive with no entries. Fails when something is at the path
// already, which stays as it is.
HRESULT WriteEmptyZip(const char* archivePath);

// Adds one file or folder as one top-level entry named `entryName` (a name the code page holds);
// returns only when the archive is complete and holds the whole of it. The source's files are
// held shut to writers meanwhile. The copy that the handler packs is made in a fresh folder inside
// `workFolder` (which ends in a backslash). E_ABORT when the user cancelled in `progress`, which
// may be null; kNoZipFolder when the shell has no ZIP folder for the archive. Nothing of the copy
// it packs stays on any road; the archive is the caller's to remove when this fails. Besides
// failures it returns, it can raise an exception, which the attach command catches.
HRESULT AddToZipArchive(const wchar_t* sourcePath, const char* entryName, const char* archivePath,
                        const std::string& workFolder, PackingProgress* progress = nullptr);

}  // namespace dl
