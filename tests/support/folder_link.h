// Folders that Wine makes only through Unix: linked folders (junctions, symbolic links) for the
// tests of walks that must not follow them, and read-only folders.
#pragma once

#include <string>
#include <vector>

namespace rig {

// Makes `link` a link to the existing folder `target`. Windows makes a symbolic link; Wine has
// none of its own (CreateSymbolicLinkA does nothing there), but shows a Unix symbolic link as a
// linked folder, so one is made with the Unix `ln`. False when neither gives a linked folder.
bool MakeFolderLink(const std::string& link, const std::string& target);

// Removes the link itself, never what it points at; true when it is gone.
bool RemoveFolderLink(const std::string& link);

// Marks the folders read-only. Wine takes that mark of a folder from its Unix permissions alone, so
// they lose their write permission. False when they do not show the mark.
bool MarkFoldersReadOnly(const std::vector<std::string>& folders);

}  // namespace rig
