// Progress of packing in the system's progress dialog, owned by the compose window: the bytes of
// the packing copy, then a bar without measure while the shell's handler compresses. It appears
// only once packing has run for about a second, so short packings show nothing new; its Cancel
// button is what the packing steps ask for.
#pragma once

#include "common/win.h"

#include <shlobj.h>

#include <string>

namespace dl {

class PackingProgress {
public:
    explicit PackingProgress(HWND owner) noexcept : owner_(owner) {}
    ~PackingProgress();
    PackingProgress(const PackingProgress&) = delete;
    PackingProgress& operator=(const PackingProgress&) = delete;

    // The copy of one source begins: `name` is shown, `bytes` is all that its copy will take.
    void StartCopy(const wchar_t* name, ULONGLONG bytes);
    // So far `bytes` of the file being copied; E_ABORT once the user has cancelled.
    HRESULT CopyingFile(ULONGLONG bytes);
    // A file of `bytes` is copied; E_ABORT once the user has cancelled.
    HRESULT FileCopied(ULONGLONG bytes);
    // The shell's handler packs the copy, and tells nobody how far it is.
    void StartCompressing();
    // Called now and then while the handler works.
    void Tick();
    bool Cancelled() const;
    // The thread of the dialog's window once it is up, else 0: ours, never the handler's.
    DWORD ThreadId();
    // The dialog goes, with the COM apartment it was made in; a later packing may show one anew.
    void Close();

private:
    void Update();
    void Show();
    void Present();
    HWND DialogWindow();

    HWND owner_;
    ULONGLONG started_ = 0;    // when the first copy began
    ULONGLONG presented_ = 0;  // when the dialog was last brought up to date
    ComPtr<IProgressDialog> dialog_;
    bool showTried_ = false;
    HWND window_ = nullptr;    // the dialog's window, once looked for
    bool linesChanged_ = true;
    bool compressing_ = false;
    bool marquee_ = false;     // what the bar shows
    std::wstring name_;
    ULONGLONG total_ = 0;
    ULONGLONG copied_ = 0;     // bytes of the files copied whole
    ULONGLONG inFile_ = 0;     // bytes of the file being copied
};

}  // namespace dl
