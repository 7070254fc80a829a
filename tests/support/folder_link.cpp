#include "tests/support/folder_link.h"

#include "tests/rig/files.h"

#include <windows.h>

#include <functional>

namespace rig {

namespace {

constexpr DWORD kLinkedFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

bool IsLinkedFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kLinkedFolder) == kLinkedFolder;
}

// Wine's own export: the Unix path of a Windows path (whose folder exists), on the process heap.
std::string UnixPath(const std::string& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix =
        reinterpret_cast<ToUnix>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix) return {};
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* unixPath = toUnix(wide);
    if (!unixPath) return {};
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Runs a Unix program under Wine and waits until `done` holds (Wine cannot wait on a Unix process).
bool RunUnix(std::string command, const std::function<bool()>& done)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
    return done();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

bool MakeFolderLink(const std::string& link, const std::string& target)
{
    CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (IsLinkedFolder(link)) return true;
    const std::size_t slash = link.find_last_of('\\');
    const std::string unixParent = UnixPath(link.substr(0, slash));
    const std::string unixTarget = UnixPath(target);
    if (unixParent.empty() || unixTarget.empty()) return false;
    return RunUnix("Z:\\bin\\ln -s " + Quoted(unixTarget) + " " + Quoted(unixParent + "/" + link.substr(slash + 1)),
                   [&] { return IsLinkedFolder(link); });
}

bool RemoveFolderLink(const std::string& link)
{
    if (RemoveDirectoryA(link.c_str()) || !Exists(link)) return !Exists(link);
    const std::string unixLink = UnixPath(link);
    return !unixLink.empty() && RunUnix("Z:\\bin\\rm " + Quoted(unixLink), [&] { return !Exists(link); });
}

bool MarkFoldersReadOnly(const std::vector<std::string>& folders)
{
    std::string command = "Z:\\bin\\chmod 555";
    for (const std::string& folder : folders) command += " " + Quoted(UnixPath(folder));
    return RunUnix(command, [&] {
        for (const std::string& folder : folders) {
            if (!(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_READONLY)) return false;
        }
        return true;
    });
}

}  // namespace rig
