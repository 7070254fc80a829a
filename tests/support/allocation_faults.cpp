#include "tests/support/allocation_faults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

namespace rig {

namespace {

// Allocations to go until the one that fails; 0 when none is to.
std::atomic<int> g_failIn{0};
std::atomic<int> g_counted{0};
std::mutex g_lock;
std::set<void*> g_live;

bool FailsNow()
{
    ++g_counted;
    int left = g_failIn.load();
    while (left > 0 && !g_failIn.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

void Track(void* block)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (block) g_live.insert(block);
}

void Untrack(void* block)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.erase(block);
}

void* __cdecl PluginMalloc(size_t size)
{
    if (FailsNow()) return nullptr;
    void* block = std::malloc(size);
    Track(block);
    return block;
}

void* __cdecl PluginCalloc(size_t count, size_t size)
{
    if (FailsNow()) return nullptr;
    void* block = std::calloc(count, size);
    Track(block);
    return block;
}

void* __cdecl PluginRealloc(void* old, size_t size)
{
    if (size && FailsNow()) return nullptr;
    void* block = std::realloc(old, size);
    if (block || !size) Untrack(old);
    Track(block);
    return block;
}

void __cdecl PluginFree(void* block)
{
    Untrack(block);
    std::free(block);
}

struct Replacement {
    const char* name;
    void* function;
};

const Replacement kReplacements[] = {
    {"malloc", reinterpret_cast<void*>(&PluginMalloc)},
    {"calloc", reinterpret_cast<void*>(&PluginCalloc)},
    {"realloc", reinterpret_cast<void*>(&PluginRealloc)},
    {"free", reinterpret_cast<void*>(&PluginFree)},
};

// The plug-in's import slot of a C runtime function, found by its name.
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

bool InstallAllocationFaults(HMODULE plugin)
{
    auto* base = reinterpret_cast<BYTE*>(plugin);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD importsAt = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    int replaced = 0;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + importsAt); library->Name; ++library) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + library->Name), "msvcrt.dll") != 0) continue;
        for (const Replacement& replacement : kReplacements) {
            ULONG_PTR* slot = ImportSlot(base, *library, replacement.name);
            if (!slot) continue;
            DWORD protection = 0;
            VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
            *slot = reinterpret_cast<ULONG_PTR>(replacement.function);
            VirtualProtect(slot, sizeof(*slot), protection, &protection);
            ++replaced;
        }
    }
    return replaced == static_cast<int>(std::size(kReplacements));
}

void FailNextAllocation() { FailAllocation(1); }

void FailAllocation(int count) { g_failIn = count; }

void StartCountingAllocations()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.clear();
    g_counted = 0;
}

size_t LiveAllocations()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_live.size();
}

}  // namespace rig

namespace rig {

int AllocationsCounted() { return g_counted; }

}  // namespace rig
