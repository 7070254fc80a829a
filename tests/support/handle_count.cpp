#include "tests/support/handle_count.h"

#include <windows.h>

#include <vector>

namespace rig {

namespace {

// The system's handle table as NtQuerySystemInformation returns it (information class 16).
struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

}  // namespace

std::size_t OpenHandleCount()
{
    // GetProcessHandleCount gives 0 under Wine; the system-wide table is right on both.
    static const auto query = reinterpret_cast<QuerySystemInformation>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    std::vector<BYTE> buffer(1 << 20);
    LONG status = 0;
    ULONG needed = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    std::size_t count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].ownerProcessId == self) ++count;
    }
    return count;
}

}  // namespace rig
