#include "tests/rig/clipboard.h"

#include <shlobj.h>

#include <cstring>
#include <functional>

namespace rig {

namespace {

// Clipboard data must have an owner window; a message-only window of the calling thread.
HWND OwnerWindow()
{
    static thread_local HWND window = CreateWindowExA(0, "STATIC", "clipboard owner", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                      nullptr, GetModuleHandleA(nullptr), nullptr);
    return window;
}

bool Replace(const std::function<bool()>& put)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (OpenClipboard(OwnerWindow())) {
            EmptyClipboard();
            const bool ok = put();
            CloseClipboard();
            return ok;
        }
        Sleep(20);
    }
    return false;
}

HGLOBAL BlockOf(const void* bytes, size_t size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    std::memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    return block;
}

bool SetBlock(UINT format, const void* bytes, size_t size)
{
    HGLOBAL block = BlockOf(bytes, size);
    if (block && SetClipboardData(format, block)) return true;
    if (block) GlobalFree(block);
    return false;
}

bool SetFiles(const std::vector<std::string>& paths)
{
    std::string list;
    for (const std::string& path : paths) list += path + '\0';
    list += '\0';
    std::string data(sizeof(DROPFILES), '\0');
    auto* header = reinterpret_cast<DROPFILES*>(&data[0]);
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    data += list;
    return SetBlock(CF_HDROP, data.data(), data.size());
}

bool SetText(const std::string& text) { return SetBlock(CF_TEXT, text.c_str(), text.size() + 1); }

}  // namespace

bool ClearClipboard()
{
    return Replace([] { return true; });
}

bool PutTextBlock(const std::string& bytes)
{
    return Replace([&] { return SetBlock(CF_TEXT, bytes.data(), bytes.size()); });
}

bool PutText(const std::string& text)
{
    return Replace([&] { return SetText(text); });
}

bool PutUnicodeText(const std::wstring& text)
{
    return Replace([&] { return SetBlock(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t)); });
}

bool PutBitmap(HBITMAP bitmap)
{
    return Replace([&] { return SetClipboardData(CF_BITMAP, bitmap) != nullptr; });
}

bool PutDib(const BITMAPINFOHEADER& header, const void* pixels, size_t pixelBytes)
{
    std::string data(reinterpret_cast<const char*>(&header), sizeof(header));
    data.append(reinterpret_cast<const char*>(pixels), pixelBytes);
    return Replace([&] { return SetBlock(CF_DIB, data.data(), data.size()); });
}

bool PutFiles(const std::vector<std::string>& paths)
{
    return Replace([&] { return SetFiles(paths); });
}

bool PutTextAndBitmap(const std::string& text, HBITMAP bitmap)
{
    return Replace([&] { return SetText(text) && SetClipboardData(CF_BITMAP, bitmap) != nullptr; });
}

bool PutTextAndFiles(const std::string& text, const std::vector<std::string>& paths)
{
    return Replace([&] { return SetText(text) && SetFiles(paths); });
}

COLORREF PatternColor(int x, int y)
{
    return RGB((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF);
}

HBITMAP MakeScreenBitmap(int width, int height, const std::function<COLORREF(int x, int y)>& color)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = color(x, y);
            pixels[static_cast<size_t>(y) * width + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    }
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    SetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HBITMAP MakePatternBitmap(int width, int height) { return MakeScreenBitmap(width, height, PatternColor); }

}  // namespace rig
