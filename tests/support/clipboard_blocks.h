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

// Replaces the clipboard with these blocks, in order, and the bitmap as CF_BITMAP when one is
// given (the clipboard takes it).
bool PutBlocks(const std::vector<ClipboardBlock>& blocks, HBITMAP bitmap = nullptr);
// A CF_HDROP block: the DROPFILES header with `filesOffset` and `wide`, followed by `list`.
ClipboardBlock DropBlock(const std::string& list, DWORD filesOffset = sizeof(DROPFILES), bool wide = false);
// The header of a CF_DIBV5 block as browsers write a picture with transparency: 32 bits,
// BI_BITFIELDS, the alpha in the top byte; a positive height puts the rows bottom-up.
BITMAPV5HEADER AlphaDibHeader(LONG width, LONG height);
// CF_HDROP with UTF-16 paths, as file managers write it.
bool PutWideFiles(const std::vector<std::wstring>& paths);

}  // namespace rig
