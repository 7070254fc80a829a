// The plug-in's four settings, kept as REG_DWORD values in the host's own settings key.
// Nothing is cached: every read and write opens the key afresh.
#pragma once

#include <windows.h>

#include <string>

namespace dl {

namespace setting {
inline constexpr char kConfirmImage[] = "DLConfirmImage";
inline constexpr char kConfirmText[] = "DLConfirmText";
inline constexpr char kConfirmFile[] = "DLConfirmFile";
inline constexpr char kAttachFileSeparately[] = "DLAttachFileSeparately";
}  // namespace setting

// The host's settings key; the plug-in never creates it.
inline constexpr char kHostSettingsKey[] = "Software\\Tidewell\\O2\\Settings";

class SettingsStore {
public:
    SettingsStore(HKEY root, std::string keyPath);

    // Makes sure the value exists (default 1); a value of up to 4 bytes is kept whatever its type.
    HRESULT RegisterSetting(const char* name) const noexcept;
    // The value's bytes, little-endian; 0 when there is nothing to read.
    DWORD ReadSetting(const char* name) const noexcept;
    HRESULT WriteSetting(const char* name, DWORD value) const noexcept;

private:
    HKEY root_;
    std::string keyPath_;
};

// The module's one store, alive from process attach to detach.
bool CreateSettingsStore() noexcept;
void DestroySettingsStore() noexcept;
bool RegisterAllSettings() noexcept;

DWORD ReadSetting(const char* name) noexcept;
HRESULT WriteSetting(const char* name, DWORD value) noexcept;

}  // namespace dl
