// A stand-in for the host mail client: the functions it exports to plug-ins, its main window
// and its compose windows. Tests, the demo and the hand-driven host program all use it.
#pragma once

#include "host/host_api.h"

#include <windows.h>

#include <string>
#include <vector>

namespace host {

struct Attachment {
    HWND window;
    std::string path;      // as the plug-in handed it over
    bool readable;         // the file could be read at the moment of the call
    std::string bytes;     // its content, copied at once (the plug-in deletes it right after)
};

struct Command {
    int id;
    std::string comment;
    int target;
    dl::HostCommandProc proc;
    dl::HostUIStateProc uiState;
};

// The plug-in's exported callbacks, as the host calls them.
struct PluginExports {
    HMODULE module = nullptr;
    int(WINAPI* OnMenuInit)(HWND, HMENU, int) = nullptr;
    int(WINAPI* OnKeyDispatch)(HWND, UINT, UINT) = nullptr;
    int(WINAPI* OnPlugInSetup)(HWND) = nullptr;
    int(WINAPI* OnPlugInInfo)(char*) = nullptr;
};

// The class name the plug-in recognises compose windows by.
inline constexpr char kComposeClass[] = "Orvel2ComposeFrame";
inline constexpr char kMainClass[] = "OrvelStandInMain";

// What the host reports for Ctrl+Shift+V.
constexpr UINT kKeyV = 86;
constexpr UINT kModifierShift = 0x20;
constexpr UINT kModifierCtrl = 0x40;
constexpr UINT kModifierAlt = 0x10;

// Posted to a compose window to deliver a keystroke as the host reports it
// (wParam: key code, lParam: modifier state). Robots use it; real keys arrive as WM_KEYDOWN.
constexpr UINT kMsgKeyDispatch = WM_APP + 0x40;

// Version text that OVA_GetVersion reports.
void SetVersion(const std::string& version);

// The host's temporary folder (ends with a backslash); created when set.
void SetTempFolder(const std::string& folder);
std::string TempFolder();

// Reads a whole file, sharing it with every other opener, as the host takes in an attachment.
bool ReadWholeFile(const std::string& path, std::string& bytes);

std::vector<Attachment> Attachments();
void ClearAttachments();
std::vector<Command> Commands();
int CallCount(const char* functionName);

// Loads the plug-in as the host does; null when the module refused to load.
PluginExports LoadPlugin(const std::string& path);
void UnloadPlugin();
const PluginExports& Plugin();

// Windows; each builds its menu and lets the plug-in add its items.
HWND CreateMainWindow();
HWND CreateComposeWindow(int fileMenuItems = 16);
HMENU MenuOf(HWND window);

// Runs a registered command for a window, as choosing its menu item does.
bool RunCommand(HWND window, int commandId);
int DispatchKey(HWND window, UINT key, UINT modifiers);
// How many keystrokes the plug-in has taken (its callback returned nonzero).
int HandledKeyDispatches();

// Pumps messages until the thread's queue is empty.
void PumpMessages();

}  // namespace host
