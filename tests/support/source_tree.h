// A folder as users copy them, and the check that an archive holds it whole: subfolders, an empty
// folder, a hidden file, names beginning with a dot, an empty file, binary content and double-byte
// names whose trail byte is a backslash (表 is 95 5C, ソ is 83 5C in code page 932).
#pragma once

#include "tests/support/zip_reader.h"

#include <string>
#include <vector>

namespace rig {

struct SourceFile {
    std::string relativePath;  // backslashes, from the tree's root
    std::string bytes;
};

struct SourceTree {
    std::vector<std::string> folders;  // relative, parents first
    std::vector<SourceFile> files;
};

// Creates the tree under `root` (which must exist, without a trailing backslash).
SourceTree MakeSourceTree(const std::string& root);

// The archive entry name of a relative path: a slash for every backslash of its own.
std::string EntryName(const std::string& relativePath);

// Parses archive bytes with the tests' ZIP reader, failing the test when they are not one.
dropline::test::ZipReader ReadArchive(const std::string& bytes);

// The archive holds `tree` under the top-level folder entry `top` (first), every folder and file
// and nothing else under it, each file with its bytes.
void ExpectTreeInArchive(const dropline::test::ZipReader& archive, const std::string& top, const SourceTree& tree);

}  // namespace rig
