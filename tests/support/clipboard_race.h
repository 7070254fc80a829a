// Another program's hand on the clipboard at the worst moment: between the plug-in's test of the
// available formats and its own read, or holding the clipboard open so that the read cannot start.
#pragma once

#include <windows.h>

#include <functional>

namespace rig {

// Routes the plug-in's OpenClipboard through the race below.
bool InstallClipboardRace(HMODULE plugin);
// The plug-in's next OpenClipboard first runs `change` (on the plug-in's thread, with the
// clipboard still free), as if another program had replaced the clipboard just then.
void ChangeClipboardBeforeNextOpen(std::function<void()> change);

// Holds the clipboard open on a thread of its own for `holdMs`, or for as long as it lives.
class ClipboardHeldElsewhere {
public:
    explicit ClipboardHeldElsewhere(DWORD holdMs = INFINITE);
    ~ClipboardHeldElsewhere();
    ClipboardHeldElsewhere(const ClipboardHeldElsewhere&) = delete;
    ClipboardHeldElsewhere& operator=(const ClipboardHeldElsewhere&) = delete;

    bool holding() const { return holding_; }

private:
    HANDLE release_;
    HANDLE thread_ = nullptr;
    bool holding_ = false;
};

}  // namespace rig
