#include "tests/rig/wine_gaps.h"

#include <windows.h>

namespace rig {

bool UnderWineWow64()
{
    static const bool under = [] {
        BOOL wow64 = FALSE;
        return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
               GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    }();
    return under;
}

}  // namespace rig
