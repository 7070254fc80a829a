// Waiting for work that the shell does on threads it starts inside our process: the only sign
// that such work is done is that those threads have ended.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <set>
#include <stdexcept>

namespace dl {

using ThreadIdSet = std::set<DWORD>;

// More new threads than this, or none at all, means the request did not go as expected.
constexpr std::size_t kThreadMax = 10;

class ThreadLimitExceeded : public std::runtime_error {
public:
    ThreadLimitExceeded() : std::runtime_error("Exceed THREAD_MAX") {}
};

// Answers the messages that other threads send to the calling one (never input), at most about
// every tenth of a second: called in long walks over a folder tree, so that the host's window
// never counts as hung while it waits for us.
void AnswerSentMessages() noexcept;

// Adds the ids of the process's current threads. E_FAIL when no snapshot can be taken, or when it
// does not even hold the calling thread: a wait based on such a list would take in old threads.
HRESULT SnapshotProcessThreads(ThreadIdSet& threads);

// Blocks until every thread in `after` but not in `before` has ended; returns S_OK. Raises
// ThreadLimitExceeded, after closing what it opened, when no thread is new or kThreadMax or more
// are. The calling thread is never waited on. `whileWaiting`, when given, runs about every tenth
// of a second during the wait.
HRESULT WaitForNewThreads(const ThreadIdSet& before, const ThreadIdSet& after,
                          const std::function<void()>& whileWaiting = {});

// Waits at most `timeoutMs` until the threads started since `before` (the calling thread aside,
// and no more than a wait can take) have ended. For the road on which WaitForNewThreads raised:
// the shell may still be working on what is about to be removed.
void WaitForThreadsStartedSince(const ThreadIdSet& before, DWORD timeoutMs);

}  // namespace dl
