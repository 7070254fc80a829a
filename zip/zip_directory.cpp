#include "zip/zip_directory.h"

#include "common/hresult.h"
#include "common/win.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>

namespace dl {

namespace {

constexpr std::uint64_t kEndSignature = 0x06054B50;
constexpr std::uint64_t kZip64EndSignature = 0x06064B50;
constexpr std::uint64_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint64_t kEntrySignature = 0x02014B50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kLongestComment = 0xFFFF;
constexpr std::uint64_t kUtf8NamesFlag = 0x0800;
// Far beyond the directory of any archive made for a mail; a larger figure is a damaged file.
constexpr std::uint64_t kLargestDirectory = 256u << 20;

struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// A little-endian field of `width` bytes; the caller has checked that it lies inside `bytes`.
std::uint64_t Field(const std::string& bytes, std::size_t at, int width)
{
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<BYTE>(bytes[at + i]);
    return value;
}

HRESULT ReadAt(HANDLE file, std::uint64_t offset, std::uint64_t size, std::string& bytes)
{
    bytes.resize(static_cast<std::size_t>(size));
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(file, &bytes[0], static_cast<DWORD>(size), &read, &where) || read != size) return E_FAIL;
    return S_OK;
}

// The end record is the last thing in the file but its comment, which may hold its signature.
bool FindEndRecord(const std::string& tail, std::size_t& end)
{
    if (tail.size() < kEndSize) return false;
    for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (Field(tail, at, 4) == kEndSignature && at + kEndSize + Field(tail, at + 20, 2) == tail.size()) {
            end = at;
            return true;
        }
    }
    return false;
}

// Where the directory lies and how many entries it holds. Figures too large for the end record
// are all ones there and stand in the ZIP64 end record, which the locator before it points at.
HRESULT LocateDirectory(HANDLE file, const std::string& tail, Directory& directory)
{
    std::size_t end = 0;
    if (!FindEndRecord(tail, end)) return E_FAIL;
    directory.entries = Field(tail, end + 10, 2);
    directory.size = Field(tail, end + 12, 4);
    directory.offset = Field(tail, end + 16, 4);
    if (directory.entries != 0xFFFF && directory.size != 0xFFFFFFFF && directory.offset != 0xFFFFFFFF) return S_OK;

    const std::size_t locator = end - kZip64LocatorSize;
    if (end < kZip64LocatorSize || Field(tail, locator, 4) != kZip64LocatorSignature) return E_FAIL;
    std::string record;
    RETURN_IF_FAILED(ReadAt(file, Field(tail, locator + 8, 8), kZip64EndSize, record));
    if (Field(record, 0, 4) != kZip64EndSignature) return E_FAIL;
    directory.entries = Field(record, 32, 8);
    directory.size = Field(record, 40, 8);
    directory.offset = Field(record, 48, 8);
    return S_OK;
}

// Names without the UTF-8 flag are in the OEM code page; on a Japanese system that is the ANSI
// one. A character the ANSI code page lacks becomes the default character, never a look-alike
// that could name another file.
std::string AnsiName(const std::string& stored, bool utf8)
{
    if (!utf8 && GetOEMCP() == GetACP()) return stored;
    const UINT codePage = utf8 ? CP_UTF8 : CP_OEMCP;
    const int storedLength = static_cast<int>(stored.size());
    const int wideLength = MultiByteToWideChar(codePage, 0, stored.data(), storedLength, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(codePage, 0, stored.data(), storedLength, &wide[0], wideLength);
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &ansi[0], length, nullptr, nullptr);
    return ansi;
}

HRESULT ReadEntryNames(const std::string& records, std::uint64_t entries, EntryNames& names)
{
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        if (records.size() - at < kEntrySize || Field(records, at, 4) != kEntrySignature) return E_FAIL;
        const std::size_t nameLength = static_cast<std::size_t>(Field(records, at + 28, 2));
        const std::size_t rest = static_cast<std::size_t>(Field(records, at + 30, 2) + Field(records, at + 32, 2));
        if (records.size() - at - kEntrySize < nameLength + rest) return E_FAIL;
        const bool utf8 = (Field(records, at + 8, 2) & kUtf8NamesFlag) != 0;
        names.push_back(AnsiName(records.substr(at + kEntrySize, nameLength), utf8));
        at += kEntrySize + nameLength + rest;
    }
    return S_OK;
}

}  // namespace

HRESULT ReadArchiveEntryNames(const char* archivePath, EntryNames& names)
{
    const UniqueFile file(CreateFileA(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return E_FAIL;
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.get(), &fileSize)) return E_FAIL;
    const auto size = static_cast<std::uint64_t>(fileSize.QuadPart);
    const std::uint64_t tailSize = std::min<std::uint64_t>(size, kZip64LocatorSize + kEndSize + kLongestComment);
    std::string tail;
    RETURN_IF_FAILED(ReadAt(file.get(), size - tailSize, tailSize, tail));
    Directory directory;
    RETURN_IF_FAILED(LocateDirectory(file.get(), tail, directory));
    if (directory.size > kLargestDirectory || directory.offset > size || size - directory.offset < directory.size) {
        return E_FAIL;
    }
    std::string records;
    RETURN_IF_FAILED(ReadAt(file.get(), directory.offset, directory.size, records));
    return ReadEntryNames(records, directory.entries, names);
}

bool HoldsEveryName(const EntryNames& names, const EntryNames& expected)
{
    std::set<std::string> held;
    for (const std::string& name : names) {
        held.insert(name);
        // '/' is never the second byte of a double-byte character.
        for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            held.insert(name.substr(0, slash + 1));
        }
    }
    return std::all_of(expected.begin(), expected.end(), [&](const std::string& name) { return held.count(name) != 0; });
}

}  // namespace dl
