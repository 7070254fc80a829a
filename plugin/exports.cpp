// The sixteen callbacks the host calls by name. Only four do anything: the menus, the
// keystroke, the plug-in information and the set-up request.
#include "attach/attach_command.h"
#include "common/texts.h"
#include "host/host_api.h"
#include "settings/settings_dialog.h"

#include <cstring>

namespace dl {

namespace {

constexpr UINT kKeyV = 86;
constexpr UINT kModifiersCtrlShift = 96;
constexpr char kComposeWindowClass[] = "Orvel2ComposeFrame";
constexpr int kClassNameLimit = 30;

constexpr int kToolsSubmenu = 4;
constexpr UINT kToolsInsertPosition = 255;
constexpr int kComposeSubmenu = 0;
constexpr UINT kComposeInsertPosition = 15;

// Field offsets of the host's information record.
constexpr size_t kInfoNameOffset = 0;
constexpr size_t kInfoVendorOffset = 80;
constexpr size_t kInfoVersionOffset = 160;
constexpr size_t kInfoDescriptionOffset = 240;

void WINAPI SettingsCommand(HWND window, LPARAM) { ShowSettingsDialog(window); }

int WINAPI CommandUIState(HWND, LPARAM) { return 0; }

// Registers a command and inserts a separator and its item at `position` of the submenu.
// A position past the end appends, so a short submenu ends with the separator and the item.
void AddCommandItem(HMENU menu, int submenuIndex, UINT position, const char* comment, int target,
                    HostCommandProc proc, const char* itemText)
{
    const int commandId = Host().RegisterCommand(comment, target, proc);
    Host().RegisterUICallback(commandId, CommandUIState);
    HMENU submenu = GetSubMenu(menu, submenuIndex);
    InsertMenuA(submenu, position, MF_BYPOSITION | MF_SEPARATOR, 0, "");
    InsertMenuA(submenu, position, MF_BYPOSITION | MF_STRING, static_cast<UINT_PTR>(commandId), itemText);
}

bool IsComposeWindow(HWND window)
{
    char className[kClassNameLimit] = {};
    if (GetClassNameA(window, className, kClassNameLimit) <= 0) return false;
    // The terminator takes part, so a longer or shorter name does not match.
    return std::memcmp(className, kComposeWindowClass, sizeof(kComposeWindowClass)) == 0;
}

void WriteText(char* record, size_t offset, const char* text)
{
    std::memcpy(record + offset, text, std::strlen(text) + 1);
}

}  // namespace

}  // namespace dl

using namespace dl;

extern "C" {

int WINAPI OVC_OnStart() { return 0; }
int WINAPI OVC_OnExit() { return 0; }

int WINAPI OVC_OnMenuInit(HWND, HMENU menu, int type)
{
    if (type == kMenuTypeMain) {
        AddCommandItem(menu, kToolsSubmenu, kToolsInsertPosition, text::kSettingsCommandComment, kMenuTypeMain,
                       SettingsCommand, text::kSettingsMenuItem);
    } else if (type == kMenuTypeCompose) {
        AddCommandItem(menu, kComposeSubmenu, kComposeInsertPosition, text::kAttachCommandComment,
                       kMenuTypeCompose, AttachClipboard, text::kAttachMenuItem);
    }
    return 0;
}

int WINAPI OVC_OnOpenFolder(LPARAM) { return 0; }
int WINAPI OVC_OnOpenMail(LPARAM) { return 0; }
int WINAPI OVC_OnEveryMinute() { return 0; }
int WINAPI OVC_OnOpenCompose(LPARAM, LPARAM) { return 0; }
int WINAPI OVC_OnOutgoing(LPARAM, LPARAM) { return 0; }

int WINAPI OVC_OnKeyDispatch(HWND window, UINT key, UINT modifiers)
{
    if (key != kKeyV || modifiers != kModifiersCtrlShift) return 0;
    if (!IsComposeWindow(window)) return 0;
    AttachClipboard(window, 0);
    return 1;
}

int WINAPI OVC_OnRetrieve(LPARAM, LPARAM) { return 0; }
int WINAPI OVC_OnSend(LPARAM) { return 0; }
int WINAPI OVC_OnFinishRetrieve(LPARAM) { return 0; }

int WINAPI OVC_OnPlugInSetup(HWND owner)
{
    ShowSettingsDialog(owner);
    return 1;
}

int WINAPI OVC_OnPlugInInfo(char* record)
{
    WriteText(record, kInfoNameOffset, text::kPluginName);
    WriteText(record, kInfoVendorOffset, text::kVendor);
    WriteText(record, kInfoVersionOffset, text::kVersion);
    WriteText(record, kInfoDescriptionOffset, text::kDescription);
    return 0;
}

int WINAPI OVC_OnDragDrop(LPARAM, LPARAM, LPARAM, LPARAM) { return 0; }
int WINAPI OVC_OnBeforeFilter2(LPARAM, LPARAM, LPARAM, LPARAM) { return 0; }

}  // extern "C"
