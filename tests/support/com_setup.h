// The COM set-ups a host may call the plug-in in: its UI thread in no apartment, in a
// single-threaded one (OleInitialize, as a mail client with OLE drag and drop has it) or in the
// multithreaded one, and the Shell class registered "Both" or "Apartment" (as Windows has it).
// Packing must work in every pairing.
#pragma once

#include "common/win.h"

#include "registration.h"

#include <ostream>
#include <string>

namespace rig {

enum class Apartment { kNone, kSingleThreaded, kMultithreaded };

struct ComSetUp {
    ZipStandInThreading threading;
    Apartment apartment;
};

// "Apartment_STA", "Both_none": for test names and traces.
std::string Describe(const ComSetUp& setUp);
inline std::ostream& operator<<(std::ostream& out, const ComSetUp& setUp) { return out << Describe(setUp); }

// The calling thread is in the apartment until the scope ends.
class ApartmentScope {
public:
    explicit ApartmentScope(Apartment apartment);
    ~ApartmentScope();
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;

private:
    Apartment apartment_;
    HRESULT result_;
};

// The stand-in handler's release event for this process (see registration.h): its held threads
// wait from construction until Release, and at the latest until the end of the scope.
class HandlerRelease {
public:
    HandlerRelease();
    ~HandlerRelease() { Release(); }
    HandlerRelease(const HandlerRelease&) = delete;
    HandlerRelease& operator=(const HandlerRelease&) = delete;

    void Release() { SetEvent(event_.get()); }
    void Hold() { ResetEvent(event_.get()); }

private:
    dl::UniqueHandle event_;
};

// Ends the process with a message when its scope lasts longer than `limitMs`. A wait that never
// ends on the test's own thread cannot be bounded any other way, and a test must not hang.
class Watchdog {
public:
    Watchdog(DWORD limitMs, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(void* self);
    DWORD limitMs_;
    std::string what_;
    dl::UniqueHandle done_;
    dl::UniqueHandle thread_;
};

}  // namespace rig
