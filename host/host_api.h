// The host's functions, bound by name from the host's executable at load.
#pragma once

#include <windows.h>

#include <string>

namespace dl {

// Callbacks handed to the host; each takes a window handle and a parameter.
using HostCommandProc = void(WINAPI*)(HWND window, LPARAM param);
using HostUIStateProc = int(WINAPI*)(HWND window, LPARAM param);

// Signatures of the host functions that the plug-in calls.
using OvaGetVersion = const char*(WINAPI*)();
using OvaRegisterCommand = int(WINAPI*)(const char* comment, int target, HostCommandProc proc);
using OvaRegisterUICallback = int(WINAPI*)(int commandId, HostUIStateProc proc);
using OvaGetTempFolder = const char*(WINAPI*)();
using OvaGetTempFileName = const char*(WINAPI*)(const char* extension);
using OvaCompAttachFile = int(WINAPI*)(HWND composeWindow, const char* path, const char* mimeType);

struct HostApi {
    OvaGetVersion GetVersion = nullptr;
    OvaRegisterCommand RegisterCommand = nullptr;
    OvaRegisterUICallback RegisterUICallback = nullptr;
    OvaGetTempFolder GetTempFolder = nullptr;
    OvaGetTempFileName GetTempFileName = nullptr;
    OvaCompAttachFile CompAttachFile = nullptr;
};

// Binds the table from the process executable and applies the version rule; false refuses the load.
bool BindHostFunctions() noexcept;
void UnbindHostFunctions() noexcept;

// The bound table; valid while the module is loaded.
const HostApi& Host() noexcept;

// A staging path: the host's temporary folder, asked afresh (it ends with a backslash), followed
// directly by `name`. E_FAIL when the host gives no folder.
HRESULT PathInHostTemp(const std::string& name, std::string& path);

// The menu types the host passes to OVC_OnMenuInit and takes as command targets.
constexpr int kMenuTypeMain = 0;
constexpr int kMenuTypeCompose = 10;

}  // namespace dl
