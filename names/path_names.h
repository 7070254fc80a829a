// The rules for the clipboard's paths, on the paths as Windows keeps them (UTF-16).
#pragma once

namespace dl {

// Pointer into `path` at the start of its last component: the text after the last backslash
// that has text after it, or the whole string when there is none. A trailing backslash stays part
// of the result ("D:\work\docs\" gives "docs\").
const wchar_t* LastPathComponent(const wchar_t* path) noexcept;

// The root of a drive: the text from the first colon on is shorter than three characters
// ("C:", "C:\").
bool IsDriveRoot(const wchar_t* path) noexcept;

// The root of a share ("\\server\share", also as "\\?\UNC\server\share") or of a volume
// ("\\?\Volume{...}", "\\.\C:"), with or without a trailing backslash.
bool IsShareOrVolumeRoot(const wchar_t* path) noexcept;

// A path that names the same thing whatever the current folder: a drive letter, a colon and a
// backslash ("C:\work"), or two backslashes (a share, "\\server\share").
bool IsFullPath(const wchar_t* path) noexcept;

// A "." or ".." component, separated by backslashes or slashes.
bool HasRelativeComponent(const wchar_t* path) noexcept;

}  // namespace dl
