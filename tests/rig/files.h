// File helpers for the tests: fresh folders, whole-file reads and writes, listings.
#pragma once

#include <string>
#include <vector>

namespace rig {

// The process's temporary folder, ending with a backslash.
std::string TempRoot();
// Deletes the tree (if any) and creates the folder empty; returns it with a trailing backslash.
std::string FreshFolder(const std::string& name);
void DeleteTree(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string& bytes);
bool Exists(const std::string& path);
// Names directly in a folder (no "." or ".."), sorted.
std::vector<std::string> List(const std::string& folder);
// Every file below a folder with its content, relative path as key (UTF-8: names beyond the code
// page included), for before/after comparisons.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder);

// Text between the ANSI code page and UTF-16, and files under names the code page may not hold.
std::wstring Wide(const std::string& ansi);
bool WriteBytes(const std::wstring& path, const std::string& bytes);

}  // namespace rig
