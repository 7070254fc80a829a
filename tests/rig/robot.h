// The dialog robot: while the test's thread runs a command that blocks in a modal dialog or a
// message box, a second thread finds those windows, reads and sets their controls and clicks.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rig {

struct RobotTimeout : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Robot {
public:
    using Script = std::function<void(Robot&)>;

    Robot() = default;
    ~Robot();
    Robot(const Robot&) = delete;
    Robot& operator=(const Robot&) = delete;

    // Runs `command` on this thread and `script` on a second one. Once the script is done, any
    // window of ours that still appears is recorded as unexpected and closed, so that the command
    // can return. Problems end up in failures().
    void Run(const std::function<void()>& command, const Script& script);

    // How long a command may take before it counts as not returning; a very large job sets more.
    void SetCommandLimit(DWORD ms) { commandLimitMs_ = ms; }

    const std::vector<std::string>& failures() const { return failures_; }
    // Captions and texts of windows the robot had to close without being asked to.
    const std::vector<std::string>& unexpected() const { return unexpected_; }

    // ---- For scripts (robot thread). Waits throw RobotTimeout after `timeoutMs`. ----
    HWND WaitDialog(const std::string& caption, DWORD timeoutMs = 10000);
    // A message box of the plug-in (its caption is the plug-in's name); returns the box.
    HWND WaitMessageBox(DWORD timeoutMs = 10000);
    // Waits until the window is gone.
    void WaitGone(HWND window, DWORD timeoutMs = 10000);
    // Clicks OK of a message box after reading its text into the result.
    std::string DismissMessageBox(DWORD timeoutMs = 10000);
    // Clicks OK of the message box the command shows; returns as soon as the command has
    // returned without showing one.
    void DismissMessageBoxIfAny(DWORD timeoutMs = 10000);

    std::string Text(HWND dialog, int id);
    std::wstring WideText(HWND dialog, int id);  // as the control holds it
    std::string WindowText(HWND window);
    void SetText(HWND dialog, int id, const std::string& text);
    bool IsChecked(HWND dialog, int id);
    void Click(HWND dialog, int id);
    void Close(HWND dialog);           // the close box
    void PressEscape(HWND dialog);     // as the keyboard does, through the dialog manager
    LONG Style(HWND dialog, int id);
    bool IsVisible(HWND dialog, int id);
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs `action` on the test's thread (the one in the modal loop) and waits for it.
    void OnUiThread(const std::function<void()>& action);
    void Sleep(DWORD ms) { ::Sleep(ms); }

    // Posts a keystroke to a compose window as the host reports it.
    void PressKeyIn(HWND composeWindow, UINT key, UINT modifiers);

private:
    void SweepUntil(HANDLE commandDone);
    std::vector<std::string> failures_;
    std::vector<std::string> unexpected_;
    HWND actionWindow_ = nullptr;  // belongs to the thread that called Run
    HANDLE commandDone_ = nullptr;  // set once Run's command has returned
    DWORD commandLimitMs_ = 60000;
};

// Top-level, visible dialog-class windows of this process.
std::vector<HWND> OurDialogs();
HWND FindOurDialog(const std::string& caption);

}  // namespace rig
