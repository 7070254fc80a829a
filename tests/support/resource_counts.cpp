#include "tests/support/resource_counts.h"

#include "tests/support/handle_count.h"

#include <windows.h>
#include <psapi.h>

#include <functional>
#include <vector>

namespace rig {

namespace {

constexpr int kTen = 10;
constexpr long long kMegabyte = 1 << 20;
// USER handle values: even numbers from 0x20 up, their low word enough inside the process.
constexpr ULONG_PTR kFirstUserHandle = 0x20, kLastUserHandle = 0xFFEF;
constexpr ULONG_PTR kLastGdiHandle = 0xFFFF;

using CursorFrameInfo = HCURSOR(WINAPI*)(HCURSOR, DWORD, DWORD, DWORD*, DWORD*);

using Count = std::function<long long()>;

long long SystemHandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

long long SystemGuiCount(DWORD which) { return GetGuiResources(GetCurrentProcess(), which); }

long long SystemPrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    return static_cast<long long>(memory.PrivateUsage);
}

long long ProbedGdiObjects()
{
    long long count = 0;
    for (ULONG_PTR value = 1; value <= kLastGdiHandle; ++value) count += GetObjectType(reinterpret_cast<HGDIOBJ>(value)) != 0;
    return count;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM counter)
{
    ++*reinterpret_cast<long long*>(counter);
    return TRUE;
}

bool IsOurs(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

// A window of ours and every window below it.
void CountTree(HWND window, long long& count)
{
    ++count;
    EnumChildWindows(window, CountWindow, reinterpret_cast<LPARAM>(&count));
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

long long OurWindows()
{
    std::vector<HWND> topLevel;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&topLevel));
    for (HWND window = nullptr; (window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr));) {
        topLevel.push_back(window);
    }
    long long count = 0;
    for (HWND window : topLevel) {
        if (IsOurs(window)) CountTree(window, count);
    }
    return count;
}

long long ProbedUserObjects()
{
    static const auto frameInfo =
        reinterpret_cast<CursorFrameInfo>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo"));
    long long count = OurWindows();
    for (ULONG_PTR value = kFirstUserHandle; value <= kLastUserHandle; value += 2) {
        DWORD rate = 0, steps = 0;
        count += IsMenu(reinterpret_cast<HMENU>(value)) != FALSE;
        if (frameInfo) count += frameInfo(reinterpret_cast<HCURSOR>(value), 0, 0, &rate, &steps) != nullptr;
    }
    return count;
}

long long CommittedPrivateBytes()
{
    long long bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const BYTE* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += static_cast<long long>(region.RegionSize);
    }
    return bytes;
}

// Makes ten objects of a counter's kind; what it returns frees them again.
using MakeTen = std::function<std::function<void()>()>;

std::function<void()> TenEvents()
{
    std::vector<HANDLE> events;
    for (int i = 0; i < kTen; ++i) events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    return [events] {
        for (HANDLE event : events) CloseHandle(event);
    };
}

std::function<void()> TenBrushes()
{
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < kTen; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    return [brushes] {
        for (HBRUSH brush : brushes) DeleteObject(brush);
    };
}

// Ten of each kind that the USER count covers.
std::function<void()> TenWindowsMenusAndIcons()
{
    std::vector<HWND> windows;
    std::vector<HMENU> menus;
    std::vector<HICON> icons;
    for (int i = 0; i < kTen; ++i) {
        windows.push_back(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
        menus.push_back(CreateMenu());
        icons.push_back(CopyIcon(LoadIconA(nullptr, IDI_APPLICATION)));
    }
    return [windows, menus, icons] {
        for (HWND window : windows) DestroyWindow(window);
        for (HMENU menu : menus) DestroyMenu(menu);
        for (HICON icon : icons) DestroyIcon(icon);
    };
}

std::function<void()> TenMegabytes()
{
    std::vector<void*> blocks;
    for (int i = 0; i < kTen; ++i) {
        void* block = VirtualAlloc(nullptr, kMegabyte, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (block) FillMemory(block, kMegabyte, 1);
        blocks.push_back(block);
    }
    return [blocks] {
        for (void* block : blocks) VirtualFree(block, 0, MEM_RELEASE);
    };
}

struct Kind {
    Counter counter;
    const char* name;
    const char* systemMeasure;
    Count system;
    const char* ownMeasure;
    Count own;
    long long expected;
    MakeTen makeTen;
};

const std::vector<Kind>& Kinds()
{
    static const std::vector<Kind> kinds = {
        {Counter::kKernelHandles, "kernel handles", "GetProcessHandleCount", SystemHandleCount,
         "own entries of NtQuerySystemInformation(SystemHandleInformation)",
         [] { return static_cast<long long>(OpenHandleCount()); }, kTen, TenEvents},
        {Counter::kGdiObjects, "GDI objects", "GetGuiResources(GR_GDIOBJECTS)", [] { return SystemGuiCount(GR_GDIOBJECTS); },
         "handle values that GetObjectType recognises", ProbedGdiObjects, kTen, TenBrushes},
        {Counter::kUserObjects, "USER objects", "GetGuiResources(GR_USEROBJECTS)",
         [] { return SystemGuiCount(GR_USEROBJECTS); },
         "own windows enumerated + menus (IsMenu) and icons/cursors (GetCursorFrameInfo) probed by handle value",
         ProbedUserObjects, 3 * kTen, TenWindowsMenusAndIcons},
        {Counter::kPrivateBytes, "private bytes", "GetProcessMemoryInfo PrivateUsage", SystemPrivateBytes,
         "committed private memory summed over VirtualQuery", CommittedPrivateBytes, kTen * kMegabyte, TenMegabytes},
    };
    return kinds;
}

// The system's figure where ten objects move it, else the own count; the proof says which.
struct Chosen {
    std::vector<CounterProof> proofs;
    std::vector<Count> measures;
};

const Chosen& Choose()
{
    static const Chosen chosen = [] {
        Chosen result;
        for (const Kind& kind : Kinds()) {
            const long long systemBefore = kind.system(), ownBefore = kind.own();
            const std::function<void()> free = kind.makeTen();
            const long long systemRise = kind.system() - systemBefore, ownRise = kind.own() - ownBefore;
            free();
            const bool systemMoves = systemRise >= kind.expected;
            result.proofs.push_back({kind.counter, kind.name, systemMoves ? kind.systemMeasure : kind.ownMeasure,
                                     systemRise, systemMoves ? systemRise : ownRise, kind.expected});
            result.measures.push_back(systemMoves ? kind.system : kind.own);
        }
        return result;
    }();
    return chosen;
}

}  // namespace

const std::vector<CounterProof>& CounterProofs() { return Choose().proofs; }

bool SameObjectCounts(const ResourceCounts& a, const ResourceCounts& b)
{
    for (const Counter c : kAllCounters) {
        if (c != Counter::kPrivateBytes && a[c] != b[c]) return false;
    }
    return true;
}

ResourceCounts CountResources()
{
    const Chosen& chosen = Choose();
    ResourceCounts counts;
    // Private bytes first: the other counts allocate as they go.
    for (int i = static_cast<int>(std::size(kAllCounters)) - 1; i >= 0; --i) counts.values[i] = chosen.measures[i]();
    return counts;
}

}  // namespace rig
