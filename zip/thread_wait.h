// Waiting for work that the shell does on threads it starts inside our process. Their end is a
// sign, not the proof, that the work is done: a handler may finish before its request returns or
// work on a thread that was there before, so the caller judges the result itself.
#pragma once

#include "common/win.h"

#include <windows.h>

#include <set>
#include <vector>

namespace dl {

using ThreadIdSet = std::set<DWORD>;

// Adds the ids of the process's current threads. E_FAIL when no snapshot can be taken, or when it
// does not even hold the calling thread: a wait based on such a list would take in old threads.
HRESULT SnapshotProcessThreads(ThreadIdSet& threads);

// The threads in `after` but not in `before`, opened for waiting, however many: only threads of
// this process (an id is unique only while its thread lives, and may since belong to another
// process's thread), never the calling thread, and none that has already ended.
class NewThreads {
public:
    NewThreads(const ThreadIdSet& before, const ThreadIdSet& after);

    // Adds those of `now` not in `before` nor taken yet, on the same terms, but `ignored`.
    void Take(const ThreadIdSet& before, const ThreadIdSet& now, DWORD ignored = 0);
    // Whether any of them still runs; the ended ones are let go.
    bool Running();
    // Waits `ms`, or less once one of them ends or `also` (which may be null) is signalled.
    // Meanwhile the calling thread takes the COM calls into its apartment and the messages sent
    // to it, but no input: a handler that calls back into a single-threaded apartment would
    // otherwise wait for us while we wait for it.
    void Wait(DWORD ms, HANDLE also = nullptr);

private:
    std::vector<UniqueHandle> threads_;
    ThreadIdSet taken_;
    // Never set: something to wait on when no thread is left.
    UniqueHandle idle_;
};

}  // namespace dl
