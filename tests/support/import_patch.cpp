#include "tests/support/import_patch.h"

namespace rig {

namespace {

// The import slot of a function, found through the names the module imports it by.
ULONG_PTR* ImportSlot(BYTE* base, const IMAGE_IMPORT_DESCRIPTOR& library, const char* function)
{
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library.OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library.FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0) return &slots->u1.Function;
    }
    return nullptr;
}

}  // namespace

bool ReplaceImport(HMODULE module, const char* library, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD importsAt = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + importsAt); entry->Name; ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), library) != 0) continue;
        ULONG_PTR* slot = ImportSlot(base, *entry, function);
        if (!slot) continue;
        DWORD protection = 0;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
        *slot = reinterpret_cast<ULONG_PTR>(replacement);
        VirtualProtect(slot, sizeof(*slot), protection, &protection);
        return true;
    }
    return false;
}

}  // namespace rig
