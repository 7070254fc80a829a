// The shared steps and checks of the robustness tests: every case of bad input or fault ends in
// the right message (or none), with the user's files unchanged, nothing of ours left in the
// host's temporary folder and no growth of handles.
#pragma once

#include "tests/rig/plugin_fixture.h"
#include "tests/support/attach_checks.h"
#include "tests/support/resource_counts.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace rig {

inline constexpr char kTextCaption[] = "Orvel!ドロップラインプラグイン - 添付するテキストを確認してください";
inline constexpr char kImageCaption[] = "Orvel!ドロップラインプラグイン - 添付する画像を確認してください";
inline constexpr char kFileCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
inline constexpr int kNameField = 1012;

using Paths = std::vector<std::string>;

// Waits for the dialog with this caption (up to `timeoutMs`), runs `steps` on it, presses `ending`
// and waits until it is gone.
Robot::Script InDialog(const char* caption, const std::function<void(Robot&, HWND)>& steps, int ending = IDOK,
                       DWORD timeoutMs = 10000);
// Types `name` into the dialog's name field and presses OK.
Robot::Script NameInDialog(const char* caption, const std::string& name);
// Answers the one message box the command shows.
void DismissBox(Robot& r);

// The seconds since `start`, for the cases that must not take long.
double SecondsSince(std::chrono::steady_clock::time_point start);

// The stand-in for the shell's ZIP handler is registered for the test program; each test starts
// with the three confirmations off.
class RobustnessTest : public PluginTest {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // The three confirmation settings at once.
    void SetConfirmations(DWORD value);
    std::string File(const std::string& name, const std::string& bytes = "data");
    std::string Folder(const std::string& name);

    // Runs the command through the keystroke once, with attachments and boxes counted from here.
    void Run(const Robot::Script& script = nullptr);
    // Runs the command expecting one message box owned by the compose window and nothing attached.
    void RunExpectingMessage(const char* text, UINT icon, const Robot::Script& before = nullptr);
    Paths AttachedPaths() const;
    // The one attachment's bytes; fails the test when there is not exactly one.
    std::string AttachedBytes() const;

    // The host's temporary folder holds exactly these names.
    void ExpectHostTemp(const Paths& names = {}) const;
    // Empties the host's temporary folder, for the next case of a test.
    void EmptyHostTemp() const;
    // Runs `command` once so that what the system keeps for good is in place (shell image lists,
    // GDI+, COM), then up to eight times more between counts: kernel handles, GDI and USER objects
    // may not grow on every one of them.
    void ExpectNoGrowth(const std::function<void()>& command);
};

}  // namespace rig
