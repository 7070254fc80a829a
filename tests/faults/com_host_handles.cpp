// Wine's fault, shown without the plug-in and without the ZIP handler stand-in: each time a
// thread of the multithreaded apartment creates the system's own Shell object (registered
// "Apartment", so COM makes it on a host thread of its own) and leaves the apartment again,
// the process keeps kernel handles it never gets back. Prints the count after each round.
#include "tests/support/handle_count.h"

#include <windows.h>
#include <shldisp.h>

#include <cstdio>

namespace {

constexpr CLSID kShell = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

bool CreateShellOnce(DWORD apartment)
{
    if (FAILED(CoInitializeEx(nullptr, apartment))) return false;
    IDispatch* shell = nullptr;
    const HRESULT created = CoCreateInstance(kShell, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&shell));
    if (shell) shell->Release();
    CoUninitialize();
    return SUCCEEDED(created);
}

// Rounds of creation from one kind of apartment; returns how many handles the last rounds added.
long Growth(const char* label, DWORD apartment)
{
    CreateShellOnce(apartment);  // what the system keeps for good is in place after the first
    const long start = static_cast<long>(rig::OpenHandleCount());
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        if (!CreateShellOnce(apartment)) {
            std::printf("%s: the Shell object could not be created\n", label);
            return 0;
        }
    }
    Sleep(500);  // threads that end a little later have ended
    const long growth = static_cast<long>(rig::OpenHandleCount()) - start;
    std::printf("%s: %ld kernel handles more after %d creations\n", label, growth, kRounds);
    return growth;
}

}  // namespace

int main()
{
    std::printf("%d-bit process\n", static_cast<int>(sizeof(void*) * 8));
    Growth("single-threaded apartment (the object on the calling thread)", COINIT_APARTMENTTHREADED);
    Growth("multithreaded apartment (the object on COM's host thread)", COINIT_MULTITHREADED);
    return 0;
}
