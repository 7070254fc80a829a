// What the process holds: kernel handles, GDI objects, USER objects and private bytes. Under Wine
// GetProcessHandleCount, GetGuiResources and the private-bytes figure of GetProcessMemoryInfo all
// stay 0, so each counter proves first that the system's figure moves when ten objects of its
// kind are made, and otherwise counts for itself:
//   kernel handles: this process's entries in the system's handle list (NtQuerySystemInformation);
//   GDI objects: the handle values that GetObjectType recognises;
//   USER objects: this process's windows (enumerated) plus the menus, icons and cursors found by
//                 probing the handle values;
//   private bytes: committed private memory, summed over VirtualQuery's regions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rig {

enum class Counter { kKernelHandles, kGdiObjects, kUserObjects, kPrivateBytes };
inline constexpr Counter kAllCounters[] = {Counter::kKernelHandles, Counter::kGdiObjects, Counter::kUserObjects,
                                           Counter::kPrivateBytes};

struct ResourceCounts {
    long long values[4] = {};
    long long operator[](Counter counter) const { return values[static_cast<int>(counter)]; }
};

// How a counter measures and what the proof saw: the rise for ten new objects of its kind.
struct CounterProof {
    Counter counter;
    std::string name;       // "kernel handles", ...
    std::string measure;    // the measure chosen
    long long systemRise;   // what the system's own figure did
    long long rise;         // what the chosen measure did
    long long expected;     // what ten objects must at least add
    bool proven() const { return rise >= expected; }
};

// The proofs, made once per process on first use.
const std::vector<CounterProof>& CounterProofs();
ResourceCounts CountResources();
// Whether the kernel handles, GDI and USER objects agree (private bytes move all the time).
bool SameObjectCounts(const ResourceCounts& a, const ResourceCounts& b);

}  // namespace rig
