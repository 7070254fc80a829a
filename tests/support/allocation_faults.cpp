#include "tests/support/allocation_faults.h"

#include "tests/support/import_patch.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

namespace rig {

namespace {

std::atomic<bool> g_failNext{false};
std::mutex g_lock;
std::set<void*> g_live;

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
    if (g_failNext.exchange(false)) return nullptr;
    void* block = std::malloc(size);
    Track(block);
    return block;
}

void* __cdecl PluginCalloc(size_t count, size_t size)
{
    if (g_failNext.exchange(false)) return nullptr;
    void* block = std::calloc(count, size);
    Track(block);
    return block;
}

void* __cdecl PluginRealloc(void* old, size_t size)
{
    if (size && g_failNext.exchange(false)) return nullptr;
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

}  // namespace

bool InstallAllocationFaults(HMODULE plugin)
{
    for (const Replacement& replacement : kReplacements) {
        if (!ReplaceImport(plugin, "msvcrt.dll", replacement.name, replacement.function)) return false;
    }
    return true;
}

void FailNextAllocation() { g_failNext = true; }

void StartCountingAllocations()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_live.clear();
}

size_t LiveAllocations()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_live.size();
}

}  // namespace rig
