// The test the confirmation dialogs apply to a file name typed by the user.
#pragma once

namespace dl {

// What no file name may hold.
inline constexpr char kCharactersRefusedInFileNames[] = "\\/:*?\"<>|";

// False for null, empty, any of \ / : * ? " < > | (whole characters: a double-byte character's
// trail byte is no separator), and names Windows maps to a device (CON, NUL, COM1, LPT1 ...).
bool IsValidFileName(const char* name) noexcept;

}  // namespace dl
