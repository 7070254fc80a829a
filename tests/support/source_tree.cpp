#include "tests/support/source_tree.h"

#include "tests/rig/files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

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

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

SourceTree MakeSourceTree(const std::string& root)
{
    SourceTree tree{
        {"sub", "sub\\deeper", "表", "empty"},
        {
            {"readme.txt", "first file\r\n"},
            {".config", "a name beginning with a dot"},
            {"hidden.dat", AllByteValues(4)},
            {"sub\\data.bin", Noise(100 * 1024)},
            {"sub\\.empty", ""},
            {"sub\\deeper\\note.txt", "deep down"},
            {"表\\ソース.txt", "double-byte names"},
        },
    };
    for (const std::string& folder : tree.folders) CreateDirectoryA((root + "\\" + folder).c_str(), nullptr);
    for (const SourceFile& file : tree.files) WriteBytes(root + "\\" + file.relativePath, file.bytes);
    SetFileAttributesA((root + "\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    return tree;
}

std::string EntryName(const std::string& relativePath)
{
    std::string name;
    for (std::size_t i = 0; i < relativePath.size(); ++i) {
        const char c = relativePath[i];
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < relativePath.size()) {
            name += c;
            name += relativePath[++i];
        } else {
            name += c == '\\' ? '/' : c;
        }
    }
    return name;
}

dropline::test::ZipReader ReadArchive(const std::string& bytes)
{
    dropline::test::ZipReader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(bytes, &error)) << error;
    return reader;
}

void ExpectTreeInArchive(const dropline::test::ZipReader& archive, const std::string& top, const SourceTree& tree)
{
    const std::string prefix = top + "/";
    std::vector<std::string> expected{prefix};
    for (const std::string& folder : tree.folders) expected.push_back(prefix + EntryName(folder) + "/");
    for (const SourceFile& file : tree.files) expected.push_back(prefix + EntryName(file.relativePath));
    std::vector<std::string> actual;
    for (const std::string& name : archive.names()) {
        if (name.compare(0, prefix.size(), prefix) == 0) actual.push_back(name);
    }
    EXPECT_EQ(Sorted(actual), Sorted(expected));
    EXPECT_EQ(actual.empty() ? "" : actual.front(), prefix) << "the folder's own entry comes first";

    for (const SourceFile& file : tree.files) {
        const std::string name = prefix + EntryName(file.relativePath);
        const dropline::test::ZipEntry* entry = archive.Find(name);
        if (!entry) continue;  // reported above
        std::string data;
        std::string error;
        EXPECT_TRUE(archive.Extract(*entry, &data, &error)) << name << ": " << error;
        EXPECT_TRUE(data == file.bytes) << name << ": " << data.size() << " bytes instead of " << file.bytes.size();
    }
}

}  // namespace rig
