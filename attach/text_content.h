// What a text attachment's file holds, decided by the clipboard's two texts themselves: programs
// put them in either order, and the system makes the one a program left out from the other.
#pragma once

#include <windows.h>

#include <string>

namespace dl {

// The clipboard's texts, each up to its first NUL.
struct ClipboardTexts {
    std::string ansi;
    std::wstring unicode;
    bool hasUnicode = false;
    bool ansiFirst = false;        // ANSI text is offered before Unicode text: the program put it
    UINT localeCodePage = CP_ACP;  // of the keyboard active at the copy (CF_LOCALE)
};

struct TextFile {
    std::string bytes;     // what the file gets
    std::wstring unicode;  // the text itself when the file holds it in UTF-8, else empty
};

// - ANSI text put first goes as its bytes are where the Unicode text is only its reading in the
//   keyboard's code page, as the system makes it (an ANSI program's code page 932 text under an
//   English keyboard: "ｱｶ" read as "±¶").
// - Else the Unicode text, in code page 932 where that holds it exactly;
// - else whole, as UTF-8 after a byte-order mark, which Windows' editors and mail readers
//   recognise, where the ANSI text has "?" for what the code page lacks (😀, 𠮷).
// Unicode text put first is the program's own, even where the system's ANSI text reads back to it
// ("café" in code page 1252 under an English keyboard).
TextFile ChooseTextFile(ClipboardTexts texts);

}  // namespace dl
