// A folder as users copy them: subfolders, an empty folder, a hidden file, names beginning with a
// dot, an empty file, binary content and double-byte names whose trail byte is a backslash
// (表 is 95 5C, ソ is 83 5C in code page 932).
#pragma once

#include <string>
#include <vector>

namespace rig {

struct SourceFile {
    std::string relativePath;  // backslashes, from the tree's root
    std::string bytes;
};

// Creates the tree under `root` (which must exist, without a trailing backslash) and returns its
// files. Folders: "sub", "sub\deeper", "表", "empty".
std::vector<SourceFile> MakeSourceTree(const std::string& root);

}  // namespace rig
