// What an archive holds, read from its central directory: the one list of every entry that a ZIP
// file keeps, whoever wrote it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

using EntryNames = std::vector<std::string>;

// The names of the archive's entries in the ANSI code page, '/'-separated, folders ending in '/'.
// Names stored in UTF-8 or in the OEM code page are converted. Archives in ZIP64 form are read
// too. E_FAIL for a file that is not a readable archive.
HRESULT ReadArchiveEntryNames(const char* archivePath, EntryNames& names);

// Whether every one of `expected` is among `names`. A folder also counts as there when an entry
// below it is: not every writer stores folders as entries of their own.
bool HoldsEveryName(const EntryNames& names, const EntryNames& expected);

}  // namespace dl
