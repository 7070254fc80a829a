#include "tests/support/clipboard_blocks.h"

namespace rig {

namespace {

constexpr int kOpenAttempts = 50;
constexpr DWORD kOpenRetryMs = 20;

bool SetBlock(const ClipboardBlock& block)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, block.bytes.size());
    if (!memory) return false;
    CopyMemory(GlobalLock(memory), block.bytes.data(), block.bytes.size());
    GlobalUnlock(memory);
    if (SetClipboardData(block.format, memory)) return true;
    GlobalFree(memory);
    return false;
}

}  // namespace

bool PutBlocks(const std::vector<ClipboardBlock>& blocks, HBITMAP bitmap)
{
    int attempt = 0;
    while (!OpenClipboard(nullptr)) {
        if (++attempt == kOpenAttempts) return false;
        Sleep(kOpenRetryMs);
    }
    EmptyClipboard();
    bool ok = true;
    for (const ClipboardBlock& block : blocks) ok = SetBlock(block) && ok;
    if (bitmap) ok = SetClipboardData(CF_BITMAP, bitmap) && ok;
    CloseClipboard();
    return ok;
}

ClipboardBlock DropBlock(const std::string& list, DWORD filesOffset, bool wide)
{
    DROPFILES header{};
    header.pFiles = filesOffset;
    header.fWide = wide;
    return {CF_HDROP, std::string(reinterpret_cast<const char*>(&header), sizeof(header)) + list};
}

BITMAPV5HEADER AlphaDibHeader(LONG width, LONG height)
{
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(header);
    header.bV5Width = width;
    header.bV5Height = height;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    return header;
}

bool PutWideFiles(const std::vector<std::wstring>& paths)
{
    std::wstring list;
    for (const std::wstring& path : paths) list += path + L'\0';
    list += L'\0';
    const std::string bytes(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(wchar_t));
    return PutBlocks({DropBlock(bytes, sizeof(DROPFILES), true)});
}

}  // namespace rig
