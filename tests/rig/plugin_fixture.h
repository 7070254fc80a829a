// The base of the tests that drive the real DLL: a fresh settings key, a fresh host temporary
// folder, the plug-in loaded into the stand-in host, a main and a compose window, the message
// box recorder in place and an empty clipboard.
#pragma once

#include "standins/host/host.h"
#include "tests/rig/clipboard.h"
#include "tests/rig/files.h"
#include "tests/rig/message_boxes.h"
#include "tests/rig/robot.h"

#include <gtest/gtest.h>

#include <string>

namespace rig {

inline constexpr char kSettingsKey[] = "Software\\Tidewell\\O2\\Settings";

std::string BesideExecutable(const std::string& fileName);
std::string PluginPath();

// Registry helpers on the host's settings key.
void DeleteSettingsKey();
void CreateSettingsKey();
bool ReadDword(const char* name, DWORD& value);
bool ReadRaw(const char* name, DWORD& type, std::string& data);
void WriteRaw(const char* name, DWORD type, const std::string& data);
void WriteDword(const char* name, DWORD value);
void DeleteValue(const char* name);

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the command for the compose window through the keystroke, with a robot script.
    void PressCtrlShiftV(const Robot::Script& script = nullptr, HWND compose = nullptr);
    // Asserts that the robot met no timeout and found no window it did not expect.
    void ExpectRobotClean() const;

    HMODULE plugin_ = nullptr;
    HWND main_ = nullptr;
    HWND compose_ = nullptr;
    std::string hostTemp_;  // the host's temporary folder, with a trailing backslash
    std::string work_;      // where the user's own files live in a test
    Robot robot_;
};

}  // namespace rig
