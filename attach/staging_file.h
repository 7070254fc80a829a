// Writing an attachment's file into the host's temporary folder.
#pragma once

#include <windows.h>

#include <string>

namespace dl {

// Writes the bytes as the whole file; an existing file of that name is replaced. A file that
// could not be written whole, or closed, goes again: nothing half-written stays in the host's
// folder.
HRESULT WriteStagingFile(const std::string& path, const void* bytes, DWORD size) noexcept;

}  // namespace dl
