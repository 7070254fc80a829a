// The stand-in host as a program, for trying the plug-in by hand: a main window whose Tools
// menu holds the plug-in's settings item, and a compose window that takes Ctrl+Shift+V.
#include "standins/host/host.h"

#include <cstdio>
#include <string>

namespace {

std::string BesideExecutable(const char* fileName)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + fileName;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string pluginPath = argc > 1 ? argv[1] : BesideExecutable("Dropline.dll");
    if (!host::LoadPlugin(pluginPath).module) {
        std::printf("the plug-in %s refused to load (error %lu)\n", pluginPath.c_str(), GetLastError());
        return 1;
    }
    HWND main = host::CreateMainWindow();
    SetPropA(main, "QuitOnClose", reinterpret_cast<HANDLE>(1));
    host::CreateComposeWindow();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    host::UnloadPlugin();
    return 0;
}
