#include "host/host_api.h"

#include <cstring>
#include <iterator>

namespace dl {

namespace {

// All of the host's functions that a plug-in of this interface version binds, in lookup order.
// Only six are called, but a host lacking any required one is not a host we can run in.
constexpr const char* kRequiredNames[] = {
    "OVA_GetVersion", "OVA_Command", "OVA_GetWindowHandles", "OVA_RegisterCommand",
    "OVA_RegisterUICallback", "OVA_GetDataFolder", "OVA_GetTempFolder", "OVA_GetTempFileName",
    "OVA_GetCurrentMailBox", "OVA_SetCurrentMailBox", "OVA_GetCurrentFolder", "OVA_SetCurrentFolder",
    "OVA_GetFolderDisplayName", "OVA_SetMessageText", "OVA_GetCurrentMail", "OVA_SetCurrentMail",
    "OVA_GetNextMail", "OVA_SetSel", "OVA_AppendMessage", "OVA_MoveSelectedMessages", "OVA_GetStatus",
    "OVA_ComposeMail", "OVA_GetCharSet", "OVA_GetSource", "OVA_SetSource", "OVA_GetHeader",
    "OVA_GetText", "OVA_SetText", "OVA_GetSpecifiedHeader", "OVA_SetSpecifiedHeader",
    "OVA_CompGetCharSet", "OVA_CompGetSource", "OVA_CompSetSource", "OVA_CompGetHeader",
    "OVA_CompGetSpecifiedHeader", "OVA_CompSetSpecifiedHeader", "OVA_CompGetText", "OVA_CompSetText",
    "OVA_CompAttachFile", "OVA_Alloc", "OVA_ReAlloc", "OVA_Free", "OVA_ISO_2022_JP", "OVA_ISO_2022_KR",
    "OVA_HZ_GB2312", "OVA_ISO_8859_2", "OVA_EUC_JP", "OVA_UTF_7", "OVA_UTF_8", "OVA_B64Convert",
    "OVA_QPConvert", "OVA_MIMEHeader", "OVA_SerializeRcpts", "OVA_Connect",
};
constexpr const char* kOptionalNames[] = {"OVA_SetStatus", "OVA_NextUnread", "OVA_ProcessMail", "OVA_GetSize"};
static_assert(std::size(kRequiredNames) == 54 && std::size(kOptionalNames) == 4);

// Hosts from this version on must also offer OVA_SetStatus.
constexpr char kStatusFunctionVersion[] = "2.00.06";
constexpr size_t kVersionTextLength = 7;

HMODULE g_hostModule = nullptr;
FARPROC g_required[std::size(kRequiredNames)] = {};
FARPROC g_optional[std::size(kOptionalNames)] = {};
HostApi g_api;

FARPROC Required(const char* name) noexcept
{
    for (size_t i = 0; i < std::size(kRequiredNames); ++i) {
        if (std::strcmp(kRequiredNames[i], name) == 0) return g_required[i];
    }
    return nullptr;
}

bool VersionNeedsSetStatus(const char* version) noexcept
{
    return lstrlenA(version) > static_cast<int>(kVersionTextLength) ||
           lstrcmpA(version, kStatusFunctionVersion) >= 0;
}

}  // namespace

bool BindHostFunctions() noexcept
{
    if (g_hostModule) return true;
    HMODULE host = GetModuleHandleA(nullptr);
    if (!host) return false;

    for (size_t i = 0; i < std::size(kRequiredNames); ++i) {
        g_required[i] = GetProcAddress(host, kRequiredNames[i]);
        if (!g_required[i]) return false;
    }
    for (size_t i = 0; i < std::size(kOptionalNames); ++i) {
        g_optional[i] = GetProcAddress(host, kOptionalNames[i]);
    }

    g_api.GetVersion = reinterpret_cast<OvaGetVersion>(Required("OVA_GetVersion"));
    g_api.RegisterCommand = reinterpret_cast<OvaRegisterCommand>(Required("OVA_RegisterCommand"));
    g_api.RegisterUICallback = reinterpret_cast<OvaRegisterUICallback>(Required("OVA_RegisterUICallback"));
    g_api.GetTempFolder = reinterpret_cast<OvaGetTempFolder>(Required("OVA_GetTempFolder"));
    g_api.GetTempFileName = reinterpret_cast<OvaGetTempFileName>(Required("OVA_GetTempFileName"));
    g_api.CompAttachFile = reinterpret_cast<OvaCompAttachFile>(Required("OVA_CompAttachFile"));

    const char* version = g_api.GetVersion();
    const bool hasSetStatus = g_optional[0] != nullptr;
    if (!version || (VersionNeedsSetStatus(version) && !hasSetStatus)) {
        UnbindHostFunctions();
        return false;
    }
    g_hostModule = host;
    return true;
}

void UnbindHostFunctions() noexcept
{
    g_hostModule = nullptr;
    g_api = HostApi{};
}

const HostApi& Host() noexcept { return g_api; }

HRESULT PathInHostTemp(const std::string& name, std::string& path)
{
    const char* folder = g_api.GetTempFolder();
    if (!folder) return E_FAIL;
    path = folder + name;
    return S_OK;
}

}  // namespace dl
