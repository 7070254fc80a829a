// The scripted tour: the plug-in in the stand-in host, driven through the real keystroke, with
// every dialog and message box captured and every attachment the host received written out.
// With --hand it opens the stand-in host for a person to try instead.
#include "common/texts.h"
#include "common/win.h"
#include "demo/screenshot.h"
#include "registration.h"
#include "standins/host/host.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/zip_reader.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using rig::Robot;

// The console and the report file take UTF-8; our texts are code page 932.
std::string Utf8(const std::string& cp932)
{
    std::wstring wide(cp932.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(932, 0, cp932.c_str(), static_cast<int>(cp932.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    std::string utf8(wide.size() * 4 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &utf8[0],
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

void Print(const std::string& cp932)
{
    const std::string utf8 = Utf8(cp932);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

class Tour {
public:
    Tour(std::string out, HWND main, HWND compose, HWND secondCompose)
        : out_(std::move(out)), main_(main), compose_(compose), secondCompose_(secondCompose)
    {
    }

    void Run();
    const std::string& report() const { return report_; }
    int failures() const { return failures_; }

private:
    // Runs one step: Ctrl+Shift+V (or `action`) while `script` answers the windows.
    void Step(const std::string& title, const std::function<void()>& action, const Robot::Script& script);
    void PressCtrlShiftV(HWND compose);
    HWND Shot(Robot& r, HWND window, const std::string& name);
    void Note(const std::string& line) { report_ += "    " + line + "\n"; }
    std::string MakeUserFiles();

    std::string out_;
    HWND main_, compose_, secondCompose_;
    std::string report_;
    size_t seenAttachments_ = 0;
    int shots_ = 0;
    int failures_ = 0;
    bool keysByMessage_ = false;
};

void Tour::PressCtrlShiftV(HWND compose)
{
    const int before = host::HandledKeyDispatches();
    if (!keysByMessage_) {
        SetForegroundWindow(compose);
        SetFocus(compose);
        INPUT keys[6] = {};
        const WORD sequence[6] = {VK_CONTROL, VK_SHIFT, 'V', 'V', VK_SHIFT, VK_CONTROL};
        for (int i = 0; i < 6; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = sequence[i];
            keys[i].ki.dwFlags = i < 3 ? 0 : KEYEVENTF_KEYUP;
        }
        SendInput(6, keys, sizeof(INPUT));
    } else {
        PostMessageA(compose, host::kMsgKeyDispatch, host::kKeyV, host::kModifierCtrl | host::kModifierShift);
    }
    // The command runs inside the compose window's message handling; pump until it is done.
    const DWORD start = GetTickCount();
    while (host::HandledKeyDispatches() == before && GetTickCount() - start < 5000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        host::PumpMessages();
    }
    if (host::HandledKeyDispatches() == before && !keysByMessage_) {
        keysByMessage_ = true;  // no keyboard reached the window: deliver it as the host reports it
        Note("(the synthetic keystroke did not arrive; delivered as the host's key message)");
        PressCtrlShiftV(compose);
    }
}

HWND Tour::Shot(Robot& r, HWND window, const std::string& name)
{
    char file[64];
    std::snprintf(file, sizeof(file), "%02d-%s.png", ++shots_, name.c_str());
    if (demo::SaveScreenshot(window, out_ + file)) Note(std::string("screenshot: ") + file);
    return window;
}

void Tour::Step(const std::string& title, const std::function<void()>& action, const Robot::Script& script)
{
    report_ += "\n" + title + "\n";
    Robot robot;
    robot.Run(action, script);
    for (const std::string& failure : robot.failures()) {
        Note("PROBLEM: " + failure);
        ++failures_;
    }
    const auto attachments = host::Attachments();
    if (attachments.size() == seenAttachments_) Note("the host received nothing");
    for (size_t i = seenAttachments_; i < attachments.size(); ++i) {
        const host::Attachment& a = attachments[i];
        const std::string name = FileNameOf(a.path);
        std::ostringstream line;
        line << "attached: " << name << " (" << a.bytes.size() << " bytes)";
        Note(line.str());
        rig::WriteBytes(out_ + name, a.bytes);
        dropline::test::ZipReader zip;
        std::string error;
        if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".zip") == 0 && zip.Open(a.bytes, &error)) {
            for (const auto& entry : zip.entries()) Note("    entry: " + entry.name);
        }
    }
    seenAttachments_ = attachments.size();
}

// Where an office worker keeps such files, so that the dialog's full paths look like a real machine.
std::string Tour::MakeUserFiles()
{
    std::string folder = "C:\\Users\\tanaka";
    for (const char* below : {"", "\\Documents", "\\営業資料"}) {
        folder += below;
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    rig::DeleteTree(folder + "\\2026年12月");
    folder += "\\2026年12月\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    rig::WriteBytes(folder + "見積書.txt", "お見積もりは別紙のとおりです。\r\n");
    rig::WriteBytes(folder + "report.csv", "month,sales\r\n4,120\r\n5,135\r\n");
    CreateDirectoryA((folder + "写真").c_str(), nullptr);
    CreateDirectoryA((folder + "写真\\2026").c_str(), nullptr);
    rig::WriteBytes(folder + "写真\\readme.txt", "photos\r\n");
    rig::WriteBytes(folder + "写真\\2026\\a.txt", "a\r\n");
    return folder;
}

// A stand-in for a screenshot: a window-like picture with a title bar and some text.
HBITMAP DemoImage()
{
    constexpr int kWidth = 640, kHeight = 400;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const auto fill = [dc](RECT r, COLORREF color) {
        dl::UniqueGdiObject brush(CreateSolidBrush(color));
        FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
    };
    fill({0, 0, kWidth, kHeight}, RGB(236, 240, 246));
    fill({0, 0, kWidth, 36}, RGB(40, 90, 160));
    fill({40, 80, 300, 340}, RGB(255, 255, 255));
    fill({340, 80, 600, 200}, RGB(250, 210, 120));
    fill({340, 220, 600, 340}, RGB(150, 200, 150));
    SetBkMode(dc, TRANSPARENT);
    dl::UniqueGdiObject font(CreateFontA(22, 0, 0, 0, FW_BOLD, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, "MS Gothic"));
    HGDIOBJ oldFont = SelectObject(dc, font.get());
    const auto write = [dc](int x, int y, COLORREF color, const char* text) {
        SetTextColor(dc, color);
        TextOutA(dc, x, y, text, lstrlenA(text));
    };
    write(12, 7, RGB(255, 255, 255), "売上報告 - 2026年11月");
    write(60, 100, RGB(30, 30, 30), "今月の売上: 135万円");
    write(60, 140, RGB(30, 30, 30), "前月比: +12%");
    write(360, 130, RGB(30, 30, 30), "東京 72");
    write(360, 270, RGB(30, 30, 30), "大阪 63");
    SelectObject(dc, oldFont);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

void Tour::Run()
{
    const auto ok = [](Robot& r, HWND dialog) { r.Click(dialog, IDOK); };
    const auto key = [this] { PressCtrlShiftV(compose_); };

    rig::PutBitmap(DemoImage());
    Step("1. A screenshot on the clipboard: the image dialog, then Image1.png", key, [&](Robot& r) {
        ok(r, Shot(r, r.WaitDialog("Orvel!ドロップラインプラグイン - 添付する画像を確認してください"), "image-dialog"));
    });

    rig::PutText("いつもお世話になっております。\r\n来週の打ち合わせの資料をお送りします。\r\nよろしくお願いいたします。\r\n");
    Step("2. Japanese text: the text dialog, then Text1.txt", key, [&](Robot& r) {
        ok(r, Shot(r, r.WaitDialog("Orvel!ドロップラインプラグイン - 添付するテキストを確認してください"), "text-dialog"));
    });

    const std::string files = MakeUserFiles();
    const std::vector<std::string> copied = {files + "見積書.txt", files + "report.csv", files + "写真"};
    const char fileCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
    rig::PutFiles(copied);
    Step("3. Two files and a folder, attached separately (the folder as a ZIP archive)", key, [&](Robot& r) {
        HWND dialog = Shot(r, r.WaitDialog(fileCaption), "file-dialog-icons");
        r.Click(dialog, 1011);
        Shot(r, dialog, "file-dialog-paths");
        ok(r, dialog);
    });

    rig::WriteDword("DLAttachFileSeparately", 0);
    rig::PutFiles(copied);
    Step("4. The same as one archive, named in the dialog", key, [&](Robot& r) {
        HWND dialog = r.WaitDialog(fileCaption);
        r.SetText(dialog, 1012, "打ち合わせ資料.zip");
        // The caret at the end, as after typing: at the start it would stand over the first character.
        const HWND name = GetDlgItem(dialog, 1012);
        const LRESULT length = r.Send(name, WM_GETTEXTLENGTH, 0, 0);
        r.Send(name, EM_SETSEL, length, length);
        ok(r, Shot(r, dialog, "file-dialog-one-archive"));
    });

    const auto settingsId = [] {
        for (const host::Command& command : host::Commands()) {
            if (command.target == 0) return command.id;
        }
        return 0;
    }();
    Step("5. The settings dialog from the Tools menu: image confirmation off",
         [&] { SendMessageA(main_, WM_COMMAND, settingsId, 0); }, [&](Robot& r) {
             HWND dialog = r.WaitDialog("ドロップラインの設定");
             r.Click(dialog, 1028);
             ok(r, Shot(r, dialog, "settings-dialog"));
         });
    rig::PutBitmap(DemoImage());
    Step("   ... and the next image is attached without its dialog", key, nullptr);

    rig::ClearClipboard();
    Step("6. An empty clipboard", key, [&](Robot& r) { ok(r, Shot(r, r.WaitMessageBox(), "nothing-to-attach")); });

    rig::PutText("二つ目のメール作成画面からも貼り付けようとすると……");
    Step("7. A second compose window while a confirmation dialog is open", key, [&](Robot& r) {
        HWND first = r.WaitDialog("Orvel!ドロップラインプラグイン - 添付するテキストを確認してください");
        r.PressKeyIn(secondCompose_, host::kKeyV, host::kModifierCtrl | host::kModifierShift);
        ok(r, Shot(r, r.WaitMessageBox(), "busy-warning"));
        r.Click(first, IDCANCEL);
    });

    // The stand-in for the shell's handler takes its time, as the real one does with a large folder.
    // Without the file dialog, whose OK the robot would wait on until the command ends.
    rig::WriteDword("DLConfirmFile", 0);
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", "slow");
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", "4000");
    rig::PutFiles({files + "写真"});
    Step("8. A folder that takes a while to pack: the progress dialog, then the archive", key, [&](Robot& r) {
        HWND progress = r.WaitDialog("Orvel!ドロップラインプラグイン - ZIP圧縮");
        r.Sleep(1000);
        Shot(r, progress, "packing-progress");
        r.WaitGone(progress);
    });
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", nullptr);
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
}

int RunTour(const std::string& out)
{
    HWND main = host::CreateMainWindow();
    HWND compose = host::CreateComposeWindow();
    HWND second = host::CreateComposeWindow();
    host::PumpMessages();
    Tour tour(out, main, compose, second);
    tour.Run();
    // A machine that cannot run 32-bit code plays the tour with the x86_64 build: say which ran.
    const std::string report = "module: " + rig::PluginPath() + (sizeof(void*) == 4 ? " (i686)" : " (x86_64)") +
                               "\n" + tour.report();
    Print(report);
    rig::WriteBytes(out + "report.txt", Utf8(report));
    DestroyWindow(second);
    DestroyWindow(compose);
    DestroyWindow(main);
    return tour.failures() == 0 ? 0 : 1;
}

int RunByHand()
{
    HWND main = host::CreateMainWindow();
    SetPropA(main, "QuitOnClose", reinterpret_cast<HANDLE>(1));
    host::CreateComposeWindow();
    Print("The stand-in host is open: copy something, then press Ctrl+Shift+V in the compose window.\n"
          "Close the main window to end.\n");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

void PrintStart(const host::PluginExports& plugin)
{
    char info[512] = {};
    plugin.OnPlugInInfo(info);
    Print("loaded " + rig::PluginPath() + "\n");
    Print(std::string("plug-in: ") + info + " / " + (info + 80) + " / version " + (info + 160) + "\n  " + (info + 240) +
          "\n");
    for (const char* name : {"DLConfirmImage", "DLConfirmText", "DLConfirmFile", "DLAttachFileSeparately"}) {
        DWORD value = 0;
        Print(std::string("registry ") + name + " = " + (rig::ReadDword(name, value) ? std::to_string(value) : "?") + "\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string out = rig::FreshFolder("dropline-demo");
    bool byHand = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hand") == 0) byHand = true;
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) out = argv[++i];
    }
    if (out.back() != '\\') out += '\\';
    CreateDirectoryA(out.c_str(), nullptr);

    // The host's key as a new installation has it: the plug-in creates its settings at load.
    rig::DeleteSettingsKey();
    rig::CreateSettingsKey();
    host::SetTempFolder(rig::FreshFolder("orvel-demo-temp"));
    RegisterZipStandIn(rig::BesideExecutable("zipfolder_standin.dll").c_str());
    const host::PluginExports plugin = host::LoadPlugin(rig::PluginPath());
    if (!plugin.module) {
        Print("the plug-in refused to load\n");
        return 1;
    }
    PrintStart(plugin);
    const int result = byHand ? RunByHand() : RunTour(out);
    host::UnloadPlugin();
    UnregisterZipStandIn();
    return result;
}
