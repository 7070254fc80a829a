#include "tests/support/com_setup.h"

#include <cstdio>
#include <utility>

namespace rig {

std::string Describe(const ComSetUp& setUp)
{
    const char* apartment = setUp.apartment == Apartment::kNone             ? "none"
                            : setUp.apartment == Apartment::kSingleThreaded ? "STA"
                                                                            : "MTA";
    return std::string(setUp.threading == ZipStandInThreading::kApartment ? "Apartment_" : "Both_") + apartment;
}

ApartmentScope::ApartmentScope(Apartment apartment)
    : apartment_(apartment),
      result_(apartment == Apartment::kSingleThreaded ? OleInitialize(nullptr)
              : apartment == Apartment::kMultithreaded ? CoInitializeEx(nullptr, COINIT_MULTITHREADED)
                                                       : S_FALSE)
{
}

ApartmentScope::~ApartmentScope()
{
    if (FAILED(result_) || apartment_ == Apartment::kNone) return;
    if (apartment_ == Apartment::kSingleThreaded) {
        OleUninitialize();
    } else {
        CoUninitialize();
    }
}

HandlerRelease::HandlerRelease()
    : event_(CreateEventW(nullptr, TRUE, FALSE, ZipStandInReleaseEventName(GetCurrentProcessId()).c_str()))
{
    Hold();
}

Watchdog::Watchdog(DWORD limitMs, std::string what)
    : limitMs_(limitMs), what_(std::move(what)), done_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    thread_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

Watchdog::~Watchdog()
{
    SetEvent(done_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
}

DWORD WINAPI Watchdog::Watch(void* self)
{
    const auto* watchdog = static_cast<const Watchdog*>(self);
    if (WaitForSingleObject(watchdog->done_.get(), watchdog->limitMs_) != WAIT_TIMEOUT) return 0;
    std::fprintf(stderr, "\n%s did not end within %lu s: the process is ended\n", watchdog->what_.c_str(),
                 static_cast<unsigned long>(watchdog->limitMs_ / 1000));
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

}  // namespace rig
