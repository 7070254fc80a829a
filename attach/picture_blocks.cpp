#include "attach/picture_blocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace dl {

namespace {

constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Length, type and CRC around each chunk's data.
constexpr size_t kChunkFrame = 12;
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;

constexpr DWORD kRedMask = 0x00FF0000, kGreenMask = 0x0000FF00, kBlueMask = 0x000000FF, kAlphaMask = 0xFF000000;
// The header that first has an alpha mask (BITMAPV3INFOHEADER): BITMAPINFOHEADER and four masks.
constexpr DWORD kSmallestAlphaHeader = sizeof(BITMAPINFOHEADER) + 4 * sizeof(DWORD);
// As the system reads a colour table ahead of the pixels of a DIB of more than 8 bits.
constexpr DWORD kLargestColorTable = 256;

uint32_t BigEndian32(const BYTE* bytes) noexcept
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

bool HasAlphaInTopByte(const BITMAPV5HEADER& header) noexcept
{
    if (header.bV5BitCount != 32 || header.bV5AlphaMask != kAlphaMask) return false;
    if (header.bV5Compression == BI_RGB) return true;
    return header.bV5Compression == BI_BITFIELDS && header.bV5RedMask == kRedMask &&
           header.bV5GreenMask == kGreenMask && header.bV5BlueMask == kBlueMask;
}

bool AnyAlpha(const BYTE* pixels, uint64_t bytes) noexcept
{
    for (uint64_t at = 3; at < bytes; at += 4) {
        if (pixels[at] != 0) return true;
    }
    return false;
}

}  // namespace

size_t PngFileLength(const BYTE* block, size_t size) noexcept
{
    if (!block || size < sizeof(kPngSignature) || std::memcmp(block, kPngSignature, sizeof(kPngSignature)) != 0) {
        return 0;
    }
    size_t at = sizeof(kPngSignature);
    while (size - at >= kChunkFrame) {
        const uint32_t length = BigEndian32(block + at);
        if (length > kLargestChunk || length > size - at - kChunkFrame) return 0;
        const bool end = std::memcmp(block + at + 4, "IEND", 4) == 0;
        at += kChunkFrame + length;
        if (end) return at;
    }
    return 0;
}

size_t AlphaDib::RowOffset(int y) const noexcept
{
    const int row = bottomUp ? height - 1 - y : y;
    return pixelOffset + static_cast<size_t>(row) * static_cast<size_t>(width) * 4;
}

std::optional<AlphaDib> FindAlphaDib(const BYTE* block, size_t size) noexcept
{
    if (!block || size < sizeof(BITMAPINFOHEADER)) return std::nullopt;
    DWORD headerSize = 0;
    std::memcpy(&headerSize, block, sizeof(headerSize));
    if (headerSize < kSmallestAlphaHeader || headerSize > size) return std::nullopt;
    BITMAPV5HEADER header{};
    std::memcpy(&header, block, std::min<size_t>(headerSize, sizeof(header)));
    if (!HasAlphaInTopByte(header) || header.bV5Width <= 0 || header.bV5Height == 0 ||
        header.bV5Height == INT32_MIN) {
        return std::nullopt;
    }

    const bool bottomUp = header.bV5Height > 0;
    const int height = bottomUp ? header.bV5Height : -header.bV5Height;
    // 64 bits: a width and height of up to 2^31 stay below 2^64 bytes.
    const uint64_t offset = uint64_t{headerSize} + uint64_t{std::min(header.bV5ClrUsed, kLargestColorTable)} * 4;
    const uint64_t pixelBytes = uint64_t(header.bV5Width) * 4 * uint64_t(height);
    if (offset > size || pixelBytes > size - offset) return std::nullopt;
    if (!AnyAlpha(block + offset, pixelBytes)) return std::nullopt;
    return AlphaDib{header.bV5Width, height, static_cast<size_t>(offset), bottomUp};
}

}  // namespace dl
