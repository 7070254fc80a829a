// ZIP archives written by the shell's compressed-folder handler: the plug-in holds no
// compression code of its own.
#pragma once

#include "common/win.h"

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

class PackingProgress;

// Creates the file new as an archive with no entries. Fails when something is at the path
// already, which stays as it is.
HRESULT WriteEmptyZip(const char* archivePath);

// Adds one file or folder as one top-level entry named `entryName` (a name the code page holds);
// returns only when the archive is complete and holds the whole of it. The copy that the handler
// packs is made in a fresh folder inside `workFolder` (which ends in a backslash). E_ABORT when
// the user cancelled in `progress`, which may be null. Nothing of the copy it packs stays on any road; the
// archive is the caller's to remove when this fails. Besides failures it returns, it can raise an
// exception, which the attach command catches.
HRESULT AddToZipArchive(const wchar_t* sourcePath, const char* entryName, const char* archivePath,
                        const std::string& workFolder, PackingProgress* progress = nullptr);

// ---- The steps of AddToZipArchive ----

// Files of a source tree held open for shared reading, so that nobody changes them while they are
// packed; clearing the list (or its end) releases them.
using SourceLocks = std::vector<UniqueFile>;

// Opens every file under `path` (or the file itself) into `locks`. E_FAIL when a file cannot be
// opened for shared reading or a folder cannot be listed; linked folders (junctions, symbolic
// links) below `path` are not entered, folders with other reparse points are.
HRESULT LockSourceTree(const wchar_t* path, SourceLocks& locks);

// Copies a file or folder to `target` (which names the copy itself), leaving out the linked
// folders below it as the lock walk does: the shell's own copy would follow a link back up the
// tree again and again until the path limit, and the archive would hold the folder many times
// over. Names inside become names the code page holds, none alike (see DistinctNames). Every file
// path of the copy may be at most 258 characters long, every folder path of the copy 248; a
// longer one gives 0x8007007A before anything is copied. Reports to `progress` (which may be
// null) and stops with E_ABORT on its Cancel. A failure part-way leaves what was copied so far.
HRESULT CopySourceTree(const wchar_t* source, const char* target, PackingProgress* progress = nullptr);

// Removes a tree of our own making, the packing copy (the shell's delete is several times slower),
// whatever attributes its files and folders carry. A linked folder is removed as a link and never
// entered: what it points at is not ours. What cannot be removed stays in the temporary folder,
// which the host cleans, as does a tree whose paths pass twice MAX_PATH. Nothing is allocated, so
// that the copy goes even on the way out of a failure for want of memory.
void DeleteTree(const wchar_t* path) noexcept;

// Has the shell's compressed-folder handler add the packing copy `copy` to the archive as the
// top-level entry `entryName`, and returns once the archive holds all of it and nobody writes it
// any more, whenever the handler did the work and on whichever thread. E_FAIL when the archive
// stays incomplete with no thread started for the request left and no change for a while; E_ABORT
// on Cancel in `progress`, once the handler is done or its grace is over. Raises as
// AddToZipArchive does.
HRESULT PackWithShell(const std::string& copy, const std::string& entryName, const char* archivePath,
                      PackingProgress* progress = nullptr);

}  // namespace dl
