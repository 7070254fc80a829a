#include "tests/rig/import_hook.h"

namespace rig {

FARPROC ReplaceImport(HMODULE module, const char* dll, const char* function, FARPROC replacement)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const FARPROC real = GetProcAddress(GetModuleHandleA(dll), function);
    if (!real) return nullptr;

    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), dll) != 0) continue;
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function;
             ++thunk) {
            if (reinterpret_cast<FARPROC>(thunk->u1.Function) != real) continue;
            DWORD oldProtection = 0;
            VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), PAGE_READWRITE, &oldProtection);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), oldProtection, &oldProtection);
            return real;
        }
    }
    return nullptr;
}

}  // namespace rig
