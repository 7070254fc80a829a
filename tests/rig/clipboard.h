// Puts real content on the system clipboard, as other programs would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace rig {

// Each replaces the whole clipboard; false when the clipboard could not be opened or set.
bool ClearClipboard();
// A CF_TEXT block of exactly these bytes (no terminator is added).
bool PutTextBlock(const std::string& bytes);
// CF_TEXT with its terminating NUL.
bool PutText(const std::string& text);
bool PutUnicodeText(const std::wstring& text);
// CF_BITMAP; the clipboard takes ownership of the bitmap.
bool PutBitmap(HBITMAP bitmap);
// CF_DIB only (the system then offers CF_BITMAP too).
bool PutDib(const BITMAPINFOHEADER& header, const void* pixels, size_t pixelBytes);
// CF_HDROP with ANSI paths, in order.
bool PutFiles(const std::vector<std::string>& paths);
// Several formats at once.
bool PutTextAndBitmap(const std::string& text, HBITMAP bitmap);
bool PutTextAndFiles(const std::string& text, const std::vector<std::string>& paths);

// A screen-compatible bitmap whose pixel (x, y) is color(x, y).
HBITMAP MakeScreenBitmap(int width, int height, const std::function<COLORREF(int x, int y)>& color);
// A 24-bit screen-compatible bitmap whose pixel (x, y) is PatternColor(x, y).
HBITMAP MakePatternBitmap(int width, int height);
COLORREF PatternColor(int x, int y);

}  // namespace rig
