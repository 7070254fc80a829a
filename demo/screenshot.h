// Captures a window as it appears on the screen into a PNG file.
#pragma once

#include <windows.h>

#include <string>

namespace demo {

// Waits a moment for the window to paint, then saves what the screen shows of it.
bool SaveScreenshot(HWND window, const std::string& path);

}  // namespace demo
