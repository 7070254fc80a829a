#pragma once

#include <windows.h>

namespace zipstandin {

// Creates the shell automation object and queries it for `iid`.
HRESULT CreateShellObject(REFIID iid, void** object);

}  // namespace zipstandin
