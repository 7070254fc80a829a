#pragma once

#include <windows.h>

#include <string>

namespace zipstandin {

// Adds `source` (a file, or a folder with its whole tree) to the existing ZIP file
// `archive` as one top-level item, keeping the entries already there. Entry names are
// CP932 bytes with '/' separators and the data is stored uncompressed. The archive is
// rebuilt in a temporary file beside it and then swapped in, so a reader sees either
// the old or the complete new archive. Both paths must be absolute.
// Returns ERROR_SUCCESS or a Win32 error code; on failure the archive is unchanged. `partial`
// writes only the first half of the source's entries (none of a single file) and still succeeds.
DWORD AppendToArchive(const std::wstring& archive, const std::wstring& source, bool partial = false);

}  // namespace zipstandin
