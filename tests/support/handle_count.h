// How many handles this process holds open, for tests that must leave none behind and for the
// benchmark's peak.
#pragma once

#include <cstddef>

namespace rig {

// Every kind of handle (files, threads, events, ...), from the system's handle table.
std::size_t OpenHandleCount();

}  // namespace rig
