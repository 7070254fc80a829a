#include "tests/support/source_tree.h"

#include "tests/rig/files.h"

#include <windows.h>

namespace rig {

namespace {

std::string AllByteValues(int repeats)
{
    std::string bytes;
    for (int r = 0; r < repeats; ++r) {
        for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    }
    return bytes;
}

std::string Noise(std::size_t size)
{
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

}  // namespace

std::vector<SourceFile> MakeSourceTree(const std::string& root)
{
    for (const char* folder : {"sub", "sub\\deeper", "表", "empty"}) {
        CreateDirectoryA((root + "\\" + folder).c_str(), nullptr);
    }
    const std::vector<SourceFile> files = {
        {"readme.txt", "first file\r\n"},
        {".config", "a name beginning with a dot"},
        {"hidden.dat", AllByteValues(4)},
        {"sub\\data.bin", Noise(100 * 1024)},
        {"sub\\.empty", ""},
        {"sub\\deeper\\note.txt", "deep down"},
        {"表\\ソース.txt", "double-byte names"},
    };
    for (const SourceFile& file : files) WriteBytes(root + "\\" + file.relativePath, file.bytes);
    SetFileAttributesA((root + "\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    return files;
}

}  // namespace rig
