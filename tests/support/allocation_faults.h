// Out of memory on demand, inside the plug-in only: its imports of the C runtime's allocator
// are replaced, so that its own allocations can be made to fail and be counted, while the
// test's and the system's allocations go on as usual.
#pragma once

#include <windows.h>

#include <cstddef>

namespace rig {

bool InstallAllocationFaults(HMODULE plugin);
// The plug-in's next allocation fails (operator new then throws), the ones after it succeed
// again: the runtime's own handling of the failure needs memory too.
void FailNextAllocation();
// The same for the plug-in's allocation number `count` from now on (1 is the next one); 0 fails
// none.
void FailAllocation(int count);
// Forgets what was counted so far; LiveAllocations then counts from here.
void StartCountingAllocations();
// Blocks the plug-in allocated since StartCountingAllocations and has not freed.
size_t LiveAllocations();
// Allocations the plug-in asked for since StartCountingAllocations, freed or not.
int AllocationsCounted();

}  // namespace rig
