// The test the confirmation dialogs apply to a file name typed by the user.
#pragma once

namespace dl {

// What no file name may hold.
inline constexpr char kCharactersRefusedInFileNames[] = "\\/:*?\"<>|";

// False for null, empty, any of \ / : * ? " < > | (whole characters: a double-byte character's
// trail byte is no separator), names Windows maps to a device (CON, NUL, COM1, LPT1 ...), and
// names ending in a dot or a blank, "." and ".." among them.
bool IsValidFileName(const char* name) noexcept;

}  // namespace dl
