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

// SetClipboardData(CF_BITMAP) fails with error 6, and the CF_BITMAP made from a CF_DIB is unusable.
#define SKIP_WOW64_CLIPBOARD_BITMAP() \
    SKIP_UNDER_WINE_WOW64("SetClipboardData(CF_BITMAP) fails with error 6 (invalid handle)")
// GDI32 faults (access violation inside GDI32) when a dialog with an edit box in a Japanese font paints.
#define SKIP_WOW64_EDIT_BOX_PAINT() \
    SKIP_UNDER_WINE_WOW64("GDI32 faults when a dialog with an edit box in a Japanese font paints")
// USER32's ANSI text conversions come back wrong: the settings dialog's Japanese caption reads
// back garbled even as UTF-16, so the robot cannot find the dialog by its caption.
#define SKIP_WOW64_ANSI_WINDOW_TEXT() \
    SKIP_UNDER_WINE_WOW64("USER32 garbles the settings dialog's Japanese caption (ANSI conversion)")
// GetDeviceCaps(BITSPIXEL) returns 0.
#define SKIP_WOW64_BITS_PER_PIXEL() SKIP_UNDER_WINE_WOW64("GetDeviceCaps(BITSPIXEL) returns 0")
// A message box leaves GDI objects behind (about eleven a box, with no plug-in loaded), so a
// count of GDI objects grows with every command that shows one.
#define SKIP_WOW64_MESSAGE_BOX_GDI_LEAK() \
    SKIP_UNDER_WINE_WOW64("each message box leaves about eleven GDI objects behind")
// Each packing through COM (the shell's object, the stand-in handler's threads) leaves kernel
// handles behind in the 32-bit process, so a count of kernel handles grows with every packing.
#define SKIP_WOW64_COM_HANDLE_LEAK() \
    SKIP_UNDER_WINE_WOW64("packing through COM leaves kernel handles behind on every run")
