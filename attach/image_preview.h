// The arithmetic of the image confirmation dialog: where the preview goes in its frame, and the
// size label's text.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dl {

struct PreviewPlacement {
    int x;
    int y;
    int width;
    int height;
};

// The image shrunk to fit the frame (never enlarged, aspect kept) and centred in it. Sizes in
// pixels; an image of size 0 (one that could not be loaded) stays 0.
PreviewPlacement PlacePreview(double imageWidth, double imageHeight, double frameWidth, double frameHeight) noexcept;

// The label's buffer, in characters with the terminating NUL.
constexpr size_t kImageSizeLabelSize = 40;

// "1024x768 [146KB]": pixel size, then the file size in KB (1024 bytes, rounded down, at least
// 1) or, from 1 MB (1048576 bytes) on, in MB with one decimal, halves rounded up. Fails with
// the formatting error when the text does not fit.
HRESULT FormatImageSizeText(UINT width, UINT height, DWORD fileBytes, char* label, size_t labelSize) noexcept;

}  // namespace dl
