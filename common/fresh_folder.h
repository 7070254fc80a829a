// Folders of the plug-in's own in the host's temporary folder, under names nobody else uses.
#pragma once

#include <windows.h>

#include <string>

namespace dl {

enum class FolderName {
    kGuid,   // the registry form of a new GUID, "{8-4-4-4-12}"
    kShort,  // its first eight hex digits: for folders whose paths the host shows or passes on
};

// Creates a folder of a new name in `parent` (which ends in a backslash) and gives its path. A
// name that is already taken is never used, nor what is there removed: another name is drawn, a
// few times over.
HRESULT CreateFreshFolder(const std::string& parent, FolderName kind, std::string& folder);

}  // namespace dl
