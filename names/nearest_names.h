// Names and texts between UTF-16, in which Windows keeps them, and the ANSI code page (932 on the
// target systems), in which the host and the shell's ZIP handler take them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

// True when the ANSI code page holds `text` exactly: no character is replaced by a best fit or by
// the default character. Only then does `ansi` get the text.
bool ToExactAnsi(const std::wstring& text, std::string& ansi);

// `text` as an ANSI control can show it: Windows' best fit, '?' where there is none.
std::string BestFitAnsi(const std::wstring& text);

// `text` read in `codePage`.
std::wstring WideFromAnsi(const std::string& text, UINT codePage = CP_ACP);

// The name nearest to `name` that the ANSI code page holds: each character as it is or by
// Windows' best fit (é gives e), '_' for a character that has none (simplified Chinese, Hangul,
// everything beyond the Basic Multilingual Plane) and for one whose best fit cannot stand in a
// file name (¥ gives \, ¦ gives |). A device name gets a leading '_': the result always passes
// IsValidFileName.
std::string NearestName(const std::wstring& name);

// An entry's name in the ANSI code page: its own when the code page holds it, else its nearest.
struct SiblingName {
    std::string name;
    bool exact;   // the code page holds the entry's own name
    bool folder;
};
SiblingName NameInCodePage(const std::wstring& name, bool folder);

// Names for entries that go side by side into one folder, in the entries' order, no two alike as
// Windows compares names (ignoring case). Exact names are given out first, so that a nearest name
// never takes a real file's own name; within each kind, the earlier entry keeps its name. A name
// already given becomes "name (2).ext", "name (3).ext" ... as Windows names copies; a folder takes
// its number at the end.
std::vector<std::string> DistinctNames(const std::vector<SiblingName>& siblings);

}  // namespace dl
