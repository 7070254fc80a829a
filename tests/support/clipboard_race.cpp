#include "tests/support/clipboard_race.h"

#include "tests/rig/import_hook.h"

#include <utility>

namespace rig {

namespace {

constexpr DWORD kHoldTimeoutMs = 10000;

std::function<void()> g_change;
ClipboardHeldElsewhere* g_heldUntilTried = nullptr;

BOOL WINAPI RacingOpenClipboard(HWND owner)
{
    if (g_change) std::exchange(g_change, nullptr)();
    const BOOL opened = OpenClipboard(owner);
    if (!opened && g_heldUntilTried) std::exchange(g_heldUntilTried, nullptr)->Release();
    return opened;
}

struct HoldRequest {
    HANDLE opened;
    HANDLE release;
    bool holding;
};

DWORD WINAPI HoldClipboard(void* parameter)
{
    // The request lives on the starter's stack only until `opened` is set.
    auto* request = static_cast<HoldRequest*>(parameter);
    const HANDLE release = request->release;
    const bool holding = OpenClipboard(nullptr) != FALSE;
    request->holding = holding;
    SetEvent(request->opened);
    WaitForSingleObject(release, kHoldTimeoutMs);
    if (holding) CloseClipboard();
    return 0;
}

}  // namespace

bool InstallClipboardRace(HMODULE plugin)
{
    return ReplaceImport(plugin, "user32.dll", "OpenClipboard", reinterpret_cast<FARPROC>(&RacingOpenClipboard)) !=
           nullptr;
}

void ChangeClipboardBeforeNextOpen(std::function<void()> change) { g_change = std::move(change); }

ClipboardHeldElsewhere::ClipboardHeldElsewhere(bool untilPluginTries)
    : release_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    HoldRequest request{CreateEventA(nullptr, TRUE, FALSE, nullptr), release_, false};
    thread_ = CreateThread(nullptr, 0, HoldClipboard, &request, 0, nullptr);
    if (thread_) WaitForSingleObject(request.opened, kHoldTimeoutMs);
    holding_ = thread_ && request.holding;
    CloseHandle(request.opened);
    if (untilPluginTries) g_heldUntilTried = this;
}

// Returns once the clipboard is free again.
void ClipboardHeldElsewhere::Release()
{
    SetEvent(release_);
    if (thread_) WaitForSingleObject(thread_, kHoldTimeoutMs);
    released_ = true;
}

ClipboardHeldElsewhere::~ClipboardHeldElsewhere()
{
    if (g_heldUntilTried == this) g_heldUntilTried = nullptr;
    Release();
    if (thread_) CloseHandle(thread_);
    CloseHandle(release_);
}

}  // namespace rig
