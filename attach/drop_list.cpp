#include "attach/drop_list.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace dl {

namespace {

bool IsNul(const BYTE* at, size_t unit) noexcept
{
    return unit == 1 ? *at == 0 : (at[0] == 0 && at[1] == 0);
}

}  // namespace

bool IsWellFormedDropList(const void* block, size_t size) noexcept
{
    if (!block || size < sizeof(DROPFILES)) return false;
    DROPFILES header;
    std::memcpy(&header, block, sizeof(header));
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles >= size) return false;

    // Walks the paths one character unit at a time; an empty path closes the list.
    const size_t unit = header.fWide ? sizeof(WCHAR) : 1;
    const auto* bytes = static_cast<const BYTE*>(block);
    bool atPathStart = true;
    for (size_t at = header.pFiles; at + unit <= size; at += unit) {
        const bool nul = IsNul(bytes + at, unit);
        if (nul && atPathStart) return true;
        atPathStart = nul;
    }
    return false;
}

}  // namespace dl
