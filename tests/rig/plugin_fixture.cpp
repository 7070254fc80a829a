#include "tests/rig/plugin_fixture.h"

#include <cstring>

namespace rig {

std::string BesideExecutable(const std::string& fileName)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path);
    return exe.substr(0, exe.find_last_of('\\') + 1) + fileName;
}

std::string PluginPath() { return BesideExecutable("Dropline.dll"); }

void DeleteSettingsKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey); }

void CreateSettingsKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegCloseKey(key);
    }
}

bool ReadRaw(const char* name, DWORD& type, std::string& data)
{
    BYTE buffer[1024];
    DWORD size = sizeof(buffer);
    if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data.assign(reinterpret_cast<char*>(buffer), size);
    return true;
}

bool ReadDword(const char* name, DWORD& value)
{
    DWORD type = 0;
    std::string data;
    if (!ReadRaw(name, type, data) || type != REG_DWORD || data.size() != sizeof(DWORD)) return false;
    std::memcpy(&value, data.data(), sizeof(DWORD));
    return true;
}

void WriteRaw(const char* name, DWORD type, const std::string& data)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, type, data.data(), static_cast<DWORD>(data.size()));
}

void WriteDword(const char* name, DWORD value)
{
    WriteRaw(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

void DeleteValue(const char* name) { RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name); }

void PluginTest::SetUp()
{
    DeleteSettingsKey();
    CreateSettingsKey();
    hostTemp_ = FreshFolder("orvel-host-temp");
    work_ = FreshFolder("user-files");
    host::SetTempFolder(hostTemp_);
    host::ClearAttachments();
    ClearRecordedBoxes();
    ASSERT_TRUE(ClearClipboard());

    plugin_ = host::LoadPlugin(PluginPath()).module;
    ASSERT_NE(plugin_, nullptr) << "the plug-in refused to load, error " << GetLastError();
    ASSERT_TRUE(InstallMessageBoxRecorder(plugin_));
    main_ = host::CreateMainWindow();
    compose_ = host::CreateComposeWindow();
    host::PumpMessages();
}

void PluginTest::TearDown()
{
    if (compose_) DestroyWindow(compose_);
    if (main_) DestroyWindow(main_);
    host::PumpMessages();
    host::UnloadPlugin();
    ClearClipboard();
}

void PluginTest::PressCtrlShiftV(const Robot::Script& script, HWND compose)
{
    HWND target = compose ? compose : compose_;
    robot_.Run([&] { host::DispatchKey(target, host::kKeyV, host::kModifierCtrl | host::kModifierShift); }, script);
}

void PluginTest::ExpectRobotClean() const
{
    for (const std::string& failure : robot_.failures()) ADD_FAILURE() << "robot: " << failure;
}

}  // namespace rig
