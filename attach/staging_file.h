// The files a command makes in the host's temporary folder. Each is made new, never over a file
// that is there: a file of that name may be the host's own (an attachment the user opened from a
// mail, still open in an editor).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace dl {

// Writes the bytes as a new file; fails when something is at the path already. A file that could
// not be written whole, or closed, goes again: nothing half-written stays in the host's folder.
HRESULT WriteStagingFile(const std::string& path, const void* bytes, DWORD size) noexcept;

// A file of the command's own, removed with this object on every road out; what cannot go (the
// host still holds it) stays for the host, which cleans its folder. Only a file that the command
// made itself is ever removed.
class StagingFile {
public:
    // Makes the file at a path and reports how it went. It must fail when the path is taken, and
    // take away again whatever it made on a failure.
    using Make = std::function<HRESULT(const std::string& path)>;

    StagingFile() = default;
    ~StagingFile();
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    // At exactly this path (one the host named).
    HRESULT makeAt(const std::string& path, const Make& make);
    // Under `name` in the host's temporary folder. Where the name is taken, under the same name in
    // a new folder of the command's own just inside the host's, so that the host still receives
    // the name chosen; that folder goes with the file.
    HRESULT makeInHostFolder(const std::string& name, const Make& make);
    // Moves the file to `target`'s path, which it then owns: MoveFile never replaces a file.
    HRESULT moveInto(StagingFile& target, const std::string& name);

    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;    // the file, once made
    std::string folder_;  // the folder of our own it was made in, if any
};

}  // namespace dl
