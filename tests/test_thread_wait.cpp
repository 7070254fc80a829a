// Waiting for the threads a request started, with real threads of the test's own.
#include "tests/rig/import_hook.h"
#include "tests/support/handle_count.h"
#include "zip/thread_wait.h"

#include "common/win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Every OpenThread call the code under test makes (it runs in this executable).
struct OpenThreadCall {
    DWORD id;
    bool opened;
};
std::vector<OpenThreadCall> g_openThreadCalls;
decltype(&OpenThread) g_realOpenThread = nullptr;

HANDLE WINAPI RecordingOpenThread(DWORD access, BOOL inherit, DWORD id)
{
    HANDLE thread = g_realOpenThread(access, inherit, id);
    g_openThreadCalls.push_back({id, thread != nullptr});
    return thread;
}

void InstallOpenThreadRecorder()
{
    if (g_realOpenThread) return;
    g_realOpenThread = reinterpret_cast<decltype(&OpenThread)>(rig::ReplaceImport(
        GetModuleHandleA(nullptr), "kernel32.dll", "OpenThread", reinterpret_cast<FARPROC>(&RecordingOpenThread)));
    ASSERT_NE(g_realOpenThread, nullptr);
}

std::vector<DWORD> OpenedIds()
{
    std::vector<DWORD> ids;
    for (const OpenThreadCall& call : g_openThreadCalls) ids.push_back(call.id);
    return ids;
}

ULONGLONG Now() { return GetTickCount64(); }

// The runtime opens handles of its own for the first exception a thread raises; that must not
// count against the code under test.
void WarmUpExceptions()
{
    try {
        throw std::runtime_error("warm-up");
    } catch (const std::runtime_error&) {
    }
}

// A thread of the test: it waits for the release event (when asked to), sleeps, and ends.
struct Worker {
    HANDLE release = nullptr;
    DWORD delayMs = 0;
    std::atomic<bool> finished{false};
    dl::UniqueHandle handle;
    DWORD id = 0;
};

DWORD WINAPI WorkerMain(void* parameter)
{
    auto* worker = static_cast<Worker*>(parameter);
    if (worker->release) WaitForSingleObject(worker->release, INFINITE);
    Sleep(worker->delayMs);
    worker->finished = true;
    return 0;
}

// A call run on a thread of its own; that thread is the "calling thread" of the code under test.
struct Caller {
    std::function<void()> call;
    dl::UniqueHandle handle;
};

DWORD WINAPI CallerMain(void* parameter)
{
    static_cast<Caller*>(parameter)->call();
    return 0;
}

class ThreadWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallOpenThreadRecorder();
        WarmUpExceptions();
        g_openThreadCalls.clear();
        release_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }

    void TearDown() override
    {
        SetEvent(release_.get());
        for (const auto& worker : workers_) WaitForSingleObject(worker->handle.get(), INFINITE);
        for (const auto& caller : callers_) WaitForSingleObject(caller->handle.get(), INFINITE);
    }

    // Starts a thread that ends `delayMs` after it starts, or after the test's end when held.
    DWORD Start(DWORD delayMs, bool held = false)
    {
        auto worker = std::make_unique<Worker>();
        worker->release = held ? release_.get() : nullptr;
        worker->delayMs = delayMs;
        worker->handle.reset(CreateThread(nullptr, 0, WorkerMain, worker.get(), 0, &worker->id));
        EXPECT_TRUE(worker->handle);
        workers_.push_back(std::move(worker));
        return workers_.back()->id;
    }

    // The id of a thread that has ended and been closed: it can no longer be opened.
    DWORD EndedThreadId()
    {
        Worker worker;
        worker.handle.reset(CreateThread(nullptr, 0, WorkerMain, &worker, 0, &worker.id));
        WaitForSingleObject(worker.handle.get(), INFINITE);
        return worker.id;
    }

    int FinishedCount() const
    {
        int count = 0;
        for (const auto& worker : workers_) count += worker->finished ? 1 : 0;
        return count;
    }

    // Runs `call` on a new thread; false when it has not returned within `timeoutMs` (the thread is
    // then left to end after the test releases the workers).
    bool RunOnOwnThread(const std::function<void()>& call, DWORD timeoutMs = 5000)
    {
        auto caller = std::make_unique<Caller>();
        caller->call = call;
        caller->handle.reset(CreateThread(nullptr, 0, CallerMain, caller.get(), 0, nullptr));
        const bool returned = WaitForSingleObject(caller->handle.get(), timeoutMs) == WAIT_OBJECT_0;
        callers_.push_back(std::move(caller));
        return returned;
    }

    static dl::ThreadIdSet Snapshot()
    {
        dl::ThreadIdSet threads;
        EXPECT_EQ(dl::SnapshotProcessThreads(threads), S_OK);
        return threads;
    }

    dl::UniqueHandle release_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::unique_ptr<Caller>> callers_;
};

TEST_F(ThreadWaitTest, SnapshotAddsThisProcessesThreadsToWhatTheSetHeld)
{
    constexpr DWORD kKeptId = 0xFFFFFFF0;
    dl::ThreadIdSet before{kKeptId};
    ASSERT_EQ(dl::SnapshotProcessThreads(before), S_OK);
    const DWORD started = Start(0, true);
    dl::ThreadIdSet after;
    ASSERT_EQ(dl::SnapshotProcessThreads(after), S_OK);

    EXPECT_EQ(before.count(kKeptId), 1u);
    EXPECT_EQ(before.count(GetCurrentThreadId()), 1u);
    EXPECT_EQ(before.count(started), 0u);
    EXPECT_EQ(after.count(started), 1u);
    for (const DWORD id : after) {
        dl::UniqueHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (thread) {
            EXPECT_EQ(GetProcessIdOfThread(thread.get()), GetCurrentProcessId()) << id;
        }
    }
}

TEST_F(ThreadWaitTest, NoNewThreadRaisesAndLeavesNoHandleOpen)
{
    const dl::ThreadIdSet threads = Snapshot();
    const std::size_t handles = rig::OpenHandleCount();
    try {
        dl::WaitForNewThreads(threads, threads);
        ADD_FAILURE() << "no error raised";
    } catch (const dl::ThreadLimitExceeded& error) {
        EXPECT_STREQ(error.what(), "Exceed THREAD_MAX");
    }
    EXPECT_TRUE(g_openThreadCalls.empty());
    EXPECT_EQ(rig::OpenHandleCount(), handles);
}

TEST_F(ThreadWaitTest, ThreadsThatEndedDuringTheRequestAreIgnored)
{
    const DWORD gone = Start(0, true);
    const dl::ThreadIdSet before = Snapshot();
    SetEvent(release_.get());
    WaitForSingleObject(workers_.back()->handle.get(), INFINITE);
    const DWORD started = Start(100);
    const dl::ThreadIdSet after = Snapshot();
    ASSERT_EQ(after.count(gone), 0u);

    EXPECT_EQ(dl::WaitForNewThreads(before, after), S_OK);
    EXPECT_EQ(OpenedIds(), std::vector<DWORD>{started});
    EXPECT_EQ(FinishedCount(), 2);
}

TEST_F(ThreadWaitTest, WaitsUntilTheLastOfNineNewThreadsHasEnded)
{
    const dl::ThreadIdSet before = Snapshot();
    std::vector<DWORD> started;
    // Each lives long enough to be opened; the last ends well after the others.
    for (DWORD i = 0; i < 8; ++i) started.push_back(Start(100 + 20 * i));
    const ULONGLONG begin = Now();
    started.push_back(Start(500));
    const dl::ThreadIdSet after = Snapshot();
    const std::size_t handles = rig::OpenHandleCount();

    EXPECT_EQ(dl::WaitForNewThreads(before, after), S_OK);
    EXPECT_GE(Now() - begin, 450u);
    EXPECT_EQ(FinishedCount(), 9);
    std::sort(started.begin(), started.end());
    EXPECT_EQ(OpenedIds(), started);
    EXPECT_EQ(rig::OpenHandleCount(), handles);
}

TEST_F(ThreadWaitTest, TenOrMoreNewThreadsRaiseAfterOpeningAndClosingExactlyTen)
{
    for (const int newThreads : {10, 12}) {
        SCOPED_TRACE(newThreads);
        g_openThreadCalls.clear();
        const dl::ThreadIdSet before = Snapshot();
        std::vector<DWORD> started;
        for (int i = 0; i < newThreads; ++i) started.push_back(Start(0, true));
        const dl::ThreadIdSet after = Snapshot();
        const std::size_t handles = rig::OpenHandleCount();

        bool raised = false;
        ASSERT_TRUE(RunOnOwnThread([&] {
            try {
                dl::WaitForNewThreads(before, after);
            } catch (const dl::ThreadLimitExceeded&) {
                raised = true;
            }
        })) << "it waited for threads that never end";
        EXPECT_TRUE(raised);
        std::sort(started.begin(), started.end());
        started.resize(dl::kThreadMax);
        EXPECT_EQ(OpenedIds(), started);
        for (const OpenThreadCall& call : g_openThreadCalls) EXPECT_TRUE(call.opened) << call.id;
        EXPECT_EQ(rig::OpenHandleCount(), handles + 1) << "only the caller's own thread handle";
    }
}

TEST_F(ThreadWaitTest, ThreadsThatCannotBeOpenedAnyMoreAreSkipped)
{
    const dl::ThreadIdSet before = Snapshot();
    dl::ThreadIdSet ended = before;
    for (std::size_t i = 0; i < dl::kThreadMax; ++i) ended.insert(EndedThreadId());
    const std::size_t handles = rig::OpenHandleCount();

    // All new threads already gone: the work is done.
    EXPECT_EQ(dl::WaitForNewThreads(before, ended), S_OK);
    EXPECT_EQ(g_openThreadCalls.size(), dl::kThreadMax);
    for (const OpenThreadCall& call : g_openThreadCalls) EXPECT_FALSE(call.opened) << call.id;
    EXPECT_EQ(rig::OpenHandleCount(), handles);

    // Ended threads take no place in the table: the one still running is waited for.
    dl::ThreadIdSet after = ended;
    const ULONGLONG begin = Now();
    after.insert(Start(300));
    EXPECT_EQ(dl::WaitForNewThreads(before, after), S_OK);
    EXPECT_GE(Now() - begin, 250u);
    EXPECT_EQ(FinishedCount(), 1);
}

TEST_F(ThreadWaitTest, ThreadStartedBetweenTheSnapshotsIsWaitedForUntilItEnds)
{
    const dl::ThreadIdSet before = Snapshot();
    const ULONGLONG begin = Now();
    Start(300);
    const dl::ThreadIdSet after = Snapshot();

    EXPECT_EQ(dl::WaitForNewThreads(before, after), S_OK);
    EXPECT_GE(Now() - begin, 250u);
    EXPECT_EQ(FinishedCount(), 1);
}

TEST_F(ThreadWaitTest, CallingThreadIsNeverWaitedOn)
{
    // Sets that miss the calling thread in the before-set, as an unreadable snapshot would give.
    bool raised = false;
    ASSERT_TRUE(RunOnOwnThread([&] {
        try {
            dl::WaitForNewThreads({}, {GetCurrentThreadId()});
        } catch (const dl::ThreadLimitExceeded&) {
            raised = true;
        }
    })) << "it waited on the calling thread";
    EXPECT_TRUE(raised);

    const DWORD started = Start(200);
    HRESULT result = E_UNEXPECTED;
    ASSERT_TRUE(RunOnOwnThread([&] { result = dl::WaitForNewThreads({}, {GetCurrentThreadId(), started}); }))
        << "it waited on the calling thread";
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(FinishedCount(), 1);
}

}  // namespace
