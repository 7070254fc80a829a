// Clipboard contents that the rig's own helpers do not make: raw blocks of any format exactly as
// another program might have written them (well-formed or not), and file lists in UTF-16.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace rig {

struct ClipboardBlock {
    UINT format;
    std::string bytes;
};

// Replaces the clipboard with these blocks, in order.
bool PutBlocks(const std::vector<ClipboardBlock>& blocks);
// A CF_HDROP block: the DROPFILES header with `filesOffset` and `wide`, followed by `list`.
ClipboardBlock DropBlock(const std::string& list, DWORD filesOffset = sizeof(DROPFILES), bool wide = false);
// CF_HDROP with UTF-16 paths, as file managers write it.
bool PutWideFiles(const std::vector<std::wstring>& paths);

}  // namespace rig
