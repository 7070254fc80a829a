#include "attach/path_names.h"

#include <windows.h>

#include <cstring>

namespace dl {

namespace {

bool IsLeadByte(char c) noexcept { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

bool IsDotComponent(const char* start, size_t length) noexcept
{
    return (length == 1 || length == 2) && std::strncmp(start, "..", length) == 0;
}

}  // namespace

const char* LastPathComponent(const char* path) noexcept
{
    const char* start = path;
    for (const char* p = path; *p; ++p) {
        if (IsLeadByte(*p)) {
            if (!p[1]) break;
            ++p;
        } else if (*p == '\\' && p[1]) {
            start = p + 1;
        }
    }
    return start;
}

bool IsDriveRoot(const char* path) noexcept
{
    // A colon is never the second byte of a double-byte character, so a byte search finds it.
    const char* colon = std::strchr(path, ':');
    return colon && std::strlen(colon) < 3;
}

bool IsFullPath(const char* path) noexcept
{
    const bool driveLetter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (driveLetter) return path[1] == ':' && path[2] == '\\';
    return path[0] == '\\' && path[1] == '\\';
}

bool HasRelativeComponent(const char* path) noexcept
{
    const char* start = path;
    for (const char* p = path;; ++p) {
        if (!*p || *p == '\\' || *p == '/') {
            if (IsDotComponent(start, static_cast<size_t>(p - start))) return true;
            if (!*p) return false;
            start = p + 1;
        } else if (IsLeadByte(*p) && p[1]) {
            ++p;
        }
    }
}

}  // namespace dl
