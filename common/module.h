// The module's instance handle, through which every dialog is built from our own resources,
// and the one way the plug-in speaks to the user: a message box with its caption.
#pragma once

#include <windows.h>

namespace dl {

HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE instance) noexcept;

// MessageBoxA with the plug-in's caption and an OK button; `icon` tells the kind.
int ShowMessage(HWND owner, const char* text, UINT icon) noexcept;

}  // namespace dl
