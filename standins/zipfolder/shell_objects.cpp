#include "shell_objects.h"

#include <shldisp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "com_object.h"
#include "zip_append.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zipstandin {
namespace {

// Misbehaviours the plug-in must cope with, picked per call by DROPLINE_ZIPSTANDIN_MODE.
enum class Mode {
  kNormal,
  kNoFolder,  // NameSpace succeeds without a Folder
  kCopyFail,  // CopyHere fails and writes nothing
  kSync,      // CopyHere packs before returning, on the caller's thread
  kTwelve,    // CopyHere starts twelve threads, one of them packing
  kSlow,      // the packing thread waits DROPLINE_ZIPSTANDIN_DELAY_MS first
  kPartial,   // writes half of the entries and ends, as the shell's handler after its Cancel
};

constexpr DWORD kDefaultSlowDelayMs = 1500;
constexpr int kTwelveModeIdleThreads = 11;
constexpr DWORD kIdleThreadLifeMs = 500;

Mode CurrentMode() {
  static constexpr std::pair<const char*, Mode> kModes[] = {
      {"nofolder", Mode::kNoFolder}, {"copyfail", Mode::kCopyFail}, {"sync", Mode::kSync},
      {"twelve", Mode::kTwelve},     {"slow", Mode::kSlow},         {"partial", Mode::kPartial},
  };
  char value[32];
  const DWORD length = GetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", value, sizeof value);
  if (length == 0 || length >= sizeof value) return Mode::kNormal;
  for (const auto& [name, mode] : kModes) {
    if (std::strcmp(value, name) == 0) return mode;
  }
  return Mode::kNormal;
}

DWORD SlowDelayMs() {
  char value[16];
  const DWORD length = GetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", value, sizeof value);
  if (length == 0 || length >= sizeof value) return kDefaultSlowDelayMs;
  char* end = nullptr;
  const unsigned long delay = std::strtoul(value, &end, 10);
  return end != value && *end == '\0' ? static_cast<DWORD>(delay) : kDefaultSlowDelayMs;
}

DWORD FullPath(const wchar_t* path, std::wstring* full) {
  const DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (size == 0) return GetLastError();
  full->resize(size);
  const DWORD length = GetFullPathNameW(path, size, full->data(), nullptr);
  if (length == 0 || length >= size) return ERROR_BAD_PATHNAME;
  full->resize(length);
  return ERROR_SUCCESS;
}

bool IsZipFile(const std::wstring& path) {
  constexpr wchar_t kExtension[] = L".zip";
  constexpr size_t kExtensionLength = 4;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         path.size() > kExtensionLength &&
         CompareStringOrdinal(path.c_str() + path.size() - kExtensionLength, kExtensionLength, kExtension,
                              kExtensionLength, TRUE) == CSTR_EQUAL;
}

struct PackJob {
  std::wstring archive;
  std::wstring source;
  DWORD delayMs = 0;
  bool partial = false;
  uint64_t ticket = 0;
};

// Jobs pack one at a time, in the order CopyHere was called, however their threads
// get scheduled: two items copied into one archive must land in call order and must
// not rebuild it at the same time.
SRWLOCK g_queueLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_turnChanged = CONDITION_VARIABLE_INIT;
uint64_t g_nextTicket = 0;  // guarded by g_queueLock
uint64_t g_turn = 0;        // guarded by g_queueLock

DWORD RunJob(std::unique_ptr<PackJob> job) noexcept {
  if (job->delayMs) Sleep(job->delayMs);
  AcquireSRWLockExclusive(&g_queueLock);
  while (g_turn != job->ticket) SleepConditionVariableSRW(&g_turnChanged, &g_queueLock, INFINITE, 0);
  ReleaseSRWLockExclusive(&g_queueLock);

  DWORD error;
  try {
    error = AppendToArchive(job->archive, job->source, job->partial);
  } catch (const std::bad_alloc&) {
    error = ERROR_OUTOFMEMORY;
  }

  AcquireSRWLockExclusive(&g_queueLock);
  ++g_turn;
  ReleaseSRWLockExclusive(&g_queueLock);
  WakeAllConditionVariable(&g_turnChanged);
  // The real handler would show a message box; a log line is enough here.
  if (error != ERROR_SUCCESS) OutputDebugStringW(L"zipfolder stand-in: packing failed\n");
  return error;
}

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

// Threads hold a reference on this DLL, so COM unloading it cannot pull the code from
// under them; FreeLibraryAndExitThread drops it without returning into the DLL.
DWORD WINAPI PackThread(void* job) {
  const DWORD error = RunJob(std::unique_ptr<PackJob>(static_cast<PackJob*>(job)));
  FreeLibraryAndExitThread(ThisModule(), error);
}

DWORD WINAPI IdleThread(void*) {
  Sleep(kIdleThreadLifeMs);
  FreeLibraryAndExitThread(ThisModule(), 0);
}

HRESULT StartThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  HMODULE self;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&__ImageBase), &self)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  const HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
  if (!thread) {
    const DWORD error = GetLastError();
    FreeLibrary(self);
    return HRESULT_FROM_WIN32(error);
  }
  CloseHandle(thread);
  return S_OK;
}

// For a job the caller's thread runs itself.
std::unique_ptr<PackJob> TakeTicket(std::unique_ptr<PackJob> job) {
  AcquireSRWLockExclusive(&g_queueLock);
  job->ticket = g_nextTicket++;
  ReleaseSRWLockExclusive(&g_queueLock);
  return job;
}

// The ticket is used up only if the thread starts, so a failed start cannot stall later jobs.
HRESULT RunOnNewThread(std::unique_ptr<PackJob> job) {
  AcquireSRWLockExclusive(&g_queueLock);
  job->ticket = g_nextTicket;
  const HRESULT hr = StartThread(PackThread, job.get());
  if (SUCCEEDED(hr)) {
    ++g_nextTicket;
    job.release();
  }
  ReleaseSRWLockExclusive(&g_queueLock);
  return hr;
}

class ZipFolder final : public DispatchObject<Folder> {
 public:
  explicit ZipFolder(std::wstring archive) : archive_(std::move(archive)) {}

  HRESULT STDMETHODCALLTYPE get_Title(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Application(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Parent(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ParentFolder(Folder**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Items(FolderItems**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ParseName(BSTR, FolderItem**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NewFolder(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveHere(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDetailsOf(VARIANT, int, BSTR*) override { return E_NOTIMPL; }

  // The options (progress UI, confirmations) mean nothing without a UI and are ignored.
  HRESULT STDMETHODCALLTYPE CopyHere(VARIANT item, VARIANT) override try {
    const Mode mode = CurrentMode();
    if (mode == Mode::kCopyFail) return E_ACCESSDENIED;
    if (item.vt != VT_BSTR || !item.bstrVal) return E_INVALIDARG;

    auto job = std::make_unique<PackJob>();
    job->archive = archive_;
    // Resolved now: the current directory may change before the thread runs.
    if (const DWORD error = FullPath(item.bstrVal, &job->source)) return HRESULT_FROM_WIN32(error);
    // Unlike the real handler, which reports a missing source in a message box later,
    // tell the caller at once.
    if (GetFileAttributesW(job->source.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return HRESULT_FROM_WIN32(GetLastError());
    }

    if (mode == Mode::kSync) {
      // HRESULT_FROM_WIN32 may be a macro that evaluates its argument twice.
      const DWORD error = RunJob(TakeTicket(std::move(job)));
      return HRESULT_FROM_WIN32(error);
    }
    if (mode == Mode::kTwelve) {
      for (int i = 0; i < kTwelveModeIdleThreads; ++i) {
        if (const HRESULT hr = StartThread(IdleThread, nullptr); FAILED(hr)) return hr;
      }
    }
    if (mode == Mode::kSlow) job->delayMs = SlowDelayMs();
    job->partial = mode == Mode::kPartial;
    return RunOnNewThread(std::move(job));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

 private:
  const std::wstring archive_;
};

class ShellDispatch final : public DispatchObject<IShellDispatch> {
 public:
  HRESULT STDMETHODCALLTYPE get_Application(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Parent(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BrowseForFolder(LONG, BSTR, LONG, VARIANT, Folder**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Windows(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Open(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Explore(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MinimizeAll() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UndoMinimizeALL() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FileRun() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CascadeWindows() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TileVertically() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TileHorizontally() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShutdownWindows() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EjectPC() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTime() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TrayProperties() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Help() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFiles() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindComputer() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RefreshMenu() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ControlPanelItem(BSTR) override { return E_NOTIMPL; }

  // Only ZIP files are handled; S_FALSE without a Folder is what the shell answers for
  // a path it cannot open.
  HRESULT STDMETHODCALLTYPE NameSpace(VARIANT path, Folder** folder) override try {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    if (CurrentMode() == Mode::kNoFolder) return S_OK;
    std::wstring archive;
    if (path.vt != VT_BSTR || !path.bstrVal || FullPath(path.bstrVal, &archive) != ERROR_SUCCESS ||
        !IsZipFile(archive)) {
      return S_FALSE;
    }
    *folder = new ZipFolder(std::move(archive));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
};

}  // namespace

HRESULT CreateShellObject(REFIID iid, void** object) try {
  ShellDispatch* shell = new ShellDispatch;
  const HRESULT hr = shell->QueryInterface(iid, object);
  shell->Release();
  return hr;
} catch (const std::bad_alloc&) {
  return E_OUTOFMEMORY;
}

}  // namespace zipstandin
