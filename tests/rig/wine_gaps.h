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

// GetDeviceCaps(BITSPIXEL) of the screen returns 0: no bitmap for the screen can be made (so
// none reaches the clipboard as CF_BITMAP, which refuses it with error 6), and GDI+ makes no
// bitmap at all, not even from a DIB or from nothing.
#define SKIP_WOW64_NO_BITMAPS() \
    SKIP_UNDER_WINE_WOW64("GetDeviceCaps(BITSPIXEL) returns 0: no screen bitmap, no CF_BITMAP, no GDI+ bitmap")
// GDI32 faults (access violation inside GDI32) when a dialog with an edit box in a Japanese font paints.
#define SKIP_WOW64_EDIT_BOX_PAINT() \
    SKIP_UNDER_WINE_WOW64("GDI32 faults when a dialog with an edit box in a Japanese font paints")
// USER32's wide-to-ANSI conversions come back wrong (UTF-8 instead of code page 932): an ANSI
// dialog's Japanese caption from its template is garbled on the way, so the robot cannot find
// the settings dialog by its caption.
#define SKIP_WOW64_ANSI_DIALOG_CAPTION() \
    SKIP_UNDER_WINE_WOW64("USER32 garbles an ANSI dialog's Japanese caption (wide-to-ANSI conversion)")
// A message box leaves GDI objects behind (about eleven a box, with no plug-in loaded), so a
// count of GDI objects grows with every command that shows one.
#define SKIP_WOW64_MESSAGE_BOX_GDI_LEAK() \
    SKIP_UNDER_WINE_WOW64("each message box leaves about eleven GDI objects behind")
// Creating the shell's object on a thread of its own leaves two kernel handles behind in the
// 32-bit process (seen without the plug-in, and without any packing), so a count of kernel
// handles grows with every packing.
#define SKIP_WOW64_COM_HANDLE_LEAK() \
    SKIP_UNDER_WINE_WOW64("each creation of the shell's COM object leaves two kernel handles behind")
// A font selected into a device context is no usable font: GetTextFace returns garbage, and
// GetOutlineTextMetrics and GetFontData find nothing, for every face and for screen and memory
// contexts alike.
#define SKIP_WOW64_NO_FONT_IN_DC() \
    SKIP_UNDER_WINE_WOW64("a font selected into a device context has no face name, metrics or data")
