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

// Holds the clipboard open on a thread of its own for as long as it lives or, with
// `untilPluginTries` (and the race installed), until the plug-in's first attempt to open it has
// failed: a program that lets go while the plug-in is trying.
class ClipboardHeldElsewhere {
public:
    explicit ClipboardHeldElsewhere(bool untilPluginTries = false);
    ~ClipboardHeldElsewhere();
    ClipboardHeldElsewhere(const ClipboardHeldElsewhere&) = delete;
    ClipboardHeldElsewhere& operator=(const ClipboardHeldElsewhere&) = delete;

    bool holding() const { return holding_; }
    // The plug-in met the held clipboard, and it was let go then.
    bool released() const { return released_; }
    void Release();

private:
    HANDLE release_;
    HANDLE thread_ = nullptr;
    bool holding_ = false;
    bool released_ = false;
};

}  // namespace rig
