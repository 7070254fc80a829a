#include "common/sent_messages.h"

namespace dl {

namespace {

constexpr DWORD kAnswerEveryMs = 100;

void TakeSentMessages() noexcept
{
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

void AnswerSentMessages() noexcept
{
    // Only the host's UI thread walks trees; a tick count of its own keeps the calls cheap.
    static DWORD lastAnswered = 0;
    const DWORD now = GetTickCount();
    if (now - lastAnswered < kAnswerEveryMs) return;
    lastAnswered = now;
    TakeSentMessages();
}

void PauseAnsweringSentMessages(DWORD ms) noexcept
{
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = GetTickCount() - start) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_SENDMESSAGE) != WAIT_OBJECT_0) return;
        TakeSentMessages();
    }
}

}  // namespace dl
