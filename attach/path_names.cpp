#include "attach/path_names.h"

#include <windows.h>

namespace dl {

const char* LastPathComponent(const char* path) noexcept
{
    const char* start = path;
    for (const char* p = path; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            if (!p[1]) break;
            ++p;
        } else if (*p == '\\' && p[1]) {
            start = p + 1;
        }
    }
    return start;
}

}  // namespace dl
