// The attach command: which path the clipboard's formats choose, what the user is told when
// nothing fits or a path fails, and what the three confirmation dialogs share: the file-name
// test, their endings, the hint of their check box and the second compose window turned away.
#include "names/file_name.h"
#include "common/texts.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/robustness.h"

#include <algorithm>

using namespace rig;
using dl::IsValidFileName;

namespace {

constexpr int kDoNotShow = 1029;

TEST(FileNameTest, RefusesNullEmptyAndEachOfTheNineCharactersAnywhere)
{
    EXPECT_FALSE(IsValidFileName(nullptr));
    EXPECT_FALSE(IsValidFileName(""));
    for (const char refused : std::string("\\/:*?\"<>|")) {
        for (const std::string& name : {std::string(1, refused) + "a.txt", "a" + std::string(1, refused) + "b.txt",
                                        "a.txt" + std::string(1, refused)}) {
            EXPECT_FALSE(IsValidFileName(name.c_str())) << name;
        }
    }
}

TEST(FileNameTest, DoubleByteCharactersAreWhole)
{
    // Trail bytes 0x5C (表 ソ 能 予 十 申) and 0x7C (ポ －) are no separators.
    for (const char* name : {"表.png", "ソース.txt", "能力.txt", "予定表", "十申", "ポ－ト.log"}) {
        EXPECT_TRUE(IsValidFileName(name)) << name;
    }
    // A real separator after a double-byte character still counts.
    for (const char* name : {"表\\.png", "ソ/ース.txt", "ポ|.txt", "表:"}) EXPECT_FALSE(IsValidFileName(name)) << name;
}

// Windows maps these to a device, drops a trailing dot or blank, or takes them as folders.
TEST(FileNameTest, RefusesNamesThatWindowsWouldNotKeep)
{
    for (const char* name : {"con", "CON", "Prn", "aux", "nul", "com1", "COM9", "lpt1", "LPT9", "Lpt1.log", "con.",
                             "con...", "nul ", "con .txt", "aux. .txt", "com3.tar.gz", "ends with a dot.",
                             "ends with a blank ", ".", ".."}) {
        EXPECT_FALSE(IsValidFileName(name)) << name;
    }
    for (const char* name : {"con1", "console.txt", "com0", "com10", "lpt", "xnul", " con", "nul_.txt", "icon.png"}) {
        EXPECT_TRUE(IsValidFileName(name)) << name;
    }
}

TEST(FileNameTest, NoOtherRule)
{
    for (const std::string& name : {std::string(" leading blank.txt"), std::string(".profile"),
                                    std::string(259, 'x'), std::string("no extension"), std::string("a.b.c")}) {
        EXPECT_TRUE(IsValidFileName(name.c_str())) << name;
    }
}

class AttachCommandTest : public RobustnessTest {
protected:
    static DWORD Setting(const char* name)
    {
        DWORD value = 0xDEAD;
        ReadDword(name, value);
        return value;
    }

    // The three confirmation dialogs: what opens each, and what OK attaches.
    struct Dialog {
        const char* caption;
        const char* setting;
        const char* busy;  // what a second compose window is told meanwhile
        std::function<bool()> put;
        std::string attached;
    };
    std::vector<Dialog> Dialogs()
    {
        const std::string file = File("a.txt");
        return {{kTextCaption, "DLConfirmText", dl::text::kBusyImageOrText, [] { return PutText("text"); },
                 hostTemp_ + "Text1.txt"},
                {kImageCaption, "DLConfirmImage", dl::text::kBusyImageOrText,
                 [] { return PutBitmap(MakePatternBitmap(8, 8)); }, hostTemp_ + "Image1.png"},
                {kFileCaption, "DLConfirmFile", dl::text::kBusyFiles, [file] { return PutFiles({file}); }, file}};
    }
};

TEST_F(AttachCommandTest, NothingAttachableGivesTheInformationMessage)
{
    // Nothing, or only formats that no path takes.
    const std::string zeros(16, '\0');
    const std::function<bool()> clipboards[] = {
        ClearClipboard,
        [&] { return PutBlocks({{RegisterClipboardFormatA("Dropline test format"), zeros}, {CF_LOCALE, zeros}}); }};
    for (const auto& put : clipboards) {
        ASSERT_TRUE(put());
        RunExpectingMessage(dl::text::kNothingToAttach, MB_ICONINFORMATION);
    }
}

TEST_F(AttachCommandTest, TextThatTheSystemMakesFromUnicodeTextCounts)
{
    ASSERT_TRUE(PutUnicodeText(L"ユニコードのテキスト"));
    Run();
    ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", "ユニコードのテキスト");
    ExpectOnlyBoxes({});
}

TEST_F(AttachCommandTest, ComposeMenuItemRunsTheSameCommand)
{
    ASSERT_TRUE(PutText("from the menu"));
    const auto commands = host::Commands();
    const auto attach = std::find_if(commands.begin(), commands.end(),
                                     [](const host::Command& c) { return c.target == dl::kMenuTypeCompose; });
    ASSERT_NE(attach, commands.end());
    robot_.Run([&] { host::RunCommand(compose_, attach->id); }, nullptr);
    ExpectRobotClean();
    ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", "from the menu");
}

TEST_F(AttachCommandTest, APictureWinsOverFilesAndFilesOverText)
{
    const std::string file = File("list.txt", "a file"), image = hostTemp_ + "Image1.png";
    const ClipboardBlock files = DropBlock(file + std::string(2, '\0')), text{CF_TEXT, std::string("text", 5)};
    const struct {
        const char* clipboard;
        std::function<bool()> put;
        std::string attached;
    } cases[] = {
        {"picture and files", [&] { return PutBlocks({files}, MakePatternBitmap(8, 8)); }, image},
        {"picture and text", [&] { return PutBlocks({text}, MakePatternBitmap(8, 8)); }, image},
        {"files and text", [&] { return PutBlocks({text, files}); }, file},
        {"picture, files and text", [&] { return PutBlocks({text, files}, MakePatternBitmap(8, 8)); }, image},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clipboard);
        ASSERT_TRUE(c.put());
        Run();
        EXPECT_EQ(AttachedPaths(), Paths{c.attached});
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    }
}

TEST_F(AttachCommandTest, EachDialogsCancelEscapeAndCloseBoxAttachAndStoreNothing)
{
    const std::function<void(Robot&, HWND)> endings[] = {
        [](Robot& r, HWND d) { r.Click(d, IDCANCEL); },
        [](Robot& r, HWND d) { r.PressEscape(d); },
        [](Robot& r, HWND d) { r.Close(d); },
    };
    for (const Dialog& d : Dialogs()) {
        SCOPED_TRACE(d.caption);
        WriteDword(d.setting, 2);  // any nonzero value asks; only OK rewrites it
        ASSERT_TRUE(d.put());
        // Each run opens the dialog again: the busy flag went back down after the last one.
        for (const auto& ending : endings) {
            HWND dialog = nullptr;
            Run([&](Robot& r) {
                dialog = r.WaitDialog(d.caption);
                r.Click(dialog, kDoNotShow);  // checked, but only OK stores it
                r.DismissMessageBox();
                ending(r, dialog);
                r.WaitGone(dialog);
            });
            ExpectOnlyBoxes({{dialog, dl::text::kHowToShowAgain, MB_ICONINFORMATION}});
            EXPECT_EQ(AttachedPaths(), Paths{});
            ExpectHostTemp();
            EXPECT_EQ(Setting(d.setting), 2u);
        }
    }
}

TEST_F(AttachCommandTest, EachDialogHintsOnEveryCheckAndOkWithTheBoxCheckedSkipsItNextTime)
{
    for (const Dialog& d : Dialogs()) {
        SCOPED_TRACE(d.caption);
        WriteDword(d.setting, 1);
        ASSERT_TRUE(d.put());
        HWND dialog = nullptr;
        Run(InDialog(d.caption, [&](Robot& r, HWND shown) {
            dialog = shown;
            r.Click(shown, kDoNotShow);  // checked: hint
            r.DismissMessageBox();
            r.Click(shown, kDoNotShow);  // cleared: nothing
            r.Click(shown, kDoNotShow);  // checked again: hint again
            r.DismissMessageBox();
        }));
        const ExpectedBox hint{dialog, dl::text::kHowToShowAgain, MB_ICONINFORMATION};
        ExpectOnlyBoxes({hint, hint});
        EXPECT_EQ(AttachedPaths(), Paths{d.attached});
        EXPECT_EQ(Setting(d.setting), 0u);
        Run();  // without the dialog: the robot would report one
        EXPECT_EQ(AttachedPaths(), Paths{d.attached});
    }
}

TEST_F(AttachCommandTest, EachDialogTurnsASecondComposeWindowAwayUntilItIsGone)
{
    HWND second = host::CreateComposeWindow();
    for (const Dialog& d : Dialogs()) {
        SCOPED_TRACE(d.caption);
        WriteDword(d.setting, 1);
        ASSERT_TRUE(d.put());
        bool stillOpen = false;
        Run(InDialog(d.caption, [&](Robot& r, HWND dialog) {
            // Ctrl+Shift+V in the second window, delivered by this dialog's own message loop.
            r.PressKeyIn(second, host::kKeyV, host::kModifierCtrl | host::kModifierShift);
            r.DismissMessageBox();
            stillOpen = IsWindowVisible(dialog) != FALSE;
        }));
        EXPECT_TRUE(stillOpen);
        ExpectOnlyBoxes({{second, d.busy, MB_ICONWARNING}});
        EXPECT_EQ(AttachedPaths(), Paths{d.attached});  // from the first window only
        ExpectHostTemp();                                 // the turned-away run's staged file too

        host::ClearAttachments();
        PressCtrlShiftV(InDialog(d.caption, nullptr), second);
        ExpectRobotClean();
        ASSERT_EQ(host::Attachments().size(), 1u);
        EXPECT_EQ(host::Attachments()[0].window, second);
    }
    DestroyWindow(second);
}

TEST_F(AttachCommandTest, FailuresAndExceptionsEndInExactlyOneMessage)
{
    ASSERT_TRUE(PutText("abc"));

    // The staging file cannot be created: the host's folder is gone.
    DeleteTree(hostTemp_);
    RunExpectingMessage(dl::text::kAttachFailed, MB_ICONERROR);

    // Memory runs out after the dialog: the exception leaves nothing of the plug-in's behind.
    // Counted from here only: the runtime keeps per-thread state from its first exception on.
    host::SetTempFolder(hostTemp_);
    WriteDword("DLConfirmText", 1);
    ASSERT_TRUE(InstallAllocationFaults(plugin_));
    ClearRecordedBoxes();
    StartCountingAllocations();
    PressCtrlShiftV([](Robot& r) {
        HWND dialog = r.WaitDialog(kTextCaption);
        FailNextAllocation();
        r.Click(dialog, IDOK);
        r.DismissMessageBox();
    });
    ExpectRobotClean();
    ExpectOnlyBoxes({{compose_, dl::text::kAttachFailed, MB_ICONERROR}});
    EXPECT_EQ(LiveAllocations(), 0u);
    EXPECT_TRUE(host::Attachments().empty());
    EXPECT_TRUE(List(hostTemp_).empty());
}

}  // namespace
