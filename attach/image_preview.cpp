#include "attach/image_preview.h"

#include "common/hresult.h"

#include <strsafe.h>

#include <cstdint>

namespace dl {

namespace {

constexpr DWORD kKilobyte = 1024;
constexpr DWORD kMegabyte = 1024 * 1024;
// The pixel size alone, as "%ux%u", in characters with the NUL.
constexpr size_t kDimensionTextSize = 20;

}  // namespace

PreviewPlacement PlacePreview(double imageWidth, double imageHeight, double frameWidth, double frameHeight) noexcept
{
    double w = imageWidth;
    double h = imageHeight;
    if (w > frameWidth) {
        h = (frameWidth / w) * h;
        w = frameWidth;
    }
    if (h > frameHeight) {
        w = (frameHeight / h) * w;
        h = frameHeight;
    }
    // Casts truncate toward zero, as the centring wants.
    const int x = frameWidth > w ? static_cast<int>((frameWidth - w) * 0.5) : 0;
    const int y = frameHeight > h ? static_cast<int>((frameHeight - h) * 0.5) : 0;
    return {x, y, static_cast<int>(w), static_cast<int>(h)};
}

HRESULT FormatImageSizeText(UINT width, UINT height, DWORD fileBytes, char* label, size_t labelSize) noexcept
{
    char dimensions[kDimensionTextSize];
    RETURN_IF_FAILED(StringCchPrintfA(dimensions, kDimensionTextSize, "%ux%u", width, height));
    if (fileBytes >= kMegabyte) {
        // Tenths of a megabyte in integers: "%.1f" rounds an exact half (1.25) either way,
        // depending on the C runtime.
        const uint64_t tenths = (uint64_t{fileBytes} * 10 + kMegabyte / 2) / kMegabyte;
        return StringCchPrintfA(label, labelSize, "%s [%u.%uMB]", dimensions, static_cast<unsigned>(tenths / 10),
                                static_cast<unsigned>(tenths % 10));
    }
    if (fileBytes >= kKilobyte) return StringCchPrintfA(label, labelSize, "%s [%luKB]", dimensions, fileBytes / kKilobyte);
    return StringCchPrintfA(label, labelSize, "%s [1KB]", dimensions);
}

}  // namespace dl
