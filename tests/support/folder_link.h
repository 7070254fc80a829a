// Linked folders (junctions, symbolic links) for the tests of walks that must not follow them.
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

// Marks the folders read-only: under Wine, by taking their Unix write permission. False when the
// mark does not show.
bool MarkFoldersReadOnly(const std::vector<std::string>& folders);

}  // namespace rig
