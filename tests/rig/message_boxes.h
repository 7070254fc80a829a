// Records every message box the plug-in shows, exactly as it asked for it, and still shows it
// for real (the robot answers it). Works by patching the plug-in's import of MessageBoxA.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace rig {

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    UINT icon() const { return type & MB_ICONMASK; }
};

bool InstallMessageBoxRecorder(HMODULE plugin);
std::vector<RecordedBox> RecordedBoxes();
void ClearRecordedBoxes();

}  // namespace rig
