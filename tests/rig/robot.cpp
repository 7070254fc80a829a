#include "tests/rig/robot.h"

#include "common/texts.h"
#include "standins/host/host.h"
#include "tests/rig/files.h"

#include <iterator>
#include <memory>
#include <thread>

namespace rig {

namespace {

constexpr DWORD kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr UINT kMsgRunAction = WM_APP + 0x41;
constexpr UINT kMsgMarker = WM_APP + 0x42;

BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    }
    return TRUE;
}

std::wstring WideTextOf(HWND window)
{
    wchar_t buffer[4096] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                        kSendTimeoutMs, &ignored);
    return buffer;
}

// Texts travel as UTF-16 and are converted here: USER32's own ANSI conversions are wrong for
// Japanese in Wine's WoW64 mode, and the robot should read what the window shows.
std::string AnsiOf(const std::wstring& wide)
{
    char ansi[4 * 4096] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
    return ansi;
}

std::string TextOf(HWND window)
{
    return AnsiOf(WideTextOf(window));
}

// A caption as stored, without a message: a window whose thread is slow to answer (the progress
// dialog's own thread on a loaded machine) would otherwise read as untitled.
std::string CaptionOf(HWND window)
{
    wchar_t buffer[1024] = {};
    InternalGetWindowText(window, buffer, static_cast<int>(std::size(buffer)));
    return AnsiOf(buffer);
}

template <typename Predicate>
HWND WaitFor(Predicate found, DWORD timeoutMs, const std::string& what)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (HWND window = found()) return window;
        ::Sleep(kPollMs);
    }
    throw RobotTimeout("timed out waiting for " + what);
}

// Runs actions posted from the robot on the thread that owns the windows.
LRESULT CALLBACK ActionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kMsgRunAction) {
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 0;
    }
    if (message == kMsgMarker) {
        SetEvent(reinterpret_cast<HANDLE>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A message-only window of the calling thread.
HWND CreateActionWindow()
{
    WNDCLASSA cls{};
    cls.lpfnWndProc = ActionWindowProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "RobotActionWindow";
    RegisterClassA(&cls);
    return CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
}

}  // namespace

std::vector<HWND> OurDialogs()
{
    std::vector<HWND> windows;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND FindOurDialog(const std::string& caption)
{
    for (HWND window : OurDialogs()) {
        if (CaptionOf(window) == caption) return window;
    }
    return nullptr;
}

Robot::~Robot()
{
    if (actionWindow_) DestroyWindow(actionWindow_);
}

void Robot::Run(const std::function<void()>& command, const Script& script)
{
    failures_.clear();
    unexpected_.clear();
    if (!actionWindow_) actionWindow_ = CreateActionWindow();
    std::unique_ptr<void, decltype(&CloseHandle)> done(CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle);
    commandDone_ = done.get();

    std::thread robot([&] {
        try {
            if (script) script(*this);
        } catch (const std::exception& error) {
            failures_.push_back(error.what());
        }
        SweepUntil(done.get());
    });
    command();
    SetEvent(done.get());
    robot.join();
    commandDone_ = nullptr;
}

void Robot::SweepUntil(HANDLE commandDone)
{
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(commandDone, kPollMs) == WAIT_TIMEOUT) {
        for (HWND window : OurDialogs()) {
            const std::string caption = CaptionOf(window);
            // The plug-in's progress dialog comes and goes by itself whenever packing takes long.
            if (caption == dl::text::kProgressTitle) continue;
            const std::string body = GetDlgItem(window, kMessageBoxTextId) ? Text(window, kMessageBoxTextId) : "";
            unexpected_.push_back(caption + (body.empty() ? "" : " | " + body));
            failures_.push_back("unexpected window: " + unexpected_.back());
            PostMessageA(window, WM_CLOSE, 0, 0);
            if (GetDlgItem(window, IDOK)) PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
        if (GetTickCount() - start > commandLimitMs_) {
            failures_.push_back("the command did not return");
            return;
        }
        ::Sleep(100);
    }
}

HWND Robot::WaitDialog(const std::string& caption, DWORD timeoutMs)
{
    return WaitFor([&] { return FindOurDialog(caption); }, timeoutMs, "dialog \"" + caption + "\"");
}

HWND Robot::WaitMessageBox(DWORD timeoutMs)
{
    return WaitDialog(dl::text::kPluginName, timeoutMs);
}

void Robot::WaitGone(HWND window, DWORD timeoutMs)
{
    WaitFor([&]() -> HWND { return IsWindow(window) && IsWindowVisible(window) ? nullptr : window; }, timeoutMs,
            "a window to close");
}

std::string Robot::DismissMessageBox(DWORD timeoutMs)
{
    HWND box = WaitMessageBox(timeoutMs);
    const std::string text = Text(box, kMessageBoxTextId);
    Click(box, IDOK);
    WaitGone(box);
    return text;
}

bool Robot::DismissMessageBoxIfShown(DWORD timeoutMs)
{
    const HANDLE done = commandDone_;
    // The command's own end stands in for the box that did not come.
    const HWND endMark = HWND_MESSAGE;
    const HWND box = WaitFor(
        [&]() -> HWND {
            if (HWND found = FindOurDialog(dl::text::kPluginName)) return found;
            return WaitForSingleObject(done, 0) == WAIT_OBJECT_0 ? endMark : nullptr;
        },
        timeoutMs, "a message box or the command's end");
    if (box == endMark) return false;
    DismissMessageBox();
    return true;
}

LRESULT Robot::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
        throw RobotTimeout("no answer to message " + std::to_string(message));
    }
    return static_cast<LRESULT>(result);
}

std::string Robot::Text(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

std::wstring Robot::WideText(HWND dialog, int id) { return WideTextOf(GetDlgItem(dialog, id)); }

std::string Robot::WindowText(HWND window) { return TextOf(window); }

void Robot::SetText(HWND dialog, int id, const std::string& text)
{
    const std::wstring wide = Wide(text);
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                             SMTO_NORMAL, kSendTimeoutMs, &ignored)) {
        throw RobotTimeout("no answer to WM_SETTEXT");
    }
}

bool Robot::IsChecked(HWND dialog, int id) { return Send(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Robot::Click(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control) throw RobotTimeout("no control " + std::to_string(id));
    // Posted, not sent: the click may open a modal box, and the robot must stay free to answer it.
    PostMessageA(control, BM_CLICK, 0, 0);
    // Posted messages of a thread are handled in order, by whatever loop runs (a message box
    // opened by the click included): once the marker is through, so is the click.
    std::unique_ptr<void, decltype(&CloseHandle)> handled(CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle);
    // A click that ends the command leaves no loop to take the marker.
    PostMessageA(actionWindow_, kMsgMarker, 0, reinterpret_cast<LPARAM>(handled.get()));
    const HANDLE either[] = {handled.get(), commandDone_};
    if (WaitForMultipleObjects(2, either, FALSE, kSendTimeoutMs) == WAIT_TIMEOUT) {
        throw RobotTimeout("a click was not handled");
    }
}

void Robot::Close(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

void Robot::PressEscape(HWND dialog)
{
    HWND target = GetDlgItem(dialog, IDCANCEL);
    PostMessageA(target ? target : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target ? target : dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

LONG Robot::Style(HWND dialog, int id) { return GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE); }

bool Robot::IsVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

void Robot::OnUiThread(const std::function<void()>& action)
{
    std::function<void()> copy = action;
    Send(actionWindow_, kMsgRunAction, 0, reinterpret_cast<LPARAM>(&copy));
}

void Robot::PressKeyIn(HWND composeWindow, UINT key, UINT modifiers)
{
    PostMessageA(composeWindow, host::kMsgKeyDispatch, key, modifiers);
}

}  // namespace rig
