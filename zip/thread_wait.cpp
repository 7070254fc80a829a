#include "zip/thread_wait.h"

#include <tlhelp32.h>

#include <algorithm>

namespace dl {

namespace {

constexpr DWORD kWaitAccess = SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION;
// A wait in a single-threaded apartment takes one handle fewer than the system's limit; one more
// goes to the idle event or the caller's. The others are looked at on the next turn.
constexpr std::size_t kThreadsPerWait = MAXIMUM_WAIT_OBJECTS - 2;

bool Ended(const UniqueHandle& thread) { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }

// Calls into an application single-threaded apartment are dispatched only when asked; systems
// that do not know the flag refuse it, and dispatch them in a classic one anyway.
HRESULT WaitDispatchingCalls(DWORD ms, DWORD count, HANDLE* handles)
{
    static DWORD flags = COWAIT_DISPATCH_CALLS;
    DWORD index = 0;
    HRESULT result = CoWaitForMultipleHandles(flags, ms, count, handles, &index);
    if (result == E_INVALIDARG && flags != 0) {
        flags = 0;
        result = CoWaitForMultipleHandles(flags, ms, count, handles, &index);
    }
    return result;
}

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

NewThreads::NewThreads(const ThreadIdSet& before, const ThreadIdSet& after)
    : idle_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    Take(before, after);
}

void NewThreads::Take(const ThreadIdSet& before, const ThreadIdSet& now, DWORD ignored)
{
    const DWORD self = GetCurrentThreadId();
    const DWORD process = GetCurrentProcessId();
    for (const DWORD id : now) {
        if (id == self || id == ignored || before.count(id) != 0 || !taken_.insert(id).second) continue;
        UniqueHandle thread(OpenThread(kWaitAccess, FALSE, id));
        if (!thread || GetProcessIdOfThread(thread.get()) != process || Ended(thread)) continue;
        threads_.push_back(std::move(thread));
    }
}

bool NewThreads::Running()
{
    threads_.erase(std::remove_if(threads_.begin(), threads_.end(), Ended), threads_.end());
    return !threads_.empty();
}

void NewThreads::Wait(DWORD ms, HANDLE also)
{
    std::vector<HANDLE> handles{also ? also : idle_.get()};
    for (std::size_t i = 0; i < threads_.size() && i < kThreadsPerWait; ++i) handles.push_back(threads_[i].get());
    const HRESULT waited = WaitDispatchingCalls(ms, static_cast<DWORD>(handles.size()), handles.data());
    // A wait the system refused (a thread without COM, no idle event) still takes its time, or
    // the caller would spin.
    if (FAILED(waited) && waited != RPC_S_CALLPENDING) Sleep(ms);
}

}  // namespace dl
