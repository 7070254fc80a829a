#include "common/module.h"

#include "common/texts.h"

namespace dl {

namespace {
HINSTANCE g_instance = nullptr;
}

HINSTANCE ModuleInstance() noexcept { return g_instance; }

void SetModuleInstance(HINSTANCE instance) noexcept { g_instance = instance; }

int ShowMessage(HWND owner, const char* text, UINT icon) noexcept
{
    return MessageBoxA(owner, text, text::kPluginName, MB_OK | icon);
}

}  // namespace dl
