#include "names/path_names.h"

#include <cwchar>

namespace dl {

namespace {

bool IsSeparator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

bool IsDotComponent(const wchar_t* start, size_t length) noexcept
{
    return (length == 1 || length == 2) && std::wcsncmp(start, L"..", length) == 0;
}

// Components that hold text; empty ones and a trailing separator do not count.
size_t ComponentCount(const wchar_t* path) noexcept
{
    size_t count = 0;
    for (const wchar_t* p = path; *p; ++p) {
        if (!IsSeparator(*p) && (p == path || IsSeparator(p[-1]))) ++count;
    }
    return count;
}

}  // namespace

const wchar_t* LastPathComponent(const wchar_t* path) noexcept
{
    const wchar_t* start = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' && p[1]) start = p + 1;
    }
    return start;
}

bool IsDriveRoot(const wchar_t* path) noexcept
{
    const wchar_t* colon = std::wcschr(path, L':');
    return colon && std::wcslen(colon) < 3;
}

bool IsShareOrVolumeRoot(const wchar_t* path) noexcept
{
    if (path[0] != L'\\' || path[1] != L'\\') return false;
    const wchar_t* rest = path + 2;
    const bool device = (rest[0] == L'?' || rest[0] == L'.') && rest[1] == L'\\';
    if (!device) return ComponentCount(rest) <= 2;  // server and share
    rest += 2;
    if (_wcsnicmp(rest, L"UNC\\", 4) == 0) return ComponentCount(rest + 4) <= 2;
    return ComponentCount(rest) <= 1;  // the volume's name or drive
}

bool IsFullPath(const wchar_t* path) noexcept
{
    const bool driveLetter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (driveLetter) return path[1] == L':' && path[2] == L'\\';
    return path[0] == L'\\' && path[1] == L'\\';
}

bool HasRelativeComponent(const wchar_t* path) noexcept
{
    const wchar_t* start = path;
    for (const wchar_t* p = path;; ++p) {
        if (!*p || IsSeparator(*p)) {
            if (IsDotComponent(start, static_cast<size_t>(p - start))) return true;
            if (!*p) return false;
            start = p + 1;
        }
    }
}

}  // namespace dl
