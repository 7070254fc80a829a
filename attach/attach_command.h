// The attach-clipboard command: picks the path by the clipboard's formats and turns its
// result into the user's feedback.
#pragma once

#include <windows.h>

namespace dl {

// Run for the compose window by the keystroke and by the compose window's menu item.
void WINAPI AttachClipboard(HWND composeWindow, LPARAM param);

// The three attachment paths. Each returns S_OK (or any non-negative value) when done,
// E_ABORT when it stopped with nothing more to tell, and a failure otherwise.
HRESULT AttachClipboardImage(HWND composeWindow);
HRESULT AttachClipboardFiles(HWND composeWindow);
HRESULT AttachClipboardText(HWND composeWindow);

}  // namespace dl
