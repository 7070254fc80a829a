#include "common/module.h"
#include "host/host_api.h"
#include "settings/settings_store.h"

#include <commctrl.h>

using namespace dl;

namespace {

// Any failure refuses the load, silently: the host simply runs without the plug-in.
BOOL OnProcessAttach()
{
    if (!BindHostFunctions()) return FALSE;
    if (!CreateSettingsStore()) return FALSE;
    if (!RegisterAllSettings()) return FALSE;

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    SetModuleInstance(instance);
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return OnProcessAttach();
    case DLL_PROCESS_DETACH:
        DestroySettingsStore();
        UnbindHostFunctions();
        return TRUE;
    default:
        return TRUE;
    }
}
