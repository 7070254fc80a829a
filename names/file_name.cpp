#include "names/file_name.h"

#include <windows.h>

#include <cstring>
#include <string_view>

namespace dl {

namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Windows looks for a device under the part before the first dot, trailing blanks removed:
// "con", "con.", "con .txt" and "nul " all open a device, not a file.
bool NamesDevice(const char* name) noexcept
{
    std::string_view base(name);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);

    for (const char* device : {"con", "prn", "aux", "nul"}) {
        if (EqualsIgnoringAsciiCase(base, device)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        const std::string_view stem = base.substr(0, 3);
        return EqualsIgnoringAsciiCase(stem, "com") || EqualsIgnoringAsciiCase(stem, "lpt");
    }
    return false;
}

bool HoldsRefusedCharacter(const char* name) noexcept
{
    for (const char* p = name; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            // The trail byte belongs to the character (表 is 95 5C); a lead byte at the very end stands alone.
            if (!p[1]) return false;
            ++p;
            continue;
        }
        if (std::strchr(kCharactersRefusedInFileNames, *p)) return true;
    }
    return false;
}

// Windows drops a trailing dot or blank from a name, so the file would not be the one named
// ("a." becomes "a"); "." and ".." end in a dot too, and name folders.
bool EndsInDotOrBlank(const char* name) noexcept
{
    const char last = name[std::strlen(name) - 1];
    return last == '.' || last == ' ';
}

}  // namespace

bool IsValidFileName(const char* name) noexcept
{
    if (!name || !*name) return false;
    return !HoldsRefusedCharacter(name) && !NamesDevice(name) && !EndsInDotOrBlank(name);
}

}  // namespace dl
