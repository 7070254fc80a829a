// The scripted tour: loads the plug-in into the stand-in host and shows what it does.
#include "standins/host/host.h"
#include "tests/rig/plugin_fixture.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string MenuText(HMENU menu, int position)
{
    char text[256] = {};
    GetMenuStringA(menu, position, text, sizeof(text), MF_BYPOSITION);
    return text;
}

void PrintMenuTail(const char* title, HMENU submenu, int count)
{
    const int items = GetMenuItemCount(submenu);
    std::printf("%s (%d items), last %d:\n", title, items, count);
    for (int i = items - count; i < items; ++i) {
        const UINT state = GetMenuState(submenu, i, MF_BYPOSITION);
        std::printf("  [%d] %s\n", i, (state & MF_SEPARATOR) ? "----" : MenuText(submenu, i).c_str());
    }
}

}  // namespace

int main()
{
    rig::CreateSettingsKey();
    host::SetTempFolder(rig::FreshFolder("orvel-demo-temp"));
    const host::PluginExports plugin = host::LoadPlugin(rig::PluginPath());
    if (!plugin.module) {
        std::printf("the plug-in refused to load\n");
        return 1;
    }
    std::printf("loaded %s\n", rig::PluginPath().c_str());

    char info[512];
    std::memset(info, 0, sizeof(info));
    plugin.OnPlugInInfo(info);
    std::printf("name: %s\nvendor: %s\nversion: %s\ndescription: %s\n", info, info + 80, info + 160, info + 240);

    HWND main = host::CreateMainWindow();
    HWND compose = host::CreateComposeWindow();
    PrintMenuTail("main window, Tools menu", GetSubMenu(GetMenu(main), 4), 3);
    PrintMenuTail("compose window, menu 0", GetSubMenu(GetMenu(compose), 0), 3);

    for (const char* name : {"DLConfirmImage", "DLConfirmText", "DLConfirmFile", "DLAttachFileSeparately"}) {
        DWORD value = 0;
        std::printf("registry %s = %s\n", name, rig::ReadDword(name, value) ? std::to_string(value).c_str() : "(missing)");
    }
    DestroyWindow(compose);
    DestroyWindow(main);
    host::UnloadPlugin();
    return 0;
}
