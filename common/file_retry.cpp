#include "common/file_retry.h"

namespace dl {

void PauseAnsweringSentMessages(DWORD ms) noexcept
{
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = GetTickCount() - start) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_SENDMESSAGE) != WAIT_OBJECT_0) return;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace dl
