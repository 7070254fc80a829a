// What a copied picture's clipboard blocks hold besides the bitmap: the program's own PNG file,
// and the alpha of a 32-bit device-independent bitmap. Blocks come from any program, so they
// are read with their size and never past it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

namespace dl {

// The length of the PNG file at the start of the block, checked by its form without decoding
// it: the signature, IHDR first with sane values, every chunk whole inside the block with its
// CRC-32 right, image data, and IEND. 0 when any of that fails. Bytes after IEND are the block's
// slack (the system may give a block more bytes than the program put), not part of the file.
size_t PngFileLength(const BYTE* block, size_t size) noexcept;

// The signature and the IHDR chunk, which open every PNG file.
constexpr size_t kPngHeaderSize = 33;

struct PixelSize {
    UINT width;
    UINT height;
};

// The pixel size in the IHDR chunk at the start of a PNG file (signature, then IHDR whole, with
// its CRC-32 right and sane values); the first kPngHeaderSize bytes are enough. Nothing otherwise.
std::optional<PixelSize> PngPixelSize(const BYTE* file, size_t size) noexcept;

// Where a 32-bit bitmap's pixels lie in its block: rows of width * 4 bytes, each pixel B, G, R, A
// (the layout of GDI+'s 32bppARGB).
struct AlphaDib {
    int width;
    int height;
    size_t pixelOffset;  // the first row in the block
    bool bottomUp;       // the first row in the block is the picture's bottom row

    // The offset in the block of row y, counted from the picture's top.
    size_t RowOffset(int y) const noexcept;
};

// A CF_DIB or CF_DIBV5 block whose header gives 32 bits per pixel with the alpha in the top
// byte (alpha mask FF000000, from a header of 56 bytes or more; BI_RGB, or BI_BITFIELDS with the
// masks of BI_RGB), whose pixels lie wholly inside the block and whose alpha is not 0
// everywhere. Nothing otherwise: a picture whose alpha bytes are all 0 means no transparency.
std::optional<AlphaDib> FindAlphaDib(const BYTE* block, size_t size) noexcept;

}  // namespace dl
