#include "settings/settings_store.h"

#include "common/win.h"

#include <memory>

namespace dl {

namespace {

// Read and write rights together: a key we may only read counts as missing.
constexpr REGSAM kAccess = KEY_READ | KEY_SET_VALUE;
constexpr DWORD kDefaultValue = 1;

std::unique_ptr<SettingsStore> g_store;

}  // namespace

SettingsStore::SettingsStore(HKEY root, std::string keyPath) : root_(root), keyPath_(std::move(keyPath)) {}

HRESULT SettingsStore::RegisterSetting(const char* name) const noexcept
{
    UniqueKey key;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, kAccess, key.put()) != ERROR_SUCCESS) return E_FAIL;

    BYTE existing[sizeof(DWORD)] = {};
    DWORD size = sizeof(existing);
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, existing, &size) == ERROR_SUCCESS) return S_OK;

    const DWORD value = kDefaultValue;
    const LONG written = RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                        sizeof(value));
    return written == ERROR_SUCCESS ? S_OK : E_FAIL;
}

DWORD SettingsStore::ReadSetting(const char* name) const noexcept
{
    DWORD result = 0;
    UniqueKey key;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, kAccess, key.put()) != ERROR_SUCCESS) return 0;

    DWORD size = sizeof(result);
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&result), &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    return result;
}

HRESULT SettingsStore::WriteSetting(const char* name, DWORD value) const noexcept
{
    UniqueKey key;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, kAccess, key.put()) != ERROR_SUCCESS) return E_FAIL;
    const LONG written =
        RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    return written == ERROR_SUCCESS ? S_OK : E_FAIL;
}

bool CreateSettingsStore() noexcept
{
    try {
        g_store = std::make_unique<SettingsStore>(HKEY_CURRENT_USER, kHostSettingsKey);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void DestroySettingsStore() noexcept { g_store.reset(); }

bool RegisterAllSettings() noexcept
{
    for (const char* name : {setting::kConfirmImage, setting::kConfirmText, setting::kConfirmFile,
                             setting::kAttachFileSeparately}) {
        if (FAILED(g_store->RegisterSetting(name))) return false;
    }
    return true;
}

DWORD ReadSetting(const char* name) noexcept { return g_store ? g_store->ReadSetting(name) : 0; }

HRESULT WriteSetting(const char* name, DWORD value) noexcept
{
    return g_store ? g_store->WriteSetting(name, value) : E_FAIL;
}

}  // namespace dl
