// What an attached PNG holds, read back with GDI+ from memory: its size and its pixels.
#pragma once

#include <windows.h>

#include <string>

namespace rig {

class PngFacts {
public:
    // Decodes the bytes; valid() is false when they are no image GDI+ can read.
    explicit PngFacts(const std::string& bytes);
    ~PngFacts();
    PngFacts(const PngFacts&) = delete;
    PngFacts& operator=(const PngFacts&) = delete;

    bool valid() const { return bitmap_ != nullptr; }
    UINT width() const;
    UINT height() const;
    // The pixel as 0xAARRGGBB.
    DWORD argb(UINT x, UINT y) const;

private:
    ULONG_PTR gdiplus_ = 0;
    void* bitmap_ = nullptr;
};

}  // namespace rig
