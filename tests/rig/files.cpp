#include "tests/rig/files.h"

#include "standins/host/host.h"

#include <windows.h>

#include <algorithm>

namespace rig {

namespace {

// A backslash of its own at the end, not the trail byte of a double-byte character (表 is 95 5C).
bool EndsWithBackslash(const std::string& path)
{
    if (path.empty()) return false;
    const char* end = path.c_str() + path.size();
    return CharPrevA(path.c_str(), end) == end - 1 && end[-1] == '\\';
}

}  // namespace

std::string TempRoot()
{
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, path);
    return path;
}

void DeleteTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryA(path.c_str());
        else DeleteFileA(path.c_str());
        return;
    }
    std::string folder = path;
    if (EndsWithBackslash(folder)) folder.pop_back();
    for (const std::string& name : List(folder)) DeleteTree(folder + "\\" + name);
    RemoveDirectoryA(folder.c_str());
}

std::string FreshFolder(const std::string& name)
{
    const std::string folder = TempRoot() + name;
    DeleteTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

bool WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool ReadBytes(const std::string& path, std::string& bytes) { return host::ReadWholeFile(path, bytes); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> List(const std::string& folder)
{
    std::vector<std::string> names;
    std::string pattern = folder;
    if (!EndsWithBackslash(pattern)) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    std::string base = folder;
    if (!EndsWithBackslash(base)) base += '\\';
    for (const std::string& name : List(base)) {
        const std::string path = base + name;
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            files.emplace_back(name + "\\", "");
            for (auto& [child, bytes] : Snapshot(path)) files.emplace_back(name + "\\" + child, std::move(bytes));
        } else {
            std::string bytes;
            ReadBytes(path, bytes);
            files.emplace_back(name, std::move(bytes));
        }
    }
    return files;
}

}  // namespace rig
