// Redirects one of a loaded module's imports, so that tests can step in between the plug-in and
// the system (fail an allocation, change the clipboard at a chosen moment) without touching the
// plug-in's code.
#pragma once

#include <windows.h>

namespace rig {

// Points `module`'s import of `function` from `library` (names compared without case) at
// `replacement`. False when the module does not import it by name.
bool ReplaceImport(HMODULE module, const char* library, const char* function, void* replacement);

}  // namespace rig
