// The dialog templates, the version resource and the manifest, read back from the built module
// exactly as the dialog manager will read them.
#include "common/version.h"
#include "tests/rig/plugin_fixture.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring Wide(const char* cp932)
{
    wchar_t buffer[512] = {};
    MultiByteToWideChar(932, 0, cp932, -1, buffer, 512);
    return buffer;
}

struct Control {
    DWORD id;
    std::wstring cls;
    std::wstring text;
    DWORD style;  // beyond WS_CHILD | WS_VISIBLE
    short x, y, cx, cy;
};

struct Dialog {
    DWORD style, exStyle;
    short cx, cy;
    std::wstring caption, font;
    WORD points, weight;
    BYTE charset;
    std::vector<Control> controls;
};

// Reads a DLGTEMPLATEEX.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}

    Dialog Read()
    {
        Dialog d{};
        EXPECT_EQ(Word(), 1);       // version
        EXPECT_EQ(Word(), 0xFFFF);  // extended template
        Dword();                    // help id
        d.exStyle = Dword();
        d.style = Dword();
        const WORD count = Word();
        Word(), Word();
        d.cx = static_cast<short>(Word());
        d.cy = static_cast<short>(Word());
        EXPECT_EQ(NameOrOrdinal(), L"");  // no menu
        EXPECT_EQ(NameOrOrdinal(), L"");  // the dialog class
        d.caption = String();
        d.points = Word();
        d.weight = Word();
        Byte();  // italic
        d.charset = Byte();
        d.font = String();
        for (WORD i = 0; i < count; ++i) d.controls.push_back(ReadControl());
        return d;
    }

private:
    Control ReadControl()
    {
        Align();
        Control c{};
        Dword();  // help id
        EXPECT_EQ(Dword(), 0u);  // extended style
        c.style = Dword();
        c.x = static_cast<short>(Word());
        c.y = static_cast<short>(Word());
        c.cx = static_cast<short>(Word());
        c.cy = static_cast<short>(Word());
        c.id = Dword();
        c.cls = NameOrOrdinal();
        c.text = NameOrOrdinal();
        const WORD extra = Word();
        p_ += extra;
        return c;
    }
    WORD Word() { WORD v; std::memcpy(&v, p_, 2); p_ += 2; return v; }
    DWORD Dword() { DWORD v; std::memcpy(&v, p_, 4); p_ += 4; return v; }
    BYTE Byte() { return *p_++; }
    void Align() { while (reinterpret_cast<ULONG_PTR>(p_) % 4) ++p_; }
    std::wstring String()
    {
        std::wstring s;
        for (WORD c; (c = Word()) != 0;) s += static_cast<wchar_t>(c);
        return s;
    }
    std::wstring NameOrOrdinal()
    {
        WORD first;
        std::memcpy(&first, p_, 2);
        if (first != 0xFFFF) return String();
        Word();
        switch (const WORD ordinal = Word()) {
        case 0x80: return L"Button";
        case 0x81: return L"Edit";
        case 0x82: return L"Static";
        default: return L"#" + std::to_wstring(ordinal);
        }
    }
    const BYTE* p_;
};

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(rig::PluginPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }

    const BYTE* Resource(LPCSTR type, LPCSTR name, DWORD* size = nullptr)
    {
        HRSRC found = FindResourceExA(module_, type, name, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        EXPECT_NE(found, nullptr);
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module_, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    }

    void ExpectDialog(int id, const Dialog& expected)
    {
        SCOPED_TRACE("dialog " + std::to_string(id));
        const BYTE* data = Resource(RT_DIALOG, MAKEINTRESOURCEA(id));
        ASSERT_NE(data, nullptr);
        const Dialog actual = TemplateReader(data).Read();
        EXPECT_EQ(actual.style, expected.style);
        EXPECT_EQ(actual.exStyle, expected.exStyle);
        EXPECT_EQ(actual.cx, expected.cx);
        EXPECT_EQ(actual.cy, expected.cy);
        EXPECT_EQ(actual.caption, expected.caption);
        EXPECT_EQ(actual.font, L"MS Shell Dlg");
        EXPECT_EQ(actual.points, 8);
        EXPECT_EQ(actual.weight, 400);
        EXPECT_EQ(actual.charset, 1);
        ASSERT_EQ(actual.controls.size(), expected.controls.size());
        for (size_t i = 0; i < expected.controls.size(); ++i) {
            const Control& a = actual.controls[i];
            const Control& e = expected.controls[i];
            SCOPED_TRACE("control " + std::to_string(i));
            EXPECT_EQ(a.id, e.id);
            // Window class names are case-insensitive; the resource compiler stores them upper-case.
            EXPECT_EQ(_wcsicmp(a.cls.c_str(), e.cls.c_str()), 0) << std::string(a.cls.begin(), a.cls.end());
            EXPECT_EQ(a.text, e.text);
            EXPECT_EQ(a.style, e.style | WS_CHILD | WS_VISIBLE);
            EXPECT_EQ(std::vector<short>({a.x, a.y, a.cx, a.cy}), std::vector<short>({e.x, e.y, e.cx, e.cy}));
        }
    }

    HMODULE module_ = nullptr;
};

constexpr DWORD kPopup = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS;
constexpr DWORD kIdStatic = 0xFFFFFFFF;
const std::wstring kDoNotShow = Wide("今後表示しない(&N)");
const std::wstring kFileNameLabel = Wide("ファイル名：");

// Dialogs 102 (settings), 105 (text), 106 (image) and 107 (files and folders).
TEST_F(ResourceTest, DialogTemplates)
{
    const std::pair<int, Dialog> dialogs[] = {
        {102, {kPopup, WS_EX_WINDOWEDGE, 278, 113, Wide("ドロップラインの設定"), L"", 0, 0, 0, {
            {IDOK, L"Button", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 165, 91, 50, 14},
            {IDCANCEL, L"Button", Wide("キャンセル"), BS_PUSHBUTTON | WS_TABSTOP, 221, 91, 50, 14},
            {1022, L"Button", Wide("ファイル・フォルダの添付方法"), BS_GROUPBOX, 7, 46, 264, 35},
            {1025, L"Button", Wide("それぞれ別々に添付する(&S)"), BS_AUTORADIOBUTTON, 21, 62, 103, 10},
            {1026, L"Button", Wide("まとめてZIP圧縮してから添付する(&C)"), BS_AUTORADIOBUTTON, 132, 61, 134, 12},
            {1023, L"Button", Wide("コピーした内容を添付する前に確認する"), BS_GROUPBOX, 7, 7, 264, 35},
            {1028, L"Button", Wide("画像(&I)"), BS_AUTOCHECKBOX | WS_TABSTOP, 22, 23, 40, 10},
            {1029, L"Button", Wide("テキスト(&T)"), BS_AUTOCHECKBOX | WS_TABSTOP, 73, 23, 49, 9},
            {1030, L"Button", Wide("ファイル・フォルダ(&F)"), BS_AUTOCHECKBOX | WS_TABSTOP, 131, 23, 76, 9},
        }}},
        {105, {kPopup, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, 346, 234,
               Wide("Orvel!ドロップラインプラグイン - 添付するテキストを確認してください"), L"", 0, 0, 0, {
            {1012, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 161, 214, 69, 12},
            {IDOK, L"Button", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 234, 213, 50, 14},
            {IDCANCEL, L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 289, 213, 50, 14},
            {1013, L"Edit", L"", WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY, 7, 7, 332, 200},
            {1029, L"Button", kDoNotShow, WS_TABSTOP | BS_AUTOCHECKBOX, 9, 215, 77, 10},
            {kIdStatic, L"Static", kFileNameLabel, WS_GROUP | SS_LEFT, 125, 216, 36, 8},
        }}},
        {106, {kPopup, WS_EX_APPWINDOW | WS_EX_STATICEDGE | WS_EX_WINDOWEDGE, 346, 271,
               Wide("Orvel!ドロップラインプラグイン - 添付する画像を確認してください"), L"", 0, 0, 0, {
            {1012, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 161, 251, 69, 12},
            {IDOK, L"Button", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 234, 250, 50, 14},
            {IDCANCEL, L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 289, 250, 50, 14},
            {1021, L"Static", L"", SS_ETCHEDFRAME, 7, 7, 332, 229},
            {1022, L"Static", L"1024x768 [999KB]", WS_GROUP | SS_LEFT, 9, 239, 126, 8},
            {1029, L"Button", kDoNotShow, WS_TABSTOP | BS_AUTOCHECKBOX, 9, 253, 77, 10},
            {kIdStatic, L"Static", kFileNameLabel, WS_GROUP | SS_LEFT, 125, 254, 36, 8},
        }}},
        {107, {kPopup, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, 346, 154,
               Wide("Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください"), L"", 0, 0, 0, {
            {1012, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 161, 134, 69, 12},
            {IDOK, L"Button", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 234, 133, 50, 14},
            {IDCANCEL, L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 289, 133, 50, 14},
            {1026, L"Static", Wide("※フォルダはZIP圧縮されて添付されます"), WS_GROUP | SS_LEFT, 8, 8, 222, 8},
            {1011, L"Button", Wide("ファイルパスを表示(&P)"), WS_TABSTOP | BS_AUTOCHECKBOX, 259, 8, 85, 10},
            {1024, L"SysListView32", L"", WS_BORDER | WS_TABSTOP | LVS_ICON | LVS_ALIGNLEFT, 7, 19, 332, 109},
            {1029, L"Button", kDoNotShow, WS_TABSTOP | BS_AUTOCHECKBOX, 9, 135, 77, 10},
            {1027, L"Static", kFileNameLabel, WS_GROUP | SS_LEFT, 125, 137, 36, 8},
        }}},
    };
    for (const auto& [id, dialog] : dialogs) ExpectDialog(id, dialog);
}

TEST_F(ResourceTest, VersionResource)
{
    DWORD handle = 0;
    const std::string path = rig::PluginPath();
    std::vector<BYTE> info(GetFileVersionInfoSizeA(path.c_str(), &handle));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD majorMinor = MAKELONG(DROPLINE_VERSION_MINOR, DROPLINE_VERSION_MAJOR);
    EXPECT_EQ(fixed->dwFileVersionMS, majorMinor);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, majorMinor);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    const auto value = [&](const char* name) {
        char* text = nullptr;
        const std::string query = std::string("\\StringFileInfo\\041104b0\\") + name;
        return VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ? std::string(text)
                                                                                                     : std::string();
    };
    EXPECT_EQ(value("CompanyName"), "Tallmere");
    EXPECT_EQ(value("FileDescription"), "Orvel!ドロップラインプラグイン");
    EXPECT_EQ(value("ProductName"), "Orvel!ドロップラインプラグイン");
}

TEST_F(ResourceTest, ManifestAsksForNoParticularCommonControls)
{
    DWORD size = 0;
    const BYTE* data = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2), &size);
    ASSERT_NE(data, nullptr);
    const std::string manifest(reinterpret_cast<const char*>(data), size);
    EXPECT_NE(manifest.find("<assembly"), std::string::npos);
    EXPECT_NE(manifest.find("</assembly>"), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

}  // namespace
