// The clipboard's dropped-file list (CF_HDROP) as any program may have written it.
#pragma once

#include <cstddef>

namespace dl {

// The block holds a DROPFILES header whose list starts inside the block and ends there: a
// sequence of zero-terminated paths (ANSI, or UTF-16 when the header says so) closed by an empty
// one. The shell's readers trust the header and would otherwise read beyond the block.
bool IsWellFormedDropList(const void* block, size_t size) noexcept;

}  // namespace dl
