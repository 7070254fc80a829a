// The dialogs as a Japanese system shows them: the dialog font resolves to a proportional face,
// the text preview to a monospaced one, and no label is wider than the room its control gives
// it, measured in the font the control draws with. Each label's figures are printed, so a run
// shows how much room is left.
#include "common/win.h"
#include "tests/rig/plugin_fixture.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace rig;

namespace {

constexpr char kSettingsCaption[] = "ドロップラインの設定";
constexpr char kTextCaption[] = "Orvel!ドロップラインプラグイン - 添付するテキストを確認してください";
constexpr char kImageCaption[] = "Orvel!ドロップラインプラグイン - 添付する画像を確認してください";
constexpr char kFileCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
constexpr int kTextPreview = 1013;

struct Face {
    std::string family;  // as the font reports it: the name asked for, where it was replaced
    bool proportional;
    std::string head;    // the font file's 'head' table, whose dates and checksum tell files apart
};

HFONT FontOf(HWND window) { return reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)); }

Face FaceIn(HDC dc)
{
    Face face{};
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    // The bit is named the wrong way round: set, it means variable pitch.
    face.proportional = (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) != 0;
    std::vector<BYTE> outline(GetOutlineTextMetricsA(dc, 0, nullptr));
    if (!outline.empty()) {
        auto* otm = reinterpret_cast<OUTLINETEXTMETRICA*>(outline.data());
        GetOutlineTextMetricsA(dc, static_cast<UINT>(outline.size()), otm);
        face.family = reinterpret_cast<const char*>(outline.data()) + reinterpret_cast<UINT_PTR>(otm->otmpFamilyName);
    }
    constexpr DWORD kHead = 'h' | 'e' << 8 | 'a' << 16 | 'd' << 24;
    const DWORD size = GetFontData(dc, kHead, 0, nullptr, 0);
    if (size != GDI_ERROR) {
        face.head.resize(size);
        GetFontData(dc, kHead, 0, &face.head[0], size);
    }
    return face;
}

// The face that the font the window draws with resolves to.
Face FaceOf(HWND window)
{
    dl::WindowDc dc(window);
    dl::Selection font(dc.get(), FontOf(window));
    return FaceIn(dc.get());
}

// An installed face, asked for by its own name.
Face InstalledFace(const char* name)
{
    dl::WindowDc dc(nullptr);
    dl::UniqueGdiObject font(
        CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, name));
    dl::Selection selected(dc.get(), font.get());
    return FaceIn(dc.get());
}

// The face is the installed one of that name, and of the expected kind.
void ExpectFace(const Face& face, const char* installed, bool proportional)
{
    const Face expected = InstalledFace(installed);
    ASSERT_FALSE(expected.head.empty()) << installed << " is not installed";
    EXPECT_TRUE(face.head == expected.head) << face.family << " is not " << installed;
    EXPECT_EQ(face.proportional, proportional) << face.family;
}

// The text as drawn: "&x" shows x underlined and "&&" one ampersand. In code page 932 no byte
// of a double-byte character is '&'.
std::string DrawnText(const std::string& text)
{
    std::string drawn;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && ++i == text.size()) break;
        drawn += text[i];
    }
    return drawn;
}

struct Label {
    int id;
    LONG textWidth;  // pixels, in the control's own font
    LONG room;       // pixels the control leaves for its text
};

// What a control leaves for its label, the way the dialog controls lay it out at 96 dpi: a
// check box or radio button draws its 13-pixel box and half a digit's width of gap first, a
// group box indents its caption by 7 pixels on each side. Zero for controls without a label.
LONG RoomForText(HWND control, HDC dc)
{
    char cls[32] = {};
    GetClassNameA(control, cls, sizeof(cls));
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    RECT client{};
    GetClientRect(control, &client);
    if (lstrcmpiA(cls, "Static") == 0) {
        switch (style & SS_TYPEMASK) {
        case SS_LEFT: case SS_CENTER: case SS_RIGHT: case SS_SIMPLE: case SS_LEFTNOWORDWRAP: return client.right;
        default: return 0;
        }
    }
    if (lstrcmpiA(cls, "Button") != 0) return 0;
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON: case BS_3STATE:
    case BS_AUTO3STATE: {
        INT digit = 0;
        GetCharWidth32A(dc, '0', '0', &digit);
        return client.right - (13 + digit / 2);
    }
    case BS_GROUPBOX: return client.right - 14;
    default: return 0;
    }
}

// Every visible label of the dialog, printed as it is measured.
std::vector<Label> MeasureLabels(Robot& r, HWND dialog, int dialogId)
{
    std::vector<Label> labels;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        const std::string text = DrawnText(r.WindowText(control));
        if (text.empty() || !IsWindowVisible(control)) continue;
        dl::WindowDc dc(control);
        dl::Selection font(dc.get(), FontOf(control));
        const LONG room = RoomForText(control, dc.get());
        if (room == 0) continue;
        SIZE extent{};
        GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
        const Label label{GetDlgCtrlID(control), extent.cx, room};
        std::printf("dialog %d, control %d: text %ld px, room %ld px\n", dialogId, label.id, label.textWidth,
                    label.room);
        labels.push_back(label);
    }
    return labels;
}

// The dialog font is IPA P Gothic, proportional as MS UI Gothic is, and every label fits.
void ExpectDrawnAsOnJapaneseWindows(Robot& r, HWND dialog, int dialogId)
{
    SCOPED_TRACE("dialog " + std::to_string(dialogId));
    const Face face = FaceOf(dialog);
    std::printf("dialog %d: font face %s, %s\n", dialogId, face.family.c_str(),
                face.proportional ? "proportional" : "monospaced");
    ExpectFace(face, "IPAPGothic", true);
    const std::vector<Label> labels = MeasureLabels(r, dialog, dialogId);
    EXPECT_FALSE(labels.empty());
    for (const Label& label : labels) {
        EXPECT_LE(label.textWidth, label.room) << "control " << label.id << " cuts its label off";
    }
}

class DialogFontTest : public PluginTest {
protected:
    // Runs `command` (by default the attach command over the clipboard's content); `script`
    // gets the dialog, which is then cancelled.
    void Inspect(const char* caption, const std::function<void(Robot&, HWND)>& script,
                 const std::function<void()>& command = nullptr)
    {
        const Robot::Script answer = [&](Robot& r) {
            HWND dialog = r.WaitDialog(caption);
            script(r, dialog);
            r.Click(dialog, IDCANCEL);
            r.WaitGone(dialog);
        };
        if (command) {
            robot_.Run(command, answer);
        } else {
            PressCtrlShiftV(answer);
        }
        ExpectRobotClean();
    }
};

TEST_F(DialogFontTest, SettingsDialog)
{
    Inspect(kSettingsCaption, [](Robot& r, HWND dialog) { ExpectDrawnAsOnJapaneseWindows(r, dialog, 102); },
            [&] { host::Plugin().OnPlugInSetup(main_); });
}

TEST_F(DialogFontTest, TextDialogWithItsMonospacedPreview)
{
    ASSERT_TRUE(PutText("お世話になっております。\r\nabc"));
    Inspect(kTextCaption, [](Robot& r, HWND dialog) {
        ExpectDrawnAsOnJapaneseWindows(r, dialog, 105);
        const Face preview = FaceOf(GetDlgItem(dialog, kTextPreview));
        std::printf("dialog 105, text preview: font face %s\n", preview.family.c_str());
        ExpectFace(preview, "IPAGothic", false);
    });
}

TEST_F(DialogFontTest, ImageDialog)
{
    ASSERT_TRUE(PutBitmap(MakePatternBitmap(1024, 768)));
    Inspect(kImageCaption, [](Robot& r, HWND dialog) { ExpectDrawnAsOnJapaneseWindows(r, dialog, 106); });
}

// The caption's close box is the letter "r" in Marlett; where Marlett is missing, the letter shows.
TEST(CaptionButtons, DrawInMarlett)
{
    EXPECT_EQ(InstalledFace("Marlett").family, "Marlett");
}

// The note and the name label differ between the two ways of attaching files.
TEST_F(DialogFontTest, FileDialogAttachingSeparatelyAndPackingIntoOneArchive)
{
    const std::string file = work_ + "見積書.txt";
    ASSERT_TRUE(WriteBytes(file, "data"));
    for (const DWORD separately : {1u, 0u}) {
        SCOPED_TRACE(separately ? "separately" : "one archive");
        WriteDword("DLAttachFileSeparately", separately);
        ASSERT_TRUE(PutFiles({file}));
        Inspect(kFileCaption, [](Robot& r, HWND dialog) { ExpectDrawnAsOnJapaneseWindows(r, dialog, 107); });
    }
}

}  // namespace
