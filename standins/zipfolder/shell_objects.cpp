#include "shell_objects.h"

#include <shldisp.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "com_object.h"
#include "registration.h"
#include "zip_append.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zipstandin {
namespace {

// Behaviours the plug-in must cope with, picked per call by DROPLINE_ZIPSTANDIN_MODE.
enum class Mode {
  kNormal,
  kNoFolder,  // NameSpace succeeds without a Folder
  kCopyFail,  // CopyHere fails and writes nothing
  kSync,      // CopyHere packs before returning, on the caller's thread
  kFast,      // the packing thread has ended before CopyHere returns
  kPooled,    // one long-lived thread, started at the first such call, packs every job
  kCallback,  // the packing thread first calls back into the caller's apartment
  kTwelve,    // CopyHere starts twelve threads, one of them packing; the others idle until released
  kSlow,      // the packing thread waits DROPLINE_ZIPSTANDIN_DELAY_MS first
  kHeld,      // the packing thread waits until the test releases it
  kNever,     // CopyHere accepts the job and nothing ever packs it
  kPartial,   // writes half of the entries and ends, as the shell's handler after its Cancel
  kHoldOpen,  // the Folder holds the archive open for writing until released; the job writes in place
  kVanish,    // the job writes the archive in place, then deletes it
  kQuiet,     // a worker there before the request is silent (DELAY_MS, else 15 s), then moves it in
  kHandoff,   // CopyHere's thread starts the working thread later and ends; it waits DELAY_MS first
};

constexpr DWORD kDefaultSlowDelayMs = 1500;
constexpr DWORD kDefaultQuietDelayMs = 15000;
// How long the handoff mode's first thread runs before it hands the job on.
constexpr DWORD kHandoffAfterMs = 200;
constexpr int kTwelveModeIdleThreads = 11;
// A test that never releases its held threads must not keep them for good.
constexpr DWORD kLongestHoldMs = 120000;

Mode CurrentMode() {
  static constexpr std::pair<const char*, Mode> kModes[] = {
      {"nofolder", Mode::kNoFolder}, {"copyfail", Mode::kCopyFail}, {"sync", Mode::kSync},
      {"fast", Mode::kFast},         {"pooled", Mode::kPooled},     {"callback", Mode::kCallback},
      {"twelve", Mode::kTwelve},     {"slow", Mode::kSlow},         {"held", Mode::kHeld},
      {"never", Mode::kNever},       {"partial", Mode::kPartial},   {"holdopen", Mode::kHoldOpen},
      {"vanish", Mode::kVanish},     {"quiet", Mode::kQuiet},       {"handoff", Mode::kHandoff},
  };
  char value[32];
  const DWORD length = GetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", value, sizeof value);
  if (length == 0 || length >= sizeof value) return Mode::kNormal;
  for (const auto& [name, mode] : kModes) {
    if (std::strcmp(value, name) == 0) return mode;
  }
  return Mode::kNormal;
}

// Waits until the test sets this process's release event (see registration.h).
void WaitForRelease() {
  const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, ZipStandInReleaseEventName(GetCurrentProcessId()).c_str());
  if (!release) return;
  WaitForSingleObject(release, kLongestHoldMs);
  CloseHandle(release);
}

DWORD DelayMs(DWORD fallback) {
  char value[16];
  const DWORD length = GetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", value, sizeof value);
  if (length == 0 || length >= sizeof value) return fallback;
  char* end = nullptr;
  const unsigned long delay = std::strtoul(value, &end, 10);
  return end != value && *end == '\0' ? static_cast<DWORD>(delay) : fallback;
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

// How the finished archive gets where it belongs.
enum class Write {
  kSwap,             // built beside it and moved over it
  kInPlace,          // its bytes written over the old ones through a handle held throughout
  kInPlaceThenGone,  // the same, then deleted, as a scanner's quarantine would take it
};

struct PackJob {
  std::wstring archive;
  std::wstring source;
  DWORD delayMs = 0;
  bool held = false;
  bool partial = false;
  Write write = Write::kSwap;
  // The Folder the request came through, kept (with what it holds open) until the job is done.
  IUnknown* folder = nullptr;
  // An object of the caller's apartment, marshaled for the packing thread to call first.
  IStream* callback = nullptr;
  uint64_t ticket = 0;

  ~PackJob() {
    if (folder) folder->Release();
    if (!callback) return;
    CoReleaseMarshalData(callback);
    callback->Release();
  }
};

// The call into the caller's apartment: in a single-threaded one it arrives as a posted message,
// and goes through only while the caller answers those.
DWORD CallBack(IStream*& stream) {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IDispatch* object = nullptr;
  HRESULT hr = CoGetInterfaceAndReleaseStream(std::exchange(stream, nullptr), IID_IDispatch,
                                              reinterpret_cast<void**>(&object));
  UINT count = 0;
  if (SUCCEEDED(hr)) hr = object->GetTypeInfoCount(&count);
  if (object) object->Release();
  if (SUCCEEDED(joined)) CoUninitialize();
  return SUCCEEDED(hr) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
}

DWORD ReadWhole(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return GetLastError();
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes->empty() && !ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr)) {
    return GetLastError();
  }
  return read == bytes->size() ? ERROR_SUCCESS : ERROR_HANDLE_EOF;
}

DWORD WriteWhole(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || !SetEndOfFile(file)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// The archive is built in a scratch file beside it and its bytes written back through `file`.
DWORD RewriteThrough(HANDLE file, const std::wstring& archive, const std::wstring& source) {
  const std::wstring scratch = archive + L".rewrite";
  std::string bytes;
  DWORD error = ReadWhole(file, &bytes);
  HANDLE copy = CreateFileW(scratch.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (copy == INVALID_HANDLE_VALUE) return GetLastError();
  if (!error) error = WriteWhole(copy, bytes);
  CloseHandle(copy);
  if (!error) error = AppendToArchive(scratch, source);
  copy = CreateFileW(scratch.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!error && copy == INVALID_HANDLE_VALUE) error = GetLastError();
  if (!error) error = ReadWhole(copy, &bytes);
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  DeleteFileW(scratch.c_str());
  return error ? error : WriteWhole(file, bytes);
}

// As handlers that keep the archive open while they write it: nobody else can read it meanwhile.
DWORD RewriteInPlace(const std::wstring& archive, const std::wstring& source, bool thenDelete) {
  const HANDLE file = CreateFileW(archive.c_str(), GENERIC_READ | GENERIC_WRITE | (thenDelete ? DELETE : 0),
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = RewriteThrough(file, archive, source);
  FILE_DISPOSITION_INFO gone{TRUE};
  if (thenDelete && !SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone) && !error) {
    error = GetLastError();
  }
  CloseHandle(file);
  return error;
}

// Jobs pack one at a time, in the order CopyHere was called, however their threads
// get scheduled: two items copied into one archive must land in call order and must
// not rebuild it at the same time.
SRWLOCK g_queueLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_turnChanged = CONDITION_VARIABLE_INIT;
uint64_t g_nextTicket = 0;  // guarded by g_queueLock
uint64_t g_turn = 0;        // guarded by g_queueLock

DWORD RunJob(std::unique_ptr<PackJob> job) noexcept {
  if (job->delayMs) Sleep(job->delayMs);
  if (job->held) WaitForRelease();
  const DWORD calledBack = job->callback ? CallBack(job->callback) : ERROR_SUCCESS;
  AcquireSRWLockExclusive(&g_queueLock);
  while (g_turn != job->ticket) SleepConditionVariableSRW(&g_turnChanged, &g_queueLock, INFINITE, 0);
  ReleaseSRWLockExclusive(&g_queueLock);

  DWORD error = calledBack;
  try {
    if (error == ERROR_SUCCESS && job->write == Write::kSwap) {
      error = AppendToArchive(job->archive, job->source, job->partial);
    } else if (error == ERROR_SUCCESS) {
      error = RewriteInPlace(job->archive, job->source, job->write == Write::kInPlaceThenGone);
    }
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
  WaitForRelease();
  FreeLibraryAndExitThread(ThisModule(), 0);
}

// The thread's handle goes to `handle` when asked for, else it is closed.
HRESULT StartThread(LPTHREAD_START_ROUTINE routine, void* parameter, HANDLE* handle = nullptr) {
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
  if (handle) {
    *handle = thread;
  } else {
    CloseHandle(thread);
  }
  return S_OK;
}

// The pool: one thread, started by the first job, that takes the jobs in turn and never ends.
SRWLOCK g_poolLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_poolJobs = CONDITION_VARIABLE_INIT;
std::deque<std::unique_ptr<PackJob>> g_pool;  // guarded by g_poolLock
bool g_poolStarted = false;                    // guarded by g_poolLock

DWORD WINAPI PoolThread(void*) {
  for (;;) {
    AcquireSRWLockExclusive(&g_poolLock);
    while (g_pool.empty()) SleepConditionVariableSRW(&g_poolJobs, &g_poolLock, INFINITE, 0);
    std::unique_ptr<PackJob> job = std::move(g_pool.front());
    g_pool.pop_front();
    ReleaseSRWLockExclusive(&g_poolLock);
    RunJob(std::move(job));
  }
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

// The pool's thread, started once; guarded by g_poolLock.
HRESULT StartPoolLocked() {
  if (g_poolStarted) return S_OK;
  const HRESULT hr = StartThread(PoolThread, nullptr);
  g_poolStarted = SUCCEEDED(hr);
  return hr;
}

HRESULT StartPool() {
  AcquireSRWLockExclusive(&g_poolLock);
  const HRESULT hr = StartPoolLocked();
  ReleaseSRWLockExclusive(&g_poolLock);
  return hr;
}

HRESULT RunInPool(std::unique_ptr<PackJob> job) {
  job = TakeTicket(std::move(job));
  AcquireSRWLockExclusive(&g_poolLock);
  const HRESULT hr = StartPoolLocked();
  if (SUCCEEDED(hr)) g_pool.push_back(std::move(job));
  ReleaseSRWLockExclusive(&g_poolLock);
  WakeAllConditionVariable(&g_poolJobs);
  return hr;
}

// The handoff mode's first thread: it starts the one that packs a moment later, and ends.
DWORD WINAPI HandOffThread(void* job) {
  Sleep(kHandoffAfterMs);
  const HRESULT started = RunOnNewThread(std::unique_ptr<PackJob>(static_cast<PackJob*>(job)));
  FreeLibraryAndExitThread(ThisModule(), SUCCEEDED(started) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION);
}

// Packs on a thread of its own and returns once that thread has ended.
HRESULT RunOnEndedThread(std::unique_ptr<PackJob> job) {
  job = TakeTicket(std::move(job));
  HANDLE thread = nullptr;
  const HRESULT hr = StartThread(PackThread, job.get(), &thread);
  if (FAILED(hr)) return hr;
  job.release();
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return S_OK;
}

// What the packing thread of the callback mode calls in the caller's apartment.
class Callback final : public DispatchObject<IDispatch> {};

HRESULT MarshalCallback(PackJob& job) {
  Callback* callback = new Callback;
  const HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, callback, &job.callback);
  callback->Release();
  return hr;
}

class ZipFolder final : public DispatchObject<Folder> {
 public:
  explicit ZipFolder(std::wstring archive, bool holdOpen) : archive_(std::move(archive)) {
    if (!holdOpen) return;
    hold_ = CreateFileW(archive_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~ZipFolder() override {
    if (hold_ != INVALID_HANDLE_VALUE) CloseHandle(hold_);
  }

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
    if (mode == Mode::kNever) return S_OK;
    if (mode == Mode::kTwelve) {
      for (int i = 0; i < kTwelveModeIdleThreads; ++i) {
        if (const HRESULT hr = StartThread(IdleThread, nullptr); FAILED(hr)) return hr;
      }
    }
    if (mode == Mode::kCallback) {
      if (const HRESULT hr = MarshalCallback(*job); FAILED(hr)) return hr;
    }
    if (mode == Mode::kSlow || mode == Mode::kHandoff) job->delayMs = DelayMs(kDefaultSlowDelayMs);
    if (mode == Mode::kQuiet) job->delayMs = DelayMs(kDefaultQuietDelayMs);
    job->held = mode == Mode::kHeld;
    job->partial = mode == Mode::kPartial;
    if (mode == Mode::kHoldOpen) {
      job->write = Write::kInPlace;
      job->folder = this;
      AddRef();
    }
    if (mode == Mode::kVanish) job->write = Write::kInPlaceThenGone;
    if (mode == Mode::kPooled || mode == Mode::kQuiet) return RunInPool(std::move(job));
    if (mode == Mode::kHandoff) {
      const HRESULT hr = StartThread(HandOffThread, job.get());
      if (SUCCEEDED(hr)) job.release();
      return hr;
    }
    if (mode == Mode::kFast) return RunOnEndedThread(std::move(job));
    return RunOnNewThread(std::move(job));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

 private:
  const std::wstring archive_;
  HANDLE hold_ = INVALID_HANDLE_VALUE;
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
    const Mode mode = CurrentMode();
    if (mode == Mode::kNoFolder) return S_OK;
    // The worker is there before the request.
    if (mode == Mode::kQuiet) {
      if (const HRESULT hr = StartPool(); FAILED(hr)) return hr;
    }
    std::wstring archive;
    if (path.vt != VT_BSTR || !path.bstrVal || FullPath(path.bstrVal, &archive) != ERROR_SUCCESS ||
        !IsZipFile(archive)) {
      return S_FALSE;
    }
    *folder = new ZipFolder(std::move(archive), mode == Mode::kHoldOpen);
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
