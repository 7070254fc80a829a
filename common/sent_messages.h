// A thread that waits must still answer what other threads send it (never input): the host's
// window must not count as hung, and a neighbour that sends to it must not wait for ever.
#pragma once

#include <windows.h>

namespace dl {

// Answers the messages sent meanwhile, at most about every tenth of a second: called in long walks
// over a folder tree, so that such calls stay cheap.
void AnswerSentMessages() noexcept;

// Waits `ms`, answering the messages sent meanwhile.
void PauseAnsweringSentMessages(DWORD ms) noexcept;

}  // namespace dl
