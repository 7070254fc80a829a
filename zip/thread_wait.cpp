#include "zip/thread_wait.h"

#include "common/win.h"

#include <tlhelp32.h>

#include <array>

namespace dl {

namespace {

constexpr DWORD kWaitAccess = SYNCHRONIZE | STANDARD_RIGHTS_REQUIRED;
constexpr DWORD kWhileWaitingMs = 100;

// Threads of `after` that are not in `before` and not the calling thread, opened for waiting up
// to the capacity of the list. A thread that ended since the snapshot cannot be opened, and needs
// no waiting either; `sawNew` still tells that there was one.
template <std::size_t Capacity>
class NewThreads {
public:
    NewThreads(const ThreadIdSet& before, const ThreadIdSet& after)
    {
        const DWORD self = GetCurrentThreadId();
        for (const DWORD id : after) {
            if (count_ == Capacity) break;
            if (id == self || before.count(id) != 0) continue;
            sawNew_ = true;
            UniqueHandle thread(OpenThread(kWaitAccess, FALSE, id));
            if (!thread) continue;
            handles_[count_] = thread.get();
            opened_[count_++] = std::move(thread);
        }
    }

    bool sawNew() const noexcept { return sawNew_; }
    bool full() const noexcept { return count_ == Capacity; }
    DWORD wait(DWORD timeoutMs) const noexcept
    {
        if (count_ == 0) return WAIT_OBJECT_0;
        return WaitForMultipleObjects(static_cast<DWORD>(count_), handles_.data(), TRUE, timeoutMs);
    }

private:
    std::array<UniqueHandle, Capacity> opened_;
    std::array<HANDLE, Capacity> handles_{};
    std::size_t count_ = 0;
    bool sawNew_ = false;
};

}  // namespace

void AnswerSentMessages() noexcept
{
    // Only the host's UI thread walks trees; a tick count of its own keeps the calls cheap.
    static DWORD lastAnswered = 0;
    const DWORD now = GetTickCount();
    if (now - lastAnswered < kWhileWaitingMs) return;
    lastAnswered = now;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

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

HRESULT WaitForNewThreads(const ThreadIdSet& before, const ThreadIdSet& after,
                          const std::function<void()>& whileWaiting)
{
    const NewThreads<kThreadMax> threads(before, after);
    // The handles are closed as the error leaves this scope.
    if (!threads.sawNew() || threads.full()) throw ThreadLimitExceeded();
    if (!whileWaiting) {
        threads.wait(INFINITE);
        return S_OK;
    }
    while (threads.wait(kWhileWaitingMs) == WAIT_TIMEOUT) whileWaiting();
    return S_OK;
}

void WaitForThreadsStartedSince(const ThreadIdSet& before, DWORD timeoutMs)
{
    ThreadIdSet now;
    if (FAILED(SnapshotProcessThreads(now))) return;
    NewThreads<MAXIMUM_WAIT_OBJECTS>(before, now).wait(timeoutMs);
}

}  // namespace dl
