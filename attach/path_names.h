// Path components of ANSI paths, double-byte characters kept whole.
#pragma once

namespace dl {

// Pointer into `path` at the start of its last component: the text after the last backslash
// that has text after it, or the whole string when there is none. A trail byte 0x5C (表, ソ)
// never separates; a trailing backslash stays part of the result ("D:\work\docs\" gives "docs\").
const char* LastPathComponent(const char* path) noexcept;

// The root of a drive: the text from the first colon on is shorter than three characters
// ("C:", "C:\").
bool IsDriveRoot(const char* path) noexcept;

// A path that names the same thing whatever the current folder: a drive letter, a colon and a
// backslash ("C:\work"), or two backslashes (a share, "\\server\share").
bool IsFullPath(const char* path) noexcept;

// A "." or ".." component, separated by backslashes or slashes; trail bytes 0x5C do not separate.
bool HasRelativeComponent(const char* path) noexcept;

}  // namespace dl
