// Redirecting a module's imported function, so that tests can see what our code asks of the
// system (message boxes shown, threads opened).
#pragma once

#include <windows.h>

namespace rig {

// Points `module`'s import of `function` from `dll` at `replacement`. Returns the function it
// replaced, or null when the module does not import it (or it is already redirected).
FARPROC ReplaceImport(HMODULE module, const char* dll, const char* function, FARPROC replacement);

}  // namespace rig
