#include "zip/thread_wait.h"

#include "common/win.h"

#include <tlhelp32.h>

#include <array>

namespace dl {

namespace {

constexpr DWORD kWaitAccess = SYNCHRONIZE | STANDARD_RIGHTS_REQUIRED;

}  // namespace

HRESULT SnapshotProcessThreads(ThreadIdSet& threads)
{
    // Like a file, a snapshot that cannot be taken is INVALID_HANDLE_VALUE.
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return E_FAIL;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    const DWORD process = GetCurrentProcessId();
    const DWORD self = GetCurrentThreadId();
    bool sawSelf = false;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != process) continue;
        threads.insert(entry.th32ThreadID);
        sawSelf = sawSelf || entry.th32ThreadID == self;
    }
    return sawSelf ? S_OK : E_FAIL;
}

HRESULT WaitForNewThreads(const ThreadIdSet& before, const ThreadIdSet& after)
{
    const DWORD self = GetCurrentThreadId();
    std::array<UniqueHandle, kThreadMax> opened;
    std::array<HANDLE, kThreadMax> waitList{};
    std::size_t count = 0;
    bool sawNew = false;
    for (const DWORD id : after) {
        if (count == kThreadMax) break;
        if (id == self || before.count(id) != 0) continue;
        sawNew = true;
        // A thread that ended since the snapshot cannot be opened, and needs no waiting either.
        UniqueHandle thread(OpenThread(kWaitAccess, FALSE, id));
        if (!thread) continue;
        waitList[count] = thread.get();
        opened[count++] = std::move(thread);
    }
    // The handles are closed as the error leaves this scope.
    if (!sawNew || count == kThreadMax) throw ThreadLimitExceeded();
    if (count > 0) WaitForMultipleObjects(static_cast<DWORD>(count), waitList.data(), TRUE, INFINITE);
    return S_OK;
}

}  // namespace dl
