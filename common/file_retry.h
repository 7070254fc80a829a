// Antivirus, the search indexer and cloud clients open a file for a moment right after it is made
// or written, sharing reading and writing but not deletion. Meanwhile opening it again, moving or
// removing it fails with a sharing violation or access denied, so such a step on a file of the
// plug-in's own is tried again for about a second.
#pragma once

#include "common/sent_messages.h"

#include <windows.h>

namespace dl {

constexpr int kScannerTries = 20;
constexpr DWORD kScannerPauseMs = 50;

// Runs `step` until it returns true, fails for another reason than a scanner's (its error stays in
// GetLastError), or its tries are used up.
template <typename Step>
bool RetryWhileScanned(Step step)
{
    for (int tries = 1;; ++tries) {
        if (step()) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || tries == kScannerTries) return false;
        PauseAnsweringSentMessages(kScannerPauseMs);
    }
}

// Removes a file of the plug-in's own making.
inline bool DeleteOwnFile(const char* path) noexcept
{
    return RetryWhileScanned([path] { return DeleteFileA(path) != FALSE; });
}

}  // namespace dl
