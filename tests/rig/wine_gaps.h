// Faults of Wine 8's WoW64 mode (experimental there) that the i686 test programs meet: each is
// Wine's, seen from 32-bit programs only, and a test that meets one is skipped on i686 with the
// fault's name, never weakened. One macro per fault, at the top of the affected test only; the
// x86_64 run and a real 32-bit Windows run them all.
#pragma once

#include <gtest/gtest.h>

namespace rig {

// A 32-bit program in Wine's WoW64 mode.
bool UnderWineWow64();

}  // namespace rig

#define SKIP_UNDER_WINE_WOW64(fault)                                                  \
    if (::rig::UnderWineWow64()) GTEST_SKIP() << "Wine's WoW64 mode: " fault

// Creating the shell's object on a thread of its own leaves two kernel handles behind in the
// 32-bit process (seen without the plug-in, and without any packing), so a count of kernel
// handles grows with every packing.
#define SKIP_WOW64_COM_HANDLE_LEAK() \
    SKIP_UNDER_WINE_WOW64("each creation of the shell's COM object leaves two kernel handles behind")
