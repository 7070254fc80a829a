#pragma once

#include <windows.h>

#include <string>

// Registers zipfolder_standin.dll as the in-process server of the shell automation
// object (CLSID_Shell), from inside the running process, so the next CoCreateInstance of
// CLSID_Shell loads it. Windows registers the Shell class as "Apartment": created from the
// multithreaded apartment, COM then puts the object on a thread of its own. "Both" puts it
// in the creating thread's apartment, whichever that is.
//
// Wine's COM looks classes up in HKEY_CLASSES_ROOT only, which Wine maps to
// HKLM\Software\Classes; a per-user HKCU\Software\Classes registration is ignored
// (checked with Wine 8.0). So this writes the machine-wide key, which is fine in the
// throwaway prefixes the tests and the demo use; the process needs write access there.
//
// The values it replaces are saved beside them in the same key, so registering again
// keeps the first saved values and UnregisterZipStandIn, even from another process,
// restores Wine's own registration. A registration nested in another one of this process
// gives back, when it is undone, the threading model it replaced. Calls are counted: parallel test processes each
// register and unregister, and only the last unregistration restores. A process that
// dies registered leaves the stand-in registered for good, which a throwaway prefix
// can live with.
//
// `dllWindowsPath` is the DLL's full Windows path in the ANSI code page, for example
// "Z:\\tmp\\build\\zipfolder_standin.dll". Returns false if the file is missing or the
// registry cannot be written.
enum class ZipStandInThreading { kBoth, kApartment };
bool RegisterZipStandIn(const char* dllWindowsPath, ZipStandInThreading threading = ZipStandInThreading::kBoth);

// Undoes one RegisterZipStandIn; the last one puts back the registration it replaced.
// Does nothing if the stand-in is not registered.
void UnregisterZipStandIn();

// The stand-in's "held" packing threads and the idle threads of its "twelve" mode wait until the
// process sets the manual-reset event of this name (or two minutes have passed): a test decides
// when the handler goes on, instead of guessing a delay.
inline std::wstring ZipStandInReleaseEventName(DWORD processId) {
  return L"Local\\DroplineZipStandInRelease-" + std::to_wstring(processId);
}
