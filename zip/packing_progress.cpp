#include "zip/packing_progress.h"

#include "names/nearest_names.h"
#include "common/sent_messages.h"
#include "common/texts.h"

#include <commctrl.h>

namespace dl {

namespace {

constexpr ULONGLONG kShowAfterMs = 1000;
// The dialog and the host's thread are brought up to date this often, not on every file: both
// cost a round trip to another thread.
constexpr ULONGLONG kPresentEveryMs = 100;
constexpr DWORD kDialogFlags = PROGDLG_NOMINIMIZE;

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<OwnedDialogSearch*>(parameter);
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || thread == GetCurrentThreadId()) return TRUE;
    if (GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    if (!FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr)) return TRUE;
    search->found = window;
    return FALSE;
}

// The dialog has one bar, which takes a marquee without measure as the copy turns into packing.
void ShowMarquee(HWND dialog, bool on)
{
    const HWND bar = dialog ? FindWindowExA(dialog, nullptr, PROGRESS_CLASSA, nullptr) : nullptr;
    if (!bar) return;
    const LONG style = GetWindowLongA(bar, GWL_STYLE);
    SetWindowLongA(bar, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    SendMessageA(bar, PBM_SETMARQUEE, on, 0);
}

}  // namespace

PackingProgress::~PackingProgress() { Close(); }

void PackingProgress::Close()
{
    if (dialog_) dialog_->StopProgressDialog();
    dialog_.reset();
    started_ = 0;
    showTried_ = false;
    window_ = nullptr;
    marquee_ = false;
}

void PackingProgress::StartCopy(const wchar_t* name, ULONGLONG bytes)
{
    if (started_ == 0) started_ = GetTickCount64();
    name_ = name;
    total_ = bytes;
    copied_ = 0;
    inFile_ = 0;
    compressing_ = false;
    linesChanged_ = true;
    Update();
}

HRESULT PackingProgress::CopyingFile(ULONGLONG bytes)
{
    inFile_ = bytes;
    Update();
    return Cancelled() ? E_ABORT : S_OK;
}

HRESULT PackingProgress::FileCopied(ULONGLONG bytes)
{
    copied_ += bytes;
    inFile_ = 0;
    Update();
    return Cancelled() ? E_ABORT : S_OK;
}

void PackingProgress::StartCompressing()
{
    compressing_ = true;
    linesChanged_ = true;
    Update();
}

void PackingProgress::Tick() { Update(); }

bool PackingProgress::Cancelled() const { return dialog_ && dialog_->HasUserCancelled(); }

DWORD PackingProgress::ThreadId()
{
    const HWND window = dialog_ ? DialogWindow() : nullptr;
    return window ? GetWindowThreadProcessId(window, nullptr) : 0;
}

void PackingProgress::Update()
{
    const ULONGLONG now = GetTickCount64();
    if (now - presented_ < kPresentEveryMs) return;
    presented_ = now;
    // The progress dialog's own thread may wait for an answer from ours.
    AnswerSentMessages();
    if (!dialog_ && now - started_ >= kShowAfterMs) Show();
    if (dialog_) Present();
}

// Once. Without the dialog the packing goes on all the same, only without Cancel.
void PackingProgress::Show()
{
    if (showTried_) return;
    showTried_ = true;
    ComPtr<IProgressDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_ProgressDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressDialog,
                                dialog.putVoid()))) {
        return;
    }
    dialog->SetTitle(WideFromAnsi(text::kProgressTitle).c_str());
    dialog->SetCancelMsg(WideFromAnsi(text::kProgressCancelling).c_str(), nullptr);
    if (FAILED(dialog->StartProgressDialog(owner_, nullptr, kDialogFlags, nullptr))) return;
    dialog_ = std::move(dialog);
}

void PackingProgress::Present()
{
    // The bar first, its kind and its measure: whoever reads the new phase's text then finds the
    // bar that goes with it (the dialog takes each change before the call returns).
    if (compressing_ != marquee_) {
        ShowMarquee(DialogWindow(), compressing_);
        marquee_ = compressing_;
    }
    if (!compressing_) dialog_->SetProgress64(copied_ + inFile_, total_);
    if (linesChanged_) {
        const char* phase = compressing_ ? text::kProgressCompressing : text::kProgressCopying;
        dialog_->SetLine(1, WideFromAnsi(phase).c_str(), FALSE, nullptr);
        dialog_->SetLine(2, name_.c_str(), TRUE, nullptr);
        linesChanged_ = false;
    }
}

// The dialog tells its window where it can; elsewhere (Wine) it is the window owned by ours on
// another thread of this process that holds a progress bar.
HWND PackingProgress::DialogWindow()
{
    if (window_) return window_;
    ComPtr<IOleWindow> window;
    if (SUCCEEDED(dialog_->QueryInterface(IID_IOleWindow, window.putVoid())) &&
        SUCCEEDED(window->GetWindow(&window_))) {
        return window_;
    }
    OwnedDialogSearch search{owner_, nullptr};
    if (owner_) EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    window_ = search.found;
    return window_;
}

}  // namespace dl
