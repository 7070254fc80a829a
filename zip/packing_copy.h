// The packing copy: the source held shut to writers, walked once, copied into the host's folder
// for the shell's handler, and removed again. The handler never sees the user's own files.
#pragma once

#include "common/win.h"
#include "zip/zip_directory.h"

#include <windows.h>

#include <string>
#include <vector>

namespace dl {

class PackingProgress;

// One walk of a source: every file held open for shared reading, so that nobody changes it
// while it is packed, and every entry the copy takes listed with the name its copy gets.
// Destroying it (or assigning an empty one) releases the files.
struct PackingSource {
    struct Entry {
        std::wstring path;      // in the source
        std::wstring copyPath;  // below the copy's top, starting with a backslash
        std::string name;       // below the copy's top, '/'-separated, in the code page
        bool folder;
        ULONGLONG bytes;
    };
    std::wstring path;
    std::vector<UniqueFile> locks;
    std::vector<Entry> entries;  // a folder before what it holds
    bool folder = false;         // the source itself
    ULONGLONG bytes = 0;         // what the copy takes
    size_t longestFile = 0;      // characters of the longest copy path below the copy's top
    size_t longestFolder = 0;
};

// Locks, lists and measures everything under `path` (or the file itself). E_FAIL when a file
// cannot be opened for shared reading or a folder cannot be listed. Linked folders (junctions,
// symbolic links) below `path` are left out: the shell's own copy would follow a link back up the
// tree again and again until the path limit. Folders with other reparse points are entered. Names
// inside become names the code page holds, none alike (see DistinctNames).
HRESULT WalkSource(const wchar_t* path, PackingSource& source);

// Copies the walked source to `target` (which names the copy itself) as the walk listed it. Every
// file path of the copy may be at most 258 characters long, every folder path 248; a longer one
// gives 0x8007007A before anything is copied. Reports to `progress` (which may be null) and stops
// with E_ABORT on its Cancel. A failure part-way leaves what was copied so far.
HRESULT CopySourceTree(const PackingSource& source, const char* target, PackingProgress* progress = nullptr);

// The names a complete archive holds for the copy, entered as `entryName`: '/'-separated,
// folders ending in '/'.
EntryNames PackedNames(const PackingSource& source, const std::string& entryName);

// Removes a tree of our own making, the packing copy (the shell's delete is several times slower),
// whatever attributes its files and folders carry. A linked folder is removed as a link and never
// entered: what it points at is not ours. What cannot be removed stays in the temporary folder,
// which the host cleans, as does a tree whose paths pass twice MAX_PATH. Nothing is allocated, so
// that the copy goes even on the way out of a failure for want of memory.
void DeleteTree(const wchar_t* path) noexcept;

// A fresh folder named by a new GUID in the work folder, for the copy the shell packs. That copy
// is the user's data: the folder goes with this object, on every road out.
class PackingFolder {
public:
    PackingFolder() = default;
    ~PackingFolder();
    PackingFolder(const PackingFolder&) = delete;
    PackingFolder& operator=(const PackingFolder&) = delete;

    HRESULT Create(const std::string& workFolder);
    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

}  // namespace dl
