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

namespace {

// The names in a folder, in UTF-16, without "." and "..".
std::vector<std::wstring> NamesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

// In UTF-16: a test leaves names behind that the code page lacks (资料, 😀.txt), and the next
// run's fresh folder must still be empty.
void DeleteTreeW(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
        else DeleteFileW(path.c_str());
        return;
    }
    for (const std::wstring& name : NamesIn(path)) DeleteTreeW(path + L"\\" + name);
    RemoveDirectoryW(path.c_str());
}

}  // namespace

void DeleteTree(const std::string& path)
{
    std::string folder = path;
    if (EndsWithBackslash(folder)) folder.pop_back();
    DeleteTreeW(Wide(folder));
}

std::string FreshFolder(const std::string& name)
{
    const std::string folder = TempRoot() + name;
    DeleteTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

bool WriteBytes(const std::string& path, const std::string& bytes) { return WriteBytes(Wide(path), bytes); }

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

namespace {

std::string Utf8(const std::wstring& text)
{
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0],
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

bool ReadBytes(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buffer[64 * 1024];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return true;
}

void AddSnapshot(const std::wstring& folder, const std::string& prefix,
                 std::vector<std::pair<std::string, std::string>>& files)
{
    std::vector<std::wstring> names = NamesIn(folder);
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            files.emplace_back(prefix + Utf8(name) + "\\", "");
            AddSnapshot(path, prefix + Utf8(name) + "\\", files);
        } else {
            std::string bytes;
            ReadBytes(path, bytes);
            files.emplace_back(prefix + Utf8(name), std::move(bytes));
        }
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder)
{
    std::vector<std::pair<std::string, std::string>> files;
    std::string base = folder;
    if (EndsWithBackslash(base)) base.pop_back();
    AddSnapshot(Wide(base), "", files);
    return files;
}

std::wstring Wide(const std::string& ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

}  // namespace rig
