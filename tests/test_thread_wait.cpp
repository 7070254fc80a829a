// Waiting for the threads a request started, with real threads of the test's own.
#include "tests/rig/import_hook.h"
#include "tests/support/handle_count.h"
#include "zip/thread_wait.h"

#include "common/win.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <atomic>
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

class ThreadWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallOpenThreadRecorder();
        g_openThreadCalls.clear();
        release_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }

    void TearDown() override
    {
        SetEvent(release_.get());
        for (const auto& worker : workers_) WaitForSingleObject(worker->handle.get(), INFINITE);
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

    static dl::ThreadIdSet Snapshot()
    {
        dl::ThreadIdSet threads;
        EXPECT_EQ(dl::SnapshotProcessThreads(threads), S_OK);
        return threads;
    }

    dl::UniqueHandle release_;
    std::vector<std::unique_ptr<Worker>> workers_;
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

// Waits for the threads to end, turn by turn as the packing does; fails with how many still ran.
void ExpectAllEnd(dl::NewThreads& threads)
{
    for (int turn = 0; turn < 600 && threads.Running(); ++turn) threads.Wait(50);
    EXPECT_FALSE(threads.Running()) << "threads still running after 30 s of turns";
}

TEST_F(ThreadWaitTest, NoNewThreadOrOnlyTheCallerMeansNothingRunsAndNothingStaysOpen)
{
    const dl::ThreadIdSet threads = Snapshot();
    const std::size_t handles = rig::OpenHandleCount();
    {
        dl::NewThreads same(threads, threads);
        EXPECT_FALSE(same.Running());
        same.Wait(10);
        // Sets that miss the calling thread in the before-set, as an unreadable snapshot would give.
        dl::NewThreads self({}, {GetCurrentThreadId()});
        EXPECT_FALSE(self.Running());
    }
    EXPECT_TRUE(g_openThreadCalls.empty());
    EXPECT_EQ(rig::OpenHandleCount(), handles);
}

TEST_F(ThreadWaitTest, ThreadsThatEndedOrCannotBeOpenedAnyMoreAreIgnored)
{
    const DWORD gone = Start(0, true);
    const dl::ThreadIdSet before = Snapshot();
    SetEvent(release_.get());
    WaitForSingleObject(workers_.back()->handle.get(), INFINITE);
    dl::ThreadIdSet after = Snapshot();
    ASSERT_EQ(after.count(gone), 0u);
    for (int i = 0; i < 10; ++i) after.insert(EndedThreadId());
    const std::size_t handles = rig::OpenHandleCount();

    dl::NewThreads threads(before, after);
    EXPECT_FALSE(threads.Running());
    EXPECT_EQ(g_openThreadCalls.size(), 10u);
    for (const OpenThreadCall& call : g_openThreadCalls) EXPECT_FALSE(call.opened) << call.id;
    EXPECT_EQ(rig::OpenHandleCount(), handles + 1) << "only the idle event";
}

// More threads than one wait can take: every one is waited for, none is given up on.
TEST_F(ThreadWaitTest, HoweverManyNewThreadsAreWaitedForUntilTheLastHasEnded)
{
    const dl::ThreadIdSet before = Snapshot();
    constexpr int kThreads = MAXIMUM_WAIT_OBJECTS + 6;
    for (int i = 0; i < kThreads; ++i) Start(0, true);
    const dl::ThreadIdSet after = Snapshot();
    const std::size_t handles = rig::OpenHandleCount();
    {
        dl::NewThreads threads(before, after);
        EXPECT_TRUE(threads.Running());
        EXPECT_EQ(g_openThreadCalls.size(), static_cast<std::size_t>(kThreads));
        threads.Take(before, after, *after.rbegin());
        EXPECT_EQ(g_openThreadCalls.size(), static_cast<std::size_t>(kThreads)) << "each is opened once, at any look";
        threads.Wait(10);
        EXPECT_TRUE(threads.Running()) << "held threads run on";
        SetEvent(release_.get());
        ExpectAllEnd(threads);
        EXPECT_EQ(FinishedCount(), kThreads);
    }
    EXPECT_EQ(rig::OpenHandleCount(), handles);
}

// Toolhelp lists every process's threads; an id of another process's thread (as a reused id of
// one that ended would be) is never waited on.
TEST_F(ThreadWaitTest, ThreadsOfOtherProcessesAreNeverWaitedOn)
{
    const dl::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    ASSERT_TRUE(snapshot);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    dl::ThreadIdSet others;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) others.insert(entry.th32ThreadID);
    }
    ASSERT_FALSE(others.empty()) << "no other process to borrow a thread id from";

    dl::NewThreads threads(Snapshot(), others);
    EXPECT_FALSE(threads.Running());
    EXPECT_FALSE(g_openThreadCalls.empty());
}

}  // namespace
