// The text path: the clipboard's text attached as a file, after its confirmation dialog or without.
#include "common/texts.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/attach_checks.h"

using namespace rig;

namespace {

constexpr char kDialogCaption[] = "Orvel!ドロップラインプラグイン - 添付するテキストを確認してください";
constexpr int kName = 1012, kPreview = 1013, kDoNotShow = 1029, kNameLabel = -1;

DWORD ConfirmText()
{
    DWORD value = 0xDEAD;
    ReadDword("DLConfirmText", value);
    return value;
}

class TextAttachTest : public PluginTest {
protected:
    // Runs the command in `compose` (default: the fixture's), expecting dialog 105; the script
    // must end it.
    void WithDialog(const std::function<void(Robot&, HWND)>& script, HWND compose = nullptr)
    {
        PressCtrlShiftV(
            [&](Robot& r) {
                HWND dialog = r.WaitDialog(kDialogCaption);
                script(r, dialog);
                r.WaitGone(dialog);
            },
            compose);
        ExpectRobotClean();
    }

    // Runs the command with `name` typed into the dialog and OK pressed once.
    void AttachUnder(const std::string& name)
    {
        host::ClearAttachments();
        WithDialog([&](Robot& r, HWND dialog) {
            r.SetText(dialog, kName, name);
            r.Click(dialog, IDOK);
        });
    }
};

TEST_F(TextAttachTest, WithoutDialogTheFileHoldsTheTextUpToItsFirstNul)
{
    WriteDword("DLConfirmText", 0);
    const struct {
        std::string block, written;
    } cases[] = {
        {std::string("abc\0XYZ\x7f", 8), "abc"},  // slack after the NUL is another program's memory
        {std::string("日本語\r\n二行目\0", 15), "日本語\r\n二行目"},
    };
    for (const auto& c : cases) {
        host::ClearAttachments();
        ASSERT_TRUE(PutTextBlock(c.block));
        PressCtrlShiftV();
        ExpectRobotClean();
        ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", c.written);
    }
    ExpectOnlyBoxes({});
    EXPECT_EQ(ConfirmText(), 0u);
}

TEST_F(TextAttachTest, DialogShowsTheTextReadOnlyOnWhiteAndOkAttachesIt)
{
    WriteDword("DLConfirmText", 2);  // any nonzero value asks; OK then writes 1
    ASSERT_TRUE(PutTextBlock(std::string("一行目\r\n表示\0slack", 18)));
    std::string preview, name;
    LRESULT limit = 0, previewBrush = 0, boxBrush = 0, labelBrush = 0;
    HWND owner = nullptr;
    LONG style = 0;
    bool checked = true;
    HFONT font = nullptr;
    LOGFONTA face{};
    WithDialog([&](Robot& r, HWND dialog) {
        preview = r.Text(dialog, kPreview);
        name = r.Text(dialog, kName);
        limit = r.Send(GetDlgItem(dialog, kName), EM_GETLIMITTEXT, 0, 0);
        style = r.Style(dialog, kPreview);
        checked = r.IsChecked(dialog, kDoNotShow);
        owner = GetWindow(dialog, GW_OWNER);
        font = reinterpret_cast<HFONT>(r.Send(GetDlgItem(dialog, kPreview), WM_GETFONT, 0, 0));
        GetObjectA(font, sizeof(face), &face);
        previewBrush = r.Send(dialog, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(GetDlgItem(dialog, kPreview)));
        boxBrush = r.Send(dialog, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(GetDlgItem(dialog, kDoNotShow)));
        HWND label = FindWindowExA(dialog, nullptr, "Static", nullptr);
        labelBrush = r.Send(dialog, WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(GetDlgCtrlID(label), kNameLabel);
        r.Click(dialog, IDOK);
    });
    EXPECT_EQ(preview, "一行目\r\n表示");
    EXPECT_EQ(name, "Text1.txt");
    EXPECT_EQ(limit, 259);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_FALSE(checked);
    EXPECT_EQ(owner, compose_);
    EXPECT_EQ(face.lfHeight, 12);
    EXPECT_EQ(face.lfWeight, 400);
    EXPECT_EQ(face.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_STREQ(face.lfFaceName, dl::text::kTextPreviewFont);
    EXPECT_EQ(previewBrush, reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)));
    // The other controls get the dialog's own default brush.
    EXPECT_NE(boxBrush, previewBrush);
    EXPECT_NE(labelBrush, previewBrush);
    EXPECT_EQ(GetObjectType(font), 0u) << "the preview font outlived its dialog";

    ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", "一行目\r\n表示");
    ExpectOnlyBoxes({});
    EXPECT_EQ(ConfirmText(), 1u);
}

TEST_F(TextAttachTest, RefusedNamesKeepTheDialogOpenWithTheMessage)
{
    WriteDword("DLConfirmText", 2);
    ASSERT_TRUE(PutText("abc"));
    const std::vector<std::string> names = {
        "a\\b.txt", "a/b.txt", "a:b.txt", "a*b.txt", "a?b.txt", "a\"b.txt", "a<b.txt", "a>b.txt", "a|b.txt", "",
        "con", "Lpt1.log", "nul ", "con .txt", "con.", "AUX.txt", "表\\.txt"};
    std::vector<std::string> shown;
    std::vector<ExpectedBox> expected;
    bool stayedOpen = true;
    std::string left;
    HWND dialogWindow = nullptr;
    WithDialog([&](Robot& r, HWND dialog) {
        dialogWindow = dialog;
        for (const std::string& name : names) {
            r.SetText(dialog, kName, name);
            r.Click(dialog, IDOK);
            shown.push_back(r.DismissMessageBox());
            stayedOpen = stayedOpen && IsWindowVisible(dialog);
        }
        left = r.Text(dialog, kName);
        r.Click(dialog, IDCANCEL);
    });
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(shown.at(i), dl::text::kInvalidFileName) << names[i];
        expected.push_back({dialogWindow, dl::text::kInvalidFileName, MB_ICONINFORMATION});
    }
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(left, names.back()) << "the typed name stays in the field";
    ExpectOnlyBoxes(expected);
    EXPECT_TRUE(host::Attachments().empty());
    EXPECT_EQ(ConfirmText(), 2u);
}

TEST_F(TextAttachTest, AcceptedNamesAreUsedAsTyped)
{
    ASSERT_TRUE(PutText("abc"));
    // 表, ソ, 能 and 予 end with the byte of a backslash, ポ with that of a vertical bar.
    for (const std::string name : {"表.png", "ソース.txt", "能力予定ポ", "memo", "notes.log", "connect.txt"}) {
        AttachUnder(name);
        ExpectOnlyAttachment(compose_, hostTemp_, name, "abc");
    }
    ExpectOnlyBoxes({});
}

TEST_F(TextAttachTest, NameFieldTakesAtMost259Characters)
{
    ASSERT_TRUE(PutText("abc"));
    const std::string typed(300, 'n');
    std::string kept;
    WithDialog([&](Robot& r, HWND dialog) {
        HWND field = GetDlgItem(dialog, kName);
        r.Send(field, EM_SETSEL, 0, -1);
        r.Send(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
        kept = r.Text(dialog, kName);
        r.Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(kept, std::string(259, 'n'));
    EXPECT_TRUE(host::Attachments().empty());
}

}  // namespace
