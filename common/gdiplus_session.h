// GDI+ through its flat interface: the start-up that brackets one command, owning types for its
// images and graphics, and the UTF-16 form of an ANSI path that its file functions take.
#pragma once

#include "common/win.h"

#include <windows.h>
#include <gdiplus.h>

namespace dl {

// GDI+ for the span of one command. A failed start is not reported here: every GDI+ call then
// fails, and the caller sees that where it matters (the save).
class GdiplusSession {
public:
    GdiplusSession() noexcept
    {
        const Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread, codecs
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    ~GdiplusSession()
    {
        if (token_) Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR token_ = 0;
};

inline HRESULT HrFromGdiplus(Gdiplus::GpStatus status) noexcept { return status == Gdiplus::Ok ? S_OK : E_FAIL; }

template <typename Image>
struct GpImageTraits {
    using Type = Image*;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type image) noexcept { Gdiplus::DllExports::GdipDisposeImage(image); }
};
struct GpGraphicsTraits {
    using Type = Gdiplus::GpGraphics*;
    static Type invalid() noexcept { return nullptr; }
    static void close(Type graphics) noexcept { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
};

using UniqueGpImage = Unique<GpImageTraits<Gdiplus::GpImage>>;
using UniqueGpBitmap = Unique<GpImageTraits<Gdiplus::GpBitmap>>;
using UniqueGpGraphics = Unique<GpGraphicsTraits>;

// All pixels of a GDI+ bitmap locked in one pixel format, for reading or writing (ImageLockMode);
// unlocked at the end of the scope. Locking for reading makes GDI+ decode every pixel.
class LockedBits {
public:
    LockedBits(Gdiplus::GpBitmap* bitmap, UINT mode, Gdiplus::PixelFormat format) noexcept : bitmap_(bitmap)
    {
        UINT width = 0;
        UINT height = 0;
        Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
        Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
        const Gdiplus::GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
        locked_ = Gdiplus::DllExports::GdipBitmapLockBits(bitmap, &all, mode, format, &data_) == Gdiplus::Ok;
    }
    ~LockedBits()
    {
        if (locked_) Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap_, &data_);
    }
    LockedBits(const LockedBits&) = delete;
    LockedBits& operator=(const LockedBits&) = delete;

    bool locked() const noexcept { return locked_; }
    BYTE* row(int y) const noexcept
    {
        return static_cast<BYTE*>(data_.Scan0) + static_cast<ptrdiff_t>(y) * data_.Stride;
    }

private:
    Gdiplus::GpBitmap* bitmap_;
    Gdiplus::BitmapData data_{};
    bool locked_ = false;
};

// An ANSI path as UTF-16 for GDI+, converted with the system ANSI code page. GDI+ opens files
// without the long-path prefix, so MAX_PATH characters is all it could use; a longer or
// unconvertible path becomes empty, and the GDI+ call given it fails.
class GdiplusPath {
public:
    explicit GdiplusPath(const char* path) noexcept
    {
        if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide_, MAX_PATH)) wide_[0] = L'\0';
    }
    const wchar_t* get() const noexcept { return wide_; }

private:
    wchar_t wide_[MAX_PATH] = {};
};

}  // namespace dl
