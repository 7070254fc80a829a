#include "attach/picture_blocks.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace dl {

namespace {

constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Length, type and CRC around each chunk's data.
constexpr size_t kChunkFrame = 12;
// Also the largest width and height.
constexpr uint32_t kLargestChunk = 0x7FFFFFFF;
constexpr uint32_t kHeaderLength = 13;
// The bit depths each colour type allows, as bit (1 << depth): grey, none, RGB, palette, grey
// with alpha, none, RGB with alpha.
constexpr uint32_t kDepthsOfColourType[] = {0x10116, 0, 0x10100, 0x116, 0x10100, 0, 0x10100};
constexpr BYTE kLargestDepth = 16;

// The CRC-32 of PNG (reflected polynomial EDB88320), sixteen bytes a step with a table for each:
// the check runs over every byte of a picture of megabytes while the user waits.
constexpr size_t kCrcSlices = 16;
using CrcTables = std::array<std::array<uint32_t, 256>, kCrcSlices>;

constexpr CrcTables MakeCrcTables() noexcept
{
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1)));
        tables[0][i] = value;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (size_t i = 0; i < 256; ++i) tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    }
    return tables;
}
constexpr CrcTables kCrc = MakeCrcTables();

constexpr DWORD kRedMask = 0x00FF0000, kGreenMask = 0x0000FF00, kBlueMask = 0x000000FF, kAlphaMask = 0xFF000000;
// The header that first has an alpha mask (BITMAPV3INFOHEADER): BITMAPINFOHEADER and four masks.
constexpr DWORD kSmallestAlphaHeader = sizeof(BITMAPINFOHEADER) + 4 * sizeof(DWORD);
// As the system reads a colour table ahead of the pixels of a DIB of more than 8 bits.
constexpr DWORD kLargestColorTable = 256;

uint32_t BigEndian32(const BYTE* bytes) noexcept
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

uint32_t LittleEndian32(const BYTE* bytes) noexcept
{
    return bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

uint32_t Crc32(const BYTE* bytes, size_t size) noexcept
{
    uint32_t crc = 0xFFFFFFFF;
    for (; size >= kCrcSlices; bytes += kCrcSlices, size -= kCrcSlices) {
        // The CRC so far enters with the first four bytes.
        const uint32_t first = crc ^ LittleEndian32(bytes);
        crc = 0;
        for (size_t i = 0; i < kCrcSlices; ++i) {
            crc ^= kCrc[kCrcSlices - 1 - i][i < 4 ? (first >> (8 * i)) & 0xFF : bytes[i]];
        }
    }
    for (; size > 0; ++bytes, --size) crc = kCrc[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// The size of the chunk at `at`, frame included, when all of it lies inside the block and its
// CRC over type and data is right; 0 otherwise.
size_t WholeChunkSize(const BYTE* block, size_t size, size_t at) noexcept
{
    if (size - at < kChunkFrame) return 0;
    const uint32_t length = BigEndian32(block + at);
    if (length > kLargestChunk || length > size - at - kChunkFrame) return 0;
    if (Crc32(block + at + 4, 4 + size_t{length}) != BigEndian32(block + at + 8 + length)) return 0;
    return kChunkFrame + length;
}

bool IsChunk(const BYTE* chunk, const char (&type)[5]) noexcept { return std::memcmp(chunk + 4, type, 4) == 0; }

// Width and height from 1 to 2^31 - 1, a bit depth that the colour type allows, the one
// compression and filter method, no or Adam7 interlacing.
bool IsSaneHeader(const BYTE* data) noexcept
{
    const uint32_t width = BigEndian32(data), height = BigEndian32(data + 4);
    const BYTE depth = data[8], colourType = data[9];
    return width >= 1 && width <= kLargestChunk && height >= 1 && height <= kLargestChunk &&
           colourType < std::size(kDepthsOfColourType) && depth <= kLargestDepth &&
           ((kDepthsOfColourType[colourType] >> depth) & 1) && data[10] == 0 && data[11] == 0 && data[12] <= 1;
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

std::optional<PixelSize> PngPixelSize(const BYTE* file, size_t size) noexcept
{
    if (!file || size < sizeof(kPngSignature) || std::memcmp(file, kPngSignature, sizeof(kPngSignature)) != 0) {
        return std::nullopt;
    }
    const BYTE* header = file + sizeof(kPngSignature);
    if (WholeChunkSize(file, size, sizeof(kPngSignature)) != kChunkFrame + kHeaderLength || !IsChunk(header, "IHDR") ||
        !IsSaneHeader(header + 8)) {
        return std::nullopt;
    }
    return PixelSize{BigEndian32(header + 8), BigEndian32(header + 12)};
}

size_t PngFileLength(const BYTE* block, size_t size) noexcept
{
    if (!PngPixelSize(block, size)) return 0;
    bool imageData = false;
    for (size_t at = kPngHeaderSize;;) {
        const size_t chunk = WholeChunkSize(block, size, at);
        if (chunk == 0) return 0;
        if (IsChunk(block + at, "IEND")) return imageData ? at + chunk : 0;
        imageData = imageData || IsChunk(block + at, "IDAT");
        at += chunk;
    }
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
