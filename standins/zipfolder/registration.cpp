#include "registration.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kServerKey[] = L"CLSID\\{13709620-C279-11CE-A49E-444553540000}\\InprocServer32";
constexpr wchar_t kThreadingModel[] = L"ThreadingModel";
// The replaced values; an empty string stands for a value that was absent.
constexpr wchar_t kSavedServer[] = L"DroplineZipStandInSavedServer";
constexpr wchar_t kSavedThreadingModel[] = L"DroplineZipStandInSavedThreadingModel";
// How many processes registered and have not unregistered yet: test executables run in
// parallel, and the first to finish must not pull the stand-in from under the others.
constexpr wchar_t kUsers[] = L"DroplineZipStandInUsers";
constexpr wchar_t kMutexName[] = L"Local\\DroplineZipStandInRegistration";

// The threading models that this process's registrations replaced, the latest last.
std::vector<std::wstring> g_replacedModels;

// Serialises registration changes between processes.
class RegistrationLock {
 public:
  RegistrationLock() : mutex_(CreateMutexW(nullptr, FALSE, kMutexName)) {
    // WAIT_ABANDONED still grants ownership; a crashed holder leaves nothing half-done
    // that matters in a throwaway prefix.
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);
  }
  ~RegistrationLock() {
    if (!mutex_) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
  RegistrationLock(const RegistrationLock&) = delete;
  RegistrationLock& operator=(const RegistrationLock&) = delete;

 private:
  HANDLE mutex_;
};

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool ReadString(HKEY key, const wchar_t* name, std::wstring* value) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ) return false;
  std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS) {
    return false;
  }
  buffer.resize(bytes / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  *value = std::move(buffer);
  return true;
}

bool WriteString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Saves the current value under `saved` unless an earlier registration already did.
bool SaveOnce(HKEY key, const wchar_t* name, const wchar_t* saved) {
  std::wstring value;
  if (ReadString(key, saved, &value)) return true;
  if (!ReadString(key, name, &value)) value.clear();
  return WriteString(key, saved, value);
}

void Restore(HKEY key, const wchar_t* name, const wchar_t* saved) {
  std::wstring value;
  if (!ReadString(key, saved, &value)) return;
  if (value.empty()) {
    RegDeleteValueW(key, name);
  } else {
    WriteString(key, name, value);
  }
  RegDeleteValueW(key, saved);
}

DWORD ReadUsers(HKEY key) {
  DWORD users = 0;
  DWORD bytes = sizeof users;
  DWORD type = 0;
  if (RegQueryValueExW(key, kUsers, nullptr, &type, reinterpret_cast<BYTE*>(&users), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return users;
}

bool WriteUsers(HKEY key, DWORD users) {
  return RegSetValueExW(key, kUsers, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&users), sizeof users) ==
         ERROR_SUCCESS;
}

std::wstring FromAnsi(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 1) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size);
  wide.pop_back();
  return wide;
}

}  // namespace

bool RegisterZipStandIn(const char* dllWindowsPath, ZipStandInThreading threading) {
  if (!dllWindowsPath) return false;
  const std::wstring path = FromAnsi(dllWindowsPath);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

  RegistrationLock lock;
  RegistryKey key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                      key.out(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring replaced;
  if (!ReadString(key.get(), kThreadingModel, &replaced)) replaced.clear();
  const wchar_t* model = threading == ZipStandInThreading::kApartment ? L"Apartment" : L"Both";
  if (!SaveOnce(key.get(), nullptr, kSavedServer) || !SaveOnce(key.get(), kThreadingModel, kSavedThreadingModel) ||
      !WriteString(key.get(), nullptr, path) || !WriteString(key.get(), kThreadingModel, model) ||
      !WriteUsers(key.get(), ReadUsers(key.get()) + 1)) {
    return false;
  }
  g_replacedModels.push_back(std::move(replaced));
  return true;
}

void UnregisterZipStandIn() {
  RegistrationLock lock;
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.out()) != ERROR_SUCCESS) {
    return;
  }
  const DWORD users = ReadUsers(key.get());
  if (!g_replacedModels.empty()) {
    const std::wstring replaced = std::move(g_replacedModels.back());
    g_replacedModels.pop_back();
    if (users > 1 && !replaced.empty()) WriteString(key.get(), kThreadingModel, replaced);
  }
  if (users > 1) {
    WriteUsers(key.get(), users - 1);
    return;
  }
  RegDeleteValueW(key.get(), kUsers);
  Restore(key.get(), nullptr, kSavedServer);
  Restore(key.get(), kThreadingModel, kSavedThreadingModel);
}
