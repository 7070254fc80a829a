// What the image path costs on top of the PNG encoding itself: a 3840 x 2160 screenshot with
// the confirmation off, from the keystroke to the host's attach call, against GDI+ encoding
// the same bitmap to a file, measured in alternating rounds of the same run. A third figure,
// writing a newly allocated buffer of the bitmap's size, shows what the command's one copy of
// the pixels (the GDI+ bitmap made from the clipboard's bitmap) costs at the least here.
// Then the same picture offered by its program with its own PNG beside the bitmap: the command
// checks that file's form and stages it as it is, so it is set against reading the clipboard's
// block and writing the file alone. Last, 50 MB of text and a 10000 x 10000 picture: the whole
// command, and how soon their dialogs show and repaint.
#include "attach/image_attach.h"
#include "attach/staging_file.h"
#include "common/win.h"
#include "standins/host/host.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/robustness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace Gdiplus::DllExports;

namespace {

constexpr int kWidth = 3840, kHeight = 2160, kRounds = 7;
// Milliseconds each, where the disk and a busy machine scatter single rounds widely.
constexpr int kOfferedRounds = 21;

LARGE_INTEGER g_attachCalledAt;
dl::OvaCompAttachFile g_hostAttach = nullptr;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int WINAPI TimedAttach(HWND window, const char* path, const char* mimeType)
{
    QueryPerformanceCounter(&g_attachCalledAt);
    return g_hostAttach(window, path, mimeType);
}

// Points this executable's export `name` at `replacement`, so that the plug-in, which binds the
// host's functions by name when it loads, calls the replacement. Returns the original.
FARPROC RedirectExport(const char* name, FARPROC replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    const auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<char*>(base + names[i]), name) != 0) continue;
        DWORD* slot = &functions[ordinals[i]];
        const auto original = reinterpret_cast<FARPROC>(base + *slot);
        DWORD protection = 0;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
        *slot = static_cast<DWORD>(reinterpret_cast<BYTE*>(replacement) - base);
        VirtualProtect(slot, sizeof(*slot), protection, &protection);
        return original;
    }
    return nullptr;
}

// A desktop with a few windows of text and one photo, as a screen-compatible bitmap.
HBITMAP MakeScreenshot()
{
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    const auto fill = [dc](int left, int top, int right, int bottom, COLORREF color) {
        const RECT area{left, top, right, bottom};
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(dc, &area, brush);
        DeleteObject(brush);
    };
    fill(0, 0, kWidth, kHeight, RGB(0, 99, 177));
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const char line[] = "Subject: quarterly figures - please find the summary attached below, with the notes.";
    for (int w = 0; w < 5; ++w) {
        const int left = 100 + w * 700, top = 80 + w * 250, right = left + 1600, bottom = top + 1100;
        fill(left, top, right, bottom, RGB(255, 255, 255));
        fill(left, top, right, top + 40, RGB(40 + w * 30, 60, 120));
        for (int y = top + 60; y < bottom - 20; y += 18) TextOutA(dc, left + 12, y, line, sizeof(line) - 1);
    }
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 1200, -800, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> photo(1200 * 800);
    for (int y = 0; y < 800; ++y) {
        for (int x = 0; x < 1200; ++x) {
            const COLORREF c = rig::PatternColor(x + (x * y) % 7, y);
            photo[y * 1200 + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    }
    SetDIBitsToDevice(dc, 2400, 1200, 1200, 800, 0, 0, 0, 800, photo.data(), &info, DIB_RGB_COLORS);
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// GDI+ encoding the clipboard's bitmap to a PNG file, alone: start-up, reading the clipboard
// and finding the encoder happen outside the measured span.
double TimeEncoding(const std::string& path)
{
    const dl::GdiplusSession gdiplus;
    dl::UniqueGpBitmap bitmap;
    if (!OpenClipboard(nullptr)) return -1;
    GdipCreateBitmapFromHBITMAP(static_cast<HBITMAP>(GetClipboardData(CF_BITMAP)), nullptr, bitmap.put());
    CloseClipboard();
    CLSID png{};
    if (dl::FindEncoderClsid(L"image/png", &png) < 0) return -1;
    const dl::GdiplusPath widePath(path.c_str());
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const Gdiplus::GpStatus status = GdipSaveImageToFile(bitmap.get(), widePath.get(), &png, nullptr);
    QueryPerformanceCounter(&end);
    DeleteFileA(path.c_str());
    return status == Gdiplus::Ok ? Milliseconds(start, end) : -1;
}

// From the process heap, as GDI+ takes its pixel memory.
double TimeFreshBuffer()
{
    const SIZE_T bytes = SIZE_T{kWidth} * kHeight * 4;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    void* pixels = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (pixels) FillMemory(pixels, bytes, 1);
    QueryPerformanceCounter(&end);
    HeapFree(GetProcessHeap(), 0, pixels);
    return pixels ? Milliseconds(start, end) : -1;
}

// Reading the program's PNG block off the clipboard into memory, as the command does, alone.
double TimeRead()
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!OpenClipboard(nullptr)) return -1;
    std::vector<BYTE> png;
    {
        const dl::GlobalLock block(GetClipboardData(RegisterClipboardFormatA("PNG")));
        const auto* bytes = static_cast<const BYTE*>(block.data());
        if (bytes) png.assign(bytes, bytes + block.size());
    }
    CloseClipboard();
    QueryPerformanceCounter(&end);
    return png.empty() ? -1 : Milliseconds(start, end);
}

// Writing the file as the command stages it, alone.
double TimeWrite(const std::string& path, const std::string& bytes)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const HRESULT result = dl::WriteStagingFile(path, bytes.data(), static_cast<DWORD>(bytes.size()));
    QueryPerformanceCounter(&end);
    DeleteFileA(path.c_str());
    return SUCCEEDED(result) ? Milliseconds(start, end) : -1;
}

// One command through the keystroke: adds the time to the host's attach call and to the
// command's end, and gives the attached bytes. False when nothing was attached.
bool TimeCommand(HWND compose, std::vector<double>& toAttach, std::vector<double>& wholes, std::string& attached)
{
    host::ClearAttachments();
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    host::DispatchKey(compose, host::kKeyV, host::kModifierCtrl | host::kModifierShift);
    QueryPerformanceCounter(&end);
    const auto attachments = host::Attachments();
    if (attachments.size() != 1) {
        std::printf("nothing was attached\n");
        return false;
    }
    toAttach.push_back(Milliseconds(start, g_attachCalledAt));
    wholes.push_back(Milliseconds(start, end));
    attached = attachments[0].bytes;
    return true;
}

double MillisecondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return Milliseconds(start, now);
}

void TimeLargeContents(HWND compose)
{
    std::string text(50u << 20, 'x');
    for (size_t i = 99; i < text.size(); i += 100) text[i] = '\n';
    const struct {
        const char* what;
        const char* setting;
        const char* caption;
        std::function<bool()> put;
    } cases[] = {
        {"50 MB of text", "DLConfirmText", rig::kTextCaption, [&] { return rig::PutText(text); }},
        {"10000x10000 blank 1-bit picture", "DLConfirmImage", rig::kImageCaption,
         [] { return rig::PutBitmap(CreateBitmap(10000, 10000, 1, 1, nullptr)); }},
    };
    const auto press = [compose] { host::DispatchKey(compose, host::kKeyV, host::kModifierCtrl | host::kModifierShift); };
    for (const auto& c : cases) {
        c.put();
        rig::WriteDword(c.setting, 0);
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        press();
        const double whole = MillisecondsSince(start);
        rig::WriteDword(c.setting, 1);
        double shown = -1, repaint = -1;
        rig::Robot robot;
        QueryPerformanceCounter(&start);
        robot.Run(press, [&](rig::Robot& r) {
            HWND dialog = r.WaitDialog(c.caption, 60000);
            shown = MillisecondsSince(start);
            LARGE_INTEGER painting;
            QueryPerformanceCounter(&painting);
            r.OnUiThread([dialog] {
                InvalidateRect(dialog, nullptr, TRUE);
                UpdateWindow(dialog);
            });
            repaint = MillisecondsSince(painting);
            r.Click(dialog, IDCANCEL);
            r.WaitGone(dialog);
        });
        std::printf("%s: whole command %.0f ms; its dialog shown after %.0f ms, repainted in %.1f ms\n", c.what, whole,
                    shown, repaint);
        for (const std::string& failure : robot.failures()) std::printf("  robot: %s\n", failure.c_str());
    }
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    g_hostAttach = reinterpret_cast<dl::OvaCompAttachFile>(
        RedirectExport("OVA_CompAttachFile", reinterpret_cast<FARPROC>(&TimedAttach)));
    rig::CreateSettingsKey();
    const std::string folder = rig::FreshFolder("bench-image");
    host::SetTempFolder(folder);
    if (!g_hostAttach || !host::LoadPlugin(rig::PluginPath()).module) {
        std::printf("could not set up the plug-in\n");
        return 1;
    }
    rig::WriteDword("DLConfirmImage", 0);
    HWND compose = host::CreateComposeWindow();
    rig::PutBitmap(MakeScreenshot());

    std::printf("%dx%d screenshot, confirmation off, %d rounds\n", kWidth, kHeight, kRounds);
    std::printf("round  encode ms  command to attach ms  whole command ms  fresh buffer ms\n");
    std::vector<double> encodes, toAttach, wholes, buffers;
    std::string png;
    for (int round = 1; round <= kRounds; ++round) {
        encodes.push_back(TimeEncoding(folder + "encode-only.png"));
        buffers.push_back(TimeFreshBuffer());
        if (!TimeCommand(compose, toAttach, wholes, png)) return 1;
        std::printf("%5d  %9.1f  %20.1f  %16.1f  %15.1f   (PNG %lu bytes)\n", round, encodes.back(),
                    toAttach.back(), wholes.back(), buffers.back(), static_cast<unsigned long>(png.size()));
    }
    const double encode = Median(encodes), command = Median(toAttach);
    std::printf("median: encode %.1f ms, command to attach %.1f ms (%+.1f%%), whole command %.1f ms, "
                "fresh buffer %.1f ms\n",
                encode, command, 100.0 * (command - encode) / encode, Median(wholes), Median(buffers));

    // The PNG the command wrote is the program's own here.
    const std::string offered = png;
    rig::PutBlocks({{RegisterClipboardFormatA("PNG"), offered}}, MakeScreenshot());
    std::printf("\nthe same with its own PNG beside the bitmap (%lu bytes), %d rounds\n",
                static_cast<unsigned long>(offered.size()), kOfferedRounds);
    std::printf("round  read block ms  write file ms  command to attach ms  whole command ms\n");
    std::vector<double> reads, writes, copies;
    toAttach.clear();
    wholes.clear();
    for (int round = 1; round <= kOfferedRounds; ++round) {
        reads.push_back(TimeRead());
        writes.push_back(TimeWrite(folder + "write-only.png", offered));
        copies.push_back(reads.back() + writes.back());
        if (!TimeCommand(compose, toAttach, wholes, png)) return 1;
        if (png != offered) {
            std::printf("round %d: the attachment is not the offered PNG\n", round);
            return 1;
        }
        std::printf("%5d  %13.1f  %13.1f  %20.1f  %16.1f\n", round, reads.back(), writes.back(), toAttach.back(),
                    wholes.back());
    }
    const double copy = Median(copies), offeredCommand = Median(toAttach);
    std::printf("median: read block %.1f ms, write file %.1f ms, command to attach %.1f ms, whole command %.1f ms\n",
                Median(reads), Median(writes), offeredCommand, Median(wholes));
    // The fastest rounds as well: other processes on the machine lengthen single rounds at random.
    const double fastestCopy = *std::min_element(copies.begin(), copies.end());
    const double fastestCommand = *std::min_element(toAttach.begin(), toAttach.end());
    std::printf("command to attach / (read block + write file): %.2f of the medians, %.2f of the fastest rounds "
                "(%.2f ms / %.2f ms); goal 1.10 at most\n",
                offeredCommand / copy, fastestCommand / fastestCopy, fastestCommand, fastestCopy);

    std::printf("\n");
    TimeLargeContents(compose);
    DestroyWindow(compose);
    host::UnloadPlugin();
    rig::DeleteTree(folder);
    return 0;
}
