#include "tests/support/png_facts.h"

#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

namespace rig {

using namespace Gdiplus::DllExports;

namespace {

Gdiplus::GpBitmap* AsBitmap(void* bitmap) { return static_cast<Gdiplus::GpBitmap*>(bitmap); }

}  // namespace

PngFacts::PngFacts(const std::string& bytes)
{
    const Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr);
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    if (!stream) return;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok) bitmap_ = bitmap;
    stream->Release();
}

PngFacts::~PngFacts()
{
    if (bitmap_) GdipDisposeImage(AsBitmap(bitmap_));
    if (gdiplus_) Gdiplus::GdiplusShutdown(gdiplus_);
}

UINT PngFacts::width() const
{
    UINT width = 0;
    GdipGetImageWidth(AsBitmap(bitmap_), &width);
    return width;
}

UINT PngFacts::height() const
{
    UINT height = 0;
    GdipGetImageHeight(AsBitmap(bitmap_), &height);
    return height;
}

DWORD PngFacts::argb(UINT x, UINT y) const
{
    Gdiplus::ARGB pixel = 0;
    GdipBitmapGetPixel(AsBitmap(bitmap_), static_cast<INT>(x), static_cast<INT>(y), &pixel);
    return pixel;
}

}  // namespace rig
